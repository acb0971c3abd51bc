#include "ConnectorController.h"

#include "Async.h"
#include "BridgeAdmin.h"
#include "BundleLauncher.h"
#include "ConnectorPaths.h"
#include "FileMove.h"
#include "JsonFields.h"
#include "SystemTools.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QPointer>

namespace {

using ConnectorPaths::isolated;

using namespace std::chrono_literals;

const QString restartNotice =
    QStringLiteral("改名成「Orvane 连接器」后桥接还没起来：点「启动桥接」再试，不行就退出登录再登进来");

// The desktop's default link handler must not point where the bundle vanishes again.
bool transient(const QString& bundlePath) {
    return bundlePath.isEmpty() || ConnectorPaths::transientLocation(bundlePath);
}

std::optional<QString> startedAtIn(const nlohmann::json& status) {
    if (!status.is_object())
        return std::nullopt;
    return JsonFields::text(status, "startedAt");
}

// `work` has started already (tasks run eagerly); the flag falls when it ends, and the refresh follows.
QCoro::Task<void> thenSettle(QPointer<ConnectorController> controller, QCoro::Task<void> work, bool refresh) {
    co_await std::move(work);
    if (!controller)
        co_return;
    controller->renamingBundle = false;
    if (refresh)
        co_await controller->refresh();
}

} // namespace

void ConnectorController::renameLegacyBundleIfIdle() {
    if (isolated())
        return;
    if (triedLegacyRename || uninstalling_ || strellBusy_ || holdsAutoInstall || cliBusy_)
        return;
    if (bridge_ && bridge_->openRuns != 0)
        return;
    if (update_.inFlight())
        return;
    const std::optional<QString> target = ConnectorPaths::renamedLocation(bundlePath);
    if (!target)
        return;
    triedLegacyRename = true;
    renamingBundle = true;
    Async::spawn(thenSettle(QPointer<ConnectorController>(this), renameBundle(bundlePath, *target), false),
                 "legacy rename");
}

QCoro::Task<void> ConnectorController::renameBundle(QString from, QString to) {
    const QPointer<ConnectorController> self(this);
    const bool bridgeWasDown = !bridge_.has_value();

    auto move = [from, to] { return FileMove::moveItem(from, to); };
    const std::optional<QString> moveError = co_await Async::onWorker(std::move(move));
    if (moveError) {
        // Nothing changed on disk; the next start tries again.
        qWarning("legacy rename: %s could not be moved: %s", qUtf8Printable(from),
                 qUtf8Printable(*moveError));
        co_return;
    }
    if (!self)
        co_return;

    const std::shared_ptr<DesktopRegistration> registration = desktopRegistration;
    auto registerNew = [registration, to] {
        try {
            if (registration)
                registration->registerBundle(to);
        } catch (const std::exception& error) {
            qWarning("legacy rename: desktop registration failed: %s", error.what());
        }
    };
    co_await Async::onWorker(std::move(registerNew));

    QStringList arguments{QStringLiteral("--after-update"), QStringLiteral("--after-rename")};
    if (!bridgeWasDown)
        arguments << QStringLiteral("--restart-bridge");
    auto open = [to, arguments]() -> std::optional<QString> {
        try {
            BundleLauncher::openNewInstance(to, arguments);
            return std::nullopt;
        } catch (const BundleLauncher::Failure& failure) {
            return failure.message;
        }
    };
    const std::optional<QString> openError = co_await Async::onWorker(std::move(open));
    if (!self)
        co_return;
    if (!openError) {
        // The new instance waits for this one to end, then finishes the rename.
        if (terminateApplication)
            terminateApplication();
        else
            QCoreApplication::quit();
        co_return;
    }
    qWarning("legacy rename: %s", qUtf8Printable(*openError));
    if (bridgeWasDown)
        co_return;
    co_await restartBridgeAfterRename();
}

void ConnectorController::finishLegacyRename(bool restartBridge) {
    if (isolated() || !restartBridge)
        return;
    renamingBundle = true;
    Async::spawn(thenSettle(QPointer<ConnectorController>(this), restartBridgeAfterRename(), true),
                 "bridge restart after the rename");
}

QCoro::Task<void> ConnectorController::restartBridgeAfterRename() {
    const QPointer<ConnectorController> self(this);
    const QString tool = serviceManagerTool;
    const std::array<double, 3> waits = restartWaitSeconds;

    // Each task is named before it is awaited: GCC 12 destroys argument temporaries of a co_await twice.
    QCoro::Task<std::optional<QString>> reading = startedAt();
    const std::optional<QString> before = co_await std::move(reading);
    QCoro::Task<int> restart = SystemTools::kickstartAgent(true, tool);
    co_await std::move(restart);
    QCoro::Task<bool> first = waitForRestart(before, waits[0]);
    if (co_await std::move(first))
        co_return;
    QCoro::Task<int> start = SystemTools::kickstartAgent(false, tool);
    co_await std::move(start);
    QCoro::Task<bool> second = waitForRestart(before, waits[1]);
    if (co_await std::move(second))
        co_return;
    if (!self)
        co_return;

    // Only the renamed bundle may take the background item over; an instance still running under the old
    // name would register the old location again.
    if (QFileInfo(bundlePath).fileName() != ConnectorPaths::appName + QStringLiteral(".app")) {
        storeNotice(restartNotice);
        co_return;
    }
    co_await reregisterBackgroundItem();
    if (!self)
        co_return;
    QCoro::Task<int> again = SystemTools::kickstartAgent(false, tool);
    co_await std::move(again);
    QCoro::Task<bool> third = waitForRestart(before, waits[2]);
    const bool restarted = co_await std::move(third);
    if (self && !restarted)
        storeNotice(restartNotice);
}

QCoro::Task<std::optional<QString>> ConnectorController::startedAt() {
    try {
        const QString command = QStringLiteral("status");
        QCoro::Task<nlohmann::json> asking = BridgeAdmin::request(command);
        const nlohmann::json status = co_await std::move(asking);
        co_return startedAtIn(status);
    } catch (...) {
        co_return std::nullopt;
    }
}

QCoro::Task<bool> ConnectorController::waitForRestart(std::optional<QString> before, double seconds) {
    const qint64 deadline = QDateTime::currentMSecsSinceEpoch() + qint64(seconds * 1000.0);
    do {
        std::optional<QString> now;
        try {
            const QString command = QStringLiteral("status");
            QCoro::Task<nlohmann::json> asking = BridgeAdmin::request(command);
            const nlohmann::json status = co_await std::move(asking);
            now = startedAtIn(status);
        } catch (...) {
            // A bridge that does not answer has not restarted yet.
        }
        if (now && (!before || *now != *before))
            co_return true;
        co_await Async::sleepFor(500ms);
    } while (QDateTime::currentMSecsSinceEpoch() < deadline);
    co_return false;
}

QCoro::Task<void> ConnectorController::registerWithDesktop() {
    if (isolated() || transient(bundlePath))
        co_return;
    const std::shared_ptr<DesktopRegistration> registration = desktopRegistration;
    const QString bundle = bundlePath;
    auto work = [registration, bundle] {
        try {
            if (registration && registration->registerBundle(bundle))
                qInfo("registered %s with the desktop", qUtf8Printable(bundle));
        } catch (const std::exception& error) {
            // Links keep going wherever the desktop sent them before; the next launch tries again.
            qWarning("desktop registration failed: %s", error.what());
        }
    };
    co_await Async::onWorker(std::move(work));
}

QCoro::Task<void> ConnectorController::unregisterFromDesktop() {
    const std::shared_ptr<DesktopRegistration> registration = desktopRegistration;
    auto work = [registration] {
        try {
            if (registration)
                registration->unregister();
        } catch (const std::exception& error) {
            qWarning("removing the desktop registration failed: %s", error.what());
        }
    };
    co_await Async::onWorker(std::move(work));
}
