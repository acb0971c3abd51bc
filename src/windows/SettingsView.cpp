#include "SettingsView.h"

#include <QLabel>
#include <QVBoxLayout>

// placeholder until the diagnostics view lands
SettingsView::SettingsView(ConnectorController& controller, WindowState& window, QWidget* parent)
    : QWidget(parent) {
    Q_UNUSED(controller);
    Q_UNUSED(window);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("设置"), this));
}
