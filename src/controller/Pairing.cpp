#include "ConnectorController.h"

#include "FailureText.h"
#include "JsonFields.h"
#include "PairRequest.h"

#include "Async.h"
#include "BridgeAdmin.h"
#include "ConnectorPaths.h"

#include <QPointer>

namespace {

const QString signatureNotice = QStringLiteral("要连接的 App 签名对不上，没有发连接票");
const QString handOverPrefix = QStringLiteral("没能把连接票交给 Orvane：");

} // namespace

QCoro::Task<void> ConnectorController::handle(QString link) {
    // Never fails towards the shell: whatever a check throws ends this link's handling with a log line.
    try {
        QCoro::Task<void> answering = answerPairing(std::move(link));
        co_await std::move(answering);
    } catch (const std::exception& error) {
        qWarning("answering a pairing link failed: %s", error.what());
    } catch (...) {
        qWarning("answering a pairing link failed");
    }
}

QCoro::Task<void> ConnectorController::answerPairing(QString link) {
    const std::optional<PairRequest> request = PairRequest::from(link);
    if (!request)
        co_return;
    const QPointer<ConnectorController> self(this);

    QCoro::Task<void> ensuring = ensureBackgroundItem();
    co_await std::move(ensuring);
    if (!self)
        co_return;
    const bool up = co_await BridgeAdmin::waitUntilRunning(bridgeWaitSeconds);
    if (!self)
        co_return;
    if (!up) {
        storeNotice(QStringLiteral("桥接没起来：打开「Orvane 连接器」看看，或查看日志"));
        co_return;
    }

    std::optional<QString> location = request->appPath();
    if (!location) {
        const std::shared_ptr<Workspace> apps = workspace;
        const QString bundleID = request->bundleID;
        auto find = [apps, bundleID] { return apps->urlForApplication(bundleID); };
        location = co_await Async::onWorker(std::move(find));
        if (!self)
            co_return;
    }
    if (!location) {
        storeNotice(signatureNotice);
        co_return;
    }
    // The bundle is opened once and checked through that descriptor; the ticket goes to exactly what was
    // checked, even if the path is swapped while the bridge makes the ticket.
    QCoro::Task<std::shared_ptr<const OpenedBundle>> checking =
        verifier.checkOpen(*location, request->bundleID);
    const std::shared_ptr<const OpenedBundle> genuine = co_await std::move(checking);
    if (!self)
        co_return;
    if (!genuine) {
        storeNotice(signatureNotice);
        co_return;
    }

    nlohmann::json result;
    std::optional<QString> failure;
    try {
        result = co_await BridgeAdmin::request(QStringLiteral("ticket"));
    } catch (const std::exception& error) {
        failure = failureText(error);
    }
    if (!self)
        co_return;
    const std::optional<QString> ticket = JsonFields::text(result, "ticket");
    const std::optional<qint64> port = JsonFields::integer(result, "port");
    if (!failure && (!result.is_object() || !ticket || !port))
        failure = QStringLiteral("桥接没给出连接票");
    if (failure) {
        storeNotice(handOverPrefix + *failure);
        co_return;
    }

    const QUrl answer = request->ticketLink(*port, *ticket);
    if (!answer.isValid())
        co_return;
    failure.reset();
    try {
        const std::shared_ptr<Workspace> apps = workspace;
        QCoro::Task<void> opening = apps->openVerified(answer, genuine, false);
        co_await std::move(opening);
    } catch (const std::exception& error) {
        failure = failureText(error);
    }
    if (self && failure)
        storeNotice(handOverPrefix + *failure);
}

QCoro::Task<void> ConnectorController::open(QUrl link, QString app, bool activate) {
    const std::shared_ptr<Workspace> apps = workspace;
    co_await apps->open(std::move(link), std::move(app), activate);
}

void ConnectorController::disconnect(const Pairing& pairing) {
    Async::spawn(revoke(pairing.id), "revoke pairing");
}

QCoro::Task<void> ConnectorController::revoke(QString id) {
    const QPointer<ConnectorController> self(this);
    std::optional<QString> failure;
    try {
        co_await BridgeAdmin::request(QStringLiteral("revoke"), id);
    } catch (const std::exception& error) {
        failure = failureText(error);
    }
    if (!self)
        co_return;
    if (failure)
        storeNotice(QStringLiteral("断开没成功：") + *failure);
    co_await refresh();
}

QCoro::Task<void> ConnectorController::openSenvik() {
    struct Choice {
        std::optional<Workspace::RunningApplication> running;
        std::optional<QString> installed;
    };
    const QPointer<ConnectorController> self(this);
    // Both lookups read the file system (the process table, the application folders): off the main thread.
    const std::shared_ptr<Workspace> apps = workspace;
    auto choose = [apps] {
        Choice c;
        for (const QString& identifier : ConnectorPaths::senvikApps) {
            const QList<Workspace::RunningApplication> copies = apps->runningApplications(identifier);
            if (!copies.isEmpty()) {
                c.running = copies.first();
                return c;
            }
        }
        for (const QString& identifier : ConnectorPaths::senvikApps) {
            if (std::optional<QString> location = apps->urlForApplication(identifier)) {
                c.installed = std::move(location);
                return c;
            }
        }
        return c;
    };
    const Choice choice = co_await Async::onWorker(std::move(choose));
    if (choice.running) {
        // On Linux this may change nothing: a desktop need not let one program raise another's window.
        apps->activate(*choice.running);
    } else if (choice.installed) {
        try {
            co_await apps->openApplication(*choice.installed);
        } catch (const std::exception&) {
            // Started without waiting for an outcome: a failed start has nothing to tell here.
        }
    } else if (self) {
        storeNotice(QStringLiteral("这台 Mac 上没找到 Orvane"));
    }
}
