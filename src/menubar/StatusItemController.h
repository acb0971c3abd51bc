#pragma once

#include "MenuBarIcon.h"
#include "MenuCommand.h"
#include "MenuRow.h"
#include "MenuSnapshot.h"
#include "TrayClick.h"
#include "WindowState.h"

#include <QCoroTask>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSystemTrayIcon>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class ConnectorController;
class QMenu;
class QTimer;
class StatusMenuRenderer;
class StatusNotifierItem;

// The connector's icon in the system tray and the menu under it, kept in step with the controller: it
// refreshes the controller every 10 seconds while it lives, redraws the icon on every change, renders the
// menu from a fresh snapshot when it opens and while it is open, and turns chosen commands into controller
// operations or window pages. While the menu is open an automatic connector update waits.
//
// The icon reaches the panel one of two ways. Where a StatusNotifierWatcher is on the session bus (KDE,
// GNOME with AppIndicator, waybar; every Wayland desktop with a tray) it is a StatusNotifier item whose menu
// the host draws; on X11 without one, a tray embeds it as a small window (QSystemTrayIcon) and the connector
// draws the menu at the icon. Where the desktop has no tray host, everything but the icon still runs, and the
// object keeps watching: the icon appears as soon as a tray host does.
class StatusItemController : public QObject {
    Q_OBJECT

public:
    using OpenWindow = std::function<void(WindowPage)>;
    using Terminate = std::function<void()>;

    // `terminate` ends the application through its orderly path (the menu's quit); by default the
    // application object's quit.
    StatusItemController(ConnectorController& controller, OpenWindow openWindow, Terminate terminate = {},
                         QObject* parent = nullptr);
    ~StatusItemController() override;

    // Runs one menu command; called by the renderer.
    void perform(const MenuCommand& command);
    // Recomputes the icon's state (the image only when the state changed) and the tool tip (always).
    void updateIcon();
    // Everything the menu shows, taken from the controller now.
    MenuSnapshot snapshot();

    // The menu's open and close, as the tray reports them.
    void menuNeedsUpdate();
    void menuWillOpen();
    void menuDidClose();

    QMenu& menu() const { return *menu_; }
    // The embedded icon, once an X11 tray without StatusNotifier support is used; else null.
    QSystemTrayIcon* embeddedItem() const { return item_.get(); }
    // The StatusNotifier item; on the bus once a host is there.
    StatusNotifierItem& notifierItem() const { return *notifier_; }
    // The rows the menu showed last, in either form.
    const QList<MenuRow>& menuRows() const;
    // The tool tip as one line, "Orvane 连接器：" and the health or the running activity.
    const QString& toolTip() const { return toolTip_; }
    StatusMenuRenderer& renderer() const { return *renderer_; }
    bool menuOpen() const { return menuOpen_; }
    std::optional<MenuBarIcon::State> iconState() const { return iconState_; }
    // True once the icon is shown in a tray.
    bool inTray() const { return inTray_; }
    // How the icon reaches the panel, known shortly after it is shown.
    TrayClick::Tray tray() const { return tray_; }

    // How often the controller is refreshed; 10 seconds. Tests shorten it before the first refresh ends.
    std::chrono::milliseconds refreshInterval{std::chrono::seconds(10)};

    // How often the image and the tool tip were set (the image only on a change of state).
    int imageUpdates() const { return imageUpdates_; }
    int toolTipUpdates() const { return toolTipUpdates_; }

signals:
    // The tool tip was set (every updateIcon()).
    void toolTipSet(const QString& toolTip);
    // The icon went into a tray that appeared after the start.
    void shownInTray();
    // A refresh of the item's own 10-second loop has stored its fields.
    void refreshed();
    // The menu was rendered afresh for an opening: menuRows() holds what it shows.
    void menuPrepared();

private slots:
    // Shows the embedded icon once an X11 tray is there.
    void checkTray();
    void redrawIcon();
    void clicked(QSystemTrayIcon::ActivationReason reason);

private:
    static QCoro::Task<void> refreshLoop(QPointer<StatusItemController> self);
    void changedLater();
    void watchForTray();
    void embed();
    void shownIn(TrayClick::Tray tray);
    void renderMenu();
    void clickedAt(TrayClick::Button button, QPoint at);

    ConnectorController& controller_;
    OpenWindow openWindow_;
    Terminate terminate_;
    std::unique_ptr<QSystemTrayIcon> item_;
    std::unique_ptr<StatusNotifierItem> notifier_;
    QList<MenuRow> rows_;
    QString toolTip_;
    std::unique_ptr<StatusMenuRenderer> renderer_;
    std::unique_ptr<QMenu> menu_;
    bool menuOpen_ = false;
    std::optional<MenuBarIcon::State> iconState_;
    bool inTray_ = false;
    TrayClick::Tray tray_ = TrayClick::Tray::embedded;
    bool pollsTray_ = false; // no tray announcements here: look again at each refresh
    bool x11_ = false;
    int imageUpdates_ = 0;
    int toolTipUpdates_ = 0;
};
