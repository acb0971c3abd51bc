#include "UpdateFixtures.h"

#include "BundleSignature.h"
#include "Ed25519Key.h"

#include "ConnectorPaths.h"
#include "RunTask.h"
#include "UpdateFailure.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

using namespace std::chrono_literals;
using namespace UpdateFixtures;

QString sha256Hex(const QString& path) {
    return QString::fromLatin1(QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256).toHex());
}

UpdateInfo entryFor(const QString& image, qint64 build = 58) {
    UpdateInfo info;
    info.version = QStringLiteral("2.0");
    info.build = build;
    info.url = QStringLiteral("x.dmg");
    info.sha256 = sha256Hex(image).toUpper(); // compared case-insensitively
    return info;
}

class Staging : public ::testing::Test {
public:
    TestSupport::TempDir root;
    QString running = root.file(QStringLiteral("Applications/Orvane 连接器.app"));
    QString content = root.file(QStringLiteral("image"));
    QString image = ConnectorPaths::updatesDir() + QStringLiteral("/SenvikConnector-58.dmg");
    QString mountPoint = ConnectorPaths::updatesDir() + QStringLiteral("/mount-58");
    QString toolLog = root.file(QStringLiteral("hdiutil.log"));
    UpdateFiles::Tools tools = helpers();
    AppVerifier verifier{systemCodeSigning()};

    void SetUp() override {
        makeBundle(running, QStringLiteral("57"));
        QDir().mkpath(ConnectorPaths::updatesDir());
        // The disk-image tool goes through a wrapper that writes down each command line.
        const QString wrapper = root.file(QStringLiteral("hdiutil"));
        TestSupport::writeFile(wrapper,
                               QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\nexec '%2' \"$@\"\n")
                                   .arg(toolLog, tools.diskImage)
                                   .toUtf8(),
                               0755);
        tools.diskImage = wrapper;
    }

    QString stage(const UpdateInfo& info) {
        return TestSupport::runTask(ConnectorController::stage(info, image, running, tools, verifier), 60s);
    }
    QString failure(const UpdateInfo& info) {
        try {
            stage(info);
        } catch (const UpdateFailure& error) {
            return error.message;
        }
        return QStringLiteral("<staged>");
    }
    UpdateInfo packImage() {
        EXPECT_TRUE(makeImage(content, image));
        return entryFor(image);
    }
    QStringList toolCalls() const {
        return QString::fromUtf8(readAll(toolLog)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

TEST_F(Staging, stagesTheConnectorUnderTheRunningBundlesName) {
    makeBundle(content + QStringLiteral("/A Stranger.app"), QStringLiteral("58"),
               QStringLiteral("com.example.other"));
    ASSERT_TRUE(makeReleaseBundle(content + QStringLiteral("/Orvane Renamed.app"), QStringLiteral("58")));
    const QString staged = stage(packImage());
    EXPECT_EQ(QFileInfo(staged).fileName(), QStringLiteral("Orvane 连接器.app"));
    EXPECT_EQ(QFileInfo(QFileInfo(staged).absolutePath()).absolutePath(), QFileInfo(running).absolutePath());
    EXPECT_EQ(readAll(staged + QStringLiteral("/Contents/Resources/build.txt")), QByteArray("58"));
    EXPECT_EQ(QFileInfo(staged + QStringLiteral("/Contents/Resources/current")).symLinkTarget(),
              staged + QStringLiteral("/Contents/Resources/build.txt"));
    EXPECT_TRUE(QFileInfo(staged + QStringLiteral("/Contents/MacOS/OrvaneConnector")).isExecutable());
    EXPECT_TRUE(BundleSignature::assess(staged, trustedKeys()));
    EXPECT_FALSE(QFileInfo::exists(image));
    EXPECT_FALSE(QFileInfo::exists(mountPoint));
    const QStringList calls = toolCalls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(
        calls[0],
        QStringLiteral("attach -nobrowse -readonly -noautoopen -mountpoint %1 %2").arg(mountPoint, image));
    EXPECT_EQ(calls[1], QStringLiteral("detach %1 -quiet").arg(mountPoint));
}

TEST_F(Staging, refusals) {
    struct Case {
        const char* name;
        std::function<void(Staging&)> prepare; // fills the image folder
        QString expected;
        bool detachedWithForce;
    };
    const QString other = root.file(QStringLiteral("other.pem"));
    ASSERT_TRUE(keygen(other));
    const std::vector<Case> cases{
        {"no connector in the image",
         [](Staging& s) { makeBundle(s.content + QStringLiteral("/Other.app"), "58", "com.example.other"); },
         QStringLiteral("安装包里没有 Orvane 连接器"), true},
        {"wrong build",
         [](Staging& s) { ASSERT_TRUE(makeReleaseBundle(s.content + QStringLiteral("/O.app"), "57")); },
         QStringLiteral("安装包里的版本和清单对不上"), true},
        {"build not a number",
         [](Staging& s) { ASSERT_TRUE(makeReleaseBundle(s.content + QStringLiteral("/O.app"), "58.0")); },
         QStringLiteral("安装包里的版本和清单对不上"), true},
        {"changed after signing",
         [](Staging& s) {
             ASSERT_TRUE(makeReleaseBundle(s.content + QStringLiteral("/O.app"), "58"));
             TestSupport::writeFile(s.content + QStringLiteral("/O.app/Contents/Resources/build.txt"), "59");
         },
         QStringLiteral("新版本的签名对不上，没有装"), true},
        {"signed by a key nobody trusts",
         [other](Staging& s) {
             makeBundle(s.content + QStringLiteral("/O.app"), "58");
             ASSERT_TRUE(sign(s.content + QStringLiteral("/O.app"), other));
             ASSERT_TRUE(notarize(s.content + QStringLiteral("/O.app")));
         },
         QStringLiteral("新版本的签名对不上，没有装"), true},
        {"signed by another team",
         [other](Staging& s) {
             makeBundle(s.content + QStringLiteral("/O.app"), "58");
             ASSERT_TRUE(sign(s.content + QStringLiteral("/O.app"), other, QStringLiteral("OTHERTEAM1")));
             SigningKeyring keyring = trustedKeys();
             keyring.add(QStringLiteral("OTHERTEAM1"), Ed25519Key::fromPem(readAll(other)).publicKey());
             s.verifier = AppVerifier(std::make_shared<LinuxCodeSigning>(keyring));
         },
         QStringLiteral("新版本的签名对不上，没有装"), true},
        {"not notarized",
         [](Staging& s) {
             makeBundle(s.content + QStringLiteral("/O.app"), "58");
             ASSERT_TRUE(sign(s.content + QStringLiteral("/O.app")));
         },
         QStringLiteral("系统没认出新版本是公证过的，没有装"), true},
        {"notarized by a stranger",
         [other](Staging& s) {
             makeBundle(s.content + QStringLiteral("/O.app"), "58");
             ASSERT_TRUE(sign(s.content + QStringLiteral("/O.app")));
             ASSERT_TRUE(notarize(s.content + QStringLiteral("/O.app"), other));
         },
         QStringLiteral("系统没认出新版本是公证过的，没有装"), true},
    };
    for (const Case& c : cases) {
        QDir(content).removeRecursively();
        QFile::remove(toolLog);
        verifier = AppVerifier(systemCodeSigning());
        c.prepare(*this);
        EXPECT_EQ(failure(packImage()), c.expected) << c.name;
        EXPECT_FALSE(QFileInfo::exists(image)) << c.name;
        EXPECT_FALSE(QFileInfo::exists(mountPoint)) << c.name;
        EXPECT_EQ(toolCalls().value(toolCalls().size() - 1) ==
                      QStringLiteral("detach %1 -quiet -force").arg(mountPoint),
                  c.detachedWithForce)
            << c.name;
        EXPECT_EQ(readAll(running + QStringLiteral("/Contents/Resources/build.txt")), QByteArray("57"))
            << c.name;
    }
}

TEST_F(Staging, hashMismatchAndUnattachableImages) {
    ASSERT_TRUE(makeReleaseBundle(content + QStringLiteral("/O.app"), QStringLiteral("58")));
    UpdateInfo info = packImage();
    info.sha256 = QString(64, QLatin1Char('0'));
    EXPECT_EQ(failure(info), QStringLiteral("下载的安装包和清单对不上（sha256），已丢掉"));
    EXPECT_FALSE(QFileInfo::exists(image));
    EXPECT_TRUE(toolCalls().isEmpty());

    TestSupport::writeFile(image, QByteArray(5000, 'z'));
    EXPECT_EQ(failure(entryFor(image)), QStringLiteral("安装包打不开"));
    EXPECT_FALSE(QFileInfo::exists(image));
    EXPECT_EQ(toolCalls().size(), 1); // a failed attach detaches nothing
    EXPECT_TRUE(QDir(mountPoint).isEmpty());

    tools.copy = root.file(QStringLiteral("missing-ditto"));
    ASSERT_TRUE(makeImage(content, image));
    EXPECT_EQ(failure(entryFor(image)), QStringLiteral("新版本拷不出来"));
    EXPECT_FALSE(QFileInfo::exists(mountPoint));
}

// Archives a hostile server could send: none may write outside the mount point.
struct Member {
    Member(QByteArray name, mode_t type = AE_IFREG, int mode = 0644, QByteArray data = {},
           QByteArray link = {}, bool hard = false)
        : name(std::move(name)), type(type), mode(mode), data(std::move(data)), link(std::move(link)),
          hard(hard) {}
    QByteArray name;
    mode_t type = AE_IFREG;
    int mode = 0644;
    QByteArray data;
    QByteArray link; // symlink target, or hard-link target with `hard`
    bool hard = false;
};

bool writeArchive(const QString& path, const std::vector<Member>& members) {
    archive* a = archive_write_new();
    archive_write_add_filter_gzip(a);
    archive_write_set_format_pax_restricted(a);
    if (archive_write_open_filename(a, QFile::encodeName(path).constData()) != ARCHIVE_OK)
        return false;
    for (const Member& m : members) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, m.name.constData());
        archive_entry_set_filetype(e, m.type);
        archive_entry_set_perm(e, m.mode);
        if (m.hard)
            archive_entry_set_hardlink(e, m.link.constData());
        else if (m.type == AE_IFLNK)
            archive_entry_set_symlink(e, m.link.constData());
        if (m.type == AE_IFCHR)
            archive_entry_set_rdev(e, makedev(1, 3));
        archive_entry_set_size(e, m.type == AE_IFREG && !m.hard ? m.data.size() : 0);
        archive_write_header(a, e);
        if (m.type == AE_IFREG && !m.hard)
            archive_write_data(a, m.data.constData(), m.data.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
    return true;
}

TEST(HostileImages, nothingLandsOutsideTheMountPoint) {
    struct Case {
        const char* name;
        std::vector<Member> members;
    };
    TestSupport::TempDir dir;
    const QString mount = dir.file(QStringLiteral("deep/er/mount"));
    QDir().mkpath(mount);
    const QByteArray outside = QFile::encodeName(dir.file(QStringLiteral("outside.txt")));
    const std::vector<Case> cases{
        {"dot-dot path", {{"A.app/../../../outside.txt", AE_IFREG, 0644, "pwned"}}},
        {"leading dot-dot", {{"../../outside.txt", AE_IFREG, 0644, "pwned"}}},
        {"absolute path", {{outside, AE_IFREG, 0644, "pwned"}}},
        {"symlink escape then write through it",
         {{"A.app/link", AE_IFLNK, 0777, {}, "../../.."},
          {"A.app/link/outside.txt", AE_IFREG, 0644, "pwned"}}},
        {"absolute symlink", {{"A.app/link", AE_IFLNK, 0777, {}, outside}}},
        {"hard link to a file outside", {{"A.app/h", AE_IFREG, 0644, {}, outside, true}}},
        {"device file", {{"A.app/null", AE_IFCHR, 0666}}},
        {"fifo", {{"A.app/pipe", AE_IFIFO, 0644}}},
        {"set-user-id program", {{"A.app/run", AE_IFREG, 04755, "#!/bin/sh\n"}}},
        {"set-group-id folder", {{"A.app/dir", AE_IFDIR, 02755}}},
    };
    for (const Case& c : cases) {
        const QString image = dir.file(QStringLiteral("hostile.tgz"));
        ASSERT_TRUE(writeArchive(image, c.members)) << c.name;
        const int status =
            runProgram(helpers().diskImage,
                       {QStringLiteral("attach"), QStringLiteral("-nobrowse"), QStringLiteral("-readonly"),
                        QStringLiteral("-noautoopen"), QStringLiteral("-mountpoint"), mount, image});
        EXPECT_NE(status, 0) << c.name;
        EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(outside))) << c.name;
        EXPECT_TRUE(QDir(mount).isEmpty()) << c.name;
        EXPECT_EQ(QDir(dir.file(QStringLiteral("deep/er")))
                      .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{QStringLiteral("mount")})
            << c.name << ": no scratch folder left";
    }
}

TEST(HostileImages, aGoodImageAttachesReadOnlyAndDetaches) {
    TestSupport::TempDir dir;
    const QString mount = dir.file(QStringLiteral("mount"));
    const QString image = dir.file(QStringLiteral("good.tgz"));
    ASSERT_TRUE(writeArchive(image, {{"A.app", AE_IFDIR, 0755},
                                     {"A.app/run", AE_IFREG, 0755, "#!/bin/sh\n"},
                                     {"A.app/link", AE_IFLNK, 0777, {}, "run"}}));
    const QStringList attach{QStringLiteral("attach"), QStringLiteral("-mountpoint"), mount, image};
    ASSERT_EQ(runProgram(helpers().diskImage, attach), 0);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(mount + QStringLiteral("/A.app/run")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0555u);
    EXPECT_EQ(QFileInfo(mount + QStringLiteral("/A.app/link")).symLinkTarget(),
              mount + QStringLiteral("/A.app/run"));
    EXPECT_NE(runProgram(helpers().diskImage, attach), 0) << "a mount point in use is refused";
    EXPECT_EQ(runProgram(helpers().diskImage, {QStringLiteral("detach"), mount, QStringLiteral("-quiet")}),
              0);
    EXPECT_FALSE(QFileInfo::exists(mount));
    EXPECT_NE(runProgram(helpers().diskImage, {QStringLiteral("detach"), mount, QStringLiteral("-quiet")}),
              0);
}

} // namespace
