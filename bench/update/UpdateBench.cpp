// The self-update's throughput against the standard tools, in one run:
//   SHA-256 of a 256 MiB file: sha256() against `openssl dgst -sha256` (target: at least 0.9 of its speed);
//   a 256 MiB loopback download: fetch() against `curl -o` from the same server (target: at least 0.8 of
//   curl's throughput), with fetch's peak RSS growth (target: at most 8 MiB).
// Each figure is the best of three runs.
#include "UpdateDownload.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 fileBytes = qint64(256) << 20;

long peakRssKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A minimal HTTP server on 127.0.0.1 that answers every request with the file, sent by the kernel.
class FileServer {
public:
    explicit FileServer(QByteArray path) : path_(std::move(path)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 8);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~FileServer() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/image.dmg").arg(port_); }

private:
    void serve() {
        while (!stop_) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            char request[4096];
            (void)::read(client, request, sizeof request);
            const int file = ::open(path_.constData(), O_RDONLY | O_CLOEXEC);
            struct stat info {};
            ::fstat(file, &info);
            const QByteArray head =
                "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(qint64(info.st_size)) +
                "\r\nConnection: close\r\n\r\n";
            (void)::write(client, head.constData(), static_cast<size_t>(head.size()));
            off_t offset = 0;
            while (offset < info.st_size)
                if (::sendfile(client, file, &offset, static_cast<size_t>(info.st_size - offset)) <= 0)
                    break;
            ::close(file);
            ::shutdown(client, SHUT_WR);
            ::close(client);
        }
    }

    QByteArray path_;
    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

template <typename F> double bestSeconds(F run) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer clock;
        clock.start();
        if (!run())
            return -1;
        best = std::min(best, clock.nsecsElapsed() / 1e9);
    }
    return best;
}

bool runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QStringLiteral("/tmp/bench-update-XXXXXX"));
    const QString source = dir.filePath(QStringLiteral("source.bin"));
    {
        const int fd =
            ::open(QFile::encodeName(source).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        std::vector<unsigned char> block(1 << 20);
        unsigned state = 12345;
        for (qint64 written = 0; written < fileBytes; written += static_cast<qint64>(block.size())) {
            for (auto& byte : block)
                byte = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 24);
            if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size()))
                return 1;
        }
        ::close(fd);
    }

    FileServer server(QFile::encodeName(source));
    UpdateInfo entry;
    entry.build = 9999;
    entry.size = fileBytes;
    const QString downloads = dir.filePath(QStringLiteral("downloads"));
    int reports = 0;
    const long rssBefore = peakRssKiB();
    const double fetchSeconds = bestSeconds([&] {
        try {
            UpdateDownload::fetch(entry, QUrl(server.url()), downloads,
                                  [&](qint64, std::optional<qint64>) { ++reports; });
            return true;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "fetch failed: %s\n", error.what());
            return false;
        }
    });
    const long rssGrowth = peakRssKiB() - rssBefore;
    const QString curlTarget = dir.filePath(QStringLiteral("curl.bin"));
    const double curlSeconds = bestSeconds([&] {
        return runTool(QStringLiteral("curl"),
                       {QStringLiteral("-s"), QStringLiteral("-o"), curlTarget, server.url()});
    });

    const double oursHash = bestSeconds([&] { return UpdateDownload::sha256(source).size() == 64; });
    const double opensslHash = bestSeconds([&] {
        return runTool(QStringLiteral("openssl"),
                       {QStringLiteral("dgst"), QStringLiteral("-sha256"), source});
    });

    const double mib = fileBytes / 1048576.0;
    std::printf(
        "sha256 of 256 MiB: sha256() %.0f MiB/s, openssl dgst %.0f MiB/s, ratio %.2f (target >= 0.9)\n",
        mib / oursHash, mib / opensslHash, opensslHash / oursHash);
    std::printf(
        "loopback download of 256 MiB: fetch %.0f MiB/s, curl -o %.0f MiB/s, ratio %.2f (target >= 0.8)\n",
        mib / fetchSeconds, mib / curlSeconds, curlSeconds / fetchSeconds);
    std::printf("fetch peak RSS growth %.1f MiB (target <= 8), %d progress reports in 3 downloads\n",
                rssGrowth / 1024.0, reports);
    const bool met =
        opensslHash / oursHash >= 0.9 && curlSeconds / fetchSeconds >= 0.8 && rssGrowth <= 8 * 1024;
    return fetchSeconds > 0 && curlSeconds > 0 && oursHash > 0 && opensslHash > 0 && met ? 0 : 1;
}
