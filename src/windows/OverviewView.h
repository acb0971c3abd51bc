#pragma once

#include "ControllerTypes.h"
#include "OverviewModel.h"

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <optional>

class Card;
class ConnectorController;
class QLabel;

class QProgressBar;
class QPushButton;
class QVBoxLayout;
class Spinner;
class StatusRow;
class SymbolView;
class WindowState;

// The overview page: health callout, bridge and engines, pairings, executor tools, the connector update and
// the notice. Built once; every controller change re-renders the same widgets from a new OverviewModel.
class OverviewView : public QWidget {
    Q_OBJECT

public:
    OverviewView(ConnectorController& controller, WindowState& window, QWidget* parent = nullptr);

    const OverviewModel& model() const { return model_; }
    // The tool whose update waits for confirmation, and the open confirmation.
    const std::optional<CliTool>& cliToUpdate() const { return cliToUpdate_; }
    QMessageBox* confirmation() const { return confirmation_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    class CalloutBox;
    struct PairingWidgets;
    struct ToolWidgets;

    void render();
    void renderCallout();
    void renderStatus();
    void renderPairings();
    void renderTools();
    void renderUpdate();
    void confirmToolUpdate(const CliTool& tool);

    ConnectorController& controller_;
    OverviewModel model_;
    bool rendered_ = false;
    std::optional<CliTool> cliToUpdate_;
    QPointer<QMessageBox> confirmation_;

    CalloutBox* callout_ = nullptr;
    QList<QWidget*> calloutLines_;
    QVBoxLayout* calloutLayout_ = nullptr;
    QPushButton* calloutButton_ = nullptr;

    QVBoxLayout* statusLayout_ = nullptr;
    QList<StatusRow*> statusRows_;

    QLabel* noPairings_ = nullptr;
    QVBoxLayout* pairingsLayout_ = nullptr;
    QList<PairingWidgets*> pairingRows_;

    QVBoxLayout* toolsLayout_ = nullptr;
    QList<ToolWidgets*> toolRows_;
    QLabel* toolsUnavailable_ = nullptr;
    QWidget* toolButtons_ = nullptr;
    QPushButton* checkTools_ = nullptr;
    QPushButton* refreshModels_ = nullptr;
    Spinner* toolsSpinner_ = nullptr;
    QLabel* toolsMessage_ = nullptr;
    QLabel* openRunsNote_ = nullptr;

    QLabel* versionLine_ = nullptr;
    QLabel* updateLine_ = nullptr;
    QPushButton* checkConnector_ = nullptr;
    Spinner* updateSpinner_ = nullptr;
    QProgressBar* updateProgress_ = nullptr;
    QWidget* waitButtons_ = nullptr;
    QPushButton* installButton_ = nullptr;

    QWidget* notice_ = nullptr;
    QLabel* noticeText_ = nullptr;
};
