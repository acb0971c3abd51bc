#pragma once

#include "DBusMenuExport.h"

#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>

class QDBusServiceWatcher;

// The connector's icon as a StatusNotifierItem on the session bus, with its menu as a dbusmenu object: how
// KDE Plasma, GNOME's AppIndicator extension, waybar and the other hosts of today show tray icons, on
// Wayland and X11 alike. Made by the connector rather than Qt's tray so that the tool tip has its heading and
// its body, and so that a host starting after the connector gets the icon too: the item registers with every
// StatusNotifierWatcher that appears on the bus, for as long as it lives.
class StatusNotifierItem : public QObject {
    Q_OBJECT

public:
    static inline const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
    static inline const QString objectPath = QStringLiteral("/StatusNotifierItem");
    // What hosts show in their lists of items and as the tool tip's heading.
    static inline const QString title = QStringLiteral("Orvane 连接器");

    // Nothing goes on the bus before start().
    explicit StatusNotifierItem(QDBusConnection bus, QObject* parent = nullptr);

    // Looks for a watcher without waiting: watcherChanged() tells the answer, and every change after it.
    void watch();
    // Exports the item and the menu and registers with the watcher now, if there is one, and with every
    // watcher that appears later.
    void start();

    // The pictures of the icon, one per size; the host picks.
    void setIcon(const QList<QImage>& pictures);
    void setToolTip(const QString& heading, const QString& body);

    DBusMenuExport& menu() { return menu_; }
    const QString& serviceName() const { return serviceName_; }
    bool started() const { return started_; }
    // True while a watcher has taken the item in.
    bool registered() const { return registered_; }

    // For the bus: the icon pictures as ARGB32 in network byte order, the tool tip's parts.
    const QList<QImage>& pictures() const { return pictures_; }
    const QString& toolTipHeading() const { return heading_; }
    const QString& toolTipBody() const { return body_; }

signals:
    void watcherChanged(bool present);
    // A watcher took the item in (again, after a host restarted).
    void registeredWithWatcher();
    // Left click, middle click, and a host that draws no menu of its own asking for one (screen coordinates).
    void activated(QPoint at);
    void secondaryActivated(QPoint at);
    void contextMenuRequested(QPoint at);

    // Sent on the bus.
    void newIcon();
    void newToolTip();

private:
    void registerWithWatcher();
    void watcherOwnerChanged(const QString& newOwner);

    QDBusConnection bus_;
    DBusMenuExport menu_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QString serviceName_;
    QList<QImage> pictures_;
    QString heading_;
    QString body_;
    bool watcherPresent_ = false;
    bool started_ = false;
    bool registered_ = false;
    bool nameOwned_ = false;
};
