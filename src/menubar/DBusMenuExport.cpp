#include "DBusMenuExport.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMetaType>

const QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItem& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItem& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItemKeys& keys) {
    arg.beginStructure();
    arg << keys.id << keys.names;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItemKeys& keys) {
    arg.beginStructure();
    arg >> keys.id >> keys.names;
    arg.endStructure();
    return arg;
}
// Children travel as variants, each holding a layout of its own.
const QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayout& layout) {
    arg.beginStructure();
    arg << layout.id << layout.properties;
    arg.beginArray(qMetaTypeId<QDBusVariant>());
    for (const DBusMenuLayout& child : layout.children)
        arg << QDBusVariant(QVariant::fromValue(child));
    arg.endArray();
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayout& layout) {
    arg.beginStructure();
    arg >> layout.id >> layout.properties;
    layout.children.clear();
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        layout.children << qdbus_cast<DBusMenuLayout>(child.variant());
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event) {
    arg.beginStructure();
    arg << event.id << event.eventId << event.data << event.timestamp;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event) {
    arg.beginStructure();
    arg >> event.id >> event.eventId >> event.data >> event.timestamp;
    arg.endStructure();
    return arg;
}

namespace {

void registerTypes() {
    static const bool once = [] {
        qDBusRegisterMetaType<DBusMenuItem>();
        qDBusRegisterMetaType<QList<DBusMenuItem>>();
        qDBusRegisterMetaType<DBusMenuItemKeys>();
        qDBusRegisterMetaType<QList<DBusMenuItemKeys>>();
        qDBusRegisterMetaType<DBusMenuLayout>();
        qDBusRegisterMetaType<DBusMenuEvent>();
        qDBusRegisterMetaType<QList<DBusMenuEvent>>();
        return true;
    }();
    (void)once;
}

} // namespace

// The object's face on the bus; everything it answers comes from the export.
class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuAdaptor(DBusMenuExport* menu) : QDBusAbstractAdaptor(menu), menu_(menu) {
        connect(menu, &DBusMenuExport::layoutUpdated, this, &DBusMenuAdaptor::LayoutUpdated);
        connect(menu, &DBusMenuExport::itemsPropertiesUpdated, this,
                &DBusMenuAdaptor::ItemsPropertiesUpdated);
    }

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   DBusMenuLayout& layout) {
        layout = menu_->layout(parentId, recursionDepth, propertyNames);
        return menu_->revision();
    }
    QList<DBusMenuItem> GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
        QList<DBusMenuItem> items;
        for (const int id : ids) {
            const DBusMenuLayout one = menu_->layout(id, 0, propertyNames);
            if (one.id == id)
                items << DBusMenuItem{id, one.properties};
        }
        return items;
    }
    QDBusVariant GetProperty(int id, const QString& name) {
        return QDBusVariant(menu_->layout(id, 0, {name}).properties.value(name, QString()));
    }
    void Event(int id, const QString& eventId, const QDBusVariant& /*data*/, uint /*timestamp*/) {
        menu_->event(id, eventId);
    }
    QList<int> EventGroup(const QList<DBusMenuEvent>& events) {
        QList<int> unknown;
        for (const DBusMenuEvent& each : events)
            if (!menu_->event(each.id, each.eventId))
                unknown << each.id;
        return unknown;
    }
    bool AboutToShow(int id) { return menu_->aboutToShow(id); }
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        QList<int> updates;
        for (const int id : ids) {
            if (menu_->layout(id, 0, {}).id != id)
                idErrors << id;
            else if (menu_->aboutToShow(id))
                updates << id;
        }
        return updates;
    }

signals:
    void ItemsPropertiesUpdated(const QList<DBusMenuItem>& updatedProps,
                                const QList<DBusMenuItemKeys>& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    DBusMenuExport* menu_;
};

DBusMenuExport::DBusMenuExport(QObject* parent) : QObject(parent) {
    registerTypes();
    new DBusMenuAdaptor(this);
}

bool DBusMenuExport::exportOn(QDBusConnection bus) {
    return bus.registerObject(objectPath, this, QDBusConnection::ExportAdaptors);
}

QVariantMap DBusMenuExport::properties(const MenuRow& row) {
    using S = MenuRow::Style;
    if (row.style.is<S::Separator>())
        return {{QStringLiteral("type"), QStringLiteral("separator")}};
    // Plain items have no indentation level of their own: one ideographic space per level.
    QString label = QString(row.indent, QChar(0x3000)) + row.title;
    label.replace(QLatin1Char('_'), QLatin1String("__"));
    return {{QStringLiteral("label"), label},
            {QStringLiteral("enabled"), row.style.is<S::Action>() && row.enabled}};
}

const MenuRow* DBusMenuExport::rowOf(int id) const {
    const auto rowId = rowIds_.constFind(id);
    if (rowId == rowIds_.constEnd())
        return nullptr;
    for (const MenuRow& row : rows_)
        if (row.id == *rowId)
            return &row;
    return nullptr;
}

int DBusMenuExport::idFor(const QString& rowId) {
    auto found = ids_.constFind(rowId);
    if (found != ids_.constEnd())
        return *found;
    const int id = nextId_++;
    ids_.insert(rowId, id);
    rowIds_.insert(id, rowId);
    return id;
}

void DBusMenuExport::setRows(const QList<MenuRow>& rows) {
    bool sameStructure = rows.size() == rows_.size();
    for (qsizetype i = 0; sameStructure && i < rows.size(); ++i)
        sameStructure = rows[i].id == rows_[i].id && rows[i].kind() == rows_[i].kind();
    QList<DBusMenuItem> changed;
    if (sameStructure)
        for (qsizetype i = 0; i < rows.size(); ++i)
            if (properties(rows[i]) != properties(rows_[i]))
                changed << DBusMenuItem{idFor(rows[i].id), properties(rows[i])};
    for (const MenuRow& row : rows)
        idFor(row.id);
    rows_ = rows;
    if (!sameStructure) {
        ++revision_;
        emit layoutUpdated(revision_, 0);
    } else if (!changed.isEmpty()) {
        emit itemsPropertiesUpdated(changed, {});
    }
}

DBusMenuLayout DBusMenuExport::layout(int parentId, int depth, const QStringList& names) const {
    const auto only = [&names](QVariantMap all) {
        if (names.isEmpty())
            return all;
        QVariantMap some;
        for (const QString& name : names)
            if (all.contains(name))
                some.insert(name, all.value(name));
        return some;
    };
    if (parentId != 0) {
        const MenuRow* row = rowOf(parentId);
        return row ? DBusMenuLayout{parentId, only(properties(*row)), {}} : DBusMenuLayout{-1, {}, {}};
    }
    DBusMenuLayout root{0, only({{QStringLiteral("children-display"), QStringLiteral("submenu")}}), {}};
    if (depth != 0)
        for (const MenuRow& row : rows_)
            root.children << DBusMenuLayout{ids_.value(row.id), only(properties(row)), {}};
    return root;
}

bool DBusMenuExport::event(int id, const QString& eventId) {
    if (id == 0) {
        if (eventId == QLatin1String("opened"))
            emit opened();
        else if (eventId == QLatin1String("closed"))
            emit closed();
        return true;
    }
    const MenuRow* row = rowOf(id);
    if (!row)
        return false;
    const MenuRow::Style::Action* action = row->style.as<MenuRow::Style::Action>();
    if (eventId == QLatin1String("clicked") && action && row->enabled) {
        const MenuCommand command = action->command; // the command may change the rows
        emit chosen(command);
    }
    return true;
}

bool DBusMenuExport::aboutToShow(int id) {
    if (id != 0)
        return false; // items have no submenus
    const uint before = revision_;
    const QList<MenuRow> shown = rows_;
    emit aboutToShowRequested();
    return revision_ != before || !(rows_ == shown);
}

#include "DBusMenuExport.moc"
