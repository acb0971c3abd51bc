#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QString>

// The connector's tray icon, drawn in code for each of its four states so every panel and every pixel density
// gets a sharp picture. Stateless.
namespace MenuBarIcon {

enum class State { normal, attention, busy, stopped };

// The icon's size in points (device-independent pixels).
constexpr int points = 18;

// "Orvane 连接器：一切正常" and the other three descriptions, for screen readers.
QString accessibilityDescription(State state);

// One picture at `devicePixelRatio` (18 × 18 points, so 36 × 36 pixels at 2×), transparent background, drawn
// in `ink`. On macOS the ink is black and the image is a template the system tints; on Linux the panel does
// not tint, so the caller passes the colour of the tray's text.
QImage render(State state, qreal devicePixelRatio, const QColor& ink = Qt::black);

// The icon for a state: one picture per device pixel ratio of the screens, in the palette's window text.
QIcon image(State state);

// The device pixel ratios of the connected screens (1 when there is none), each once.
QList<qreal> screenRatios();

// The application icon for desktops: the same housing and prompt in white on a rounded square in the brand
// colour, `pixels` wide and high.
QImage applicationIcon(int pixels);

} // namespace MenuBarIcon
