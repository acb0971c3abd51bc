#include "Diagnostics.h"

#include "ConnectorController.h"
#include "ConnectorPaths.h"
#include "ConnectorSettings.h"
#include "Workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSysInfo>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <exception>

namespace Diagnostics {

namespace {

using Level = DiagnosticCheck::Level;

QString joined(const QStringList& parts) {
    return parts.join(QStringLiteral(" · "));
}

DiagnosticCheck location(const Facts& facts) {
    DiagnosticCheck check{QStringLiteral("location"), QStringLiteral("安装位置"), Level::pass, {}};
    if (ConnectorPaths::transientLocation(facts.bundlePath)) {
        check.level = Level::fail;
        check.detail = QStringLiteral("在 DMG 或临时位置里运行：先把「Orvane 连接器」拖进「应用程序」");
    } else {
        check.detail = ConnectorPaths::display(facts.bundlePath);
    }
    return check;
}

DiagnosticCheck background(const Background& state) {
    DiagnosticCheck check{QStringLiteral("background"), QStringLiteral("后台运行"), Level::warn, {}};
    if (state.is<Background::Checking>()) {
        check.detail = QStringLiteral("正在检查");
    } else if (state.is<Background::Enabled>()) {
        check.level = Level::pass;
        check.detail = QStringLiteral("已开启：登录后自己运行，意外退出会重启");
    } else if (state.is<Background::RequiresApproval>()) {
        check.detail = QStringLiteral("要在「系统设置 › 通用 › 登录项与扩展」里允许「Orvane 连接器」");
    } else if (state.is<Background::WrongLocation>()) {
        check.level = Level::fail;
        check.detail = QStringLiteral("装到「应用程序」以后才会开启");
    } else if (const auto* failed = state.as<Background::Failed>()) {
        check.level = Level::fail;
        check.detail = failed->text;
    }
    return check;
}

DiagnosticCheck statusItem(BackgroundService::Status status) {
    DiagnosticCheck check{QStringLiteral("statusItem"), QStringLiteral("状态栏图标"), Level::warn, {}};
    if (status == BackgroundService::Status::enabled) {
        check.level = Level::pass;
        check.detail = QStringLiteral("登录后显示状态栏图标");
    } else if (status == BackgroundService::Status::requiresApproval) {
        check.detail =
            QStringLiteral("要在「系统设置 › 通用 › 登录项与扩展」里允许，登录后才会显示状态栏图标");
    } else {
        check.detail = QStringLiteral("登录后不会自动显示状态栏图标（设置页里可以打开）");
    }
    return check;
}

DiagnosticCheck bridgeLine(const ConnectorController& controller, const QDateTime& now) {
    DiagnosticCheck check{QStringLiteral("bridge"), QStringLiteral("桥接"), Level::fail, {}};
    const std::optional<BridgeStatus>& bridge = controller.bridge();
    if (!bridge) {
        check.detail =
            controller.background().is<Background::Enabled>()
                ? QStringLiteral("没在运行：刚开机要等几秒；一直这样就点「启动桥接」，还不行再查看日志")
                : QStringLiteral("没在运行");
        return check;
    }
    QStringList parts{QStringLiteral("在运行")};
    if (bridge->port)
        parts << QStringLiteral("127.0.0.1:") + QString::number(*bridge->port);
    if (bridge->version)
        parts << QStringLiteral("桥接 ") + *bridge->version;
    if (bridge->startedAt)
        parts << QStringLiteral("已运行 ") + duration(*bridge->startedAt, now);
    if (bridge->openRuns > 0)
        parts << QString::number(bridge->openRuns) + QStringLiteral(" 个运行在跑");
    if (!bridge->managed)
        parts << QStringLiteral("是在终端里手动启动的：关掉终端就会离线");
    check.level = bridge->managed ? Level::pass : Level::warn;
    check.detail = joined(parts);
    return check;
}

void engineLines(const QList<Engine>& engines, QList<DiagnosticCheck>& list) {
    bool anyUsable = false;
    QStringList titles;
    for (const Engine& engine : engines) {
        QString detail = engine.detail;
        if (engine.path)
            detail += QStringLiteral(" · ") + ConnectorPaths::display(*engine.path);
        list << DiagnosticCheck{QStringLiteral("engine-") + engine.id, engine.title,
                                engine.usable ? Level::pass : Level::warn, detail};
        anyUsable = anyUsable || engine.usable;
        titles << engine.title;
    }
    if (!engines.isEmpty() && !anyUsable)
        list << DiagnosticCheck{QStringLiteral("engines"), QStringLiteral("执行工具"), Level::fail,
                                titles.join(QStringLiteral("、")) +
                                    QStringLiteral(" 都不能用：「我的 Agent」发不出去")};
}

DiagnosticCheck toolLine(const CliTool& tool) {
    QStringList parts;
    if (tool.currentVersion)
        parts << QStringLiteral("当前 ") + *tool.currentVersion;
    if (tool.latestVersion)
        parts << QStringLiteral("最新 ") + *tool.latestVersion;
    if (tool.models)
        parts << QString::number(*tool.models) + QStringLiteral(" 个模型");
    parts << tool.message; // an empty message is still a part
    const bool attention = tool.updateAvailable || !tool.checked;
    return {QStringLiteral("cli-") + tool.id, tool.title() + QStringLiteral(" 更新与模型"),
            attention ? Level::warn : Level::pass, joined(parts)};
}

DiagnosticCheck repoLine(const BridgeStatus& bridge) {
    const QString place =
        bridge.repoRoot ? ConnectorPaths::display(*bridge.repoRoot) : QStringLiteral("（没有路径）");
    if (bridge.repoProblem)
        return {QStringLiteral("repo"), QStringLiteral("公司仓库"), Level::warn,
                *bridge.repoProblem + QStringLiteral("（") + place + QStringLiteral("）")};
    return {QStringLiteral("repo"), QStringLiteral("公司仓库"), Level::pass,
            place + QStringLiteral(" · ") + QString::number(bridge.repoRoles) + QStringLiteral(" 个岗位")};
}

DiagnosticCheck leasesLine(const BridgeStatus& bridge) {
    if (bridge.leasesOn)
        return {QStringLiteral("leases"), QStringLiteral("保险库和租约"), Level::pass,
                QStringLiteral("每一轮开始前拿岗位的租约（") +
                    bridge.leasesHolder.value_or(QStringLiteral("这台电脑")) + QStringLiteral("）")};
    return {QStringLiteral("leases"), QStringLiteral("保险库和租约"), Level::warn,
            bridge.leasesReason.value_or(QStringLiteral("租约关着：同一个岗位可能在两台电脑上同时跑"))};
}

DiagnosticCheck senvikLine(const Facts& facts, qsizetype pairings) {
    DiagnosticCheck check{QStringLiteral("senvik"), QStringLiteral("Orvane"), Level::warn, {}};
    QStringList kinds;
    for (const QString& identifier : ConnectorPaths::senvikApps)
        if (facts.installedApps.contains(identifier))
            kinds << (identifier.endsWith(QStringLiteral(".global")) ? QStringLiteral("海外版")
                                                                     : QStringLiteral("国内版"));
    if (kinds.isEmpty()) {
        check.detail = QStringLiteral("这台 Mac 上没找到 Orvane");
        return check;
    }
    check.level = Level::pass;
    check.detail = QStringLiteral("装了") + kinds.join(QStringLiteral("、")) + QStringLiteral(" · 连着 ") +
                   QString::number(pairings) + QStringLiteral(" 个账号");
    return check;
}

DiagnosticCheck updateLine(const ConnectorController& controller) {
    DiagnosticCheck check{QStringLiteral("update"), QStringLiteral("连接器更新"), Level::warn, {}};
    const UpdateState& update = controller.update();
    if (const auto* idle = update.as<UpdateState::Idle>()) {
        check.level = Level::pass;
        check.detail = QStringLiteral("已是最新 ") + controller.version();
        if (idle->lastChecked)
            check.detail += QStringLiteral("，上次检查 ") +
                            QLocale().toString(idle->lastChecked->toLocalTime().time(), QLocale::ShortFormat);
    } else if (const std::optional<QString> activity = update.activity()) {
        check.level = Level::pass;
        check.detail = *activity;
    } else if (const auto* ready = update.as<UpdateState::Ready>()) {
        check.detail = QStringLiteral("新版本 ") + ready->info.label();
        if (controller.waitsToInstall())
            check.detail += QStringLiteral(" 已下好，点过更新：") + controller.updateWaitLine();
        else
            check.detail += QStringLiteral(" 已下好") + (ConnectorSettings::autoInstallUpdates()
                                                             ? QStringLiteral("，没有在跑的运行时会自己换上")
                                                             : QStringLiteral("，在概览页点「更新」"));
    } else if (const auto* failed = update.as<UpdateState::Failed>()) {
        check.detail = failed->text;
    } else {
        check.detail = QStringLiteral("没配更新地址（出包时没写 SenvikUpdateFeedURL），不会自动更新");
    }
    return check;
}

DiagnosticCheck logLine(const Facts& facts) {
    if (facts.logSize)
        return {QStringLiteral("log"), QStringLiteral("日志"), Level::pass,
                ConnectorPaths::display(ConnectorPaths::bridgeLog()) + QStringLiteral(" · ") +
                    fileSize(*facts.logSize)};
    return {QStringLiteral("log"), QStringLiteral("日志"), Level::warn,
            QStringLiteral("还没有日志：桥接还没以托管方式起来过")};
}

bool pathCharacter(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('_') || c == QLatin1Char('-');
}

} // namespace

Facts gather(const QString& bundlePath, const std::shared_ptr<Workspace>& workspace) {
    Facts facts;
    facts.bundlePath = bundlePath;
    if (workspace) {
        for (const QString& identifier : ConnectorPaths::senvikApps) {
            try {
                if (workspace->urlForApplication(identifier))
                    facts.installedApps << identifier;
            } catch (const std::exception&) {
                // A lookup that does not answer finds no app.
            }
        }
    }
    struct stat attributes {};
    if (::stat(QFile::encodeName(ConnectorPaths::bridgeLog()).constData(), &attributes) == 0)
        facts.logSize = static_cast<qint64>(attributes.st_size);
    return facts;
}

QList<DiagnosticCheck> checks(const ConnectorController& controller, const Facts& facts) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<DiagnosticCheck> list;
    list << location(facts) << background(controller.background())
         << statusItem(controller.statusItemAtLogin()) << bridgeLine(controller, now);
    if (const std::optional<BridgeStatus>& bridge = controller.bridge()) {
        engineLines(controller.engines(), list);
        for (const CliTool& tool : controller.cliTools())
            list << toolLine(tool);
        list << repoLine(*bridge) << leasesLine(*bridge);
    }
    list << senvikLine(facts, controller.pairings().size()) << updateLine(controller) << logLine(facts);
    return list;
}

QString duration(const QDateTime& since, const QDateTime& now) {
    const qint64 minutes = since.secsTo(now) / 60; // truncates toward zero
    if (minutes < 0)
        return QStringLiteral("0 分钟");
    if (minutes <= 59)
        return QString::number(minutes) + QStringLiteral(" 分钟");
    if (minutes <= 2879)
        return QString::number(minutes / 60) + QStringLiteral(" 小时");
    return QString::number(minutes / 1440) + QStringLiteral(" 天");
}

QString fileSize(qint64 bytes) {
    if (bytes < 1000)
        return QString::number(std::max<qint64>(bytes, 0)) + QStringLiteral(" 字节");
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    static const int decimals[] = {0, 1, 2, 2, 2, 2};
    double value = static_cast<double>(bytes) / 1000.0;
    int unit = 0;
    for (;;) {
        const double scale = std::pow(10.0, decimals[unit]);
        const double rounded = std::round(value * scale) / scale;
        // 999.6 KB shows as "1 MB", not "1000 KB".
        if (rounded >= 1000.0 && unit + 1 < int(std::size(units))) {
            value /= 1000.0;
            ++unit;
            continue;
        }
        QString number = QString::number(rounded, 'f', decimals[unit]);
        if (number.contains(QLatin1Char('.'))) {
            while (number.endsWith(QLatin1Char('0')))
                number.chop(1);
            if (number.endsWith(QLatin1Char('.')))
                number.chop(1);
        }
        return number + QLatin1Char(' ') + QLatin1String(units[unit]);
    }
}

QString tag(DiagnosticCheck::Level level) {
    switch (level) {
    case Level::pass:
        return QStringLiteral("通过");
    case Level::warn:
        return QStringLiteral("要看一下");
    case Level::fail:
        return QStringLiteral("不通过");
    }
    return QString();
}

QString standardTime(const QDateTime& time) {
    const QLocale locale;
    QString format = locale.timeFormat(QLocale::ShortFormat);
    // The short style has no seconds in any common locale; the standard style shows them after the minutes.
    if (!format.contains(QLatin1Char('s')))
        format.replace(QStringLiteral("mm"), QStringLiteral("mm:ss"));
    return locale.toString(time.toLocalTime().time(), format);
}

QString systemVersion() {
#if defined(Q_OS_MACOS)
    return QStringLiteral("macOS ") + QSysInfo::productVersion();
#else
    return QSysInfo::prettyProductName();
#endif
}

QStringList homeSpellings(const QString& home) {
    QStringList spellings{QDir::cleanPath(home)};
    // Through a symbolic link (a home under /home linked to a volume), the system and the bridge write the
    // resolved path as often as the given one.
    const QString resolved = QFileInfo(home).canonicalFilePath();
    if (!resolved.isEmpty() && !spellings.contains(resolved))
        spellings << resolved;
    return spellings;
}

namespace {

// Whether the path that reached `end` ends there: at the end of the text, at a character no name holds, or
// at sentence punctuation (dots followed by nothing that continues a name).
bool pathEndsAt(const QString& text, qsizetype end) {
    qsizetype after = end;
    while (after < text.size() && text.at(after) == QLatin1Char('.'))
        ++after;
    return after == text.size() || !pathCharacter(text.at(after));
}

} // namespace

QString scrub(QString text, QStringList homes, QStringList addresses) {
    // The longest first, so that an address holding another one goes whole.
    const auto longestFirst = [](const QString& a, const QString& b) { return a.size() > b.size(); };
    std::sort(addresses.begin(), addresses.end(), longestFirst);
    for (const QString& address : addresses)
        if (!address.isEmpty())
            text.replace(address, QStringLiteral("（更新地址）"));
    std::sort(homes.begin(), homes.end(), longestFirst);
    for (const QString& home : homes) {
        // "/" as home would turn every path into "~…": nothing to hide there.
        if (home.size() <= 1)
            continue;
        qsizetype from = 0;
        while ((from = text.indexOf(home, from)) >= 0) {
            const qsizetype end = from + home.size();
            if (pathEndsAt(text, end)) {
                text.replace(from, home.size(), QStringLiteral("~"));
                from += 1;
            } else {
                from = end;
            }
        }
    }
    return text;
}

QString report(const ConnectorController& controller, const QList<DiagnosticCheck>& lines,
               const QDateTime& now) {
    const QLocale locale;
    QStringList out;
    out << QStringLiteral("Orvane 连接器诊断 · ") +
               locale.toString(now.toLocalTime().date(), QLocale::ShortFormat) + QLatin1Char(' ') +
               standardTime(now);
    out << QStringLiteral("连接器 ") + controller.version() + QStringLiteral(" · ") + systemVersion();
    out << QString();
    for (const DiagnosticCheck& check : lines)
        out << QStringLiteral("[") + tag(check.level) + QStringLiteral("] ") + check.title +
                   QStringLiteral("：") + check.detail;
    if (!controller.pairings().isEmpty()) {
        QStringList accounts;
        for (const Pairing& pairing : controller.pairings())
            // The page promises the last six characters; a longer tail from the bridge is cut here.
            accounts << QStringLiteral("…") + pairing.tail.right(6) + QStringLiteral("（") + pairing.client +
                            QStringLiteral("）");
        out << QString() << QStringLiteral("已连接的账号：") + accounts.join(QStringLiteral("、"));
    }

    QStringList addresses;
    if (const std::optional<QUrl> feed = ConnectorController::updateFeed())
        addresses << feed->toString() << QString::fromUtf8(feed->toEncoded());
    if (const std::optional<QString> override = ConnectorSettings::updateFeedOverride())
        addresses << *override;
    return scrub(out.join(QLatin1Char('\n')), homeSpellings(ConnectorPaths::home()), addresses);
}

} // namespace Diagnostics
