#include "UpdateDownload.h"
#include "UniqueFd.h"

#include "UpdateFailure.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QOperatingSystemVersion>
#include <QRegularExpression>
#include <QTimer>

#include <openssl/evp.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace UpdateDownload {

namespace {

bool isLoopback(const QUrl& url) {
    const QHostAddress address(url.host());
    return url.host() == QLatin1String("localhost") || (!address.isNull() && address.isLoopback());
}

QNetworkRequest request(const QUrl& url, int timeoutMs) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(10);
    request.setTransferTimeout(timeoutMs);
    return request;
}

// The reply's transport error in words the user understands.
QString transportText(const QNetworkReply& reply, bool refusedRedirect) {
    if (refusedRedirect)
        return QStringLiteral("服务器转去了不安全的地址");
    switch (reply.error()) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("连不上更新服务器");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("找不到更新服务器");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("连接更新服务器超时");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("更新服务器中途断开了连接");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("和更新服务器的安全连接没建立起来");
    case QNetworkReply::TooManyRedirectsError:
        return QStringLiteral("更新服务器转来转去，没有给出回答");
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("服务器转去了不安全的地址");
    default:
        return QStringLiteral("网络出错（%1）").arg(reply.errorString());
    }
}

// A failure below HTTP: a refused redirect, a connection or time-out error, or redirects that never reached
// an answer (Qt ends a loop with the last hop's 302, or a 100, and no error). Its description says more than
// the status such a reply still carries.
std::optional<QString> transportProblem(const QNetworkReply& reply, bool refusedRedirect, int redirects) {
    const int code = reply.error();
    if (refusedRedirect ||
        (code >= QNetworkReply::ConnectionRefusedError && code <= QNetworkReply::UnknownNetworkError))
        return transportText(reply, refusedRedirect);
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (redirects > 0 && status >= 100 && status < 400 && (status < 200 || status >= 300))
        return QStringLiteral("更新服务器转来转去，没有给出回答");
    return std::nullopt;
}

// One GET on this thread's own event loop. `onData` sees each piece of the body as it arrives and may
// abort the transfer by throwing; `onStatus` sees the final status before the first piece.
struct Transfer {
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply;
    bool refusedRedirect = false;
    int redirects = 0;
    std::exception_ptr error;

    template <typename OnData> void run(const QNetworkRequest& req, OnData onData) {
        QEventLoop loop;
        // Qt's own transfer time-out runs on a coarse timer that may end the wait up to 5 % early: the
        // request's time-out is kept here on a precise one, restarted whenever the transfer moves.
        QNetworkRequest unbounded = req;
        unbounded.setTransferTimeout(0);
        reply.reset(manager.get(unbounded));
        reply->setReadBufferSize(1 << 20); // a fast server must never pile the body up in memory
        QNetworkReply* raw = reply.get();
        QTimer idle;
        idle.setTimerType(Qt::PreciseTimer);
        idle.setSingleShot(true);
        idle.setInterval(req.transferTimeout());
        QObject::connect(&idle, &QTimer::timeout, raw, &QNetworkReply::abort);
        const auto moved = [&idle] {
            if (idle.interval() > 0)
                idle.start();
        };
        QObject::connect(raw, &QNetworkReply::metaDataChanged, &idle, moved);
        QObject::connect(raw, &QNetworkReply::downloadProgress, &idle, moved);
        QObject::connect(raw, &QNetworkReply::uploadProgress, &idle, moved);
        QObject::connect(raw, &QNetworkReply::redirected, &idle, moved);
        moved();
        // Each hop is judged from the address it leaves: by the time the signal comes, the reply's own url()
        // already names the new one.
        QObject::connect(raw, &QNetworkReply::redirected, raw,
                         [this, raw, hop = req.url()](const QUrl& to) mutable {
                             const QUrl next = hop.resolved(to);
                             if (redirectAllowed(hop, next)) {
                                 hop = next;
                                 ++redirects;
                                 emit raw->redirectAllowed();
                             } else {
                                 refusedRedirect = true;
                                 QMetaObject::invokeMethod(raw, &QNetworkReply::abort, Qt::QueuedConnection);
                             }
                         });
        QObject::connect(raw, &QNetworkReply::readyRead, raw, [this, raw, &onData] {
            if (error)
                return;
            try {
                onData(*raw);
            } catch (...) {
                error = std::current_exception();
                // Not from inside the reply's own signal: it reports the abort as a second error then.
                QMetaObject::invokeMethod(raw, &QNetworkReply::abort, Qt::QueuedConnection);
            }
        });
        QObject::connect(raw, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!raw->isFinished())
            loop.exec();
        idle.stop();
        if (error)
            std::rethrow_exception(error);
    }

    std::optional<int> status() const {
        const QVariant value = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        return value.isValid() ? std::optional<int>(value.toInt()) : std::nullopt;
    }
};

using File = UniqueFd;

void writeAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw UpdateFailure(
                QStringLiteral("安装包写不进磁盘（%1）").arg(QString::fromLocal8Bit(std::strerror(errno))));
        data += n;
        size -= n;
    }
}

} // namespace

bool redirectAllowed(const QUrl& from, const QUrl& to) {
    if (to.scheme() == QLatin1String("https"))
        return from.scheme() == QLatin1String("https");
    return to.scheme() == QLatin1String("http") && from.scheme() == QLatin1String("http") &&
           isLoopback(from) && isLoopback(to);
}

QByteArray getFeed(const QUrl& url) {
    Transfer transfer;
    QByteArray body;
    transfer.run(request(url, feedTimeoutMs), [&](QNetworkReply& reply) {
        body += reply.readAll();
        if (body.size() > maxFeedBytes)
            throw UpdateFailure(QStringLiteral("更新清单大得不像话，没有读"));
    });
    if (const auto problem = transportProblem(*transfer.reply, transfer.refusedRedirect, transfer.redirects))
        throw UpdateFailure(*problem);
    const auto status = transfer.status();
    if (status && *status != 200)
        throw UpdateFailure(QStringLiteral("更新清单取不到（HTTP %1）").arg(*status));
    if (transfer.reply->error() != QNetworkReply::NoError)
        throw UpdateFailure(transportText(*transfer.reply, false));
    if (!status)
        throw UpdateFailure(QStringLiteral("更新清单取不到（HTTP 0）"));
    body += transfer.reply->readAll();
    if (body.size() > maxFeedBytes)
        throw UpdateFailure(QStringLiteral("更新清单大得不像话，没有读"));
    return body;
}

QString fetch(const UpdateInfo& info, const QUrl& url, const QString& directory, const Progress& progress) {
    if (!QDir().mkpath(directory))
        throw UpdateFailure(QStringLiteral("更新目录建不起来：%1").arg(directory));
    const QString target = directory + QStringLiteral("/SenvikConnector-%1.dmg").arg(info.build);
    QFile::remove(target);

    std::unique_ptr<File> file;
    std::vector<char> buffer(static_cast<size_t>(writeBufferBytes));
    qint64 buffered = 0;
    qint64 received = 0;
    std::optional<qint64> total;
    qint64 announced = 0;
    const qint64 limit = info.size && *info.size >= 0 ? *info.size : maxImageBytes;
    auto lastReport = std::chrono::steady_clock::now();
    const QByteArray localTarget = QFile::encodeName(target);

    auto flush = [&] {
        writeAll(file->get(), buffer.data(), buffered);
        received += buffered;
        buffered = 0;
    };
    // Status, length and the file are settled once, at the first piece of the body.
    auto begin = [&](Transfer& transfer) {
        if (transfer.status() != 200)
            throw UpdateFailure(QStringLiteral("安装包下载不下来"));
        const QVariant length = transfer.reply->header(QNetworkRequest::ContentLengthHeader);
        announced = length.isValid() ? length.toLongLong() : 0;
        total = announced >= 1 ? std::optional<qint64>(announced) : info.size;
        if (announced > limit)
            throw UpdateFailure(QStringLiteral("安装包下载不下来"));
        const int fd =
            ::open(localTarget.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0)
            throw UpdateFailure(QStringLiteral("安装包存不下来"));
        file = std::make_unique<File>(fd);
    };

    try {
        Transfer transfer;
        transfer.run(request(url, downloadTimeoutMs), [&](QNetworkReply& reply) {
            if (!file)
                begin(transfer);
            for (;;) {
                const qint64 n = reply.read(buffer.data() + buffered, writeBufferBytes - buffered);
                if (n < 0)
                    throw UpdateFailure(transportText(reply, false));
                if (n == 0)
                    break;
                buffered += n;
                if (received + buffered > limit)
                    throw UpdateFailure(QStringLiteral("安装包下载不下来"));
                if (buffered >= writeBufferBytes) {
                    flush();
                    const auto now = std::chrono::steady_clock::now();
                    if (now - lastReport >= std::chrono::milliseconds(progressIntervalMs)) {
                        progress(received, total);
                        lastReport = now;
                    }
                }
            }
        });
        if (const auto problem =
                transportProblem(*transfer.reply, transfer.refusedRedirect, transfer.redirects))
            throw UpdateFailure(*problem);
        const auto status = transfer.status();
        if (status && *status != 200)
            throw UpdateFailure(QStringLiteral("安装包下载不下来"));
        if (transfer.reply->error() != QNetworkReply::NoError)
            throw UpdateFailure(transportText(*transfer.reply, false));
        if (!status)
            throw UpdateFailure(QStringLiteral("安装包下载不下来"));
        if (!file)
            begin(transfer); // an empty body
        flush();
        // A connection closed before the announced length is a broken download, not a short image.
        if (announced > 0 && received != announced)
            throw UpdateFailure(QStringLiteral("更新服务器中途断开了连接"));
        progress(received, total);
        file->close();
        return target;
    } catch (...) {
        file.reset();
        QFile::remove(target);
        throw;
    }
}

QString sha256(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw UpdateFailure(QStringLiteral("安装包读不出来"));
    File file(fd);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw UpdateFailure(QStringLiteral("安装包读不出来"));
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw UpdateFailure(QStringLiteral("安装包读不出来"));
        if (n == 0)
            break;
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(n));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context.get(), digest, &size);
    QString hex;
    hex.reserve(static_cast<qsizetype>(size) * 2);
    for (unsigned int i = 0; i < size; ++i)
        hex += QString::asprintf("%02x", digest[i]);
    return hex;
}

std::array<qint64, 3> versionTriple(const QString& text) {
    std::array<qint64, 3> triple{0, 0, 0};
    size_t place = 0;
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+$"));
    for (const QString& piece : text.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        if (place == triple.size())
            break;
        bool ok = false;
        const qint64 value = piece.toLongLong(&ok);
        if (ok && decimal.match(piece).hasMatch())
            triple[place++] = value;
    }
    return triple;
}

bool versionAtLeast(const std::array<qint64, 3>& system, const QString& required) {
    return system >= versionTriple(required);
}

#if !defined(__APPLE__)
namespace {

// One value of the distribution's os-release file, quotes taken off; empty when absent.
QString osRelease(const QByteArray& key) {
    QFile release(QStringLiteral("/etc/os-release"));
    if (!release.open(QIODevice::ReadOnly))
        release.setFileName(QStringLiteral("/usr/lib/os-release"));
    if (!release.isOpen() && !release.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : release.readAll().split('\n')) {
        if (!line.startsWith(key + '='))
            continue;
        QString value = QString::fromUtf8(line.mid(key.size() + 1)).trimmed();
        if (value.size() >= 2 && (value.startsWith(QLatin1Char('"')) || value.startsWith(QLatin1Char('\''))))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

} // namespace
#endif

std::array<qint64, 3> systemVersion() {
#if defined(__APPLE__)
    const QOperatingSystemVersion current = QOperatingSystemVersion::current();
    return {current.majorVersion(), std::max(0, current.minorVersion()), std::max(0, current.microVersion())};
#else
    return versionTriple(osRelease("VERSION_ID"));
#endif
}

QString systemName() {
#if defined(__APPLE__)
    return QStringLiteral("macOS");
#else
    const QString name = osRelease("NAME");
    return name.isEmpty() ? QStringLiteral("Linux") : name;
#endif
}

bool systemAtLeast(const QString& required) {
    return versionAtLeast(systemVersion(), required);
}

} // namespace UpdateDownload
