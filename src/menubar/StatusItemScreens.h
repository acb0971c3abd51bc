#pragma once

class StatusItemController;

// Pictures of the tray icon and the open menu, for looking at the status item under a virtual display. Off
// unless ORVANE_CONNECTOR_SCREENS is set to a path prefix P: three seconds after the start (time for the
// first refresh) it opens the menu under the icon, writes P-menu.png and P-tray.png (the icon in its panel,
// enlarged four times), then closes the menu and writes P.done.
namespace StatusItemScreens {

void startIfAsked(StatusItemController& statusItem);

} // namespace StatusItemScreens
