#include "Bundle.h"
#include "linux/LinuxWorkspace.h"

#include "RunTask.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUuid>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

QByteArray info(const QString& identifier, const char* executable = "app") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>" +
           identifier.toUtf8() +
           "</string>"
           "<key>CFBundleExecutable</key><string>" +
           QByteArray(executable) + "</string></dict></plist>\n";
}

QString makeBundle(const QString& path, const QString& identifier,
                   const QByteArray& executable = "#!/bin/sh\n") {
    TestSupport::writeFile(path + "/Contents/Info.plist", info(identifier));
    TestSupport::writeFile(path + "/Contents/MacOS/app", executable, 0755);
    return path;
}

TEST(WorkspaceApps, InstalledAppsByIdentifierInFolderOrder) {
    TestSupport::TempDir dir;
    const QString home = dir.file(QStringLiteral("home/Applications"));
    const QString system = dir.file(QStringLiteral("Applications"));
    makeBundle(home + "/Other.app", QStringLiteral("com.example.other"));
    makeBundle(home + "/Vestrano.app", QStringLiteral("com.tamrik.vestrano"));
    makeBundle(system + "/Vestrano.app", QStringLiteral("com.tamrik.vestrano"));
    makeBundle(system + "/Utilities/Global.app", QStringLiteral("com.tamrik.vestrano.global"));
    makeBundle(system + "/Deep/Er/Hidden.app", QStringLiteral("com.example.hidden"));
    LinuxWorkspace workspace({home, system, dir.file(QStringLiteral("missing"))});

    const struct {
        const char* identifier;
        std::optional<QString> expected;
    } cases[] = {
        {"com.tamrik.vestrano", home + "/Vestrano.app"},
        {"com.tamrik.vestrano.global", system + "/Utilities/Global.app"},
        {"com.example.hidden", std::nullopt},
        {"com.example.absent", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(workspace.urlForApplication(QString::fromLatin1(c.identifier)), c.expected) << c.identifier;
}

// An Info.plist of `size` bytes, blank-padded.
void writePadded(const QString& plist, const QString& identifier, qint64 size) {
    QByteArray bytes = info(identifier);
    TestSupport::writeFile(plist,
                           bytes.insert(bytes.indexOf("</plist>"), QByteArray(size - bytes.size(), ' ')));
}

// Application folders hold whatever other programs put there. An Info.plist that is a FIFO (opening it
// would wait for a writer for ever), a link to /dev/zero (endless), a link anywhere else, or a file over the
// cap (exactly the cap is read) is no Info.plist, and neither is one reached through a linked Contents
// folder; the search goes on past them.
TEST(WorkspaceApps, HostileInfoPlistsAreSkippedWithoutWaiting) {
    const qint64 cap = 4 * 1024 * 1024; // the largest Info.plist read
    TestSupport::TempDir dir;
    const QString folder = dir.file(QStringLiteral("Applications"));
    const QString elsewhere =
        makeBundle(dir.file(QStringLiteral("elsewhere/Real.app")), QStringLiteral("com.tamrik.vestrano"));
    const QString vestrano = QStringLiteral("com.tamrik.vestrano");
    const struct {
        const char* name;
        std::function<void(const QString& plist)> make;
    } cases[] = {
        {"A-fifo", [](const QString& plist) { ::mkfifo(QFile::encodeName(plist).constData(), 0644); }},
        {"B-dev-zero", [](const QString& plist) { QFile::link(QStringLiteral("/dev/zero"), plist); }},
        {"C-link-to-a-real-plist",
         [&](const QString& plist) {
             QFile::link(elsewhere + QStringLiteral("/Contents/Info.plist"), plist);
         }},
        {"D-one-byte-over-the-cap", [&](const QString& plist) { writePadded(plist, vestrano, cap + 1); }},
    };
    for (const auto& c : cases) {
        const QString plist =
            folder + QLatin1Char('/') + QLatin1String(c.name) + QStringLiteral(".app/Contents/Info.plist");
        QDir().mkpath(QFileInfo(plist).path());
        c.make(plist);
    }
    QDir().mkpath(folder + QStringLiteral("/E-linked-contents.app"));
    QFile::link(elsewhere + QStringLiteral("/Contents"),
                folder + QStringLiteral("/E-linked-contents.app/Contents"));
    LinuxWorkspace workspace({folder});
    EXPECT_EQ(workspace.urlForApplication(vestrano), std::nullopt);

    makeBundle(folder + QStringLiteral("/F-real.app"), vestrano);
    writePadded(folder + QStringLiteral("/F-real.app/Contents/Info.plist"), vestrano, cap);
    EXPECT_EQ(workspace.urlForApplication(vestrano), folder + QStringLiteral("/F-real.app"));
}

TEST(WorkspaceApps, ProcessTableReadFromProcRoot) {
    TestSupport::TempDir dir;
    const QString a = makeBundle(dir.file(QStringLiteral("A.app")), QStringLiteral("com.example.a"));
    const QString b = makeBundle(dir.file(QStringLiteral("B.app")), QStringLiteral("com.example.b"));
    const QString proc = dir.file(QStringLiteral("proc"));
    const auto process = [&](const char* pid, const QString& exe) {
        QDir().mkpath(proc + "/" + pid);
        QFile::link(exe, proc + "/" + pid + "/exe");
    };
    process("900", a + "/Contents/MacOS/app");
    process("31", b + "/Contents/MacOS/app");
    process("77", a + "/Contents/MacOS/app (deleted)"); // replaced on disk by an update, still running
    process("55", QStringLiteral("/usr/bin/true"));     // not in a bundle
    process("self", a + "/Contents/MacOS/app");         // not a process number
    QDir().mkpath(proc + "/12");                        // no readable executable (another user's)

    const QList<Workspace::RunningApplication> expected{
        {31, b, QStringLiteral("com.example.b")},
        {77, a, QStringLiteral("com.example.a")},
        {900, a, QStringLiteral("com.example.a")},
    };
    EXPECT_EQ(LinuxWorkspace::runningBundles(proc), expected);
}

TEST(WorkspaceApps, RealRunningProcessIsFoundByItsBundle) {
    TestSupport::TempDir dir;
    const QString identifier =
        QStringLiteral("com.example.sleeper.") + QUuid::createUuid().toString(QUuid::Id128);
    const QString bundle = dir.file(QStringLiteral("Sleeper.app"));
    TestSupport::writeFile(bundle + "/Contents/Info.plist", info(identifier));
    QDir().mkpath(bundle + "/Contents/MacOS");
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), bundle + "/Contents/MacOS/app"));
    QFile::setPermissions(bundle + "/Contents/MacOS/app",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcess sleeper;
    sleeper.start(bundle + "/Contents/MacOS/app", {QStringLiteral("30")});
    ASSERT_TRUE(sleeper.waitForStarted(5000));
    LinuxWorkspace workspace(QStringList{});
    const auto running = workspace.runningApplications(identifier);
    ASSERT_EQ(running.size(), 1);
    EXPECT_EQ(running.first().pid, sleeper.processId());
    EXPECT_EQ(running.first().bundlePath, bundle);
    EXPECT_TRUE(workspace.runningApplications(QStringLiteral("com.example.absent")).isEmpty());

    sleeper.kill();
    sleeper.waitForFinished(5000);
    EXPECT_TRUE(workspace.runningApplications(identifier).isEmpty());
}

TEST(WorkspaceApps, RevealShowsTheNearestExistingFolder) {
    TestSupport::TempDir dir;
    const QString record = dir.file(QStringLiteral("opened"));
    const QString opener = dir.file(QStringLiteral("opener"));
    TestSupport::writeFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$*\" > '" + record.toUtf8() + "'\n", 0755);
    QDir().mkpath(dir.file(QStringLiteral("Logs")));

    const struct {
        const char* name;
        QString file;
        QString expected;
    } cases[] = {
        {"existing folder", dir.file(QStringLiteral("Logs/bridge.log")),
         "open-it " + dir.file(QStringLiteral("Logs"))},
        {"folder not yet made", dir.file(QStringLiteral("Logs/Senvik/deeper/bridge.log")),
         "open-it " + dir.file(QStringLiteral("Logs"))},
    };
    for (const auto& c : cases) {
        QFile::remove(record);
        // A missing tool is passed over silently; the next one is used.
        LinuxWorkspace workspace(
            {}, {{dir.file(QStringLiteral("no-such-tool"))}, {opener, QStringLiteral("open-it")}});
        workspace.activateFileViewerSelecting({c.file});
        ASSERT_TRUE(TestSupport::spinUntil([&] { return QFileInfo(record).size() > 0; })) << c.name;
        QFile file(record);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(file.readAll()).trimmed(), c.expected) << c.name;
    }
}

TEST(WorkspaceApps, RevealWithoutFilesStartsNoFileManager) {
    TestSupport::TempDir dir;
    const QString record = dir.file(QStringLiteral("opened"));
    const QString bin = dir.file(QStringLiteral("bin"));
    TestSupport::writeFile(bin + QStringLiteral("/opener"),
                           "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + record.toUtf8() + "'\n", 0755);
    LinuxWorkspace workspace({}, {{bin + QStringLiteral("/opener")}});

    workspace.activateFileViewerSelecting({});
    // An opener is started before the call returns: once none runs, anything it would record is there.
    EXPECT_TRUE(TestSupport::spinUntil([&] { return !TestSupport::runsProgramFrom(bin); }, 20s));
    EXPECT_FALSE(QFileInfo::exists(record)) << "a reveal of nothing started the file manager";

    // The same opener does run for a file.
    workspace.activateFileViewerSelecting({dir.file(QStringLiteral("bridge.log"))});
    EXPECT_TRUE(TestSupport::spinUntil([&] { return QFileInfo(record).size() > 0; }, 20s));
}

TEST(WorkspaceApps, OpenApplicationStartsTheBundleOrSaysWhyNot) {
    TestSupport::TempDir dir;
    const QString marker = dir.file(QStringLiteral("started"));
    const QString good = makeBundle(dir.file(QStringLiteral("Good.app")), QStringLiteral("com.example.good"),
                                    "#!/bin/sh\necho \"$#\" > '" + marker.toUtf8() + "'\n");
    LinuxWorkspace workspace(QStringList{});
    TestSupport::runTask(workspace.openApplication(good));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return QFileInfo(marker).size() > 0; }));
    QFile file(marker);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().trimmed(), "0"); // started with no arguments

    try {
        TestSupport::runTask(workspace.openApplication(dir.file(QStringLiteral("Missing.app"))));
        ADD_FAILURE() << "a missing bundle was started";
    } catch (const Workspace::Failure& failure) {
        EXPECT_TRUE(failure.message.startsWith(QStringLiteral("读不出这个 App 的信息："))) << failure.what();
    }
}

} // namespace

namespace {

// A binary property list of `count` arrays, each holding the next one (`twice`: holding it twice).
QByteArray chainedArrays(quint32 count, bool twice) {
    QByteArray out("bplist00");
    auto big = [&out](quint64 value, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            out.append(static_cast<char>((value >> (8 * i)) & 0xff));
    };
    std::vector<quint64> offsets;
    for (quint32 i = 0; i < count; ++i) {
        offsets.push_back(static_cast<quint64>(out.size()));
        const int refs = i + 1 == count ? 0 : twice ? 2 : 1;
        out.append(static_cast<char>(0xA0 | refs));
        for (int r = 0; r < refs; ++r)
            big(i + 1, 4);
    }
    const quint64 table = static_cast<quint64>(out.size());
    for (const quint64 offset : offsets)
        big(offset, 4);
    out.append(QByteArray(6, '\0') + "\x04\x04");
    big(count, 8);
    big(0, 8);
    big(table, 8);
    return out;
}

QByteArray nestedXml(int depth, const QByteArray& open = "<array>", const QByteArray& close = "</array>") {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
           "<string>com.tamrik.vestrano</string><key>Deep</key>" +
           open.repeated(depth) + close.repeated(depth) + "</dict></plist>";
}

// libplist aborts the whole process when it hands out a key or text with a zero character inside (found by
// fuzzing), and frees its tree by recursion, which a deeply nested list overflows: such property lists are
// refused before they are parsed; the same lists without the fault read.
TEST(PropertyLists, HostileShapesAreRefusedNotFatal) {
    const struct {
        const char* name;
        QByteArray bytes;
        bool reads;
    } cases[] = {
        {"binary",
         QByteArray::fromHex(
             "62706c6973743030d101025f1012434642756e646c654964656e7469666965725f1013636f6d2e7461"
             "6d72696b2e7665737472616e6f080b20000000000000010100000000000000030000000000000000"
             "0000000000000036"),
         true},
        {"binary, zero in a key",
         QByteArray::fromHex(
             "62706c6973743030d101025f1013434642756e646c65004964656e7469666965725f1013636f6d2e7461"
             "6d72696b2e7665737472616e6f080b21000000000000010100000000000000030000000000000000"
             "0000000000000037"),
         false},
        {"binary, zero in a text",
         QByteArray::fromHex(
             "62706c6973743030d101025f1012434642756e646c654964656e7469666965725f1014636f6d2e7461"
             "6d72696b002e7665737472616e6f080b20000000000000010100000000000000030000000000000000"
             "0000000000000037"),
         false},
        {"XML, zero as a character reference",
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundle&#0;Identifier</key>"
         "<string>com.tamrik.vestrano</string></dict></plist>",
         false},
        {"XML, nested a little, comments and self-closed arrays between",
         nestedXml(40, "<!--<a>--><array><array/>"), true},
        {"XML, 250,000 nested arrays (3.75 MB)", nestedXml(250000), false},
        {"XML, nested deeper than any real list", nestedXml(200), false},
        {"binary, 250,000 arrays each holding the next", chainedArrays(250000, false), false},
        {"binary, 48 arrays each holding the next twice", chainedArrays(48, true), false},
    };
    for (const auto& c : cases) {
        const std::optional<nlohmann::json> parsed = parsePropertyList(c.bytes);
        EXPECT_EQ(parsed.has_value(), c.reads) << c.name;
        if (c.reads) {
            EXPECT_EQ(parsed->value("CFBundleIdentifier", ""), "com.tamrik.vestrano") << c.name;
        }
    }
}

} // namespace
