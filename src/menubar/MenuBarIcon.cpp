#include "MenuBarIcon.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QScreen>

#include <cmath>
#include <numbers>

namespace MenuBarIcon {

namespace {

QPointF onArc(QPointF centre, qreal radius, qreal degrees) {
    const qreal radians = degrees * std::numbers::pi / 180.0;
    return {centre.x() + radius * std::cos(radians), centre.y() + radius * std::sin(radians)};
}

// An arc with θ rising from `from` to `to` in a y-down space, as a path of short segments: QPainterPath's own
// arcs measure angles counter-clockwise with y up, which would mirror the geometry.
void appendArc(QPainterPath& path, QPointF centre, qreal radius, qreal from, qreal to, bool moveFirst) {
    const int steps = std::max(8, int(std::ceil(std::abs(to - from) / 5.0)));
    for (int i = 0; i <= steps; ++i) {
        const QPointF point = onArc(centre, radius, from + (to - from) * i / steps);
        if (i == 0 && moveFirst)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
}

// The drawing in the 18 × 18 point space, origin top left, y downwards. `widen` thickens every line and the
// dot by that many points, for the edge drawn under the lines; only the first pass clears the badge's disc.
void draw(QPainter& painter, State state, const QColor& ink, qreal widen = 0, bool clearDisc = true) {
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal width = 1.3 + widen;

    QPainterPath housing;
    housing.moveTo(4.125, 15.75);
    housing.lineTo(4.125, 7.875);
    appendArc(housing, {9, 7.875}, 4.875, 180, 360, false);
    housing.lineTo(13.875, 15.75);
    housing.closeSubpath();
    QPen housingPen(ink, width, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
    if (state == State::stopped) {
        // Qt measures dash lengths in units of the pen width.
        housingPen.setDashPattern({1.5 / width, 1.3 / width});
        housingPen.setDashOffset(0);
    }
    painter.strokePath(housing, housingPen);

    QColor promptInk = ink;
    promptInk.setAlphaF(ink.alphaF() * (state == State::stopped ? 0.45 : 1.0));
    QPen promptPen(promptInk, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    QPainterPath prompt;
    prompt.moveTo(6.3, 9.5);
    prompt.lineTo(8, 10.9);
    prompt.lineTo(6.3, 12.3);
    prompt.moveTo(9.1, 12.6);
    prompt.lineTo(11.7, 12.6);
    painter.strokePath(prompt, promptPen);

    if (state != State::attention && state != State::busy)
        return;
    if (clearDisc) {
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawEllipse(QRectF(11.2, 0.2, 6.8, 6.8));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (state == State::attention) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        painter.drawEllipse(
            QRectF(12.2, 1.2, 4.8, 4.8).adjusted(-widen / 2, -widen / 2, widen / 2, widen / 2));
    } else {
        QPainterPath arc;
        appendArc(arc, {14.6, 3.6}, 2.3, -30, 240, true);
        painter.setBrush(Qt::NoBrush);
        painter.strokePath(arc, QPen(ink, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }
}

} // namespace

QString accessibilityDescription(State state) {
    switch (state) {
    case State::normal:
        return QStringLiteral("Orvane 连接器：一切正常");
    case State::attention:
        return QStringLiteral("Orvane 连接器：有事要你看一下");
    case State::busy:
        return QStringLiteral("Orvane 连接器：正在检查或更新");
    case State::stopped:
        return QStringLiteral("Orvane 连接器：桥接没在运行");
    }
    return {};
}

QImage render(State state, qreal devicePixelRatio, const QColor& ink, std::optional<QColor> edge) {
    const int side = int(std::ceil(points * devicePixelRatio));
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(devicePixelRatio);
    image.setText(QStringLiteral("Description"), accessibilityDescription(state));
    QPainter painter(&image);
    if (edge) {
        draw(painter, state, *edge, edgeWidth * 2, true);
        draw(painter, state, ink, 0, false);
    } else {
        draw(painter, state, ink);
    }
    return image;
}

QList<qreal> screenRatios() {
    QList<qreal> ratios;
    for (const QScreen* screen : QGuiApplication::screens())
        if (!ratios.contains(screen->devicePixelRatio()))
            ratios << screen->devicePixelRatio();
    if (ratios.isEmpty())
        ratios << 1.0;
    return ratios;
}

QIcon image(State state) {
    // Linux panels show the picture as it is, and the connector cannot know their colour: a light drawing
    // with a dark edge stands out on dark and light panels alike.
    QIcon icon;
    for (const qreal ratio : screenRatios())
        icon.addPixmap(QPixmap::fromImage(render(state, ratio, panelInk, panelEdge)));
    // Trays that ask for a plain 1× picture of a size of their own get the nearest sharp one.
    if (!screenRatios().contains(1.0))
        icon.addPixmap(QPixmap::fromImage(render(state, 1.0, panelInk, panelEdge)));
    return icon;
}

QList<QImage> pictures(State state) {
    QList<QImage> sizes;
    for (const qreal ratio : {1.0, 4.0 / 3.0, 2.0, 8.0 / 3.0})
        sizes << render(state, ratio, panelInk, panelEdge);
    return sizes;
}

QImage applicationIcon(int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal margin = pixels / 16.0;
    const QRectF square(margin, margin, pixels - 2 * margin, pixels - 2 * margin);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xF0, 0x8A, 0x5D));
    painter.drawRoundedRect(square, square.width() * 0.22, square.width() * 0.22);
    // The 18-point drawing, centred on the square with a margin of a fifth of its side.
    const qreal scale = square.width() * 0.64 / points;
    painter.translate(square.center() - QPointF(points * scale / 2, points * scale / 2 + scale * 0.3));
    painter.scale(scale, scale);
    draw(painter, State::normal, Qt::white);
    return image;
}

} // namespace MenuBarIcon
