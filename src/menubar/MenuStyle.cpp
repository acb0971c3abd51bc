#include "MenuStyle.h"

#include "MenuRowView.h"

#include <QFontMetricsF>
#include <QMenu>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

#include <cmath>

namespace {

constexpr int separatorHeight = 11;

} // namespace

const char* const MenuStyle::secondaryTextProperty = "menuRowSecondaryText";

MenuStyle::MenuStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void MenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                            const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element != CE_MenuItem || !item || item->menuItemType == QStyleOptionMenuItem::EmptyArea) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF row = QRectF(item->rect);
    const QPalette& colours = item->palette;
    if (item->menuItemType == QStyleOptionMenuItem::Separator && item->text.isEmpty()) {
        painter->setPen(QPen(colours.color(QPalette::Disabled, QPalette::WindowText), 1));
        const qreal y = std::floor(row.center().y()) + 0.5;
        painter->drawLine(QPointF(row.left() + 10, y), QPointF(row.right() - 10, y));
        painter->restore();
        return;
    }
    const bool section = item->menuItemType == QStyleOptionMenuItem::Separator;
    const bool enabled = item->state & State_Enabled;
    const bool highlighted = !section && enabled && (item->state & State_Selected);
    if (highlighted) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(colours.color(QPalette::Active, QPalette::Highlight));
        painter->drawRoundedRect(row.adjusted(5, 0, -5, 0), 8, 8);
    }
    QColor text = colours.color(QPalette::Active, QPalette::WindowText);
    const auto* menu = qobject_cast<const QMenu*>(widget);
    const QAction* action = menu ? menu->actionAt(item->rect.center()) : nullptr;
    const bool note = action && action->property(secondaryTextProperty).toBool();
    if (section || note)
        text = colours.color(QPalette::Active, QPalette::PlaceholderText);
    else if (!enabled)
        text = colours.color(QPalette::Disabled, QPalette::WindowText);
    else if (highlighted)
        text = colours.color(QPalette::Active, QPalette::HighlightedText);
    QFont font = item->font;
    if (section)
        font.setWeight(QFont::DemiBold);
    painter->setFont(font);
    painter->setPen(text);
    // The text before a tab is the title; menus here carry no shortcuts.
    const QString title = item->text.section(QLatin1Char('\t'), 0, 0);
    const QRectF box = row.adjusted(MenuRowView::leadingInset, 0, -MenuRowView::trailingInset, 0);
    painter->drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextHideMnemonic,
                      title);
    painter->restore();
}

QSize MenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                  const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type != CT_MenuItem || !item)
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    if (item->menuItemType == QStyleOptionMenuItem::Separator && item->text.isEmpty())
        return {size.width(), separatorHeight};
    QFont font = item->font;
    if (item->menuItemType == QStyleOptionMenuItem::Separator)
        font.setWeight(QFont::DemiBold);
    const QString title = item->text.section(QLatin1Char('\t'), 0, 0);
    const qreal textWidth =
        QFontMetricsF(font).size(Qt::TextSingleLine | Qt::TextShowMnemonic, title).width();
    const int width =
        int(std::ceil(MenuRowView::leadingInset + std::ceil(textWidth) + MenuRowView::trailingInset));
    return {width, MenuRowView::rowHeight};
}
