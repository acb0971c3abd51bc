// The connector with its window open against a bridge whose status reply is as large as the admin channel
// takes: 150,000 engines, then a bridgeVersion of almost 16 MiB. Records the main thread's longest stall (the
// connector's watchdog) while it refreshes every second; the target is one frame.
//   bench-hostile [--seconds N]   (per reply; 15 by default)
#include "ConnectorProcess.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace BenchProcess;
using nlohmann::json;

namespace {

constexpr std::size_t replyCap = 16 * 1024 * 1024;

json manyEngines() {
    json list = json::array();
    for (int i = 0; i < 150'000; ++i)
        list.push_back(
            json{{"engine", "engine-" + std::to_string(i)}, {"installed", true}, {"version", "1.0"}});
    return list;
}

// The longest stall noted from event `from` on, and the main thread's computing within it.
std::pair<double, double> longestStall(const World& world, std::size_t from) {
    double stall = 0, computing = 0;
    const std::vector<Event> events = world.events();
    for (std::size_t i = from; i < events.size(); ++i) {
        if (!events[i].what.startsWith(QStringLiteral("stall ")))
            continue;
        const QStringList parts = events[i].what.split(u' ');
        stall = std::max(stall, parts.value(1).toDouble());
        computing = std::max(computing, std::min(parts.value(3).toDouble(), parts.value(1).toDouble()));
    }
    return {stall, computing};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    int seconds = 15;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(3, std::atoi(argv[++i]));

    QProcessEnvironment probes;
    probes.insert(QStringLiteral("ORVANE_CONNECTOR_PROBE_WATCHDOG_MS"), QStringLiteral("5"));
    probes.insert(QStringLiteral("ORVANE_CONNECTOR_PROBE_REFRESH_MS"), QStringLiteral("1000"));
    World world(probes);
    if (!world.valid() || !world.startBridge() || !world.startConnector() ||
        !world.waitFor(QStringLiteral("refreshed"), 0, 30s)) {
        std::printf("hostile: the stand-in bridge or the connector did not start\n");
        return 1;
    }
    std::printf("hostile: load average at the start: %s\n", qPrintable(loadAverage()));
    // The window stays open: it refreshes its page with every change.
    if (!world.launchAgain()) {
        std::printf("hostile: the window did not open\n");
        return 1;
    }
    sleepFor(3s);

    const json lively = world.readScenario();
    json engines = lively;
    engines["status"]["engines"] = manyEngines();
    json version = lively;
    version["status"]["bridgeVersion"] = "";
    version["status"]["bridgeVersion"] =
        std::string(replyCap - version["status"].dump().size() - 4096, 'v'); // room for the reply's frame
    bool all = true;
    for (const auto& [name, scenario] :
         {std::pair{"150,000 engines", engines}, std::pair{"16 MiB bridgeVersion", version}}) {
        std::printf("hostile: %s, status reply of %.1f MiB\n", name,
                    double(scenario["status"].dump().size()) / (1024.0 * 1024.0));
        const std::size_t from = world.events().size();
        world.writeScenario(scenario);
        sleepFor(std::chrono::seconds(seconds));
        if (!world.connectorRunning()) {
            std::printf("hostile: the connector ended\n");
            return 1;
        }
        const auto [stall, computing] = longestStall(world, from);
        int refreshes = 0;
        const std::vector<Event> events = world.events();
        for (std::size_t i = from; i < events.size(); ++i)
            refreshes += events[i].what.endsWith(QStringLiteral("refreshed")) ? 1 : 0;
        const QByteArray measure =
            QStringLiteral("longest main-thread stall, %1").arg(QLatin1String(name)).toUtf8();
        all &= report(measure.constData(),
                      QStringLiteral("%1 ms (%2 ms computing; %3 refreshes, resident %4 MiB)")
                          .arg(stall, 0, 'f', 1)
                          .arg(computing, 0, 'f', 1)
                          .arg(refreshes)
                          .arg(double(residentKiB(world.connectorPid())) / 1024.0, 0, 'f', 0),
                      "<= 16 ms", stall <= 16.0);
        world.writeScenario(lively);
        sleepFor(3s);
    }
    return all ? 0 : 1;
}
