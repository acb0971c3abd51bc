#pragma once

#include "MenuCommand.h"
#include "MenuRow.h"

#include <QList>
#include <QObject>

#include <functional>

class QAction;
class QMenu;

// Turns the status menu's rows into the items of a QMenu and a chosen item back into its command. While the
// row ids and kinds stay the same the items are kept and only changed rows are reconfigured, so an open menu
// updates without flicker or losing the highlighted item; otherwise the menu is rebuilt.
class StatusMenuRenderer : public QObject {
    Q_OBJECT

public:
    using Perform = std::function<void(const MenuCommand&)>;

    explicit StatusMenuRenderer(Perform perform, QObject* parent = nullptr);

    // Brings the menu in line with the rows.
    void render(const QList<MenuRow>& rows, QMenu& menu);
    // Sets one menu item from one row.
    void configure(QAction& item, const MenuRow& row);
    // A plain item was chosen: runs the row whose id the item carries.
    void choose(QAction* item);
    // Runs the command of the enabled action row with this id; anything else (gone, disabled, progress, info,
    // note) runs nothing.
    void run(const QString& id);

    const QList<MenuRow>& rows() const { return rows_; }

    // The item text that shows `shown` as it is: texts come from the bridge, the feed and files, and an "&"
    // in them must not turn into a mnemonic.
    static QString itemText(const QString& shown);

    // How many items were created and configured so far (the cost of a render, for tests and benchmarks).
    qint64 itemsCreated() const { return created_; }
    qint64 itemsConfigured() const { return configured_; }

private:
    QAction* newItem(const MenuRow& row, QMenu& menu);

    QList<MenuRow> rows_;
    Perform perform_;
    qint64 created_ = 0;
    qint64 configured_ = 0;
};
