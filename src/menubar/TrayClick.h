#pragma once

#include "WindowState.h"

#include <QString>

#include <variant>

// What a click on the icon does, by the kind of tray that shows it. Stateless.
namespace TrayClick {

// How the icon reaches the panel. Qt exports it as a StatusNotifier item over D-Bus whenever a
// StatusNotifierWatcher is on the session bus when the icon is first made (on X11 as well); otherwise an
// X11 tray embeds it as a small window.
enum class Tray { embedded, statusNotifier };

// The kind Qt chose for the platform plug-in `platformName` ("xcb", "wayland", …), given whether a
// StatusNotifierWatcher is on the session bus. Wayland has no embedding trays at all.
Tray trayFor(const QString& platformName, bool watcherRegistered);

struct PopUpMenu {
    bool operator==(const PopUpMenu&) const = default;
};
struct ShowWindow {
    WindowPage page;
    bool operator==(const ShowWindow&) const = default;
};
struct Nothing {
    bool operator==(const Nothing&) const = default;
};
using Action = std::variant<PopUpMenu, ShowWindow, Nothing>;

enum class Button { left, middle };

// An embedding tray gets the menu at the icon on a left click. A StatusNotifier host draws the exported menu
// itself on a right click, and a menu popped up by the item would have no parent surface (a stray top-level
// window on Wayland), so a left click opens the window on the page a reopen shows. A middle click does
// nothing.
Action onClick(Tray tray, Button button, bool startCompleted);

} // namespace TrayClick
