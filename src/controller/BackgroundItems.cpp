#include "ConnectorController.h"

// Registration and repair of the background items arrive with their own work; the refresh already calls this
// at its place (while the item's state is unknown or waits for the user's approval).
void ConnectorController::ensureBackgroundItem() {}
