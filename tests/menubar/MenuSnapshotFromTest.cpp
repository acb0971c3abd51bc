#include "ConnectorController.h"
#include "ConnectorPaths.h"
#include "FakeBackgroundService.h"
#include "MenuSnapshot.h"
#include "Printing.h"
#include "RunTask.h"
#include "ScriptedBridge.h"
#include "StatusMenu.h"

#include <QFile>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <ostream>

namespace {

// A controller whose side trips (background item, tool check, installation, rename) stay out of the way.
class QuietController : public ConnectorController {
public:
    using ConnectorController::ConnectorController;
    QCoro::Task<void> ensureBackgroundItem() override { co_return; }
    QCoro::Task<void> cliAction(QString, std::optional<QString>, bool) override { co_return; }
    void installUpdateIfIdle() override {}
    void renameLegacyBundleIfIdle() override {}
};

const nlohmann::json info = {{"CFBundleShortVersionString", "1.4.0"}, {"CFBundleVersion", "27"}};

QStringList describe(const QList<MenuRow>& rows) {
    QStringList out;
    for (const MenuRow& r : rows)
        out.append(r.id + QStringLiteral(" | ") + r.title);
    return out;
}

} // namespace

TEST(MenuSnapshotFrom, BridgeAwayOnboardingNotCounted) {
    FakeBackgroundService service;
    QuietController controller(Platform{service, service, info});
    QFile::remove(ConnectorPaths::adminSocket());
    TestSupport::runTask(controller.refresh());

    const QDateTime now = QDateTime::currentDateTimeUtc();
    const MenuSnapshot s = MenuSnapshot::from(controller, now, 3, false, true);
    EXPECT_FALSE(s.bridge.has_value());
    EXPECT_TRUE(s.health.is<Health::Stopped>());
    EXPECT_EQ(s.healthTitle, QStringLiteral("桥接没在运行"));
    EXPECT_EQ(s.startRemaining, 0) << "no onboarding nag while the bridge is away";
    EXPECT_FALSE(s.canStartBridge) << "the background item is still being checked";
    EXPECT_EQ(s.version, QStringLiteral("1.4.0（27）"));
    EXPECT_EQ(s.now, now);

    const QStringList rows = describe(StatusMenu::rows(s));
    EXPECT_EQ(rows.mid(0, 4),
              (QStringList{
                  QStringLiteral("health | Orvane 连接器 · 桥接没在运行"),
                  QStringLiteral("stopped | 桥接没在运行：刚开机或刚装好要等几秒；一直这样就点「启动桥接」"),
                  QStringLiteral("after-health | "), QStringLiteral("bridge | 桥接　没在运行")}));
}

TEST(MenuSnapshotFrom, RunningBridgeThroughToTheRows) {
    const nlohmann::json status = {
        {"port", 4317},
        {"open", 2},
        {"engines", {{{"engine", "codex"}, {"version", "0.29.0"}, {"login", "logged_in"}}}},
        {"cliTools",
         {{"busy", true},
          {"operation", "update"},
          {"tools",
           {{{"engine", "codex"},
             {"latestVersion", "1.2.3"},
             {"canUpdate", true},
             {"updateAvailable", true}}}}}},
    };
    const nlohmann::json pairings = nlohmann::json::array({{{"id", "p1"}}});
    ScriptedBridge bridge(ConnectorPaths::adminSocket());
    bridge.result("status", status);
    bridge.result("pairings", pairings);

    FakeBackgroundService service;
    QuietController controller(Platform{service, service, info});
    controller.checkedCliOnLaunch = true;
    controller.holdsAutoInstall = true;
    TestSupport::runTask(controller.refresh());
    ASSERT_TRUE(controller.bridge().has_value());

    const QDateTime now = QDateTime::currentDateTimeUtc();
    struct Case {
        const char* name;
        bool startCompleted;
        qint64 expectedStart;
    };
    const Case cases[] = {{"onboarding open", false, 2}, {"onboarding completed", true, 0}};
    for (const Case& c : cases) {
        const MenuSnapshot s = MenuSnapshot::from(controller, now, 2, c.startCompleted, false);
        EXPECT_EQ(s.startRemaining, c.expectedStart) << c.name;
        EXPECT_EQ(s.openRuns(), 2) << c.name;
        EXPECT_EQ(s.pairings, 1) << c.name;
        EXPECT_TRUE(s.holdsAutoInstall) << c.name;
        EXPECT_FALSE(s.autoInstall) << c.name;
        EXPECT_TRUE(s.cliAvailable && s.cliBusy) << c.name;
        EXPECT_FALSE(s.cliResult.has_value()) << c.name;
    }

    const QStringList rows = describe(StatusMenu::rows(MenuSnapshot::from(controller, now, 2, false, true),
                                                       QLocale(QLocale::Chinese), QTimeZone::utc()));
    const QStringList expected = {
        QStringLiteral("health | Orvane 连接器 · 有 1 项要你看一下"),
        QStringLiteral("attention-0 | 执行工具 Codex 有新版本 1.2.3"),
        QStringLiteral("start | 开始：还差 2 步…"),
        QStringLiteral("after-health | "),
        QStringLiteral("bridge | 桥接　在运行 · 127.0.0.1:4317"),
        QStringLiteral("pairings | 已连接 1 个 Orvane"),
        QStringLiteral("before-connector | "),
        QStringLiteral("connector-section | Orvane 连接器（含桥接）"),
        QStringLiteral("connector-version | 当前 1.4.0（27）"),
        QStringLiteral("connector-update | 检查连接器更新"),
        QStringLiteral("before-cli | "),
        QStringLiteral("cli-section | 执行工具（Codex）"),
        QStringLiteral("engine-codex | Codex　0.29.0 · 已登录 · 可更新到 1.2.3"),
        QStringLiteral("cli-update-codex | 更新 Codex 到 1.2.3（等 Agent 运行跑完）"),
        QStringLiteral("cli-check | 正在更新执行工具…"),
        QStringLiteral("before-open | "),
        QStringLiteral("open-senvik | 打开 Orvane"),
        QStringLiteral("open-window | 打开连接器窗口…"),
        QStringLiteral("diagnostics | 诊断…"),
        QStringLiteral("before-quit | "),
        QStringLiteral("quit | 退出状态栏图标"),
        QStringLiteral("quit-note | 桥接会继续在后台运行"),
    };
    EXPECT_EQ(rows, expected);
}
