#pragma once

#include "MenuCommand.h"
#include "MenuRow.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QHash>
#include <QList>
#include <QObject>
#include <QVariantMap>

// The wire types of com.canonical.dbusmenu.
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
struct DBusMenuItemKeys {
    int id = 0;
    QStringList names;
};
struct DBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayout> children;
};
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
Q_DECLARE_METATYPE(DBusMenuItem)
Q_DECLARE_METATYPE(DBusMenuItemKeys)
Q_DECLARE_METATYPE(DBusMenuLayout)
Q_DECLARE_METATYPE(DBusMenuEvent)

// The status menu's rows as a com.canonical.dbusmenu object: the menu that StatusNotifier hosts draw
// themselves, next to the icon, on every desktop (a menu the connector popped up itself would have no parent
// surface on Wayland). The rows form one flat level of plain items: rows that stay open and progress lines
// become ordinary items with the same texts (the host closes the menu on a click), and only enabled action
// rows can be chosen. Each row id keeps its item id for the life of the object, so a click on a menu the host
// drew before a change reaches the same row or nothing.
class DBusMenuExport : public QObject {
    Q_OBJECT

public:
    static inline const QString objectPath = QStringLiteral("/MenuBar");

    explicit DBusMenuExport(QObject* parent = nullptr);

    // Puts the object on `bus` at objectPath; false when the path is taken.
    bool exportOn(QDBusConnection bus);

    // Brings the exported menu in line with the rows, telling the host what changed: the whole layout when
    // rows came, went or changed kind, else the properties of the rows that changed.
    void setRows(const QList<MenuRow>& rows);
    const QList<MenuRow>& rows() const { return rows_; }
    // Grows with each change of layout.
    uint revision() const { return revision_; }

    // One row's item properties. dbusmenu reads "_" as the access-key mark and "__" as one underscore, so
    // texts from the bridge, the feed or a file show every "_" as it is.
    static QVariantMap properties(const MenuRow& row);
    // The layout from `parentId` down `depth` levels (-1: all), with only `names` when given; the item id of
    // each row as the host sees it.
    DBusMenuLayout layout(int parentId, int depth, const QStringList& names) const;
    int itemId(const QString& rowId) const { return ids_.value(rowId, -1); }

    // A host's event on one item: "clicked" runs an enabled action row, "opened" and "closed" on the root
    // mark the menu open and closed. False for an unknown item.
    bool event(int id, const QString& eventId);
    // The host is about to show the item's submenu (the root): true when the rows changed on the way.
    bool aboutToShow(int id);

signals:
    // Asks for fresh rows, before the host draws the menu.
    void aboutToShowRequested();
    void opened();
    void closed();
    void chosen(const MenuCommand& command);

    // Sent on the bus.
    void layoutUpdated(uint revision, int parent);
    void itemsPropertiesUpdated(const QList<DBusMenuItem>& updated, const QList<DBusMenuItemKeys>& removed);

private:
    const MenuRow* rowOf(int id) const;
    int idFor(const QString& rowId);

    QList<MenuRow> rows_;
    QHash<QString, int> ids_;
    QHash<int, QString> rowIds_;
    int nextId_ = 1;
    uint revision_ = 1;
};

const QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItem& item);
const QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItemKeys& keys);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItemKeys& keys);
const QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayout& layout);
const QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event);
