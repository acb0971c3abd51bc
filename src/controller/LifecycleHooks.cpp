#include "ConnectorController.h"

// Stand-ins until the update schedule, the legacy rename and pairing arrive with their own work: the
// application shell already calls each at its place. Whoever implements one removes it from here.

void ConnectorController::startUpdateChecks() {}

void ConnectorController::finishLegacyRename(bool) {}

QCoro::Task<void> ConnectorController::handle(QUrl) {
    co_return;
}
