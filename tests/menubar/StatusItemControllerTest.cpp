#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"
#include "StandinBridgeProcess.h"

#include "Async.h"
#include "ConnectorController.h"
#include "RunTask.h"
#include "StatusItemController.h"
#include "StatusMenuRenderer.h"
#include "StatusNotifierItem.h"
#include "SystemTools.h"
#include "TempHome.h"

#include <QApplication>
#include <QFile>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using State = MenuBarIcon::State;
using C = MenuCommand::Case;

// A controller whose tool commands and install gate are recorded instead of run.
class ObservedController : public ConnectorController {
public:
    using ConnectorController::ConnectorController;
    QCoro::Task<void> ensureBackgroundItem() override { co_return; }
    QCoro::Task<void> cliAction(QString command, std::optional<QString> engine, bool user) override {
        cliActions << command + ' ' + engine.value_or("-") + (user ? " user" : " auto");
        co_return;
    }
    void installUpdateIfIdle() override { ++installChecks; }

    QStringList cliActions;
    int installChecks = 0;
};

class StatusItem : public ::testing::Test {
protected:
    void SetUp() override {
        service.current = statusItemService.current = BackgroundService::Status::enabled;
        ControllerTestAccess::background(controller, Background::Enabled{});
        controller.checkedCliOnLaunch = true;
    }
    // A refresh started by the item may still be asking the services below on a worker.
    void TearDown() override { Async::ioPool().waitForDone(); }

    std::unique_ptr<StatusItemController> make() {
        return std::make_unique<StatusItemController>(
            controller, [this](WindowPage page) { pages << page; }, [this] { ++terminations; });
    }

    // The item's first refresh has ended and announced itself.
    void settle() {
        TestSupport::spinUntil([&] { return controller.lastRefresh().has_value(); }, 5s);
        TestSupport::spinFor(100ms);
    }
    static BridgeStatus bridge() {
        BridgeStatus b;
        b.port = 4317;
        return b;
    }

    FakeBackgroundService service, statusItemService;
    nlohmann::json info = {{"CFBundleShortVersionString", "1.4.0"}, {"CFBundleVersion", "27"}};
    ObservedController controller{Platform{service, statusItemService, info}};
    QList<WindowPage> pages;
    int terminations = 0;
};

TEST_F(StatusItem, IconStateAndToolTip) {
    Engine unusable;
    unusable.id = unusable.title = "codex";
    const std::optional<CliActivity> activities[] = {std::nullopt, CliActivity(CliActivity::Checking{})};
    const struct {
        const char* name;
        bool bridge;
        bool checking; // the connector's own update check
        bool toolCheck;
        bool attention;
        State state;
        const char* toolTip;
    } cases[] = {
        {"stopped beats an activity", false, true, false, false, State::stopped,
         "Orvane 连接器：正在检查连接器更新…"},
        {"stopped", false, false, false, false, State::stopped, "Orvane 连接器：桥接没在运行"},
        {"an update activity is busy", true, true, false, true, State::busy,
         "Orvane 连接器：正在检查连接器更新…"},
        {"a tool activity is busy", true, false, true, false, State::busy,
         "Orvane 连接器：正在检查执行工具更新…"},
        {"attention", true, false, false, true, State::attention, "Orvane 连接器：有 1 项要你看一下"},
        {"normal", true, false, false, false, State::normal, "Orvane 连接器：一切正常"},
    };
    auto item = make();
    for (const auto& c : cases) {
        ControllerTestAccess::bridge(controller, c.bridge ? std::optional(bridge()) : std::nullopt);
        ControllerTestAccess::update(controller, c.checking ? UpdateState(UpdateState::Checking{})
                                                            : UpdateState(UpdateState::Idle{}));
        ControllerTestAccess::cliActivity(controller, activities[c.toolCheck ? 1 : 0]);
        ControllerTestAccess::engines(controller, c.attention ? QList<Engine>{unusable} : QList<Engine>{});
        item->updateIcon();
        EXPECT_EQ(item->iconState(), c.state) << c.name;
        EXPECT_EQ(item->toolTip(), QString::fromUtf8(c.toolTip)) << c.name;
    }
}

TEST_F(StatusItem, TwoAnnouncementsOfTheSameStateSetTheImageOnceAndTheToolTipTwice) {
    auto item = make();
    settle();
    ASSERT_EQ(item->iconState(), State::stopped) << "no bridge answered";
    const int images = item->imageUpdates(), toolTips = item->toolTipUpdates();
    ControllerTestAccess::bridge(controller, bridge());
    ControllerTestAccess::notice(controller, QStringLiteral("a"));
    ControllerTestAccess::notice(controller, QStringLiteral("b"));
    EXPECT_EQ(item->toolTipUpdates(), toolTips) << "announcements run later, on the main loop";
    ASSERT_TRUE(TestSupport::spinUntil([&] { return item->toolTipUpdates() >= toolTips + 3; }));
    TestSupport::spinFor(50ms);
    EXPECT_EQ(item->toolTipUpdates(), toolTips + 3) << "one run per announcement, none coalesced";
    EXPECT_EQ(item->imageUpdates(), images + 1) << "the state changed once";
    EXPECT_EQ(item->iconState(), State::normal);
}

TEST_F(StatusItem, PerformRunsEachCommand) {
    TestSupport::TempDir records;
    const QString tool = records.file("launchctl"); // the service manager, recording its arguments
    TestSupport::writeFile(tool, "#!/bin/sh\necho \"$@\" > \"$0.args\"\n", 0755);
    controller.serviceManagerTool = tool;
    auto item = make();
    for (const MenuCommand& command :
         {MenuCommand(C::checkCli), MenuCommand::updateCli("codex"), MenuCommand(C::openStart),
          MenuCommand(C::openOverview), MenuCommand(C::openDiagnostics), MenuCommand(C::quit)})
        item->perform(command);
    EXPECT_EQ(controller.cliActions, QStringList({"cli-check - user", "cli-update codex user"}));
    EXPECT_EQ(pages, QList<WindowPage>({WindowPage::start, WindowPage::overview, WindowPage::diagnostics}));
    EXPECT_TRUE(TestSupport::spinUntil([&] { return terminations == 1; }));

    // The update commands, told apart by their effects: with tool work running a request waits, the wait can
    // be withdrawn, and installing at once is refused with the notice; a check without a feed ends at once.
    ControllerTestAccess::cliBusy(controller, true);
    ControllerTestAccess::update(controller, UpdateState::Ready{UpdateInfo{}, QStringLiteral("/staged")});
    item->perform(C::installConnectorUpdate);
    EXPECT_TRUE(controller.waitsToInstall());
    item->perform(C::cancelConnectorUpdateWait);
    EXPECT_FALSE(controller.waitsToInstall() || controller.notice());
    item->perform(C::installConnectorUpdateNow);
    EXPECT_EQ(controller.notice(), QStringLiteral("执行工具正在检查或更新，请结束后再更新连接器"));
    EXPECT_TRUE(controller.update().is<UpdateState::Ready>());
    item->perform(C::checkConnectorUpdate);
    EXPECT_TRUE(controller.update().is<UpdateState::NotConfigured>());
    ControllerTestAccess::cliBusy(controller, false);
    EXPECT_EQ(controller.cliActions.size(), 2) << "the update commands reach only the update pipeline";

    item->perform(C::startBridge);
    QFile args(tool + ".args");
    ASSERT_TRUE(TestSupport::spinUntil([&] { return args.size() > 0; }));
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(args.readAll()), "--user start com.tamrik.senvik.connector.agent.service\n");
    item->perform(C::openSenvik);
    EXPECT_TRUE(TestSupport::spinUntil(
        [&] { return controller.notice() == QStringLiteral("这台 Mac 上没找到 Orvane"); }));
}

TEST_F(StatusItem, TheOpenMenuHoldsTheInstallAndFollowsChanges) {
    auto item = make();
    settle();
    const auto rendered = [&] {
        return item->renderer().itemsConfigured() + item->renderer().itemsCreated();
    };
    const qint64 before = rendered();
    ControllerTestAccess::bridge(controller, bridge());
    TestSupport::spinFor(100ms);
    EXPECT_EQ(rendered(), before) << "a closed menu is rendered when it opens";
    const auto bridgeRow = [&] {
        for (const MenuRow& row : item->renderer().rows())
            if (row.id == QStringLiteral("bridge"))
                return row.title;
        return QString();
    };

    item->menuWillOpen();
    EXPECT_TRUE(controller.holdsAutoInstall);
    EXPECT_EQ(bridgeRow(), QStringLiteral("桥接　在运行 · 127.0.0.1:4317"));
    ControllerTestAccess::bridge(controller, std::nullopt);
    EXPECT_TRUE(TestSupport::spinUntil([&] { return bridgeRow() == QStringLiteral("桥接　没在运行"); }));
    item->menuDidClose();
    EXPECT_FALSE(controller.holdsAutoInstall);
    EXPECT_EQ(controller.installChecks, 0) << "the gate runs after the close, on the main loop";
    EXPECT_TRUE(TestSupport::spinUntil([&] { return controller.installChecks == 1; }));

    // A StatusNotifier host asks for fresh rows before it draws the menu, then tells the opening and closing.
    DBusMenuExport& exported = item->notifierItem().menu();
    exported.aboutToShow(0);
    EXPECT_FALSE(controller.holdsAutoInstall) << "asking is not opening";
    exported.event(0, "opened");
    EXPECT_TRUE(controller.holdsAutoInstall);
    exported.event(0, "closed");
    EXPECT_FALSE(controller.holdsAutoInstall);
    EXPECT_TRUE(TestSupport::spinUntil([&] { return controller.installChecks == 2; }));

    item->menuWillOpen();
    item->menuDidClose();
    item.reset();
    EXPECT_FALSE(TestSupport::spinUntil([&] { return controller.installChecks > 2; }, 500ms))
        << "nothing runs for a status item that is gone";
}

// Offscreen there is no tray host: the status item still refreshes the controller every 10 seconds.
TEST_F(StatusItem, RefreshesTheStandinBridgeEveryTenSecondsWithoutATray) {
    StandinBridgeProcess standin(nlohmann::json::parse(R"({"status": {"port": 48123}, "pairings": []})"));
    ASSERT_TRUE(standin.started());
    QList<std::chrono::steady_clock::time_point> refreshes;
    std::optional<QDateTime> last;
    QObject::connect(&controller, &ConnectorController::changed, &controller, [&] {
        if (controller.lastRefresh() != last) {
            last = controller.lastRefresh();
            refreshes << std::chrono::steady_clock::now();
        }
    });
    auto item = make();
    EXPECT_FALSE(item->inTray());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return refreshes.size() >= 1; }, 5s))
        << "the first refresh at once";
    EXPECT_TRUE(controller.bridge());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return refreshes.size() >= 3; }, 40s));
    for (int i = 1; i < 3; ++i) {
        const auto gap =
            std::chrono::duration_cast<std::chrono::milliseconds>(refreshes[i] - refreshes[i - 1]);
        EXPECT_GE(gap.count(), 9900) << "refresh " << i;
        EXPECT_LE(gap.count(), 15000) << "refresh " << i;
    }

    item->refreshInterval = 200ms;
    ASSERT_TRUE(TestSupport::spinUntil([&] { return refreshes.size() >= 5; }, 20s));
    item.reset();
    TestSupport::spinFor(300ms); // a refresh already under way may still finish
    const qsizetype after = refreshes.size();
    EXPECT_FALSE(TestSupport::spinUntil([&] { return refreshes.size() > after; }, 2s))
        << "the loop ends with its status item";
}

} // namespace
