#include "linux/LinuxWorkspace.h"

#include "RunTask.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUuid>
#include <gtest/gtest.h>

#include <chrono>

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
