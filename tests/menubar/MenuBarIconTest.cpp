#include "MenuBarIcon.h"

#include <QImage>
#include <gtest/gtest.h>

#include <cmath>

namespace {

using State = MenuBarIcon::State;

enum class Ink { ink, clear, faint, any };

// Alpha of the pixel that holds the point (x, y), given in points.
int alphaAt(const QImage& image, qreal ratio, qreal x, qreal y) {
    return image.pixelColor(int(std::floor(x * ratio)), int(std::floor(y * ratio))).alpha();
}

struct Probe {
    const char* what;
    qreal x, y;
    qreal ratio;
    Ink normal, attention, busy, stopped;
};

// Points chosen from the geometry, each where a state differs from another: the left wall inside a gap of
// the dashes, the wall in the first dash, the housing's arc inside the cleared disc, the dot's centre, the
// bottom of the busy arc and the prompt's underscore.
const Probe probes[] = {
    {"wall in a dash gap, 1x", 4.125, 13.6, 1, Ink::ink, Ink::ink, Ink::ink, Ink::clear},
    {"wall in a dash gap, 2x", 4.125, 13.6, 2, Ink::ink, Ink::ink, Ink::ink, Ink::clear},
    {"wall in the first dash, 2x", 4.125, 15.0, 2, Ink::ink, Ink::ink, Ink::ink, Ink::ink},
    {"arc inside the cleared disc, 2x", 11.8, 3.88, 2, Ink::ink, Ink::clear, Ink::any, Ink::any},
    {"dot centre, 1x", 14.6, 3.6, 1, Ink::clear, Ink::ink, Ink::clear, Ink::clear},
    {"dot centre, 2x", 14.6, 3.6, 2, Ink::clear, Ink::ink, Ink::clear, Ink::clear},
    {"bottom of the busy arc, 2x", 14.6, 5.9, 2, Ink::clear, Ink::any, Ink::ink, Ink::clear},
    {"underscore, 1x", 10.4, 12.6, 1, Ink::ink, Ink::ink, Ink::ink, Ink::faint},
    {"underscore, 2x", 10.4, 12.6, 2, Ink::ink, Ink::ink, Ink::ink, Ink::faint},
};

void expectInk(Ink expected, int alpha, const char* what, const char* state) {
    switch (expected) {
    case Ink::ink:
        EXPECT_GT(alpha, 180) << what << " in " << state;
        break;
    case Ink::clear:
        EXPECT_LT(alpha, 30) << what << " in " << state;
        break;
    case Ink::faint: // the prompt at opacity 0.45
        EXPECT_NEAR(alpha, 0.45 * 255, 20) << what << " in " << state;
        break;
    case Ink::any:
        break;
    }
}

TEST(MenuBarIcon, KeyPointsOfEachState) {
    for (const Probe& p : probes) {
        const QImage normal = MenuBarIcon::render(State::normal, p.ratio);
        const QImage attention = MenuBarIcon::render(State::attention, p.ratio);
        const QImage busy = MenuBarIcon::render(State::busy, p.ratio);
        const QImage stopped = MenuBarIcon::render(State::stopped, p.ratio);
        expectInk(p.normal, alphaAt(normal, p.ratio, p.x, p.y), p.what, "normal");
        expectInk(p.attention, alphaAt(attention, p.ratio, p.x, p.y), p.what, "attention");
        expectInk(p.busy, alphaAt(busy, p.ratio, p.x, p.y), p.what, "busy");
        expectInk(p.stopped, alphaAt(stopped, p.ratio, p.x, p.y), p.what, "stopped");
    }
}

TEST(MenuBarIcon, SizeRatioAndDescriptions) {
    const struct {
        State state;
        const char* description;
    } cases[] = {
        {State::normal, "Orvane 连接器：一切正常"},
        {State::attention, "Orvane 连接器：有事要你看一下"},
        {State::busy, "Orvane 连接器：正在检查或更新"},
        {State::stopped, "Orvane 连接器：桥接没在运行"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MenuBarIcon::accessibilityDescription(c.state), QString::fromUtf8(c.description));
        const QImage twice = MenuBarIcon::render(c.state, 2);
        EXPECT_EQ(twice.size(), QSize(36, 36));
        EXPECT_EQ(twice.devicePixelRatio(), 2);
        EXPECT_EQ(twice.text(QStringLiteral("Description")), QString::fromUtf8(c.description));
    }
    // Outside the drawing nothing is painted: the corners stay transparent.
    EXPECT_EQ(MenuBarIcon::render(State::normal, 1).pixelColor(0, 0).alpha(), 0);
}

TEST(MenuBarIcon, InkColourIsTheCallers) {
    const QImage white = MenuBarIcon::render(State::normal, 2, Qt::white);
    const QColor pixel = white.pixelColor(int(10.4 * 2), int(12.6 * 2));
    EXPECT_GT(pixel.alpha(), 180);
    EXPECT_GT(pixel.red(), 240);
}

TEST(MenuBarIcon, ApplicationIconFillsItsSquare) {
    const QImage icon = MenuBarIcon::applicationIcon(64);
    EXPECT_EQ(icon.size(), QSize(64, 64));
    EXPECT_EQ(icon.pixelColor(32, 6).alpha(), 255) << "the brand square";
    EXPECT_EQ(icon.pixelColor(0, 0).alpha(), 0) << "rounded corner";
}

} // namespace
