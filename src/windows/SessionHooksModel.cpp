#include "SessionHooksModel.h"

#include "ConnectorController.h"

namespace {
const QString bullet = QStringLiteral("· ");
}

QString SessionHooksModel::switchTitle() {
    return QStringLiteral("让外面的 Claude Code / Codex 会话把进度报给 Orvane");
}

QString SessionHooksModel::explanation() {
    return QStringLiteral("你在这台 Mac 上开的每个会话，第一句话发出时都会报到：随口一问只记一条会话（7 "
                          "天没下文自己消失），动了项目里的文件或开了合并申请才开一件事。报到时只送开在哪个目"
                          "录、话里的事项编号、第一句话的头 30 个字；提示词全文、代码、命令不出这台 "
                          "Mac。后两样能在公司的「规则/"
                          "会话.md」里关掉。关着这个开关时外面照样能改卡，只是看不到在办、等你点允许这些。");
}

QString SessionHooksModel::heading() {
    return QStringLiteral("它现在照这样做");
}

QString SessionHooksModel::targetLine(const QString& name, const SessionHooksStatus::Target& target) {
    // A problem says it all: whatever "installed" claims, the hooks cannot work in that tool.
    if (target.problem)
        return name + QStringLiteral("：") + *target.problem;
    if (target.installed) {
        QString line = name + QStringLiteral("：在 ") + target.path + QStringLiteral(" 加了 ") +
                       QString::number(target.events) + QStringLiteral(" 条钩子");
        if (!target.current)
            line += QStringLiteral("（是旧位置的，桥接重启后换成现在的）");
        return line;
    }
    return name + QStringLiteral("：没加钩子，") + target.path + QStringLiteral(" 没改动");
}

SessionHooksModel SessionHooksModel::make(const std::optional<SessionHooksStatus>& hooks, bool busy,
                                          const std::optional<QString>& message) {
    SessionHooksModel model;
    if (!hooks) {
        model.hint = QStringLiteral("当前桥接还不支持「外面的会话」：请先更新连接器。");
        return model;
    }
    model.supported = true;
    model.switchOn = hooks->on();
    model.switchEnabled = !busy;
    model.lines = {
        bullet + targetLine(QStringLiteral("Claude Code"), hooks->claude),
        bullet + targetLine(QStringLiteral("Codex"), hooks->codex),
        bullet + QStringLiteral("只报事件、时刻、工具种类和个数、这一轮最后回答的第一行；提示词、代码、命令、"
                                "路径不出这台 Mac。"),
        bullet + QStringLiteral("别的钩子一条不动；关掉开关或卸载连接器时，这几条原样拿走。"),
    };
    if (hooks->note)
        model.lines << bullet + *hooks->note;
    model.message = message;
    return model;
}

SessionHooksModel SessionHooksModel::from(const ConnectorController& controller) {
    return make(controller.sessionHooks(), controller.sessionHooksBusy(), controller.sessionHooksMessage());
}
