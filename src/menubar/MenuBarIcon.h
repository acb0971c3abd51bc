#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QString>

#include <optional>

// The connector's tray icon, drawn in code for each of its four states so every panel and every pixel density
// gets a sharp picture. Stateless.
namespace MenuBarIcon {

enum class State { normal, attention, busy, stopped };

// The icon's size in points (device-independent pixels).
constexpr int points = 18;

// "Orvane 连接器：一切正常" and the other three descriptions, for screen readers.
QString accessibilityDescription(State state);

// The colours of the tray icon on Linux, where panels neither tint pictures nor tell their colour: the
// light ink stands out on dark panels (#2b2b2b to #333333, 12:1 and more), the dark edge around every line
// on light ones (#f0f0f0, 17:1).
inline const QColor panelInk{0xf5, 0xf5, 0xf5};
inline const QColor panelEdge{0x14, 0x14, 0x14};
// How far the edge reaches beyond each side of a line, in points.
constexpr qreal edgeWidth = 1.0;

// One picture at `devicePixelRatio` (18 × 18 points, so 36 × 36 pixels at 2×), transparent background, drawn
// in `ink`, over an `edge` of that colour around every line when given. On macOS the ink is black and the
// image is a template the system tints.
QImage render(State state, qreal devicePixelRatio, const QColor& ink = Qt::black,
              std::optional<QColor> edge = std::nullopt);

// The icon for a state: one picture per device pixel ratio of the screens, in the panel ink with its edge.
QIcon image(State state);

// The icon for hosts that pick a picture by its size in pixels (StatusNotifier hosts): 18, 24, 36 and 48
// pixels wide, in the panel ink with its edge.
QList<QImage> pictures(State state);

// The device pixel ratios of the connected screens (1 when there is none), each once.
QList<qreal> screenRatios();

// The application icon for desktops: the same housing and prompt in white on a rounded square in the brand
// colour, `pixels` wide and high.
QImage applicationIcon(int pixels);

} // namespace MenuBarIcon
