#pragma once

#include <QList>
#include <QWidget>

class ConnectorController;
class QCheckBox;
class QLabel;

// The content of the settings page's "外面的会话" card: what the session hooks do, where the bridge put them,
// and the one switch. Keeps no state; re-renders from the controller on every change.
class SessionHooksView : public QWidget {
    Q_OBJECT

public:
    explicit SessionHooksView(ConnectorController& controller, QWidget* parent = nullptr);

private:
    void render();

    ConnectorController& controller_;
    QLabel* hint_ = nullptr;
    QWidget* report_ = nullptr; // everything shown while the bridge reports hooks
    QCheckBox* switch_ = nullptr;
    QList<QLabel*> lines_;
    QLabel* message_ = nullptr;
};
