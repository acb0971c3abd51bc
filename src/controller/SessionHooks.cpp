#include "ConnectorController.h"

#include "FailureText.h"

#include "BridgeAdmin.h"

#include <QPointer>

namespace {
// Adding or removing hooks rewrites two tools' configuration files; the bridge may take a while.
constexpr int hooksTimeoutSeconds = 15;
} // namespace

QCoro::Task<void> ConnectorController::setSessionHooks(bool on) {
    // Checked and set with no suspension in between: a second switch while one runs is dropped.
    if (sessionHooksBusy_)
        co_return;
    storeSessionHooksBusy(true);
    const QPointer<ConnectorController> self(this);

    const QString command = on ? QStringLiteral("hooks-install") : QStringLiteral("hooks-uninstall");
    std::optional<QString> failure;
    try {
        // Named first: GCC 12 destroys temporaries inside a co_await operand twice.
        QCoro::Task<nlohmann::json> sent =
            BridgeAdmin::request(command, std::nullopt, nlohmann::json::object(), hooksTimeoutSeconds);
        co_await std::move(sent);
    } catch (const std::exception& error) {
        failure = failureText(error);
    }
    if (!self)
        co_return;

    if (failure)
        storeSessionHooksMessage(QStringLiteral("没改成：") + *failure);
    else if (on)
        storeSessionHooksMessage(QStringLiteral("打开了：粘了跟进提示词的会话会把进度报给 Orvane。"));
    else
        storeSessionHooksMessage(QStringLiteral("关掉了：钩子都拿走了，别的钩子没动。"));

    // Whether hooks are on is always the bridge's word: the card follows its next report, not our wish.
    co_await refresh();
    if (self)
        storeSessionHooksBusy(false);
}
