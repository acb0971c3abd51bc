#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"

#include "ConnectorController.h"

#include <gtest/gtest.h>

using nlohmann::json;

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

TEST(BridgeDates, ExtendedFormWithAndWithoutFraction) {
    const std::vector<std::pair<const char*, std::optional<QDateTime>>> rows = {
        {"2025-03-01T08:15:30.250Z", utc(2025, 3, 1, 8, 15, 30, 250)},
        {"2025-03-01T08:15:30Z", utc(2025, 3, 1, 8, 15, 30)},
        {"2025-03-01T08:15:30.123456Z", utc(2025, 3, 1, 8, 15, 30, 123)},
        {"2025-03-01T16:15:30+0800", utc(2025, 3, 1, 8, 15, 30)},
        {"2025-03-01T03:15:30.5-0500", utc(2025, 3, 1, 8, 15, 30, 500)},
        {"2025-03-01T16:15:30+08:00", utc(2025, 3, 1, 8, 15, 30)},
        {"2025-03-01T16:15:30+08", utc(2025, 3, 1, 8, 15, 30)},
        {"2025-03-01T08:15:30", utc(2025, 3, 1, 8, 15, 30)},
        {"2025-03-01", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
        {"2025-03-01 08:15:30Z", std::nullopt},
        {"2025-03-01T08:15:30.Z", std::nullopt},
        {"2025-02-30T08:15:30Z", std::nullopt},
        {"2025-03-01T24:00:00Z", std::nullopt},
        {"2025-03-01T08:15:30Zjunk", std::nullopt},
        {"2025-03-01T08:15:30+2400", std::nullopt},
        {"20250301T081530Z", std::nullopt},
        {"２０２５-03-01T08:15:30Z", std::nullopt},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(ConnectorController::date(QString::fromUtf8(text)), expected) << text;
}

TEST(EngineTitles, KnownIdsOnlyExactly) {
    const std::vector<std::pair<const char*, const char*>> rows = {
        {"claude_code", "Claude Code"},
        {"codex", "Codex"},
        {"evox", "EvoX"},
        {"Codex", "Codex"},
        {"qwen", "qwen"},
        {"", ""},
    };
    for (const auto& [id, title] : rows)
        EXPECT_EQ(ConnectorController::engineTitle(QString::fromUtf8(id)), QString::fromUtf8(title)) << id;
}

TEST(CliActivities, FromTheBridgesWordAndFromOurCommands) {
    const CliActivity unknownUpdate =
        CliActivity::Updating{QString(), QStringLiteral("执行工具"), std::nullopt};
    EXPECT_EQ(CliActivity::operation(QStringLiteral("update")), unknownUpdate);
    EXPECT_EQ(CliActivity::operation(QStringLiteral("refresh")), CliActivity(CliActivity::Refreshing{}));
    EXPECT_EQ(CliActivity::operation(QStringLiteral("check")), CliActivity(CliActivity::Checking{}));
    EXPECT_EQ(CliActivity::operation(std::nullopt), CliActivity(CliActivity::Checking{}));
    EXPECT_EQ(unknownUpdate.title(), QStringLiteral("正在更新执行工具…"));
    EXPECT_EQ(CliActivity(CliActivity::Refreshing{}).title(), QStringLiteral("正在刷新模型清单…"));
    EXPECT_EQ(CliActivity(CliActivity::Checking{}).title(), QStringLiteral("正在检查执行工具更新…"));

    CliTool codex, claude;
    codex.id = QStringLiteral("codex");
    codex.latestVersion = QStringLiteral("0.30.0");
    claude.id = QStringLiteral("claude_code");
    const QList<CliTool> tools = {codex, claude};
    const std::vector<std::tuple<const char*, std::optional<QString>, std::optional<QString>>> rows = {
        {"cli-update", QStringLiteral("codex"), QStringLiteral("正在更新 Codex 到 0.30.0…")},
        {"cli-update", QStringLiteral("claude_code"), QStringLiteral("正在更新 Claude Code…")},
        {"cli-update", QStringLiteral("qwen"), QStringLiteral("正在更新 qwen…")},
        {"cli-update", std::nullopt, std::nullopt},
        {"cli-check", std::nullopt, QStringLiteral("正在检查执行工具更新…")},
        {"cli-refresh", std::nullopt, QStringLiteral("正在刷新模型清单…")},
        {"cli-remove", QStringLiteral("codex"), std::nullopt},
        {"revoke", std::nullopt, std::nullopt},
    };
    for (const auto& [command, engine, title] : rows) {
        const auto activity = CliActivity::command(QString::fromUtf8(command), engine, tools);
        EXPECT_EQ(activity ? std::optional(activity->title()) : std::nullopt, title) << command;
    }
}

TEST(StrellStatusParse, ReadsTheReportOrNothing) {
    const StrellDraft defaults;
    struct Row {
        const char* name;
        const char* json;
        bool present;
        std::function<void(const StrellStatus&)> check;
    };
    const std::vector<Row> rows = {
        {"revision as text", R"({"revision":"3"})", false, nullptr},
        {"not an object", R"([1])", false, nullptr},
        {"minimal", R"({"revision":3})", true,
         [&](const StrellStatus& s) {
             EXPECT_EQ(s.revision, 3);
             EXPECT_EQ(s.draft, defaults);
             EXPECT_FALSE(s.editable || s.busy || s.idle);
             EXPECT_TRUE(s.roles.isEmpty());
             EXPECT_FALSE(s.problem);
         }},
        {"pilot with only a role", R"({"revision":1,"pilot":{"rolePath":"ops/review"}})", true,
         [&](const StrellStatus& s) {
             EXPECT_TRUE(s.draft.enabled);
             EXPECT_EQ(s.draft.role, QStringLiteral("ops/review"));
             EXPECT_EQ(s.draft.origin, defaults.origin);
             EXPECT_EQ(s.draft.model, defaults.model);
         }},
        {"null pilot", R"({"revision":1,"pilot":null})", true,
         [&](const StrellStatus& s) { EXPECT_FALSE(s.draft.enabled); }},
        {"pilot with wrong types",
         R"({"revision":1,"pilot":{"rolePath":1,"origin":"http://o","model":false}})", true,
         [&](const StrellStatus& s) {
             EXPECT_TRUE(s.draft.enabled);
             EXPECT_EQ(s.draft.role, QString());
             EXPECT_EQ(s.draft.origin, QStringLiteral("http://o"));
             EXPECT_EQ(s.draft.model, defaults.model);
         }},
        {"roles in order, incomplete ones skipped",
         R"({"revision":1,"roles":[{"path":"a","title":"A"},{"path":"b"},{"path":"c","title":"C","x":"y"}]})",
         true,
         [&](const StrellStatus& s) {
             EXPECT_EQ(s.roles, (QList<StrellStatus::Role>{{QStringLiteral("a"), QStringLiteral("A")},
                                                           {QStringLiteral("c"), QStringLiteral("C")}}));
         }},
        {"one number value empties the roles",
         R"({"revision":1,"roles":[{"path":"a","title":"A"},{"path":"b","title":"B","order":2}]})", true,
         [&](const StrellStatus& s) { EXPECT_TRUE(s.roles.isEmpty()); }},
        {"flags and problem", R"({"revision":2,"editable":true,"busy":"yes","idle":true,"problem":"断了"})",
         true,
         [&](const StrellStatus& s) {
             EXPECT_TRUE(s.editable);
             EXPECT_FALSE(s.busy);
             EXPECT_TRUE(s.idle);
             EXPECT_EQ(s.problem, QStringLiteral("断了"));
         }},
    };
    for (const Row& row : rows) {
        const json value = json::parse(row.json);
        const auto parsed = StrellStatus::parse(&value);
        ASSERT_EQ(parsed.has_value(), row.present) << row.name;
        if (parsed && row.check)
            row.check(*parsed);
    }
    EXPECT_FALSE(StrellStatus::parse(nullptr));
}

TEST(StrellDraftPayload, DisabledSendsNull) {
    StrellDraft draft;
    draft.role = QStringLiteral("a/b");
    EXPECT_TRUE(draft.payload().is_null());
    draft.enabled = true;
    EXPECT_EQ(
        draft.payload(),
        json::parse(
            R"({"rolePath":"a/b","origin":"http://127.0.0.1:3425","model":"fixture/validation-model"})"));
}

TEST(SessionHooksParse, BothTargetsOrNothing) {
    using Target = SessionHooksStatus::Target;
    const std::vector<std::tuple<const char*, std::optional<SessionHooksStatus>>> rows = {
        {R"({"claude":{"installed":true,"current":true,"path":"P","events":[1,2,3]},"codex":{"installed":false,"path":"Q"}})",
         SessionHooksStatus{Target{true, true, QStringLiteral("P"), 3, std::nullopt},
                            Target{false, false, QStringLiteral("Q"), 0, std::nullopt}, std::nullopt}},
        {R"({"claude":{}})", std::nullopt},
        {R"({"claude":{},"codex":[]})", std::nullopt},
        {R"("on")", std::nullopt},
        {R"({"claude":{"events":3,"installed":"yes","problem":"没权限"},"codex":{"path":5},"note":"重启桥接"})",
         SessionHooksStatus{Target{false, false, QString(), 0, QStringLiteral("没权限")},
                            Target{false, false, QString(), 0, std::nullopt}, QStringLiteral("重启桥接")}},
    };
    for (const auto& [text, expected] : rows) {
        const json value = json::parse(text);
        EXPECT_EQ(SessionHooksStatus::parse(&value), expected) << text;
    }
    EXPECT_FALSE(SessionHooksStatus::parse(nullptr));
}

class ControllerState : public ::testing::Test {
protected:
    FakeBackgroundService service, statusItem;
    json info = json::object();
    ConnectorController controller{Platform{service, statusItem, info}};
};

TEST_F(ControllerState, StartsWithTheInitialValues) {
    EXPECT_EQ(controller.background(), Background(Background::Checking{}));
    EXPECT_EQ(controller.statusItemAtLogin(), BackgroundService::Status::notRegistered);
    EXPECT_FALSE(controller.bridge() || controller.cliMessage() || controller.cliActivity() ||
                 controller.cliResult() || controller.notice() || controller.lastRefresh() ||
                 controller.strell() || controller.strellMessage() || controller.sessionHooks() ||
                 controller.sessionHooksMessage());
    EXPECT_EQ(controller.update(), UpdateState(UpdateState::Idle{}));
    EXPECT_FALSE(controller.cliBusy() || controller.cliAvailable() || controller.uninstalling() ||
                 controller.waitsToInstall() || controller.strellBusy() || controller.strellError() ||
                 controller.sessionHooksBusy());
    EXPECT_FALSE(controller.updatedThisLaunch) << "the test program is not started with --after-update";
    EXPECT_EQ(service.registerCalls + statusItem.registerCalls, 0) << "construction contacts nothing";
}

// Observers also see the new value when they are told.
TEST_F(ControllerState, EveryAssignmentAnnouncesOnceEvenWhenEqual) {
    int announcements = 0;
    std::optional<QString> seen;
    QObject::connect(&controller, &ConnectorController::changed, [&] {
        ++announcements;
        seen = controller.notice();
    });
    const auto stores = ControllerTestAccess::restoreEach();
    ASSERT_FALSE(stores.empty());
    for (const auto& [field, store] : stores) {
        const int before = announcements;
        store(controller);
        EXPECT_EQ(announcements, before + 1) << field;
    }
    ControllerTestAccess::notice(controller, QStringLiteral("新的"));
    EXPECT_EQ(seen, QStringLiteral("新的"));
}

TEST_F(ControllerState, LeavingReadyWithdrawsTheInstallRequest) {
    UpdateInfo entry;
    entry.build = 58;
    const UpdateState ready = UpdateState::Ready{entry, QStringLiteral("/tmp/a.app")};
    const std::vector<std::pair<UpdateState, bool>> rows = {
        {ready, true},
        {UpdateState::Failed{QStringLiteral("x")}, false},
        {UpdateState::Installing{entry}, false},
        {UpdateState::Idle{}, false},
        {UpdateState::Checking{}, false},
    };
    for (const auto& [state, keeps] : rows) {
        ControllerTestAccess::update(controller, ready);
        ControllerTestAccess::waitsToInstall(controller, true);
        ControllerTestAccess::update(controller, state);
        EXPECT_EQ(controller.waitsToInstall(), keeps) << state.value.index();
    }
}

} // namespace
