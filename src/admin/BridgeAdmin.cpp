#include "BridgeAdmin.h"

#include "Async.h"
#include "ConnectorPaths.h"
#include "JsonDepth.h"
#include "UniqueFd.h"

#include <QCoroTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace BridgeAdmin {

namespace {

using nlohmann::json;

// The longest socket path the bridge's platform accepts: its path field holds 104 bytes including the final
// zero.
constexpr std::size_t maxPathBytes = 103;
constexpr std::size_t readChunkBytes = 4096;
constexpr int statusTimeoutSeconds = 2;

// The socket's address; a path the address cannot hold is refused.
sockaddr_un addressOf(const std::string& socketPath) {
    if (socketPath.size() > maxPathBytes)
        throw Failure(QStringLiteral("管理通道的路径太长"));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    return address;
}

int openSocket() {
#ifdef SOCK_CLOEXEC
    // Child processes started meanwhile (tools, the bridge itself) must not inherit the connection.
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
#else
    return ::socket(AF_UNIX, SOCK_STREAM, 0);
#endif
}

void setTimeouts(int fd, int seconds) {
    // A zero time-out would mean "wait forever"; a worker stuck on a silent bridge is never wanted.
    const timeval limit{std::max(seconds, 1), 0};
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    (void)::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
#ifdef SO_NOSIGPIPE
    const int on = 1;
    (void)::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
}

ssize_t sendOnce(int fd, const std::string& bytes) {
#ifdef MSG_NOSIGNAL
    constexpr int flags = MSG_NOSIGNAL; // a bridge that vanished is a failure, never a signal that ends us
#else
    constexpr int flags = 0;
#endif
    ssize_t sent;
    do
        sent = ::send(fd, bytes.data(), bytes.size(), flags);
    while (sent < 0 && errno == EINTR);
    return sent;
}

// Blocking reads until the peer closes, each bounded by the socket's time-out.
void readToEnd(int fd, std::string& reply) {
    char buffer[readChunkBytes];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            return;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw Failure(QStringLiteral("管理通道没有回应"));
        }
        appendReply(reply, std::string_view(buffer, static_cast<std::size_t>(got)));
    }
}

// One exchange on a worker: the connection's path lookup, the connect and every read may block (a home on a
// hung network file system, a full listen queue, a slow bridge), so none of it runs on the caller's thread.
// The socket's own time-outs bound each blocking call; the kernel never ends them early.
QCoro::Task<json> exchangeOnWorker(std::string socketPath, std::string encodedRequest, int timeoutSeconds) {
    auto work = [path = std::move(socketPath), encoded = std::move(encodedRequest), timeoutSeconds] {
        return exchange(path, encoded, timeoutSeconds);
    };
    co_return co_await Async::onWorker(std::move(work));
}

} // namespace

void appendReply(std::string& reply, std::string_view chunk) {
    // A local process streaming without end must not grow our memory without bound.
    if (chunk.size() > maxReplyBytes - std::min(reply.size(), maxReplyBytes))
        throw Failure(QStringLiteral("管理通道的回答看不懂"));
    reply.append(chunk);
}

json decodeReply(const std::string& reply) {
    // Nesting deeper than any real reply would overflow the stack when the result is copied: refuse it as
    // unreadable before decoding.
    if (!JsonDepth::within(reply))
        throw Failure(QStringLiteral("管理通道的回答看不懂"));
    // Anything that is not JSON at all (the empty reply too) fails with the decoder's own error.
    json decoded = json::parse(reply);
    if (!decoded.is_object())
        throw Failure(QStringLiteral("管理通道的回答看不懂"));
    const auto ok = decoded.find("ok");
    if (ok != decoded.end() && ok->is_boolean() && ok->get<bool>()) {
        const auto result = decoded.find("result");
        // Moved out, not copied: a status result is a tree of many small allocations.
        return result != decoded.end() ? std::move(*result) : json();
    }
    const auto error = decoded.find("error");
    if (error != decoded.end() && error->is_string())
        throw Failure(QString::fromStdString(error->get<std::string>()));
    throw Failure(QStringLiteral("桥接拒绝了这条命令"));
}

std::string encode(const QString& command, const std::optional<QString>& id, const json& fields) {
    json request = fields.is_null() ? json::object() : fields;
    request["command"] = command.toStdString();
    if (id)
        request["id"] = id->toStdString();
    return request.dump() + '\n';
}

json exchange(const std::string& socketPath, const std::string& encodedRequest, int timeoutSeconds) {
    UniqueFd socket(openSocket());
    if (socket.get() < 0)
        throw Failure(QStringLiteral("建不了 socket"));
    setTimeouts(socket.get(), timeoutSeconds);

    const sockaddr_un address = addressOf(socketPath);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // Only these two say for certain that no bridge is there; anything else (no permission, a lookup
        // that failed) leaves it open.
        if (errno == ENOENT || errno == ECONNREFUSED)
            throw NotListening();
        throw Failure(QStringLiteral("桥接没在运行"));
    }

    // One write: the bridge answers after one line, and a short write means the request cannot arrive whole.
    if (sendOnce(socket.get(), encodedRequest) != static_cast<ssize_t>(encodedRequest.size()))
        throw Failure(QStringLiteral("管理通道写不进去"));

    std::string reply;
    readToEnd(socket.get(), reply);
    socket.close();
    return decodeReply(reply);
}

QCoro::Task<nlohmann::json> requestAt(QString socketPath, QString command, std::optional<QString> id,
                                      nlohmann::json fields, int timeout) {
    // Named, not temporaries in the co_await operand: GCC 12 destroys those twice.
    std::string encoded = encode(command, id, fields);
    QCoro::Task<json> exchanging = exchangeOnWorker(socketPath.toStdString(), std::move(encoded), timeout);
    co_return co_await std::move(exchanging);
}

QCoro::Task<nlohmann::json> request(QString command, std::optional<QString> id, nlohmann::json fields,
                                    int timeout) {
    return requestAt(ConnectorPaths::adminSocket(), std::move(command), std::move(id), std::move(fields),
                     timeout);
}

QCoro::Task<bool> isRunningAt(QString socketPath) {
    try {
        // Named for the same reason as in requestAt.
        QCoro::Task<json> asking =
            exchangeOnWorker(socketPath.toStdString(), encode(QStringLiteral("status"), std::nullopt, {}),
                             statusTimeoutSeconds);
        co_await std::move(asking);
        co_return true;
    } catch (...) {
        co_return false;
    }
}

QCoro::Task<bool> isRunning() {
    return isRunningAt(ConnectorPaths::adminSocket());
}

QCoro::Task<bool> stillThereAt(QString socketPath) {
    try {
        // Named for the same reason as in requestAt.
        QCoro::Task<json> asking =
            exchangeOnWorker(socketPath.toStdString(), encode(QStringLiteral("status"), std::nullopt, {}),
                             statusTimeoutSeconds);
        co_await std::move(asking);
    } catch (const NotListening&) {
        co_return false;
    } catch (...) {
        // A refusal, garbage or silence all come from something still holding the socket.
    }
    co_return true;
}

QCoro::Task<bool> stillThere() {
    return stillThereAt(ConnectorPaths::adminSocket());
}

QCoro::Task<bool> waitUntilRunningAt(QString socketPath, double seconds) {
    // The steady clock: a wall-clock jump must neither stretch the wait without end nor cut it short.
    using Clock = std::chrono::steady_clock;
    const double bounded =
        std::isfinite(seconds) ? std::clamp(seconds, 0.0, 1.0e7) : (seconds > 0 ? 1.0e7 : 0.0);
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bounded));
    while (Clock::now() < deadline) {
        if (co_await isRunningAt(socketPath))
            co_return true;
        co_await Async::sleepFor(std::chrono::milliseconds(500));
    }
    co_return co_await isRunningAt(socketPath);
}

QCoro::Task<bool> waitUntilRunning(double seconds) {
    return waitUntilRunningAt(ConnectorPaths::adminSocket(), seconds);
}

} // namespace BridgeAdmin
