#include "DiagnosticsFixture.h"

#include "ConnectorSettings.h"
#include "TempHome.h"

namespace {

using Level = DiagnosticCheck::Level;
using A = ControllerTestAccess;
using Setup = std::function<void(ConnectorController&, FakeWorkspace&)>;

struct Case {
    const char* name;
    Setup setup;
    const char* id;
    Level level;
    QString detail;
};

BridgeStatus bridge(bool managed = true) {
    BridgeStatus b;
    b.managed = managed;
    return b;
}
CliTool tool(const char* id, std::optional<QString> current, std::optional<QString> latest,
             std::optional<qint64> models, bool checked, bool available, const char* message) {
    return {id, current, latest, false, available, models, checked, message};
}
Engine engine(const char* id, const char* title, bool usable, const char* detail,
              std::optional<QString> path) {
    return {id, title, {}, detail, usable, path};
}
Setup withBridge(std::function<void(BridgeStatus&)> change, bool managed = true) {
    return [=](ConnectorController& c, FakeWorkspace&) {
        BridgeStatus b = bridge(managed);
        change(b);
        A::bridge(c, b);
    };
}
// Read when a case runs: the locations are fixed once, after the tests moved HOME.
QString home() {
    return ConnectorPaths::home();
}
const QDateTime checkedAt = QDateTime::fromString(QStringLiteral("2026-03-01T09:05:00Z"), Qt::ISODate);
UpdateInfo entry() {
    UpdateInfo info;
    info.version = QStringLiteral("1.5");
    info.build = 31;
    return info;
}
const QString approval = QStringLiteral("要在「系统设置 › 通用 › 登录项与扩展」里允许「Orvane 连接器」");

// One row per edge of each line: the state, then the line it must give.
const std::vector<Case> cases{
    {"home bundle", [](auto&, auto&) {}, "location", Level::pass, "~/Applications/Orvane 连接器.app"},
    {"approval", [](auto& c, auto&) { A::background(c, Background::RequiresApproval{}); }, "background",
     Level::warn, approval},
    {"wrong place", [](auto& c, auto&) { A::background(c, Background::WrongLocation{}); }, "background",
     Level::fail, "装到「应用程序」以后才会开启"},
    {"failed", [](auto& c, auto&) { A::background(c, Background::Failed{"systemctl 没回应"}); }, "background",
     Level::fail, "systemctl 没回应"},
    {"item on", [](auto& c, auto&) { A::statusItemAtLogin(c, BackgroundService::Status::enabled); },
     "statusItem", Level::pass, "登录后显示状态栏图标"},
    {"item approval",
     [](auto& c, auto&) { A::statusItemAtLogin(c, BackgroundService::Status::requiresApproval); },
     "statusItem", Level::warn, "要在「系统设置 › 通用 › 登录项与扩展」里允许，登录后才会显示状态栏图标"},
    {"item missing", [](auto& c, auto&) { A::statusItemAtLogin(c, BackgroundService::Status::notFound); },
     "statusItem", Level::warn, "登录后不会自动显示状态栏图标（设置页里可以打开）"},
    {"no bridge, item on", [](auto& c, auto&) { A::background(c, Background::Enabled{}); }, "bridge",
     Level::fail, "没在运行：刚开机要等几秒；一直这样就点「启动桥接」，还不行再查看日志"},
    {"by hand", withBridge([](auto&) {}, false), "bridge", Level::warn,
     "在运行 · 是在终端里手动启动的：关掉终端就会离线"},
    {"59 s", withBridge([](auto& b) { b.startedAt = QDateTime::currentDateTimeUtc().addSecs(-59); }),
     "bridge", Level::pass, "在运行 · 已运行 0 分钟"},
    {"everything", withBridge([](auto& b) {
         b.port = 4820, b.version = "0.9.1", b.openRuns = 2;
         b.startedAt = QDateTime::currentDateTimeUtc().addDays(-3);
     }),
     "bridge", Level::pass, "在运行 · 127.0.0.1:4820 · 桥接 0.9.1 · 已运行 3 天 · 2 个运行在跑"},
    {"engine with path",
     [](auto& c, auto&) {
         A::bridge(c, bridge());
         A::engines(c, {engine("codex", "Codex", false, "没登录", home() + "/.local/bin/codex"),
                        engine("claude_code", "Claude Code", false, "没找到", std::nullopt)});
     },
     "engine-codex", Level::warn, "没登录 · ~/.local/bin/codex"},
    {"none usable",
     [](auto& c, auto&) {
         A::bridge(c, bridge());
         A::engines(c, {engine("codex", "Codex", false, "", {}),
                        engine("claude_code", "Claude Code", false, "", {})});
     },
     "engines", Level::fail, "Codex、Claude Code 都不能用：「我的 Agent」发不出去"},
    {"unchecked tool, empty message",
     [](auto& c, auto&) {
         A::bridge(c, bridge());
         A::cliTools(c, {tool("codex", {}, {}, {}, false, false, "")});
     },
     "cli-codex", Level::warn, ""},
    {"tool with update",
     [](auto& c, auto&) {
         A::bridge(c, bridge());
         A::cliTools(c, {tool("codex", "0.30.0", "0.31.0", 9, true, true, "有新版本")});
     },
     "cli-codex", Level::warn, "当前 0.30.0 · 最新 0.31.0 · 9 个模型 · 有新版本"},
    {"repo", withBridge([](auto& b) { b.repoRoot = home() + "/work/company", b.repoRoles = 4; }), "repo",
     Level::pass, "~/work/company · 4 个岗位"},
    {"repo problem", withBridge([](auto& b) { b.repoProblem = "不是 git 仓库"; }), "repo", Level::warn,
     "不是 git 仓库（（没有路径））"},
    {"leases, no holder", withBridge([](auto& b) { b.leasesOn = true; }), "leases", Level::pass,
     "每一轮开始前拿岗位的租约（这台电脑）"},
    {"leases off", withBridge([](auto&) {}), "leases", Level::warn,
     "租约关着：同一个岗位可能在两台电脑上同时跑"},
    {"no app", [](auto&, auto&) {}, "senvik", Level::warn, "这台 Mac 上没找到 Orvane"},
    {"global only", [](auto&, auto& w) { w.installed = {"com.tamrik.vestrano.global"}; }, "senvik",
     Level::pass, "装了海外版 · 连着 0 个账号"},
    {"both",
     [](auto& c, auto& w) {
         w.installed = {"com.tamrik.vestrano.global", "com.tamrik.vestrano"};
         A::pairings(c, {Pairing{"p", "l", "t", "c", {}}});
     },
     "senvik", Level::pass, "装了国内版、海外版 · 连着 1 个账号"},
    {"idle, checked", [](auto& c, auto&) { A::update(c, UpdateState::Idle{checkedAt}); }, "update",
     Level::pass, "已是最新 1.4.0（27），上次检查 09:05"},
    {"ready, auto",
     [](auto& c, auto&) {
         A::update(c, UpdateState::Ready{entry(), "/x"});
     },
     "update", Level::warn, "新版本 1.5（31） 已下好，没有在跑的运行时会自己换上"},
    {"ready, by hand",
     [](auto& c, auto&) {
         ConnectorSettings::setAutoInstallUpdates(false);
         A::update(c, UpdateState::Ready{entry(), "/x"});
     },
     "update", Level::warn, "新版本 1.5（31） 已下好，在概览页点「更新」"},
    {"failed update",
     [](auto& c, auto&) { A::update(c, UpdateState::Failed{"检查更新没成功：安装包打不开"}); }, "update",
     Level::warn, "检查更新没成功：安装包打不开"},
    {"no feed", [](auto& c, auto&) { A::update(c, UpdateState::NotConfigured{}); }, "update", Level::warn,
     "没配更新地址（出包时没写 SenvikUpdateFeedURL），不会自动更新"},
    {"missing log", [](auto&, auto&) {}, "log", Level::warn, "还没有日志：桥接还没以托管方式起来过"},
    {"log", [](auto&, auto&) { TestSupport::writeFile(ConnectorPaths::bridgeLog(), QByteArray(12345, 'x')); },
     "log", Level::pass, "~/Library/Logs/SenvikConnector/bridge.log · 12 KB"},
};

class DiagnosticLines : public DiagnosticsFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(DiagnosticLines, Table) {
    GetParam().setup(c(), *apps);
    const QList<DiagnosticCheck> list = c().diagnostics();
    ConnectorSettings::setAutoInstallUpdates(true);
    QFile::remove(ConnectorPaths::bridgeLog());
    const auto line = std::find_if(list.begin(), list.end(), [](auto& l) { return l.id == GetParam().id; });
    ASSERT_NE(line, list.end());
    EXPECT_EQ(line->level, GetParam().level);
    EXPECT_EQ(line->detail, GetParam().detail);
}
INSTANTIATE_TEST_SUITE_P(Cases, DiagnosticLines, ::testing::ValuesIn(cases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

QStringList ids(const QList<DiagnosticCheck>& list) {
    QStringList result;
    for (const auto& check : list)
        result << check.id + QLatin1Char('/') + check.title;
    return result;
}

TEST_F(DiagnosticsFixture, LinesAndTitlesInOrder) {
    A::cliTools(c(), {tool("codex", {}, {}, {}, false, false, "")}); // left from an earlier reading
    EXPECT_EQ(ids(c().diagnostics()),
              (QStringList{"location/安装位置", "background/后台运行", "statusItem/状态栏图标", "bridge/桥接",
                           "senvik/Orvane", "update/连接器更新", "log/日志"}));
    A::bridge(c(), bridge());
    A::engines(c(), {engine("codex", "Codex", true, "", {}), engine("evox", "EvoX", false, "", {})});
    EXPECT_EQ(ids(c().diagnostics()).mid(4, 5),
              (QStringList{"engine-codex/Codex", "engine-evox/EvoX", "cli-codex/Codex 更新与模型",
                           "repo/公司仓库", "leases/保险库和租约"}));
    makeController(QStringLiteral("/Volumes/Orvane/Orvane 连接器.app"));
    EXPECT_EQ(c().diagnostics().first().detail,
              QStringLiteral("在 DMG 或临时位置里运行：先把「Orvane 连接器」拖进「应用程序」"));
    EXPECT_EQ(c().diagnostics().first().level, Level::fail);
    for (const char* bundle :
         {"/x/AppTranslocation/y/Orvane 连接器.app", "/media/mia/USB/Orvane 连接器.app",
          "/run/media/mia/USB/Orvane 连接器.app", "/tmp/.mount_Orv1/Orvane 连接器.app"}) {
        makeController(QString::fromUtf8(bundle));
        EXPECT_EQ(c().diagnostics().first().level, Level::fail) << bundle;
    }
}

TEST(DiagnosticUnits, DurationsAndSizes) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QList<std::pair<qint64, const char*>> spans{
        {-300, "0 分钟"},  {59, "0 分钟"},      {3599, "59 分钟"}, {3600, "1 小时"},
        {10740, "2 小时"}, {172740, "47 小时"}, {172800, "2 天"},  {262800, "3 天"}};
    for (const auto& [seconds, text] : spans)
        EXPECT_EQ(Diagnostics::duration(now.addSecs(-seconds), now), QString::fromUtf8(text)) << seconds;
    const QList<std::pair<qint64, const char*>> sizes{
        {0, "0 字节"},       {999, "999 字节"},      {1000, "1 KB"},      {12345, "12 KB"},
        {999499, "999 KB"},  {999500, "1 MB"},       {1500000, "1.5 MB"}, {12340000, "12.3 MB"},
        {999960000, "1 GB"}, {2250000000, "2.25 GB"}};
    for (const auto& [bytes, text] : sizes)
        EXPECT_EQ(Diagnostics::fileSize(bytes), QString::fromUtf8(text)) << bytes;
}

} // namespace
