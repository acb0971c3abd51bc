#include "DiagnosticsFixture.h"

#include "RunTask.h"
#include "ScriptedBridge.h"
#include "StandinBridgeProcess.h"
#include "TempHome.h"
#include "ValidationChild.h"

#include <QTemporaryDir>
#include <QTimer>

#include <mutex>
#include <optional>
#include <thread>

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using A = ControllerTestAccess;
using Clock = std::chrono::steady_clock;

const QString stillRunning =
    QStringLiteral("已卸载，但还有一个桥接在跑（多半是在终端里手动启动的），所以数据没删");
const json quietBridge = {{"status", json::object()}, {"pairings", json::array()}};

bool exists(const QString& path) {
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
}
void removeLocation(const QString& path) {
    if (!QFile::remove(path))
        QDir(path).removeRecursively();
}

// Real files in the temporary HOME: the bridge's data, the logs, a downloaded update and the bundle.
class Uninstall : public DiagnosticsFixture {
protected:
    int terminations = 0;
    const QString trash = ConnectorPaths::home() + QStringLiteral("/.local/share/Trash");
    const QString data = ConnectorPaths::dataDir() + QStringLiteral("/conversations.json");
    const QString update = ConnectorPaths::updatesDir() + QStringLiteral("/Orvane-31.tar.xz");
    const QStringList locations{ConnectorPaths::dataDir(), ConnectorPaths::logsDir(),
                                ConnectorPaths::updatesDir()};

    void SetUp() override {
        DiagnosticsFixture::SetUp();
        qputenv("XDG_DATA_HOME", (ConnectorPaths::home() + QStringLiteral("/.local/share")).toUtf8());
        QDir(trash).removeRecursively();
        for (const QString& location : locations)
            removeLocation(location);
        TestSupport::writeFile(data, "{}");
        TestSupport::writeFile(ConnectorPaths::bridgeLog(), "09:00:00 started\n");
        TestSupport::writeFile(update, "image");
        TestSupport::writeFile(bundle + QStringLiteral("/Contents/Info.plist"), "<plist/>");
        service.current = statusItem.current = BackgroundService::Status::enabled;
        A::background(c(), Background::Enabled{});
        controller->terminateApplication = [this] { ++terminations; };
        controller->bridgeStopStep = 10ms;
    }
    void TearDown() override {
        for (const QString& location : locations)
            removeLocation(location);
        QDir(bundle).removeRecursively();
        DiagnosticsFixture::TearDown();
    }
    bool trashed() const {
        return QFileInfo::exists(trash + QStringLiteral("/files/Orvane 连接器.app/Contents/Info.plist"));
    }
    void hooksOn() {
        SessionHooksStatus hooks;
        hooks.claude.installed = true;
        A::sessionHooks(c(), hooks);
    }
    void uninstall(bool deletingData) { TestSupport::runTask(c().uninstall(deletingData), 60s); }
    // Files left as they were: [data, log, update cache, bundle].
    std::vector<bool> files() const {
        return {exists(data), exists(ConnectorPaths::bridgeLog()), exists(update), exists(bundle)};
    }
};

TEST_F(Uninstall, WhileToolsAreBusyOnlyTheNoticeAppears) {
    A::cliBusy(c(), true);
    uninstall(true);
    EXPECT_EQ(c().notice(), QStringLiteral("执行工具正在检查或更新，请结束后再卸载连接器"));
    EXPECT_FALSE(c().uninstalling());
    EXPECT_EQ(service.unregisterCalls + statusItem.unregisterCalls, 0);
    EXPECT_EQ(files(), (std::vector<bool>{true, true, true, true}));
}

TEST_F(Uninstall, DataHooksOnAndABridgeThatStopsAfterThreeSeconds) {
    controller->bridgeStopStep = 500ms;
    auto bridge = std::make_unique<ScriptedBridge>(ConnectorPaths::adminSocket());
    bridge->result("status", json::object());
    std::vector<std::string> before;
    service.onUnregister = [&, observed = bridge.get()] {
        before = observed->commands();
        QMetaObject::invokeMethod(
            qApp, [&] { QTimer::singleShot(3s, Qt::PreciseTimer, qApp, [&] { bridge.reset(); }); });
    };
    hooksOn();
    const auto start = Clock::now();
    uninstall(true);
    EXPECT_GE(Clock::now() - start, 2900ms);
    EXPECT_EQ(before, std::vector<std::string>{"hooks-uninstall"});
    EXPECT_EQ(service.unregisterCalls + statusItem.unregisterCalls, 2);
    for (const QString& location : locations)
        EXPECT_FALSE(exists(location)) << location.toStdString();
    EXPECT_TRUE(trashed());
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(c().background(), Background(Background::Failed{QStringLiteral("已注销，登录时不会再运行")}));
    EXPECT_FALSE(c().bridge());
    EXPECT_TRUE(c().uninstalling());
    EXPECT_EQ(desktop->unregistrations.load(), 1);
}

// A bridge started by hand keeps its data whatever was asked. Any answer counts: the stand-in's, a refusal,
// and one that comes after the 2-s check gave up.
TEST_F(Uninstall, ABridgeThatKeepsAnsweringKeepsItsData) {
    for (const char* row : {"stand-in", "refusing", "late"}) {
        SCOPED_TRACE(row);
        SetUp();
        terminations = 0;
        std::optional<StandinBridgeProcess> standin;
        std::optional<ScriptedBridge> scripted;
        if (row == std::string("stand-in")) {
            ASSERT_TRUE(standin.emplace(quietBridge).started());
        } else {
            scripted.emplace(ConnectorPaths::adminSocket()).refuse("status", "忙");
            if (row == std::string("late"))
                scripted->onCommand("status", [first = std::make_shared<std::once_flag>()] {
                    std::call_once(*first, [] { std::this_thread::sleep_for(2500ms); });
                });
        }
        uninstall(true);
        EXPECT_EQ(files(), (std::vector<bool>{true, true, false, false}));
        EXPECT_TRUE(exists(ConnectorPaths::adminSocket()));
        EXPECT_TRUE(trashed());
        EXPECT_EQ(c().notice(), stillRunning);
        EXPECT_EQ(terminations, 0);
        TearDown();
    }
    SetUp();
    StandinBridgeProcess standin(quietBridge);
    ASSERT_TRUE(standin.started());

    // At the real pace the wait gives up after 40 checks half a second apart.
    makeController(bundle);
    controller->terminateApplication = [this] { ++terminations; };
    const auto start = Clock::now();
    uninstall(true);
    EXPECT_GE(Clock::now() - start, 19500ms);
    EXPECT_TRUE(exists(data));
}

TEST_F(Uninstall, WithoutDataDeletionTheApplicationEndsAlthoughTheBridgeRuns) {
    StandinBridgeProcess standin(quietBridge);
    ASSERT_TRUE(standin.started());
    BridgeStatus known;
    known.port = 4820;
    A::bridge(c(), known);
    uninstall(false);
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(c().bridge(), known);
    EXPECT_EQ(files(), (std::vector<bool>{true, true, false, false}));
    EXPECT_FALSE(c().notice());
}

TEST_F(Uninstall, UnregisterFailureWhileStillRegisteredKeepsEverything) {
    ScriptedBridge bridge(ConnectorPaths::adminSocket());
    hooksOn();
    service.unregisterError = QStringLiteral("拒绝访问");
    uninstall(true);
    EXPECT_EQ(c().notice(), QStringLiteral("注销后台项没成功：拒绝访问"));
    EXPECT_FALSE(c().uninstalling());
    EXPECT_EQ(bridge.commands(), std::vector<std::string>{"hooks-uninstall"}); // removed hooks stay removed
    EXPECT_EQ(files(), (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(c().background(), Background(Background::Enabled{}));
    EXPECT_EQ(terminations + desktop->unregistrations.load(), 0);

    // The same failure for an item that is gone anyway is ignored; hooks off send nothing.
    service.current = BackgroundService::Status::notRegistered;
    A::sessionHooks(c(), SessionHooksStatus{});
    uninstall(false);
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(bridge.count("hooks-uninstall"), 1);
}

TEST_F(Uninstall, TrashFailureKeepsTheApplicationOpen) {
    QDir(bundle).removeRecursively();
    uninstall(true);
    EXPECT_EQ(c().notice(),
              "后台已经停了，但没能把 App 移到废纸篓：找不到 " + bundle + "。请手动把它拖进废纸篓");
    EXPECT_TRUE(c().uninstalling());
    EXPECT_EQ(terminations, 0);
}

// A location that is a symbolic link loses the link; links inside are removed, never followed.
TEST_F(Uninstall, SymbolicLinksAreRemovedNotFollowed) {
    TestSupport::TempDir outside;
    for (const char* name : {"data/keep", "notes/keep", "single"})
        TestSupport::writeFile(outside.file(name), "keep");
    removeLocation(ConnectorPaths::dataDir());
    QFile::link(outside.file("data"), ConnectorPaths::dataDir());
    QFile::link(outside.file("notes"), ConnectorPaths::logsDir() + "/notes");
    QFile::link(outside.file("single"), ConnectorPaths::updatesDir() + "/single");
    uninstall(true);
    for (const QString& location : locations)
        EXPECT_FALSE(exists(location)) << location.toStdString();
    for (const char* name : {"data/keep", "notes/keep", "single"})
        EXPECT_TRUE(QFileInfo::exists(outside.file(name))) << name;
}

TEST(UninstallValidation, NothingHappensInIsolatedValidation) {
    QTemporaryDir validation(ConnectorPaths::validationRoot() +
                             QStringLiteral("/senvik-connector-validation-XXXXXX"));
    expectValidationChildPasses(QStringLiteral("UninstallValidationChild.*"), validation.path());
}

class UninstallValidationChild : public Uninstall {};

TEST_F(UninstallValidationChild, Run) {
    if (!ConnectorPaths::validationDir())
        GTEST_SKIP() << "runs only as the child of UninstallValidation";
    ScriptedBridge bridge(ConnectorPaths::adminSocket());
    hooksOn();
    uninstall(true);
    EXPECT_FALSE(c().uninstalling());
    EXPECT_EQ(service.unregisterCalls + statusItem.unregisterCalls + terminations, 0);
    EXPECT_TRUE(bridge.commands().empty());
    EXPECT_EQ(files(), (std::vector<bool>{true, true, true, true}));
}

} // namespace
