#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"

#include "ConnectorController.h"
#include "ConnectorSettings.h"

#include <gtest/gtest.h>

using nlohmann::json;

namespace {

const QString approval = QStringLiteral("要在系统设置里允许「Orvane 连接器」在后台运行");
const QString notRunning = QStringLiteral("桥接没在运行：刚开机或刚装好要等几秒；一直这样就点「启动桥接」");
const QString wrongLocation = QStringLiteral("先把「Orvane 连接器」拖进「应用程序」，再从那里打开");

Engine engineNamed(const char* id, bool usable) {
    Engine e;
    e.id = QString::fromUtf8(id);
    e.title = ConnectorController::engineTitle(e.id);
    e.usable = usable;
    return e;
}

CliTool toolWithUpdate(const char* id, std::optional<QString> latest) {
    CliTool t;
    t.id = QString::fromUtf8(id);
    t.updateAvailable = true;
    t.latestVersion = std::move(latest);
    return t;
}

UpdateInfo entry() {
    UpdateInfo info;
    info.version = QStringLiteral("1.5");
    info.build = 58;
    return info;
}

struct State {
    bool uninstalling = false;
    Background background = Background::Enabled{};
    bool bridge = true;
    qint64 openRuns = 0;
    QList<Engine> engines = {};
    QList<CliTool> tools = {};
    UpdateState update = UpdateState::Idle{};
    bool waits = false;
    bool cliBusy = false;
    std::optional<StrellStatus> strell = std::nullopt;
};

class HealthRules : public ::testing::Test {
protected:
    FakeBackgroundService service, statusItem;
    json info = json::object();
    ConnectorController controller{Platform{service, statusItem, info}};

    Health healthOf(const State& s) {
        ControllerTestAccess::uninstalling(controller, s.uninstalling);
        ControllerTestAccess::background(controller, s.background);
        std::optional<BridgeStatus> bridge;
        if (s.bridge) {
            bridge.emplace();
            bridge->openRuns = s.openRuns;
        }
        ControllerTestAccess::bridge(controller, bridge);
        ControllerTestAccess::engines(controller, s.engines);
        ControllerTestAccess::cliTools(controller, s.tools);
        ControllerTestAccess::update(controller, s.update);
        ControllerTestAccess::waitsToInstall(controller, s.waits);
        ControllerTestAccess::cliBusy(controller, s.cliBusy);
        ControllerTestAccess::strell(controller, s.strell);
        return controller.health();
    }
};

TEST_F(HealthRules, FirstMatchingRuleDecides) {
    ConnectorSettings::setAutoInstallUpdates(true);
    StrellStatus strellProblem;
    strellProblem.draft.enabled = true;
    strellProblem.problem = QStringLiteral("网关不通");
    StrellStatus strellOff = strellProblem;
    strellOff.draft.enabled = false;
    const UpdateState ready = UpdateState::Ready{entry(), QStringLiteral("/tmp/x.app")};

    struct Row {
        const char* name;
        State state;
        Health expected;
    };
    const std::vector<Row> rows = {
        {"uninstalling beats everything",
         {.uninstalling = true, .background = Background::WrongLocation{}},
         Health::Stopped{QStringLiteral("正在卸载")}},
        {"wrong location, bridge running not mentioned",
         {.background = Background::WrongLocation{}},
         Health::Stopped{wrongLocation}},
        {"failed background, no bridge",
         {.background = Background::Failed{QStringLiteral("E")}, .bridge = false},
         Health::Stopped{QStringLiteral("后台运行没开成：E")}},
        {"failed background, bridge running",
         {.background = Background::Failed{QStringLiteral("E")}},
         Health::Normal{}},
        {"approval, no bridge",
         {.background = Background::RequiresApproval{}, .bridge = false},
         Health::Stopped{approval}},
        {"checking, no bridge",
         {.background = Background::Checking{}, .bridge = false},
         Health::Stopped{notRunning}},
        {"enabled, no bridge", {.bridge = false}, Health::Stopped{notRunning}},
        {"approval with bridge comes first",
         {.background = Background::RequiresApproval{}, .engines = {engineNamed("codex", false)}},
         Health::Attention{{approval, QStringLiteral("执行工具（Codex）都不能用")}}},
        {"no usable engine and a tool update",
         {.engines = {engineNamed("claude_code", false), engineNamed("codex", false)},
          .tools = {toolWithUpdate("codex", QStringLiteral("2.1.0"))}},
         Health::Attention{{QStringLiteral("执行工具（Claude Code、Codex）都不能用"),
                            QStringLiteral("执行工具 Codex 有新版本 2.1.0")}}},
        {"one usable engine is enough",
         {.engines = {engineNamed("claude_code", false), engineNamed("codex", true)}},
         Health::Normal{}},
        {"update without version ends in a space",
         {.tools = {toolWithUpdate("evox", std::nullopt)}},
         Health::Attention{{QStringLiteral("执行工具 EvoX 有新版本 ")}}},
        {"ready update",
         {.update = ready},
         Health::Attention{{QStringLiteral("连接器新版本 1.5（58） 已下好，岗位都跑完后自动换上")}}},
        {"ready update the user waits for",
         {.openRuns = 2, .update = ready, .waits = true},
         Health::Attention{{QStringLiteral("连接器新版 58：等 2 个岗位这一轮办完就换上")}}},
        {"waiting names busy tools",
         {.update = ready, .waits = true, .cliBusy = true},
         Health::Attention{{QStringLiteral("连接器新版 58：等执行工具忙完就换上")}}},
        {"downloading needs nothing", {.update = UpdateState::Downloading{entry(), 1, 2}}, Health::Normal{}},
        {"strell problem while enabled, before tool updates",
         {.tools = {toolWithUpdate("codex", QStringLiteral("1"))}, .strell = strellProblem},
         Health::Attention{{QStringLiteral("Strell 验证岗位不可用，其他岗位保持直连"),
                            QStringLiteral("执行工具 Codex 有新版本 1")}}},
        {"strell problem while disabled", {.strell = strellOff}, Health::Normal{}},
        {"nothing to report", {}, Health::Normal{}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(healthOf(row.state), row.expected) << row.name;
}

TEST_F(HealthRules, ReadyUpdateEndingFollowsTheSetting) {
    ConnectorSettings::setAutoInstallUpdates(false);
    const Health health = healthOf({.update = UpdateState::Ready{entry(), QStringLiteral("/tmp/x.app")}});
    ConnectorSettings::setAutoInstallUpdates(true);
    EXPECT_EQ(health, Health(Health::Attention{{QStringLiteral("连接器新版本 1.5（58） 已下好，可以更新")}}));
}

TEST(HealthTitle, NamesTheVerdict) {
    const std::vector<std::pair<Health, QString>> rows = {
        {Health::Normal{}, QStringLiteral("一切正常")},
        {Health::Stopped{QStringLiteral("正在卸载")}, QStringLiteral("桥接没在运行")},
        {Health::Attention{{QStringLiteral("a")}}, QStringLiteral("有 1 项要你看一下")},
        {Health::Attention{{QStringLiteral("a"), QStringLiteral("b")}}, QStringLiteral("有 2 项要你看一下")},
        {Health::Attention{QStringList(12, QStringLiteral("x"))}, QStringLiteral("有 12 项要你看一下")},
    };
    for (const auto& [health, title] : rows)
        EXPECT_EQ(health.title(), title);
}

TEST(Version, FromTheInfoDictionary) {
    const std::vector<std::pair<json, QString>> rows = {
        {json{{"CFBundleShortVersionString", "1.4.0"}, {"CFBundleVersion", "27"}},
         QStringLiteral("1.4.0（27）")},
        {json{{"CFBundleShortVersionString", "1.4.0"}}, QStringLiteral("1.4.0（?）")},
        {json::object(), QStringLiteral("?（?）")},
        {json{{"CFBundleShortVersionString", 1.4}, {"CFBundleVersion", 27}}, QStringLiteral("?（?）")},
    };
    for (const auto& [info, text] : rows) {
        FakeBackgroundService service, statusItem;
        ConnectorController controller{Platform{service, statusItem, info}};
        EXPECT_EQ(controller.version(), text) << info.dump();
    }
}

} // namespace
