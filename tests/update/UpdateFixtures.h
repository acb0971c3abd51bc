#pragma once

#include "ConnectorController.h"
#include "ConnectorPaths.h"
#include "LinuxCodeSigning.h"
#include "TempHome.h"
#include "UpdateFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QString>
#include <QStringList>

// Real bundles, signatures and images for the update's tests, made with the built signing tool and this
// build's development keys (which the built helpers and systemCodeSigning() trust).
namespace UpdateFixtures {

inline QString build(const QString& relative) {
    return TestSupport::buildDir() + QLatin1Char('/') + relative;
}

inline UpdateFiles::Tools helpers() {
    return {build(QStringLiteral("tools/update-helpers/orvane-hdiutil")),
            build(QStringLiteral("tools/update-helpers/orvane-ditto")),
            build(QStringLiteral("tools/update-helpers/orvane-spctl"))};
}

inline QString signingKey() {
    return build(QStringLiteral("signing/dev-signing-key.pem"));
}
inline QString notaryKey() {
    return build(QStringLiteral("signing/dev-notary-key.pem"));
}

// Runs a program to its end; its exit status, -1 when it does not start or end in time.
inline int runProgram(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForStarted(10000) || !process.waitForFinished(60000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

inline QString plist(const QString& identifier, const QString& buildNumber) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC "
                          "\"-//Apple//DTD PLIST 1.0//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\"><dict>"
                          "<key>CFBundleIdentifier</key><string>%1</string>"
                          "<key>CFBundleVersion</key><string>%2</string>"
                          "<key>CFBundleShortVersionString</key><string>2.0</string>"
                          "<key>CFBundleExecutable</key><string>OrvaneConnector</string>"
                          "</dict></plist>\n")
        .arg(identifier, buildNumber);
}

// A bundle at `path` whose executable is a shell script `script` (by default one that records its
// arguments in <bundle's parent>/launched.txt), a resource, and a link inside the bundle.
inline void makeBundle(const QString& path, const QString& buildNumber,
                       const QString& identifier = ConnectorPaths::connectorBundleID, QString script = {}) {
    if (script.isEmpty())
        script =
            QStringLiteral("#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/../../../../launched-%1.txt\"\n")
                .arg(buildNumber);
    TestSupport::writeFile(path + QStringLiteral("/Contents/Info.plist"),
                           plist(identifier, buildNumber).toUtf8());
    TestSupport::writeFile(path + QStringLiteral("/Contents/MacOS/OrvaneConnector"), script.toUtf8(), 0755);
    TestSupport::writeFile(path + QStringLiteral("/Contents/Resources/build.txt"), buildNumber.toUtf8(),
                           0644);
    QFile::link(QStringLiteral("build.txt"), path + QStringLiteral("/Contents/Resources/current"));
}

inline bool sign(const QString& bundle, const QString& key = signingKey(),
                 const QString& team = ConnectorPaths::teamID,
                 const QString& identifier = ConnectorPaths::connectorBundleID) {
    return runProgram(build(QStringLiteral("tools/codesign/orvane-codesign")),
                      {QStringLiteral("sign"), QStringLiteral("--key"), key, QStringLiteral("--identifier"),
                       identifier, QStringLiteral("--team"), team, bundle}) == 0;
}

inline bool notarize(const QString& bundle, const QString& key = notaryKey()) {
    return runProgram(build(QStringLiteral("tools/codesign/orvane-codesign")),
                      {QStringLiteral("notarize"), QStringLiteral("--key"), key, bundle}) == 0;
}

inline bool keygen(const QString& out) {
    return runProgram(build(QStringLiteral("tools/codesign/orvane-codesign")),
                      {QStringLiteral("keygen"), out}) == 0;
}

// A signed and notarized connector bundle.
inline bool makeReleaseBundle(const QString& path, const QString& buildNumber) {
    makeBundle(path, buildNumber);
    return sign(path) && notarize(path);
}

// A gzip-compressed tar of the entries of `folder` (each .app at the image's top level).
inline bool makeImage(const QString& folder, const QString& image) {
    QStringList arguments{QStringLiteral("-czf"), image, QStringLiteral("-C"), folder};
    arguments += QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    return runProgram(QStringLiteral("/bin/tar"), arguments) == 0;
}

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The feed override the controller reads before the Info dictionary.
inline void setFeed(const QString& url) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, ConnectorPaths::connectorBundleID);
    settings.setValue(QStringLiteral("updateFeedURL"), url);
    settings.sync();
}

} // namespace UpdateFixtures
