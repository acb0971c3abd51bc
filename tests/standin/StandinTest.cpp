#include "BridgeAdmin.h"
#include "RunTask.h"
#include "TempHome.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

// A small, fully known state: one busy second, registry versions the checks below expect.
json baseScenario() {
    return json::parse(R"({
      "busySeconds": 1,
      "status": {
        "port": 48123, "bridgeVersion": "0.18.2", "open": 0,
        "companyRepo": {"root": "/srv/company", "roles": 2},
        "leases": {"state": "on", "holder": "mac-mini"},
        "engines": [{"engine": "codex", "installed": true, "version": "0.29.0", "login": "logged_in"},
                    {"engine": "evox", "installed": false}],
        "cliTools": {"busy": false, "tools": [
          {"engine": "codex", "currentVersion": "0.29.0", "latestVersion": "0.30.0", "canUpdate": true,
           "updateAvailable": true, "models": 6, "checkedAt": "2025-03-01T08:15:30.250Z", "message": ""},
          {"engine": "evox", "canUpdate": false, "updateAvailable": false, "message": ""}]},
        "strell": {"revision": 3, "editable": true, "busy": false, "idle": true, "pilot": null,
                   "roles": [{"path": "company/roles/backend", "title": "后端工程师"}]},
        "sessionHooks": {"claude": {"installed": false, "current": false, "path": "/h/.claude/settings.json", "events": []},
                         "codex": {"installed": false, "current": false, "path": "/h/.codex/hooks.json", "events": []}}
      },
      "pairings": [{"id": "pr_1", "profileLabel": "林晓", "clientName": "Orvane iPhone"}],
      "registry": {"codex": {"latestVersion": "0.31.0", "models": 9}, "evox": null},
      "gateway": {"reachable": true, "models": ["fixture/validation-model"]}
    })");
}

json pilot(const std::string& origin = "http://127.0.0.1:3425",
           const std::string& model = "fixture/validation-model",
           const std::string& role = "company/roles/backend") {
    return json{{"rolePath", role}, {"origin", origin}, {"model", model}};
}

json readJson(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? json::parse(file.readAll().toStdString(), nullptr, false)
                                          : json();
}

struct Reply {
    bool ok = false;
    json result;
    std::string error;
};

// One stand-in child process with its own HOME, data directory and scenario.
class Standin {
public:
    explicit Standin(const json& scenario = baseScenario(), QStringList extra = {"--managed"})
        : extra_(extra) {
        TestSupport::writeFile(scenarioPath(), QByteArray::fromStdString(scenario.dump()));
    }
    ~Standin() { stop(); }

    QString dataDir() const { return temp_.file("data"); }
    QString socket() const { return dataDir() + "/admin.sock"; }
    QString scenarioPath() const { return temp_.file("scenario.json"); }
    QString home() const { return temp_.file("home"); }
    json scenarioOnDisk() const { return readJson(scenarioPath()); }

    QProcess* launch() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home());
        environment.remove("ORVANE_STANDIN_SCENARIO");
        auto* process = new QProcess;
        process->setProcessEnvironment(environment);
        process->start(QStringLiteral(STANDIN_PATH),
                       QStringList{"/bundle/Contents/Resources/bridge/src/main.ts", "start", "--data-dir",
                                   dataDir(), "--scenario", scenarioPath()} +
                           extra_);
        process->waitForStarted(5000);
        processes_.push_back(process);
        return process;
    }
    void start() {
        launch();
        ASSERT_TRUE(waitForSocket(socket())) << "stand-in did not answer";
    }
    static bool waitForSocket(const QString& path) {
        return TestSupport::spinUntil([&] {
            try {
                BridgeAdmin::exchange(path.toStdString(), BridgeAdmin::encode("status", {}, {}), 1);
                return true;
            } catch (const BridgeAdmin::Failure& failure) {
                return failure.message != "桥接没在运行"; // a refusal is an answer too
            } catch (...) {
                return false;
            }
        });
    }
    void stop() {
        for (QProcess* process : processes_) {
            process->terminate();
            process->waitForFinished(5000);
            delete process;
        }
        processes_.clear();
    }

    // The connector's own exchange, called directly: the stand-in is a separate process, so a blocking call
    // here holds up nothing it needs.
    Reply ask(const QString& command, std::optional<QString> id = std::nullopt,
              json fields = json::object()) {
        Reply reply;
        try {
            reply.result =
                BridgeAdmin::exchange(socket().toStdString(), BridgeAdmin::encode(command, id, fields), 5);
            reply.ok = true;
        } catch (const BridgeAdmin::Failure& failure) {
            reply.error = failure.message.toStdString();
        }
        return reply;
    }
    json status() { return ask("status").result; }
    std::string raw(const std::string& line) {
        try {
            BridgeAdmin::exchange(socket().toStdString(), line, 3);
            return "ok";
        } catch (const BridgeAdmin::Failure& failure) {
            return failure.message.toStdString();
        }
    }

private:
    TestSupport::TempDir temp_;
    QStringList extra_;
    std::vector<QProcess*> processes_;
};

bool isIso(const json& value) {
    return value.is_string() &&
           QDateTime::fromString(QString::fromStdString(value.get<std::string>()), Qt::ISODateWithMs)
               .isValid();
}

} // namespace

TEST(Standin, EachCommandAnswersWithTheShapeTheConnectorReads) {
    Standin standin;
    standin.start();
    struct Case {
        const char* command;
        std::optional<QString> id;
        json fields;
        std::vector<std::pair<const char*, json::value_t>> members;
    };
    using T = json::value_t;
    const std::vector<Case> cases{
        {"status",
         {},
         {},
         {{"/port", T::number_integer},
          {"/bridgeVersion", T::string},
          {"/startedAt", T::string},
          {"/managed", T::boolean},
          {"/open", T::number_integer},
          {"/companyRepo/root", T::string},
          {"/leases/state", T::string},
          {"/engines", T::array},
          {"/cliTools/busy", T::boolean},
          {"/cliTools/tools/0/engine", T::string},
          {"/strell/revision", T::number_integer},
          {"/strell/editable", T::boolean},
          {"/strell/idle", T::boolean},
          {"/sessionHooks/claude/events", T::array}}},
        {"pairings", {}, {}, {{"/0/id", T::string}, {"/0/profileLabel", T::string}}},
        {"ticket", {}, {}, {{"/ticket", T::string}, {"/port", T::number_integer}}},
        {"strell-check", {}, {{"pilot", pilot()}, {"expectedRevision", 3}}, {{"/model", T::string}}},
        {"hooks-install", {}, {}, {{"/claude/installed", T::boolean}, {"/codex/events", T::array}}},
        {"hooks-uninstall", {}, {}, {{"/claude/installed", T::boolean}}},
        {"cli-refresh", {}, {}, {{"/accepted", T::boolean}}},
    };
    for (const Case& c : cases) {
        const Reply reply = standin.ask(c.command, c.id, c.fields);
        ASSERT_TRUE(reply.ok) << c.command << ": " << reply.error;
        for (const auto& [pointer, type] : c.members) {
            const json::json_pointer at(pointer);
            ASSERT_TRUE(reply.result.contains(at)) << c.command << " lacks " << pointer;
            json::value_t actual = reply.result.at(at).type();
            if (actual == json::value_t::number_unsigned) // the parser's word for a non-negative integer
                actual = json::value_t::number_integer;
            EXPECT_EQ(actual, type) << c.command << " " << pointer;
        }
    }
    const json status = standin.status();
    EXPECT_TRUE(isIso(status["startedAt"]));
    EXPECT_TRUE(status["managed"].get<bool>());
    const Reply first = standin.ask("ticket"), second = standin.ask("ticket");
    EXPECT_EQ(first.result["port"], 48123);
    EXPECT_NE(first.result["ticket"], second.result["ticket"]) << "tickets must be fresh";
}

TEST(Standin, RefusedRequestsAnswerWithTheirReasonAndChangeNothing) {
    Standin standin;
    standin.start();
    struct Case {
        std::string line; // sent as it is
        std::string error;
    };
    const auto request = [](json fields) { return fields.dump() + "\n"; };
    const std::vector<Case> cases{
        {"this is not json\n", "请求不是有效的 JSON"},
        {"[1,2]\n", "请求必须是一个 JSON 对象"},
        {request({{"id", "pr_1"}}), "请求里没有 command"},
        {request({{"command", "launch"}}), "桥接不认识这条命令：launch"},
        {request({{"command", "revoke"}, {"id", "pr_missing"}}), "没有这个配对：pr_missing"},
        {request({{"command", "revoke"}}), "要断开哪个配对？请求里没有 id"},
        {request({{"command", "cli-update"}, {"id", "gemini"}}), "没有这个执行工具：gemini"},
        {request({{"command", "cli-update"}, {"id", "evox"}}), "EvoX 不是用能自动更新的方式装的，请手动更新"},
        {request({{"command", "strell-configure"}, {"pilot", nullptr}, {"expectedRevision", 2}}),
         "网关设置已在别处改过（现在是第 3 版，这次基于第 2 版），请重新载入后再试"},
        {request({{"command", "strell-check"}, {"pilot", pilot()}, {"expectedRevision", 4}}),
         "网关设置已在别处改过（现在是第 3 版，这次基于第 4 版），请重新载入后再试"},
        {request({{"command", "strell-configure"}, {"pilot", nullptr}}), "请求里缺少 expectedRevision"},
        {request({{"command", "strell-check"},
                  {"pilot", pilot("http://10.0.0.8:3425")},
                  {"expectedRevision", 3}}),
         "只接受本机回环地址的网关：http://10.0.0.8:3425"},
        {request({{"command", "strell-check"},
                  {"pilot", pilot("http://127.0.0.1.evil.com")},
                  {"expectedRevision", 3}}),
         "只接受本机回环地址的网关：http://127.0.0.1.evil.com"},
        {request({{"command", "strell-check"},
                  {"pilot", pilot("http://localhost:3425", "openai/unknown")},
                  {"expectedRevision", 3}}),
         "网关的模型目录里没有 openai/unknown"},
        {request({{"command", "strell-check"},
                  {"pilot", pilot("http://[::1]:3425", "fixture/validation-model", "company/roles/gone")},
                  {"expectedRevision", 3}}),
         "公司仓库里没有这个岗位：company/roles/gone"},
        {request({{"command", "strell-check"}, {"pilot", nullptr}, {"expectedRevision", 3}}),
         "现在选的是原生直连，没有要检查的网关"},
    };
    const json before = standin.scenarioOnDisk();
    for (const Case& c : cases)
        EXPECT_EQ(standin.raw(c.line), c.error) << c.line;
    EXPECT_EQ(standin.scenarioOnDisk(), before);
    EXPECT_EQ(standin.status()["strell"]["revision"], 3);
}

TEST(Standin, ExecutorToolWorkIsBusyForAWhileThenShowsItsOutcome) {
    struct Case {
        const char* command;
        std::optional<QString> id;
        const char* operation;
        const char* refusal; // a second command while busy
        std::function<void(const json& status)> outcome;
    };
    const std::vector<Case> cases{
        {"cli-check",
         {},
         "check",
         "执行工具正忙（正在检查更新），等这一轮做完再试",
         [](const json& s) {
             const json& codex = s["cliTools"]["tools"][0];
             EXPECT_EQ(codex["latestVersion"], "0.31.0");
             EXPECT_EQ(codex["updateAvailable"], true);
             EXPECT_NE(codex["checkedAt"], "2025-03-01T08:15:30.250Z");
             EXPECT_TRUE(isIso(codex["checkedAt"]));
             EXPECT_FALSE(s["cliTools"]["tools"][1].contains("checkedAt")) << "evox's source is unreachable";
             EXPECT_EQ(s["cliTools"]["message"], "EvoX 没查到最新版本");
         }},
        {"cli-update", "codex", "update", "执行工具正忙（正在更新），等这一轮做完再试",
         [](const json& s) {
             const json& codex = s["cliTools"]["tools"][0];
             EXPECT_EQ(codex["currentVersion"], "0.31.0");
             EXPECT_EQ(codex["updateAvailable"], false);
             EXPECT_EQ(s["engines"][0]["version"], "0.31.0");
             EXPECT_EQ(s["cliTools"]["message"], "Codex 已更新到 0.31.0");
         }},
        {"cli-refresh",
         {},
         "refresh",
         "执行工具正忙（正在刷新模型清单），等这一轮做完再试",
         [](const json& s) {
             EXPECT_EQ(s["cliTools"]["tools"][0]["models"], 9);
             EXPECT_EQ(s["cliTools"]["message"], "模型清单刷新好了：Codex 9 个模型");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        Standin standin;
        standin.start();
        ASSERT_TRUE(standin.ask(c.command, c.id).ok);
        const json busy = standin.status();
        EXPECT_EQ(busy["cliTools"]["busy"], true);
        EXPECT_EQ(busy["cliTools"]["operation"], c.operation);
        EXPECT_EQ(busy["strell"]["idle"], std::string(c.operation) != "update");
        EXPECT_EQ(standin.ask("cli-update", "codex").error, c.refusal);
        EXPECT_TRUE(standin.scenarioOnDisk().contains("pendingCli"));

        ASSERT_TRUE(
            TestSupport::spinUntil([&] { return standin.status()["cliTools"]["busy"] == false; }, 6s));
        const json after = standin.status();
        EXPECT_FALSE(after["cliTools"].contains("operation"));
        c.outcome(after);
        const json onDisk = standin.scenarioOnDisk();
        EXPECT_FALSE(onDisk.contains("pendingCli"));
        c.outcome(onDisk["status"]);
        EXPECT_TRUE(standin.ask("cli-check").ok) << "accepts work again";
    }
}

TEST(Standin, StateChangingCommandsAreWrittenBack) {
    Standin standin;
    standin.start();
    ASSERT_TRUE(standin.ask("revoke", "pr_1").ok);
    EXPECT_EQ(standin.ask("pairings").result, json::array());
    EXPECT_EQ(standin.scenarioOnDisk()["pairings"], json::array());

    ASSERT_TRUE(standin.ask("hooks-install").ok);
    EXPECT_EQ(standin.scenarioOnDisk()["status"]["sessionHooks"]["codex"]["installed"], true);
    EXPECT_FALSE(standin.status()["sessionHooks"]["claude"]["events"].empty());
    ASSERT_TRUE(standin.ask("hooks-uninstall").ok);
    EXPECT_EQ(standin.status()["sessionHooks"]["claude"]["events"], json::array());

    const Reply saved = standin.ask("strell-configure", {}, {{"pilot", pilot()}, {"expectedRevision", 3}});
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_EQ(saved.result["revision"], 4);
    EXPECT_EQ(standin.status()["strell"]["pilot"], pilot());
    EXPECT_EQ(standin.scenarioOnDisk()["status"]["strell"]["revision"], 4);
    EXPECT_FALSE(standin.ask("strell-configure", {}, {{"pilot", nullptr}, {"expectedRevision", 3}}).ok);
    ASSERT_TRUE(standin.ask("strell-configure", {}, {{"pilot", nullptr}, {"expectedRevision", 4}}).ok);
    EXPECT_TRUE(standin.status()["strell"]["pilot"].is_null());

    // An edit made by hand while the bridge runs is picked up by the next request.
    json edited = standin.scenarioOnDisk();
    edited["status"]["open"] = 5;
    TestSupport::writeFile(standin.scenarioPath(), QByteArray::fromStdString(edited.dump()));
    EXPECT_EQ(standin.status()["open"], 5);
    EXPECT_EQ(standin.status()["strell"]["idle"], false);
}

TEST(Standin, SavingTheRoutingNeedsAManagedIdleBridge) {
    struct Case {
        bool managed;
        int open;
        const char* error; // empty: saved
    };
    const std::vector<Case> cases{
        {true, 0, ""},
        {false, 0, "路线由启动参数或手动启动的桥接管理，这里不能保存"},
        {true, 2, "有 Agent 工作或执行工具更新没结束，完成后再保存"},
    };
    for (const Case& c : cases) {
        json scenario = baseScenario();
        scenario["status"]["open"] = c.open;
        Standin standin(scenario, c.managed ? QStringList{"--managed"} : QStringList{});
        standin.start();
        const json routing = standin.status()["strell"];
        EXPECT_EQ(routing["editable"], c.managed);
        EXPECT_EQ(routing["idle"], c.open == 0);
        EXPECT_TRUE(standin.ask("strell-check", {}, {{"pilot", pilot()}, {"expectedRevision", 3}}).ok)
            << "checking is allowed either way";
        EXPECT_EQ(standin.ask("strell-configure", {}, {{"pilot", nullptr}, {"expectedRevision", 3}}).error,
                  c.error);
    }
}

TEST(Standin, ScenarioKnobsShapeTheAnswers) {
    struct Case {
        json knobs;
        const char* command;
        std::string error; // empty: answered ok
    };
    const std::vector<Case> cases{
        {{{"failAll", true}}, "status", "桥接暂时处理不了任何命令"},
        {{{"failAll", true}, {"failError", "维护中"}}, "pairings", "维护中"},
        {{{"refuse", {"ticket"}}}, "ticket", "桥接这会儿不接受「ticket」"},
        {{{"refuse", {"ticket"}}}, "status", ""},
        {{{"refuse", {"revoke"}}, {"refuseError", nullptr}},
         "revoke",
         "桥接拒绝了这条命令"}, // no "error" member
    };
    for (const Case& c : cases) {
        json scenario = baseScenario();
        scenario.update(c.knobs);
        Standin standin(scenario);
        standin.start();
        EXPECT_EQ(standin.ask(c.command, "pr_1").error, c.error) << c.knobs.dump();
    }
}

TEST(Standin, ASlowClientDoesNotHoldUpOthers) {
    json scenario = baseScenario();
    scenario["replyDelayMs"] = {{"ticket", 3000}};
    Standin standin(scenario);
    standin.start();
    // One connection that never sends, one whose reply is held back: status still answers meanwhile.
    const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, standin.socket().toUtf8().constData());
    ASSERT_EQ(::connect(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    json held;
    std::atomic<bool> answered{false};
    std::thread delayed([path = standin.socket().toStdString(), &held, &answered] {
        try {
            held = BridgeAdmin::exchange(path, BridgeAdmin::encode("ticket", {}, {}), 10);
        } catch (...) {
        }
        answered = true;
    });
    TestSupport::spinFor(200ms);
    EXPECT_EQ(standin.status()["port"], 48123);
    EXPECT_FALSE(answered) << "the ticket reply is still held back";
    delayed.join();
    EXPECT_TRUE(held["ticket"].is_string());
    ::close(silent);
}

TEST(Standin, StartsFreshOnEachRunAndGuardsItsSocket) {
    Standin standin;
    standin.start();
    struct stat attributes {};
    ASSERT_EQ(::stat(standin.socket().toUtf8().constData(), &attributes), 0);
    EXPECT_EQ(attributes.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(standin.dataDir().toUtf8().constData(), &attributes), 0);
    EXPECT_EQ(attributes.st_mode & 0777, 0700u);

    // A second bridge on the same directory refuses and leaves the first alone.
    QProcess* second = standin.launch();
    ASSERT_TRUE(second->waitForFinished(5000));
    EXPECT_EQ(second->exitCode(), 1);
    EXPECT_TRUE(second->readAllStandardError().contains("这个不启动了"));
    const json firstStatus = standin.status();
    EXPECT_EQ(firstStatus["port"], 48123);

    // SIGTERM: exit status 0 and the socket is gone; the next start reports a new start time.
    standin.ask("cli-check");
    standin.stop();
    EXPECT_FALSE(QFileInfo::exists(standin.socket()));
    standin.start();
    const json restarted = standin.status();
    EXPECT_NE(restarted["startedAt"], firstStatus["startedAt"]);
    EXPECT_EQ(restarted["cliTools"]["busy"], false) << "work that was running died with the old process";
    EXPECT_EQ(restarted["cliTools"]["message"], "上次的执行工具任务随桥接重启中断了");
}

TEST(Standin, WhatIsAlreadyAtTheSocketPathDecidesTheStart) {
    const auto listenAt = [](const QString& path, bool keepListening) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.toUtf8().constData());
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        if (keepListening) {
            ::listen(fd, 4);
            return fd;
        }
        ::close(fd); // the file stays behind, as after a crash
        return -1;
    };
    struct Case {
        const char* what;
        std::function<int(const QString& socket)> prepare; // returns a descriptor to close afterwards, or -1
        bool starts;
    };
    const std::vector<Case> cases{
        {"stale socket file", [&](const QString& path) { return listenAt(path, false); }, true},
        {"another live bridge", [&](const QString& path) { return listenAt(path, true); }, false},
        {"a regular file", [](const QString& path) { return TestSupport::writeFile(path, "keep me"), -1; },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Standin standin;
        QDir().mkpath(standin.dataDir());
        const int keep = c.prepare(standin.socket());
        struct stat before {};
        ::lstat(standin.socket().toUtf8().constData(), &before);
        QProcess* process = standin.launch();
        if (c.starts) {
            EXPECT_TRUE(Standin::waitForSocket(standin.socket()));
            EXPECT_TRUE(standin.ask("status").ok);
        } else {
            ASSERT_TRUE(process->waitForFinished(5000));
            EXPECT_EQ(process->exitCode(), 1);
            EXPECT_FALSE(process->readAllStandardError().isEmpty());
            struct stat after {};
            ASSERT_EQ(::lstat(standin.socket().toUtf8().constData(), &after), 0);
            EXPECT_EQ(after.st_ino, before.st_ino) << "left untouched";
        }
        if (keep >= 0)
            ::close(keep);
    }
}

TEST(Standin, DefaultPlacesAndScenario) {
    TestSupport::TempDir home;
    // Isolated validation directories live under the system's temporary root.
    const QString validation = "/tmp/senvik-connector-validation-standin-" + QString::number(getpid());
    ASSERT_TRUE(QDir().mkpath(validation));
    const QString supportDir = home.path() + "/Library/Application Support/SenvikAgentBridge";
    const QString chosen = home.file("chosen.json");
    TestSupport::writeFile(chosen, QByteArray::fromStdString(baseScenario().dump()));
    struct Case {
        QStringList flags;
        QString scenarioVariable;
        QString dataDir;
        bool defaultWritten;
    };
    const std::vector<Case> cases{
        {{}, {}, supportDir, true},
        {{"--isolated-validation"}, {}, validation, true},
        {{"--isolated-validation"}, chosen, validation, false},
    };
    for (const Case& c : cases) {
        QDir(c.dataDir).removeRecursively();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("SENVIK_CONNECTOR_VALIDATION_DIR", validation);
        environment.remove("ORVANE_STANDIN_SCENARIO");
        if (!c.scenarioVariable.isEmpty())
            environment.insert("ORVANE_STANDIN_SCENARIO", c.scenarioVariable);
        if (c.dataDir == validation)
            QDir().mkpath(validation); // must exist to count as a validation directory
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(STANDIN_PATH), QStringList{"main.ts", "start"} + c.flags);
        ASSERT_TRUE(Standin::waitForSocket(c.dataDir + "/admin.sock")) << c.dataDir.toStdString();
        const json scenario = readJson(c.dataDir + "/standin-scenario.json");
        EXPECT_EQ(scenario.is_object(), c.defaultWritten);
        if (c.defaultWritten) {
            EXPECT_EQ(scenario["status"]["engines"].size(), 3u);
            EXPECT_FALSE(scenario["pairings"].empty());
            EXPECT_TRUE(scenario["status"]["cliTools"]["tools"][1]["updateAvailable"].get<bool>());
        }
        const json status = BridgeAdmin::exchange((c.dataDir + "/admin.sock").toStdString(),
                                                  BridgeAdmin::encode("status", {}, {}), 3);
        EXPECT_EQ(status["port"], 48123);
        process.terminate();
        EXPECT_TRUE(process.waitForFinished(5000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
    }
    QDir(validation).removeRecursively();
}

namespace {

// The knobs that make the stand-in misbehave as a broken bridge does, switched on while it runs (the soak
// edits the scenario the same way) and off again.
struct Misbehaviour {
    const char* knob;
    std::string failure; // what the connector's client reports
};

TEST(Standin, HungAndGarbageModesFailTheClientAndEndWhenSwitchedOff) {
    const std::vector<Misbehaviour> cases = {{"hang", "管理通道没有回应"}, {"garbage", "decoder error"}};
    for (const Misbehaviour& c : cases) {
        SCOPED_TRACE(c.knob);
        Standin standin;
        standin.start();
        json scenario = standin.scenarioOnDisk();
        scenario[c.knob] = true;
        TestSupport::writeFile(standin.scenarioPath(), QByteArray::fromStdString(scenario.dump()));
        const auto start = std::chrono::steady_clock::now();
        std::string outcome;
        try {
            BridgeAdmin::exchange(standin.socket().toStdString(), BridgeAdmin::encode("status", {}, {}), 1);
            outcome = "answered";
        } catch (const BridgeAdmin::Failure& failure) {
            outcome = failure.message.toStdString();
        } catch (const json::parse_error&) {
            outcome = "decoder error";
        }
        EXPECT_EQ(outcome, c.failure);
        if (std::string(c.knob) == "hang") { // held until the client's one-second time-out, not refused
            EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
        }
        scenario[c.knob] = false;
        TestSupport::writeFile(standin.scenarioPath(), QByteArray::fromStdString(scenario.dump()));
        EXPECT_EQ(standin.status()["port"], 48123) << "answers again once the knob is off";
    }
}

} // namespace
