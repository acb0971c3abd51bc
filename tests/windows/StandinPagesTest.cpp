#include "ConnectorSettings.h"
#include "OverviewView.h"
#include "PageFixture.h"
#include "RunTask.h"
#include "Screens.h"
#include "StandinBridgeProcess.h"
#include "StartView.h"
#include "StatusView.h"
#include "WindowState.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

// The window's own refresh loop against the stand-in bridge as a real child process: the pages fill in
// from what the bridge reports, without anyone calling refresh by hand.
TEST(StandinPages, OverviewAndStartFillInFromTheBridge) {
    if (!QFileInfo(StandinBridgeProcess::program()).isExecutable())
        GTEST_SKIP() << "bridge-standin is not built";
    const nlohmann::json scenario = nlohmann::json::parse(R"({
        "status": {"port": 48123, "bridgeVersion": "0.18.2", "open": 0,
                   "engines": [{"engine": "claude_code", "installed": true, "version": "1.0.38", "login": "logged_in"},
                               {"engine": "evox", "installed": false}],
                   "cliTools": {"busy": false,
                                "tools": [{"engine": "claude_code", "currentVersion": "1.0.38",
                                           "latestVersion": "1.0.40", "updateAvailable": true, "canUpdate": true}]}},
        "pairings": [{"id": "p1", "profileLabel": "小王", "clientName": "Orvane Mac"}]})");
    StandinBridgeProcess bridge(scenario);
    ASSERT_TRUE(bridge.started());

    PageFixture f;
    ControllerTestAccess::background(f.controller, Background::Enabled{});
    f.controller.checkedCliOnLaunch = true;
    WindowState state;
    StatusView view(f.controller, state);
    Screens::render(view);
    ASSERT_TRUE(view.refreshLoopRunning());
    auto* overview = qobject_cast<OverviewView*>(view.page(WindowPage::overview));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !overview->model().pairings.isEmpty(); }, 30s));

    const OverviewModel& m = overview->model();
    ASSERT_GE(m.status.size(), 2);
    EXPECT_EQ(m.status[0].detail, QStringLiteral("在运行 · 127.0.0.1:48123"));
    EXPECT_TRUE(m.status[1].ok);
    EXPECT_EQ(m.pairings[0].label, QStringLiteral("小王"));
    ASSERT_FALSE(m.tools.rows.isEmpty());
    EXPECT_EQ(m.tools.rows[0].heading, QStringLiteral("Claude Code 1.0.38"));
    EXPECT_FALSE(m.callout && m.callout->button == OverviewModel::Callout::Button::startBridge);
    Screens::write(*overview, QStringLiteral("overview-standin"));

    // The start page: a usable engine and a pairing are everything.
    state.setPage(WindowPage::start);
    auto* start = qobject_cast<StartView*>(view.page(WindowPage::start));
    EXPECT_TRUE(start->model().complete);
    Screens::write(*start, QStringLiteral("start-standin"));
    view.hide();
    EXPECT_FALSE(view.refreshLoopRunning());
    ConnectorSettings::setStartCompleted(false);
}
