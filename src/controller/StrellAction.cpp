#include "ConnectorController.h"

#include "FailureText.h"

#include "BridgeAdmin.h"

#include <QPointer>

namespace {
// The check asks the gateway for its model catalogue; a slow gateway must not be cut short.
constexpr int strellTimeoutSeconds = 60;
} // namespace

QCoro::Task<bool> ConnectorController::strellAction(QString command, StrellDraft draft, qint64 revision) {
    // No queue: a second command while one runs is refused and lost, and the current message stays.
    if (strellBusy_)
        co_return false;
    const bool check = command == QLatin1String("strell-check");
    storeStrellBusy(true);
    storeStrellError(false);
    storeStrellMessage(check ? QStringLiteral("正在检查网关与模型目录…") : QStringLiteral("正在检查并保存…"));
    const QPointer<ConnectorController> self(this);

    nlohmann::json fields = nlohmann::json::object();
    fields["pilot"] = draft.payload();
    fields["expectedRevision"] = revision;
    std::optional<QString> failure;
    try {
        // Named first: GCC 12 destroys temporaries inside a co_await operand twice.
        QCoro::Task<nlohmann::json> sent =
            BridgeAdmin::request(command, std::nullopt, std::move(fields), strellTimeoutSeconds);
        co_await std::move(sent);
    } catch (const std::exception& error) {
        failure = failureText(error);
    }
    if (!self)
        co_return false;

    if (failure) {
        storeStrellError(true);
        storeStrellMessage(*failure);
    } else if (check) {
        storeStrellMessage(QStringLiteral("网关与固定模型可用，未调用模型。"));
    } else {
        storeStrellMessage(draft.enabled ? QStringLiteral("已保存：仅所选岗位走 Strell。")
                                         : QStringLiteral("已恢复原生直连。"));
    }

    // Still busy while refreshing: the card must see the bridge's new revision before it is enabled again,
    // or a quick second save would be sent against the old one.
    co_await refresh();
    if (!self)
        co_return false;
    storeStrellBusy(false);
    co_return !failure;
}
