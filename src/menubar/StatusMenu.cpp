#include "StatusMenu.h"

#include "UpdateGate.h"

#include <QStringList>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace StatusMenu {
namespace {

using Style = MenuRow::Style;

MenuRow row(QString id, Style style, QString title, bool enabled = true,
            std::optional<QString> toolTip = std::nullopt, int indent = 0) {
    return MenuRow{std::move(id), std::move(style), std::move(title), enabled, std::move(toolTip), indent};
}

QString num(qint64 value) {
    return QString::number(value);
}

// One piece of a locale's date format: a field (d, M or y repeated `count` times) or literal text.
struct Piece {
    QChar field; // null for literal text
    int count = 0;
    QString literal;
};

QList<Piece> parseDateFormat(const QString& format) {
    QList<Piece> pieces;
    auto addLiteral = [&](const QString& text) {
        if (text.isEmpty())
            return;
        if (!pieces.isEmpty() && pieces.last().field.isNull())
            pieces.last().literal += text;
        else
            pieces.append(Piece{QChar(), 0, text});
    };
    const qsizetype n = format.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\'')) {
            if (i + 1 < n && format.at(i + 1) == QLatin1Char('\'')) {
                addLiteral(QStringLiteral("'"));
                i += 2;
                continue;
            }
            QString text;
            qsizetype j = i + 1;
            while (j < n) {
                if (format.at(j) == QLatin1Char('\'')) {
                    if (j + 1 < n && format.at(j + 1) == QLatin1Char('\'')) {
                        text += QLatin1Char('\'');
                        j += 2;
                        continue;
                    }
                    break;
                }
                text += format.at(j++);
            }
            addLiteral(text);
            i = j + 1;
        } else if (c == QLatin1Char('d') || c == QLatin1Char('M') || c == QLatin1Char('y')) {
            qsizetype j = i;
            while (j < n && format.at(j) == c)
                ++j;
            pieces.append(Piece{c, int(j - i), QString()});
            i = j;
        } else {
            addLiteral(QString(c));
            ++i;
        }
    }
    return pieces;
}

// Year and weekday go; day and month stay.
bool kept(const Piece& p) {
    if (p.field == QLatin1Char('d'))
        return p.count <= 2;
    return p.field == QLatin1Char('M');
}

QString leadingLetters(const QString& text) {
    qsizetype end = 0;
    while (end < text.size() && text.at(end).isLetter())
        ++end;
    return text.left(end);
}

QString versionLine(const MenuSnapshot& s, const QLocale& locale, const QTimeZone& zone) {
    QString line = QStringLiteral("当前 ") + s.version;
    if (const auto* idle = s.update.as<UpdateState::Idle>()) {
        if (s.updatedThisLaunch)
            line += QStringLiteral(" · 刚更新好");
        else if (idle->lastChecked)
            line += QStringLiteral(" · 已是最新（") + checkedText(*idle->lastChecked, s.now, locale, zone) +
                    QStringLiteral("）");
    }
    return line;
}

const CliTool* toolFor(const MenuSnapshot& s, const QString& id) {
    for (const CliTool& tool : s.cliTools)
        if (tool.id == id)
            return &tool;
    return nullptr;
}

QString newest(const CliTool& tool) {
    return tool.latestVersion.value_or(QStringLiteral("新版本"));
}

} // namespace

QString monthDay(const QDate& date, const QLocale& locale) {
    // Qt has no "month and day" pattern: take the locale's long date, drop year and weekday with the
    // separators that lead to them, keep a unit suffix such as "日" that belongs to the day.
    const QList<Piece> pieces = parseDateFormat(locale.dateFormat(QLocale::LongFormat));
    QString out;
    bool day = false;
    bool month = false;
    for (qsizetype k = 0; k < pieces.size(); ++k) {
        const Piece& p = pieces.at(k);
        if (p.field.isNull()) {
            const bool prevKept = k > 0 && kept(pieces.at(k - 1));
            const bool nextKept = k + 1 < pieces.size() && kept(pieces.at(k + 1));
            if (prevKept && nextKept)
                out += p.literal;
            else if (prevKept)
                out += leadingLetters(p.literal);
            continue;
        }
        if (!kept(p))
            continue;
        if (p.field == QLatin1Char('d')) {
            day = true;
            out += locale.toString(date, p.count == 2 ? QStringLiteral("dd") : QStringLiteral("d"));
        } else {
            month = true;
            // A named month becomes its abbreviation; a numbered one ("M月") already is the short form.
            out += locale.toString(date, p.count >= 3   ? QStringLiteral("MMM")
                                         : p.count == 2 ? QStringLiteral("MM")
                                                        : QStringLiteral("M"));
        }
    }
    if (!day || !month)
        return locale.toString(date, QStringLiteral("MMM d"));
    return out.trimmed();
}

QString checkedText(const QDateTime& checked, const QDateTime& now, const QLocale& locale,
                    const QTimeZone& zone) {
    if (checked.msecsTo(now) < 60 * 1000)
        return QStringLiteral("刚查过");
    const QDateTime when = zone.isValid() ? checked.toTimeZone(zone) : checked.toLocalTime();
    const QDateTime today = zone.isValid() ? now.toTimeZone(zone) : now.toLocalTime();
    if (when.date() == today.date())
        return locale.toString(when.time(), QLocale::ShortFormat) + QStringLiteral(" 查过");
    return monthDay(when.date(), locale) + QStringLiteral(" 查过");
}

QString short_(const QString& text, int limit) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    qsizetype cut = 0; // end of the first limit − 1 characters
    while (finder.toNextBoundary() != -1) {
        ++count;
        if (count == limit - 1)
            cut = finder.position();
        if (count > limit)
            return text.left(cut) + QStringLiteral("…");
    }
    return text;
}

QList<MenuRow> connectorRows(const MenuSnapshot& s, const QLocale& locale, const QTimeZone& zone) {
    QList<MenuRow> out;
    out.append(row(QStringLiteral("connector-version"), Style::Info{}, versionLine(s, locale, zone)));

    const QString update = QStringLiteral("connector-update");
    const UpdateState& u = s.update;
    if (u.is<UpdateState::Idle>()) {
        out.append(row(update, Style::action(MenuCommand::Case::checkConnectorUpdate, true),
                       QStringLiteral("检查连接器更新")));
    } else if (u.is<UpdateState::NotConfigured>()) {
        out.append(row(update, Style::action(MenuCommand::Case::checkConnectorUpdate, true),
                       QStringLiteral("检查连接器更新"), false, QStringLiteral("这个版本没配更新地址")));
    } else if (const auto* failed = u.as<UpdateState::Failed>()) {
        out.append(
            row(QStringLiteral("connector-failed"), Style::Note{}, short_(failed->text), true, failed->text));
        out.append(row(update, Style::action(MenuCommand::Case::checkConnectorUpdate, true),
                       QStringLiteral("重新检查连接器更新")));
    } else if (const auto* ready = u.as<UpdateState::Ready>()) {
        const UpdateInfo& info = ready->info;
        const QString wait = UpdateGate::waitLine(s.openRuns(), s.cliBusy, s.holdsAutoInstall);
        if (s.waitsToInstall) {
            out.append(row(QStringLiteral("connector-ready"), Style::Note{},
                           QStringLiteral("新版 ") + num(info.build) + QStringLiteral(" · ") + wait, true,
                           info.notes));
            out.append(row(QStringLiteral("connector-install"),
                           Style::action(MenuCommand::Case::installConnectorUpdateNow, false),
                           QStringLiteral("现在就换（会打断）")));
            out.append(row(QStringLiteral("connector-cancel-wait"),
                           Style::action(MenuCommand::Case::cancelConnectorUpdateWait, false),
                           QStringLiteral("取消等待")));
        } else {
            QString title = QStringLiteral("新版 ") + num(info.build) + QStringLiteral(" 已下好");
            if (s.autoInstall)
                title += QStringLiteral("，") + wait;
            QStringList lines;
            // Empty notes would only put a blank first line into the tool tip.
            if (info.notes && !info.notes->isEmpty())
                lines.append(*info.notes);
            if (s.autoInstall)
                lines.append(QStringLiteral("换上时连接器会重开一下"));
            out.append(row(QStringLiteral("connector-ready"), Style::Note{}, title, true,
                           lines.join(QLatin1Char('\n'))));
            std::optional<QString> tip;
            if (s.openRuns() >= 1)
                tip = QStringLiteral("有岗位这一轮还没办完：先等，办完自己换上");
            out.append(row(QStringLiteral("connector-install"),
                           Style::action(MenuCommand::Case::installConnectorUpdate, false),
                           QStringLiteral("更新到 ") + info.label(), true, tip));
        }
    } else {
        // checking, downloading, verifying, installing
        out.append(row(update, Style::Progress{}, u.activity().value_or(QString())));
    }
    return out;
}

QList<MenuRow> cliRows(const MenuSnapshot& s) {
    QList<MenuRow> out;
    for (const Engine& engine : s.engines) {
        const CliTool* tool = toolFor(s, engine.id);
        QString title = engine.title + QStringLiteral("　") + engine.summary;
        std::optional<QString> tip;
        if (tool && tool->updateAvailable) {
            title += QStringLiteral(" · 可更新到 ") + newest(*tool);
            if (!tool->canUpdate)
                tip = tool->message;
        }
        out.append(row(QStringLiteral("engine-") + engine.id,
                       engine.usable ? Style(Style::Info{}) : Style(Style::Note{}), title, true, tip));
    }
    if (s.enginesNotListed > 0)
        out.append(row(QStringLiteral("engines-not-listed"), Style::Note{},
                       ReplyCaps::enginesNotListedLine(s.enginesNotListed)));

    const qint64 open = s.openRuns();
    const auto* updating = s.cliActivity ? s.cliActivity->as<CliActivity::Updating>() : nullptr;
    bool shownAsProgress = false;
    for (const CliTool& tool : s.cliTools) {
        if (!tool.canUpdate || !tool.updateAvailable)
            continue;
        const QString id = QStringLiteral("cli-update-") + tool.id;
        if (updating && updating->engine == tool.id) {
            out.append(row(id, Style::Progress{}, s.cliActivity->title()));
            shownAsProgress = true;
            continue;
        }
        QString title = QStringLiteral("更新 ") + tool.title() + QStringLiteral(" 到 ") + newest(tool);
        if (open >= 1)
            title += QStringLiteral("（等 Agent 运行跑完）");
        const QString tip = open == 0 ? QStringLiteral("按原来的安装方式更新，完成后自动刷新模型清单")
                                      : QStringLiteral("有 ") + num(open) +
                                            QStringLiteral(" 个 Agent 运行还没结束，结束后才能更新");
        out.append(row(id, Style::action(MenuCommand::updateCli(tool.id), true), title,
                       s.cliAvailable && !s.cliBusy && open == 0, tip));
    }

    if (!s.cliActivity || shownAsProgress) {
        std::optional<QString> tip;
        if (!s.cliAvailable)
            tip = QStringLiteral("这个桥接版本不支持，先更新连接器");
        out.append(row(QStringLiteral("cli-check"), Style::action(MenuCommand::Case::checkCli, true),
                       QStringLiteral("检查执行工具更新"), s.cliAvailable && !s.cliBusy, tip));
    } else {
        // Work no update row shows, e.g. an update whose tool has left the list of updatable tools.
        out.append(row(QStringLiteral("cli-check"), Style::Progress{}, s.cliActivity->title()));
    }

    if (s.cliResult)
        out.append(
            row(QStringLiteral("cli-result"), Style::Note{}, short_(*s.cliResult), true, *s.cliResult));
    return out;
}

QList<MenuRow> rows(const MenuSnapshot& s, const QLocale& locale, const QTimeZone& zone) {
    QList<MenuRow> out;
    out.append(
        row(QStringLiteral("health"), Style::Title{}, QStringLiteral("Orvane 连接器 · ") + s.healthTitle));
    if (const auto* stopped = s.health.as<Health::Stopped>())
        out.append(row(QStringLiteral("stopped"), Style::Info{}, stopped->reason));
    if (const auto* attention = s.health.as<Health::Attention>())
        for (qsizetype i = 0; i < attention->points.size(); ++i)
            out.append(row(QStringLiteral("attention-") + num(i), Style::Info{}, attention->points.at(i)));
    if (s.startRemaining >= 1)
        out.append(row(QStringLiteral("start"), Style::action(MenuCommand::Case::openStart, false),
                       QStringLiteral("开始：还差 ") + num(s.startRemaining) + QStringLiteral(" 步…")));
    out.append(MenuRow::separator(QStringLiteral("after-health")));

    if (!s.bridge) {
        out.append(row(QStringLiteral("bridge"), Style::Note{}, QStringLiteral("桥接　没在运行")));
        if (s.canStartBridge)
            out.append(row(QStringLiteral("start-bridge"),
                           Style::action(MenuCommand::Case::startBridge, false), QStringLiteral("启动桥接")));
    } else {
        QString title = QStringLiteral("桥接　在运行");
        if (s.bridge->port)
            title += QStringLiteral(" · 127.0.0.1:") + num(*s.bridge->port);
        out.append(row(QStringLiteral("bridge"), Style::Info{}, title));
        out.append(row(QStringLiteral("pairings"), Style::Info{},
                       s.pairings > 0
                           ? QStringLiteral("已连接 ") + num(s.pairings) + QStringLiteral(" 个 Orvane")
                           : QStringLiteral("还没有 Orvane 连上")));
    }

    out.append(MenuRow::separator(QStringLiteral("before-connector")));
    out.append(row(QStringLiteral("connector-section"), Style::Section{},
                   QStringLiteral("Orvane 连接器（含桥接）")));
    out.append(connectorRows(s, locale, zone));

    if (s.bridge) {
        out.append(MenuRow::separator(QStringLiteral("before-cli")));
        QStringList names;
        for (const Engine& engine : s.engines)
            names.append(engine.title);
        QString list =
            names.isEmpty() ? QStringLiteral("Codex、Claude Code") : names.join(QStringLiteral("、"));
        if (s.enginesNotListed > 0)
            list += QStringLiteral("等");
        out.append(row(QStringLiteral("cli-section"), Style::Section{},
                       QStringLiteral("执行工具（") + list + QStringLiteral("）")));
        out.append(cliRows(s));
    }

    out.append(MenuRow::separator(QStringLiteral("before-open")));
    out.append(row(QStringLiteral("open-senvik"), Style::action(MenuCommand::Case::openSenvik, false),
                   QStringLiteral("打开 Orvane")));
    out.append(row(QStringLiteral("open-window"), Style::action(MenuCommand::Case::openOverview, false),
                   QStringLiteral("打开连接器窗口…")));
    out.append(row(QStringLiteral("diagnostics"), Style::action(MenuCommand::Case::openDiagnostics, false),
                   QStringLiteral("诊断…")));
    out.append(MenuRow::separator(QStringLiteral("before-quit")));
    out.append(row(QStringLiteral("quit"), Style::action(MenuCommand::Case::quit, false),
                   QStringLiteral("退出状态栏图标")));
    out.append(row(QStringLiteral("quit-note"), Style::Note{}, QStringLiteral("桥接会继续在后台运行"), true,
                   std::nullopt, 1));
    return out;
}

} // namespace StatusMenu
