#include "UninstallSheet.h"

#include "Async.h"
#include "Brand.h"
#include "ConnectorController.h"
#include "Controls.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

UninstallSheet::UninstallSheet(ConnectorController& controller, bool& deletesData, QWidget* parent)
    : QDialog(parent), controller_(controller), deletesData_(deletesData) {
    setWindowModality(Qt::WindowModal);
    setWindowTitle(UninstallSheetModel::title);
    setFixedWidth(400);
    setPalette(Brand::palette());
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);
    auto* title = new QLabel(UninstallSheetModel::title, this);
    title->setFont(Brand::font(15, QFont::DemiBold));
    layout->addWidget(title);
    auto* message = new QLabel(UninstallSheetModel::message, this);
    message->setFont(Brand::font(12));
    message->setWordWrap(true);
    QPalette secondary = message->palette();
    secondary.setColor(QPalette::WindowText, Brand::secondary);
    message->setPalette(secondary);
    layout->addWidget(message);
    deleteData_ = new QCheckBox(UninstallSheetModel::deleteDataSwitch, this);
    deleteData_->setFont(Brand::font(12));
    layout->addWidget(deleteData_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancel_ = Controls::button(UninstallSheetModel::cancel, Controls::ButtonStyle::regular, this);
    // Destructive: red text, never the default button.
    confirm_ = Controls::button(UninstallSheetModel::confirm, Controls::ButtonStyle::destructive, this);
    buttons->addWidget(cancel_);
    buttons->addWidget(confirm_);
    layout->addLayout(buttons);

    // QDialog turns Escape into reject(), like "取消".
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(deleteData_, &QCheckBox::toggled, this, [this](bool on) { deletesData_ = on; });
    connect(confirm_, &QPushButton::clicked, this, [this] {
        if (controller_.uninstalling())
            return;
        accept();
        Async::spawn(controller_.uninstall(deletesData_), "uninstall");
    });
    connect(&controller_, &ConnectorController::changed, this, &UninstallSheet::render);
    render();
}

void UninstallSheet::render() {
    model_ = UninstallSheetModel::from(controller_, deletesData_);
    const QSignalBlocker quiet(deleteData_);
    deleteData_->setChecked(model_.deletesData);
    confirm_->setEnabled(model_.uninstallEnabled);
}
