#include "DiagnosticsFixture.h"

#include "ConnectorSettings.h"
#include "TempHome.h"

#include <QDateTime>

namespace {

using Level = DiagnosticCheck::Level;
using Status = BackgroundService::Status;

QStringList ids(const QList<DiagnosticCheck>& list) {
    QStringList result;
    for (const DiagnosticCheck& check : list)
        result << check.id;
    return result;
}

CliTool namedTool(const char* id) {
    CliTool tool;
    tool.id = QString::fromUtf8(id);
    return tool;
}

QDateTime minutesAgo(qint64 minutes) {
    return QDateTime::currentDateTimeUtc().addSecs(-minutes * 60);
}

class DiagnosticChecks : public DiagnosticsFixture {};

TEST_F(DiagnosticChecks, WithoutBridgeExactlySevenLinesInOrder) {
    EXPECT_EQ(ids(lines()),
              (QStringList{"location", "background", "statusItem", "bridge", "senvik", "update", "log"}));
    // Tools and engines left from an earlier reading do not bring their lines back without a bridge.
    ControllerTestAccess::cliTools(c(), {namedTool("codex")});
    EXPECT_EQ(lines().size(), 7);
}

TEST_F(DiagnosticChecks, WithBridgeAllLinesInOrder) {
    ControllerTestAccess::bridge(c(), managedBridge());
    ControllerTestAccess::engines(
        c(), {Engine{QStringLiteral("codex"), QStringLiteral("Codex"), {}, {}, false, {}},
              Engine{QStringLiteral("claude_code"), QStringLiteral("Claude Code"), {}, {}, false, {}}});
    ControllerTestAccess::cliTools(c(), {namedTool("codex"), namedTool("evox")});
    EXPECT_EQ(ids(lines()), (QStringList{"location", "background", "statusItem", "bridge", "engine-codex",
                                         "engine-claude_code", "engines", "cli-codex", "cli-evox", "repo",
                                         "leases", "senvik", "update", "log"}));
}

struct LocationCase {
    QString path;
    Level level;
    QString detail;
};

TEST_F(DiagnosticChecks, Location) {
    const QString moveHint = QStringLiteral("在 DMG 或临时位置里运行：先把「Orvane 连接器」拖进「应用程序」");
    const QList<LocationCase> cases{
        {QStringLiteral("/Volumes/Orvane/Orvane 连接器.app"), Level::fail, moveHint},
        {QStringLiteral("/private/var/folders/x/AppTranslocation/1F2E/d/Orvane 连接器.app"), Level::fail,
         moveHint},
        {ConnectorPaths::home() + QStringLiteral("/Applications/Orvane 连接器.app"), Level::pass,
         QStringLiteral("~/Applications/Orvane 连接器.app")},
        {QStringLiteral("/Applications/Orvane 连接器.app"), Level::pass,
         QStringLiteral("/Applications/Orvane 连接器.app")},
        // Only a real path component counts: a volume name inside a folder name is fine.
        {QStringLiteral("/opt/Volumes/Orvane 连接器.app"), Level::pass,
         QStringLiteral("/opt/Volumes/Orvane 连接器.app")},
    };
    for (const LocationCase& row : cases) {
        makeController(row.path);
        const auto check = line(QStringLiteral("location"));
        ASSERT_TRUE(check);
        EXPECT_EQ(*check, (DiagnosticCheck{"location", "安装位置", row.level, row.detail}))
            << row.path.toStdString();
    }
}

TEST_F(DiagnosticChecks, BackgroundItem) {
    const QList<std::pair<Background, DiagnosticCheck>> cases{
        {Background::Checking{}, {"background", "后台运行", Level::warn, "正在检查"}},
        {Background::Enabled{},
         {"background", "后台运行", Level::pass, "已开启：登录后自己运行，意外退出会重启"}},
        {Background::RequiresApproval{},
         {"background", "后台运行", Level::warn,
          "要在「系统设置 › 通用 › 登录项与扩展」里允许「Orvane 连接器」"}},
        {Background::WrongLocation{},
         {"background", "后台运行", Level::fail, "装到「应用程序」以后才会开启"}},
        {Background::Failed{QStringLiteral("systemctl 没回应")},
         {"background", "后台运行", Level::fail, "systemctl 没回应"}},
    };
    for (const auto& [state, expected] : cases) {
        ControllerTestAccess::background(c(), state);
        EXPECT_EQ(line(QStringLiteral("background")), expected);
    }
}

TEST_F(DiagnosticChecks, StatusItemAtLogin) {
    const QString off = QStringLiteral("登录后不会自动显示状态栏图标（设置页里可以打开）");
    const QList<std::pair<Status, std::pair<Level, QString>>> cases{
        {Status::enabled, {Level::pass, QStringLiteral("登录后显示状态栏图标")}},
        {Status::requiresApproval,
         {Level::warn,
          QStringLiteral("要在「系统设置 › 通用 › 登录项与扩展」里允许，登录后才会显示状态栏图标")}},
        {Status::notRegistered, {Level::warn, off}},
        {Status::notFound, {Level::warn, off}},
        {static_cast<Status>(7), {Level::warn, off}},
    };
    for (const auto& [status, expected] : cases) {
        ControllerTestAccess::statusItemAtLogin(c(), status);
        const auto check = line(QStringLiteral("statusItem"));
        ASSERT_TRUE(check);
        EXPECT_EQ(check->title, QStringLiteral("状态栏图标"));
        EXPECT_EQ(check->level, expected.first);
        EXPECT_EQ(check->detail, expected.second);
    }
}

TEST_F(DiagnosticChecks, BridgeAbsentTellsWhatToDoOnlyWhenTheItemIsOn) {
    ControllerTestAccess::background(c(), Background::Enabled{});
    EXPECT_EQ(line(QStringLiteral("bridge")),
              (DiagnosticCheck{"bridge", "桥接", Level::fail,
                               "没在运行：刚开机要等几秒；一直这样就点「启动桥接」，还不行再查看日志"}));
    ControllerTestAccess::background(c(), Background::RequiresApproval{});
    EXPECT_EQ(line(QStringLiteral("bridge")), (DiagnosticCheck{"bridge", "桥接", Level::fail, "没在运行"}));
}

struct BridgeCase {
    const char* name;
    BridgeStatus bridge;
    Level level;
    QString detail;
};

TEST_F(DiagnosticChecks, BridgeDetail) {
    BridgeStatus full = managedBridge();
    full.port = 4820;
    full.version = QStringLiteral("0.9.1");
    full.startedAt = minutesAgo(3 * 1440);
    full.openRuns = 2;
    BridgeStatus byHand;
    BridgeStatus young = managedBridge();
    young.startedAt = QDateTime::currentDateTimeUtc().addSecs(-59);
    BridgeStatus idle = managedBridge();
    idle.openRuns = 0;
    const QList<BridgeCase> cases{
        {"full", full, Level::pass,
         QStringLiteral("在运行 · 127.0.0.1:4820 · 桥接 0.9.1 · 已运行 3 天 · 2 个运行在跑")},
        {"by hand, no port, no version", byHand, Level::warn,
         QStringLiteral("在运行 · 是在终端里手动启动的：关掉终端就会离线")},
        {"59 seconds", young, Level::pass, QStringLiteral("在运行 · 已运行 0 分钟")},
        {"nothing known", idle, Level::pass, QStringLiteral("在运行")},
    };
    for (const BridgeCase& row : cases) {
        ControllerTestAccess::bridge(c(), row.bridge);
        EXPECT_EQ(line(QStringLiteral("bridge")), (DiagnosticCheck{"bridge", "桥接", row.level, row.detail}))
            << row.name;
    }
}

TEST(DiagnosticDuration, Bounds) {
    const QDateTime now = QDateTime::fromString(QStringLiteral("2026-03-01T12:00:00Z"), Qt::ISODate);
    const QList<std::pair<qint64, QString>> cases{
        {-300, "0 分钟"},
        {59, "0 分钟"},
        {60, "1 分钟"},
        {59 * 60 + 59, "59 分钟"},
        {60 * 60, "1 小时"},
        {(2 * 60 + 59) * 60, "2 小时"},
        {(47 * 60 + 59) * 60, "47 小时"},
        {48 * 3600, "2 天"},
        {3 * 86400 + 3599, "3 天"},
    };
    for (const auto& [seconds, expected] : cases)
        EXPECT_EQ(Diagnostics::duration(now.addSecs(-seconds), now), expected) << seconds;
    // Minutes truncate toward zero: 59 seconds in the future is still "0 分钟", two minutes is negative.
    EXPECT_EQ(Diagnostics::duration(now.addSecs(120), now), QStringLiteral("0 分钟"));
}

TEST_F(DiagnosticChecks, EnginesNoneUsableAddsOneFailLine) {
    ControllerTestAccess::bridge(c(), managedBridge());
    const QString home = ConnectorPaths::home();
    ControllerTestAccess::engines(
        c(), {Engine{"codex", "Codex", "没登录", "没登录", false, home + QStringLiteral("/.local/bin/codex")},
              Engine{"claude_code", "Claude Code", "没找到", "这台 Mac 上没找到 Claude Code", false,
                     std::nullopt}});
    QList<DiagnosticCheck> list = lines();
    ASSERT_EQ(list.size(), 12);
    EXPECT_EQ(list[4],
              (DiagnosticCheck{"engine-codex", "Codex", Level::warn, "没登录 · ~/.local/bin/codex"}));
    EXPECT_EQ(list[5], (DiagnosticCheck{"engine-claude_code", "Claude Code", Level::warn,
                                        "这台 Mac 上没找到 Claude Code"}));
    EXPECT_EQ(list[6], (DiagnosticCheck{"engines", "执行工具", Level::fail,
                                        "Codex、Claude Code 都不能用：「我的 Agent」发不出去"}));

    ControllerTestAccess::engines(
        c(), {Engine{"codex", "Codex", "0.30.0", "0.30.0 · 已登录", true, "/usr/bin/codex"},
              Engine{"claude_code", "Claude Code", "没登录", "没登录", false, std::nullopt}});
    list = lines();
    EXPECT_FALSE(ids(list).contains(QStringLiteral("engines")));
    EXPECT_EQ(list[4],
              (DiagnosticCheck{"engine-codex", "Codex", Level::pass, "0.30.0 · 已登录 · /usr/bin/codex"}));
}

struct ToolCase {
    const char* name;
    CliTool tool;
    Level level;
    QString detail;
};

TEST_F(DiagnosticChecks, ToolLines) {
    CliTool unchecked = namedTool("codex");
    CliTool outdated{"claude_code", "2.0.1", "2.1.0", true, true, 12, true, "有新版本"};
    CliTool current{"evox", "1.2.0", "1.2.0", false, false, std::nullopt, true, "已是最新"};
    CliTool onlyModels{"codex", std::nullopt, std::nullopt, false, false, 3, true, ""};
    const QList<ToolCase> cases{
        {"unchecked, nothing known, empty message", unchecked, Level::warn, QString()},
        {"update available", outdated, Level::warn, "当前 2.0.1 · 最新 2.1.0 · 12 个模型 · 有新版本"},
        {"current", current, Level::pass, "当前 1.2.0 · 最新 1.2.0 · 已是最新"},
        {"empty message is still a part", onlyModels, Level::pass, "3 个模型 · "},
    };
    ControllerTestAccess::bridge(c(), managedBridge());
    for (const ToolCase& row : cases) {
        ControllerTestAccess::cliTools(c(), {row.tool});
        const auto check = line(QStringLiteral("cli-") + row.tool.id);
        ASSERT_TRUE(check) << row.name;
        EXPECT_EQ(check->title, row.tool.title() + QStringLiteral(" 更新与模型")) << row.name;
        EXPECT_EQ(check->level, row.level) << row.name;
        EXPECT_EQ(check->detail, row.detail) << row.name;
    }
}

TEST_F(DiagnosticChecks, RepositoryAndLeases) {
    BridgeStatus bridge = managedBridge();
    bridge.repoRoot = ConnectorPaths::home() + QStringLiteral("/work/company");
    bridge.repoRoles = 4;
    bridge.leasesOn = true;
    ControllerTestAccess::bridge(c(), bridge);
    EXPECT_EQ(line(QStringLiteral("repo")),
              (DiagnosticCheck{"repo", "公司仓库", Level::pass, "~/work/company · 4 个岗位"}));
    EXPECT_EQ(line(QStringLiteral("leases")), (DiagnosticCheck{"leases", "保险库和租约", Level::pass,
                                                               "每一轮开始前拿岗位的租约（这台电脑）"}));

    bridge.repoRoot.reset();
    bridge.repoProblem = QStringLiteral("仓库不是 git 仓库");
    bridge.leasesHolder = QStringLiteral("办公室 Mac mini");
    ControllerTestAccess::bridge(c(), bridge);
    EXPECT_EQ(line(QStringLiteral("repo")),
              (DiagnosticCheck{"repo", "公司仓库", Level::warn, "仓库不是 git 仓库（（没有路径））"}));
    EXPECT_EQ(line(QStringLiteral("leases"))->detail,
              QStringLiteral("每一轮开始前拿岗位的租约（办公室 Mac mini）"));

    bridge.leasesOn = false;
    ControllerTestAccess::bridge(c(), bridge);
    EXPECT_EQ(line(QStringLiteral("leases")),
              (DiagnosticCheck{"leases", "保险库和租约", Level::warn,
                               "租约关着：同一个岗位可能在两台电脑上同时跑"}));
    bridge.leasesReason = QStringLiteral("保险库锁着");
    ControllerTestAccess::bridge(c(), bridge);
    EXPECT_EQ(line(QStringLiteral("leases"))->detail, QStringLiteral("保险库锁着"));
}

TEST_F(DiagnosticChecks, CompanionApps) {
    const Pairing one{"p1", "王小明", "a1b2c3", "Orvane Mac", std::nullopt};
    const QList<std::tuple<QStringList, QList<Pairing>, Level, QString>> cases{
        {{}, {}, Level::warn, "这台 Mac 上没找到 Orvane"},
        {{"com.tamrik.vestrano.global"}, {}, Level::pass, "装了海外版 · 连着 0 个账号"},
        {{"com.tamrik.vestrano"}, {one, one}, Level::pass, "装了国内版 · 连着 2 个账号"},
        // The kinds follow the fixed list order, not the order in which they were found.
        {{"com.tamrik.vestrano.global", "com.tamrik.vestrano"},
         {one},
         Level::pass,
         "装了国内版、海外版 · 连着 1 个账号"},
    };
    for (const auto& [installed, pairings, level, detail] : cases) {
        apps->installed = installed;
        ControllerTestAccess::pairings(c(), pairings);
        EXPECT_EQ(line(QStringLiteral("senvik")), (DiagnosticCheck{"senvik", "Orvane", level, detail}));
    }
}

TEST_F(DiagnosticChecks, ConnectorUpdate) {
    UpdateInfo entry;
    entry.version = QStringLiteral("1.5");
    entry.build = 31;
    const QDateTime checkedAt = QDateTime::fromString(QStringLiteral("2026-03-01T09:05:00Z"), Qt::ISODate);
    struct Row {
        UpdateState state;
        bool waits;
        bool autoInstall;
        Level level;
        QString detail;
    };
    const QList<Row> cases{
        {UpdateState::Idle{}, false, true, Level::pass, "已是最新 1.4.0（27）"},
        {UpdateState::Idle{checkedAt}, false, true, Level::pass, "已是最新 1.4.0（27），上次检查 09:05"},
        {UpdateState::Checking{}, false, true, Level::pass, "正在检查连接器更新…"},
        {UpdateState::Verifying{entry}, false, true, Level::pass, "正在核对新版 31 的签名和公证…"},
        {UpdateState::Ready{entry, "/tmp/x.app"}, false, true, Level::warn,
         "新版本 " + entry.label() + " 已下好，没有在跑的运行时会自己换上"},
        {UpdateState::Ready{entry, "/tmp/x.app"}, false, false, Level::warn,
         "新版本 " + entry.label() + " 已下好，在概览页点「更新」"},
        {UpdateState::Failed{"检查更新没成功：安装包打不开"}, false, true, Level::warn,
         "检查更新没成功：安装包打不开"},
        {UpdateState::NotConfigured{}, false, true, Level::warn,
         "没配更新地址（出包时没写 SenvikUpdateFeedURL），不会自动更新"},
    };
    for (const Row& row : cases) {
        ConnectorSettings::setAutoInstallUpdates(row.autoInstall);
        ControllerTestAccess::update(c(), row.state);
        EXPECT_EQ(line(QStringLiteral("update")),
                  (DiagnosticCheck{"update", "连接器更新", row.level, row.detail}));
    }
    ControllerTestAccess::update(c(), UpdateState::Ready{entry, "/tmp/x.app"});
    ControllerTestAccess::waitsToInstall(c(), true);
    EXPECT_EQ(line(QStringLiteral("update"))->detail,
              "新版本 " + entry.label() + " 已下好，点过更新：" + c().updateWaitLine());
    ConnectorSettings::setAutoInstallUpdates(true);
}

TEST_F(DiagnosticChecks, LogFile) {
    EXPECT_EQ(line(QStringLiteral("log")),
              (DiagnosticCheck{"log", "日志", Level::warn, "还没有日志：桥接还没以托管方式起来过"}));
    ASSERT_TRUE(TestSupport::writeFile(ConnectorPaths::bridgeLog(), QByteArray(12345, 'x')));
    EXPECT_EQ(
        line(QStringLiteral("log")),
        (DiagnosticCheck{"log", "日志", Level::pass, "~/Library/Logs/SenvikConnector/bridge.log · 12 KB"}));
    QFile::remove(ConnectorPaths::bridgeLog());
}

TEST(DiagnosticFileSize, DecimalUnits) {
    const QList<std::pair<qint64, QString>> cases{
        {0, "0 字节"},           {1, "1 字节"},         {999, "999 字节"},   {1000, "1 KB"},
        {12345, "12 KB"},        {999499, "999 KB"},    {999500, "1 MB"},    {1000000, "1 MB"},
        {1500000, "1.5 MB"},     {12340000, "12.3 MB"}, {999960000, "1 GB"}, {2250000000, "2.25 GB"},
        {3000000000000, "3 TB"},
    };
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(Diagnostics::fileSize(bytes), expected) << bytes;
}

} // namespace
