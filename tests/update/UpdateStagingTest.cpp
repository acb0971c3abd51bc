#include "UpdateFixtures.h"

#include "BundleSignature.h"
#include "RunTask.h"
#include "UnpackedTree.h"
#include "UpdateFailure.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/sysmacros.h>

namespace {

using namespace std::chrono_literals;
using namespace UpdateFixtures;

class Staging : public ::testing::Test {
public:
    TestSupport::TempDir root;
    QString running = root.file("Applications/Orvane 连接器.app");
    QString content = root.file("image");
    QString image = ConnectorPaths::updatesDir() + "/SenvikConnector-58.dmg";
    QString mountPoint = ConnectorPaths::updatesDir() + "/mount-58";
    QString log = root.file("hdiutil.log");
    UpdateFiles::Tools tools = helpers();
    AppVerifier verifier{systemCodeSigning()};

    void SetUp() override {
        makeBundle(running, "57");
        // The disk-image tool runs through a wrapper that writes down each command line.
        const QString script =
            "#!/bin/sh\necho \"$*\" >> '" + log + "'\nexec '" + tools.diskImage + "' \"$@\"\n";
        TestSupport::writeFile(root.file("hdiutil"), script.toUtf8(), 0755);
        tools.diskImage = root.file("hdiutil");
    }
    // Packs the image folder and stages it; the staged path, or the failure's text.
    QString stage(std::optional<QString> sha256 = {}) {
        QFile::remove(log);
        QDir().mkpath(ConnectorPaths::updatesDir());
        if (!QFileInfo::exists(image)) {
            EXPECT_TRUE(makeImage(content, image));
        }
        UpdateInfo info;
        info.build = 58;
        info.sha256 = sha256.value_or(QString::fromLatin1(
            QCryptographicHash::hash(readAll(image), QCryptographicHash::Sha256).toHex().toUpper()));
        try {
            return TestSupport::runTask(ConnectorController::stage(info, image, running, tools, verifier),
                                        60s);
        } catch (const UpdateFailure& error) {
            return error.message;
        }
    }
    QStringList calls() const { return QString::fromUtf8(readAll(log)).split('\n', Qt::SkipEmptyParts); }
};

TEST_F(Staging, stagesTheConnectorUnderTheRunningBundlesName) {
    makeBundle(content + "/A Stranger.app", "58", "com.example.other"); // listed first, passed over
    ASSERT_TRUE(makeReleaseBundle(content + "/Orvane 新版.app", "58"));
    // Left by killed stagings: a tree deeper than descriptors may be open, and an attach's scratch.
    makeDeepTree(mountPoint, 1'000);
    TestSupport::writeFile(mountPoint + "-57.attach-Xy12Zq/A.app/x", "x");
    rlimit descriptors{};
    ::getrlimit(RLIMIT_NOFILE, &descriptors);
    const rlimit lowered{std::min<rlim_t>(256, descriptors.rlim_cur), descriptors.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &lowered);
    const QString staged = stage();
    ::setrlimit(RLIMIT_NOFILE, &descriptors);
    EXPECT_EQ(QDir(ConnectorPaths::updatesDir()).entryList({"mount-*"}, QDir::AllEntries | QDir::Hidden),
              QStringList());
    EXPECT_EQ(QFileInfo(staged).fileName(), "Orvane 连接器.app");
    EXPECT_EQ(QFileInfo(QFileInfo(staged).absolutePath()).absolutePath(), root.file("Applications"));
    EXPECT_EQ(QFileInfo(staged + "/Contents/Resources/current").symLinkTarget(),
              staged + "/Contents/Resources/build.txt");
    EXPECT_TRUE(BundleSignature::assess(staged, trustedKeys()));
    EXPECT_FALSE(QFileInfo::exists(image) || QFileInfo::exists(mountPoint));
    EXPECT_EQ(calls(),
              (QStringList{"attach -nobrowse -readonly -noautoopen -mountpoint " + mountPoint + " " + image,
                           "detach " + mountPoint + " -quiet"}));
}

TEST_F(Staging, refusals) {
    const QString other = root.file("other.pem");
    ASSERT_EQ(codesign({"keygen", other}), 0);
    const QString app = content + "/O.app";
    struct Case {
        std::function<void()> prepare; // fills the image folder
        QString expected;
    };
    const std::vector<Case> cases{
        {[&] { makeBundle(app, "58", "com.example.other"); }, "安装包里没有 Orvane 连接器"},
        {[&] { makeReleaseBundle(app, "57"); }, "安装包里的版本和清单对不上"},
        {[&] {
             makeReleaseBundle(app, "58"), TestSupport::writeFile(app + "/Contents/Resources/build.txt", "5");
         },
         "新版本的签名对不上，没有装"},
        {[&] {
             makeBundle(app, "58"), sign(app, other, "OTHERTEAM1");
             SigningKeyring keyring = trustedKeys(); // valid, but another team's
             keyring.add("OTHERTEAM1", Ed25519Key::fromPem(readAll(other)).publicKey());
             verifier = AppVerifier(std::make_shared<LinuxCodeSigning>(keyring));
         },
         "新版本的签名对不上，没有装"},
        {[&] { makeBundle(app, "58"), sign(app, {}, ConnectorPaths::teamID, ""); },
         "系统没认出新版本是公证过的，没有装"},
        {[&] { makeBundle(app, "58"), sign(app, {}, ConnectorPaths::teamID, other); },
         "系统没认出新版本是公证过的，没有装"},
        {[&] { // a sound image whose copy comes out altered: the copy is checked again
             makeReleaseBundle(app, "58");
             const QString ditto =
                 "#!/bin/sh\n'" + tools.copy +
                 "' \"$@\" && chmod -R u+w \"$2\" && echo 5 > \"$2/Contents/Resources/build.txt\"\n";
             TestSupport::writeFile(root.file("ditto"), ditto.toUtf8(), 0755);
             tools.copy = root.file("ditto");
         },
         "新版本的签名对不上，没有装"},
    };
    for (const Case& c : cases) {
        QDir(content).removeRecursively();
        verifier = AppVerifier(systemCodeSigning());
        tools.copy = helpers().copy;
        c.prepare();
        EXPECT_EQ(stage(), c.expected);
        EXPECT_FALSE(QFileInfo::exists(image) || QFileInfo::exists(mountPoint)) << c.expected.toStdString();
        EXPECT_EQ(calls().value(calls().size() - 1), "detach " + mountPoint + " -quiet -force")
            << c.expected.toStdString();
        EXPECT_EQ(readAll(running + "/Contents/Resources/build.txt"), "57");
    }
    EXPECT_EQ(stage(QString(64, '0')), "下载的安装包和清单对不上（sha256），已丢掉");
    EXPECT_TRUE(calls().isEmpty());
    TestSupport::writeFile(image, QByteArray(5000, 'z'));
    EXPECT_EQ(stage(), "安装包打不开");
    EXPECT_EQ(calls().size(), 1); // a failed attach detaches nothing
    EXPECT_TRUE(QDir(mountPoint).isEmpty());
    ASSERT_TRUE(makeReleaseBundle(app, "58"));
    tools.copy = root.file("missing-ditto");
    EXPECT_EQ(stage(), "新版本拷不出来");
    EXPECT_FALSE(QFileInfo::exists(mountPoint));
    // A link in the attached image to the installed bundle is never read as the new connector.
    QDir(content).removeRecursively();
    makeBundle(content + "/Other.app", "58", "com.example.other");
    const QString linking = "#!/bin/sh\n'" + tools.diskImage +
                            "' \"$@\" || exit 1\n[ \"$1\" != attach ] || " + "{ chmod u+w '" + mountPoint +
                            "' && ln -s '" + running + "' '" + mountPoint + "/Evil.app'; }\n";
    TestSupport::writeFile(root.file("hdiutil-link"), linking.toUtf8(), 0755);
    tools.diskImage = root.file("hdiutil-link");
    EXPECT_EQ(stage(), "安装包里没有 Orvane 连接器");
}

struct Member {
    QByteArray name;
    mode_t type = AE_IFREG;
    int mode = 0644;
    QByteArray link = {}; // symlink target, or the target of a hard link when `hard`
    bool hard = false;
};

// Links judged where they lead through the whole tree, the links before and after them included.
TEST(HostileImages, linksResolveThroughTheTree) {
    using Links = std::vector<std::pair<std::string, std::string>>; // name, target ("" for a folder)
    const std::vector<std::pair<Links, bool>> cases{
        {{{"A.app/Contents/current", "../Resources/missing"}}, true},
        {{{"b/c", ""}, {"a/l1", "l2/.."}, {"a/l2", "../b/c"}}, true},
        {{{"a/self", "."}, {"a/esc", "self/self/../.."}}, false},
        {{{"a/x/y/esc", "d/../../.."}, {"a/x/y/d", ".."}}, false},
        {{{"a/up", ".."}}, false},
        {{{"a/f", "/etc"}}, false},
        {{{"a/b", "c"}, {"a/c", "b"}}, false},
        {{{"a/l", "."}, {"a/l/f", ""}}, false},
        {{{"a/l", "x"}, {"a/l", "y"}}, false},
    };
    for (const auto& [links, inside] : cases) {
        UnpackedTree tree(100);
        bool recorded = true;
        for (const auto& [name, target] : links)
            recorded = recorded && (target.empty() ? tree.addFolder(name) : tree.addLink(name, target));
        EXPECT_EQ(recorded && tree.allLinksStayInside(), inside)
            << links.back().first << " → " << links.back().second;
    }
}

// Archives a hostile server could send: none may write anything outside the mount point.
TEST(HostileImages, nothingLandsOutsideTheMountPoint) {
    TestSupport::TempDir dir;
    const QString mount = dir.file("a/b/mount"), image = dir.file("hostile.tgz");
    const QByteArray outside = QFile::encodeName(dir.file("outside.txt"));
    QDir().mkpath(mount);
    const std::vector<std::vector<Member>> cases{
        {{"A.app/../../../outside.txt"}},
        {{outside}},
        {{"A.app/link", AE_IFLNK, 0777, "../../.."}, {"A.app/link/outside.txt"}},
        {{"A.app/link", AE_IFLNK, 0777, outside}},
        {{"A.app/h", AE_IFREG, 0644, outside, true}},
        {{"A.app/null", AE_IFCHR, 0666}},
        {{"A.app/run", AE_IFREG, 04755}},
        {{"zz/d/self", AE_IFLNK, 0777, "."},
         {"zz/d/esc", AE_IFLNK, 0777, "self/self/self/self/self/self/../../../../../../../"},
         {"Evil.app", AE_IFLNK, 0777, "zz/d/esc"}},
        {{"A.app/x/y/esc", AE_IFLNK, 0777, "d/../../.."},
         {"A.app/x/y/d", AE_IFLNK, 0777, ".."}}, // d comes later
        {{QByteArray("d/").repeated(1'000) + "f"}},
    };
    for (const auto& members : cases) {
        archive* a = archive_write_new();
        archive_write_add_filter_gzip(a);
        archive_write_set_format_pax_restricted(a);
        archive_write_open_filename(a, QFile::encodeName(image).constData());
        for (const Member& m : members) {
            archive_entry* e = archive_entry_new();
            archive_entry_set_pathname(e, m.name.constData());
            archive_entry_set_filetype(e, m.type);
            archive_entry_set_perm(e, m.mode);
            if (m.hard)
                archive_entry_set_hardlink(e, m.link.constData());
            else if (m.type == AE_IFLNK)
                archive_entry_set_symlink(e, m.link.constData());
            archive_entry_set_rdev(e, makedev(1, 3));
            archive_entry_set_size(e, m.type == AE_IFREG && !m.hard ? 5 : 0);
            archive_write_header(a, e);
            archive_write_data(a, "pwned", 5);
            archive_entry_free(e);
        }
        archive_write_free(a);
        EXPECT_EQ(runProgram(helpers().diskImage, {"attach", "-mountpoint", mount, image}),
                  1) // refused, not crashed
            << members[0].name.left(60).constData();
        EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(outside)));
        EXPECT_EQ(QDir(dir.file("a/b")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{"mount"});
        EXPECT_TRUE(QDir(mount).isEmpty());
    }
}

} // namespace
