#include "Controls.h"

#include "Brand.h"

#include <QPainter>

namespace Controls {

QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent, bool wraps) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    setColor(l, color);
    l->setWordWrap(wraps);
    l->setTextFormat(Qt::PlainText);
    return l;
}

void setColor(QWidget* widget, const QColor& color) {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Disabled, QPalette::WindowText, Brand::withOpacity(color, 0.4));
    widget->setPalette(p);
}

QPushButton* button(const QString& text, ButtonStyle style, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setAutoDefault(false);
    b->setCursor(Qt::PointingHandCursor);
    b->setProperty(buttonStyleProperty, int(style));
    const int size = style == ButtonStyle::small ? 12 : 13;
    b->setFont(Brand::font(size));
    // The padding keeps the text clear of the rounded border at every size.
    const QString padding =
        style == ButtonStyle::small ? QStringLiteral("3px 10px") : QStringLiteral("4px 14px");
    if (style == ButtonStyle::prominent) {
        b->setStyleSheet(
            QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: "
                           "6px; padding: %2; font-weight: 600; }"
                           "QPushButton:pressed { background: %3; }"
                           "QPushButton:disabled { background: %4; }")
                .arg(Brand::accent.name(), padding, Brand::accent.darker(115).name(),
                     Brand::withOpacity(Brand::accent, 0.45).name(QColor::HexArgb)));
    } else {
        const QColor text = style == ButtonStyle::destructive ? Brand::red : Brand::primaryText;
        b->setStyleSheet(
            QStringLiteral("QPushButton { background: white; color: %1; border: 1px solid "
                           "rgba(0,0,0,46); border-radius: 6px; padding: %2; }"
                           "QPushButton:pressed { background: #e6e6e6; }"
                           "QPushButton:focus { border: 1px solid %3; }"
                           "QPushButton:disabled { color: rgba(29,29,31,90); background: #f4f4f4; }")
                .arg(text.name(), padding, Brand::accent.name()));
    }
    return b;
}

QString keepRunEndsTogether(const QString& text) {
    constexpr QChar joiner(0x2060);
    auto ideograph = [&](qsizetype i) {
        return i >= 0 && i < text.size() && text.at(i).script() == QChar::Script_Han;
    };
    QString result;
    result.reserve(text.size() + text.size() / 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        result += text.at(i);
        // Between i and i + 1, both in one run: glue when that pair opens or closes the run.
        if (ideograph(i) && ideograph(i + 1) && (!ideograph(i - 1) || !ideograph(i + 2)))
            result += joiner;
    }
    return result;
}

QLineEdit* field(QWidget* parent) {
    auto* f = new QLineEdit(parent);
    f->setFont(Brand::font(13));
    f->setStyleSheet(
        QStringLiteral("QLineEdit { background: white; color: %1; border: 1px solid rgba(0,0,0,46); "
                       "border-radius: 6px; padding: 3px 7px; }"
                       "QLineEdit:focus { border: 1px solid %2; }"
                       "QLineEdit:disabled { color: rgba(29,29,31,90); background: #f4f4f4; }")
            .arg(Brand::primaryText.name(), Brand::accent.name()));
    return f;
}

} // namespace Controls

Spinner::Spinner(QWidget* parent, int size) : QWidget(parent), size_(size) {
    setFixedSize(size, size);
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 12;
        update();
    });
    setAccessibleName(QStringLiteral("正在进行"));
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal r = size_ / 2.0;
    for (int i = 0; i < 12; ++i) {
        const int age = (step_ - i + 12) % 12;
        painter.setPen(QPen(Brand::withOpacity(Brand::secondary, 1.0 - age * 0.07), r * 0.2, Qt::SolidLine,
                            Qt::RoundCap));
        painter.drawLine(QPointF(0, -r * 0.45), QPointF(0, -r * 0.9));
        painter.rotate(30);
    }
}

void Spinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    timer_.start();
}

void Spinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_.stop();
}
