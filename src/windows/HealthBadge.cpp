#include "HealthBadge.h"

#include "Brand.h"
#include "Symbols.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int padX = 10;
constexpr int padY = 5;
constexpr int iconGap = 5;
} // namespace

HealthBadge::HealthBadge(QWidget* parent) : QWidget(parent) {
    setFont(Brand::font(12, QFont::DemiBold));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    set(Health{}, QString());
}

void HealthBadge::set(const Health& health, const QString& title) {
    const bool resized = title != title_;
    health_ = health;
    title_ = title;
    setAccessibleName(title);
    if (resized)
        updateGeometry();
    update();
}

QString HealthBadge::symbol(const Health& health) {
    if (health.is<Health::Attention>())
        return QStringLiteral("exclamationmark.circle.fill");
    if (health.is<Health::Stopped>())
        return QStringLiteral("pause.circle.fill");
    return QStringLiteral("checkmark.circle.fill");
}

QColor HealthBadge::color(const Health& health) {
    if (health.is<Health::Attention>())
        return Brand::orange;
    if (health.is<Health::Stopped>())
        return Brand::secondary;
    return Brand::green;
}

QSize HealthBadge::sizeHint() const {
    const QFontMetrics metrics(font());
    const int icon = Symbols::sizeForFont(12);
    const int width = padX + icon + iconGap + metrics.horizontalAdvance(title_) + padX;
    const int height = padY + std::max(icon, metrics.height()) + padY;
    return {width, height};
}

void HealthBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor tone = color(health_);
    const QRectF bounds(rect());
    QPainterPath capsule;
    capsule.addRoundedRect(bounds, bounds.height() / 2, bounds.height() / 2);
    painter.fillPath(capsule, Brand::withOpacity(tone, 0.14));

    const int icon = Symbols::sizeForFont(12);
    const QRectF iconBox(padX, (height() - icon) / 2.0, icon, icon);
    Symbols::paint(painter, symbol(health_), iconBox, tone);
    painter.setPen(tone);
    painter.setFont(font());
    const QRectF textBox(iconBox.right() + iconGap, 0, width() - iconBox.right() - iconGap - padX, height());
    painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, title_);
}
