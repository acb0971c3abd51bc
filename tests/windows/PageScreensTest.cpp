#include "Brand.h"
#include "OverviewView.h"
#include "PageStates.h"
#include "Screens.h"
#include "StartView.h"
#include "StatusView.h"
#include "WindowState.h"

#include <QScrollArea>
#include <QScrollBar>
#include <gtest/gtest.h>

using A = ControllerTestAccess;

namespace {

// A page as the window lays it out, pictured at its full height (not only the part the page area shows).
template <typename View> void shoot(ConnectorController& c, const QString& name) {
    WindowState window;
    window.setPage(std::is_same_v<View, StartView> ? WindowPage::start : WindowPage::overview);
    StatusView view(c, window);
    view.setRefreshLoop(false);
    Screens::render(view);
    QWidget* page = view.page(window.page());
    ASSERT_NE(qobject_cast<View*>(page), nullptr);
    const QString path = Screens::write(*page, name);
    EXPECT_FALSE(path.isEmpty()) << name.toStdString();
}

} // namespace

TEST(OverviewScreens, normal) {
    PageFixture f;
    PageStates::normal(f.controller);
    shoot<OverviewView>(f.controller, QStringLiteral("overview-normal"));
}

TEST(OverviewScreens, stopped) {
    PageFixture f;
    A::background(f.controller, Background::Enabled{});
    A::notice(f.controller, QStringLiteral("断开失败：桥接没在运行"));
    A::update(f.controller, UpdateState::NotConfigured{});
    shoot<OverviewView>(f.controller, QStringLiteral("overview-stopped"));
}

TEST(OverviewScreens, attention) {
    PageFixture f;
    PageStates::normal(f.controller);
    A::background(f.controller, Background::RequiresApproval{});
    UpdateInfo info;
    info.version = QStringLiteral("1.5");
    info.build = 31;
    info.notes = QStringLiteral("修好了配对时偶尔卡住");
    A::update(f.controller, UpdateState::Ready{info, QStringLiteral("/tmp/x.app")});
    shoot<OverviewView>(f.controller, QStringLiteral("overview-attention"));
}

TEST(OverviewScreens, busy) {
    PageFixture f;
    PageStates::normal(f.controller);
    A::bridge(f.controller, PageStates::bridge(2));
    A::cliBusy(f.controller, true);
    A::cliMessage(f.controller, QStringLiteral("正在检查执行工具更新…"));
    UpdateInfo info;
    info.version = QStringLiteral("1.5");
    info.build = 31;
    A::update(f.controller, UpdateState::Downloading{info, 12'000'000, 27'000'000});
    shoot<OverviewView>(f.controller, QStringLiteral("overview-busy"));
}

TEST(StartScreens, step1) {
    PageFixture f;
    shoot<StartView>(f.controller, QStringLiteral("start-step1"));
}

TEST(StartScreens, step1Engines) {
    PageFixture f;
    A::bridge(f.controller, PageStates::bridge());
    A::engines(f.controller, {PageStates::engine("codex", false, QStringLiteral("装了，还没登录")),
                              PageStates::engine("claude_code", false, QStringLiteral("没找到"))});
    shoot<StartView>(f.controller, QStringLiteral("start-step1-engines"));
}

TEST(StartScreens, step2) {
    PageFixture f;
    A::bridge(f.controller, PageStates::bridge());
    A::engines(f.controller, {PageStates::engine("codex", true, QStringLiteral("已登录"))});
    shoot<StartView>(f.controller, QStringLiteral("start-step2"));
}

TEST(StartScreens, done) {
    PageFixture f;
    PageStates::normal(f.controller);
    shoot<StartView>(f.controller, QStringLiteral("start-done"));
}

// The whole window content: the page area keeps its 420 points and scrolls what is taller.
TEST(WindowScreens, overviewScrolls) {
    PageFixture f;
    PageStates::normal(f.controller);
    WindowState window;
    window.setPage(WindowPage::overview);
    StatusView view(f.controller, window);
    view.setRefreshLoop(false);
    EXPECT_FALSE(Screens::write(view, QStringLiteral("window-overview")).isEmpty());
    EXPECT_EQ(view.width(), 560);
    EXPECT_EQ(view.scrollArea()->height(), 420);
    QScrollBar* bar = view.scrollArea()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    EXPECT_FALSE(Screens::write(view, QStringLiteral("window-overview-scrolled")).isEmpty());
}

TEST(WindowScreens, start) {
    PageFixture f;
    WindowState window;
    window.setPage(WindowPage::start);
    StatusView view(f.controller, window);
    view.setRefreshLoop(false);
    EXPECT_FALSE(Screens::write(view, QStringLiteral("window-start")).isEmpty());
}
