#include "MenuBarIcon.h"
#include "TrayClick.h"

#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <gtest/gtest.h>

#include <cmath>

namespace {

using State = MenuBarIcon::State;

// How a point should look in a state: ink, transparent, the prompt's 0.45 opacity, or not checked.
enum Ink { ink, clear, faint, any };

// Points, in points, each where one state differs from another: the left wall inside a gap of the dashes and
// inside the first dash, the housing's arc inside the cleared disc, the dot's centre, the bottom of the busy
// arc, the prompt's underscore.
const struct {
    const char* what;
    qreal x, y, ratio;
    Ink normal, attention, busy, stopped;
} probes[] = {
    {"wall in a dash gap", 4.125, 13.6, 1, ink, ink, ink, clear},
    {"wall in a dash gap", 4.125, 13.6, 2, ink, ink, ink, clear},
    {"wall in the first dash", 4.125, 15.0, 2, ink, ink, ink, ink},
    {"arc inside the cleared disc", 11.8, 3.88, 2, ink, clear, any, any},
    {"dot centre", 14.6, 3.6, 1, clear, ink, clear, clear},
    {"dot centre", 14.6, 3.6, 2, clear, ink, clear, clear},
    {"bottom of the busy arc", 14.6, 5.9, 2, clear, any, ink, clear},
    {"underscore", 10.4, 12.6, 1, ink, ink, ink, faint},
    {"underscore", 10.4, 12.6, 2, ink, ink, ink, faint},
};

TEST(MenuBarIcon, KeyPointsOfEachStateAtOneAndTwoTimes) {
    for (const auto& p : probes) {
        const std::pair<State, Ink> states[] = {{State::normal, p.normal},
                                                {State::attention, p.attention},
                                                {State::busy, p.busy},
                                                {State::stopped, p.stopped}};
        for (const auto& [state, expected] : states) {
            const QImage image = MenuBarIcon::render(state, p.ratio);
            const int alpha =
                image.pixelColor(int(std::floor(p.x * p.ratio)), int(std::floor(p.y * p.ratio))).alpha();
            const std::string where = std::string(p.what) + " at " + std::to_string(int(p.ratio)) +
                                      "x, state " + std::to_string(int(state));
            if (expected == ink) {
                EXPECT_GT(alpha, 180) << where;
            } else if (expected == clear) {
                EXPECT_LT(alpha, 30) << where;
            } else if (expected == faint) {
                EXPECT_NEAR(alpha, 0.45 * 255, 20) << where;
            }
        }
    }
}

TEST(MenuBarIcon, SizesDescriptionsAndInk) {
    const std::pair<State, const char*> cases[] = {
        {State::normal, "Orvane 连接器：一切正常"},
        {State::attention, "Orvane 连接器：有事要你看一下"},
        {State::busy, "Orvane 连接器：正在检查或更新"},
        {State::stopped, "Orvane 连接器：桥接没在运行"},
    };
    for (const auto& [state, description] : cases) {
        EXPECT_EQ(MenuBarIcon::accessibilityDescription(state), QString::fromUtf8(description));
        const QImage twice = MenuBarIcon::render(state, 2);
        EXPECT_EQ(twice.size(), QSize(36, 36));
    }
    // On a dark panel the caller's ink is white.
    EXPECT_GT(MenuBarIcon::render(State::normal, 2, Qt::white).pixelColor(20, 25).red(), 240);
    const QImage app = MenuBarIcon::applicationIcon(64);
    EXPECT_EQ(app.pixelColor(32, 6).rgb(), QColor(0xF0, 0x8A, 0x5D).rgb()) << "the brand square";
    EXPECT_EQ(app.pixelColor(0, 0).alpha(), 0) << "a rounded corner";
}

// WCAG contrast between two opaque colours.
double relativeLuminance(QColor c) {
    const auto channel = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
double contrast(QColor a, QColor b) {
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The picture a panel shows, on dark and light panels: enough of the drawing stands out at 3:1 (the WCAG rule
// for graphics), in every state, so the shape is seen and not only a stray pixel.
TEST(MenuBarIcon, StandsOutOnDarkAndLightPanels) {
    for (const State state : {State::normal, State::attention, State::busy, State::stopped}) {
        for (const char* panel : {"#2b2b2b", "#333333", "#f0f0f0"}) {
            QImage shown(18, 18, QImage::Format_ARGB32_Premultiplied);
            shown.fill(QColor(panel));
            QPainter(&shown).drawPixmap(0, 0, MenuBarIcon::image(state).pixmap(QSize(18, 18), 1.0));
            int standingOut = 0;
            for (int y = 0; y < 18; ++y)
                for (int x = 0; x < 18; ++x)
                    standingOut += contrast(shown.pixelColor(x, y), QColor(panel)) >= 3.0;
            EXPECT_GE(standingOut, 30) << "state " << int(state) << " on " << panel;
        }
    }
}

// An embedding tray gets the menu at the icon; on a StatusNotifier host a left click opens the window on the
// page a reopen shows; a middle click does nothing.
TEST(TrayClick, TheTrayKindDecidesWhatAClickDoes) {
    using namespace TrayClick;
    const std::tuple<Tray, Button, bool, Action> cases[] = {
        {Tray::embedded, Button::left, true, PopUpMenu{}},
        {Tray::statusNotifier, Button::left, true, ShowWindow{WindowPage::overview}},
        {Tray::statusNotifier, Button::left, false, ShowWindow{WindowPage::start}},
        {Tray::embedded, Button::middle, true, Nothing{}},
        {Tray::statusNotifier, Button::middle, false, Nothing{}},
    };
    for (const auto& [tray, button, startCompleted, expected] : cases)
        EXPECT_EQ(onClick(tray, button, startCompleted), expected) << int(tray) << int(button);
}

} // namespace
