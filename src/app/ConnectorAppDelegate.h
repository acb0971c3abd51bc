#pragma once

#include "WindowState.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <sys/types.h>

class BackgroundService;
class ConnectorController;
class StatusItemController;
class InstanceLock;
class QWidget;
namespace InstanceChannel {
class Listener;
struct Message;
} // namespace InstanceChannel

// The application shell of the window and menu-bar modes. Owns the controller, the window state, the main
// window and the status item, runs the launch sequence, passes links to the controller and decides when a
// connector started only for a link quits again. Lives as long as the application, on the main thread only.
class ConnectorAppDelegate : public QObject {
    Q_OBJECT

public:
    explicit ConnectorAppDelegate(QStringList arguments, QObject* parent = nullptr);
    ~ConnectorAppDelegate() override;

    // Before the event loop runs: preferences get their fallbacks before anything reads them.
    void applicationWillFinishLaunching();
    // Once the event loop runs: starts the launch sequence and returns at once.
    void applicationDidFinishLaunching();

    // Links addressed to the connector, in order. Ignored in isolated validation mode.
    void applicationOpen(const QStringList& links);
    // The user opened the application again while it runs: the window on the start or overview page.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    // Closing the main window never ends the application.
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }

    // Shows the main window on `page`, creating it on first use, and brings it to the front.
    void showWindow(WindowPage page);
    // Ends the application when nothing keeps it: no pending link, no visible window, no status item kept at
    // login; the decision is taken again one second later.
    void quitIfIdle();
    // The other running instances of the connector (process ids), without this process. Off the main thread.
    QCoro::Task<QList<pid_t>> otherInstances() const;

    // The launch flags, unchanged from the process's argument vector.
    const QStringList& arguments() const { return arguments_; }

private:
    QCoro::Task<void> launch();
    QCoro::Task<void> handleLink(QString link);
    // Gives this start's links, or a reopen request, to the instance that runs already.
    QCoro::Task<void> handOff();
    void received(const InstanceChannel::Message& message);
    void terminate(const char* reason);
    bool windowVisible() const;
    bool isolated() const;

    // What the controller is built on; declared first so it outlives the controller.
    std::shared_ptr<BackgroundService> service_;
    std::shared_ptr<BackgroundService> statusItemService_;

    std::unique_ptr<ConnectorController> controller_;
    WindowState windowState_;
    std::unique_ptr<QWidget> window_;
    std::unique_ptr<StatusItemController> statusItem_;
    bool openedByLink_ = false;
    int pendingLinks_ = 0;
    QStringList arguments_;

    std::unique_ptr<InstanceChannel::Listener> listener_;
    // Held while this process is the user's one instance (InstanceLock.h).
    std::shared_ptr<InstanceLock> instanceLock_;
};
