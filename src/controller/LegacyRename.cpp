#include "ConnectorController.h"

// The legacy bundle rename arrives with its own work; the refresh already calls it at its place.
void ConnectorController::renameLegacyBundleIfIdle() {}
