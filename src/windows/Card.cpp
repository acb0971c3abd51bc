#include "Card.h"

#include "Brand.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

Card::Card(const QString& title, QWidget* content, QWidget* parent) : QWidget(parent) {
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(14, 14, 14, 14);
    layout_->setSpacing(10);
    title_ = new QLabel(title, this);
    title_->setFont(Brand::font(11, QFont::DemiBold));
    QPalette palette = title_->palette();
    palette.setColor(QPalette::WindowText, Brand::secondary);
    title_->setPalette(palette);
    layout_->addWidget(title_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    if (!content) {
        content = new QWidget;
        auto* inner = new QVBoxLayout(content);
        inner->setContentsMargins(0, 0, 0, 0);
        inner->setSpacing(8);
    }
    setContent(content);
}

QString Card::title() const {
    return title_->text();
}

void Card::setTitle(const QString& title) {
    title_->setText(title);
}

void Card::setContent(QWidget* content) {
    if (content_) {
        layout_->removeWidget(content_);
        delete content_;
    }
    content_ = content;
    if (content_)
        layout_->addWidget(content_);
}

void Card::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25), 10, 10);
    painter.fillPath(shape, Brand::controlBackground);
    painter.setPen(QPen(Brand::separator, 0.5));
    painter.drawPath(shape);
}
