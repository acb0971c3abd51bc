#include "ControllerTypes.h"

QString engineTitle(const QString& id) {
    if (id == QLatin1String("claude_code"))
        return QStringLiteral("Claude Code");
    if (id == QLatin1String("codex"))
        return QStringLiteral("Codex");
    if (id == QLatin1String("evox"))
        return QStringLiteral("EvoX");
    return id;
}

namespace ReplyCaps {
QString clipped(const QString& text) {
    if (text.size() <= textChars)
        return text;
    qsizetype cut = textChars - 1;
    if (text.at(cut - 1).isHighSurrogate())
        --cut; // never half a character
    return text.left(cut) + QChar(0x2026);
}
std::optional<QString> clipped(const std::optional<QString>& text) {
    return text ? std::optional<QString>(clipped(*text)) : std::nullopt;
}
QString enginesNotListedLine(qsizetype count) {
    return QStringLiteral("另有 ") + QString::number(count) + QStringLiteral(" 个执行工具没有列出");
}
} // namespace ReplyCaps

CliActivity CliActivity::operation(const std::optional<QString>& word) {
    if (word == QStringLiteral("update"))
        return Updating{QString(), QStringLiteral("执行工具"), std::nullopt};
    if (word == QStringLiteral("refresh"))
        return Refreshing{};
    return Checking{};
}

std::optional<CliActivity> CliActivity::command(const QString& command, const std::optional<QString>& engine,
                                                const QList<CliTool>& tools) {
    if (command == QLatin1String("cli-check"))
        return CliActivity(Checking{});
    if (command == QLatin1String("cli-refresh"))
        return CliActivity(Refreshing{});
    if (command == QLatin1String("cli-update") && engine) {
        for (const CliTool& tool : tools)
            if (tool.id == *engine)
                return CliActivity(Updating{*engine, engineTitle(tool.id), tool.latestVersion});
        return CliActivity(Updating{*engine, *engine, std::nullopt});
    }
    return std::nullopt;
}

QString CliActivity::title() const {
    if (is<Checking>())
        return QStringLiteral("正在检查执行工具更新…");
    if (is<Refreshing>())
        return QStringLiteral("正在刷新模型清单…");
    const Updating& u = std::get<Updating>(value);
    QString line = QStringLiteral("正在更新");
    if (!u.engine.isEmpty())
        line += QLatin1Char(' ');
    line += u.title;
    if (u.to)
        line += QStringLiteral(" 到 ") + *u.to;
    return line + QStringLiteral("…");
}
