#pragma once

#include "WindowState.h"

#include <QString>

#include <variant>

// What a click on the icon does, by the kind of tray that shows it. Stateless.
namespace TrayClick {

// How the icon reaches the panel: as a StatusNotifier item over D-Bus wherever a StatusNotifierWatcher is
// on the session bus (on X11 as well), otherwise embedded by an X11 tray as a small window.
enum class Tray { embedded, statusNotifier };

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
