#include "BridgeAdmin.h"
#include "ConnectorPaths.h"
#include "RunTask.h"
#include "ScriptedServer.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <limits>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <variant>

namespace {
std::atomic<int> connectsOnMainThread{0};
const std::thread::id mainThreadId = std::this_thread::get_id();
} // namespace

// Every connect of this program passes here. Connecting looks the socket's path up, which blocks on a hung
// network file system, so the main thread must never do it.
extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
    using Real = int (*)(int, const sockaddr*, socklen_t);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "connect"));
    if (std::this_thread::get_id() == mainThreadId)
        ++connectsOnMainThread;
    return real(fd, address, length);
}

using nlohmann::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using TestSupport::runTask;

namespace {

// What a caller sees: a result, a Failure's message, or the decoder's own error.
struct ParseError {};
using Outcome = std::variant<json, QString, ParseError>;

Outcome ask(const QString& path, int timeout = 3, QString command = QStringLiteral("status"),
            std::optional<QString> id = std::nullopt, json fields = json::object()) {
    try {
        return runTask(
            BridgeAdmin::requestAt(path, std::move(command), std::move(id), std::move(fields), timeout));
    } catch (const BridgeAdmin::Failure& failure) {
        return failure.message;
    } catch (const json::parse_error&) {
        return ParseError{};
    }
}

std::string describe(const Outcome& outcome) {
    if (const auto* result = std::get_if<json>(&outcome))
        return "result " + result->dump().substr(0, 200);
    if (const auto* message = std::get_if<QString>(&outcome))
        return "failure " + message->toStdString();
    return "decoder error";
}

// A JSON reply of exactly `size` bytes whose result is a string of padding.
std::string replyOfSize(std::size_t size) {
    const std::string head = R"({"ok":true,"result":")";
    const std::string tail = R"("})";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

// The send buffer a new socket gets on this machine, in bytes.
std::size_t defaultSendBuffer() {
    QFile file(QStringLiteral("/proc/sys/net/core/wmem_default"));
    bool ok = false;
    const std::size_t bytes = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toULong(&ok) : 0;
    EXPECT_TRUE(ok) << "cannot read the default send buffer size";
    return ok ? bytes : 4 * 1024 * 1024;
}

// `levels` arrays, each inside the one before.
std::string nestedArrays(std::size_t levels) {
    return std::string(levels, '[') + std::string(levels, ']');
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class BridgeAdminTest : public ::testing::Test {
protected:
    TestSupport::TempDir dir;
    QString socket = dir.file(QStringLiteral("admin.sock"));

    // A socket path of exactly `bytes` UTF-8 bytes inside the temporary directory, its name starting with
    // `stem`.
    QString pathOfBytes(std::size_t bytes, const std::string& stem = "s") const {
        std::string path = dir.path().toStdString() + "/" + stem;
        path += std::string(bytes - path.size(), 'a');
        return QString::fromStdString(path);
    }
};

const QString notRunning = QStringLiteral("桥接没在运行");
const QString noAnswer = QStringLiteral("管理通道没有回应");
const QString unreadable = QStringLiteral("管理通道的回答看不懂");
const QString refused = QStringLiteral("桥接拒绝了这条命令");
const QString tooLong = QStringLiteral("管理通道的路径太长");
const QString notWritten = QStringLiteral("管理通道写不进去");

TEST_F(BridgeAdminTest, RepliesDecodeToTheResultOrTheRightFailure) {
    const std::string big = replyOfSize(8193);
    struct Case {
        const char* name;
        ScriptedServer::Script script;
        Outcome expected;
    };
    const std::vector<Case> cases = {
        {"object result",
         {ScriptedServer::send(R"({"ok":true,"result":{"port":8787}})")},
         json{{"port", 8787}}},
        {"no result is null", {ScriptedServer::send(R"({"ok":true})")}, json()},
        {"array result",
         {ScriptedServer::send(R"({"ok":true,"result":[1,"a",null]})")},
         json::parse(R"([1,"a",null])")},
        {"false result stays a Boolean",
         {ScriptedServer::send(R"({"ok":true,"result":false})")},
         json(false)},
        {"other members ignored",
         {ScriptedServer::send(R"({"ok":true,"result":2,"error":"x","n":1})")},
         json(2)},
        {"closing line feed", {ScriptedServer::send("{\"ok\":true,\"result\":\"好\"}\n")}, json("好")},
        {"many small pieces",
         ScriptedServer::pieces(R"({"ok":true,"result":{"bridgeVersion":"1.4.2","engines":[1,2,3]}})", 3,
                                1ms),
         json::parse(R"({"bridgeVersion":"1.4.2","engines":[1,2,3]})")},
        {"exactly one read buffer",
         {ScriptedServer::send(replyOfSize(4096))},
         json(std::string(4096 - 23, 'x'))},
        {"two buffers and a byte", {ScriptedServer::send(big)}, json(std::string(8193 - 23, 'x'))},
        {"bridge's own error",
         {ScriptedServer::send(R"({"ok":false,"error":"工具正在更新，稍后再试"})")},
         QStringLiteral("工具正在更新，稍后再试")},
        {"ok false without error", {ScriptedServer::send(R"({"ok":false})")}, refused},
        {"error that is not a string", {ScriptedServer::send(R"({"ok":false,"error":42})")}, refused},
        {"ok as a string", {ScriptedServer::send(R"({"ok":"true","result":1})")}, refused},
        {"ok missing", {ScriptedServer::send(R"({"result":1})")}, refused},
        {"array at the top", {ScriptedServer::send(R"([{"ok":true}])")}, unreadable},
        {"string at the top", {ScriptedServer::send(R"("ok")")}, unreadable},
        {"number at the top", {ScriptedServer::send("1")}, unreadable},
        {"empty reply", {}, ParseError{}},
        {"not JSON", {ScriptedServer::send("HTTP/1.1 400 Bad Request\r\n")}, ParseError{}},
        {"cut off mid-reply", {ScriptedServer::send(R"({"ok":true,"res)")}, ParseError{}},
        {"two objects", {ScriptedServer::send(R"({"ok":true}{"ok":true})")}, ParseError{}},
        {"200 KB of nested brackets",
         {ScriptedServer::send(R"({"ok":true,"result":)" + nestedArrays(100000) + "}")},
         unreadable},
        {"nesting one level too deep",
         {ScriptedServer::send(R"({"ok":true,"result":)" + nestedArrays(128) + "}")},
         unreadable},
        {"nesting at the limit",
         {ScriptedServer::send(R"({"ok":true,"result":)" + nestedArrays(127) + "}")},
         json::parse(nestedArrays(127))},
        {"brackets inside a text are no nesting",
         {ScriptedServer::send(R"({"ok":true,"result":"\")" + std::string(300, '[') + R"("})")},
         json("\"" + std::string(300, '['))},
        {"part of a reply, then silence",
         {ScriptedServer::send(R"({"ok":)"), ScriptedServer::silence()},
         noAnswer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(socket, c.script);
        ASSERT_TRUE(server.listening());
        const Outcome outcome = ask(socket, 1);
        EXPECT_EQ(describe(outcome), describe(c.expected));
        EXPECT_EQ(server.connections(), 1);
    }
}

TEST_F(BridgeAdminTest, NoListenerFailsAtOnce) {
    struct Case {
        const char* name;
        std::function<void(const QString&)> prepare;
    };
    const std::vector<Case> cases = {
        {"no socket file", [](const QString&) {}},
        {"stale socket file",
         [](const QString& path) { ASSERT_TRUE(ScriptedServer::leaveStaleSocket(path)); }},
        {"plain file", [](const QString& path) { ASSERT_TRUE(TestSupport::writeFile(path, "x")); }},
        {"missing directory", [](const QString&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = std::string(c.name) == "missing directory"
                                 ? dir.file(QStringLiteral("gone/admin.sock"))
                                 : dir.file(QString::fromUtf8(c.name));
        c.prepare(path);
        const auto start = Clock::now();
        EXPECT_EQ(describe(ask(path, 15)), describe(notRunning));
        EXPECT_LT(secondsSince(start), 7.5); // well before the 15-second time-out
    }
}

TEST_F(BridgeAdminTest, SilentListenerFailsAfterTheTimeout) {
    ScriptedServer server(socket, {ScriptedServer::silence()});
    const auto start = Clock::now();
    EXPECT_EQ(describe(ask(socket, 1)), describe(noAnswer));
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 0.9);
    EXPECT_LT(elapsed, 10.0);
}

TEST_F(BridgeAdminTest, TimeoutBoundsEachReadNotTheWholeReply) {
    const std::string reply = R"({"ok":true,"result":"slow"})";
    ScriptedServer server(socket, ScriptedServer::pieces(reply, 10, 500ms));
    EXPECT_EQ(describe(ask(socket, 1)), describe(json("slow")));
}

TEST_F(BridgeAdminTest, SocketPathLimitCountsUtf8Bytes) {
    struct Case {
        const char* name;
        std::size_t bytes;
        std::string stem;
        bool fits;
    };
    const std::vector<Case> cases = {
        {"103 bytes", 103, "s", true},
        {"104 bytes", 104, "s", false},
        {"103 bytes with Chinese", 103, "桥接数据", true},
        {"104 bytes with Chinese", 104, "桥接数据", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = pathOfBytes(c.bytes, c.stem);
        ASSERT_EQ(path.toUtf8().size(), static_cast<qsizetype>(c.bytes));
        ScriptedServer server(path, {ScriptedServer::send(R"({"ok":true,"result":"here"})")});
        ASSERT_TRUE(server.listening());
        EXPECT_EQ(describe(ask(path)), describe(c.fits ? Outcome(json("here")) : Outcome(tooLong)));
        EXPECT_EQ(server.connections(), c.fits ? 1 : 0); // a long path fails before connecting
    }
    // Fewer characters than the limit, but more bytes.
    const QString chinese = dir.path() + QLatin1Char('/') + QString(30, QChar(0x6865));
    ASSERT_LT(chinese.size(), 104);
    EXPECT_EQ(describe(ask(chinese)), describe(tooLong));
}

TEST_F(BridgeAdminTest, RequestIsOneCompactLineWithCommandAndIdWinning) {
    ScriptedServer server(socket, {ScriptedServer::send(R"({"ok":true})")});
    const json fields = {{"command", "hijack"}, {"id", "other"}, {"note", "更新 \"引号\""}, {"list", {1, 2}}};
    EXPECT_EQ(describe(ask(socket, 3, QStringLiteral("cli-update"), QStringLiteral("codex"), fields)),
              describe(json()));
    ASSERT_EQ(server.received().size(), 1u);
    EXPECT_EQ(server.received()[0],
              R"({"command":"cli-update","id":"codex","list":[1,2],"note":"更新 \"引号\""})"
              "\n");
}

TEST(BridgeAdminEncode, FieldsCommandAndId) {
    struct Case {
        const char* name;
        QString command;
        std::optional<QString> id;
        json fields;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"bare command", "status", std::nullopt, json::object(), "{\"command\":\"status\"}\n"},
        {"null fields", "pairings", std::nullopt, json(), "{\"command\":\"pairings\"}\n"},
        {"id given", "revoke", QStringLiteral("p-1"), json::object(),
         "{\"command\":\"revoke\",\"id\":\"p-1\"}\n"},
        {"caller's id kept without an id", "revoke", std::nullopt, json{{"id", "keep"}},
         "{\"command\":\"revoke\",\"id\":\"keep\"}\n"},
        {"nested fields stay compact", "strell-check", std::nullopt,
         json{{"expectedRevision", 3}, {"pilot", {{"model", "m 1"}, {"on", true}}}},
         "{\"command\":\"strell-check\",\"expectedRevision\":3,\"pilot\":{\"model\":\"m 1\",\"on\":true}}\n"},
        {"text stays UTF-8", "ticket", QStringLiteral("连接"), json::object(),
         "{\"command\":\"ticket\",\"id\":\"连接\"}\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BridgeAdmin::encode(c.command, c.id, c.fields), c.expected);
    }
}

TEST_F(BridgeAdminTest, EncoderErrorReachesTheCallerAndNothingIsSent) {
    ScriptedServer server(socket, {ScriptedServer::send(R"({"ok":true})")});
    const json fields = {{"bad", std::string("\xff\xfe")}};
    EXPECT_THROW(runTask(BridgeAdmin::requestAt(socket, QStringLiteral("status"), std::nullopt, fields)),
                 json::type_error);
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(BridgeAdminTest, ReplyLargerThanTheCapIsRefused) {
    struct Case {
        const char* name;
        std::size_t bytes;
        bool fits;
    };
    const std::vector<Case> cases = {
        {"exactly the cap", BridgeAdmin::maxReplyBytes, true},
        {"one byte over", BridgeAdmin::maxReplyBytes + 1, false},
        {"far over", BridgeAdmin::maxReplyBytes + 8 * 1024 * 1024, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(socket, {ScriptedServer::send(replyOfSize(c.bytes))});
        const Outcome outcome = ask(socket, 5);
        if (c.fits) {
            ASSERT_TRUE(std::holds_alternative<json>(outcome)) << describe(outcome);
            EXPECT_EQ(std::get<json>(outcome).get_ref<const std::string&>().size(), c.bytes - 23);
        } else {
            EXPECT_EQ(describe(outcome), describe(unreadable));
        }
    }
}

TEST_F(BridgeAdminTest, EndlessStreamStopsAtTheCap) {
    // Keeps sending until the client hangs up; the client must stop at the cap instead of reading on.
    ScriptedServer server(socket, [](int) {
        ScriptedServer::Script script{ScriptedServer::send("{\"ok\":true,\"result\":\"")};
        const std::string mebibyte(1024 * 1024, 'x');
        script.insert(script.end(), 24, ScriptedServer::send(mebibyte));
        return script;
    });
    EXPECT_EQ(describe(ask(socket, 5)), describe(unreadable));
}

TEST_F(BridgeAdminTest, VanishedBridgeWhileWritingIsAFailureNotASignal) {
    // Whether the bridge is gone before the first byte or in the middle of the request varies from round to
    // round; either way the write fails, and the process must survive it (a broken pipe would end it). The
    // rounds make the rarer order, gone before the first byte, all but certain to occur.
    // The request outgrows what the client's socket can hold unread, so the write itself meets the closed
    // peer: twice the kernel's default send buffer (which bounds a new socket's queue) and then some.
    const std::string request =
        std::string(2 * defaultSendBuffer() + 64 * 1024, ' ') + "{\"command\":\"status\"}\n";
    ScriptedServer server(socket, {ScriptedServer::close()});
    int failures = 0;
    for (int round = 0; round < 1000; ++round) {
        try {
            BridgeAdmin::exchange(socket.toStdString(), request, 3);
        } catch (const BridgeAdmin::Failure& failure) {
            failures += failure.message == notWritten ? 1 : 0;
        }
    }
    EXPECT_EQ(failures, 1000);
}

TEST_F(BridgeAdminTest, IsRunningOnlyForAPositiveStatus) {
    struct Case {
        const char* name;
        ScriptedServer::Script script;
        bool running;
    };
    const std::vector<Case> cases = {
        {"positive", {ScriptedServer::send(R"({"ok":true,"result":{"port":1}})")}, true},
        {"positive without result", {ScriptedServer::send(R"({"ok":true})")}, true},
        {"ok false", {ScriptedServer::send(R"({"ok":false,"error":"忙"})")}, false},
        {"garbage", {ScriptedServer::send("garbage")}, false},
        {"array", {ScriptedServer::send("[]")}, false},
        {"closes at once", {ScriptedServer::close()}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(socket, c.script);
        EXPECT_EQ(runTask(BridgeAdmin::isRunningAt(socket)), c.running);
        EXPECT_TRUE(runTask(BridgeAdmin::stillThereAt(socket)));
        ASSERT_EQ(server.received().size(), 2u);
        if (c.script.front().kind != ScriptedServer::Step::Kind::Close) {
            EXPECT_EQ(server.received()[0], "{\"command\":\"status\"}\n");
        }
    }
    const QString nobody = dir.file(QStringLiteral("nobody.sock"));
    EXPECT_FALSE(runTask(BridgeAdmin::isRunningAt(nobody)));
    EXPECT_FALSE(runTask(BridgeAdmin::stillThereAt(nobody)));
    ASSERT_TRUE(ScriptedServer::leaveStaleSocket(nobody));
    EXPECT_FALSE(runTask(BridgeAdmin::stillThereAt(nobody)));
}

// The 2 s are given: the check ends neither before them nor long after.
TEST_F(BridgeAdminTest, IsRunningGivesUpOnASilentBridgeAfterTwoSeconds) {
    ScriptedServer server(socket, {ScriptedServer::silence()});
    for (auto check : {&BridgeAdmin::isRunningAt, &BridgeAdmin::stillThereAt}) {
        const auto start = Clock::now();
        EXPECT_EQ(runTask(check(socket)), check == &BridgeAdmin::stillThereAt);
        EXPECT_GE(secondsSince(start), 2.0);
        EXPECT_LT(secondsSince(start), 3.5);
    }
}

TEST_F(BridgeAdminTest, WaitWithoutTimeChecksExactlyOnce) {
    struct Case {
        const char* name;
        double seconds;
        const char* reply;
        bool running;
    };
    const std::vector<Case> cases = {
        {"zero, stopped", 0, R"({"ok":false})", false},
        {"zero, running", 0, R"({"ok":true})", true},
        {"negative", -5, R"({"ok":false})", false},
        {"not a number", std::nan(""), R"({"ok":false})", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(socket, {ScriptedServer::send(c.reply)});
        EXPECT_EQ(runTask(BridgeAdmin::waitUntilRunningAt(socket, c.seconds)), c.running);
        EXPECT_EQ(server.connections(), 1);
    }
}

TEST_F(BridgeAdminTest, WaitNoticesABridgeThatStartsLater) {
    std::unique_ptr<ScriptedServer> server;
    QTimer::singleShot(1000, [&] {
        server = std::make_unique<ScriptedServer>(
            socket, ScriptedServer::Script{ScriptedServer::send(R"({"ok":true})")});
    });
    const auto start = Clock::now();
    EXPECT_TRUE(runTask(BridgeAdmin::waitUntilRunningAt(socket, 10)));
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 0.9);
    EXPECT_LT(elapsed, 8.0);
    ASSERT_TRUE(server);
    EXPECT_EQ(server->connections(), 1);
}

TEST_F(BridgeAdminTest, WaitGivesUpAfterTheDeadlineWithOneLastCheck) {
    ScriptedServer server(socket, {ScriptedServer::send(R"({"ok":false})")});
    const auto start = Clock::now();
    EXPECT_FALSE(runTask(BridgeAdmin::waitUntilRunningAt(socket, 1.2)));
    EXPECT_GE(secondsSince(start), 1.2);
    // Checks at about 0, 0.5 and 1 s (fewer on a busy machine), then the last one after the deadline.
    EXPECT_GE(server.connections(), 2);
    EXPECT_LE(server.connections(), 5);
}

// Launches all requests before awaiting any, so they run at once on their own workers.
QCoro::Task<std::vector<Outcome>> askTogether(QString path, int count) {
    std::vector<QCoro::Task<json>> tasks;
    for (int i = 0; i < count; ++i)
        tasks.push_back(
            BridgeAdmin::requestAt(path, QStringLiteral("status"), std::nullopt, json::object(), 10));
    std::vector<Outcome> outcomes;
    for (auto& task : tasks) {
        try {
            outcomes.emplace_back(co_await std::move(task));
        } catch (const BridgeAdmin::Failure& failure) {
            outcomes.emplace_back(failure.message);
        }
    }
    co_return outcomes;
}

TEST_F(BridgeAdminTest, ExchangesRunConcurrentlyWithoutBlockingTheMainThread) {
    // Each answer takes 2 s: ten of them one after the other would take 20 s, together about 2 s.
    ScriptedServer server(socket,
                          {ScriptedServer::pause(2s), ScriptedServer::send(R"({"ok":true,"result":1})")});
    connectsOnMainThread = 0;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    const auto start = Clock::now();
    const std::vector<Outcome> outcomes = runTask(askTogether(socket, 10));
    const double elapsed = secondsSince(start);
    ticker.stop();
    ASSERT_EQ(outcomes.size(), 10u);
    for (const Outcome& outcome : outcomes)
        EXPECT_EQ(describe(outcome), describe(json(1)));
    EXPECT_EQ(server.connections(), 10);
    EXPECT_GE(server.mostAtOnce(), 5); // one after the other would be one at a time
    EXPECT_LT(elapsed, 10.0);          // one after the other would take at least 20 s
    EXPECT_GE(ticks, 10);              // the main thread kept running its timers meanwhile
    EXPECT_EQ(connectsOnMainThread, 0);
}

TEST_F(BridgeAdminTest, RequestUsesTheBridgesAdminSocket) {
    // The locations are computed once per process: only meaningful while nothing has read them yet.
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", dir.path().toUtf8());
    const QString path = ConnectorPaths::adminSocket();
    qputenv("HOME", oldHome);
    if (!path.startsWith(dir.path()))
        GTEST_SKIP() << "locations were computed earlier in this process";
    EXPECT_EQ(path, dir.path() + QStringLiteral("/Library/Application Support/SenvikAgentBridge/admin.sock"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    ScriptedServer server(path, {ScriptedServer::send(R"({"ok":true,"result":"home"})")});
    EXPECT_EQ(runTask(BridgeAdmin::request(QStringLiteral("status"))), json("home"));
    EXPECT_TRUE(runTask(BridgeAdmin::isRunning()));
    EXPECT_TRUE(runTask(BridgeAdmin::waitUntilRunning(0)));
    EXPECT_EQ(server.connections(), 3);
}

} // namespace

namespace {

// Requests and replies on both sides of the sizes up to which an exchange stays on the calling thread: each
// request arrives whole, each reply decodes to its result, however it is cut into pieces.
TEST_F(BridgeAdminTest, RequestsAndRepliesOfEverySizeArriveWhole) {
    struct Case {
        std::size_t note;
        std::size_t reply;
        std::size_t piece;
    };
    const std::vector<Case> cases = {{10, 100, 100},
                                     {60 * 1024, 60 * 1024, 7},
                                     {70 * 1024, 70 * 1024, 16 * 1024},
                                     {300 * 1024, 1024 * 1024, 100 * 1024}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note);
        const std::string reply = replyOfSize(c.reply);
        const std::size_t padding = c.reply - std::string(R"({"ok":true,"result":""})").size();
        ScriptedServer server(socket, ScriptedServer::pieces(reply, c.piece, 0ms));
        const json fields = {{"note", std::string(c.note, 'n')}};
        const Outcome outcome = ask(socket, 5, QStringLiteral("status"), std::nullopt, fields);
        const json* result = std::get_if<json>(&outcome);
        ASSERT_NE(result, nullptr) << describe(outcome);
        EXPECT_EQ(*result, json(std::string(padding, 'x')));
        ASSERT_EQ(server.received().size(), 1u);
        EXPECT_EQ(server.received()[0], BridgeAdmin::encode(QStringLiteral("status"), std::nullopt, fields));
    }
}

// A bridge too busy to take the connection at once (its listen queue is full) is waited for, as a blocking
// connect waits, rather than taken for a bridge that is not running.
TEST_F(BridgeAdminTest, AFullListenQueueIsWaitedForNotRefused) {
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = socket.toUtf8();
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 16; ++i) {
        const int filler = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (::connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ASSERT_EQ(errno, EAGAIN);
            ::close(filler);
            break;
        }
        fillers.push_back(filler);
    }
    ASSERT_FALSE(fillers.empty());
    // The bridge gets round to its queue 300 ms later: the fillers have gone by then, the request is
    // answered.
    std::thread bridge([listener, count = fillers.size() + 1] {
        std::this_thread::sleep_for(300ms);
        for (std::size_t i = 0; i < count; ++i) {
            const int client = ::accept(listener, nullptr, nullptr);
            std::string line;
            char buffer[256];
            for (ssize_t got;
                 line.find('\n') == std::string::npos && (got = ::read(client, buffer, sizeof buffer)) > 0;)
                line.append(buffer, std::size_t(got));
            if (!line.empty()) {
                const std::string reply = R"({"ok":true,"result":7})";
                [[maybe_unused]] const ssize_t sent =
                    ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
            }
            ::close(client);
        }
    });
    for (const int filler : fillers)
        ::close(filler);
    const Outcome outcome = ask(socket, 3);
    bridge.join();
    ::close(listener);
    EXPECT_EQ(describe(outcome), describe(json(7)));
}

} // namespace
