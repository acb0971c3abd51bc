#include "SegmentedControl.h"

#include "Brand.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

SegmentedControl::SegmentedControl(QStringList segments, QWidget* parent)
    : QWidget(parent), segments_(std::move(segments)) {
    setFont(Brand::font(13));
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCurrent(0);
}

void SegmentedControl::setCurrent(int index) {
    if (index < 0 || index >= segments_.size())
        return;
    current_ = index;
    setAccessibleName(segments_.value(index));
    update();
}

void SegmentedControl::choose(int index) {
    if (index < 0 || index >= segments_.size())
        return;
    setCurrent(index);
    emit chosen(index);
}

QSize SegmentedControl::sizeHint() const {
    return {340, 24};
}

QRectF SegmentedControl::segmentRect(int index) const {
    const qreal width = qreal(this->width()) / std::max<qsizetype>(1, segments_.size());
    return {index * width, 0, width, qreal(height())};
}

int SegmentedControl::segmentAt(const QPoint& point) const {
    for (int i = 0; i < segments_.size(); ++i)
        if (segmentRect(i).contains(point))
            return i;
    return -1;
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath track;
    track.addRoundedRect(bounds, 6, 6);
    painter.fillPath(track, Brand::controlBackground);
    painter.setPen(QPen(Brand::withOpacity(Qt::black, 0.18), 0.8));
    painter.drawPath(track);

    for (int i = 0; i < segments_.size(); ++i) {
        const QRectF cell = segmentRect(i);
        if (i == current_) {
            QPainterPath chosen;
            chosen.addRoundedRect(cell.adjusted(1.5, 1.5, -1.5, -1.5), 5, 5);
            painter.fillPath(chosen, Brand::accent);
        } else if (i > 0 && i != current_ + 1) {
            painter.setPen(QPen(Brand::separator, 1));
            painter.drawLine(QPointF(cell.left(), 5), QPointF(cell.left(), height() - 5));
        }
        QFont f = font();
        if (i == current_)
            f.setWeight(QFont::DemiBold);
        painter.setFont(f);
        painter.setPen(i == current_ ? QColor(Qt::white) : Brand::primaryText);
        painter.drawText(cell, Qt::AlignCenter, segments_[i]);
    }
    if (hasFocus()) {
        painter.setPen(QPen(Brand::withOpacity(Brand::accent, 0.6), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds, 6, 6);
    }
}

void SegmentedControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const int index = segmentAt(event->position().toPoint());
    if (index >= 0)
        choose(index);
}

void SegmentedControl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Left && current_ > 0)
        choose(current_ - 1);
    else if (event->key() == Qt::Key_Right && current_ + 1 < segments_.size())
        choose(current_ + 1);
    else
        QWidget::keyPressEvent(event);
}
