#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"
#include "StandinBridgeProcess.h"

#include "ConnectorController.h"
#include "RunTask.h"

#include <QFileInfo>
#include <gtest/gtest.h>

#include <optional>

using nlohmann::json;

namespace {

// The stand-in bridge as a real child process, serving the admin channel where this process looks for it.
class StandinRefresh : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFileInfo(StandinBridgeProcess::program()).isExecutable()) << "build bridge-standin";
        // Nothing of this test may pull in the background-item work or the launch check.
        ControllerTestAccess::background(controller, Background::Enabled{});
        controller.checkedCliOnLaunch = true;
    }

    void TearDown() override { stop(); }

    void start(const json& scenario) {
        bridge_.emplace(scenario);
        ASSERT_TRUE(bridge_->started());
    }

    void stop() { bridge_.reset(); }

    void refresh() { TestSupport::runTask(controller.refresh(), std::chrono::seconds(10)); }

    FakeBackgroundService service, statusItem;
    json info = json::object();
    ConnectorController controller{Platform{service, statusItem, info}};
    std::optional<StandinBridgeProcess> bridge_;
};

TEST_F(StandinRefresh, ReadsTheStandinsStateAndLosesItWhenItStops) {
    const json scenario = json::parse(R"({
        "status": {"port": 48123, "bridgeVersion": "0.18.2", "open": 1,
                   "engines": [{"engine": "claude_code", "installed": true, "version": "1.0.38", "login": "logged_in"},
                               {"engine": "evox", "installed": false}],
                   "cliTools": {"busy": false, "message": "检查完了",
                                "tools": [{"engine": "claude_code", "currentVersion": "1.0.38",
                                           "latestVersion": "1.0.40", "updateAvailable": true,
                                           "checkedAt": "2025-03-01T08:15:30Z"},
                                          {"engine": "evox", "currentVersion": "1"}]}},
        "pairings": [{"id": "p1", "profileLabel": "小王", "clientName": "Orvane Mac"}, {"id": "p2"}]})");
    start(scenario);
    refresh();

    ASSERT_TRUE(controller.bridge());
    EXPECT_EQ(controller.bridge()->port, 48123);
    EXPECT_EQ(controller.bridge()->openRuns, 1);
    EXPECT_TRUE(controller.bridge()->managed);
    EXPECT_TRUE(controller.bridge()->startedAt) << "the stand-in's start time parses";
    ASSERT_EQ(controller.engines().size(), 1);
    EXPECT_EQ(controller.engines()[0].summary, QStringLiteral("1.0.38 · 已登录"));
    ASSERT_EQ(controller.cliTools().size(), 1) << "evox is hidden while no engine lists it";
    EXPECT_TRUE(controller.cliTools()[0].checked);
    EXPECT_EQ(controller.pairings().size(), 2);
    EXPECT_EQ(controller.pairings()[1].label, QStringLiteral("（未命名账号）"));
    EXPECT_EQ(controller.healthTitle(), QStringLiteral("有 1 项要你看一下"));

    stop();
    refresh();
    EXPECT_FALSE(controller.running());
    EXPECT_TRUE(controller.pairings().isEmpty());
    EXPECT_EQ(controller.cliTools().size(), 1) << "the last tool state stays";
    EXPECT_EQ(controller.cliMessage(), QStringLiteral("检查完了"));
    EXPECT_EQ(controller.healthTitle(), QStringLiteral("桥接没在运行"));
}

} // namespace
