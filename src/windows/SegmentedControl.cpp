#include "SegmentedControl.h"

#include "Brand.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

namespace {

// One segment as screen readers see it: a page tab, selected when chosen, pressed to choose it.
class SegmentAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    SegmentAccessible(SegmentedControl* control, int index) : control_(control), index_(index) {}

    bool isValid() const override { return control_ && index_ < control_->segments().size(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return control_ ? control_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(control_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && isValid() ? control_->segments().at(index_) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect local = control_->segmentRect(index_).toAlignedRect();
        return {control_->mapToGlobal(local.topLeft()), local.size()};
    }
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.selectable = true;
        s.selected = isValid() && control_->current() == index_;
        s.invisible = !control_ || !control_->isVisible();
        s.disabled = !control_ || !control_->isEnabled();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction() && isValid())
            control_->choose(index_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<SegmentedControl> control_;
    int index_;
};

// The control as a tab list whose children are all its segments, not only the chosen one.
class SegmentedAccessible : public QAccessibleWidget {
public:
    explicit SegmentedAccessible(SegmentedControl* control)
        : QAccessibleWidget(control, QAccessible::PageTabList) {}
    ~SegmentedAccessible() override {
        for (QAccessible::Id id : std::as_const(ids_))
            QAccessible::deleteAccessibleInterface(id);
    }
    int childCount() const override { return int(control()->segments().size()); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (!ids_.contains(index))
            ids_.insert(index,
                        QAccessible::registerAccessibleInterface(new SegmentAccessible(control(), index)));
        return QAccessible::accessibleInterface(ids_.value(index));
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (auto it = ids_.cbegin(); it != ids_.cend(); ++it)
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key();
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        return child(control()->segmentAt(control()->mapFromGlobal(QPoint(x, y))));
    }

private:
    SegmentedControl* control() const { return static_cast<SegmentedControl*>(widget()); }
    mutable QHash<int, QAccessible::Id> ids_;
};

QAccessibleInterface* segmentedFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("SegmentedControl") && object && object->isWidgetType())
        return new SegmentedAccessible(static_cast<SegmentedControl*>(object));
    return nullptr;
}

} // namespace

SegmentedControl::SegmentedControl(QStringList segments, QWidget* parent)
    : QWidget(parent), segments_(std::move(segments)) {
    static const bool installed = [] {
        QAccessible::installFactory(segmentedFactory);
        return true;
    }();
    (void)installed;
    setFont(Brand::font(13));
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCurrent(0);
}

void SegmentedControl::setCurrent(int index) {
    if (index < 0 || index >= segments_.size())
        return;
    current_ = index;
    update();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::Selection);
        event.setChild(index);
        QAccessible::updateAccessibility(&event);
    }
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
