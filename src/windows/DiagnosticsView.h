#pragma once

#include "Diagnostics.h"
#include "DiagnosticsModel.h"

#include <QList>
#include <QWidget>

class ConnectorController;
class QLabel;
class QPushButton;
class QVBoxLayout;
class SymbolView;
class WindowState;

// The diagnostics page: one row per check, the controls row and the redaction note. Re-renders from
// controller.changed() in place; the few facts read from the system (application folders, the log's size)
// are read on a worker whenever the page is shown or the controller changes.
class DiagnosticsView : public QWidget {
    Q_OBJECT

public:
    DiagnosticsView(ConnectorController& controller, WindowState& window, QWidget* parent = nullptr);

    const DiagnosticsModel& model() const { return model_; }
    bool copied() const { return copied_; }

    // The controls, for tests.
    QPushButton* recheckButton() const { return recheck_; }
    QPushButton* startBridgeButton() const { return startBridge_; }
    QPushButton* copyButton() const { return copy_; }
    QPushButton* showLogButton() const { return showLog_; }
    QLabel* lastCheckLabel() const { return lastCheck_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct RowView {
        QWidget* block = nullptr;
        SymbolView* symbol = nullptr;
        QLabel* title = nullptr;
        QLabel* detail = nullptr;
    };

    void render();
    void readFacts();
    void copyReport();
    RowView makeRow();

    ConnectorController& controller_;
    Diagnostics::Facts facts_;
    bool readingFacts_ = false;
    bool readAgain_ = false;
    bool copied_ = false;
    DiagnosticsModel model_;

    QVBoxLayout* rowsLayout_ = nullptr;
    QList<RowView> rows_;
    QPushButton* recheck_ = nullptr;
    QPushButton* startBridge_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* showLog_ = nullptr;
    QLabel* lastCheck_ = nullptr;
};
