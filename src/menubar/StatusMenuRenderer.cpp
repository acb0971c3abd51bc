#include "StatusMenuRenderer.h"

#include "MenuRowView.h"
#include "MenuStyle.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QWidgetAction>

namespace {

const char* const rowIdProperty = "menuRowId";

// Plain menu items have no indentation level of their own: one ideographic space per level.
QString indented(const MenuRow& row) {
    return QString(row.indent, QChar(0x3000)) + row.title;
}

// One style for every menu the renderer fills, living as long as the application.
QStyle* menuStyle() {
    static QPointer<MenuStyle> style;
    if (!style) {
        style = new MenuStyle;
        style->setParent(qApp);
    }
    return style;
}

MenuRowView* rowView(QAction& item) {
    auto* widgetItem = qobject_cast<QWidgetAction*>(&item);
    return widgetItem ? qobject_cast<MenuRowView*>(widgetItem->defaultWidget()) : nullptr;
}

} // namespace

QString StatusMenuRenderer::itemText(const QString& shown) {
    QString text = shown;
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

StatusMenuRenderer::StatusMenuRenderer(Perform perform, QObject* parent)
    : QObject(parent), perform_(std::move(perform)) {}

void StatusMenuRenderer::render(const QList<MenuRow>& rows, QMenu& menu) {
    if (menu.style() != menuStyle())
        menu.setStyle(menuStyle());
    const QList<QAction*> items = menu.actions();
    bool sameStructure = rows.size() == rows_.size() && rows.size() == items.size();
    for (qsizetype i = 0; sameStructure && i < rows.size(); ++i)
        sameStructure = rows[i].id == rows_[i].id && rows[i].kind() == rows_[i].kind();

    if (sameStructure) {
        for (qsizetype i = 0; i < rows.size(); ++i)
            if (!(rows[i] == rows_[i]))
                configure(*items[i], rows[i]);
    } else {
        menu.clear();
        for (const MenuRow& row : rows)
            menu.addAction(newItem(row, menu));
    }
    rows_ = rows;
}

QAction* StatusMenuRenderer::newItem(const MenuRow& row, QMenu& menu) {
    ++created_;
    QAction* item = nullptr;
    if (row.style.is<MenuRow::Style::Separator>()) {
        item = new QAction(&menu);
        item->setSeparator(true);
        return item;
    }
    if (row.style.is<MenuRow::Style::Section>()) {
        item = new QAction(itemText(row.title), &menu);
        item->setSeparator(true); // a section header, as QMenu::addSection makes it
        return item;
    }
    const bool custom = row.kind() == QLatin1String("stays");
    item = custom ? new QWidgetAction(&menu) : new QAction(&menu);
    QPointer<StatusMenuRenderer> self(this);
    QPointer<QAction> weakItem(item);
    connect(item, &QAction::triggered, this, [self, weakItem] {
        if (self && weakItem)
            self->choose(weakItem);
    });
    configure(*item, row);
    return item;
}

void StatusMenuRenderer::configure(QAction& item, const MenuRow& row) {
    ++configured_;
    item.setToolTip(row.toolTip.value_or(QString()));
    item.setProperty(rowIdProperty, row.id);
    item.setProperty(MenuStyle::secondaryTextProperty, row.style.is<MenuRow::Style::Note>());
    QFont font = QApplication::font("QMenu");

    using S = MenuRow::Style;
    if (row.style.is<S::Title>()) {
        font.setBold(true);
        item.setFont(font);
        item.setText(itemText(indented(row)));
        item.setEnabled(false);
    } else if (row.style.is<S::Section>()) {
        item.setText(itemText(row.title));
    } else if (row.style.is<S::Separator>()) {
        return;
    } else if (row.style.is<S::Info>() || row.style.is<S::Note>()) {
        // A note reads as secondary text; a plain item gets that from being disabled, like an info row.
        item.setFont(font);
        item.setText(itemText(indented(row)));
        item.setEnabled(false);
    } else if (const S::Action* action = row.style.as<S::Action>(); action && !action->stays) {
        item.setFont(font);
        item.setText(itemText(indented(row)));
        item.setEnabled(row.enabled);
    } else {
        const MenuRowView::Look look = row.style.is<S::Progress>() ? MenuRowView::Look::progress()
                                                                   : MenuRowView::Look::action(row.enabled);
        auto* widgetItem = qobject_cast<QWidgetAction*>(&item);
        MenuRowView* view = rowView(item);
        if (view) {
            view->update(row.title, look);
        } else if (widgetItem) {
            view = new MenuRowView(row.title, look);
            widgetItem->setDefaultWidget(view);
        }
        item.setText(itemText(row.title));
        if (view) {
            QPointer<StatusMenuRenderer> self(this);
            const QString id = row.id;
            view->onPress = [self, id] {
                if (self)
                    self->run(id);
            };
            view->setToolTip(row.toolTip.value_or(QString()));
        }
        // The item stays enabled even for a disabled look: a disabled item disables its widget, and a
        // disabled widget hands the click to the menu, which closes. The row draws its own look, and run()
        // refuses anything but an enabled action.
        item.setEnabled(true);
    }
}

void StatusMenuRenderer::choose(QAction* item) {
    if (!item)
        return;
    const QVariant id = item->property(rowIdProperty);
    if (id.typeId() == QMetaType::QString)
        run(id.toString());
}

void StatusMenuRenderer::run(const QString& id) {
    for (const MenuRow& row : rows_) {
        if (row.id != id)
            continue;
        const MenuRow::Style::Action* action = row.style.as<MenuRow::Style::Action>();
        if (row.enabled && action && perform_)
            perform_(action->command);
        return;
    }
}
