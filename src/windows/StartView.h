#pragma once

#include "StartModel.h"

#include <QList>
#include <QWidget>

#include <optional>

class ConnectorController;
class QLabel;
class QPushButton;
class WindowState;

// The start page: the three connections as a diagram and as numbered steps with the help of the current
// one, the completion card and the download page's QR code. Re-renders in place on every controller change
// and records completion when shown and whenever the progress changes while shown.
class StartView : public QWidget {
    Q_OBJECT

public:
    StartView(ConnectorController& controller, WindowState& window, QWidget* parent = nullptr);

    const StartModel& model() const { return model_; }
    // The QR code's widget; hidden when no code could be made.
    QWidget* qrCode() const;
    QWidget* phonePanel() const { return phone_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    class NodeView;
    class StepView;
    class QrView;

    void render();
    void act(StartModel::Action action);

    ConnectorController& controller_;
    StartModel model_;
    std::optional<StartProgress> recorded_; // the progress last seen while shown
    bool rendered_ = false;

    QList<NodeView*> nodes_;
    QList<StepView*> steps_;
    QWidget* complete_ = nullptr;
    QWidget* phone_ = nullptr;
    QrView* qr_ = nullptr;
};
