#include "TrayClick.h"

namespace TrayClick {

Tray trayFor(const QString& platformName, bool watcherRegistered) {
    return watcherRegistered || platformName != QLatin1String("xcb") ? Tray::statusNotifier : Tray::embedded;
}

Action onClick(Tray tray, Button button, bool startCompleted) {
    if (button != Button::left)
        return Nothing{};
    if (tray == Tray::embedded)
        return PopUpMenu{};
    return ShowWindow{startCompleted ? WindowPage::overview : WindowPage::start};
}

} // namespace TrayClick
