#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"
#include "ScriptedBridge.h"
#include "ValidationChild.h"

#include "ConnectorController.h"
#include "ConnectorPaths.h"
#include "RunTask.h"

#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using nlohmann::json;
using Status = BackgroundService::Status;

namespace {

// Records the calls refresh() makes into the operations of other concerns, in order.
class ObservedController : public ConnectorController {
public:
    using ConnectorController::ConnectorController;
    QStringList calls;

    QCoro::Task<void> ensureBackgroundItem() override {
        calls << QStringLiteral("ensureBackgroundItem");
        co_return;
    }
    void installUpdateIfIdle() override { calls << QStringLiteral("installUpdateIfIdle"); }
    void renameLegacyBundleIfIdle() override { calls << QStringLiteral("renameLegacyBundleIfIdle"); }
    QCoro::Task<void> cliAction(QString command, std::optional<QString> engine, bool userInitiated) override {
        calls << command + QLatin1Char(' ') + engine.value_or(QStringLiteral("-")) +
                     (userInitiated ? QStringLiteral(" user") : QStringLiteral(" auto"));
        co_return;
    }
    int count(const QString& call) const { return static_cast<int>(calls.count(call)); }
};

const QString launchCheck = QStringLiteral("cli-check - auto");

class Refresh : public ::testing::Test {
protected:
    FakeBackgroundService service;
    FakeBackgroundService statusItem;
    json info = json::object();
    ObservedController controller{Platform{service, statusItem, info}};
    std::unique_ptr<ScriptedBridge> bridge = std::make_unique<ScriptedBridge>(ConnectorPaths::adminSocket());

    void refresh() { TestSupport::runTask(controller.refresh(), std::chrono::seconds(10)); }
    void status(const json& value) { bridge->result("status", value); }
};

Engine engine(const char* id, const char* title, const char* summary, const char* detail, bool usable,
              std::optional<QString> path) {
    return Engine{QString::fromUtf8(id),
                  QString::fromUtf8(title),
                  QString::fromUtf8(summary),
                  QString::fromUtf8(detail),
                  usable,
                  std::move(path)};
}

TEST_F(Refresh, EnginesAreListedAsTheBridgeFindsThem) {
    const QString claudePath = QStringLiteral("/usr/local/bin/claude");
    struct Row {
        const char* name;
        json engines;
        QList<Engine> expected;
    };
    const std::vector<Row> rows = {
        {"missing evox is hidden, missing codex shown",
         json::parse(R"([{"engine":"evox","installed":false},{"engine":"codex","installed":false}])"),
         {engine("codex", "Codex", "没找到",
                 "这台 Mac 上没找到 Codex（登录 shell 的 PATH 和常见目录里都没有）", false, std::nullopt)}},
        {"version and login",
         json::parse(R"([{"engine":"claude_code","version":"1.0.3","login":"logged_in",
                          "binaryPath":"/usr/local/bin/claude"}])"),
         {engine("claude_code", "Claude Code", "1.0.3 · 已登录", "1.0.3 · 已登录", true, claudePath)}},
        {"logged out is not usable",
         json::parse(R"([{"engine":"claude_code","version":"1.0.3","login":"logged_out",
                          "binaryPath":"/usr/local/bin/claude"}])"),
         {engine("claude_code", "Claude Code", "1.0.3 · 没登录", "1.0.3 · 没登录", false, claudePath)}},
        {"neither version nor login",
         json::parse(R"([{"engine":"codex","login":"weird"}])"),
         {engine("codex", "Codex", "已找到", "已找到", true, std::nullopt)}},
        {"error while logged out",
         json::parse(
             R"([{"engine":"codex","login":"logged_out","error":{"message":"令牌过期"},"binaryPath":"/x"}])"),
         {engine("codex", "Codex", "没登录", "令牌过期", false, QStringLiteral("/x"))}},
        {"error otherwise",
         json::parse(R"([{"engine":"codex","error":{"message":"崩了"}}])"),
         {engine("codex", "Codex", "不能用", "崩了", false, std::nullopt)}},
        {"error without a text message is no error",
         json::parse(R"([{"engine":"codex","version":"2","error":{"message":5}}])"),
         {engine("codex", "Codex", "2", "2", true, std::nullopt)}},
        {"installed evox stays, unknown ids keep their name, missing id is ?",
         json::parse(R"([{"engine":"evox","installed":true},{"engine":"qwen"},{"installed":true}, 7, "x"])"),
         {engine("evox", "EvoX", "已找到", "已找到", true, std::nullopt),
          engine("qwen", "qwen", "已找到", "已找到", true, std::nullopt),
          engine("?", "?", "已找到", "已找到", true, std::nullopt)}},
        {"installed given as text counts as installed",
         json::parse(R"([{"engine":"evox","installed":"no"}])"),
         {engine("evox", "EvoX", "已找到", "已找到", true, std::nullopt)}},
        {"engines not an array", json::parse(R"({"engine":"codex"})"), {}},
    };
    for (const Row& row : rows) {
        status(json{{"engines", row.engines}});
        refresh();
        EXPECT_EQ(controller.engines(), row.expected) << row.name;
    }
}

TEST_F(Refresh, StatusMembersBecomeTheBridgeStatus) {
    status(json::parse(R"({"port":48123,"bridgeVersion":"0.9.1","startedAt":"2025-03-01T08:15:30.250Z",
        "managed":true,"open":2.0,"companyRepo":{"root":"/r","roles":4,"problem":"脏了"},
        "leases":{"state":"on","reason":"r","holder":"h"}})"));
    refresh();
    ASSERT_TRUE(controller.bridge());
    const BridgeStatus& b = *controller.bridge();
    EXPECT_EQ(b.port, 48123);
    EXPECT_EQ(b.version, QStringLiteral("0.9.1"));
    EXPECT_EQ(b.startedAt, QDateTime(QDate(2025, 3, 1), QTime(8, 15, 30, 250), Qt::UTC));
    EXPECT_TRUE(b.managed);
    EXPECT_EQ(b.openRuns, 2);
    EXPECT_EQ(b.repoRoot, QStringLiteral("/r"));
    EXPECT_EQ(b.repoRoles, 4);
    EXPECT_EQ(b.repoProblem, QStringLiteral("脏了"));
    EXPECT_TRUE(b.leasesOn);
    EXPECT_EQ(b.leasesHolder, QStringLiteral("h"));
    EXPECT_TRUE(controller.running());
}

// However many engines and however long the texts a reply holds, the menu and the overview get a bounded few.
TEST(ReplyCapsTest, EnginesAndTextsAreBounded) {
    auto engines = [](int count, int evoxMissingEvery = 0) {
        json list = json::array();
        for (int i = 0; i < count; ++i)
            list.push_back(evoxMissingEvery && i % evoxMissingEvery == 0
                               ? json{{"engine", "evox"}, {"installed", false}}
                               : json{{"engine", "e" + std::to_string(i)}, {"installed", true}});
        return list;
    };
    const std::string longText(16 * 1024 * 1024, 'v');
    const QString emoji = QString(200, QChar(0xD83D)).replace(QChar(0xD83D), QStringLiteral("\U0001F600"));
    const struct {
        const char* name;
        json status;
        qsizetype listed;
        qsizetype notListed;
        qsizetype versionChars; // -1: none
        bool cut;
    } cases[] = {
        // clang-format off
        {"three engines", {{"engines", engines(3)}, {"bridgeVersion", "0.9.1"}}, 3, 0, 5, false},
        {"exactly the cap", {{"engines", engines(12)}}, 12, 0, -1, false},
        {"one over", {{"engines", engines(13)}}, 12, 1, -1, false},
        {"150,000, missing EvoX entries not counted", {{"engines", engines(150'000, 3)}}, 12, 99'988, -1, false},
        {"16 MiB version", {{"bridgeVersion", longText}}, 0, 0, 160, true},
        {"160 characters kept whole", {{"bridgeVersion", std::string(160, 'v')}}, 0, 0, 160, false},
        {"cut between characters, never inside one", {{"bridgeVersion", emoji.toStdString()}}, 0, 0, 159, true},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parsed = ControllerTestAccess::parseStatus(c.status);
        EXPECT_EQ(parsed.engines.size(), c.listed);
        EXPECT_EQ(parsed.enginesNotListed, c.notListed);
        const QString version = parsed.bridge.version.value_or(QString());
        EXPECT_EQ(parsed.bridge.version ? version.size() : -1, c.versionChars);
        EXPECT_EQ(version.endsWith(QChar(0x2026)), c.cut);
    }
}

TEST_F(Refresh, MembersOfTheWrongTypeCountAsAbsent) {
    status(
        json::parse(R"({"port":"48123","bridgeVersion":9,"startedAt":"yesterday","managed":"yes","open":1.5,
        "companyRepo":["/r"],"leases":{"state":true,"reason":1},"engines":{},"cliTools":[],"strell":{"revision":"3"},
        "sessionHooks":{"claude":{}}})"));
    bridge->result("pairings", json::parse(R"([{"id":"p1"}, 3])"));
    refresh();
    ASSERT_TRUE(controller.bridge());
    EXPECT_EQ(*controller.bridge(), BridgeStatus{});
    EXPECT_TRUE(controller.engines().isEmpty());
    EXPECT_FALSE(controller.cliAvailable());
    EXPECT_FALSE(controller.strell());
    EXPECT_FALSE(controller.sessionHooks());
    EXPECT_TRUE(controller.pairings().isEmpty()) << "one element that is not an object empties the list";
    EXPECT_TRUE(controller.lastRefresh());
}

TEST_F(Refresh, ExecutorToolFieldsFollowTheBridge) {
    struct Row {
        const char* name;
        json status;
        bool inFlight;
        std::optional<CliActivity> before;
        bool available;
        bool busy;
        std::optional<CliActivity> activity;
        std::optional<QString> message;
        QStringList toolIds;
    };
    const CliActivity updatingUnknown =
        CliActivity::Updating{QString(), QStringLiteral("执行工具"), std::nullopt};
    const CliActivity ours =
        CliActivity::Updating{QStringLiteral("codex"), QStringLiteral("Codex"), std::nullopt};
    const std::vector<Row> rows = {
        {"no cliTools", json::object(), false, std::nullopt, false, false, std::nullopt, std::nullopt, {}},
        {"idle with message and tools",
         json::parse(
             R"({"cliTools":{"busy":false,"message":"好了","tools":[{"engine":"codex"},{"engine":"evox"}]}})"),
         false,
         ours,
         true,
         false,
         std::nullopt,
         QStringLiteral("好了"),
         {QStringLiteral("codex")}},
        {"evox kept when the engines list it",
         json::parse(
             R"({"engines":[{"engine":"evox"}],"cliTools":{"tools":[{"engine":"evox"},{"engine":3}]}})"),
         false,
         std::nullopt,
         true,
         false,
         std::nullopt,
         std::nullopt,
         {QStringLiteral("evox")}},
        {"one non-object tool empties the list",
         json::parse(R"({"cliTools":{"tools":[{"engine":"codex"},"claude_code"]}})"),
         false,
         std::nullopt,
         true,
         false,
         std::nullopt,
         std::nullopt,
         {}},
        {"busy update, no activity known",
         json::parse(R"({"cliTools":{"busy":true,"operation":"update"}})"),
         false,
         std::nullopt,
         true,
         true,
         updatingUnknown,
         std::nullopt,
         {}},
        {"busy refresh",
         json::parse(R"({"cliTools":{"busy":true,"operation":"refresh"}})"),
         false,
         std::nullopt,
         true,
         true,
         CliActivity::Refreshing{},
         std::nullopt,
         {}},
        {"busy without operation",
         json::parse(R"({"cliTools":{"busy":true}})"),
         false,
         std::nullopt,
         true,
         true,
         CliActivity::Checking{},
         std::nullopt,
         {}},
        {"busy keeps our own activity",
         json::parse(R"({"cliTools":{"busy":true,"operation":"refresh"}})"),
         false,
         ours,
         true,
         true,
         ours,
         std::nullopt,
         {}},
        {"request in flight makes busy",
         json::parse(R"({"cliTools":{"busy":false}})"),
         true,
         ours,
         true,
         true,
         ours,
         std::nullopt,
         {}},
        {"busy given as text is not busy",
         json::parse(R"({"cliTools":{"busy":"true","message":4}})"),
         false,
         ours,
         true,
         false,
         std::nullopt,
         std::nullopt,
         {}},
    };
    for (const Row& row : rows) {
        controller.cliRequestInFlight = row.inFlight;
        ControllerTestAccess::cliActivity(controller, row.before);
        status(row.status);
        refresh();
        EXPECT_EQ(controller.cliAvailable(), row.available) << row.name;
        EXPECT_EQ(controller.cliBusy(), row.busy) << row.name;
        EXPECT_EQ(controller.cliActivity(), row.activity) << row.name;
        EXPECT_EQ(controller.cliMessage(), row.message) << row.name;
        QStringList ids;
        for (const CliTool& tool : controller.cliTools())
            ids << tool.id;
        EXPECT_EQ(ids, row.toolIds) << row.name;
    }
}

TEST_F(Refresh, ToolEntriesAreReadMemberByMember) {
    status(json::parse(
        R"({"cliTools":{"tools":[{"engine":"codex","currentVersion":"0.29.0","latestVersion":"0.30.0",
        "canUpdate":true,"updateAvailable":true,"models":12,"checkedAt":"whenever","message":"可更新"},
        {"engine":"claude_code","canUpdate":"yes","models":"12","checkedAt":5}]}})"));
    refresh();
    ASSERT_EQ(controller.cliTools().size(), 2);
    EXPECT_EQ(controller.cliTools()[0],
              (CliTool{QStringLiteral("codex"), QStringLiteral("0.29.0"), QStringLiteral("0.30.0"), true,
                       true, 12, true, QStringLiteral("可更新")}));
    CliTool bare;
    bare.id = QStringLiteral("claude_code");
    EXPECT_EQ(controller.cliTools()[1], bare);
    EXPECT_EQ(controller.cliTools()[1].title(), QStringLiteral("Claude Code"));
}

TEST_F(Refresh, PairingsWithTheirDefaults) {
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    status(json::object());
    bridge->result("pairings", json::parse(R"([
        {"id":"a","profileLabel":"小王","profileTail":"…3f","clientName":"Orvane Mac","lastSeenAt":"2025-03-01T08:15:30Z"},
        {"id":"b","lastSeenAt":"yesterday"},
        {"profileLabel":"no id"},
        {"id":"c","profileLabel":7,"lastSeenAt":"2025-03-01T16:15:30.5+0800"}])"));
    refresh();
    QLocale::setDefault(QLocale::system());
    const QList<Pairing> expected = {
        {QStringLiteral("a"), QStringLiteral("小王"), QStringLiteral("…3f"), QStringLiteral("Orvane Mac"),
         QStringLiteral("2025年3月1日 08:15")},
        {QStringLiteral("b"), QStringLiteral("（未命名账号）"), QString(), QStringLiteral("Orvane"),
         QStringLiteral("yesterday")},
        {QStringLiteral("c"), QStringLiteral("（未命名账号）"), QString(), QStringLiteral("Orvane"),
         QStringLiteral("2025年3月1日 08:15")},
    };
    EXPECT_EQ(controller.pairings(), expected);
}

TEST_F(Refresh, FailedPairingsLeaveAnEmptyListAndTheRestGoesOn) {
    const std::vector<std::pair<const char*, std::string>> replies = {
        {"refused", R"({"ok":false,"error":"不给"})"},
        {"not an array", R"({"ok":true,"result":{"id":"a"}})"},
        {"garbage", "<html>"},
    };
    for (const auto& [name, reply] : replies) {
        status(json::object());
        bridge->result("pairings", json::parse(R"([{"id":"a"}])"));
        refresh();
        ASSERT_EQ(controller.pairings().size(), 1);
        bridge->raw("pairings", reply);
        controller.calls.clear();
        refresh();
        EXPECT_TRUE(controller.pairings().isEmpty()) << name;
        EXPECT_TRUE(controller.running()) << name;
        EXPECT_EQ(controller.count(QStringLiteral("renameLegacyBundleIfIdle")), 1) << name;
    }
}

TEST_F(Refresh, UnreachableBridgeResetsAllButTheToolStateAndNotice) {
    const std::vector<std::pair<const char*, std::string>> replies = {
        {"stopped", ""},
        {"refused", R"({"ok":false,"error":"忙"})"},
        {"result not an object", R"({"ok":true,"result":[1]})"},
        {"not JSON", "garbage"},
    };
    for (const auto& [name, reply] : replies) {
        status(json::parse(R"({"engines":[{"engine":"codex"}],"strell":{"revision":1},
            "sessionHooks":{"claude":{},"codex":{}},
            "cliTools":{"busy":true,"operation":"refresh","message":"在刷","tools":[{"engine":"codex"}]}})"));
        bridge->result("pairings", json::parse(R"([{"id":"a"}])"));
        controller.cliRequestInFlight = false;
        refresh();
        ASSERT_TRUE(controller.running() && controller.strell() && controller.sessionHooks());
        ControllerTestAccess::notice(controller, QStringLiteral("上一条"));
        controller.cliRequestInFlight = true;
        controller.calls.clear();
        if (reply.empty())
            bridge.reset();
        else
            bridge->raw("status", reply);
        refresh();

        EXPECT_FALSE(controller.running()) << name;
        EXPECT_TRUE(controller.engines().isEmpty()) << name;
        EXPECT_TRUE(controller.pairings().isEmpty()) << name;
        EXPECT_FALSE(controller.cliAvailable()) << name;
        EXPECT_TRUE(controller.cliBusy()) << name << ": a command of ours is still in flight";
        EXPECT_EQ(controller.cliActivity(), CliActivity(CliActivity::Refreshing{})) << name;
        EXPECT_FALSE(controller.strell()) << name;
        EXPECT_FALSE(controller.sessionHooks()) << name;
        EXPECT_EQ(controller.cliTools().size(), 1) << name;
        EXPECT_EQ(controller.cliMessage(), QStringLiteral("在刷")) << name;
        EXPECT_EQ(controller.notice(), QStringLiteral("上一条")) << name;
        EXPECT_TRUE(controller.lastRefresh()) << name;
        EXPECT_EQ(controller.count(QStringLiteral("installUpdateIfIdle")), 0) << name;
        EXPECT_EQ(controller.count(QStringLiteral("renameLegacyBundleIfIdle")), 0) << name;

        controller.cliRequestInFlight = false;
        refresh();
        EXPECT_FALSE(controller.cliBusy()) << name;
        EXPECT_FALSE(controller.cliActivity()) << name;
        if (!bridge)
            bridge = std::make_unique<ScriptedBridge>(ConnectorPaths::adminSocket());
    }
}

TEST_F(Refresh, WhileUninstallingNothingChanges) {
    status(json::parse(R"({"cliTools":{}})"));
    ControllerTestAccess::uninstalling(controller, true);
    statusItem.current = Status::enabled;
    int announcements = 0;
    QObject::connect(&controller, &ConnectorController::changed, [&] { ++announcements; });
    refresh();
    EXPECT_EQ(announcements, 0);
    EXPECT_FALSE(controller.lastRefresh());
    EXPECT_EQ(controller.statusItemAtLogin(), Status::notRegistered);
    EXPECT_TRUE(bridge->commands().empty());
    EXPECT_TRUE(controller.calls.isEmpty());
}

TEST_F(Refresh, BackgroundItemIsAskedAgainOnlyWhileUnknownOrAwaitingApproval) {
    const std::vector<std::pair<Background, int>> rows = {
        {Background::Checking{}, 1},
        {Background::RequiresApproval{}, 1},
        {Background::Enabled{}, 0},
        {Background::WrongLocation{}, 0},
        {Background::Failed{QStringLiteral("x")}, 0},
    };
    for (const auto& [background, calls] : rows) {
        for (const bool reachable : {true, false}) {
            controller.calls.clear();
            ControllerTestAccess::background(controller, background);
            if (reachable)
                status(json::object());
            else
                bridge->refuse("status", "no");
            refresh();
            EXPECT_EQ(controller.count(QStringLiteral("ensureBackgroundItem")), calls);
        }
    }
}

TEST_F(Refresh, StatusItemStatusAndTheHooksAfterPairingsInOrder) {
    statusItem.current = Status::requiresApproval;
    status(json::object());
    bridge->result("pairings", json::array());
    refresh();
    EXPECT_EQ(controller.statusItemAtLogin(), Status::requiresApproval);
    EXPECT_EQ(controller.calls,
              (QStringList{QStringLiteral("ensureBackgroundItem"), QStringLiteral("installUpdateIfIdle"),
                           QStringLiteral("renameLegacyBundleIfIdle")}));
    EXPECT_EQ(bridge->commands(), (std::vector<std::string>{"status", "pairings"}));
}

TEST_F(Refresh, LaunchCheckStartsOnceWhenToolsAreIdle) {
    struct Step {
        json status;
        bool inFlight;
        int checksSoFar;
    };
    const std::vector<Step> steps = {
        {json::object(), false, 0},                                // no tool support
        {json::parse(R"({"cliTools":{"busy":true}})"), false, 0},  // the bridge is busy with tools
        {json::parse(R"({"cliTools":{"busy":false}})"), true, 0},  // a command of ours is in flight
        {json::parse(R"({"cliTools":{"busy":false}})"), false, 1}, // now
        {json::parse(R"({"cliTools":{"busy":false}})"), false, 1}, // never again
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        controller.cliRequestInFlight = steps[i].inFlight;
        status(steps[i].status);
        refresh();
        EXPECT_EQ(controller.count(launchCheck), steps[i].checksSoFar) << "step " << i;
        EXPECT_EQ(controller.checkedCliOnLaunch, steps[i].checksSoFar > 0) << "step " << i;
    }
}

TEST_F(Refresh, ReadsStrellAndSessionHooksFromTheStatus) {
    status(json::parse(R"({"strell":{"revision":3,"pilot":{"rolePath":"a/b"}},
        "sessionHooks":{"claude":{"installed":true},"codex":{"path":"Q"},"note":"n"}})"));
    refresh();
    ASSERT_TRUE(controller.strell());
    EXPECT_EQ(controller.strell()->revision, 3);
    EXPECT_TRUE(controller.strell()->draft.enabled);
    ASSERT_TRUE(controller.sessionHooks());
    EXPECT_TRUE(controller.sessionHooks()->on());
    EXPECT_EQ(controller.sessionHooks()->codex.path, QStringLiteral("Q"));
}

// In isolated validation mode the launch check never starts. The mode is fixed per process by its arguments,
// so this case runs the test program again as a child in that mode.
TEST(LaunchCheck, NeverInValidationMode) {
    if (qEnvironmentVariableIsSet("CONTROLLER_TEST_VALIDATION_CHILD")) {
        ASSERT_TRUE(ConnectorPaths::validationDir());
        FakeBackgroundService service, statusItem;
        json info = json::object();
        ObservedController controller{Platform{service, statusItem, info}};
        ScriptedBridge bridge(ConnectorPaths::adminSocket());
        bridge.result("status", json::parse(R"({"cliTools":{"busy":false}})"));
        TestSupport::runTask(controller.refresh(), std::chrono::seconds(10));
        EXPECT_TRUE(controller.cliAvailable());
        EXPECT_EQ(controller.count(launchCheck), 0);
        EXPECT_FALSE(controller.checkedCliOnLaunch);
        return;
    }
    QTemporaryDir dir(QStringLiteral("/tmp/senvik-connector-validation-XXXXXX"));
    ASSERT_TRUE(dir.isValid());
    QProcessEnvironment child;
    child.insert(QStringLiteral("CONTROLLER_TEST_VALIDATION_CHILD"), QStringLiteral("1"));
    expectValidationChildPasses(QStringLiteral("LaunchCheck.NeverInValidationMode"), dir.path(), child);
}

} // namespace
