#pragma once

#include "SettingsModel.h"

#include <QDialog>

class ConnectorController;
class QCheckBox;
class QPushButton;

// The sheet that confirms the uninstall, over the main window. "取消" and Escape close it; "卸载" closes it
// and starts the uninstall, and cannot be pressed while one runs. The data switch belongs to the settings
// page, so its state outlives the sheet.
class UninstallSheet : public QDialog {
    Q_OBJECT

public:
    UninstallSheet(ConnectorController& controller, bool& deletesData, QWidget* parent = nullptr);

    const UninstallSheetModel& model() const { return model_; }
    QCheckBox* deleteDataSwitch() const { return deleteData_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* uninstallButton() const { return confirm_; }

    void render();

private:
    ConnectorController& controller_;
    bool& deletesData_;
    UninstallSheetModel model_;
    QCheckBox* deleteData_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* confirm_ = nullptr;
};
