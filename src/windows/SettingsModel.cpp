#include "SettingsModel.h"

#include "ConnectorController.h"

SettingsModel SettingsModel::from(const ConnectorController& controller, bool isolated, bool autoInstall) {
    using Status = BackgroundService::Status;
    SettingsModel model;
    model.systemCardsEnabled = !isolated;
    model.statusItemAtLogin = controller.statusItemAtLogin() == Status::enabled;
    model.showsLoginItemsButton = controller.background().is<Background::RequiresApproval>() ||
                                  controller.statusItemAtLogin() == Status::requiresApproval;
    model.autoInstall = autoInstall;
    model.connectEnabled = controller.running();
    model.notice = controller.notice();
    return model;
}

UninstallSheetModel UninstallSheetModel::from(const ConnectorController& controller, bool deletesData) {
    return {deletesData, !controller.uninstalling()};
}
