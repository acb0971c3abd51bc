#include "Brand.h"
#include "Card.h"
#include "ConnectorPaths.h"
#include "ConnectorSettings.h"
#include "DiagnosticsView.h"
#include "PageFixture.h"
#include "RunTask.h"
#include "Screens.h"
#include "SettingsView.h"
#include "UninstallSheet.h"
#include "ValidationChild.h"
#include "WindowState.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using A = ControllerTestAccess;

struct Pages : ::testing::Test {
    PageFixture f;
    ConnectorController& controller = f.controller;
    WindowState window;
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China)); }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }
};

TEST_F(Pages, StartBridgeOnlyWhenTheItemIsOnAndNoBridgeAnswersAndLastCheckAfterARefresh) {
    const QList<std::tuple<Background, bool, bool>> cases{{Background::Enabled{}, false, true},
                                                          {Background::Enabled{}, true, false},
                                                          {Background::RequiresApproval{}, false, false},
                                                          {Background::Checking{}, false, false}};
    for (const auto& [background, running, shows] : cases) {
        A::background(controller, background);
        A::bridge(controller, running ? std::optional<BridgeStatus>(BridgeStatus{}) : std::nullopt);
        EXPECT_EQ(DiagnosticsModel::from(controller, {}, false).showsStartBridge, shows);
    }
    EXPECT_FALSE(DiagnosticsModel::from(controller, {}, false).lastCheck);
    A::lastRefresh(controller, QDateTime::fromString(QStringLiteral("2026-03-01T09:05:07Z"), Qt::ISODate));
    EXPECT_EQ(DiagnosticsModel::from(controller, {}, false).lastCheck, QStringLiteral("上次检查 09:05:07"));
    const DiagnosticsModel model =
        DiagnosticsModel::from(controller, {{"x", "甲", DiagnosticCheck::Level::fail, "坏"}}, true);
    EXPECT_EQ(model.rows.value(0), (DiagnosticsModel::Row{"x", "xmark.octagon.fill", Tone::red, "甲", "坏"}));
    EXPECT_EQ(model.copyTitle, QStringLiteral("已复制"));
}

TEST_F(Pages, CopyFillsTheClipboardAndSaysCopiedForTwoSeconds) {
    DiagnosticsView view(controller, window);
    QGuiApplication::clipboard()->setText(QStringLiteral("早先的内容"));
    const auto start = std::chrono::steady_clock::now();
    view.copyButton()->click();
    EXPECT_EQ(view.copyButton()->text(), QStringLiteral("已复制"));
    ASSERT_TRUE(TestSupport::spinUntil(
        [] { return QGuiApplication::clipboard()->text().startsWith(QStringLiteral("Orvane 连接器诊断")); },
        20s));
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return view.copyButton()->text() == QStringLiteral("复制诊断信息"); }, 20s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1900ms);
}

TEST_F(Pages, SheetCancelsWithEscapeRemembersTheDataSwitchAndCannotUninstallTwice) {
    SettingsView view(controller, window);
    view.uninstallButton()->click();
    UninstallSheet* sheet = view.sheet();
    ASSERT_TRUE(sheet && sheet->isVisible() && view.confirmsUninstall());
    EXPECT_FALSE(sheet->deleteDataSwitch()->isChecked());
    sheet->deleteDataSwitch()->click();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(sheet, &escape);
    EXPECT_FALSE(sheet->isVisible() || view.confirmsUninstall() || controller.uninstalling());
    view.uninstallButton()->click();
    EXPECT_TRUE(sheet->deleteDataSwitch()->isChecked());

    A::uninstalling(controller, true);
    EXPECT_FALSE(sheet->uninstallButton()->isEnabled());
    A::uninstalling(controller, false);
    // With tool work under way the uninstall only leaves its notice: pressing it here touches nothing.
    A::cliBusy(controller, true);
    sheet->uninstallButton()->click();
    EXPECT_FALSE(view.confirmsUninstall() || sheet->isVisible());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return controller.notice().has_value(); }, 10s));
    EXPECT_TRUE(view.noticeLine()->isVisibleTo(&view));
}

TEST_F(Pages, SwitchesActOnlyWhenFlippedAndTheLoginItemsButtonOnlyForApproval) {
    SettingsView view(controller, window);
    A::statusItemAtLogin(controller, BackgroundService::Status::enabled);
    EXPECT_TRUE(view.statusItemSwitch()->isChecked());
    EXPECT_EQ(f.statusItem.unregisterCalls, 0);
    view.statusItemSwitch()->click();
    // The login item is switched on a worker; its outcome returns through the controller's status.
    EXPECT_TRUE(TestSupport::spinUntil(
        [&] { return controller.statusItemAtLogin() != BackgroundService::Status::enabled; }, 10s));
    EXPECT_EQ(f.statusItem.unregisterCalls, 1);
    view.autoInstallSwitch()->click();
    EXPECT_FALSE(ConnectorSettings::autoInstallUpdates());
    ConnectorSettings::setAutoInstallUpdates(true);
    ConnectorSettings::setShowsStatusItemAtLogin(true);
    EXPECT_FALSE(view.loginItemsButton()->isVisibleTo(&view));
    A::statusItemAtLogin(controller, BackgroundService::Status::requiresApproval);
    EXPECT_TRUE(view.loginItemsButton()->isVisibleTo(&view));
}

TEST(PagesValidation, FourCardsGreyInIsolatedValidation) {
    QTemporaryDir validation(ConnectorPaths::validationRoot() +
                             QStringLiteral("/senvik-connector-validation-XXXXXX"));
    expectValidationChildPasses(QStringLiteral("PagesValidationChild.*"), validation.path());
}

TEST(PagesValidationChild, Run) {
    if (!ConnectorPaths::validationDir())
        GTEST_SKIP() << "runs only as the child of PagesValidation";
    PageFixture f;
    WindowState window;
    SettingsView view(f.controller, window);
    QStringList enabled;
    for (const Card* card : view.cards())
        enabled << card->title() + (card->isEnabled() ? "+" : "-");
    EXPECT_EQ(enabled, (QStringList{"外面的会话+", "Strell 单岗位（试验）+", "启动-",
                                    "Orvane 连接器更新（含桥接）-", "Orvane-", "卸载-"}));
}

// The page's height at the window's width, as its scroll area lays it out.
std::string shoot(QWidget& page, const QString& name) {
    page.setFixedWidth(520);
    page.setPalette(Brand::palette());
    page.setAutoFillBackground(true);
    Screens::render(page);
    TestSupport::spinFor(300ms); // the diagnostics page reads its facts on a worker
    page.setFixedHeight(page.heightForWidth(520));
    return Screens::check(page, name);
}

struct DiagnosticsScreens : Pages {};
struct SettingsScreens : Pages {};
struct UninstallSheetScreens : Pages {};

TEST_F(DiagnosticsScreens, normal) {
    BridgeStatus bridge;
    bridge.managed = true, bridge.port = 4820, bridge.version = "0.9.1", bridge.leasesOn = true;
    bridge.startedAt = QDateTime::currentDateTimeUtc().addSecs(-3 * 3600);
    bridge.repoRoot = ConnectorPaths::home() + "/work/company", bridge.repoRoles = 4;
    A::bridge(controller, bridge);
    A::engines(controller,
               {Engine{"codex", "Codex", "", "0.30.0 · 已登录", true, "/usr/local/bin/codex"},
                Engine{"claude_code", "Claude Code", "", "没登录：在终端里运行 claude 登录", false, {}}});
    A::cliTools(controller, {CliTool{"codex", "0.30.0", "0.31.0", true, true, 9, true, "有新版本"}});
    A::background(controller, Background::Enabled{});
    A::statusItemAtLogin(controller, BackgroundService::Status::enabled);
    A::lastRefresh(controller, QDateTime::currentDateTimeUtc());
    f.workspace->installed.insert(ConnectorPaths::senvikApps.first());
    DiagnosticsView view(controller, window);
    EXPECT_EQ(shoot(view, QStringLiteral("diagnostics-normal")), "");
}

TEST_F(DiagnosticsScreens, stopped) {
    A::background(controller, Background::Enabled{});
    DiagnosticsView view(controller, window);
    EXPECT_EQ(shoot(view, QStringLiteral("diagnostics-stopped")), "");
}

TEST_F(SettingsScreens, normal) {
    A::bridge(controller, BridgeStatus{});
    A::statusItemAtLogin(controller, BackgroundService::Status::enabled);
    SettingsView view(controller, window);
    EXPECT_EQ(shoot(view, QStringLiteral("settings-normal")), "");
}

TEST_F(SettingsScreens, notice) {
    A::background(controller, Background::RequiresApproval{});
    A::notice(controller,
              QStringLiteral("已卸载，但还有一个桥接在跑（多半是在终端里手动启动的），所以数据没删"));
    SettingsView view(controller, window);
    EXPECT_EQ(shoot(view, QStringLiteral("settings-notice")), "");
}

TEST_F(UninstallSheetScreens, normalAndUninstalling) {
    bool deletesData = false;
    UninstallSheet sheet(controller, deletesData);
    EXPECT_EQ(Screens::check(sheet, QStringLiteral("uninstall-sheet-normal")), "");
    deletesData = true;
    A::uninstalling(controller, true);
    EXPECT_EQ(Screens::check(sheet, QStringLiteral("uninstall-sheet-uninstalling")), "");
}

} // namespace
