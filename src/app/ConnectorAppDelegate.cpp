#include "ConnectorAppDelegate.h"

#include "ConnectorSettings.h"

#include <utility>

ConnectorAppDelegate::ConnectorAppDelegate(QStringList arguments, QObject* parent)
    : QObject(parent), arguments_(std::move(arguments)) {
    // The controller and the window state are created here, with the delegate.
}

ConnectorAppDelegate::~ConnectorAppDelegate() = default;

void ConnectorAppDelegate::applicationWillFinishLaunching() {
    ConnectorSettings::registerDefaults();
    // An accessory application: no Dock icon and no menu bar of its own (macOS activation policy).
}

void ConnectorAppDelegate::applicationDidFinishLaunching() {
    // The launch sequence, one main-thread task:
    //  1. with --after-update, wait (at most 50 × 0.1 s) for the old instance to quit;
    //  2. single instance: outside isolated validation, end when another instance runs;
    //  3. the status item (StatusItemController with the controller and showWindow);
    //  4. outside isolated validation: the update checks;
    //  5. half a second for links that come with the launch;
    //  6. the background items;
    //  7. with --after-rename: finish the legacy rename (restarting the bridge with --restart-bridge);
    //  8. the main window, unless the launch was for a link, the menu bar or an update.
}
