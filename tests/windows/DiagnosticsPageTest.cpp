#include "Brand.h"
#include "ConnectorPaths.h"
#include "DiagnosticsModel.h"
#include "DiagnosticsView.h"
#include "PageFixture.h"
#include "RunTask.h"
#include "Screens.h"
#include "WindowState.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using Level = DiagnosticCheck::Level;

// A controller whose bundle lies in the temporary HOME's Applications folder, in a Chinese locale.
struct DiagnosticsPage : ::testing::Test {
    FakeBackgroundService service;
    FakeBackgroundService statusItem;
    nlohmann::json info = {{"CFBundleShortVersionString", "1.4.0"}, {"CFBundleVersion", "27"}};
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    ConnectorController controller{
        Platform{service, statusItem, info, workspace, nullptr,
                 ConnectorPaths::home() + QStringLiteral("/Applications/Orvane 连接器.app")}};
    WindowState window;

    void SetUp() override { QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China)); }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    void runningBridge() {
        BridgeStatus bridge;
        bridge.managed = true;
        bridge.port = 4820;
        bridge.version = QStringLiteral("0.9.1");
        bridge.startedAt = QDateTime::currentDateTimeUtc().addSecs(-3 * 3600);
        bridge.repoRoot = ConnectorPaths::home() + QStringLiteral("/work/company");
        bridge.repoRoles = 4;
        bridge.leasesOn = true;
        ControllerTestAccess::bridge(controller, bridge);
        Engine codex{"codex", "Codex", "0.30.0", "0.30.0 · 已登录", true, "/usr/local/bin/codex"};
        Engine claude{"claude_code", "Claude Code", "没登录", "没登录：在终端里运行 claude 登录",
                      false,         std::nullopt};
        ControllerTestAccess::engines(controller, {codex, claude});
        CliTool tool;
        tool.id = QStringLiteral("codex");
        tool.currentVersion = QStringLiteral("0.30.0");
        tool.latestVersion = QStringLiteral("0.31.0");
        tool.models = 9;
        tool.checked = true;
        tool.updateAvailable = true;
        tool.message = QStringLiteral("有新版本");
        ControllerTestAccess::cliTools(controller, {tool});
    }
};

TEST_F(DiagnosticsPage, StartBridgeOnlyWhenTheItemIsOnAndNoBridgeAnswers) {
    const QList<std::tuple<Background, bool, bool>> cases{
        {Background::Enabled{}, false, true},
        {Background::Enabled{}, true, false},
        {Background::RequiresApproval{}, false, false},
        {Background::Checking{}, false, false},
        {Background::WrongLocation{}, false, false},
        {Background::Failed{QStringLiteral("x")}, false, false},
    };
    for (const auto& [background, running, shows] : cases) {
        ControllerTestAccess::background(controller, background);
        ControllerTestAccess::bridge(controller,
                                     running ? std::optional<BridgeStatus>(BridgeStatus{}) : std::nullopt);
        EXPECT_EQ(DiagnosticsModel::from(controller, {}, false).showsStartBridge, shows);
    }
}

TEST_F(DiagnosticsPage, LastCheckOnlyAfterARefresh) {
    EXPECT_FALSE(DiagnosticsModel::from(controller, {}, false).lastCheck);
    ControllerTestAccess::lastRefresh(
        controller, QDateTime::fromString(QStringLiteral("2026-03-01T09:05:07Z"), Qt::ISODate));
    EXPECT_EQ(DiagnosticsModel::from(controller, {}, false).lastCheck, QStringLiteral("上次检查 09:05:07"));
}

TEST_F(DiagnosticsPage, RowsCarryTheLevelsSymbolAndColour) {
    const QList<DiagnosticCheck> checks{
        {"a", "甲", Level::pass, "好"}, {"b", "乙", Level::warn, "看看"}, {"c", "丙", Level::fail, "坏"}};
    const DiagnosticsModel model = DiagnosticsModel::from(controller, checks, true);
    ASSERT_EQ(model.rows.size(), 3);
    EXPECT_EQ(model.rows[0], (DiagnosticsModel::Row{"a", "checkmark.circle.fill", Tone::green, "甲", "好"}));
    EXPECT_EQ(model.rows[1],
              (DiagnosticsModel::Row{"b", "exclamationmark.triangle.fill", Tone::orange, "乙", "看看"}));
    EXPECT_EQ(model.rows[2], (DiagnosticsModel::Row{"c", "xmark.octagon.fill", Tone::red, "丙", "坏"}));
    EXPECT_EQ(model.copyTitle, QStringLiteral("已复制"));
    EXPECT_EQ(DiagnosticsModel::from(controller, checks, false).copyTitle, QStringLiteral("复制诊断信息"));
}

TEST_F(DiagnosticsPage, RowsAreKeptWhenTheStateChanges) {
    DiagnosticsView view(controller, window);
    ASSERT_EQ(view.model().rows.size(), 7);
    const QLabel* firstTitle = view.findChildren<QLabel*>().value(0);
    runningBridge();
    EXPECT_EQ(view.model().rows.size(), 12);
    EXPECT_EQ(view.findChildren<QLabel*>().value(0), firstTitle);
    ControllerTestAccess::bridge(controller, std::nullopt);
    EXPECT_EQ(view.model().rows.size(), 7);
}

TEST_F(DiagnosticsPage, CopyFillsTheClipboardAndSaysCopiedForTwoSeconds) {
    DiagnosticsView view(controller, window);
    QGuiApplication::clipboard()->setText(QStringLiteral("早先的内容"));
    const auto start = std::chrono::steady_clock::now();
    view.copyButton()->click();
    EXPECT_EQ(view.copyButton()->text(), QStringLiteral("已复制"));
    ASSERT_TRUE(TestSupport::spinUntil(
        [] {
            return QGuiApplication::clipboard()->text().startsWith(QStringLiteral("Orvane 连接器诊断 · "));
        },
        20s));
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return view.copyButton()->text() == QStringLiteral("复制诊断信息"); }, 20s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1900ms);
}

TEST_F(DiagnosticsPage, RecheckRefreshes) {
    ControllerTestAccess::background(controller, Background::Enabled{}); // no registration on refresh
    DiagnosticsView view(controller, window);
    EXPECT_FALSE(view.lastCheckLabel()->isVisibleTo(&view));
    view.recheckButton()->click();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return controller.lastRefresh().has_value(); }, 20s));
    EXPECT_TRUE(view.lastCheckLabel()->isVisibleTo(&view));
    EXPECT_TRUE(view.lastCheckLabel()->text().startsWith(QStringLiteral("上次检查 ")));
}

QString shoot(DiagnosticsView& view, const QString& name) {
    view.setFixedWidth(520);
    view.setPalette(Brand::palette());
    view.setAutoFillBackground(true);
    Screens::render(view); // shows it, so the facts are read
    TestSupport::spinFor(300ms);
    view.setFixedHeight(view.heightForWidth(520)); // as the window's scroll area lays it out
    return Screens::write(view, name);
}

struct DiagnosticsScreens : DiagnosticsPage {};

TEST_F(DiagnosticsScreens, normal) {
    runningBridge();
    ControllerTestAccess::background(controller, Background::Enabled{});
    ControllerTestAccess::statusItemAtLogin(controller, BackgroundService::Status::enabled);
    ControllerTestAccess::pairings(controller,
                                   {Pairing{"p", "王小明", "a1b2c3", "Orvane Mac", std::nullopt}});
    ControllerTestAccess::lastRefresh(controller, QDateTime::currentDateTimeUtc());
    workspace->installed.insert(ConnectorPaths::senvikApps.first());
    DiagnosticsView view(controller, window);
    EXPECT_FALSE(shoot(view, QStringLiteral("diagnostics-normal")).isEmpty());
    EXPECT_FALSE(view.startBridgeButton()->isVisibleTo(&view));
}

TEST_F(DiagnosticsScreens, stopped) {
    ControllerTestAccess::background(controller, Background::Enabled{});
    DiagnosticsView view(controller, window);
    EXPECT_FALSE(shoot(view, QStringLiteral("diagnostics-stopped")).isEmpty());
    EXPECT_TRUE(view.startBridgeButton()->isVisibleTo(&view));
}

} // namespace
