#include "StatusMenu.h"
#include "Printing.h"

#include <QLocale>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace {

using Mutate = std::function<void(MenuSnapshot&)>;

const QTimeZone beijing(8 * 3600);
const QLocale chinese(QLocale::Chinese, QLocale::China);

QDateTime at(int y, int mo, int d, int h, int mi, int s = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), beijing);
}

MenuSnapshot normalWithoutBridge() {
    MenuSnapshot s;
    s.health = Health::Normal{};
    s.healthTitle = QStringLiteral("一切正常");
    s.version = QStringLiteral("1.4.0（27）");
    s.update = UpdateState::Idle{};
    s.now = at(2025, 3, 1, 10, 0);
    return s;
}

BridgeStatus bridge(std::optional<qint64> port = std::nullopt, qint64 openRuns = 0) {
    BridgeStatus b;
    b.port = port;
    b.openRuns = openRuns;
    return b;
}

Engine engine(const QString& id, bool usable, const QString& summary = QStringLiteral("已找到")) {
    return Engine{id, engineTitle(id), summary, summary, usable, std::nullopt};
}

CliTool tool(const QString& id, std::optional<QString> latest, bool canUpdate, bool updateAvailable,
             const QString& message = QString()) {
    CliTool t;
    t.id = id;
    t.latestVersion = std::move(latest);
    t.canUpdate = canUpdate;
    t.updateAvailable = updateAvailable;
    t.checked = true;
    t.message = message;
    return t;
}

UpdateInfo updateInfo(qint64 build, std::optional<QString> notes = std::nullopt) {
    UpdateInfo i;
    i.version = QStringLiteral("1.5");
    i.build = build;
    i.url = QStringLiteral("https://example.invalid/c.dmg");
    i.sha256 = QStringLiteral("00");
    i.notes = std::move(notes);
    return i;
}

// One row as the user meets it: id, kind, title, enabled, tool tip, indent.
QString describe(const MenuRow& r) {
    QString line = r.id + QStringLiteral(" | ") + r.kind() + QStringLiteral(" | ") + r.title;
    if (!r.enabled)
        line += QStringLiteral(" | off");
    if (r.toolTip)
        line += QStringLiteral(" | tip:") + *r.toolTip;
    if (r.indent)
        line += QStringLiteral(" | indent ") + QString::number(r.indent);
    return line;
}

QStringList describeAll(const QList<MenuRow>& rows) {
    QStringList out;
    for (const MenuRow& r : rows)
        out.append(describe(r));
    return out;
}

QStringList ids(const QList<MenuRow>& rows) {
    QStringList out;
    for (const MenuRow& r : rows)
        out.append(r.id);
    return out;
}

QList<MenuRow> menuOf(const Mutate& mutate) {
    MenuSnapshot s = normalWithoutBridge();
    mutate(s);
    return StatusMenu::rows(s, chinese, beijing);
}

} // namespace

TEST(StatusMenuRows, WhichRowsAppear) {
    const QString tail =
        QStringLiteral("before-open open-senvik open-window diagnostics before-quit quit quit-note");
    struct Case {
        const char* name;
        Mutate mutate;
        QString expected;
    };
    const Case cases[] = {
        {"normal without bridge", [](MenuSnapshot&) {},
         QStringLiteral("health after-health bridge before-connector connector-section connector-version "
                        "connector-update ") +
             tail},
        {"stopped and startable",
         [](MenuSnapshot& s) {
             s.health = Health::Stopped{QStringLiteral("桥接没在运行：…")};
             s.canStartBridge = true;
         },
         QStringLiteral("health stopped after-health bridge start-bridge before-connector connector-section "
                        "connector-version connector-update ") +
             tail},
        {"attention in item order, onboarding left, bridge running",
         [](MenuSnapshot& s) {
             s.health = Health::Attention{{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}};
             s.bridge = bridge(4317);
             s.startRemaining = 2;
             s.canStartBridge = true; // nothing to start while it runs
         },
         QStringLiteral("health attention-0 attention-1 attention-2 start after-health bridge pairings "
                        "before-connector connector-section connector-version connector-update before-cli "
                        "cli-section cli-check ") +
             tail},
        {"onboarding steps are not shown when none are left",
         [](MenuSnapshot& s) {
             s.bridge = bridge();
             s.startRemaining = 0;
         },
         QStringLiteral(
             "health after-health bridge pairings before-connector connector-section connector-version "
             "connector-update before-cli cli-section cli-check ") +
             tail},
        {"tool section hidden without a bridge even with engines and a result",
         [](MenuSnapshot& s) {
             s.engines = {engine("codex", true)};
             s.cliResult = QStringLiteral("检查完了：都是最新版本");
         },
         QStringLiteral("health after-health bridge before-connector connector-section connector-version "
                        "connector-update ") +
             tail},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ids(menuOf(c.mutate)).join(QLatin1Char(' ')), c.expected) << c.name;
}

TEST(StatusMenuRows, FixedRowsTheUserSees) {
    struct Case {
        const char* name;
        Mutate mutate;
        const char* id;
        QString expected;
    };
    const Case cases[] = {
        {"health title", [](MenuSnapshot& s) { s.healthTitle = QStringLiteral("有 2 项要你看一下"); },
         "health", QStringLiteral("health | title | Orvane 连接器 · 有 2 项要你看一下")},
        {"stopped reason", [](MenuSnapshot& s) { s.health = Health::Stopped{QStringLiteral("正在卸载")}; },
         "stopped", QStringLiteral("stopped | info | 正在卸载")},
        {"second attention item",
         [](MenuSnapshot& s) {
             s.health = Health::Attention{{QStringLiteral("甲"), QStringLiteral("乙")}};
         },
         "attention-1", QStringLiteral("attention-1 | info | 乙")},
        {"onboarding", [](MenuSnapshot& s) { s.startRemaining = 3; }, "start",
         QStringLiteral("start | action | 开始：还差 3 步…")},
        {"bridge away", [](MenuSnapshot&) {}, "bridge", QStringLiteral("bridge | note | 桥接　没在运行")},
        {"start bridge", [](MenuSnapshot& s) { s.canStartBridge = true; }, "start-bridge",
         QStringLiteral("start-bridge | action | 启动桥接")},
        {"bridge without port", [](MenuSnapshot& s) { s.bridge = bridge(); }, "bridge",
         QStringLiteral("bridge | info | 桥接　在运行")},
        {"bridge with port", [](MenuSnapshot& s) { s.bridge = bridge(4317); }, "bridge",
         QStringLiteral("bridge | info | 桥接　在运行 · 127.0.0.1:4317")},
        {"no pairings", [](MenuSnapshot& s) { s.bridge = bridge(); }, "pairings",
         QStringLiteral("pairings | info | 还没有 Orvane 连上")},
        {"three pairings",
         [](MenuSnapshot& s) {
             s.bridge = bridge();
             s.pairings = 3;
         },
         "pairings", QStringLiteral("pairings | info | 已连接 3 个 Orvane")},
        {"connector section", [](MenuSnapshot&) {}, "connector-section",
         QStringLiteral("connector-section | section | Orvane 连接器（含桥接）")},
        {"tool section without engines", [](MenuSnapshot& s) { s.bridge = bridge(); }, "cli-section",
         QStringLiteral("cli-section | section | 执行工具（Codex、Claude Code）")},
        {"tool section names the engines in order",
         [](MenuSnapshot& s) {
             s.bridge = bridge();
             s.engines = {engine("codex", true), engine("evox", false)};
         },
         "cli-section", QStringLiteral("cli-section | section | 执行工具（Codex、EvoX）")},
        {"quit note", [](MenuSnapshot&) {}, "quit-note",
         QStringLiteral("quit-note | note | 桥接会继续在后台运行 | indent 1")},
    };
    for (const Case& c : cases) {
        const QList<MenuRow> rows = menuOf(c.mutate);
        const auto found =
            std::find_if(rows.begin(), rows.end(), [&](const MenuRow& r) { return r.id == c.id; });
        ASSERT_NE(found, rows.end()) << c.name;
        EXPECT_EQ(describe(*found), c.expected) << c.name;
    }
}

TEST(StatusMenuRows, CommandsCarriedByActionRows) {
    using C = MenuCommand::Case;
    const Mutate plain = [](MenuSnapshot&) {};
    const Mutate ready = [](MenuSnapshot& s) {
        s.update = UpdateState::Ready{updateInfo(57), QStringLiteral("/tmp/s")};
    };
    const Mutate waiting = [](MenuSnapshot& s) {
        s.update = UpdateState::Ready{updateInfo(57), QStringLiteral("/tmp/s")};
        s.waitsToInstall = true;
    };
    const Mutate tools = [](MenuSnapshot& s) {
        s.bridge = bridge();
        s.cliAvailable = true;
        s.cliTools = {tool("claude_code", QStringLiteral("2"), true, true)};
    };
    struct Case {
        Mutate mutate;
        const char* id;
        MenuRow::Style style;
    };
    const Case cases[] = {
        {[](MenuSnapshot& s) { s.startRemaining = 1; }, "start", MenuRow::Style::action(C::openStart, false)},
        {[](MenuSnapshot& s) { s.canStartBridge = true; }, "start-bridge",
         MenuRow::Style::action(C::startBridge, false)},
        {plain, "connector-update", MenuRow::Style::action(C::checkConnectorUpdate, true)},
        {ready, "connector-install", MenuRow::Style::action(C::installConnectorUpdate, false)},
        {waiting, "connector-install", MenuRow::Style::action(C::installConnectorUpdateNow, false)},
        {waiting, "connector-cancel-wait", MenuRow::Style::action(C::cancelConnectorUpdateWait, false)},
        {tools, "cli-update-claude_code",
         MenuRow::Style::action(MenuCommand::updateCli(QStringLiteral("claude_code")), true)},
        {tools, "cli-check", MenuRow::Style::action(C::checkCli, true)},
        {plain, "open-senvik", MenuRow::Style::action(C::openSenvik, false)},
        {plain, "open-window", MenuRow::Style::action(C::openOverview, false)},
        {plain, "diagnostics", MenuRow::Style::action(C::openDiagnostics, false)},
        {plain, "quit", MenuRow::Style::action(C::quit, false)},
    };
    for (const Case& c : cases) {
        const QList<MenuRow> rows = menuOf(c.mutate);
        const auto found =
            std::find_if(rows.begin(), rows.end(), [&](const MenuRow& r) { return r.id == c.id; });
        ASSERT_NE(found, rows.end()) << c.id;
        EXPECT_TRUE(found->style == c.style) << c.id;
    }
}

TEST(StatusMenuConnector, RowsForEachUpdateState) {
    struct Case {
        const char* name;
        Mutate mutate;
        QStringList expected;
    };
    const QString version = QStringLiteral("connector-version | info | 当前 1.4.0（27）");
    const QString check = QStringLiteral("connector-update | stays | 检查连接器更新");
    const QString longFailure =
        QStringLiteral("检查更新没成功：下载的安装包和清单对不上（sha256），已丢掉，请稍后再试一次");
    const Case cases[] = {
        {"idle, never checked", [](MenuSnapshot&) {}, {version, check}},
        {"idle, checked half a minute ago",
         [](MenuSnapshot& s) { s.update = UpdateState::Idle{s.now.addSecs(-30)}; },
         {version + QStringLiteral(" · 已是最新（刚查过）"), check}},
        {"idle, checked this morning",
         [](MenuSnapshot& s) { s.update = UpdateState::Idle{at(2025, 3, 1, 8, 5)}; },
         {version + QStringLiteral(" · 已是最新（08:05 查过）"), check}},
        {"just updated wins over the last check",
         [](MenuSnapshot& s) {
             s.updatedThisLaunch = true;
             s.update = UpdateState::Idle{s.now.addSecs(-30)};
         },
         {version + QStringLiteral(" · 刚更新好"), check}},
        {"just updated says nothing outside idle",
         [](MenuSnapshot& s) {
             s.updatedThisLaunch = true;
             s.update = UpdateState::Checking{};
         },
         {version, QStringLiteral("connector-update | stays | 正在检查连接器更新…")}},
        {"not configured",
         [](MenuSnapshot& s) { s.update = UpdateState::NotConfigured{}; },
         {version, check + QStringLiteral(" | off | tip:这个版本没配更新地址")}},
        {"downloading switches to progress",
         [](MenuSnapshot& s) {
             s.update = UpdateState::Downloading{updateInfo(57), 12'400'000, 27'100'000};
         },
         {version, QStringLiteral("connector-update | stays | 正在下载新版 57 · 45%（12/27 MB）")}},
        {"verifying",
         [](MenuSnapshot& s) { s.update = UpdateState::Verifying{updateInfo(57)}; },
         {version, QStringLiteral("connector-update | stays | 正在核对新版 57 的签名和公证…")}},
        {"installing",
         [](MenuSnapshot& s) { s.update = UpdateState::Installing{updateInfo(57)}; },
         {version, QStringLiteral("connector-update | stays | 正在换上新版 57，马上重开…")}},
        {"failed, long message shortened",
         [&](MenuSnapshot& s) { s.update = UpdateState::Failed{longFailure}; },
         {version,
          QStringLiteral("connector-failed | note | ") + longFailure.left(33) + QStringLiteral("… | tip:") +
              longFailure,
          QStringLiteral("connector-update | stays | 重新检查连接器更新")}},
        {"waits to install behind two runs",
         [](MenuSnapshot& s) {
             s.bridge = bridge(std::nullopt, 2);
             s.update = UpdateState::Ready{updateInfo(57, QStringLiteral("修了菜单")),
                                           QStringLiteral("/tmp/staged")};
             s.waitsToInstall = true;
         },
         {version,
          QStringLiteral("connector-ready | note | 新版 57 · 等 2 个岗位这一轮办完就换上 | tip:修了菜单"),
          QStringLiteral("connector-install | action | 现在就换（会打断）"),
          QStringLiteral("connector-cancel-wait | action | 取消等待")}},
        {"waits to install, tools busy, no notes",
         [](MenuSnapshot& s) {
             s.cliBusy = true;
             s.update = UpdateState::Ready{updateInfo(57), QStringLiteral("/tmp/staged")};
             s.waitsToInstall = true;
         },
         {version, QStringLiteral("connector-ready | note | 新版 57 · 等执行工具忙完就换上"),
          QStringLiteral("connector-install | action | 现在就换（会打断）"),
          QStringLiteral("connector-cancel-wait | action | 取消等待")}},
        {"ready, automatic, menu open",
         [](MenuSnapshot& s) {
             s.holdsAutoInstall = true;
             s.update = UpdateState::Ready{updateInfo(57, QStringLiteral("修了菜单")),
                                           QStringLiteral("/tmp/staged")};
         },
         {version,
          QStringLiteral("connector-ready | note | 新版 57 已下好，关上菜单就换上 | "
                         "tip:修了菜单\n换上时连接器会重开一下"),
          QStringLiteral("connector-install | action | 更新到 1.5（57）")}},
        {"ready, manual, no notes: empty tool tip",
         [](MenuSnapshot& s) {
             s.autoInstall = false;
             s.update = UpdateState::Ready{updateInfo(57), QStringLiteral("/tmp/staged")};
         },
         {version, QStringLiteral("connector-ready | note | 新版 57 已下好 | tip:"),
          QStringLiteral("connector-install | action | 更新到 1.5（57）")}},
        {"ready, manual, a run still open",
         [](MenuSnapshot& s) {
             s.autoInstall = false;
             s.bridge = bridge(std::nullopt, 1);
             s.update =
                 UpdateState::Ready{updateInfo(120, QStringLiteral("说明")), QStringLiteral("/tmp/staged")};
         },
         {version, QStringLiteral("connector-ready | note | 新版 120 已下好 | tip:说明"),
          QStringLiteral("connector-install | action | 更新到 1.5（120） | "
                         "tip:有岗位这一轮还没办完：先等，办完自己换上")}},
    };
    for (const Case& c : cases) {
        MenuSnapshot s = normalWithoutBridge();
        c.mutate(s);
        EXPECT_EQ(describeAll(StatusMenu::connectorRows(s, chinese, beijing)), c.expected) << c.name;
    }
}

TEST(StatusMenuCli, RowsOfTheToolSection) {
    struct Case {
        const char* name;
        Mutate mutate;
        QStringList expected;
    };
    const QString check = QStringLiteral("cli-check | stays | 检查执行工具更新");
    const Case cases[] = {
        {"bridge without tool support: an offered update is off too",
         [](MenuSnapshot& s) { s.cliTools = {tool("codex", QStringLiteral("1.2.3"), true, true)}; },
         {QStringLiteral("cli-update-codex | stays | 更新 Codex 到 1.2.3 | off | "
                         "tip:按原来的安装方式更新，完成后自动刷新模型清单"),
          check + QStringLiteral(" | off | tip:这个桥接版本不支持，先更新连接器")}},
        {"engines: usable is info, unusable a note; update offers",
         [](MenuSnapshot& s) {
             s.cliAvailable = true;
             s.engines = {engine("codex", true, QStringLiteral("0.29.0 · 已登录")),
                          engine("claude_code", false, QStringLiteral("没登录")), engine("evox", true)};
             s.cliTools = {
                 tool("codex", QStringLiteral("1.2.3"), true, true),
                 tool("claude_code", std::nullopt, true, true),
                 tool("evox", QStringLiteral("2.0"), false, true, QStringLiteral("要用 brew 自己更新"))};
         },
         {QStringLiteral("engine-codex | info | Codex　0.29.0 · 已登录 · 可更新到 1.2.3"),
          QStringLiteral("engine-claude_code | note | Claude Code　没登录 · 可更新到 新版本"),
          QStringLiteral("engine-evox | info | EvoX　已找到 · 可更新到 2.0 | tip:要用 brew 自己更新"),
          QStringLiteral("cli-update-codex | stays | 更新 Codex 到 1.2.3 | "
                         "tip:按原来的安装方式更新，完成后自动刷新模型清单"),
          QStringLiteral("cli-update-claude_code | stays | 更新 Claude Code 到 新版本 | "
                         "tip:按原来的安装方式更新，完成后自动刷新模型清单"),
          check}},
        {"an engine without a tool entry, and a tool without an engine",
         [](MenuSnapshot& s) {
             s.cliAvailable = true;
             s.engines = {engine("codex", true)};
             s.cliTools = {tool("codex", QStringLiteral("1.0"), true, false),
                           tool("evox", QStringLiteral("3"), true, true)};
         },
         {QStringLiteral("engine-codex | info | Codex　已找到"),
          QStringLiteral(
              "cli-update-evox | stays | 更新 EvoX 到 3 | tip:按原来的安装方式更新，完成后自动刷新模型清单"),
          check}},
        {"two open runs hold the update back",
         [](MenuSnapshot& s) {
             s.bridge = bridge(std::nullopt, 2);
             s.cliAvailable = true;
             s.cliTools = {tool("codex", QStringLiteral("1.2.3"), true, true)};
         },
         {QStringLiteral("cli-update-codex | stays | 更新 Codex 到 1.2.3（等 Agent 运行跑完） | off | "
                         "tip:有 2 个 Agent 运行还没结束，结束后才能更新"),
          check}},
        {"busy tools disable update and check",
         [](MenuSnapshot& s) {
             s.cliAvailable = true;
             s.cliBusy = true;
             s.cliActivity = CliActivity(CliActivity::Checking{});
             s.cliTools = {tool("codex", QStringLiteral("1.2.3"), true, true)};
         },
         {QStringLiteral("cli-update-codex | stays | 更新 Codex 到 1.2.3 | off | "
                         "tip:按原来的安装方式更新，完成后自动刷新模型清单"),
          QStringLiteral("cli-check | stays | 正在检查执行工具更新…")}},
        {"the tool being updated shows its progress; the check stays an action",
         [](MenuSnapshot& s) {
             s.cliAvailable = true;
             s.cliBusy = true;
             s.cliActivity = CliActivity(CliActivity::Updating{
                 QStringLiteral("codex"), QStringLiteral("Codex"), QStringLiteral("0.30.0")});
             s.cliTools = {tool("codex", QStringLiteral("0.30.0"), true, true),
                           tool("claude_code", QStringLiteral("2"), true, true)};
         },
         {QStringLiteral("cli-update-codex | stays | 正在更新 Codex 到 0.30.0…"),
          QStringLiteral("cli-update-claude_code | stays | 更新 Claude Code 到 2 | off | "
                         "tip:按原来的安装方式更新，完成后自动刷新模型清单"),
          check + QStringLiteral(" | off")}},
        {"an update whose tool left the updatable list shows on the check row",
         [](MenuSnapshot& s) {
             s.cliAvailable = true;
             s.cliBusy = true;
             s.cliActivity = CliActivity(CliActivity::Updating{
                 QStringLiteral("codex"), QStringLiteral("Codex"), QStringLiteral("0.30.0")});
             s.cliTools = {tool("codex", QStringLiteral("0.30.0"), true, false)};
         },
         {QStringLiteral("cli-check | stays | 正在更新 Codex 到 0.30.0…")}},
        {"the bridge's own update without a tool",
         [](MenuSnapshot& s) {
             s.cliAvailable = true;
             s.cliBusy = true;
             s.cliActivity = CliActivity::operation(QStringLiteral("update"));
             s.cliTools = {tool("codex", QStringLiteral("1"), true, true)};
         },
         {QStringLiteral("cli-update-codex | stays | 更新 Codex 到 1 | off | "
                         "tip:按原来的安装方式更新，完成后自动刷新模型清单"),
          QStringLiteral("cli-check | stays | 正在更新执行工具…")}},
        {"a result of 34 characters stays whole",
         [](MenuSnapshot& s) {
             s.cliAvailable = true;
             s.cliResult = QString(34, QChar(0x67E5));
         },
         {check, QStringLiteral("cli-result | note | ") + QString(34, QChar(0x67E5)) +
                     QStringLiteral(" | tip:") + QString(34, QChar(0x67E5))}},
        {"a result of 35 characters is cut to 33 and an ellipsis",
         [](MenuSnapshot& s) {
             s.cliAvailable = true;
             s.cliResult = QString(35, QChar(0x67E5));
         },
         {check, QStringLiteral("cli-result | note | ") + QString(33, QChar(0x67E5)) +
                     QStringLiteral("… | tip:") + QString(35, QChar(0x67E5))}},
    };
    for (const Case& c : cases) {
        MenuSnapshot s = normalWithoutBridge();
        s.bridge = bridge();
        c.mutate(s);
        EXPECT_EQ(describeAll(StatusMenu::cliRows(s)), c.expected) << c.name;
    }
}

TEST(StatusMenuShort, CountsWhatTheUserSeesAsCharacters) {
    const QString family = QStringLiteral("👨‍👩‍👧"); // one character, eight UTF-16 units
    const QString accented = QStringLiteral("e\u0301");          // e and a combining accent
    const QString flag = QStringLiteral("🇨🇳");
    struct Case {
        const char* name;
        QString text;
        int limit;
        QString expected;
    };
    const Case cases[] = {
        {"empty", QString(), 34, QString()},
        {"34 letters", QString(34, QLatin1Char('a')), 34, QString(34, QLatin1Char('a'))},
        {"35 letters", QString(35, QLatin1Char('a')), 34,
         QString(33, QLatin1Char('a')) + QStringLiteral("…")},
        {"34 families stay whole", family.repeated(34), 34, family.repeated(34)},
        {"35 families", family.repeated(35), 34, family.repeated(33) + QStringLiteral("…")},
        {"34 accented letters stay whole", accented.repeated(34), 34, accented.repeated(34)},
        {"35 flags", flag.repeated(35), 34, flag.repeated(33) + QStringLiteral("…")},
        {"limit 1", QStringLiteral("ab"), 1, QStringLiteral("…")},
        {"limit 3, four characters", QStringLiteral("检查完了"), 3, QStringLiteral("检查…")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StatusMenu::short_(c.text, c.limit), c.expected) << c.name;
}

TEST(StatusMenuSnapshot, RecentResultLastsUnderTwoMinutes) {
    const QDateTime now = at(2025, 3, 1, 10, 0);
    struct Case {
        const char* name;
        std::optional<QDateTime> at;
        bool shown;
    };
    const Case cases[] = {
        {"no result", std::nullopt, false},
        {"just now", now, true},
        {"119 seconds", now.addSecs(-119), true},
        {"119.999 seconds", now.addMSecs(-119'999), true},
        {"120 seconds", now.addSecs(-120), false},
        {"an hour", now.addSecs(-3600), false},
        {"stamped ahead of the clock", now.addSecs(30), true},
    };
    for (const Case& c : cases) {
        std::optional<CliResult> result;
        if (c.at)
            result = CliResult{QStringLiteral("做完了"), *c.at};
        const auto text = MenuSnapshot::recentResult(result, now);
        EXPECT_EQ(text.has_value(), c.shown) << c.name;
        if (c.shown) {
            EXPECT_EQ(*text, QStringLiteral("做完了")) << c.name;
        }
    }
}

TEST(StatusMenuSnapshot, OnboardingStepsAndOpenRuns) {
    EXPECT_EQ(MenuSnapshot::startSteps(false, true, 2), 2);
    EXPECT_EQ(MenuSnapshot::startSteps(true, true, 2), 0);
    EXPECT_EQ(MenuSnapshot::startSteps(false, false, 3), 0);
    MenuSnapshot s;
    EXPECT_EQ(s.openRuns(), 0);
    s.bridge = bridge(std::nullopt, 4);
    EXPECT_EQ(s.openRuns(), 4);
}

TEST(StatusMenuCheckedText, HowLongAgo) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    struct Case {
        const char* name;
        QDateTime checked;
        QDateTime now;
        QLocale locale;
        QString expected;
    };
    const Case cases[] = {
        {"59 seconds", at(2025, 3, 1, 9, 59, 1), at(2025, 3, 1, 10, 0), chinese, QStringLiteral("刚查过")},
        {"in the future", at(2025, 3, 1, 11, 0), at(2025, 3, 1, 10, 0), chinese, QStringLiteral("刚查过")},
        {"60 seconds, same day", at(2025, 3, 1, 9, 59), at(2025, 3, 1, 10, 0), chinese,
         QStringLiteral("09:59 查过")},
        {"same day, English", at(2025, 3, 1, 14, 5), at(2025, 3, 1, 18, 0), english,
         QStringLiteral("2:05 PM 查过")},
        {"yesterday", at(2025, 2, 28, 10, 0), at(2025, 3, 1, 10, 0), chinese, QStringLiteral("2月28日 查过")},
        {"yesterday, English", at(2025, 2, 28, 10, 0), at(2025, 3, 1, 10, 0), english,
         QStringLiteral("Feb 28 查过")},
        {"yesterday, German", at(2025, 2, 28, 10, 0), at(2025, 3, 1, 10, 0), german,
         QStringLiteral("28. Feb. 查过")},
        // Same day in UTC, but the user's clock passed midnight in between.
        {"a minute across local midnight", at(2025, 2, 28, 23, 59, 30), at(2025, 3, 1, 0, 0, 30), chinese,
         QStringLiteral("2月28日 查过")},
        {"last year, no year shown", at(2024, 12, 31, 10, 0), at(2025, 3, 1, 10, 0), chinese,
         QStringLiteral("12月31日 查过")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StatusMenu::checkedText(c.checked, c.now, c.locale, beijing), c.expected) << c.name;
}

TEST(StatusMenuCheckedText, MonthAndDayInTheLocalesOrder) {
    const QDate date(2025, 3, 1);
    struct Case {
        QLocale::Language language;
        QLocale::Territory territory;
        QString expected;
    };
    const Case cases[] = {
        {QLocale::Chinese, QLocale::China, QStringLiteral("3月1日")},
        {QLocale::Chinese, QLocale::Taiwan, QStringLiteral("3月1日")},
        {QLocale::Japanese, QLocale::Japan, QStringLiteral("3月1日")},
        {QLocale::Korean, QLocale::SouthKorea, QStringLiteral("3월 1일")},
        {QLocale::English, QLocale::UnitedStates, QStringLiteral("Mar 1")},
        {QLocale::English, QLocale::UnitedKingdom, QStringLiteral("1 Mar")},
        {QLocale::German, QLocale::Germany, QStringLiteral("1. März")},
        {QLocale::French, QLocale::France, QStringLiteral("1 mars")},
        {QLocale::Russian, QLocale::Russia, QStringLiteral("1 мар.")},
        {QLocale::Spanish, QLocale::Spain, QStringLiteral("1 de mar")},
    };
    for (const Case& c : cases) {
        const QLocale locale(c.language, c.territory);
        EXPECT_EQ(StatusMenu::monthDay(date, locale), c.expected) << locale.name().toStdString();
    }
}

TEST(MenuRowModel, KindsAndSeparators) {
    struct Case {
        MenuRow::Style style;
        const char* kind;
    };
    const Case cases[] = {
        {MenuRow::Style::Title{}, "title"},
        {MenuRow::Style::Section{}, "section"},
        {MenuRow::Style::Separator{}, "separator"},
        {MenuRow::Style::Info{}, "info"},
        {MenuRow::Style::Note{}, "note"},
        {MenuRow::Style::action(MenuCommand::Case::quit, false), "action"},
        {MenuRow::Style::action(MenuCommand::Case::checkCli, true), "stays"},
        {MenuRow::Style::Progress{}, "stays"},
    };
    for (const Case& c : cases) {
        MenuRow row;
        row.style = c.style;
        EXPECT_EQ(row.kind(), QString::fromLatin1(c.kind));
    }
    const MenuRow sep = MenuRow::separator(QStringLiteral("before-quit"));
    EXPECT_EQ(describe(sep), QStringLiteral("before-quit | separator | "));
    EXPECT_TRUE(sep.enabled);

    MenuRow a = sep;
    MenuRow b = sep;
    b.indent = 1;
    EXPECT_FALSE(a == b);
    b = sep;
    b.toolTip = QString();
    EXPECT_FALSE(a == b) << "an empty tool tip is not an absent one";
}

TEST(MenuRowModel, CommandEquality) {
    EXPECT_EQ(MenuCommand::updateCli(QStringLiteral("codex")),
              MenuCommand::updateCli(QStringLiteral("codex")));
    EXPECT_NE(MenuCommand::updateCli(QStringLiteral("codex")),
              MenuCommand::updateCli(QStringLiteral("evox")));
    EXPECT_NE(MenuCommand(MenuCommand::Case::checkCli), MenuCommand::updateCli(QString()));
    MenuCommand quit(MenuCommand::Case::quit);
    quit.toolId = QStringLiteral("ignored");
    EXPECT_EQ(quit, MenuCommand(MenuCommand::Case::quit));
}
