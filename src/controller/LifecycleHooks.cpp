#include "ConnectorController.h"

// Stand-in until the update schedule arrives with its own work: the application shell already calls it at
// its place. Whoever implements it removes it from here.

void ConnectorController::startUpdateChecks() {}
