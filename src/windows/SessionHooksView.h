#pragma once

#include <QWidget>

class ConnectorController;

// placeholder until the hooks view lands
class SessionHooksView : public QWidget {
    Q_OBJECT

public:
    explicit SessionHooksView(ConnectorController& controller, QWidget* parent = nullptr);
};
