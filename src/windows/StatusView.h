#pragma once

#include <QWidget>

class ConnectorController;
class QLabel;
class WindowState;

// The main window's content. This first form names the page shown and the overall health; the pages
// themselves take this place.
class StatusView : public QWidget {
    Q_OBJECT

public:
    StatusView(ConnectorController& controller, WindowState& window, QWidget* parent = nullptr);

private:
    void render();

    ConnectorController& controller_;
    WindowState& window_;
    QLabel* page_ = nullptr;
    QLabel* health_ = nullptr;
};
