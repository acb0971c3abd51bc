#include "MenuRowView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QFontMetricsF>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <cmath>

namespace {

QFont menuFont() {
    return QApplication::font("QMenu");
}

// Screen readers see the row as a menu item that can be pressed while it is an enabled action.
class MenuRowAccessible : public QAccessibleWidget {
public:
    explicit MenuRowAccessible(MenuRowView* view) : QAccessibleWidget(view, QAccessible::MenuItem) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            return row()->title();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.disabled = !row()->look().isEnabledAction();
        return s;
    }
    QStringList actionNames() const override {
        return row()->look().isEnabledAction() ? QStringList{pressAction()} : QStringList{};
    }
    void doAction(const QString& name) override {
        if (name == pressAction())
            row()->press();
    }

private:
    MenuRowView* row() const { return static_cast<MenuRowView*>(widget()); }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("MenuRowView") && object && object->isWidgetType())
        return new MenuRowAccessible(static_cast<MenuRowView*>(object));
    return nullptr;
}

constexpr QRectF spinnerRect(16.5, 5.5, 13, 13);
constexpr int spinnerSteps = 12;

} // namespace

MenuRowView::MenuRowView(QString title, Look look, QWidget* parent)
    : QWidget(parent), title_(std::move(title)), look_(look), spinner_(new QTimer(this)) {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)installed;
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    resize(width_, rowHeight);
    spinner_->setInterval(80);
    connect(spinner_, &QTimer::timeout, this, [this] {
        spinnerStep_ = (spinnerStep_ + 1) % spinnerSteps;
        QWidget::update(spinnerRect.toAlignedRect());
    });
    apply();
}

void MenuRowView::update(const QString& title, Look look) {
    if (title == title_ && look == look_)
        return;
    title_ = title;
    look_ = look;
    apply();
}

void MenuRowView::apply() {
    startOrStopSpinner();
    const qreal inset = look_.kind == Look::Kind::progress ? progressInset : leadingInset;
    const int needed = int(
        std::ceil(inset + std::ceil(QFontMetricsF(menuFont()).horizontalAdvance(title_)) + trailingInset));
    if (width_ < needed) {
        width_ = needed;
        resize(std::max(width(), width_), rowHeight);
        updateGeometry();
    }
    setAccessibleName(title_);
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
    QWidget::update();
}

bool MenuRowView::spinning() const {
    return spinner_->isActive();
}

// The spinner only turns while it can be seen: a closed menu costs no timer.
void MenuRowView::startOrStopSpinner() {
    const bool wanted = look_.kind == Look::Kind::progress && isVisible();
    if (wanted && !spinner_->isActive())
        spinner_->start();
    else if (!wanted && spinner_->isActive())
        spinner_->stop();
}

QSize MenuRowView::sizeHint() const {
    return {width_, rowHeight};
}

bool MenuRowView::press() {
    if (!look_.isEnabledAction())
        return false;
    if (onPress)
        onPress();
    return true;
}

void MenuRowView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colours = palette();
    const bool highlighted = highlighted_ && look_.isEnabledAction();
    if (highlighted) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colours.color(QPalette::Active, QPalette::Highlight));
        painter.drawRoundedRect(QRectF(rect()).adjusted(5, 0, -5, 0), 8, 8);
    }

    QColor text;
    if (look_.kind == Look::Kind::progress)
        text = colours.color(QPalette::Active, QPalette::PlaceholderText);
    else if (!look_.enabled)
        text = colours.color(QPalette::Disabled, QPalette::WindowText);
    else if (highlighted)
        text = colours.color(QPalette::Active, QPalette::HighlightedText);
    else
        text = colours.color(QPalette::Active, QPalette::WindowText);

    const QFont font = menuFont();
    const QFontMetricsF metrics(font);
    const qreal x = look_.kind == Look::Kind::progress ? progressInset : leadingInset;
    const qreal y = std::round((height() - metrics.height()) / 2);
    const QRectF box(x, y, width() - x - trailingInset, metrics.height());
    painter.setFont(font);
    painter.setPen(text);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignTop,
                     metrics.elidedText(title_, Qt::ElideRight, std::max<qreal>(0, box.width())));

    if (look_.kind == Look::Kind::progress) {
        // Twelve spokes, the newest brightest, turning one step per tick.
        const QPointF centre = spinnerRect.center();
        for (int i = 0; i < spinnerSteps; ++i) {
            QColor spoke = colours.color(QPalette::Active, QPalette::WindowText);
            spoke.setAlphaF(0.15 +
                            0.85 * ((i + spinnerSteps - spinnerStep_) % spinnerSteps) / (spinnerSteps - 1));
            painter.save();
            painter.translate(centre);
            painter.rotate(360.0 * i / spinnerSteps);
            painter.setPen(QPen(spoke, 1.4, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(0, -3.2), QPointF(0, -6.0));
            painter.restore();
        }
    }
}

// A row that stays open must accept the press as well as the release, or the menu closes on the press.
void MenuRowView::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void MenuRowView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (rect().contains(event->position().toPoint()))
        press();
}

void MenuRowView::enterEvent(QEnterEvent*) {
    highlighted_ = true;
    QWidget::update();
}

void MenuRowView::leaveEvent(QEvent*) {
    highlighted_ = false;
    QWidget::update();
}

void MenuRowView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    startOrStopSpinner();
}

void MenuRowView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    highlighted_ = false;
    startOrStopSpinner();
}
