#include "StatusRow.h"

#include "Brand.h"
#include "ElidedLabel.h"
#include "StatusDot.h"
#include "Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

StatusRow::StatusRow(const QString& symbol, const QString& title, const QString& detail, bool ok,
                     QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    // The symbol sits in an 18-point-wide column at the size of 13-point text.
    auto* symbolColumn = new QWidget(this);
    symbolColumn->setFixedWidth(18);
    auto* symbolLayout = new QHBoxLayout(symbolColumn);
    symbolLayout->setContentsMargins(0, 0, 0, 0);
    symbol_ = new SymbolView(symbol, Symbols::sizeForFont(13), Brand::secondary, symbolColumn);
    symbolLayout->addWidget(symbol_, 0, Qt::AlignCenter);

    title_ = new QLabel(this);
    title_->setFont(Brand::font(13, QFont::Medium));
    title_->setFixedWidth(92);

    detail_ = new ElidedLabel(QString(), this);
    detail_->setFont(Brand::font(12));
    detail_->setColor(Brand::secondary);

    dot_ = new StatusDot(this);

    layout->addWidget(symbolColumn);
    layout->addWidget(title_);
    layout->addWidget(detail_, 1);
    layout->addWidget(dot_, 0, Qt::AlignVCenter);
    set(symbol, title, detail, ok);
}

void StatusRow::set(const QString& symbol, const QString& title, const QString& detail, bool ok) {
    ok_ = ok;
    symbol_->setSymbol(symbol);
    symbol_->setColor(ok ? Brand::accent : Brand::secondary);
    title_->setText(title);
    detail_->setText(detail);
    dot_->setColor(ok ? Brand::green : Brand::orange);
    setAccessibleName(title + QStringLiteral("，") + detail);
}

QString StatusRow::symbol() const {
    return symbol_->symbol();
}
QString StatusRow::title() const {
    return title_->text();
}
QString StatusRow::detail() const {
    return detail_->text();
}
