#include "OverviewModel.h"

#include "ConnectorController.h"
#include "ConnectorSettings.h"

#include <QLocale>

OverviewInput OverviewInput::of(const ConnectorController& c) {
    OverviewInput in;
    in.health = c.health();
    in.background = c.background();
    in.bridge = c.bridge();
    in.engines = c.engines();
    in.enginesNotListed = c.enginesNotListed();
    in.pairings = c.pairings();
    in.cliTools = c.cliTools();
    in.cliAvailable = c.cliAvailable();
    in.cliBusy = c.cliBusy();
    in.cliMessage = c.cliMessage();
    in.update = c.update();
    in.waitsToInstall = c.waitsToInstall();
    in.updateWaitLine = c.updateWaitLine();
    in.notice = c.notice();
    in.updatedThisLaunch = c.updatedThisLaunch;
    in.version = c.version();
    in.autoInstallUpdates = ConnectorSettings::autoInstallUpdates();
    return in;
}

namespace {

std::optional<OverviewModel::Callout> calloutFor(const OverviewInput& in) {
    OverviewModel::Callout result;
    if (const auto* attention = in.health.as<Health::Attention>()) {
        result.tone = Tone::orange;
        result.symbol = QStringLiteral("exclamationmark.circle.fill");
        result.lines = attention->points;
    } else if (const auto* stopped = in.health.as<Health::Stopped>()) {
        result.tone = Tone::secondary;
        result.symbol = QStringLiteral("pause.circle.fill");
        result.lines = QStringList{stopped->reason};
    } else {
        return std::nullopt;
    }
    // At most one button: approval comes first, because a bridge that may not run cannot be started.
    if (in.background.is<Background::RequiresApproval>()) {
        result.button = OverviewModel::Callout::Button::openLoginItems;
        result.buttonTitle = QStringLiteral("打开系统设置的登录项");
    } else if (in.background.is<Background::Enabled>() && !in.running()) {
        result.button = OverviewModel::Callout::Button::startBridge;
        result.buttonTitle = QStringLiteral("启动桥接");
    }
    return result;
}

QList<OverviewModel::Row> statusRows(const OverviewInput& in) {
    const QString bridgeSymbol = QStringLiteral("point.3.connected.trianglepath.dotted");
    if (!in.bridge)
        return {{bridgeSymbol, QStringLiteral("桥接"), QStringLiteral("没在运行"), false}};
    QString detail = QStringLiteral("在运行");
    if (in.bridge->port)
        detail += QStringLiteral(" · 127.0.0.1:") + QString::number(*in.bridge->port);
    QList<OverviewModel::Row> rows{{bridgeSymbol, QStringLiteral("桥接"), detail, true}};
    for (const Engine& engine : in.engines)
        rows << OverviewModel::Row{QStringLiteral("terminal"), engine.title, engine.summary, engine.usable};
    if (in.enginesNotListed > 0)
        rows << OverviewModel::Row{QStringLiteral("info.circle"), QStringLiteral("更多"),
                                   ReplyCaps::enginesNotListedLine(in.enginesNotListed), false};
    return rows;
}

OverviewModel::Tools toolsFor(const OverviewInput& in) {
    OverviewModel::Tools result;
    const bool openRuns = in.openRuns() > 0;
    for (const CliTool& tool : in.cliTools) {
        OverviewModel::ToolRow row;
        row.tool = tool;
        row.heading =
            tool.title() + QStringLiteral(" ") + tool.currentVersion.value_or(QStringLiteral("版本未知"));
        row.message = tool.message;
        if (tool.models)
            row.models = QString::number(*tool.models) + QStringLiteral(" 个模型");
        row.hasUpdateButton = tool.canUpdate && tool.updateAvailable;
        row.updateEnabled = row.hasUpdateButton && !in.cliBusy && !openRuns;
        result.rows << row;
    }
    if (!in.cliAvailable)
        result.unavailable = QStringLiteral("请先启动或更新桥接，再检查执行工具更新。");
    result.buttonsEnabled = in.cliAvailable && !in.cliBusy;
    result.refreshEnabled = result.buttonsEnabled && !openRuns;
    result.busy = in.cliBusy;
    result.message = in.cliMessage;
    if (openRuns)
        result.openRunsNote = QStringLiteral("有 Agent 工作尚未结束，结束后即可更新和刷新模型。");
    return result;
}

} // namespace

QString OverviewModel::updateLineFor(const OverviewInput& in) {
    const UpdateState& u = in.update;
    if (const auto* idle = u.as<UpdateState::Idle>()) {
        if (in.updatedThisLaunch)
            return QStringLiteral("刚更新好");
        if (!idle->lastChecked)
            return QStringLiteral("还没检查过更新");
        const QLocale locale;
        return QStringLiteral("已是最新 · 上次检查 ") +
               locale.toString(idle->lastChecked->toLocalTime().time(), QLocale::ShortFormat);
    }
    if (const std::optional<QString> activity = u.activity())
        return *activity;
    if (const auto* ready = u.as<UpdateState::Ready>()) {
        if (in.waitsToInstall)
            return QStringLiteral("新版本 ") + ready->info.label() + QStringLiteral(" · ") +
                   in.updateWaitLine;
        QString line = QStringLiteral("新版本 ") + ready->info.label() + QStringLiteral(" 已下好");
        if (ready->info.notes && !ready->info.notes->isEmpty())
            line += QStringLiteral("：") + *ready->info.notes;
        if (in.autoInstallUpdates)
            line += QStringLiteral("。岗位都跑完后自动换上");
        return line;
    }
    if (const auto* failed = u.as<UpdateState::Failed>())
        return failed->text;
    if (u.is<UpdateState::NotConfigured>())
        return QStringLiteral("这个版本没配更新地址，不会自动更新");
    return {};
}

OverviewModel::UpdateControl OverviewModel::updateControlFor(const OverviewInput& in) {
    using Kind = UpdateControl::Kind;
    const UpdateState& u = in.update;
    UpdateControl control;
    if (u.is<UpdateState::Idle>() || u.is<UpdateState::Failed>()) {
        control.kind = Kind::checkButton;
    } else if (u.is<UpdateState::Checking>() || u.is<UpdateState::Verifying>() ||
               u.is<UpdateState::Installing>()) {
        control.kind = Kind::spinner;
    } else if (u.is<UpdateState::Downloading>()) {
        // Without a known size a bar would stand empty: the indeterminate indicator instead.
        control.fraction = u.fraction();
        control.kind = control.fraction ? Kind::progressBar : Kind::spinner;
    } else if (u.is<UpdateState::Ready>()) {
        if (in.waitsToInstall) {
            control.kind = Kind::waitButtons;
        } else {
            control.kind = Kind::installButton;
            if (in.openRuns() >= 1)
                control.installHelp = QStringLiteral("有岗位这一轮还没办完：先等，办完自己换上");
        }
    }
    return control;
}

OverviewModel OverviewModel::from(const OverviewInput& in) {
    OverviewModel m;
    m.callout = calloutFor(in);
    m.status = statusRows(in);
    if (in.pairings.isEmpty())
        m.noPairings = in.running() ? QStringLiteral("还没有：在 Orvane 里打开「我的 Agent」，会自动连上。")
                                    : QStringLiteral("桥接没在运行。");
    for (const Pairing& pairing : in.pairings) {
        QStringList parts;
        if (!pairing.client.isEmpty())
            parts << pairing.client;
        if (pairing.lastSeen)
            parts << QStringLiteral("最近 ") + *pairing.lastSeen;
        const QString detail = parts.join(QStringLiteral(" · "));
        m.pairings << PairingRow{pairing, pairing.label, detail};
    }
    m.tools = toolsFor(in);
    m.versionLine = QStringLiteral("Orvane 连接器 ") + in.version;
    m.updateLine = updateLineFor(in);
    m.updateControl = updateControlFor(in);
    m.notice = in.notice;
    return m;
}

ToolUpdateConfirmation ToolUpdateConfirmation::of(const CliTool& tool) {
    return {QStringLiteral("更新执行工具？"),
            QStringLiteral("将通过原安装方式更新 ") + tool.title() +
                QStringLiteral("，完成后自动刷新模型清单。已有 Agent 工作未结束时会暂缓更新。"),
            QStringLiteral("更新 ") + tool.title(), QStringLiteral("取消")};
}
