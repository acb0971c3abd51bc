#include "Symbols.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>
#include <functional>
#include <map>

namespace {

// Drawing on the 24 × 24 grid. `ink` paints in the symbol's colour; `cut` removes paint (inner marks of
// filled symbols). Both take a path and a stroke width (0: fill the path).
struct Pen {
    QPainter& painter;
    QColor color;
    qreal weight; // stroke multiplier

    void stroke(const QPainterPath& path, qreal width, bool erase = false) const {
        QPen pen(erase ? QColor(Qt::black) : color, width * weight, Qt::SolidLine, Qt::RoundCap,
                 Qt::RoundJoin);
        painter.save();
        if (erase)
            painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.restore();
    }
    void fill(const QPainterPath& path, bool erase = false) const {
        painter.save();
        if (erase)
            painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        painter.setPen(Qt::NoPen);
        painter.setBrush(erase ? QColor(Qt::black) : color);
        painter.drawPath(path);
        painter.restore();
    }
};

QPainterPath circle(qreal cx, qreal cy, qreal r) {
    QPainterPath p;
    p.addEllipse(QPointF(cx, cy), r, r);
    return p;
}

QPainterPath line(std::initializer_list<QPointF> points) {
    QPainterPath p;
    bool first = true;
    for (const QPointF& point : points) {
        if (first)
            p.moveTo(point);
        else
            p.lineTo(point);
        first = false;
    }
    return p;
}

QPainterPath checkPath() {
    return line({{6.8, 12.4}, {10.6, 16.2}, {17.4, 7.8}});
}

// An exclamation mark centred on x = 12 between `top` and `bottom` (the dot's centre).
void exclamation(const Pen& pen, qreal top, qreal bottom, bool erase) {
    const qreal barEnd = bottom - 3.6;
    pen.stroke(line({{12, top}, {12, barEnd}}), 2.5, erase);
    pen.fill(circle(12, bottom, 1.45), erase);
}

QPainterPath roundedTriangle() {
    QPainterPath p;
    p.moveTo(10.2, 3.6);
    p.quadTo(12, 0.9, 13.8, 3.6);
    p.lineTo(22.0, 18.2);
    p.quadTo(23.4, 21.0, 20.2, 21.0);
    p.lineTo(3.8, 21.0);
    p.quadTo(0.6, 21.0, 2.0, 18.2);
    p.closeSubpath();
    return p;
}

QPainterPath octagon(qreal cx, qreal cy, qreal r) {
    QPolygonF polygon;
    for (int i = 0; i < 8; ++i) {
        const qreal angle = (22.5 + 45.0 * i) * M_PI / 180.0;
        polygon << QPointF(cx + r * std::cos(angle), cy + r * std::sin(angle));
    }
    QPainterPath p;
    p.addPolygon(polygon);
    p.closeSubpath();
    return p;
}

QPainterPath cross(qreal cx, qreal cy, qreal half) {
    QPainterPath p;
    p.moveTo(cx - half, cy - half);
    p.lineTo(cx + half, cy + half);
    p.moveTo(cx + half, cy - half);
    p.lineTo(cx - half, cy + half);
    return p;
}

using Drawing = std::function<void(const Pen&)>;

const std::map<QString, Drawing>& drawings() {
    static const std::map<QString, Drawing> table = {
        {QStringLiteral("circle"), [](const Pen& pen) { pen.stroke(circle(12, 12, 9.6), 1.8); }},
        {QStringLiteral("circle.fill"), [](const Pen& pen) { pen.fill(circle(12, 12, 10.5)); }},
        {QStringLiteral("checkmark"),
         [](const Pen& pen) {
             pen.stroke(line({{4.5, 12.8}, {9.6, 18.0}, {19.5, 5.8}}), 2.6);
         }},
        {QStringLiteral("checkmark.circle.fill"),
         [](const Pen& pen) {
             pen.fill(circle(12, 12, 10.5));
             pen.stroke(checkPath(), 2.3, true);
         }},
        {QStringLiteral("exclamationmark.circle.fill"),
         [](const Pen& pen) {
             pen.fill(circle(12, 12, 10.5));
             exclamation(pen, 6.6, 16.8, true);
         }},
        {QStringLiteral("xmark.circle.fill"),
         [](const Pen& pen) {
             pen.fill(circle(12, 12, 10.5));
             pen.stroke(cross(12, 12, 4.0), 2.3, true);
         }},
        {QStringLiteral("pause.circle.fill"),
         [](const Pen& pen) {
             pen.fill(circle(12, 12, 10.5));
             pen.stroke(line({{9.4, 8.2}, {9.4, 15.8}}), 2.5, true);
             pen.stroke(line({{14.6, 8.2}, {14.6, 15.8}}), 2.5, true);
         }},
        {QStringLiteral("info.circle"),
         [](const Pen& pen) {
             pen.stroke(circle(12, 12, 9.6), 1.8);
             pen.fill(circle(12, 7.6, 1.35));
             pen.stroke(line({{12, 11.0}, {12, 16.8}}), 2.2);
         }},
        {QStringLiteral("exclamationmark.triangle"),
         [](const Pen& pen) {
             pen.stroke(roundedTriangle(), 1.8);
             exclamation(pen, 8.6, 17.4, false);
         }},
        {QStringLiteral("exclamationmark.triangle.fill"),
         [](const Pen& pen) {
             pen.fill(roundedTriangle());
             exclamation(pen, 8.6, 17.4, true);
         }},
        {QStringLiteral("xmark.octagon.fill"),
         [](const Pen& pen) {
             pen.fill(octagon(12, 12, 11.0));
             pen.stroke(cross(12, 12, 4.0), 2.4, true);
         }},
        {QStringLiteral("point.3.connected.trianglepath.dotted"),
         [](const Pen& pen) {
             const QPointF top(12, 4.5), left(4.5, 18.5), right(19.5, 18.5);
             QPainterPath edges = line({top, left, right, top});
             pen.painter.save();
             QPen dotted(pen.color, 1.6 * pen.weight, Qt::CustomDashLine, Qt::RoundCap, Qt::RoundJoin);
             dotted.setDashPattern({0.01, 2.2});
             pen.painter.setPen(dotted);
             pen.painter.setBrush(Qt::NoBrush);
             pen.painter.drawPath(edges);
             pen.painter.restore();
             for (const QPointF& node : {top, left, right})
                 pen.fill(circle(node.x(), node.y(), 3.3));
         }},
        {QStringLiteral("terminal"),
         [](const Pen& pen) {
             QPainterPath frame;
             frame.addRoundedRect(QRectF(2.2, 4.0, 19.6, 16.0), 3.2, 3.2);
             pen.stroke(frame, 1.7);
             pen.stroke(line({{6.4, 9.0}, {9.6, 12.0}, {6.4, 15.0}}), 1.8);
             pen.stroke(line({{11.6, 15.2}, {16.8, 15.2}}), 1.8);
         }},
        {QStringLiteral("person.crop.circle.fill"),
         [](const Pen& pen) {
             pen.fill(circle(12, 12, 11.0));
             pen.fill(circle(12, 9.4, 3.9), true);
             QPainterPath body;
             body.addEllipse(QPointF(12, 21.6), 7.6, 6.0);
             pen.fill(body.intersected(circle(12, 12, 9.4)), true);
         }},
        {QStringLiteral("arrow.right"),
         [](const Pen& pen) {
             pen.stroke(line({{3.5, 12}, {20, 12}}), 2.2);
             pen.stroke(line({{13.2, 5.2}, {20, 12}, {13.2, 18.8}}), 2.2);
         }},
        {QStringLiteral("arrow.clockwise"),
         [](const Pen& pen) {
             QPainterPath arc;
             arc.arcMoveTo(QRectF(4, 4, 16, 16), 60);
             arc.arcTo(QRectF(4, 4, 16, 16), 60, -300);
             pen.stroke(arc, 2.0);
             pen.stroke(line({{13.0, 3.6}, {16.4, 5.2}, {14.6, 8.6}}), 2.0);
         }},
    };
    return table;
}

} // namespace

namespace Symbols {

QStringList names() {
    QStringList list;
    for (const auto& [name, drawing] : drawings())
        list << name;
    return list;
}

bool has(const QString& name) {
    return drawings().count(name) != 0;
}

int sizeForFont(int fontSize) {
    return qRound(fontSize * 1.2);
}

bool paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& color, bool bold) {
    const auto found = drawings().find(name);
    if (found == drawings().end() || box.isEmpty())
        return false;
    const qreal side = std::min(box.width(), box.height());
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    // Drawn on a layer of its own, so cutting out inner marks never erases what lies under the symbol.
    const int pixels = std::max(1, int(std::ceil(side * dpr)));
    QImage layer(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(pixels / 24.0, pixels / 24.0);
        const Pen pen{p, color, bold ? 1.35 : 1.0};
        found->second(pen);
    }
    layer.setDevicePixelRatio(dpr);
    const QPointF origin(box.x() + (box.width() - side) / 2, box.y() + (box.height() - side) / 2);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(origin, QSizeF(side, side)), layer);
    painter.restore();
    return true;
}

QPixmap pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio, bool bold) {
    if (!has(name) || size <= 0)
        return {};
    QPixmap picture(QSize(size, size) * devicePixelRatio);
    picture.setDevicePixelRatio(devicePixelRatio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    paint(painter, name, QRectF(0, 0, size, size), color, bold);
    return picture;
}

} // namespace Symbols

SymbolView::SymbolView(const QString& name, int size, const QColor& color, QWidget* parent)
    : QWidget(parent), name_(name), size_(size), color_(color) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TranslucentBackground);
}

void SymbolView::setSymbol(const QString& name) {
    if (name == name_)
        return;
    name_ = name;
    update();
}

void SymbolView::setColor(const QColor& color) {
    if (color == color_)
        return;
    color_ = color;
    update();
}

void SymbolView::setBold(bool bold) {
    if (bold == bold_)
        return;
    bold_ = bold;
    update();
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Symbols::paint(painter, name_, QRectF(rect()), color_, bold_);
}
