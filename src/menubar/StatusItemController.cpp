#include "StatusItemController.h"

#include "Async.h"
#include "ConnectorController.h"
#include "ConnectorSettings.h"
#include "StatusMenu.h"
#include "StatusMenuRenderer.h"
#include "StatusNotifierItem.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QCursor>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVariant>

#include <utility>

namespace {

using namespace std::chrono_literals;

const char* const noTray =
    "Orvane 连接器：没有找到系统托盘，状态栏图标等托盘出现后再显示；可从应用菜单打开连接器窗口。";

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
    // 1. The item: a StatusNotifier item, which goes on the bus once a host is there; the embedded icon is
    //    made only once it is known that no StatusNotifier host is there.
    notifier_ = std::make_unique<StatusNotifierItem>(QDBusConnection::sessionBus());

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
    {
        DBusMenuExport& exported = notifier_->menu();
        // The host asks before it draws the menu, and tells when it shows and hides it.
        connect(&exported, &DBusMenuExport::aboutToShowRequested, this, [this] {
            menuNeedsUpdate();
            emit menuPrepared();
            Async::spawn(controller_.refresh(), "refresh on menu open");
        });
        connect(&exported, &DBusMenuExport::opened, this, [this] {
            menuOpen_ = true;
            controller_.holdsAutoInstall = true;
        });
        connect(&exported, &DBusMenuExport::closed, this, &StatusItemController::menuDidClose);
        connect(&exported, &DBusMenuExport::chosen, this, &StatusItemController::perform);
        connect(notifier_.get(), &StatusNotifierItem::activated, this,
                [this](QPoint at) { clickedAt(TrayClick::Button::left, at); });
        connect(notifier_.get(), &StatusNotifierItem::secondaryActivated, this,
                [this](QPoint at) { clickedAt(TrayClick::Button::middle, at); });
        // A host that draws no menu of its own: on X11 the menu can open where it asks; a Wayland client
        // cannot place a window there, so the click does what a left click does.
        connect(notifier_.get(), &StatusNotifierItem::contextMenuRequested, this, [this](QPoint at) {
            if (x11_)
                menu_->popup(at);
            else
                clickedAt(TrayClick::Button::left, at);
        });
        connect(notifier_.get(), &StatusNotifierItem::registeredWithWatcher, this,
                [this] { shownIn(TrayClick::Tray::statusNotifier); });
    }

    // 4.
    updateIcon();
    // The menu has its rows before the tray first asks for them (hosts over D-Bus read the layout ahead).
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
    notifier_.reset();
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
    if (menuOpen_)
        menuNeedsUpdate();
}

const QList<MenuRow>& StatusItemController::menuRows() const {
    return rows_;
}

MenuSnapshot StatusItemController::snapshot() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 steps = startStepsLeft(controller_);
    return MenuSnapshot::from(controller_, now, steps, ConnectorSettings::startCompleted(),
                              ConnectorSettings::autoInstallUpdates());
}

void StatusItemController::menuNeedsUpdate() {
    rows_ = StatusMenu::rows(snapshot());
    if (notifier_->started())
        notifier_->menu().setRows(rows_);
    // Where the host draws the menu, the connector's own is drawn only while it shows (a popup on X11).
    if (!notifier_->started() || menu_->isVisible())
        renderer_->render(rows_, *menu_);
}

void StatusItemController::menuWillOpen() {
    menuOpen_ = true;
    controller_.holdsAutoInstall = true;
    menuNeedsUpdate();
    renderer_->render(rows_, *menu_); // nothing to do where it was rendered just now
    emit menuPrepared();
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
        if (item_)
            item_->setIcon(MenuBarIcon::image(state));
        notifier_->setIcon(MenuBarIcon::pictures(state));
        iconState_ = state;
        ++imageUpdates_;
    }

    // StatusNotifier tool tips have a heading and a body; an embedded icon's is one line of both.
    const QString text = activity.value_or(health.title());
    toolTip_ = StatusNotifierItem::title + QStringLiteral("：") + text;
    if (item_)
        item_->setToolTip(toolTip_);
    notifier_->setToolTip(StatusNotifierItem::title, text);
    ++toolTipUpdates_;
    emit toolTipSet(toolTip_);
}

// The image is drawn for the screens of the moment: forget it, so the next update draws anew.
void StatusItemController::redrawIcon() {
    iconState_.reset();
    updateIcon();
}

void StatusItemController::watchForTray() {
    x11_ = QGuiApplication::platformName() == QLatin1String("xcb");
    if (!QDBusConnection::sessionBus().isConnected()) {
        if (x11_)
            embed();
        else
            qInfo("%s", noTray);
        return;
    }
    // Asked without waiting on the main thread; the answer comes again at every change of the watcher.
    connect(notifier_.get(), &StatusNotifierItem::watcherChanged, this,
            [this, first = true](bool present) mutable {
                const bool firstAnswer = std::exchange(first, false);
                if (present && !inTray_) {
                    notifier_->start(); // registers now and with every watcher after this one
                    menuNeedsUpdate();
                } else if (!present && firstAnswer) {
                    qInfo("%s", noTray);
                    // X11 trays that embed windows still may be there, or come.
                    if (x11_)
                        embed();
                }
            });
    notifier_->watch();
}

// An X11 tray embeds the icon as a window; Qt's tray icon does that, since no StatusNotifier host was on the
// bus when it first looked (it never looks again, so it cannot export a second item).
void StatusItemController::embed() {
    if (item_)
        return;
    item_ = std::make_unique<QSystemTrayIcon>();
    item_->setContextMenu(menu_.get());
    connect(item_.get(), &QSystemTrayIcon::activated, this, &StatusItemController::clicked);
    redrawIcon();
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        checkTray();
        return;
    }
    // X11 trays announce themselves to the root window, and the xcb plug-in's native interface (a QObject
    // whose class is private to Qt) passes that on as a signal, looked up by name.
    bool announced = false;
    if (QObject* native = reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface()))
        if (native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)") >= 0)
            announced = connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), this, SLOT(checkTray()));
    // Elsewhere the tray is looked for again at every refresh: one cheap query, and no timer of its own
    // ticking while nothing happens.
    pollsTray_ = !announced;
}

void StatusItemController::checkTray() {
    if (inTray_ || !item_ || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    pollsTray_ = false;
    item_->show();
    shownIn(TrayClick::Tray::embedded);
}

void StatusItemController::shownIn(TrayClick::Tray tray) {
    tray_ = tray;
    inTray_ = true;
    qInfo("Orvane 连接器：系统托盘出现了，状态栏图标已显示。");
    if (tray == TrayClick::Tray::statusNotifier)
        qInfo("Orvane 连接器：托盘自己画菜单（右键单击）；左键单击打开连接器窗口。");
    emit shownInTray();
}

void StatusItemController::clicked(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger)
        clickedAt(TrayClick::Button::left, QCursor::pos());
    else if (reason == QSystemTrayIcon::MiddleClick)
        clickedAt(TrayClick::Button::middle, QCursor::pos());
    // the right click's menu is the tray's own business
}

void StatusItemController::clickedAt(TrayClick::Button button, QPoint at) {
    const TrayClick::Action action = TrayClick::onClick(tray_, button, ConnectorSettings::startCompleted());
    if (std::holds_alternative<TrayClick::PopUpMenu>(action) && !menu_->isVisible())
        menu_->popup(item_ && item_->geometry().isValid() ? item_->geometry().bottomLeft() : at);
    else if (const auto* show = std::get_if<TrayClick::ShowWindow>(&action); show && openWindow_)
        openWindow_(show->page);
}
