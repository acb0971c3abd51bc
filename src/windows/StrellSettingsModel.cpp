#include "StrellSettingsModel.h"

#include "ConnectorController.h"

#include <algorithm>

StrellSettingsModel::Inputs StrellSettingsModel::Inputs::from(const ConnectorController& controller) {
    return Inputs{controller.strell(), controller.strellBusy(), controller.strellMessage(),
                  controller.strellError(), controller.running()};
}

void StrellSettingsModel::reload(const std::optional<StrellStatus>& strell) {
    if (!strell)
        return;
    draft_ = strell->draft;
    // A fresh choice starts on the first role, so "检查网关" works without touching the picker.
    if (draft_.role.isEmpty() && !strell->roles.isEmpty())
        draft_.role = strell->roles.first().path;
    revision_ = strell->revision;
    edited_ = false;
}

void StrellSettingsModel::follow(const std::optional<StrellStatus>& strell) {
    const std::optional<qint64> revision =
        strell ? std::optional<qint64>(strell->revision) : std::optional<qint64>();
    if (seenAny_ && revision == seenRevision_)
        return;
    seenAny_ = true;
    seenRevision_ = revision;
    if (!edited_)
        reload(strell);
}

void StrellSettingsModel::appear(const std::optional<StrellStatus>& strell) {
    seenAny_ = true;
    seenRevision_ = strell ? std::optional<qint64>(strell->revision) : std::optional<qint64>();
    reload(strell);
}

void StrellSettingsModel::setEnabled(bool value) {
    edit(draft_.enabled, value);
}
void StrellSettingsModel::setRole(const QString& value) {
    edit(draft_.role, value);
}
void StrellSettingsModel::setOrigin(const QString& value) {
    edit(draft_.origin, value);
}
void StrellSettingsModel::setModel(const QString& value) {
    edit(draft_.model, value);
}

QString StrellSettingsModel::modeTitle(bool gatewayOn) {
    return gatewayOn ? QStringLiteral("单岗位 Strell") : QStringLiteral("原生直连");
}

QString StrellSettingsModel::noRolesText() {
    return QStringLiteral("公司仓库中还没有可选岗位。先创建一个 company/roles 下的岗位，再重新载入。");
}

QString StrellSettingsModel::gatewayNote() {
    return QStringLiteral("仅接受本机回环地址和固定模型。检查只读目录；真实模型对话的费用由所选上游决定。");
}

QString StrellSettingsModel::routeNote() {
    return QStringLiteral("只改变所选岗位的 Codex；其他岗位与 Claude Code "
                          "保留直连。两条路线各续自己的会话，网关离线时停止该岗位本轮请求。");
}

QString StrellSettingsModel::confirmationTitle() {
    return QStringLiteral("保存连接方式？");
}

QString StrellSettingsModel::confirmationMessage() const {
    return draft_.enabled
               ? QStringLiteral("仅所选岗位从下一轮起使用 Strell 和此固定模型；原生直连会话与设置保留。")
               : QStringLiteral("恢复原生直连，继续各岗位原来的直连会话；网关会话保留。");
}

StrellSettingsModel::View StrellSettingsModel::view(const Inputs& inputs) const {
    View v;
    if (!inputs.strell) {
        v.absentLine = inputs.running ? QStringLiteral("当前桥接还不支持界面网关设置，请先更新连接器。")
                                      : QStringLiteral("桥接没在运行，连接后可查看和更改路线。");
        return v;
    }
    const StrellStatus& status = *inputs.strell;
    const bool busy = inputs.strellBusy || status.busy;
    v.hasStatus = true;
    v.disabled = busy;
    v.spinner = busy;

    if (status.draft.enabled) {
        // A role removed from the repository is still named, by its path.
        QString name = status.draft.role;
        for (const StrellStatus::Role& role : status.roles) {
            if (role.path == status.draft.role) {
                name = role.title;
                break;
            }
        }
        v.current = QStringLiteral("当前：") + name + QStringLiteral(" 使用 Strell");
    } else {
        v.current = QStringLiteral("当前：所有岗位原生直连");
    }

    v.gatewayOn = draft_.enabled;
    v.showsGatewayFields = draft_.enabled;
    v.hasRoles = !status.roles.isEmpty();
    if (v.hasRoles) {
        const bool known =
            std::any_of(status.roles.begin(), status.roles.end(),
                        [&](const StrellStatus::Role& role) { return role.path == draft_.role; });
        if (!draft_.role.isEmpty() && !known)
            v.roleOptions.append(RoleOption{QStringLiteral("岗位已不存在"), draft_.role});
        for (const StrellStatus::Role& role : status.roles)
            v.roleOptions.append(RoleOption{role.title + QStringLiteral(" · ") + role.path, role.path});
        for (int i = 0; i < v.roleOptions.size(); ++i) {
            if (v.roleOptions[i].tag == draft_.role) {
                v.roleIndex = i;
                break;
            }
        }
    }
    v.origin = draft_.origin;
    v.model = draft_.model;

    if (!status.editable)
        v.warnings << QStringLiteral(
            "启动参数或手动桥接正在管理路线；使用连接器托管模式后可在此保存。连接检查仍可使用。");
    if (!status.idle)
        v.warnings << QStringLiteral("有 Agent 工作或执行工具更新未结束，完成后才能保存切换。");
    if (edited_ && revision_ != status.revision)
        v.warnings << QStringLiteral("设置已在其他窗口更改，请重新载入后保存。");

    v.checkEnabled = draft_.enabled && !draft_.role.isEmpty() && !busy;
    v.reloadEnabled = !busy;
    const bool complete =
        !draft_.enabled || (!draft_.role.isEmpty() && !draft_.origin.isEmpty() && !draft_.model.isEmpty());
    v.saveEnabled = status.editable && status.idle && !busy && revision_ >= 0 && complete && edited_;

    // The bridge's own problem with the setting outranks the result of the last command.
    if (status.problem)
        v.result = ResultLine{*status.problem, true};
    else if (inputs.strellMessage)
        v.result = ResultLine{*inputs.strellMessage, inputs.strellError};
    return v;
}
