#pragma once

#include <QWidget>

class ConnectorController;
class WindowState;

// placeholder until the diagnostics view lands
class SettingsView : public QWidget {
    Q_OBJECT

public:
    SettingsView(ConnectorController& controller, WindowState& window, QWidget* parent = nullptr);
};
