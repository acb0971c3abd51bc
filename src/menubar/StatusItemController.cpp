#include "StatusItemController.h"

#include "Async.h"
#include "ConnectorController.h"
#include "ConnectorSettings.h"
#include "StatusMenu.h"
#include "StatusMenuRenderer.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVariant>

namespace {

using namespace std::chrono_literals;

// The onboarding steps the start page still counts, recording a completed onboarding on the way.
qint64 startStepsLeft(const ConnectorController& c) {
    const StartProgress progress = c.startProgress();
    progress.rememberIfComplete();
    return progress.remaining();
}

} // namespace

StatusItemController::StatusItemController(ConnectorController& controller, OpenWindow openWindow,
                                           Terminate terminate, QObject* parent)
    : QObject(parent), controller_(controller), openWindow_(std::move(openWindow)),
      terminate_(std::move(terminate)) {
    // 1. The item.
    item_ = std::make_unique<QSystemTrayIcon>();

    // 2. The renderer reaches this object weakly: nothing runs once it is gone.
    QPointer<StatusItemController> self(this);
    renderer_ = std::make_unique<StatusMenuRenderer>([self](const MenuCommand& command) {
        if (self)
            self->perform(command);
    });

    // 3. The menu.
    menu_ = std::make_unique<QMenu>();
    menu_->setMinimumWidth(300);
    menu_->setToolTipsVisible(true);
    menu_->setSeparatorsCollapsible(false);
    connect(menu_.get(), &QMenu::aboutToShow, this, &StatusItemController::menuWillOpen);
    connect(menu_.get(), &QMenu::aboutToHide, this, &StatusItemController::menuDidClose);
    item_->setContextMenu(menu_.get());
    connect(item_.get(), &QSystemTrayIcon::activated, this, &StatusItemController::clicked);

    // 4.
    updateIcon();
    // The menu has its rows before the tray first asks for them (trays over D-Bus read the layout ahead).
    menuNeedsUpdate();

    // 5. One scheduled run per announcement, no coalescing.
    connect(&controller_, &ConnectorController::changed, this, &StatusItemController::changedLater,
            Qt::QueuedConnection);

    watchForTray();
    // A new screen may bring a new density. (The picture does not follow the palette: panels keep their own
    // colours.)
    connect(qGuiApp, &QGuiApplication::screenAdded, this, &StatusItemController::redrawIcon);

    // 6.
    Async::spawn(refreshLoop(self), "status item refresh");
}

StatusItemController::~StatusItemController() {
    // The menu goes before the item that points at it, and a closing menu no longer reaches this object.
    if (menu_)
        menu_->disconnect(this);
    if (item_)
        item_->setContextMenu(nullptr);
    menu_.reset();
    item_.reset();
}

QCoro::Task<void> StatusItemController::refreshLoop(QPointer<StatusItemController> self) {
    while (self) {
        ConnectorController* controller = &self->controller_;
        QCoro::Task<void> refreshing = controller->refresh();
        co_await std::move(refreshing);
        if (!self)
            co_return;
        emit self->refreshed();
        if (self->pollsTray_)
            self->checkTray();
        // A precise timer: Qt's default coarse one may fire up to 5 % early.
        QTimer pause;
        pause.setTimerType(Qt::PreciseTimer);
        pause.setSingleShot(true);
        pause.setObjectName(QStringLiteral("refresh pause"));
        pause.start(self->refreshInterval);
        co_await pause;
    }
}

void StatusItemController::changedLater() {
    updateIcon();
    if (menuOpen_ && item_->contextMenu())
        renderer_->render(StatusMenu::rows(snapshot()), *menu_);
}

MenuSnapshot StatusItemController::snapshot() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 steps = startStepsLeft(controller_);
    return MenuSnapshot::from(controller_, now, steps, ConnectorSettings::startCompleted(),
                              ConnectorSettings::autoInstallUpdates());
}

void StatusItemController::menuNeedsUpdate() {
    renderer_->render(StatusMenu::rows(snapshot()), *menu_);
}

void StatusItemController::menuWillOpen() {
    menuOpen_ = true;
    controller_.holdsAutoInstall = true;
    renderer_->render(StatusMenu::rows(snapshot()), *menu_);
    Async::spawn(controller_.refresh(), "refresh on menu open");
}

void StatusItemController::menuDidClose() {
    menuOpen_ = false;
    controller_.holdsAutoInstall = false;
    // An update that waited for the menu to close may go ahead now.
    QTimer::singleShot(0, this, [this] { controller_.installUpdateIfIdle(); });
}

void StatusItemController::perform(const MenuCommand& command) {
    using C = MenuCommand::Case;
    switch (command.which) {
    case C::startBridge:
        controller_.startBridge();
        break;
    case C::checkConnectorUpdate:
        Async::spawn(controller_.checkForUpdates(true), "update check");
        break;
    case C::installConnectorUpdate:
        controller_.requestInstall();
        break;
    case C::installConnectorUpdateNow:
        controller_.installNow();
        break;
    case C::cancelConnectorUpdateWait:
        controller_.cancelInstallWait();
        break;
    case C::checkCli:
        Async::spawn(controller_.cliAction(QStringLiteral("cli-check"), std::nullopt, true), "tool check");
        break;
    case C::updateCli:
        Async::spawn(controller_.cliAction(QStringLiteral("cli-update"), command.toolId, true),
                     "tool update");
        break;
    case C::openSenvik:
        Async::spawn(controller_.openSenvik(), "open Orvane");
        break;
    case C::openStart:
        if (openWindow_)
            openWindow_(WindowPage::start);
        break;
    case C::openOverview:
        if (openWindow_)
            openWindow_(WindowPage::overview);
        break;
    case C::openDiagnostics:
        if (openWindow_)
            openWindow_(WindowPage::diagnostics);
        break;
    case C::quit:
        if (terminate_)
            terminate_();
        else
            QCoreApplication::quit();
        break;
    }
}

void StatusItemController::updateIcon() {
    std::optional<QString> activity = controller_.update().activity();
    if (!activity && controller_.cliActivity())
        activity = controller_.cliActivity()->title();

    const Health health = controller_.health();
    MenuBarIcon::State state = MenuBarIcon::State::normal;
    if (health.is<Health::Stopped>())
        state = MenuBarIcon::State::stopped;
    else if (activity)
        state = MenuBarIcon::State::busy;
    else if (health.is<Health::Attention>())
        state = MenuBarIcon::State::attention;

    if (iconState_ != state) {
        item_->setIcon(MenuBarIcon::image(state));
        iconState_ = state;
        ++imageUpdates_;
    }

    const QString toolTip = QStringLiteral("Orvane 连接器：") + activity.value_or(health.title());
    item_->setToolTip(toolTip);
    ++toolTipUpdates_;
    emit toolTipSet(toolTip);
}

// The image is drawn for the screens of the moment: forget it, so the next update draws anew.
void StatusItemController::redrawIcon() {
    iconState_.reset();
    updateIcon();
}

void StatusItemController::watchForTray() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        item_->show();
        inTray_ = true;
        detectTray();
        return;
    }
    qInfo("Orvane 连接器：没有找到系统托盘，状态栏图标等托盘出现后再显示；可从应用菜单打开连接器窗口。");
    // X11 trays announce themselves to the root window, and the xcb plug-in's native interface (a QObject
    // whose class is private to Qt) passes that on as a signal, looked up by name.
    bool announced = false;
    if (QObject* native = reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface()))
        if (native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)") >= 0)
            announced = connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), this, SLOT(checkTray()));
    if (announced)
        return;
    // Elsewhere the tray is looked for again at every refresh: one cheap query, and no timer of its own
    // ticking while nothing happens.
    pollsTray_ = true;
}

void StatusItemController::checkTray() {
    if (inTray_ || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    inTray_ = true;
    pollsTray_ = false;
    item_->show();
    detectTray();
    qInfo("Orvane 连接器：系统托盘出现了，状态栏图标已显示。");
    emit shownInTray();
}

void StatusItemController::clicked(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::MiddleClick)
        return; // the right click's menu is the tray's own business
    const auto button =
        reason == QSystemTrayIcon::Trigger ? TrayClick::Button::left : TrayClick::Button::middle;
    const TrayClick::Action action = TrayClick::onClick(tray_, button, ConnectorSettings::startCompleted());
    if (std::holds_alternative<TrayClick::PopUpMenu>(action) && !menu_->isVisible())
        menu_->popup(item_->geometry().isValid() ? item_->geometry().bottomLeft() : QCursor::pos());
    else if (const auto* show = std::get_if<TrayClick::ShowWindow>(&action); show && openWindow_)
        openWindow_(show->page);
}

void StatusItemController::detectTray() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    tray_ = TrayClick::trayFor(QGuiApplication::platformName(), false);
    if (!bus.isConnected())
        return;
    // Qt asked the same question, synchronously, when the icon was first made; asked here again without
    // waiting on the main thread.
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << QStringLiteral("org.kde.StatusNotifierWatcher");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask, 3000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<bool> reply = *call;
        tray_ = TrayClick::trayFor(QGuiApplication::platformName(), !reply.isError() && reply.value());
        if (tray_ != TrayClick::Tray::statusNotifier)
            return;
        // The host draws the exported menu, where widget rows are not shown.
        qInfo("Orvane 连接器：托盘通过 D-Bus 显示菜单，菜单行改为普通菜单项；左键单击打开连接器窗口。");
        renderer_->setPlainItems(true);
        menuNeedsUpdate();
    });
}
