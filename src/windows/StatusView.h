#pragma once

#include <QCoroTask>
#include <QPointer>
#include <QWidget>

class ConnectorController;
class HealthBadge;
class QScrollArea;
class SegmentedControl;
class WindowState;
enum class WindowPage;

// The main window's content: the header with the overall health, the page picker bound to the window
// state, and a 420-point scrolling area showing the chosen page. While it is on screen it refreshes the
// controller every 3 seconds.
class StatusView : public QWidget {
    Q_OBJECT

public:
    StatusView(ConnectorController& controller, WindowState& window, QWidget* parent = nullptr);
    ~StatusView() override;

    static constexpr int windowWidth = 560;
    static constexpr int pageAreaHeight = 420;

    // The page widgets, by page (for tests and the window).
    QWidget* page(WindowPage page) const;
    QScrollArea* scrollArea() const { return scroll_; }
    SegmentedControl* picker() const { return picker_; }

    // Off: no refresh loop while shown (offscreen pictures of a fixed state).
    void setRefreshLoop(bool enabled);
    bool refreshLoopRunning() const { return loopRunning_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void render();
    void showPage();
    void startLoop();
    void stopLoop();
    static QCoro::Task<void> refreshLoop(QPointer<StatusView> view, ConnectorController* controller,
                                         int generation);

    ConnectorController& controller_;
    WindowState& window_;
    HealthBadge* badge_ = nullptr;
    SegmentedControl* picker_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* pages_[4] = {};
    int shownPage_ = -1;

    bool loopEnabled_ = true;
    bool loopRunning_ = false;
    int loopGeneration_ = 0;
};
