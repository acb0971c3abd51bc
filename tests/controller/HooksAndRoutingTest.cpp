#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"
#include "StandinBridgeProcess.h"

#include "ConnectorController.h"
#include "RunTask.h"

#include <gtest/gtest.h>

using nlohmann::json;

namespace {

// Against the stand-in bridge as a real process, which records each request line as it arrived.
class HooksAndRouting : public ::testing::Test {
protected:
    void SetUp() override {
        ControllerTestAccess::background(controller, Background::Enabled{});
        controller.checkedCliOnLaunch = true;
        // Records, for every change of the reports, whether the action was still busy.
        QObject::connect(&controller, &ConnectorController::changed, [this] {
            const auto& hooks = controller.sessionHooks();
            const auto& strell = controller.strell();
            if (hooks && hooks->on() != lastOn) {
                lastOn = hooks->on();
                reportsWhileBusy.push_back(controller.sessionHooksBusy());
            }
            if (strell && strell->revision != lastRevision) {
                lastRevision = strell->revision;
                reportsWhileBusy.push_back(controller.strellBusy());
            }
        });
    }
    void start(const json& knobs = json::object()) {
        json scenario = json::parse(R"({"status": {"open": 0,
            "sessionHooks": {"claude": {"path": "/h/c.json"}, "codex": {"path": "/h/x.json"}},
            "strell": {"revision": 3, "pilot": null, "roles": [{"path": "r/backend", "title": "后端"}]}}})");
        scenario.update(knobs); // top level only, so a null knob stays null
        bridge.reset();
        bridge.emplace(scenario);
        ASSERT_TRUE(bridge->started());
        TestSupport::runTask(controller.refresh(), std::chrono::seconds(10));
        reportsWhileBusy.clear();
    }
    QByteArray sent(const char* command, int index = 0) const {
        QList<QByteArray> lines;
        for (const QByteArray& line : bridge->requests())
            if (line.contains(QByteArray("\"command\":\"") + command + '"'))
                lines << line;
        return lines.value(index);
    }
    void hooks(bool on) { TestSupport::runTask(controller.setSessionHooks(on), std::chrono::seconds(30)); }
    bool strell(const char* command, const StrellDraft& draft, qint64 revision) {
        return TestSupport::runTask(controller.strellAction(QString::fromLatin1(command), draft, revision),
                                    std::chrono::seconds(70));
    }
    const StrellDraft backend{true, QStringLiteral("r/backend")};

    FakeBackgroundService service, statusItem;
    json info = json::object();
    ConnectorController controller{Platform{service, statusItem, info}};
    std::optional<StandinBridgeProcess> bridge;
    bool lastOn = false;
    qint64 lastRevision = 3;
    std::vector<bool> reportsWhileBusy;
};

TEST_F(HooksAndRouting, HooksSwitchOnAndOffAndTheNewReportArrivesWhileBusy) {
    start();
    hooks(true);
    EXPECT_EQ(controller.sessionHooks()->claude.events, 5);
    EXPECT_EQ(controller.sessionHooksMessage(),
              QStringLiteral("打开了：粘了跟进提示词的会话会把进度报给 Orvane。"));
    EXPECT_EQ(sent("hooks-install"), R"({"command":"hooks-install"})");
    hooks(false);
    EXPECT_EQ(controller.sessionHooksMessage(), QStringLiteral("关掉了：钩子都拿走了，别的钩子没动。"));
    EXPECT_EQ(reportsWhileBusy, (std::vector<bool>{true, true}));
    EXPECT_FALSE(controller.sessionHooksBusy());
}

TEST_F(HooksAndRouting, AFailedSwitchGivesTheReasonAndKeepsTheReport) {
    const std::vector<std::tuple<json, QString>> cases = {
        {json{{"refuse", {"hooks-install"}}}, QStringLiteral("没改成：桥接这会儿不接受「hooks-install」")},
        {json{{"refuse", {"hooks-install"}}, {"refuseError", nullptr}},
         QStringLiteral("没改成：桥接拒绝了这条命令")},
        {json(), QStringLiteral("没改成：桥接没在运行")},
    };
    for (const auto& [knobs, message] : cases) {
        knobs.is_null() ? bridge.reset() : start(knobs);
        hooks(true);
        EXPECT_EQ(controller.sessionHooksMessage(), message);
        EXPECT_EQ(controller.sessionHooks().has_value() && !controller.sessionHooks()->on(),
                  bridge.has_value());
        EXPECT_FALSE(controller.sessionHooksBusy());
    }
}

// The bridge answers shortly before each command's time-out (15 s, 60 s): both answers must still count.
TEST_F(HooksAndRouting, ASecondActionWhileBusyChangesNothingAndSlowAnswersStillCount) {
    start(json{{"replyDelayMs", {{"hooks-install", 13500}, {"strell-check", 57000}}}});
    QCoro::Task<void> switching = controller.setSessionHooks(true);
    QCoro::Task<bool> checking = controller.strellAction(QStringLiteral("strell-check"), backend, 3);
    hooks(false);
    EXPECT_FALSE(strell("strell-configure", backend, 3));
    EXPECT_FALSE(controller.sessionHooksMessage());
    EXPECT_EQ(controller.strellMessage(), QStringLiteral("正在检查网关与模型目录…"));
    TestSupport::runTask(std::move(switching), std::chrono::seconds(30));
    EXPECT_EQ(controller.sessionHooksMessage(),
              QStringLiteral("打开了：粘了跟进提示词的会话会把进度报给 Orvane。"));
    EXPECT_TRUE(TestSupport::runTask(std::move(checking), std::chrono::seconds(70)));
    EXPECT_TRUE(sent("hooks-uninstall").isEmpty() && sent("strell-configure").isEmpty())
        << "dropped, not queued";
}

TEST_F(HooksAndRouting, CheckAndSaveWithAFreshRevisionBackToDirectWithANullPilotThenStale) {
    start();
    EXPECT_TRUE(strell("strell-check", backend, 3));
    EXPECT_EQ(controller.strellMessage(), QStringLiteral("网关与固定模型可用，未调用模型。"));
    EXPECT_EQ(json::parse(sent("strell-check").toStdString()),
              json::parse(R"({"command":"strell-check","expectedRevision":3,"pilot":{"rolePath":"r/backend",
                  "origin":"http://127.0.0.1:3425","model":"fixture/validation-model"}})"));
    EXPECT_TRUE(strell("strell-configure", backend, 3));
    EXPECT_EQ(controller.strellMessage(), QStringLiteral("已保存：仅所选岗位走 Strell。"));
    EXPECT_EQ(controller.strell()->draft, backend);
    StrellDraft direct = backend;
    direct.enabled = false;
    EXPECT_TRUE(strell("strell-configure", direct, 4));
    EXPECT_EQ(controller.strellMessage(), QStringLiteral("已恢复原生直连。"));
    EXPECT_EQ(sent("strell-configure", 1),
              R"({"command":"strell-configure","expectedRevision":4,"pilot":null})");
    EXPECT_EQ(reportsWhileBusy, (std::vector<bool>{true, true})) << "revisions 4 and 5 arrive while busy";
    EXPECT_FALSE(controller.strellError() || controller.strellBusy());

    // A stale revision, then no bridge at all: the channel's text, in orange, after a refresh.
    EXPECT_FALSE(strell("strell-configure", backend, 2));
    EXPECT_EQ(controller.strellMessage(),
              QStringLiteral("网关设置已在别处改过（现在是第 5 版，这次基于第 2 版），请重新载入后再试"));
    EXPECT_TRUE(controller.strellError());
    bridge.reset();
    EXPECT_FALSE(strell("strell-check", backend, 3));
    EXPECT_EQ(controller.strellMessage(), QStringLiteral("桥接没在运行"));
    EXPECT_FALSE(controller.strell()) << "the refresh after the failure ran";
    EXPECT_FALSE(controller.strellBusy());
}

} // namespace
