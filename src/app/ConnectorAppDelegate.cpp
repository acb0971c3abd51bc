#include "ConnectorAppDelegate.h"

#include "Async.h"
#include "Bundle.h"
#include "ConnectorController.h"
#include "ConnectorPaths.h"
#include "ConnectorSettings.h"
#include "InstanceChannel.h"
#include "InstanceLock.h"
#include "LifecycleProbe.h"
#include "Platform.h"
#include "ProcessInfo.h"
#include "RunningInstances.h"
#include "StatusItemController.h"
#include "StatusItemScreens.h"
#include "StatusMenuRenderer.h"
#include "StatusView.h"
#include "linux/SystemdBackgroundService.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoroTimer>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <unistd.h>
#include <utility>

namespace {

using namespace std::chrono_literals;

QString pageName(WindowPage page) {
    switch (page) {
    case WindowPage::start:
        return QStringLiteral("start");
    case WindowPage::overview:
        return QStringLiteral("overview");
    case WindowPage::diagnostics:
        return QStringLiteral("diagnostics");
    case WindowPage::settings:
        return QStringLiteral("settings");
    }
    return {};
}

// The main window: a title bar with close and minimize buttons, a fixed size taken from its content. Closing
// only hides it; the object is kept for the next show.
class MainWindow : public QWidget {
public:
    MainWindow(QWidget* content, const QString& title) {
        setWindowTitle(title);
        setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(content);
        setFixedSize(sizeHint());
    }

protected:
    // Accepting a close hides a window that is not deleted on close; ignoring it would also veto quitting.
    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        LifecycleProbe::note(QStringLiteral("window hidden"));
    }
};

// The desktop learns where this bundle is: its links come here and the application menu lists it.
QCoro::Task<void> registerWithDesktop(ConnectorController* controller) {
    QCoro::Task<void> registering = controller->registerWithDesktop();
    co_await std::move(registering);
    LifecycleProbe::note(QStringLiteral("desktop registered"));
}

QCoro::Task<void> probeRefresh(ConnectorController* controller) {
    QCoro::Task<void> refreshing = controller->refresh();
    co_await std::move(refreshing);
    LifecycleProbe::note(QStringLiteral("probe refreshed"));
}

std::shared_ptr<BackgroundService> backgroundService(const QString& plistName) {
    const QString bundle = Bundle::main() ? Bundle::main()->path : QString();
    return std::make_shared<SystemdBackgroundService>(SystemdBackgroundService::forUser(bundle, plistName));
}

} // namespace

ConnectorAppDelegate::ConnectorAppDelegate(QStringList arguments, QObject* parent)
    : QObject(parent), service_(backgroundService(ConnectorPaths::agentPlist)),
      statusItemService_(backgroundService(ConnectorPaths::menuBarPlist)),
      controller_(std::make_unique<ConnectorController>(Platform{
          .service = service_, .statusItemService = statusItemService_, .info = Bundle::mainInfo()})),
      arguments_(std::move(arguments)) {
    if (const std::optional<QString> tool = LifecycleProbe::serviceManagerTool())
        controller_->serviceManagerTool = *tool;
}

// The window goes before the controller it shows.
ConnectorAppDelegate::~ConnectorAppDelegate() {
    statusItem_.reset();
    window_.reset();
    // Workers hold the services they use, so nothing here waits for their safety; a short grace lets work
    // that is about to end finish cleanly before the controller goes.
    Async::ioPool().waitForDone(3000);
}

void ConnectorAppDelegate::applicationWillFinishLaunching() {
    ConnectorSettings::registerDefaults();
    LifecycleProbe::watchTimers(*QCoreApplication::instance());
    // An accessory application has no Dock icon or menu bar of its own. On Linux the desktop entry is listed
    // in the application menu: opening it again reaches this instance as a reopen and shows the window.
}

void ConnectorAppDelegate::applicationDidFinishLaunching() {
    Async::spawn(launch(), "launch sequence");
}

bool ConnectorAppDelegate::isolated() const {
    return ConnectorPaths::isolated();
}

QCoro::Task<QList<pid_t>> ConnectorAppDelegate::otherInstances() const {
    const QString home = ConnectorPaths::home();
    const pid_t self = ::getpid();
    // Named, not a temporary in the co_await operand: GCC 12 destroys such temporaries twice.
    auto job = [home, self] { return RunningInstances::find(ConnectorPaths::connectorBundleID, self, home); };
    co_return co_await Async::onWorker(std::move(job));
}

QCoro::Task<void> ConnectorAppDelegate::launch() {
    // 1. After an update or a rename the old instance may still be quitting: give it about five seconds.
    if (ProcessInfo::hasFlag(arguments_, QStringLiteral("--after-update"))) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            if ((co_await otherInstances()).isEmpty())
                break;
            if (attempt == 0)
                LifecycleProbe::note(QStringLiteral("waiting for the old instance"));
            co_await QCoro::sleepFor(100ms);
        }
    }

    // 2. One instance per user; the running one takes over this start's links or the reopen. The lock
    // decides between starts at the same moment, which would otherwise each see the other and both end;
    // only where no lock can be had does the list of running instances decide.
    if (!isolated()) {
        // Named, not temporaries in the co_await operand: GCC 12 destroys those twice.
        QString home = ConnectorPaths::home();
        QCoro::Task<InstanceLock::Claim> claiming = InstanceLock::claim(std::move(home));
        const InstanceLock::Claim claim = co_await std::move(claiming);
        instanceLock_ = claim.lock;
        bool another = claim.outcome == InstanceLock::Outcome::takenByAnother;
        if (claim.outcome == InstanceLock::Outcome::unavailable)
            another = !(co_await otherInstances()).isEmpty();
        if (another) {
            co_await handOff();
            terminate("other-instance");
            co_return;
        }
        if (const std::optional<QString> path = InstanceChannel::socketPath(ConnectorPaths::home())) {
            listener_ = std::make_unique<InstanceChannel::Listener>();
            connect(listener_.get(), &InstanceChannel::Listener::received, this,
                    &ConnectorAppDelegate::received);
            if (!listener_->listen(*path))
                listener_.reset();
        }
    }

    Async::spawn(registerWithDesktop(controller_.get()), "desktop registration");
    if (const std::optional<int> every = LifecycleProbe::refreshEveryMs()) {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this,
                [this] { Async::spawn(probeRefresh(controller_.get()), "probe refresh"); });
        timer->start(*every);
    }

    // 3. The status item, in every application mode. Menu commands reach the window through showWindow.
    QPointer<ConnectorAppDelegate> self(this);
    statusItem_ = std::make_unique<StatusItemController>(
        *controller_,
        [self](WindowPage page) {
            if (self)
                self->showWindow(page);
        },
        [self] {
            if (self)
                self->terminate("menu");
        });
    LifecycleProbe::note(QStringLiteral("status item"));
    LifecycleProbe::note(statusItem_->inTray() ? QStringLiteral("tray shown")
                                               : QStringLiteral("tray missing"));
    connect(statusItem_.get(), &StatusItemController::shownInTray, this,
            [] { LifecycleProbe::note(QStringLiteral("tray shown")); });
    connect(statusItem_.get(), &StatusItemController::refreshed, this,
            [] { LifecycleProbe::note(QStringLiteral("refreshed")); });
    LifecycleProbe::startWatchdog(*this);
    connect(statusItem_.get(), &StatusItemController::toolTipSet, this,
            [last = QString()](const QString& tip) mutable {
                if (tip != last)
                    LifecycleProbe::note(QStringLiteral("tooltip ") + tip);
                last = tip;
            });
    // The rows the menu was just rendered with, for comparing with what a tray host reads over D-Bus.
    connect(statusItem_.get(), &StatusItemController::menuPrepared, this, [self] {
        if (!self || !self->statusItem_)
            return;
        QStringList titles;
        for (const MenuRow& row : self->statusItem_->menuRows())
            if (!row.style.is<MenuRow::Style::Separator>())
                titles << row.title;
        LifecycleProbe::note(QStringLiteral("menu ") + titles.join(QLatin1Char('|')));
    });
    StatusItemScreens::startIfAsked(*statusItem_);

    // 4. The automatic update schedule.
    if (!isolated())
        controller_->startUpdateChecks();

    // Links given on this start's own command line arrive as the system would deliver them at launch.
    const QStringList links = InstanceChannel::linksIn(arguments_);
    if (!links.isEmpty())
        applicationOpen(links);

    // 5. Links that come with the launch arrive during this pause, so a start for a link opens no window.
    co_await QCoro::sleepFor(500ms);

    // 6. Awaited: the service manager is asked on a worker.
    QCoro::Task<void> ensuring = controller_->ensureBackgroundItem();
    co_await std::move(ensuring);

    // 7.
    if (ProcessInfo::hasFlag(arguments_, QStringLiteral("--after-rename")))
        controller_->finishLegacyRename(ProcessInfo::hasFlag(arguments_, QStringLiteral("--restart-bridge")));

    // 8.
    if (!openedByLink_ && !ProcessInfo::hasFlag(arguments_, QStringLiteral("--menubar")) &&
        !ProcessInfo::hasFlag(arguments_, QStringLiteral("--after-update"))) {
        if (isolated())
            showWindow(WindowPage::settings);
        else
            showWindow(ConnectorSettings::startCompleted() ? WindowPage::overview : WindowPage::start);
    }
    LifecycleProbe::note(QStringLiteral("launched"));
}

QCoro::Task<void> ConnectorAppDelegate::handOff() {
    InstanceChannel::Message message;
    message.links = InstanceChannel::linksIn(arguments_);
    message.reopen = message.links.isEmpty() &&
                     !ProcessInfo::hasFlag(arguments_, QStringLiteral("--menubar")) &&
                     !ProcessInfo::hasFlag(arguments_, QStringLiteral("--after-update"));
    // One line on every way out, so a start from a terminal never ends without a word.
    if (message.links.isEmpty() && !message.reopen) {
        qWarning("Orvane 连接器已在运行（同一主目录），这次启动就此结束。");
        co_return;
    }
    const std::optional<QString> path = InstanceChannel::socketPath(ConnectorPaths::home());
    bool delivered = false;
    if (path) {
        QCoro::Task<bool> sending = InstanceChannel::send(*path, message, 3s);
        delivered = co_await std::move(sending);
    }
    if (delivered)
        qWarning("Orvane 连接器已在运行（同一主目录），这次启动的请求已交给它。");
    else
        qWarning("Orvane 连接器已在运行（同一主目录），但联系不上它：这次启动的请求没有送到。");
    LifecycleProbe::note(delivered ? QStringLiteral("handed over") : QStringLiteral("hand-over failed"));
}

void ConnectorAppDelegate::received(const InstanceChannel::Message& message) {
    if (message.reopen) {
        LifecycleProbe::note(QStringLiteral("reopen"));
        applicationShouldHandleReopen(windowVisible());
    }
    if (!message.links.isEmpty())
        applicationOpen(message.links);
}

bool ConnectorAppDelegate::applicationShouldHandleReopen(bool) {
    showWindow(ConnectorSettings::startCompleted() ? WindowPage::overview : WindowPage::start);
    return true;
}

void ConnectorAppDelegate::applicationOpen(const QStringList& links) {
    if (isolated())
        return;
    openedByLink_ = true;
    for (const QString& link : links) {
        ++pendingLinks_;
        Async::spawn(handleLink(link), "link");
    }
}

QCoro::Task<void> ConnectorAppDelegate::handleLink(QString link) {
    try {
        QCoro::Task<void> handling = controller_->handle(link);
        co_await std::move(handling);
    } catch (const std::exception& error) {
        // handle() never fails by contract; if it does, the link still counts as finished so the
        // application is not kept alive by it forever.
        qCritical("handling a link failed: %s", error.what());
    }
    --pendingLinks_;
    LifecycleProbe::note(QStringLiteral("link ") + QString::fromUtf8(QUrl(link).toEncoded()) +
                         QStringLiteral(" handled"));
    quitIfIdle();
}

bool ConnectorAppDelegate::windowVisible() const {
    // Qt calls a minimized window visible; the platform does not, and neither does the decision to quit.
    return window_ && window_->isVisible() && !window_->isMinimized();
}

void ConnectorAppDelegate::quitIfIdle() {
    if (ConnectorSettings::showsStatusItemAtLogin())
        return;
    if (pendingLinks_ != 0 || windowVisible())
        return;
    QTimer::singleShot(1s, this, [this] {
        if (pendingLinks_ == 0 && !windowVisible())
            terminate("idle");
    });
}

void ConnectorAppDelegate::terminate(const char* reason) {
    LifecycleProbe::note(QStringLiteral("quit ") + QLatin1String(reason));
    QCoreApplication::quit();
}

void ConnectorAppDelegate::showWindow(WindowPage page) {
    windowState_.setPage(page);
    const bool created = !window_;
    if (created) {
        const QString title =
            isolated() ? QStringLiteral("Orvane 连接器 · 隔离验证") : QStringLiteral("Orvane 连接器");
        window_ = std::make_unique<MainWindow>(new StatusView(*controller_, windowState_), title);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = window_->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window_->move(frame.topLeft());
        }
    }
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
    LifecycleProbe::note(QStringLiteral("window ") + pageName(page) +
                         (created ? QString() : QStringLiteral(" again")));
    if (const std::optional<int> after = LifecycleProbe::hideWindowAfterMs())
        QTimer::singleShot(*after, window_.get(), [window = window_.get()] { window->close(); });
    if (created) {
        if (const std::optional<int> after = LifecycleProbe::closeWindowAfterMs())
            QTimer::singleShot(*after, window_.get(), [window = window_.get()] { window->close(); });
        if (const std::optional<int> after = LifecycleProbe::minimizeWindowAfterMs())
            QTimer::singleShot(*after, window_.get(), [window = window_.get()] {
                window->showMinimized();
                LifecycleProbe::note(QStringLiteral("window minimized"));
            });
    }
}
