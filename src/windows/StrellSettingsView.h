#pragma once

#include <QWidget>

class ConnectorController;

// placeholder until the hooks view lands
class StrellSettingsView : public QWidget {
    Q_OBJECT

public:
    explicit StrellSettingsView(ConnectorController& controller, QWidget* parent = nullptr);
};
