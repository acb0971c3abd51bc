#include "DiagnosticsFixture.h"

#include "RunTask.h"
#include "ScriptedBridge.h"
#include "StandinBridgeProcess.h"
#include "TempHome.h"
#include "ValidationChild.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const QString stillRunning =
    QStringLiteral("已卸载，但还有一个桥接在跑（多半是在终端里手动启动的），所以数据没删");

// Real files in the temporary HOME: the bridge's data, the logs, a downloaded update and the bundle itself.
class Uninstall : public DiagnosticsFixture {
protected:
    int terminations = 0;
    QString trash;

    void SetUp() override {
        DiagnosticsFixture::SetUp();
        const QString dataHome = ConnectorPaths::home() + QStringLiteral("/.local/share");
        qputenv("XDG_DATA_HOME", dataHome.toUtf8());
        trash = dataHome + QStringLiteral("/Trash");
        QDir(trash).removeRecursively();
        for (const QString& dir :
             {ConnectorPaths::dataDir(), ConnectorPaths::logsDir(), ConnectorPaths::updatesDir()})
            removeLocation(dir);
        ASSERT_TRUE(TestSupport::writeFile(data(), "{\"conversations\":[]}"));
        ASSERT_TRUE(TestSupport::writeFile(ConnectorPaths::bridgeLog(), "09:00:00 started\n"));
        ASSERT_TRUE(TestSupport::writeFile(update(), "image"));
        ASSERT_TRUE(TestSupport::writeFile(bundle + QStringLiteral("/Contents/Info.plist"), "<plist/>"));
        service.current = BackgroundService::Status::enabled;
        statusItem.current = BackgroundService::Status::enabled;
        ControllerTestAccess::background(c(), Background::Enabled{});
        controller->terminateApplication = [this] { ++terminations; };
        controller->bridgeStopStep = 10ms;
    }

    void TearDown() override {
        for (const QString& dir :
             {ConnectorPaths::dataDir(), ConnectorPaths::logsDir(), ConnectorPaths::updatesDir()})
            removeLocation(dir);
        QDir(bundle).removeRecursively();
        DiagnosticsFixture::TearDown();
    }

    static void removeLocation(const QString& path) {
        if (QFileInfo(path).isSymLink())
            QFile::remove(path);
        else
            QDir(path).removeRecursively();
    }
    static QString data() { return ConnectorPaths::dataDir() + QStringLiteral("/conversations.json"); }
    static QString update() { return ConnectorPaths::updatesDir() + QStringLiteral("/Orvane-31.tar.xz"); }

    bool bundleInTrash() const {
        return QFileInfo::exists(trash + QStringLiteral("/files/Orvane 连接器.app/Contents/Info.plist"));
    }
    void hooksOn() {
        SessionHooksStatus hooks;
        hooks.claude.installed = true;
        ControllerTestAccess::sessionHooks(c(), hooks);
    }
    void uninstall(bool deletingData, std::chrono::milliseconds deadline = 20s) {
        TestSupport::runTask(c().uninstall(deletingData), deadline);
    }
};

TEST_F(Uninstall, WhileToolsAreBusyOnlyTheNoticeAppears) {
    ControllerTestAccess::cliBusy(c(), true);
    uninstall(true);
    EXPECT_EQ(c().notice(), QStringLiteral("执行工具正在检查或更新，请结束后再卸载连接器"));
    EXPECT_FALSE(c().uninstalling());
    EXPECT_EQ(service.unregisterCalls + statusItem.unregisterCalls, 0);
    EXPECT_TRUE(QFileInfo::exists(data()));
    EXPECT_TRUE(QFileInfo::exists(update()));
    EXPECT_TRUE(QFileInfo::exists(bundle));
    EXPECT_EQ(terminations, 0);
}

TEST_F(Uninstall, WithDataHooksOnAndABridgeThatStopsAfterThreeSeconds) {
    controller->bridgeStopStep = 500ms;
    auto bridge = std::make_unique<ScriptedBridge>(ConnectorPaths::adminSocket());
    ScriptedBridge* observed = bridge.get();
    bridge->result("status", json{{"managed", true}});
    bridge->result("hooks-uninstall", json{{"ok", true}});
    hooksOn();
    std::vector<std::string> commands;
    service.onUnregister = [&] {
        commands = observed->commands();
        QMetaObject::invokeMethod(
            qApp, [&bridge] { QTimer::singleShot(3s, qApp, [&bridge] { bridge.reset(); }); },
            Qt::QueuedConnection);
    };
    const auto start = Clock::now();
    uninstall(true);
    const auto elapsed = Clock::now() - start;

    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.front(), "hooks-uninstall");
    EXPECT_EQ(statusItem.unregisterCalls, 1);
    EXPECT_EQ(service.unregisterCalls, 1);
    EXPECT_GE(elapsed, 2900ms);
    EXPECT_LT(elapsed, 15s);
    EXPECT_FALSE(QFileInfo::exists(ConnectorPaths::dataDir()));
    EXPECT_FALSE(QFileInfo::exists(ConnectorPaths::logsDir()));
    EXPECT_FALSE(QFileInfo::exists(ConnectorPaths::updatesDir()));
    EXPECT_FALSE(QFileInfo::exists(bundle));
    EXPECT_TRUE(bundleInTrash());
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(c().background(), Background(Background::Failed{QStringLiteral("已注销，登录时不会再运行")}));
    EXPECT_FALSE(c().bridge());
    EXPECT_TRUE(c().uninstalling());
    EXPECT_EQ(desktop->unregistrations.load(), 1);
}

// The stand-in bridge started by hand keeps answering: its data must survive, whatever was asked.
TEST_F(Uninstall, ABridgeThatKeepsAnsweringKeepsItsData) {
    StandinBridgeProcess standin(json{{"status", {{"port", 4820}}}, {"pairings", json::array()}});
    ASSERT_TRUE(standin.started());
    hooksOn();
    uninstall(true);
    EXPECT_TRUE(QFileInfo::exists(data()));
    EXPECT_TRUE(QFileInfo::exists(ConnectorPaths::bridgeLog()));
    EXPECT_TRUE(QFileInfo::exists(ConnectorPaths::adminSocket()));
    EXPECT_FALSE(QFileInfo::exists(ConnectorPaths::updatesDir()));
    EXPECT_TRUE(bundleInTrash());
    EXPECT_EQ(c().notice(), stillRunning);
    EXPECT_EQ(terminations, 0);
    EXPECT_EQ(c().background(), Background(Background::Failed{QStringLiteral("已注销，登录时不会再运行")}));
}

TEST_F(Uninstall, TheWaitForABridgeThatKeepsAnsweringEndsAfterTwentySeconds) {
    controller->bridgeStopStep = 500ms;
    StandinBridgeProcess standin(json{{"status", json::object()}, {"pairings", json::array()}});
    ASSERT_TRUE(standin.started());
    const auto start = Clock::now();
    uninstall(true, 60s);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 19500ms);
    EXPECT_LT(elapsed, 45s);
    EXPECT_TRUE(QFileInfo::exists(data()));
    EXPECT_EQ(c().notice(), stillRunning);
}

TEST_F(Uninstall, WithoutDataDeletionTheApplicationEndsAlthoughTheBridgeRuns) {
    StandinBridgeProcess standin(json{{"status", json::object()}, {"pairings", json::array()}});
    ASSERT_TRUE(standin.started());
    BridgeStatus known;
    known.port = 4820;
    ControllerTestAccess::bridge(c(), known);
    uninstall(false);
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(c().bridge(), known);
    EXPECT_FALSE(c().notice());
    EXPECT_TRUE(QFileInfo::exists(data()));
    EXPECT_TRUE(QFileInfo::exists(ConnectorPaths::bridgeLog()));
    EXPECT_FALSE(QFileInfo::exists(update()));
    EXPECT_TRUE(bundleInTrash());
}

TEST_F(Uninstall, WithoutDataDeletionAStoppedBridgeKeepsItsDataToo) {
    uninstall(false);
    EXPECT_TRUE(QFileInfo::exists(data()));
    EXPECT_TRUE(QFileInfo::exists(ConnectorPaths::bridgeLog()));
    EXPECT_FALSE(QFileInfo::exists(ConnectorPaths::updatesDir()));
    EXPECT_EQ(terminations, 1);
}

TEST_F(Uninstall, UnregisterFailureWhileStillRegisteredKeepsEverything) {
    ScriptedBridge bridge(ConnectorPaths::adminSocket());
    bridge.result("hooks-uninstall", json::object());
    hooksOn();
    service.unregisterError = QStringLiteral("systemctl：拒绝访问");
    uninstall(true);
    EXPECT_EQ(c().notice(), QStringLiteral("注销后台项没成功：systemctl：拒绝访问"));
    EXPECT_FALSE(c().uninstalling());
    EXPECT_EQ(bridge.count("hooks-uninstall"), 1); // already removed hooks stay removed
    EXPECT_EQ(bridge.count("status"), 0);
    EXPECT_TRUE(QFileInfo::exists(data()));
    EXPECT_TRUE(QFileInfo::exists(update()));
    EXPECT_TRUE(QFileInfo::exists(bundle));
    EXPECT_EQ(c().background(), Background(Background::Enabled{}));
    EXPECT_EQ(desktop->unregistrations.load(), 0);
    EXPECT_EQ(terminations, 0);
}

TEST_F(Uninstall, UnregisterFailureOfAnItemThatIsGoneIsIgnored) {
    service.unregisterError = QStringLiteral("没有这个单元");
    service.onUnregister = nullptr;
    service.current = BackgroundService::Status::notRegistered;
    statusItem.unregisterError = QStringLiteral("状态栏项也注销不了"); // ignored as well
    uninstall(true);
    EXPECT_FALSE(c().notice());
    EXPECT_FALSE(QFileInfo::exists(ConnectorPaths::dataDir()));
    EXPECT_EQ(terminations, 1);
}

TEST_F(Uninstall, NoHooksRemovalWhenHooksAreOffOrUnknown) {
    ScriptedBridge bridge(ConnectorPaths::adminSocket());
    bridge.result("hooks-uninstall", json::object());
    bridge.result("status", json::object());
    ControllerTestAccess::sessionHooks(c(), SessionHooksStatus{}); // both targets off
    service.onUnregister = nullptr;
    uninstall(false);
    ControllerTestAccess::sessionHooks(c(), std::nullopt);
    uninstall(false);
    EXPECT_EQ(bridge.count("hooks-uninstall"), 0);
}

TEST_F(Uninstall, TrashFailureKeepsTheApplicationOpen) {
    QDir(bundle).removeRecursively();
    uninstall(true);
    EXPECT_EQ(c().notice(), QStringLiteral("后台已经停了，但没能把 App 移到废纸篓：找不到 ") + bundle +
                                QStringLiteral("。请手动把它拖进废纸篓"));
    EXPECT_TRUE(c().uninstalling());
    EXPECT_EQ(terminations, 0);
    EXPECT_FALSE(QFileInfo::exists(ConnectorPaths::dataDir()));
}

// A location that is a symbolic link loses the link; links inside the locations are removed, never followed.
TEST_F(Uninstall, SymbolicLinksAreRemovedNotFollowed) {
    TestSupport::TempDir outside;
    const QString elsewhereData = outside.file(QStringLiteral("real-data"));
    ASSERT_TRUE(TestSupport::writeFile(elsewhereData + QStringLiteral("/keep.json"), "keep"));
    ASSERT_TRUE(TestSupport::writeFile(outside.file(QStringLiteral("notes/keep.txt")), "keep"));
    ASSERT_TRUE(TestSupport::writeFile(outside.file(QStringLiteral("single.txt")), "keep"));

    removeLocation(ConnectorPaths::dataDir());
    ASSERT_TRUE(QFile::link(elsewhereData, ConnectorPaths::dataDir()));
    ASSERT_TRUE(QFile::link(outside.file(QStringLiteral("notes")),
                            ConnectorPaths::logsDir() + QStringLiteral("/notes")));
    ASSERT_TRUE(QFile::link(outside.file(QStringLiteral("single.txt")),
                            ConnectorPaths::updatesDir() + QStringLiteral("/single.txt")));
    uninstall(true);

    EXPECT_FALSE(QFileInfo(ConnectorPaths::dataDir()).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(ConnectorPaths::dataDir()));
    EXPECT_FALSE(QFileInfo::exists(ConnectorPaths::logsDir()));
    EXPECT_FALSE(QFileInfo::exists(ConnectorPaths::updatesDir()));
    EXPECT_TRUE(QFileInfo::exists(elsewhereData + QStringLiteral("/keep.json")));
    EXPECT_TRUE(QFileInfo::exists(outside.file(QStringLiteral("notes/keep.txt"))));
    EXPECT_TRUE(QFileInfo::exists(outside.file(QStringLiteral("single.txt"))));
    EXPECT_EQ(terminations, 1);
}

TEST(UninstallValidation, NothingHappensInIsolatedValidation) {
    QTemporaryDir validation(ConnectorPaths::validationRoot() +
                             QStringLiteral("/senvik-connector-validation-XXXXXX"));
    ASSERT_TRUE(validation.isValid());
    expectValidationChildPasses(QStringLiteral("UninstallValidationChild.*"), validation.path());
}

class UninstallValidationChild : public Uninstall {};

TEST_F(UninstallValidationChild, Run) {
    if (!ConnectorPaths::validationDir())
        GTEST_SKIP() << "runs only as the child of UninstallValidation";
    ScriptedBridge bridge(ConnectorPaths::adminSocket());
    bridge.result("hooks-uninstall", json::object());
    hooksOn();
    uninstall(true);
    EXPECT_FALSE(c().uninstalling());
    EXPECT_FALSE(c().notice());
    EXPECT_EQ(service.unregisterCalls + statusItem.unregisterCalls, 0);
    EXPECT_TRUE(bridge.commands().empty());
    EXPECT_TRUE(QFileInfo::exists(ConnectorPaths::bridgeLog()));
    EXPECT_TRUE(QFileInfo::exists(update()));
    EXPECT_TRUE(QFileInfo::exists(bundle));
    EXPECT_EQ(terminations, 0);
}

} // namespace
