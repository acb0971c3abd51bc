#pragma once

#include "ConnectorController.h"
#include "ConnectorPaths.h"
#include "LinuxCodeSigning.h"
#include "TempHome.h"

#include <QDir>
#include <QProcess>
#include <QSettings>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A controller that leaves the background item alone, so only the update path under test runs.
class UpdateController : public ConnectorController {
public:
    using ConnectorController::ConnectorController;
    QCoro::Task<void> ensureBackgroundItem() override { co_return; }
};

// Real bundles, signatures and images, made with the built signing tool and this build's development keys
// (which the built helpers and systemCodeSigning() trust).
namespace UpdateFixtures {

inline QString built(const QString& relative) {
    return TestSupport::buildDir() + QLatin1Char('/') + relative;
}
inline UpdateFiles::Tools helpers() {
    const QString dir = built(QStringLiteral("tools/update-helpers/"));
    return {dir + "orvane-hdiutil", dir + "orvane-ditto", dir + "orvane-spctl"};
}
inline QString notaryKey() {
    return built(QStringLiteral("signing/dev-notary-key.pem"));
}

// A program's exit status; -1 when it does not start or end in time.
inline int runProgram(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    const bool ended = process.waitForStarted(10000) && process.waitForFinished(60000);
    return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}
inline int codesign(const QStringList& arguments) {
    return runProgram(built(QStringLiteral("tools/codesign/orvane-codesign")), arguments);
}

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A bundle whose executable records its arguments in launched-<build>.txt beside the applications folder.
inline void makeBundle(const QString& path, const QString& build,
                       const QString& identifier = ConnectorPaths::connectorBundleID) {
    const QString plist = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
        "<key>CFBundleIdentifier</key><string>%1</string><key>CFBundleVersion</key><string>%2</string>"
        "<key>CFBundleExecutable</key><string>OrvaneConnector</string></dict></plist>");
    TestSupport::writeFile(path + "/Contents/Info.plist", plist.arg(identifier, build).toUtf8());
    const QString script =
        "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/../../../../launched-" + build + ".txt\"\n";
    TestSupport::writeFile(path + "/Contents/MacOS/OrvaneConnector", script.toUtf8(), 0755);
    TestSupport::writeFile(path + "/Contents/Resources/build.txt", build.toUtf8(), 0644);
    QFile::link(QStringLiteral("build.txt"), path + "/Contents/Resources/current");
}

// Signs (team key `key`, or the development key) and notarizes (`notary`, or the development notary key;
// an empty text skips it).
inline bool sign(const QString& bundle, const QString& key = {}, const QString& team = ConnectorPaths::teamID,
                 const QString& notary = notaryKey()) {
    const QString signingKey = key.isEmpty() ? built(QStringLiteral("signing/dev-signing-key.pem")) : key;
    return codesign({"sign", "--key", signingKey, "--identifier", ConnectorPaths::connectorBundleID, "--team",
                     team, bundle}) == 0 &&
           (notary.isEmpty() || codesign({"notarize", "--key", notary, bundle}) == 0);
}
inline bool makeReleaseBundle(const QString& path, const QString& build) {
    makeBundle(path, build);
    return sign(path);
}

// A gzip-compressed tar of the entries of `folder`, in pax format (bsdtar's default: names outside ASCII
// are written as UTF-8 in extended headers).
inline bool makeImage(const QString& folder, const QString& image) {
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    return runProgram(QStringLiteral("/bin/tar"),
                      QStringList{"--format=pax", "-czf", image, "-C", folder} + entries) == 0;
}

// `levels` nested folders "d" under `path`, none writable, made one level at a time: the whole path is far
// longer than any the system accepts at once.
inline void makeDeepTree(const QString& path, int levels) {
    QDir().mkpath(path);
    int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < levels && fd >= 0; ++i) {
        ::mkdirat(fd, "d", 0755);
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ::fchmod(fd, 0555);
        ::close(fd);
        fd = next;
    }
    if (fd >= 0)
        ::close(fd);
}

// The feed override the controller reads before the Info dictionary.
inline void setFeed(const QString& url) {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, ConnectorPaths::connectorBundleID)
        .setValue(QStringLiteral("updateFeedURL"), url);
}

} // namespace UpdateFixtures
