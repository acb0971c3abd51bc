#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

// The connector as a real process in a throw-away home, against the stand-in bridge, observed through its
// probe file and /proc.
namespace BenchProcess {

using namespace std::chrono_literals;

// The system's monotonic clock in milliseconds: the probe's time stamps use the same clock.
qint64 nowMs();

struct Event {
    qint64 atMs;
    QString what;
};

class World {
public:
    // `probeEnvironment` goes to the connector only (e.g. ORVANE_CONNECTOR_PROBE_TIMERS).
    explicit World(const QProcessEnvironment& probeEnvironment = {});
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    bool valid() const { return valid_; }

    // The scenario the stand-in answers from (its lively default after the first start); a change is read
    // by its next request.
    nlohmann::json readScenario() const;
    void writeScenario(const nlohmann::json& scenario) const;
    bool startBridge();
    void stopBridge();
    bool bridgeRunning() const;

    // The connector in menu-bar mode; false when it does not start.
    bool startConnector();
    qint64 connectorPid() const;
    bool connectorRunning() const;
    // A second launch without --menubar, as opening the application again: the running instance shows its
    // window. Waits for that launch to end.
    bool launchAgain();

    std::vector<Event> events() const;
    // The first event at or after `from` (an index into events()) that starts with `prefix`.
    std::optional<Event> waitFor(const QString& prefix, std::size_t from,
                                 std::chrono::milliseconds patience) const;

private:
    QProcess* spawn(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
                    const QString& log);

    QTemporaryDir dir_;
    bool valid_ = false;
    QString home_, dataDir_, probe_, scenario_;
    QProcessEnvironment env_;
    QProcessEnvironment connectorEnv_;
    QProcess* bridge_ = nullptr;
    QProcess* connector_ = nullptr;
    std::vector<std::unique_ptr<QProcess>> children_;
};

// From /proc: resident memory in KiB, user+system time in clock ticks, open descriptors; -1 when unreadable.
long residentKiB(qint64 pid);
int threadCount(qint64 pid);
long cpuTicks(qint64 pid);
int openDescriptors(qint64 pid);
// What each open descriptor refers to ("socket:[123]", "/dev/null", "anon_inode:[eventfd]").
QStringList descriptorTargets(qint64 pid);
long ticksPerSecond();

// One figure as a line: "<measure>: <value> (target <target>) met|NOT MET". Returns `met`.
bool report(const char* measure, const QString& value, const char* target, bool met);

void sleepFor(std::chrono::milliseconds span);
// The load averages of the machine, for reading the figures of a shared machine.
QString loadAverage();

} // namespace BenchProcess
