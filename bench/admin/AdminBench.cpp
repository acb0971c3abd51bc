// The admin channel against the stand-in bridge: an exchange through BridgeAdmin (worker and resume on the
// main thread) against a plain blocking socket client doing the same, and the main thread's longest stall
// while 100 exchanges run at once. The same pair against a minimal fixed-reply server in this process shows
// the client's own overhead, which the stand-in's latency would hide.
#include "BridgeAdmin.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

QString socketPath;
QString minimalPath;
constexpr int burstSize = 100;

// Answers every connection at once with one fixed status reply, on its own thread: the floor of an exchange.
class MinimalServer {
public:
    explicit MinimalServer(const std::string& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.data(), std::min(path.size(), sizeof address.sun_path - 1));
        ::unlink(path.c_str());
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 128) != 0)
            throw std::runtime_error("minimal server");
        thread_ = std::thread([this] { serve(); });
    }
    ~MinimalServer() {
        stopping_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
        ::unlink(path_.c_str());
    }

private:
    void serve() {
        static const std::string reply =
            R"({"ok":true,"result":{"running":true,"port":43110,"bridgeVersion":"1.0.0","openRuns":0}})"
            "\n";
        while (!stopping_) {
            const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            char buffer[4096];
            for (ssize_t got; (got = ::read(client, buffer, sizeof buffer)) > 0;)
                if (std::memchr(buffer, '\n', static_cast<std::size_t>(got)))
                    break;
            [[maybe_unused]] const ssize_t sent = ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::close(client);
        }
    }

    std::string path_;
    int fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The baseline: the same exchange, blocking, on the calling thread.
json plainStatus(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), std::min(path.size(), sizeof address.sun_path - 1));
    static const std::string request = "{\"command\":\"status\"}\n";
    std::string reply;
    bool ok =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
    char buffer[4096];
    for (ssize_t got; ok && (got = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0)
            ok = false;
        else
            reply.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (!ok)
        throw std::runtime_error("exchange");
    json decoded = json::parse(reply);
    if (decoded.value("ok", false) != true)
        throw std::runtime_error("refused");
    return decoded.value("result", json());
}

struct Pending {
    QEventLoop loop;
    bool done = false;
    int failures = 0;
};

QCoro::Task<void> statusOnce(QString path, Pending* pending) {
    try {
        json result = co_await BridgeAdmin::requestAt(path, QStringLiteral("status"));
        benchmark::DoNotOptimize(result);
    } catch (...) {
        ++pending->failures;
    }
    pending->done = true;
    pending->loop.quit();
}

// Starts every request before awaiting the first, as several refreshes and actions would.
QCoro::Task<void> burst(QString path, int count, Pending* pending) {
    std::vector<QCoro::Task<json>> tasks;
    tasks.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        tasks.push_back(BridgeAdmin::requestAt(path, QStringLiteral("status")));
    for (auto& task : tasks) {
        try {
            json result = co_await std::move(task);
            benchmark::DoNotOptimize(result);
        } catch (...) {
            ++pending->failures;
        }
    }
    pending->done = true;
    pending->loop.quit();
}

void waitFor(Pending& pending) {
    if (!pending.done)
        pending.loop.exec();
}

void plainLoop(benchmark::State& state, const QString& at) {
    const std::string path = at.toStdString();
    for (auto _ : state)
        benchmark::DoNotOptimize(plainStatus(path));
}

void adminLoop(benchmark::State& state, const QString& at) {
    int failures = 0;
    for (auto _ : state) {
        Pending pending;
        statusOnce(at, &pending);
        waitFor(pending);
        failures += pending.failures;
    }
    if (failures > 0)
        state.SkipWithError("some exchanges failed");
}

// The longest gap between the ticks of a 1 ms timer on the main thread while one burst runs.
double longestStallDuringBurst(int& failures) {
    Pending pending;
    auto last = Clock::now();
    double gap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        gap = std::max(gap, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    });
    ticker.start(1);
    last = Clock::now();
    burst(socketPath, burstSize, &pending);
    waitFor(pending);
    ticker.stop();
    failures += pending.failures;
    return std::max(gap, std::chrono::duration<double, std::milli>(Clock::now() - last).count());
}

// Reports the median burst's longest stall and the worst one: on a shared machine a single burst can lose the
// processor to other programs, which says nothing about the client.
void BM_MainThreadStallDuringBurst(benchmark::State& state) {
    int failures = 0;
    longestStallDuringBurst(failures); // the pool starts its threads once; that is not a stall of ours
    std::vector<double> stalls;
    for (auto _ : state)
        stalls.push_back(longestStallDuringBurst(failures));
    std::sort(stalls.begin(), stalls.end());
    state.counters["stall_ms"] = stalls[stalls.size() / 2];
    state.counters["worst_stall_ms"] = stalls.back();
    state.counters["exchanges"] = burstSize;
    if (failures > 0)
        state.SkipWithError("some exchanges failed");
}

void BM_PlainSocketStatus(benchmark::State& state) {
    plainLoop(state, socketPath);
}
void BM_BridgeAdminStatus(benchmark::State& state) {
    adminLoop(state, socketPath);
}
void BM_PlainSocketMinimal(benchmark::State& state) {
    plainLoop(state, minimalPath);
}
void BM_BridgeAdminMinimal(benchmark::State& state) {
    adminLoop(state, minimalPath);
}

BENCHMARK(BM_PlainSocketStatus)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BridgeAdminStatus)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PlainSocketMinimal)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BridgeAdminMinimal)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_MainThreadStallDuringBurst)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(30);

// Keeps what the summary needs while printing as usual.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
                times_[run.run_name.function_name] = run.GetAdjustedRealTime();
                if (auto stall = run.counters.find("stall_ms"); stall != run.counters.end())
                    stall_ = stall->second.value;
                if (auto worst = run.counters.find("worst_stall_ms"); worst != run.counters.end())
                    worstStall_ = worst->second.value;
            }
        ConsoleReporter::ReportRuns(runs);
    }

    void printSummary() const {
        const auto plain = times_.find("BM_PlainSocketStatus");
        const auto admin = times_.find("BM_BridgeAdminStatus");
        if (plain != times_.end() && admin != times_.end())
            std::printf(
                "admin exchange: BridgeAdmin %.1f us, plain socket %.1f us, ratio %.2f (target <= 1.5)\n",
                admin->second, plain->second, admin->second / plain->second);
        const auto plainMin = times_.find("BM_PlainSocketMinimal");
        const auto adminMin = times_.find("BM_BridgeAdminMinimal");
        if (plainMin != times_.end() && adminMin != times_.end())
            std::printf(
                "admin exchange overhead against a fixed-reply server: BridgeAdmin %.1f us, plain socket "
                "%.1f us, overhead %.1f us (target <= 50 us) %s\n",
                adminMin->second, plainMin->second, adminMin->second - plainMin->second,
                adminMin->second - plainMin->second <= 50.0 ? "met" : "NOT MET");
        if (stall_ >= 0)
            std::printf(
                "main thread: longest stall %.2f ms during %d concurrent exchanges, median of the bursts "
                "(target < 5 ms); worst burst %.2f ms\n",
                stall_, burstSize, worstStall_);
    }

private:
    std::map<std::string, double> times_;
    double stall_ = -1;
    double worstStall_ = -1;
};

#ifdef BRIDGE_STANDIN
// The stand-in bridge as a child process with its own data directory and home.
class Standin {
public:
    bool start() {
        if (!dir_.isValid())
            return false;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), dir_.path());
        environment.remove(QStringLiteral("ORVANE_STANDIN_SCENARIO"));
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(dir_.filePath(QStringLiteral("standin.log")));
        process_.start(QStringLiteral(BRIDGE_STANDIN),
                       {dir_.filePath(QStringLiteral("main.ts")), QStringLiteral("start"),
                        QStringLiteral("--data-dir"), dir_.filePath(QStringLiteral("data"))});
        if (!process_.waitForStarted(5000))
            return false;
        const std::string path = socket().toStdString();
        for (const auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;) {
            try {
                plainStatus(path);
                return true;
            } catch (...) {
                if (process_.state() == QProcess::NotRunning)
                    return false;
                QThread::msleep(50);
            }
        }
        return false;
    }

    QString socket() const { return dir_.filePath(QStringLiteral("data/admin.sock")); }

    ~Standin() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(3000);
    }

private:
    QTemporaryDir dir_{QStringLiteral("/tmp/orvane-bench-XXXXXX")};
    QProcess process_;
};
#endif

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
#ifndef BRIDGE_STANDIN
    std::fprintf(stderr,
                 "bench-admin: the stand-in bridge was not built, so there is nothing to measure against\n");
    return 1;
#else
    Standin standin;
    if (!standin.start()) {
        std::fprintf(stderr, "bench-admin: the stand-in bridge did not start\n");
        return 1;
    }
    socketPath = standin.socket();
    QTemporaryDir minimalDir(QStringLiteral("/tmp/orvane-bench-XXXXXX"));
    minimalPath = minimalDir.filePath(QStringLiteral("admin.sock"));
    MinimalServer minimal(minimalPath.toStdString());
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary();
    benchmark::Shutdown();
    return 0;
#endif
}
