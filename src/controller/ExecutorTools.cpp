#include "ConnectorController.h"

#include "FailureText.h"

#include "Async.h"
#include "BridgeAdmin.h"
#include "ConnectorPaths.h"

#include <QPointer>
#include <QStringList>
#include <qcorotimer.h>

#include <chrono>

QCoro::Task<void> ConnectorController::cliAction(QString command, std::optional<QString> engine,
                                                 bool userInitiated) {
    if (ConnectorPaths::isolated())
        co_return;
    // One action at a time, and nothing queued: a second request while work runs is simply dropped.
    if (!cliAvailable_ || cliBusy_)
        co_return;
    const QPointer<ConnectorController> self(this);

    cliRequestInFlight = true;
    storeCliBusy(true);
    storeCliActivity(CliActivity::command(command, engine, cliTools_));
    if (userInitiated)
        storeCliResult(std::nullopt);

    std::optional<QString> failure;
    try {
        co_await BridgeAdmin::request(command, engine);
    } catch (const std::exception& error) {
        failure = failureText(error);
    }
    if (!self)
        co_return;
    cliRequestInFlight = false;

    if (failure) {
        storeNotice(QStringLiteral("操作没有开始：") + *failure);
        if (userInitiated)
            storeCliResult(
                CliResult{QStringLiteral("没有开始：") + *failure, QDateTime::currentDateTimeUtc()});
        co_await refresh();
        co_return;
    }

    // The bridge accepted the work and does it in the background: follow it through its status.
    const auto deadline = std::chrono::steady_clock::now() + cliPollLimit;
    co_await refresh();
    while (self && cliBusy_ && std::chrono::steady_clock::now() < deadline) {
        co_await Async::sleepFor(std::chrono::seconds(1));
        if (!self)
            co_return;
        co_await refresh();
    }
    // Past the deadline with the work still going: no result; the activity stays until a refresh sees the
    // end.
    if (self && userInitiated && !cliBusy_)
        storeCliResult(
            CliResult{cliSummary(command, cliTools_, cliMessage_), QDateTime::currentDateTimeUtc()});
}

QString ConnectorController::cliSummary(const QString& command, const QList<CliTool>& tools,
                                        const std::optional<QString>& message) {
    if (command != QLatin1String("cli-check"))
        return message.value_or(QStringLiteral("做完了"));
    QStringList unchecked;
    QStringList updatable;
    for (const CliTool& tool : tools) {
        if (!tool.checked)
            unchecked << tool.title();
        else if (tool.updateAvailable)
            updatable << tool.title();
    }
    const QString joiner = QStringLiteral("、");
    if (!unchecked.isEmpty())
        return unchecked.join(joiner) + QStringLiteral(" 没查到最新版本：检查网络后再试");
    if (updatable.isEmpty())
        return QStringLiteral("检查完了：都是最新版本");
    return QStringLiteral("检查完了：") + updatable.join(joiner) + QStringLiteral(" 有新版本");
}
