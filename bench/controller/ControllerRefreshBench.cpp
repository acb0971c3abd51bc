// One refresh() ("status" and "pairings", decoded into the controller's fields) against the stand-in bridge
// as a child process, measured beside the floor: the same two exchanges by a plain blocking C client.

#include "ConnectorController.h"
#include "ConnectorPaths.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class IdleService : public BackgroundService {
public:
    Status status() const override { return Status::enabled; }
    void registerItem() override {}
    QCoro::Task<void> unregister() override { co_return; }
    void unregisterNow() override {}
};

ConnectorController* controller = nullptr;

QCoro::Task<void> refreshOnce(ConnectorController* c, bool* done, QEventLoop* loop) {
    co_await c->refresh();
    *done = true;
    loop->quit();
}

void runRefresh() {
    bool done = false;
    QEventLoop loop;
    refreshOnce(controller, &done, &loop);
    if (!done)
        loop.exec();
}

// The plain client: connect, one line, read to the end.
std::size_t exchange(const std::string& path, const char* request) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return 0;
    }
    [[maybe_unused]] const ssize_t written = ::write(fd, request, std::strlen(request));
    char buffer[4096];
    std::size_t total = 0;
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        total += static_cast<std::size_t>(n);
    ::close(fd);
    return total;
}

void RawTwoExchanges(benchmark::State& state) {
    const std::string path = ConnectorPaths::adminSocket().toStdString();
    for (auto _ : state) {
        benchmark::DoNotOptimize(exchange(path, "{\"command\":\"status\"}\n"));
        benchmark::DoNotOptimize(exchange(path, "{\"command\":\"pairings\"}\n"));
    }
}

void ControllerRefresh(benchmark::State& state) {
    for (auto _ : state)
        runRefresh();
    if (!controller->running() || controller->pairings().isEmpty())
        state.SkipWithError("the refresh did not read the stand-in");
}

BENCHMARK(RawTwoExchanges)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ControllerRefresh)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Keeps each run's time per iteration so the ratio can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                times[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    // A private HOME before anything reads the connector's locations: the stand-in's data lives there.
    QTemporaryDir home(QStringLiteral("/tmp/orvane-bench-XXXXXX"));
    setenv("HOME", home.path().toUtf8().constData(), 1);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    QProcess standin;
    standin.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    standin.setStandardOutputFile(QProcess::nullDevice());
    standin.start(QStringLiteral(BRIDGE_STANDIN),
                  {QStringLiteral("bridge/src/main.ts"), QStringLiteral("start"), QStringLiteral("--managed"),
                   QStringLiteral("--data-dir"), ConnectorPaths::dataDir()});
    if (!standin.waitForStarted(5000))
        return 1;
    const std::string socket = ConnectorPaths::adminSocket().toStdString();
    for (int i = 0; i < 100 && exchange(socket, "{\"command\":\"status\"}\n") == 0; ++i)
        ::usleep(50'000);

    IdleService service, statusItem;
    const nlohmann::json info = nlohmann::json::object();
    ConnectorController c(Platform{service, statusItem, info});
    c.checkedCliOnLaunch = true; // measure the reading, not the launch check it would start
    controller = &c;
    runRefresh(); // leaves the background-item check behind before measuring

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    if (reporter.times.count("RawTwoExchanges") && reporter.times.count("ControllerRefresh")) {
        const double ratio = reporter.times["ControllerRefresh"] / reporter.times["RawTwoExchanges"];
        std::printf("refresh / raw exchanges: %.2f (target at most 3)\n", ratio);
    }
    standin.terminate();
    standin.waitForFinished(5000);
    return 0;
}
