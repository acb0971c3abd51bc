#include "InstanceChannel.h"

#include "Async.h"
#include "ConnectorPaths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QTimer>

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

bool sendBlocking(const QByteArray& path, const QByteArray& bytes, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof(address.sun_path)))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    int fd = -1;
    for (;;) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
            break;
        ::close(fd);
        fd = -1;
        if (Clock::now() + std::chrono::milliseconds(100) >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
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

std::optional<QString> socketPath(const QString& home) {
    const std::optional<QString> dir = privateDirectory(home);
    if (!dir)
        return std::nullopt;
    // The runtime directory is shared by every home of the user; the socket belongs to one home's instance.
    const QByteArray tag =
        QCryptographicHash::hash(QFile::encodeName(QDir::cleanPath(home)), QCryptographicHash::Sha256)
            .toHex()
            .left(12);
    const QString path = *dir + QLatin1Char('/') + ConnectorPaths::connectorBundleID + QLatin1Char('.') +
                         QString::fromLatin1(tag) + QStringLiteral(".instance");
    if (QFile::encodeName(path).size() >= qsizetype(sizeof(sockaddr_un::sun_path)))
        return std::nullopt;
    return path;
}

QCoro::Task<bool> send(QString path, Message message, std::chrono::milliseconds timeout) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray bytes = encode(message);
    // Named, not a temporary in the co_await operand: GCC 12 destroys such temporaries twice.
    auto job = [target, bytes, timeout] { return sendBlocking(target, bytes, timeout); };
    co_return co_await Async::onWorker(std::move(job));
}

Listener::Listener(QObject* parent) : QObject(parent) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &Listener::accept);
}

bool Listener::listen(const QString& path) {
    QLocalServer::removeServer(path);
    if (server_.listen(path))
        return true;
    qWarning("cannot listen for other starts at %s: %s", qPrintable(path), qPrintable(server_.errorString()));
    return false;
}

void Listener::accept() {
    while (QLocalSocket* connection = server_.nextPendingConnection()) {
        connection->setParent(this);
        auto state = std::make_shared<Pending>();
        // A peer that never finishes its message is dropped rather than kept open. The timer goes with the
        // connection: a single-shot timer would still fire (idly) long after a finished hand-over.
        auto* patience = new QTimer(connection);
        patience->setSingleShot(true);
        connect(patience, &QTimer::timeout, connection, [connection] { connection->abort(); });
        patience->start(listenerPatience);
        connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        connect(connection, &QLocalSocket::readyRead, this, [this, connection, state] {
            if (state->done) {
                connection->readAll();
                return;
            }
            state->bytes.append(connection->readAll());
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
        });
    }
}

} // namespace InstanceChannel
