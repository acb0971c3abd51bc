// The connector on a Linux desktop as real processes: bundles in a throw-away Applications folder with their
// own HOME, XDG folders and runtime directory; the desktop's tools deliver links and open the menu entry; the
// legacy rename runs across two instances against the stand-in bridge and the service manager's stand-in.
#include "BridgeAdmin.h"
#include "RunTask.h"
#include "RunningInstances.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

QString readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

const QString built = TestSupport::buildDir() + "/Orvane 连接器.app";
const QString tools = TestSupport::buildDir() + "/tools/bridge-standin/";

// One user's desktop; every connector process of the user notes its events in one probe file.
class Desktop {
public:
    Desktop() {
        QDir().mkpath(root_.file("run"));
        ::chmod(QFile::encodeName(root_.file("run")).constData(), 0700);
        TestSupport::writeFile(home() + "/.config/com.tamrik.senvik.connector.conf",
                               "[General]\nshowsStatusItemAtLogin=true\nstartCompleted=true\n");
        env_.insert("HOME", home());
        env_.insert("XDG_RUNTIME_DIR", root_.file("run"));
        env_.insert("XDG_DATA_HOME", home() + "/.local/share");
        env_.insert("PATH", "/usr/bin:/bin");
        env_.insert("QT_QPA_PLATFORM", "offscreen");
        env_.insert("ORVANE_CONNECTOR_PROBE", root_.file("probe"));
        env_.insert("ORVANE_CONNECTOR_PROBE_SERVICE_MANAGER", tools + "service-manager-standin");
        env_.insert("ORVANE_STANDIN_SERVICE_DIR", root_.path());
    }
    ~Desktop() {
        for (const auto& process : processes_)
            process->kill(), process->waitForFinished(5000);
        for (const pid_t pid : connectors())
            ::kill(pid, SIGKILL);
        if (const int bridge = readText(root_.file("pid")).toInt(); bridge > 0)
            ::kill(bridge, SIGTERM);
    }

    QString home() const { return root_.file("home"); }
    QString entry() const {
        return home() + "/.local/share/applications/com.tamrik.senvik.connector.desktop";
    }
    QString socket() const { return home() + "/Library/Application Support/SenvikAgentBridge/admin.sock"; }

    QString install(const QString& name) const {
        const QString bundle = home() + "/Applications/" + name;
        for (const QString file : {"/Contents/MacOS/OrvaneConnector", "/Contents/Info.plist",
                                   "/Contents/Resources/com.tamrik.senvik.connector.desktop"}) {
            QDir().mkpath(QFileInfo(bundle + file).path());
            EXPECT_TRUE(QFile::copy(built + file, bundle + file));
        }
        return bundle;
    }

    // A program started with this user's environment; run(): to its end, giving its exit status.
    QProcess* start(const QString& program, const QStringList& arguments, QMap<QString, QString> extra = {}) {
        auto* process = new QProcess;
        QProcessEnvironment env = env_;
        for (auto it = extra.begin(); it != extra.end(); ++it)
            env.insert(it.key(), it.value());
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(program, arguments);
        processes_.emplace_back(process);
        return process;
    }
    int run(const QString& program, const QStringList& arguments, QMap<QString, QString> extra = {}) {
        QProcess* process = start(program, arguments, extra);
        return process->waitForFinished(20000) ? process->exitCode() : -1;
    }
    // The bridge as the service manager starts it at login.
    void startBridge() {
        TestSupport::writeFile(root_.file("scenario.json"), R"({"status":{"open":0}})");
        TestSupport::writeFile(root_.file("command"),
                               QStringList{tools + "bridge-standin", "main.ts", "start", "--data-dir",
                                           QFileInfo(socket()).path(), "--scenario",
                                           root_.file("scenario.json")}
                                   .join('\n')
                                   .toUtf8());
        run(tools + "service-manager-standin", {"start"});
        ASSERT_TRUE(TestSupport::spinUntil([this] { return startedAt().has_value(); }));
        QFile::remove(root_.file("calls"));
    }
    std::optional<std::string> startedAt() const {
        try {
            const nlohmann::json status =
                TestSupport::runTask(BridgeAdmin::requestAt(socket(), "status"), 5s);
            return status.value("startedAt", std::string());
        } catch (...) {
            return std::nullopt;
        }
    }
    QString calls() const { return readText(root_.file("calls")); }

    QList<pid_t> connectors() const {
        return RunningInstances::find("com.tamrik.senvik.connector", ::getpid(), home());
    }
    QStringList events() const {
        return readText(root_.file("probe")).split('\n').replaceInStrings(QRegularExpression("^\\d+ "), "");
    }
    bool waitFor(const QString& event, int times = 1) const {
        return TestSupport::spinUntil([&] { return events().count(event) >= times; }, 20s);
    }

private:
    TestSupport::TempDir root_;
    QProcessEnvironment env_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

class DesktopIntegration : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QFileInfo::exists(built + "/Contents/Resources/com.tamrik.senvik.connector.desktop"))
            GTEST_SKIP() << "the assembled bundle is not built";
        gio = QStandardPaths::findExecutable("gio");
    }
    QString gio;
    std::unique_ptr<Desktop> desktop = std::make_unique<Desktop>();
};

} // namespace

// A link opened on the desktop starts the registered entry, whose process hands it to the running connector;
// opening the entry from the application menu shows the running connector's window.
TEST_F(DesktopIntegration, LinksAndTheMenuEntryReachTheRunningConnector) {
    if (gio.isEmpty())
        GTEST_SKIP()
            << "gio (libglib2.0-bin) is missing: nothing here opens links and entries as desktops do";
    desktop->start(desktop->install("Orvane 连接器.app") + "/Contents/MacOS/OrvaneConnector", {"--menubar"});
    ASSERT_TRUE(desktop->waitFor("desktop registered"));

    // xdg-open on a GNOME desktop opens links through gio.
    const QString link = "senvik-connector://pair?from=desktop";
    const QString xdgOpen = QStandardPaths::findExecutable("xdg-open");
    EXPECT_EQ(xdgOpen.isEmpty() ? desktop->run(gio, {"open", link})
                                : desktop->run(xdgOpen, {link}, {{"XDG_CURRENT_DESKTOP", "GNOME"}}),
              0);
    EXPECT_TRUE(desktop->waitFor("link " + link + " handled")) << desktop->events().join('\n').toStdString();
    EXPECT_FALSE(desktop->events().contains("window overview"));

    EXPECT_EQ(desktop->run(gio, {"launch", desktop->entry()}), 0);
    EXPECT_TRUE(desktop->waitFor("reopen") && desktop->waitFor("window overview"));
    EXPECT_TRUE(desktop->waitFor("quit other-instance", 2));
    EXPECT_EQ(desktop->connectors().size(), 1);
}

// A legacy bundle, idle after a refresh, moves itself, relaunches with the three flags and ends; the new
// instance waits for it, restarts the bridge once (it comes back) and points the desktop at the new name.
TEST_F(DesktopIntegration, LegacyBundleRenamesItselfAndTheNewInstanceRestartsTheBridge) {
    desktop->startBridge();
    const std::optional<std::string> before = desktop->startedAt();
    const QString legacy = desktop->install("森维连接器.app");
    const QString renamed = desktop->home() + "/Applications/Orvane 连接器.app";
    QProcess* old = desktop->start(legacy + "/Contents/MacOS/OrvaneConnector", {"--menubar"},
                                   {{"ORVANE_CONNECTOR_PROBE_REFRESH_MS", "500"}});
    ASSERT_TRUE(old->waitForFinished(30000)) << desktop->events().join('\n').toStdString();
    EXPECT_EQ(old->exitCode(), 0);
    EXPECT_TRUE(!QFileInfo::exists(legacy) &&
                QFileInfo(renamed + "/Contents/MacOS/OrvaneConnector").isExecutable());

    ASSERT_TRUE(TestSupport::spinUntil([&] { return desktop->connectors().size() == 1; }));
    const QByteArray cmdline = [&] {
        QFile file(QString("/proc/%1/cmdline").arg(desktop->connectors().first()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    EXPECT_TRUE(cmdline.endsWith(QByteArray("\0--after-update\0--after-rename\0--restart-bridge\0", 48)));
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return desktop->startedAt().value_or(*before) != *before; }, 40s));
    ASSERT_TRUE(desktop->waitFor("desktop registered", 2));
    // The service manager records the call before it restarts the bridge, and a seen restart ends the loop:
    // the log is complete once "startedAt" changed.
    EXPECT_EQ(desktop->calls(), "--user restart com.tamrik.senvik.connector.agent.service\n");
    EXPECT_TRUE(
        readText(desktop->entry()).contains("Exec=\"" + renamed + "/Contents/MacOS/OrvaneConnector\" %u"));
}
