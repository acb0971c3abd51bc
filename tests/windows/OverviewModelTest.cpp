#include "OverviewModel.h"

#include <gtest/gtest.h>

namespace {

using Button = OverviewModel::Callout::Button;
using Kind = OverviewModel::UpdateControl::Kind;

OverviewInput input() {
    OverviewInput in;
    in.version = QStringLiteral("1.4.0（27）");
    in.background = Background::Enabled{};
    return in;
}

BridgeStatus bridge(std::optional<qint64> port, qint64 openRuns = 0) {
    BridgeStatus b;
    b.port = port;
    b.openRuns = openRuns;
    return b;
}

CliTool tool(const QString& id, std::optional<QString> version, bool canUpdate, bool available,
             std::optional<qint64> models) {
    CliTool t;
    t.id = id;
    t.currentVersion = std::move(version);
    t.canUpdate = canUpdate;
    t.updateAvailable = available;
    t.models = models;
    t.message = QStringLiteral("有新版本");
    return t;
}

UpdateInfo info(std::optional<QString> notes = std::nullopt) {
    UpdateInfo i;
    i.version = QStringLiteral("1.5");
    i.build = 31;
    i.notes = std::move(notes);
    return i;
}

} // namespace

TEST(OverviewModel, CalloutShowsAtMostOneButton) {
    struct Case {
        const char* name;
        Health health;
        Background background;
        bool running;
        bool shown;
        Tone tone;
        QString symbol;
        Button button;
    };
    const Health stopped = Health::Stopped{QStringLiteral("桥接没在运行")};
    const Health attention = Health::Attention{{QStringLiteral("一"), QStringLiteral("二")}};
    const Case cases[] = {
        {"normal: none", Health::Normal{}, Background::Enabled{}, true, false, Tone::orange, "",
         Button::none},
        {"stopped, enabled, not running", stopped, Background::Enabled{}, false, true, Tone::secondary,
         "pause.circle.fill", Button::startBridge},
        {"stopped, needs approval", stopped, Background::RequiresApproval{}, false, true, Tone::secondary,
         "pause.circle.fill", Button::openLoginItems},
        {"attention, needs approval, running", attention, Background::RequiresApproval{}, true, true,
         Tone::orange, "exclamationmark.circle.fill", Button::openLoginItems},
        {"attention, enabled, running", attention, Background::Enabled{}, true, true, Tone::orange,
         "exclamationmark.circle.fill", Button::none},
        {"stopped, item failed", stopped, Background::Failed{QStringLiteral("x")}, false, true,
         Tone::secondary, "pause.circle.fill", Button::none},
        {"stopped, still checking", stopped, Background::Checking{}, false, true, Tone::secondary,
         "pause.circle.fill", Button::none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OverviewInput in = input();
        in.health = c.health;
        in.background = c.background;
        if (c.running)
            in.bridge = bridge(1);
        const OverviewModel m = OverviewModel::from(in);
        ASSERT_EQ(m.callout.has_value(), c.shown);
        if (!c.shown)
            continue;
        EXPECT_EQ(m.callout->tone, c.tone);
        EXPECT_EQ(m.callout->symbol, c.symbol);
        EXPECT_EQ(m.callout->button, c.button);
        EXPECT_EQ(m.callout->buttonTitle, c.button == Button::startBridge ? QStringLiteral("启动桥接")
                                          : c.button == Button::openLoginItems
                                              ? QStringLiteral("打开系统设置的登录项")
                                              : QString());
    }
    OverviewInput in = input();
    in.health = attention;
    EXPECT_EQ(OverviewModel::from(in).callout->lines,
              (QStringList{QStringLiteral("一"), QStringLiteral("二")}));
}

TEST(OverviewModel, StatusRowsFollowTheBridge) {
    OverviewInput in = input();
    in.engines = {Engine{"codex", "Codex", "已登录", "", true, std::nullopt},
                  Engine{"evox", "EvoX", "没找到", "", false, std::nullopt}};
    OverviewModel m = OverviewModel::from(in);
    ASSERT_EQ(m.status.size(), 1); // engines are not listed while the bridge is away
    EXPECT_EQ(m.status[0],
              (OverviewModel::Row{"point.3.connected.trianglepath.dotted", "桥接", "没在运行", false}));

    in.bridge = bridge(std::nullopt);
    EXPECT_EQ(OverviewModel::from(in).status[0].detail, QStringLiteral("在运行"));
    in.bridge = bridge(47120);
    m = OverviewModel::from(in);
    ASSERT_EQ(m.status.size(), 3);
    EXPECT_EQ(m.status[0], (OverviewModel::Row{"point.3.connected.trianglepath.dotted", "桥接",
                                               "在运行 · 127.0.0.1:47120", true}));
    EXPECT_EQ(m.status[1], (OverviewModel::Row{"terminal", "Codex", "已登录", true}));
    EXPECT_EQ(m.status[2], (OverviewModel::Row{"terminal", "EvoX", "没找到", false}));
}

TEST(OverviewModel, PairingsCard) {
    OverviewInput in = input();
    EXPECT_EQ(OverviewModel::from(in).noPairings, QStringLiteral("桥接没在运行。"));
    in.bridge = bridge(1);
    EXPECT_EQ(OverviewModel::from(in).noPairings,
              QStringLiteral("还没有：在 Orvane 里打开「我的 Agent」，会自动连上。"));
    in.pairings = {Pairing{"a", "iPhone", "t", "Orvane iOS", QStringLiteral("今天 09:41")},
                   Pairing{"b", "Mac", "t", "Orvane macOS", std::nullopt}};
    const OverviewModel m = OverviewModel::from(in);
    EXPECT_FALSE(m.noPairings);
    ASSERT_EQ(m.pairings.size(), 2);
    EXPECT_EQ(m.pairings[0].detail, QStringLiteral("Orvane iOS · 最近 今天 09:41"));
    EXPECT_EQ(m.pairings[1].detail, QStringLiteral("Orvane macOS"));
    EXPECT_EQ(m.pairings[1].pairing.id, QStringLiteral("b")); // "断开" revokes this one
}

TEST(OverviewModel, ToolRowsAndButtons) {
    struct Case {
        const char* name;
        bool available, busy;
        qint64 openRuns;
        bool updateEnabled, buttons, refresh;
    };
    const Case cases[] = {
        {"idle", true, false, 0, true, true, true},
        {"busy", true, true, 0, false, false, false},
        {"open runs", true, false, 2, false, true, false},
        {"bridge cannot run tools", false, false, 0, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OverviewInput in = input();
        in.bridge = bridge(1, c.openRuns);
        in.cliAvailable = c.available;
        in.cliBusy = c.busy;
        in.cliTools = {tool("codex", QStringLiteral("0.30.2"), true, true, 12),
                       tool("evox", std::nullopt, false, true, std::nullopt),
                       tool("claude_code", QStringLiteral("2.1"), true, false, 3)};
        const OverviewModel::Tools t = OverviewModel::from(in).tools;
        ASSERT_EQ(t.rows.size(), 3);
        EXPECT_EQ(t.rows[0].heading, QStringLiteral("Codex 0.30.2"));
        EXPECT_EQ(t.rows[0].models, QStringLiteral("12 个模型"));
        EXPECT_TRUE(t.rows[0].hasUpdateButton);
        EXPECT_EQ(t.rows[0].updateEnabled, c.updateEnabled);
        EXPECT_EQ(t.rows[1].heading, QStringLiteral("EvoX 版本未知"));
        EXPECT_FALSE(t.rows[1].models);
        EXPECT_FALSE(t.rows[1].hasUpdateButton); // cannot update itself
        EXPECT_FALSE(t.rows[2].hasUpdateButton); // nothing newer
        EXPECT_EQ(t.buttonsEnabled, c.buttons);
        EXPECT_EQ(t.refreshEnabled, c.refresh);
        EXPECT_EQ(t.busy, c.busy);
        EXPECT_EQ(t.unavailable.has_value(), !c.available);
        EXPECT_EQ(t.openRunsNote.has_value(), c.openRuns > 0);
    }
    OverviewInput in = input();
    in.cliMessage = QStringLiteral("Codex 已更新到 0.31.0");
    const OverviewModel::Tools t = OverviewModel::from(in).tools;
    EXPECT_EQ(t.unavailable, QStringLiteral("请先启动或更新桥接，再检查执行工具更新。"));
    EXPECT_EQ(t.message, QStringLiteral("Codex 已更新到 0.31.0"));
    in.bridge = bridge(1, 1);
    EXPECT_EQ(OverviewModel::from(in).tools.openRunsNote,
              QStringLiteral("有 Agent 工作尚未结束，结束后即可更新和刷新模型。"));
}

TEST(OverviewModel, UpdateLineAndControlForEveryState) {
    struct Case {
        const char* name;
        UpdateState state;
        bool waits, autoInstall, updated;
        qint64 openRuns;
        QString line;
        Kind kind;
        QString help = {};
    };
    const QDateTime checked(QDate(2026, 12, 9), QTime(9, 30));
    const QString checkedText =
        QStringLiteral("已是最新 · 上次检查 ") + QLocale().toString(checked.time(), QLocale::ShortFormat);
    const QString waitLine = QStringLiteral("等 2 轮 Agent 工作结束");
    const UpdateState downloading = UpdateState::Downloading{info(), 5'000'000, 10'000'000},
                      downloadingUnknown = UpdateState::Downloading{info(), 5'000'000, std::nullopt};
    const QString ready = QStringLiteral("新版本 ") + info().label();
    const Case cases[] = {
        {"never checked", UpdateState::Idle{}, false, false, false, 0, "还没检查过更新", Kind::checkButton},
        {"checked", UpdateState::Idle{checked}, false, false, false, 0, checkedText, Kind::checkButton},
        {"just updated", UpdateState::Idle{checked}, false, false, true, 0, "刚更新好", Kind::checkButton},
        {"checking", UpdateState::Checking{}, false, false, false, 0, "正在检查连接器更新…", Kind::spinner},
        {"downloading, size known", downloading, false, false, false, 0, *downloading.activity(),
         Kind::progressBar},
        {"downloading, size unknown", downloadingUnknown, false, false, false, 0,
         *downloadingUnknown.activity(), Kind::spinner},
        {"verifying", UpdateState::Verifying{info()}, false, false, false, 0, "正在核对新版 31 的签名和公证…",
         Kind::spinner},
        {"installing", UpdateState::Installing{info()}, false, false, false, 0, "正在换上新版 31，马上重开…",
         Kind::spinner},
        {"ready, waiting", UpdateState::Ready{info(), "/x"}, true, false, false, 2,
         ready + QStringLiteral(" · ") + waitLine, Kind::waitButtons},
        {"ready, plain", UpdateState::Ready{info(), "/x"}, false, false, false, 0,
         ready + QStringLiteral(" 已下好"), Kind::installButton},
        {"ready, notes, auto install, open runs", UpdateState::Ready{info("修好了配对"), "/x"}, false, true,
         false, 1, ready + QStringLiteral(" 已下好：修好了配对。岗位都跑完后自动换上"), Kind::installButton,
         "有岗位这一轮还没办完：先等，办完自己换上"},
        {"failed", UpdateState::Failed{"下载失败：连不上"}, false, false, false, 0, "下载失败：连不上",
         Kind::checkButton},
        {"not configured", UpdateState::NotConfigured{}, false, false, false, 0,
         "这个版本没配更新地址，不会自动更新", Kind::none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OverviewInput in = input();
        in.update = c.state;
        in.waitsToInstall = c.waits;
        in.updateWaitLine = waitLine;
        in.autoInstallUpdates = c.autoInstall;
        in.updatedThisLaunch = c.updated;
        in.bridge = bridge(1, c.openRuns);
        const OverviewModel m = OverviewModel::from(in);
        EXPECT_EQ(m.updateLine, c.line);
        EXPECT_EQ(m.updateControl.kind, c.kind);
        EXPECT_EQ(m.updateControl.installHelp, c.help);
        EXPECT_EQ(m.versionLine, QStringLiteral("Orvane 连接器 1.4.0（27）"));
    }
    OverviewInput in = input();
    in.update = UpdateState::Downloading{info(), 1, 4};
    EXPECT_DOUBLE_EQ(*OverviewModel::from(in).updateControl.fraction, 0.25);
}

TEST(OverviewModel, ToolUpdateConfirmationTexts) {
    const ToolUpdateConfirmation c =
        ToolUpdateConfirmation::of(tool("claude_code", std::nullopt, true, true, 1));
    EXPECT_EQ(c.title, QStringLiteral("更新执行工具？"));
    EXPECT_EQ(c.message,
              QStringLiteral("将通过原安装方式更新 Claude Code，完成后自动刷新模型清单。已有 Agent "
                             "工作未结束时会暂缓更新。"));
    EXPECT_EQ(c.confirm, QStringLiteral("更新 Claude Code"));
    EXPECT_EQ(c.cancel, QStringLiteral("取消"));
}
