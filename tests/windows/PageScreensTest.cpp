#include "PageStates.h"

#include <QScrollArea>
#include <QScrollBar>
#include <gtest/gtest.h>

using A = ControllerTestAccess;
using SetUp = void (*)(ConnectorController&);

namespace {

// A page as the window lays it out, pictured at its full height (not only the part the page area shows).
template <typename View> void shoot(const QString& name, SetUp setUp) {
    const PageStates::Window<> w(std::is_same_v<View, StartView> ? WindowPage::start : WindowPage::overview,
                                 setUp);
    QWidget* page = w.view->page(w.state.page());
    ASSERT_NE(qobject_cast<View*>(page), nullptr);
    EXPECT_EQ(Screens::check(*page, name), "") << name.toStdString();
}

void nothing(ConnectorController&) {}

} // namespace

TEST(OverviewScreens, normal) {
    shoot<OverviewView>(QStringLiteral("overview-normal"), PageStates::normal);
}

TEST(OverviewScreens, stopped) {
    shoot<OverviewView>(QStringLiteral("overview-stopped"), [](ConnectorController& c) {
        A::background(c, Background::Enabled{});
        A::notice(c, QStringLiteral("断开失败：桥接没在运行"));
        A::update(c, UpdateState::NotConfigured{});
    });
}

TEST(OverviewScreens, attention) {
    shoot<OverviewView>(QStringLiteral("overview-attention"), [](ConnectorController& c) {
        PageStates::normal(c);
        A::background(c, Background::RequiresApproval{});
        A::update(c, UpdateState::Ready{PageStates::build31(QStringLiteral("修好了配对时偶尔卡住")),
                                        QStringLiteral("/tmp/x.app")});
    });
}

TEST(OverviewScreens, busy) {
    shoot<OverviewView>(QStringLiteral("overview-busy"), [](ConnectorController& c) {
        PageStates::normal(c);
        A::bridge(c, PageStates::bridge(2));
        A::cliBusy(c, true);
        A::cliMessage(c, QStringLiteral("正在检查执行工具更新…"));
        A::update(c, UpdateState::Downloading{PageStates::build31(), 12'000'000, 27'000'000});
    });
}

TEST(StartScreens, step1) {
    shoot<StartView>(QStringLiteral("start-step1"), nothing);
}

TEST(StartScreens, step1Engines) {
    shoot<StartView>(QStringLiteral("start-step1-engines"), [](ConnectorController& c) {
        A::bridge(c, PageStates::bridge());
        A::engines(c, {PageStates::engine("codex", false, QStringLiteral("装了，还没登录")),
                       PageStates::engine("claude_code", false, QStringLiteral("没找到"))});
    });
}

TEST(StartScreens, step2) {
    shoot<StartView>(QStringLiteral("start-step2"), [](ConnectorController& c) {
        A::bridge(c, PageStates::bridge());
        A::engines(c, {PageStates::engine("codex", true, QStringLiteral("已登录"))});
    });
}

TEST(StartScreens, done) {
    shoot<StartView>(QStringLiteral("start-done"), PageStates::normal);
}

// The whole window content: the page area keeps its 420 points and scrolls what is taller.
TEST(WindowScreens, overviewScrolls) {
    const PageStates::Window<> w(WindowPage::overview);
    EXPECT_EQ(Screens::check(*w.view, QStringLiteral("window-overview")), "");
    EXPECT_EQ(w.view->width(), 560);
    EXPECT_EQ(w.view->scrollArea()->height(), 420);
    QScrollBar* bar = w.view->scrollArea()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    EXPECT_EQ(Screens::check(*w.view, QStringLiteral("window-overview-scrolled")), "");
}

TEST(WindowScreens, start) {
    const PageStates::Window<> w(WindowPage::start, nothing);
    EXPECT_EQ(Screens::check(*w.view, QStringLiteral("window-start")), "");
}
