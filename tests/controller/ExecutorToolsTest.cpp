#include "ConnectorController.h"
#include "FakeBackgroundService.h"
#include "ScriptedBridge.h"
#include "StandinBridgeProcess.h"
#include "ValidationChild.h"

#include "Async.h"
#include "ConnectorPaths.h"
#include "RunTask.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Hooks of other concerns that refresh() calls stay quiet here.
class ToolsController : public ConnectorController {
public:
    using ConnectorController::ConnectorController;
    QCoro::Task<void> ensureBackgroundItem() override { co_return; }
    void installUpdateIfIdle() override {}
    void renameLegacyBundleIfIdle() override {}
};

class ExecutorTools : public ::testing::Test {
protected:
    FakeBackgroundService service;
    FakeBackgroundService statusItem;
    json info = json::object();
    std::unique_ptr<ToolsController> controller =
        std::make_unique<ToolsController>(Platform{service, statusItem, info});
    std::vector<Clock::time_point> refreshes; // when each finished refresh stored its time

    void SetUp() override {
        // Only the tests about the launch check want it; the others drive the action themselves.
        controller->checkedCliOnLaunch = true;
        QObject::connect(controller.get(), &ConnectorController::changed,
                         [this, last = std::optional<QDateTime>()]() mutable {
                             if (controller->lastRefresh() != last) {
                                 last = controller->lastRefresh();
                                 refreshes.push_back(Clock::now());
                             }
                         });
    }

    void refresh() { TestSupport::runTask(controller->refresh()); }
    void act(const QString& command, std::optional<QString> engine = std::nullopt, bool user = true) {
        TestSupport::runTask(controller->cliAction(command, std::move(engine), user), 30s);
    }
};

json tool(const char* id, const char* current, std::optional<const char*> latest = std::nullopt) {
    json t{{"engine", id}, {"currentVersion", current}, {"canUpdate", true}};
    if (latest)
        t["latestVersion"] = *latest;
    return t;
}

json scenario(json registry, double busySeconds) {
    return json{{"status",
                 {{"port", 48123},
                  {"bridgeVersion", "0.9.0"},
                  {"engines",
                   json::array({json{{"engine", "claude_code"}, {"version", "1.0.3"}, {"login", "logged_in"}},
                                json{{"engine", "codex"}, {"version", "0.29.0"}, {"login", "logged_in"}},
                                json{{"engine", "evox"}, {"version", "2.1.0"}}})},
                  {"cliTools",
                   {{"busy", false},
                    {"tools", json::array({tool("claude_code", "1.0.3"), tool("codex", "0.29.0", "0.31.0"),
                                           tool("evox", "2.1.0")})}}}}},
                {"pairings", json::array()},
                {"registry", std::move(registry)},
                {"busySeconds", busySeconds}};
}

const json allCurrent{{"claude_code", {{"latestVersion", "1.0.3"}}},
                      {"codex", {{"latestVersion", "0.29.0"}}},
                      {"evox", {{"latestVersion", "2.1.0"}}}};

TEST(CliSummary, ResultLines) {
    const auto t = [](const char* id, bool checked, bool update) {
        CliTool tool;
        tool.id = QString::fromUtf8(id);
        tool.checked = checked;
        tool.updateAvailable = update;
        return tool;
    };
    const struct {
        QString command;
        QList<CliTool> tools;
        std::optional<QString> message;
        QString expected;
    } cases[] = {
        {"cli-check",
         {t("claude_code", true, false), t("codex", true, false)},
         std::nullopt,
         "检查完了：都是最新版本"},
        {"cli-check", {}, QStringLiteral("桥接的话"), "检查完了：都是最新版本"},
        {"cli-check",
         {t("codex", true, true), t("evox", false, false)},
         std::nullopt,
         "EvoX 没查到最新版本：检查网络后再试"},
        {"cli-check",
         {t("evox", false, false), t("claude_code", false, true)},
         std::nullopt,
         "EvoX、Claude Code 没查到最新版本：检查网络后再试"},
        {"cli-check",
         {t("codex", true, true), t("evox", true, false), t("claude_code", true, true)},
         std::nullopt,
         "检查完了：Codex、Claude Code 有新版本"},
        {"cli-update",
         {t("codex", false, false)},
         QStringLiteral("Codex 已更新到 0.31.0"),
         "Codex 已更新到 0.31.0"},
        {"cli-update", {t("codex", true, true)}, std::nullopt, "做完了"},
        {"cli-refresh", {}, std::nullopt, "做完了"},
        {"cli-refresh", {}, QStringLiteral("模型清单刷新好了"), "模型清单刷新好了"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConnectorController::cliSummary(c.command, c.tools, c.message), c.expected)
            << c.expected.toStdString();
}

// A user's check against the stand-in bridge, which stays busy for a while and then reports its outcome.
TEST_F(ExecutorTools, UserCheckFollowsTheWorkToItsEnd) {
    json evoxUnreachable = allCurrent;
    evoxUnreachable.erase("evox");
    evoxUnreachable["codex"]["latestVersion"] = "0.31.0";
    json twoNewer = allCurrent;
    twoNewer["codex"]["latestVersion"] = "0.31.0";
    twoNewer["claude_code"]["latestVersion"] = "1.1.0";
    const struct {
        const char* name;
        json registry;
        double busySeconds;
        QString result;
    } cases[] = {
        {"all current", allCurrent, 3, "检查完了：都是最新版本"},
        {"EvoX unchecked", evoxUnreachable, 1, "EvoX 没查到最新版本：检查网络后再试"},
        {"two newer", twoNewer, 1, "检查完了：Claude Code、Codex 有新版本"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        controller = std::make_unique<ToolsController>(Platform{service, statusItem, info});
        SetUp();
        StandinBridgeProcess bridge(scenario(c.registry, c.busySeconds));
        ASSERT_TRUE(bridge.started());
        refresh();
        ASSERT_TRUE(controller->cliAvailable());
        refreshes.clear();

        std::optional<CliActivity> seen;
        QObject::connect(controller.get(), &ConnectorController::changed, [&] {
            if (controller->cliActivity())
                seen = controller->cliActivity();
        });
        const auto start = Clock::now();
        act(QStringLiteral("cli-check"));

        EXPECT_EQ(seen, CliActivity(CliActivity::Checking{}));
        ASSERT_TRUE(controller->cliResult());
        EXPECT_EQ(controller->cliResult()->text, c.result);
        EXPECT_FALSE(controller->cliBusy());
        EXPECT_FALSE(controller->cliActivity());
        EXPECT_FALSE(controller->cliRequestInFlight);
        EXPECT_GE(Clock::now() - start, std::chrono::duration<double>(c.busySeconds * 0.9));
        if (c.busySeconds >= 3) {
            // One refresh right after the request, then one per second until the bridge is done: never sooner
            // than a second apart, and often enough to see the busy spell more than once (a busy machine
            // may stretch the pauses, so only their lower bound is exact).
            ASSERT_GE(refreshes.size(), 3u);
            for (size_t i = 1; i < refreshes.size(); ++i) {
                EXPECT_GE(refreshes[i] - refreshes[i - 1], 900ms) << i;
                EXPECT_LE(refreshes[i] - refreshes[i - 1], 5s) << i;
            }
        }
    }
}

TEST_F(ExecutorTools, UpdateEndsWithTheBridgesClosingMessage) {
    json registry = allCurrent;
    registry["codex"]["latestVersion"] = "0.31.0";
    StandinBridgeProcess bridge(scenario(registry, 1));
    ASSERT_TRUE(bridge.started());
    refresh();
    std::optional<CliActivity> seen;
    QObject::connect(controller.get(), &ConnectorController::changed, [&] {
        if (controller->cliActivity())
            seen = controller->cliActivity();
    });
    act(QStringLiteral("cli-update"), QStringLiteral("codex"));
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->title(), QStringLiteral("正在更新 Codex 到 0.31.0…"));
    ASSERT_TRUE(controller->cliResult());
    EXPECT_EQ(controller->cliResult()->text, QStringLiteral("Codex 已更新到 0.31.0"));
    EXPECT_EQ(controller->cliTools()[1].currentVersion, QStringLiteral("0.31.0"));
}

// The check that the first refresh starts by itself runs the real action, yet leaves the result line alone.
TEST_F(ExecutorTools, LaunchCheckLeavesTheResultUntouched) {
    json s = scenario(allCurrent, 1);
    s["refuse"] = json::array({"cli-refresh"});
    StandinBridgeProcess bridge(s);
    ASSERT_TRUE(bridge.started());
    refresh();
    act(QStringLiteral("cli-refresh"));
    const std::optional<CliResult> before = controller->cliResult();
    ASSERT_TRUE(before);
    EXPECT_EQ(before->text, QStringLiteral("没有开始：桥接这会儿不接受「cli-refresh」"));
    EXPECT_EQ(controller->notice(), QStringLiteral("操作没有开始：桥接这会儿不接受「cli-refresh」"));

    controller->checkedCliOnLaunch = false;
    refresh();
    EXPECT_TRUE(controller->checkedCliOnLaunch);
    EXPECT_TRUE(controller->cliBusy());
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] {
            return !controller->cliBusy() && !controller->cliTools().isEmpty() &&
                   controller->cliTools()[0].checked;
        },
        15s));
    // The launch check ends right after the bridge's last report; a result line of its own would follow then.
    EXPECT_FALSE(TestSupport::spinUntil([&] { return controller->cliResult() != before; }, 2s));
    EXPECT_EQ(controller->cliResult(), before);
    EXPECT_EQ(controller->notice(), QStringLiteral("操作没有开始：桥接这会儿不接受「cli-refresh」"));

    // Once per process: later refreshes start no further check.
    refresh();
    EXPECT_FALSE(controller->cliBusy());
}

TEST_F(ExecutorTools, RefusedOrUnreadableCommandNeverStarts) {
    const struct {
        const char* name;
        bool user;
        std::string reply;
        QString description;
    } cases[] = {
        {"user, refused", true, R"({"ok":false,"error":"执行工具正忙"})", "执行工具正忙"},
        {"launch, refused", false, R"({"ok":false,"error":"执行工具正忙"})", "执行工具正忙"},
        {"user, no error text", true, R"({"ok":false})", "桥接拒绝了这条命令"},
        {"user, not JSON", true, "garbage", "管理通道的回答看不懂"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        controller = std::make_unique<ToolsController>(Platform{service, statusItem, info});
        SetUp();
        ScriptedBridge bridge(ConnectorPaths::adminSocket());
        bridge.result("status", json{{"cliTools", {{"busy", false}, {"tools", json::array()}}}});
        bridge.result("pairings", json::array());
        bridge.raw("cli-check", c.reply);
        refresh();
        act(QStringLiteral("cli-check"), std::nullopt, c.user);

        EXPECT_EQ(controller->notice(), QStringLiteral("操作没有开始：") + c.description);
        if (c.user) {
            ASSERT_TRUE(controller->cliResult());
            EXPECT_EQ(controller->cliResult()->text, QStringLiteral("没有开始：") + c.description);
        } else {
            EXPECT_FALSE(controller->cliResult());
        }
        EXPECT_EQ(bridge.count("status"), 2); // the refresh after the failure
        EXPECT_FALSE(controller->cliBusy());
        EXPECT_FALSE(controller->cliActivity());
        EXPECT_FALSE(controller->cliRequestInFlight);
    }
}

TEST_F(ExecutorTools, SecondCallWhilePollingChangesNothing) {
    ScriptedBridge bridge(ConnectorPaths::adminSocket());
    json checked = tool("codex", "0.31.0", "0.31.0");
    checked["checkedAt"] = "2025-03-01T08:15:30Z";
    const json idle{{"cliTools", {{"busy", false}, {"tools", json::array({checked})}}}};
    json busy = idle;
    busy["cliTools"]["busy"] = true;
    busy["cliTools"]["operation"] = "check";
    bridge.result("status", idle);
    bridge.result("pairings", json::array());
    bridge.result("cli-check", json{{"accepted", true}});
    bridge.result("cli-update", json{{"accepted", true}});
    refresh();

    bridge.result("status", busy);
    bool firstDone = false;
    Async::spawn([](ToolsController* c, bool* done) -> QCoro::Task<void> {
        co_await c->cliAction(QStringLiteral("cli-check"));
        *done = true;
    }(controller.get(), &firstDone));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return bridge.count("status") >= 3; }));
    int changes = 0;
    const auto counter =
        QObject::connect(controller.get(), &ConnectorController::changed, [&] { ++changes; });
    // Returns at once: the first action keeps polling until the bridge turns idle below, so waiting for it
    // would outlast even this deadline.
    TestSupport::runTask(controller->cliAction(QStringLiteral("cli-update"), QStringLiteral("codex")), 15s);
    QObject::disconnect(counter);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(bridge.count("cli-update"), 0);
    EXPECT_EQ(controller->cliActivity(), CliActivity(CliActivity::Checking{}));

    bridge.result("status", idle);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return firstDone; }));
    ASSERT_TRUE(controller->cliResult());
    EXPECT_EQ(controller->cliResult()->text, QStringLiteral("检查完了：都是最新版本"));
}

TEST_F(ExecutorTools, NothingIsSentWithoutToolSupport) {
    ScriptedBridge bridge(ConnectorPaths::adminSocket());
    bridge.result("status", json{{"port", 48123}});
    bridge.result("pairings", json::array());
    bridge.result("cli-check", json{{"accepted", true}});
    refresh();
    ASSERT_FALSE(controller->cliAvailable());
    for (const char* command : {"cli-check", "cli-refresh", "cli-update"})
        act(QString::fromUtf8(command), QStringLiteral("codex"));
    EXPECT_EQ(bridge.commands(), (std::vector<std::string>{"status", "pairings"}));
    EXPECT_FALSE(controller->cliBusy());
    EXPECT_FALSE(controller->notice());
    EXPECT_FALSE(controller->cliResult());
}

TEST_F(ExecutorTools, WorkOutlastingTheDeadlineLeavesNoResult) {
    ScriptedBridge bridge(ConnectorPaths::adminSocket());
    bridge.result("status", json{{"cliTools", {{"busy", false}, {"tools", json::array()}}}});
    bridge.result("pairings", json::array());
    bridge.result("cli-refresh", json{{"accepted", true}});
    refresh();
    bridge.result("status",
                  json{{"cliTools", {{"busy", true}, {"operation", "refresh"}, {"tools", json::array()}}}});
    controller->cliPollLimit = 1500ms;
    act(QStringLiteral("cli-refresh"));
    EXPECT_FALSE(controller->cliResult());
    EXPECT_TRUE(controller->cliBusy());
    EXPECT_EQ(controller->cliActivity(), CliActivity(CliActivity::Refreshing{}));
    EXPECT_LE(bridge.count("status"), 5);
}

// The isolated validation mode is fixed per process from its arguments: checked in a child run of this
// program.
TEST(ExecutorToolsValidation, NoToolCommandInIsolatedValidation) {
    QTemporaryDir validation(ConnectorPaths::validationRoot() +
                             QStringLiteral("/senvik-connector-validation-XXXXXX"));
    ASSERT_TRUE(validation.isValid());
    expectValidationChildPasses(QStringLiteral("ExecutorToolsValidationChild.*"), validation.path());
}

TEST(ExecutorToolsValidationChild, Run) {
    if (!ConnectorPaths::validationDir())
        GTEST_SKIP() << "runs only as the child of ExecutorToolsValidation";
    FakeBackgroundService service;
    FakeBackgroundService statusItem;
    const json info = json::object();
    ToolsController controller(Platform{service, statusItem, info});
    ScriptedBridge bridge(ConnectorPaths::adminSocket());
    bridge.result("status", json{{"cliTools", {{"busy", false}, {"tools", json::array()}}}});
    bridge.result("pairings", json::array());
    bridge.result("cli-check", json{{"accepted", true}});
    TestSupport::runTask(controller.refresh());
    ASSERT_TRUE(controller.cliAvailable());
    TestSupport::runTask(controller.cliAction(QStringLiteral("cli-check")));
    EXPECT_FALSE(TestSupport::spinUntil([&] { return bridge.count("cli-check") > 0; }, 2s));
    EXPECT_FALSE(controller.checkedCliOnLaunch);
    EXPECT_FALSE(controller.cliBusy());
}

} // namespace
