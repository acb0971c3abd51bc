#pragma once

#include "WindowState.h"

#include <QObject>

#include <functional>
#include <memory>

class ConnectorController;
class QMenu;
class QSystemTrayIcon;

// The connector's icon in the system tray and the menu under it. This first form keeps the icon, its tool tip
// and two commands (open the window, quit); the full menu from the controller's snapshot and the periodic
// refresh take this place.
// Where the desktop has no tray the object still exists and simply shows nothing.
class StatusItemController : public QObject {
    Q_OBJECT

public:
    using OpenWindow = std::function<void(WindowPage)>;

    StatusItemController(ConnectorController& controller, OpenWindow openWindow, QObject* parent = nullptr);
    ~StatusItemController() override;

    // Recomputes the tool tip from the controller.
    void updateIcon();

private:
    ConnectorController& controller_;
    OpenWindow openWindow_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> item_;
};
