#include "ConnectorController.h"

// The executor-tool commands arrive with their own work; the refresh already starts the launch check here.
QCoro::Task<void> ConnectorController::cliAction(QString command, std::optional<QString> engine,
                                                 bool userInitiated) {
    Q_UNUSED(command);
    Q_UNUSED(engine);
    Q_UNUSED(userInitiated);
    co_return;
}
