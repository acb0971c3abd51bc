#include "InstanceChannel.h"

#include "Async.h"
#include "ConnectorPaths.h"

#include <QCryptographicHash>
#include <QDir>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace InstanceChannel {

namespace {

// A message is a handful of links; anything larger is not from a connector.
constexpr qsizetype maxMessageBytes = 64 * 1024;
constexpr std::chrono::seconds listenerPatience{5};

struct Pending {
    QByteArray bytes;
    bool done = false;
};

bool isPrivateDirectory(const QString& path) {
    struct stat attributes {};
    if (::lstat(QFile::encodeName(path).constData(), &attributes) != 0)
        return false;
    return S_ISDIR(attributes.st_mode) && attributes.st_uid == ::getuid() && (attributes.st_mode & 077) == 0;
}

// The end of a message: an empty line.
qsizetype messageEnd(const QByteArray& bytes) {
    if (bytes.startsWith('\n'))
        return 1;
    const qsizetype at = bytes.indexOf("\n\n");
    return at < 0 ? -1 : at + 2;
}

using Clock = std::chrono::steady_clock;

// One connection: true once the listener answered. Gives up at `deadline`, or at once when nothing listens.
bool exchangeOnce(const sockaddr_un& address, const QByteArray& bytes, Clock::time_point deadline) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return false;
    }
    const auto remaining = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    const qint64 micros = std::max<qint64>(remaining.count(), 100'000);
    timeval limit{static_cast<time_t>(micros / 1'000'000), static_cast<suseconds_t>(micros % 1'000'000)};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));

    bool ok = true;
    for (qsizetype sent = 0; ok && sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0)
            sent += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            ok = false;
    }
    QByteArray reply;
    while (ok && !reply.contains('\n') && reply.size() < 64) {
        char buffer[64];
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n > 0)
            reply.append(buffer, n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    ::close(fd);
    return ok && reply.startsWith("ok\n");
}

bool sendBlocking(const QByteArray& path, const QByteArray& bytes, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof(address.sun_path)))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    // Tried again until the deadline: the running instance may be a moment away from listening, or may have
    // dropped this connection among the oldest of a flood before reading it.
    for (;;) {
        if (exchangeOnce(address, bytes, deadline))
            return true;
        if (Clock::now() + std::chrono::milliseconds(100) >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

} // namespace

namespace {
bool isLink(const QString& text) {
    const QUrl link(text, QUrl::StrictMode);
    return link.isValid() && !link.scheme().isEmpty();
}
} // namespace

QStringList linksIn(const QStringList& arguments) {
    QStringList links;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& element = arguments.at(i);
        if (element.startsWith(QLatin1Char('-')))
            continue;
        if (isLink(element))
            links.append(element);
    }
    return links;
}

QByteArray encode(const Message& message) {
    QByteArray bytes;
    if (message.reopen)
        bytes += "reopen\n";
    for (const QString& link : message.links)
        bytes += "open " + QUrl::toPercentEncoding(link) + '\n';
    bytes += '\n';
    return bytes;
}

Message decode(const QByteArray& bytes) {
    Message message;
    for (const QByteArray& line : bytes.split('\n')) {
        if (line == "reopen") {
            message.reopen = true;
        } else if (line.startsWith("open ")) {
            const QString link = QUrl::fromPercentEncoding(line.mid(5));
            if (isLink(link))
                message.links.append(link);
        }
    }
    return message;
}

std::optional<QString> privateDirectory(const QString& home) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateDirectory(runtime))
        return QDir::cleanPath(runtime);

    const QString cache = home + QStringLiteral("/.cache");
    const QString dir = cache + QLatin1Char('/') + ConnectorPaths::connectorBundleID;
    QDir().mkpath(cache);
    ::mkdir(QFile::encodeName(dir).constData(), 0700);
    struct stat attributes {};
    if (::lstat(QFile::encodeName(dir).constData(), &attributes) != 0 || !S_ISDIR(attributes.st_mode) ||
        attributes.st_uid != ::getuid())
        return std::nullopt;
    if ((attributes.st_mode & 077) != 0 && ::chmod(QFile::encodeName(dir).constData(), 0700) != 0)
        return std::nullopt;
    return isPrivateDirectory(dir) ? std::optional<QString>(dir) : std::nullopt;
}

namespace {
// The runtime directory is shared by every home of the user; what lies in it for one home's instance carries
// a tag of that home in its name.
std::optional<QString> perHomePath(const QString& home, QLatin1StringView suffix) {
    const std::optional<QString> dir = privateDirectory(home);
    if (!dir)
        return std::nullopt;
    const QByteArray tag =
        QCryptographicHash::hash(QFile::encodeName(QDir::cleanPath(home)), QCryptographicHash::Sha256)
            .toHex()
            .left(12);
    return *dir + QLatin1Char('/') + ConnectorPaths::connectorBundleID + QLatin1Char('.') +
           QString::fromLatin1(tag) + suffix;
}
} // namespace

std::optional<QString> socketPath(const QString& home) {
    const std::optional<QString> path = perHomePath(home, QLatin1StringView(".instance"));
    if (!path || QFile::encodeName(*path).size() >= qsizetype(sizeof(sockaddr_un::sun_path)))
        return std::nullopt;
    return path;
}

std::optional<QString> lockPath(const QString& home) {
    return perHomePath(home, QLatin1StringView(".lock"));
}

QCoro::Task<bool> send(QString path, Message message, std::chrono::milliseconds timeout) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray bytes = encode(message);
    // Named, not a temporary in the co_await operand: GCC 12 destroys such temporaries twice.
    auto job = [target, bytes, timeout] { return sendBlocking(target, bytes, timeout); };
    co_return co_await Async::onWorker(std::move(job));
}

Listener::Listener(QObject* parent) : QObject(parent) {
    // While the process is out of descriptors, accepting is paused briefly instead of spinning on a socket
    // that stays readable.
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    retry_->setInterval(std::chrono::milliseconds(200));
    connect(retry_, &QTimer::timeout, this, [this] {
        if (notifier_)
            notifier_->setEnabled(true);
        acceptPending();
    });
}

Listener::~Listener() {
    for (const QPointer<QLocalSocket>& connection : std::as_const(connections_))
        delete connection.data();
    if (fd_ >= 0)
        ::close(fd_);
}

bool Listener::listen(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof(address.sun_path))) {
        qWarning("cannot listen for other starts at %s: the path is too long", qPrintable(path));
        return false;
    }
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        qWarning("cannot listen for other starts: %s", std::strerror(errno));
        return false;
    }
    ::unlink(name.constData());
    // Only this user: the directory is private already, the socket itself is made so as well.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::chmod(name.constData(), 0600) != 0 || ::listen(fd, 64) != 0) {
        qWarning("cannot listen for other starts at %s: %s", qPrintable(path), std::strerror(errno));
        ::close(fd);
        return false;
    }
    fd_ = fd;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &Listener::acceptPending);
    return true;
}

void Listener::acceptPending() {
    // A few at a time, so the connections already open get their turn between the rounds of a flood.
    for (int taken = 0; fd_ >= 0 && taken < maxConnections;) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            serve(fd);
            ++taken;
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // The listener stays; the waiting starts are taken once descriptors are free again.
            notifier_->setEnabled(false);
            retry_->start();
        }
        return;
    }
}

void Listener::serve(int fd) {
    ucred peer{};
    socklen_t length = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != ::getuid()) {
        ::close(fd);
        return;
    }
    connections_.removeAll(nullptr);
    while (connections_.size() >= maxConnections)
        delete connections_.takeFirst().data();

    QByteArray early;
    char buffer[4096];
    while (early.size() <= maxMessageBytes && messageEnd(early) < 0) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (n <= 0)
            break;
        early.append(buffer, n);
    }

    auto* connection = new QLocalSocket(this);
    if (!connection->setSocketDescriptor(fd)) {
        ::close(fd);
        delete connection;
        return;
    }
    connections_.append(connection);
    auto state = std::make_shared<Pending>();
    // A peer that never finishes its message is dropped rather than kept open. The timer goes with the
    // connection: a single-shot timer would still fire (idly) long after a finished hand-over.
    auto* patience = new QTimer(connection);
    patience->setSingleShot(true);
    connect(patience, &QTimer::timeout, connection, [connection] { connection->abort(); });
    patience->start(listenerPatience);
    connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
    auto take = [this, connection, state](const QByteArray& chunk) {
        if (state->done)
            return;
        state->bytes.append(chunk);
        const qsizetype end = messageEnd(state->bytes);
        if (end < 0 ? state->bytes.size() > maxMessageBytes : end > maxMessageBytes) {
            connection->abort();
            return;
        }
        if (end < 0)
            return;
        state->done = true;
        const Message message = decode(state->bytes.left(end));
        connection->write("ok\n");
        connection->flush();
        connection->disconnectFromServer();
        emit received(message);
    };
    connect(connection, &QLocalSocket::readyRead, this, [connection, take] { take(connection->readAll()); });
    // A start writes right after connecting: what has already arrived is taken now, before later connections
    // of a flood can push this one out.
    if (!early.isEmpty())
        take(early);
}

} // namespace InstanceChannel
