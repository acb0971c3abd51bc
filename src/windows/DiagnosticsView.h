#pragma once

#include <QWidget>

class ConnectorController;
class WindowState;

// placeholder until the diagnostics view lands
class DiagnosticsView : public QWidget {
    Q_OBJECT

public:
    DiagnosticsView(ConnectorController& controller, WindowState& window, QWidget* parent = nullptr);
};
