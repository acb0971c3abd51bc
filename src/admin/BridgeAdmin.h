#pragma once

#include <QCoroTask>
#include <QString>
#include <nlohmann/json.hpp>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// The client of the bridge's admin channel: one connection, one JSON request line, one JSON reply.
// No instances, no state. Every exchange runs on a worker; the caller's coroutine resumes on its own thread.
namespace BridgeAdmin {

// The channel's own error: one Chinese message, shown to the user as it is (what() gives it in UTF-8).
struct Failure : std::runtime_error {
    explicit Failure(const QString& text) : std::runtime_error(text.toStdString()), message(text) {}
    QString message;
};

// Connecting found no socket file or nobody listening: the one failure that proves the bridge is gone.
struct NotListening : Failure {
    NotListening() : Failure(QStringLiteral("桥接没在运行")) {}
};

// A reply larger than this is refused: no real reply comes near it, and a misbehaving local process must not
// grow our memory without bound.
inline constexpr std::size_t maxReplyBytes = 16 * 1024 * 1024;

// Sends one request to the bridge at ConnectorPaths::adminSocket() and returns its "result" (null when
// absent). "command" and, when given, "id" replace fields of the same name. The time-out bounds each blocking
// call, in whole seconds (at least 1). Fails with Failure, with nlohmann::json::parse_error for a reply that
// is not JSON (the empty reply too), or with the library's type_error for fields it cannot encode.
QCoro::Task<nlohmann::json> request(QString command, std::optional<QString> id = std::nullopt,
                                    nlohmann::json fields = nlohmann::json::object(), int timeout = 3);

// The same against an explicit socket path (tests, benchmarks, the stand-in bridge's own checks).
QCoro::Task<nlohmann::json> requestAt(QString socketPath, QString command,
                                      std::optional<QString> id = std::nullopt,
                                      nlohmann::json fields = nlohmann::json::object(), int timeout = 3);

// True when the bridge answers "status" positively within 2 seconds. Never fails.
QCoro::Task<bool> isRunning();
QCoro::Task<bool> isRunningAt(QString socketPath);

// False only when the bridge is certainly gone (no socket file, nobody listening). Any answer, a refusal
// included, and a "status" left unanswered for 2 seconds mean something still serves the socket. Never fails.
QCoro::Task<bool> stillThere();
QCoro::Task<bool> stillThereAt(QString socketPath);

// True as soon as isRunning() is; false when it has not become true by the deadline (steady clock; checks
// every 0.5 s, one last check after the deadline, so 0 seconds means exactly one check). Never fails.
QCoro::Task<bool> waitUntilRunning(double seconds);
QCoro::Task<bool> waitUntilRunningAt(QString socketPath, double seconds);

// The synchronous pieces, for workers and benchmarks.
std::string encode(const QString& command, const std::optional<QString>& id, const nlohmann::json& fields);
nlohmann::json exchange(const std::string& socketPath, const std::string& encodedRequest, int timeoutSeconds);
// One piece of a reply as it is read, added to the rest; fails (Failure) once the whole passes maxReplyBytes.
void appendReply(std::string& reply, std::string_view chunk);
// A whole reply's bytes to its result, failing as request() does.
nlohmann::json decodeReply(const std::string& reply);

} // namespace BridgeAdmin
