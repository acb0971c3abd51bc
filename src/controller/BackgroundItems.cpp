#include "ConnectorController.h"

#include "Async.h"
#include "BridgeAdmin.h"
#include "ConnectorPaths.h"
#include "ConnectorSettings.h"
#include "FailureText.h"
#include "SystemTools.h"

#include <QPointer>

#include <exception>

namespace {

using ConnectorPaths::isolated;

using Status = BackgroundService::Status;

bool unregistered(Status status) {
    return status == Status::notRegistered || status == Status::notFound;
}

struct Candidate {
    QString identifier;
    QString location;
};

// The companion apps to tell, in the order of ConnectorPaths::senvikApps: a running copy first; an installed
// one only when the user asked. Reads the process table and the application folders, so it runs on a worker.
QList<Candidate> candidates(const std::shared_ptr<Workspace>& workspace, bool onlyRunning) {
    QList<Candidate> result;
    try {
        for (const QString& identifier : ConnectorPaths::senvikApps) {
            const QList<Workspace::RunningApplication> running = workspace->runningApplications(identifier);
            if (!running.isEmpty())
                result << Candidate{identifier, running.first().bundlePath};
            else if (!onlyRunning)
                if (const std::optional<QString> installed = workspace->urlForApplication(identifier))
                    result << Candidate{identifier, *installed};
        }
    } catch (const std::exception&) {
        // A workspace that cannot be read knows no apps.
    }
    return result;
}

struct Registration {
    Background background = Background::Checking{};
    bool announce = false; // a registration of this process enabled the item
    Status atLogin = Status::notRegistered;
};

// The service-manager part of ensureBackgroundItem(): blocking, so it runs on a worker.
Registration registerItems(BackgroundService& service, BackgroundService& statusItemService,
                           bool showsAtLogin) {
    Registration done;
    const Status status = service.status();
    if (!isKnown(status)) {
        done.background = Background::Failed{QStringLiteral("系统返回了不认识的状态")};
    } else if (unregistered(status)) {
        try {
            service.registerItem();
            if (service.status() == Status::requiresApproval) {
                done.background = Background::RequiresApproval{};
            } else {
                done.background = Background::Enabled{};
                done.announce = true;
            }
        } catch (const std::exception& error) {
            if (service.status() == Status::requiresApproval)
                done.background = Background::RequiresApproval{};
            else
                done.background = Background::Failed{failureText(error)};
        }
    } else if (status == Status::enabled) {
        done.background = Background::Enabled{};
    } else {
        done.background = Background::RequiresApproval{};
    }

    if (showsAtLogin && unregistered(statusItemService.status())) {
        try {
            statusItemService.registerItem();
        } catch (const std::exception&) {
            // The status below shows the outcome.
        }
    }
    done.atLogin = statusItemService.status();
    return done;
}

QCoro::Task<void> startAndRefresh(QPointer<ConnectorController> controller, QString tool) {
    co_await SystemTools::kickstartAgent(false, tool);
    co_await BridgeAdmin::waitUntilRunning(15);
    if (controller)
        co_await controller->refresh();
}

} // namespace

QCoro::Task<void> ConnectorController::ensureBackgroundItem() {
    if (isolated()) {
        storeBackground(Background::Enabled{});
        co_return;
    }
    if (ConnectorPaths::transientLocation(bundlePath)) {
        storeBackground(Background::WrongLocation{});
        co_return;
    }
    // Each status read and registration asks the service manager and may take its whole time-out: all of
    // it runs on a worker, and the outcome is stored here afterwards in the same order as before.
    const QPointer<ConnectorController> self(this);
    const std::shared_ptr<BackgroundService> agentItem = sharedService_;
    const std::shared_ptr<BackgroundService> loginItem = sharedStatusItemService_;
    const bool showsAtLogin = ConnectorSettings::showsStatusItemAtLogin();
    auto job = [agentItem, loginItem, showsAtLogin] {
        return registerItems(*agentItem, *loginItem, showsAtLogin);
    };
    const Registration done = co_await Async::onWorker(std::move(job));
    if (!self)
        co_return;
    storeBackground(done.background);
    if (done.announce)
        Async::spawn(announce(true), "announce after registration");
    storeStatusItemAtLogin(done.atLogin);
}

QCoro::Task<void> ConnectorController::announce(bool onlyRunning) {
    if (isolated())
        co_return;
    const QPointer<ConnectorController> self(this);
    const std::shared_ptr<Workspace> apps = workspace;
    const AppVerifier checker = verifier;

    const bool running = co_await BridgeAdmin::waitUntilRunning(20);
    if (!self)
        co_return;
    if (!running) {
        if (!onlyRunning)
            storeNotice(QStringLiteral("桥接没起来：查看日志看看原因"));
        co_return;
    }

    // Named, not a temporary in the co_await operand: GCC 12 would destroy its captures twice.
    auto lookUp = [apps, onlyRunning] { return candidates(apps, onlyRunning); };
    const QList<Candidate> found = co_await Async::onWorker(std::move(lookUp));
    if (!self)
        co_return;
    if (found.isEmpty()) {
        if (!onlyRunning)
            storeNotice(QStringLiteral("这台 Mac 上没找到 Orvane"));
        co_return;
    }

    for (const Candidate& candidate : found) {
        // No link reaches an app whose signature is not the maker's.
        const bool genuine = co_await checker.check(candidate.location, candidate.identifier);
        if (!genuine)
            continue;
        const QUrl link(candidate.identifier + QStringLiteral("://agent-connector/ready"), QUrl::StrictMode);
        if (!link.isValid() || link.scheme().isEmpty())
            continue;
        try {
            co_await apps->open(link, candidate.location, !onlyRunning);
        } catch (const std::exception&) {
            // That app is skipped; the others still hear of the bridge.
        }
    }
}

QCoro::Task<void> ConnectorController::reregisterBackgroundItem() {
    if (isolated())
        co_return;
    const QPointer<ConnectorController> self(this);
    try {
        co_await service.unregister();
    } catch (const std::exception&) {
        // The registration below and the check after it record the outcome.
    }
    if (!self)
        co_return;
    const std::shared_ptr<BackgroundService> agentItem = sharedService_;
    auto registration = [agentItem] {
        try {
            agentItem->registerItem();
        } catch (const std::exception&) {
        }
    };
    co_await Async::onWorker(std::move(registration));
    if (!self)
        co_return;
    QCoro::Task<void> ensuring = ensureBackgroundItem();
    co_await std::move(ensuring);
}

void ConnectorController::setStatusItemAtLogin(bool on) {
    if (isolated())
        return;
    ConnectorSettings::setShowsStatusItemAtLogin(on);
    Async::spawn(switchStatusItemAtLogin(on), "login item switch");
}

QCoro::Task<void> ConnectorController::switchStatusItemAtLogin(bool on) {
    if (isolated())
        co_return;
    // The service manager may take its whole time-out: the switch's work runs on a worker.
    struct Outcome {
        std::optional<QString> failure;
        Status status = Status::notRegistered;
    };
    const QPointer<ConnectorController> self(this);
    const std::shared_ptr<BackgroundService> loginItem = sharedStatusItemService_;
    auto job = [loginItem, on] {
        Outcome outcome;
        try {
            if (on)
                loginItem->registerItem();
            else
                loginItem->unregisterNow();
        } catch (const std::exception& error) {
            outcome.failure = failureText(error);
        }
        outcome.status = loginItem->status();
        return outcome;
    };
    const Outcome outcome = co_await Async::onWorker(std::move(job));
    if (!self)
        co_return;
    if (outcome.failure)
        storeNotice(
            (on ? QStringLiteral("没能登记状态栏登录项：") : QStringLiteral("没能注销状态栏登录项：")) +
            *outcome.failure);
    storeStatusItemAtLogin(outcome.status);
}

void ConnectorController::openLoginItemsSettings() {
    service.openSystemSettingsLoginItems();
}

void ConnectorController::revealLog() {
    workspace->activateFileViewerSelecting({ConnectorPaths::bridgeLog()});
}

void ConnectorController::startBridge() {
    if (isolated())
        return;
    Async::spawn(startAndRefresh(QPointer<ConnectorController>(this), serviceManagerTool), "bridge start");
}
