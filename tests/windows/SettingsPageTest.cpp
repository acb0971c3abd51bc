#include "Brand.h"
#include "Card.h"
#include "ConnectorPaths.h"
#include "ConnectorSettings.h"
#include "PageFixture.h"
#include "RunTask.h"
#include "Screens.h"
#include "SettingsModel.h"
#include "SettingsView.h"
#include "UninstallSheet.h"
#include "ValidationChild.h"
#include "WindowState.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Status = BackgroundService::Status;

struct SettingsPage : ::testing::Test {
    PageFixture f;
    WindowState window;
    ConnectorController& controller = f.controller;

    void TearDown() override { ConnectorSettings::setAutoInstallUpdates(true); }
};

TEST_F(SettingsPage, LoginItemsButtonOnlyWhenApprovalIsNeeded) {
    const QList<std::tuple<Background, Status, bool>> cases{
        {Background::Enabled{}, Status::enabled, false},
        {Background::RequiresApproval{}, Status::enabled, true},
        {Background::Enabled{}, Status::requiresApproval, true},
        {Background::Checking{}, Status::notRegistered, false},
        {Background::Failed{QStringLiteral("x")}, Status::notFound, false},
    };
    for (const auto& [background, statusItem, shows] : cases) {
        ControllerTestAccess::background(controller, background);
        ControllerTestAccess::statusItemAtLogin(controller, statusItem);
        const SettingsModel model = SettingsModel::from(controller, false, true);
        EXPECT_EQ(model.showsLoginItemsButton, shows);
        EXPECT_EQ(model.statusItemAtLogin, statusItem == Status::enabled);
    }
}

TEST_F(SettingsPage, ConnectNeedsARunningBridgeAndTheNoticeFollowsTheController) {
    EXPECT_FALSE(SettingsModel::from(controller, false, true).connectEnabled);
    ControllerTestAccess::bridge(controller, BridgeStatus{});
    EXPECT_TRUE(SettingsModel::from(controller, false, true).connectEnabled);

    SettingsView view(controller, window);
    EXPECT_FALSE(view.noticeLine()->isVisibleTo(&view));
    ControllerTestAccess::notice(controller, QStringLiteral("这台 Mac 上没找到 Orvane"));
    EXPECT_TRUE(view.noticeLine()->isVisibleTo(&view));
    EXPECT_TRUE(view.connectButton()->isEnabled());
}

TEST_F(SettingsPage, SwitchesActOnlyWhenTheUserFlipsThem) {
    SettingsView view(controller, window);
    f.statusItem.current = Status::notRegistered;
    ControllerTestAccess::statusItemAtLogin(controller, Status::enabled); // a render, not a flip
    EXPECT_EQ(f.statusItem.registerCalls + f.statusItem.unregisterCalls, 0);
    EXPECT_TRUE(view.statusItemSwitch()->isChecked());
    view.statusItemSwitch()->click();
    EXPECT_EQ(f.statusItem.unregisterCalls, 1);
    EXPECT_FALSE(ConnectorSettings::showsStatusItemAtLogin());
    ConnectorSettings::setShowsStatusItemAtLogin(true);

    ASSERT_TRUE(view.autoInstallSwitch()->isChecked());
    view.autoInstallSwitch()->click();
    EXPECT_FALSE(ConnectorSettings::autoInstallUpdates());
    EXPECT_FALSE(view.model().autoInstall);
}

TEST_F(SettingsPage, SheetCancelsWithEscapeAndRemembersTheDataSwitch) {
    SettingsView view(controller, window);
    view.uninstallButton()->click();
    ASSERT_TRUE(view.confirmsUninstall());
    UninstallSheet* sheet = view.sheet();
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(sheet->isVisible());
    EXPECT_FALSE(sheet->deleteDataSwitch()->isChecked()); // off each time the page is created
    sheet->deleteDataSwitch()->click();
    EXPECT_TRUE(view.deletesData());

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(sheet, &escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(view.confirmsUninstall());
    EXPECT_FALSE(controller.uninstalling());

    view.uninstallButton()->click();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(sheet->deleteDataSwitch()->isChecked());
    sheet->cancelButton()->click();
    EXPECT_FALSE(view.confirmsUninstall());
}

TEST_F(SettingsPage, UninstallCannotBePressedTwice) {
    SettingsView view(controller, window);
    view.setConfirmsUninstall(true);
    UninstallSheet* sheet = view.sheet();
    EXPECT_TRUE(sheet->uninstallButton()->isEnabled());
    EXPECT_TRUE(UninstallSheetModel::from(controller, false).uninstallEnabled);
    ControllerTestAccess::uninstalling(controller, true);
    EXPECT_FALSE(sheet->uninstallButton()->isEnabled());
    EXPECT_FALSE(UninstallSheetModel::from(controller, true).uninstallEnabled);
    ControllerTestAccess::uninstalling(controller, false);

    // While tool work runs the uninstall only leaves its notice, so pressing it here touches nothing.
    ControllerTestAccess::cliBusy(controller, true);
    sheet->uninstallButton()->click();
    EXPECT_FALSE(view.confirmsUninstall());
    EXPECT_FALSE(sheet->isVisible());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return controller.notice().has_value(); }, 10s));
    EXPECT_EQ(controller.notice(), QStringLiteral("执行工具正在检查或更新，请结束后再卸载连接器"));
}

TEST(SettingsPageValidation, FourCardsGreyInIsolatedValidation) {
    QTemporaryDir validation(ConnectorPaths::validationRoot() +
                             QStringLiteral("/senvik-connector-validation-XXXXXX"));
    ASSERT_TRUE(validation.isValid());
    expectValidationChildPasses(QStringLiteral("SettingsPageValidationChild.*"), validation.path());
}

TEST(SettingsPageValidationChild, Run) {
    if (!ConnectorPaths::validationDir())
        GTEST_SKIP() << "runs only as the child of SettingsPageValidation";
    PageFixture f;
    WindowState window;
    ControllerTestAccess::bridge(f.controller, BridgeStatus{});
    SettingsView view(f.controller, window);
    const QList<Card*> cards = view.cards();
    ASSERT_EQ(cards.size(), 6);
    EXPECT_TRUE(cards[0]->isEnabled());
    EXPECT_TRUE(cards[1]->isEnabled());
    for (int i = 2; i < 6; ++i)
        EXPECT_FALSE(cards[i]->isEnabled()) << cards[i]->title().toStdString();
    EXPECT_FALSE(view.uninstallButton()->isEnabledTo(nullptr) && view.uninstallButton()->isEnabled());
    EXPECT_FALSE(view.model().systemCardsEnabled);
}

QString shoot(QWidget& widget, const QString& name, int width) {
    widget.setFixedWidth(width);
    widget.setPalette(Brand::palette());
    widget.setAutoFillBackground(true);
    // The page's height at that width, as the window's scroll area gives it; adjustSize() alone measures
    // wrapped notes at the wider preferred width.
    Screens::render(widget);
    widget.setFixedHeight(widget.heightForWidth(width));
    return Screens::write(widget, name);
}

struct SettingsScreens : SettingsPage {};

TEST_F(SettingsScreens, normal) {
    ControllerTestAccess::bridge(controller, BridgeStatus{});
    ControllerTestAccess::statusItemAtLogin(controller, Status::enabled);
    SettingsView view(controller, window);
    EXPECT_FALSE(shoot(view, QStringLiteral("settings-normal"), 520).isEmpty());
}

TEST_F(SettingsScreens, approvalAndNotice) {
    ControllerTestAccess::background(controller, Background::RequiresApproval{});
    ControllerTestAccess::notice(
        controller, QStringLiteral("已卸载，但还有一个桥接在跑（多半是在终端里手动启动的），所以数据没删"));
    SettingsView view(controller, window);
    EXPECT_FALSE(shoot(view, QStringLiteral("settings-notice"), 520).isEmpty());
}

struct UninstallSheetScreens : SettingsPage {};

TEST_F(UninstallSheetScreens, normal) {
    bool deletesData = false;
    UninstallSheet sheet(controller, deletesData);
    EXPECT_FALSE(Screens::write(sheet, QStringLiteral("uninstall-sheet-normal")).isEmpty());
}

TEST_F(UninstallSheetScreens, uninstalling) {
    bool deletesData = true;
    ControllerTestAccess::uninstalling(controller, true);
    UninstallSheet sheet(controller, deletesData);
    EXPECT_FALSE(Screens::write(sheet, QStringLiteral("uninstall-sheet-uninstalling")).isEmpty());
}

} // namespace
