#include "BridgeAdmin.h"

#include "Async.h"
#include "ConnectorPaths.h"
#include "JsonDepth.h"
#include "UniqueFd.h"

#include <QCoroTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <coroutine>
#include <cstring>
#include <fcntl.h>
#include <memory>
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

// Requests up to this size go out in one non-blocking send on the calling thread (a new socket's buffer holds
// far more); larger ones are written by a worker that may wait for the bridge to read.
constexpr std::size_t loopRequestBytes = 64 * 1024;
// Replies up to this size are read and decoded on the calling thread, larger ones on a worker.
constexpr std::size_t loopDecodeBytes = 64 * 1024;

// Waits on the calling thread's event loop until the socket is readable or a time-out passes. The notifier
// and the timer are deleted later, never inside their own signal, because the coroutine resumed by the
// signal may end the exchange at once.
class ReadWait {
public:
    ReadWait(int fd, int seconds)
        : notifier_(new QSocketNotifier(fd, QSocketNotifier::Read)), timer_(new QTimer) {
        notifier_->setEnabled(false);
        timer_->setSingleShot(true);
        timer_->setInterval(std::max(seconds, 1) * 1000);
        QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { wake(false); });
        QObject::connect(timer_, &QTimer::timeout, timer_, [this] { wake(true); });
    }
    ReadWait(const ReadWait&) = delete;
    ReadWait& operator=(const ReadWait&) = delete;
    ~ReadWait() {
        QObject::disconnect(notifier_, nullptr, nullptr, nullptr);
        QObject::disconnect(timer_, nullptr, nullptr, nullptr);
        timer_->stop();
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        timer_->deleteLater();
    }

    struct Awaiter {
        ReadWait& wait;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) {
            wait.waiting_ = handle;
            wait.notifier_->setEnabled(true);
            wait.timer_->start();
        }
        // False when the time-out passed first.
        bool await_resume() const noexcept { return !wait.timedOut_; }
    };
    Awaiter readable() { return Awaiter{*this}; }

private:
    void wake(bool timedOut) {
        notifier_->setEnabled(false);
        timer_->stop();
        timedOut_ = timedOut;
        if (std::coroutine_handle<> handle = std::exchange(waiting_, {}))
            handle.resume();
    }

    QSocketNotifier* notifier_;
    QTimer* timer_;
    std::coroutine_handle<> waiting_;
    bool timedOut_ = false;
};

// One exchange on the calling thread's event loop: connect and send without blocking (a local socket takes a
// small request at once), then read as the reply arrives. No worker and no hand-back: the thread wakes once,
// when the reply is there. A full listen queue, which would make the connection wait, goes to a worker.
QCoro::Task<json> exchangeOnLoop(std::string socketPath, std::string encodedRequest, int timeoutSeconds) {
    if (encodedRequest.size() > loopRequestBytes) {
        auto work = [path = std::move(socketPath), encoded = std::move(encodedRequest), timeoutSeconds] {
            return exchange(path, encoded, timeoutSeconds);
        };
        co_return co_await Async::onWorker(std::move(work));
    }
    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.get() < 0)
        throw Failure(QStringLiteral("建不了 socket"));
    const sockaddr_un address = addressOf(socketPath);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EAGAIN)
            throw Failure(QStringLiteral("桥接没在运行"));
        socket.close();
        auto work = [path = std::move(socketPath), encoded = std::move(encodedRequest), timeoutSeconds] {
            return exchange(path, encoded, timeoutSeconds);
        };
        co_return co_await Async::onWorker(std::move(work));
    }
    if (sendOnce(socket.get(), encodedRequest) != static_cast<ssize_t>(encodedRequest.size()))
        throw Failure(QStringLiteral("管理通道写不进去"));

    ReadWait wait(socket.get(), timeoutSeconds);
    std::string reply;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(socket.get(), buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                throw Failure(QStringLiteral("管理通道没有回应"));
            // The time-out bounds each wait, as it bounds each read of a blocking exchange.
            ReadWait::Awaiter readable = wait.readable();
            if (!co_await readable)
                throw Failure(QStringLiteral("管理通道没有回应"));
            continue;
        }
        appendReply(reply, std::string_view(buffer, static_cast<std::size_t>(got)));
        if (reply.size() > loopDecodeBytes) {
            // A large reply is read to its end and decoded on a worker: megabytes copied and paged in
            // would otherwise stall the interface.
            auto rest = [owned = std::make_shared<UniqueFd>(std::move(socket)), bytes = std::move(reply),
                         timeoutSeconds]() mutable {
                const int flags = ::fcntl(owned->get(), F_GETFL);
                if (flags < 0 || ::fcntl(owned->get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
                    throw Failure(QStringLiteral("管理通道没有回应"));
                setTimeouts(owned->get(), timeoutSeconds);
                readToEnd(owned->get(), bytes);
                owned->close();
                return decodeReply(bytes);
            };
            co_return co_await Async::onWorker(std::move(rest));
        }
    }
    socket.close();
    co_return decodeReply(reply);
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
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw Failure(QStringLiteral("桥接没在运行"));

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
    QCoro::Task<json> exchanging = exchangeOnLoop(socketPath.toStdString(), std::move(encoded), timeout);
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
            exchangeOnLoop(socketPath.toStdString(), encode(QStringLiteral("status"), std::nullopt, {}),
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
        co_await QCoro::sleepFor(std::chrono::milliseconds(500));
    }
    co_return co_await isRunningAt(socketPath);
}

QCoro::Task<bool> waitUntilRunning(double seconds) {
    return waitUntilRunningAt(ConnectorPaths::adminSocket(), seconds);
}

} // namespace BridgeAdmin
