#include "ConnectorProcess.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QThread>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace BenchProcess {

qint64 nowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

World::World(const QProcessEnvironment& probeEnvironment) {
    if (!dir_.isValid())
        return;
    home_ = dir_.filePath(QStringLiteral("home"));
    dataDir_ = home_ + QStringLiteral("/Library/Application Support/SenvikAgentBridge");
    probe_ = dir_.filePath(QStringLiteral("probe"));
    // The stand-in writes its lively default here at its first start; benches edit it from then on.
    scenario_ = dataDir_ + QStringLiteral("/standin-scenario.json");
    const QString runtime = dir_.filePath(QStringLiteral("run"));
    valid_ = QDir().mkpath(dataDir_) && QDir().mkpath(runtime) &&
             QFile::setPermissions(dataDir_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
             QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env_.insert(QStringLiteral("HOME"), home_);
    env_.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env_.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env_.insert(QStringLiteral("ORVANE_CONNECTOR_PROBE"), probe_);
    connectorEnv_ = env_;
    for (const QString& key : probeEnvironment.keys())
        connectorEnv_.insert(key, probeEnvironment.value(key));
}

World::~World() {
    // The last started ends first.
    while (!children_.empty()) {
        QProcess& p = *children_.back();
        if (p.state() != QProcess::NotRunning) {
            p.terminate();
            if (!p.waitForFinished(5000))
                p.kill();
            p.waitForFinished(2000);
        }
        children_.pop_back();
    }
}

QProcess* World::spawn(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
                       const QString& log) {
    auto& p = *children_.emplace_back(std::make_unique<QProcess>());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardOutputFile(dir_.filePath(log), QIODevice::Append);
    p.start(program, arguments);
    if (!p.waitForStarted(5000))
        return nullptr;
    return &p;
}

nlohmann::json World::readScenario() const {
    QFile file(scenario_);
    if (!file.open(QIODevice::ReadOnly))
        return nlohmann::json::object();
    return nlohmann::json::parse(file.readAll().toStdString(), nullptr, false);
}

void World::writeScenario(const nlohmann::json& scenario) const {
    QSaveFile file(scenario_);
    if (!file.open(QIODevice::WriteOnly))
        return;
    const std::string bytes = scenario.dump();
    file.write(bytes.data(), qint64(bytes.size()));
    file.commit();
}

bool World::startBridge() {
    bridge_ = spawn(QStringLiteral(BRIDGE_STANDIN),
                    {dir_.filePath(QStringLiteral("main.ts")), QStringLiteral("start"),
                     QStringLiteral("--data-dir"), dataDir_},
                    env_, QStringLiteral("bridge.log"));
    if (!bridge_)
        return false;
    // Ready once its socket is there.
    for (const qint64 end = nowMs() + 10'000; nowMs() < end; sleepFor(20ms))
        if (QFile::exists(dataDir_ + QStringLiteral("/admin.sock")))
            return true;
    return false;
}

void World::stopBridge() {
    if (!bridge_)
        return;
    bridge_->terminate();
    if (!bridge_->waitForFinished(5000))
        bridge_->kill();
    bridge_->waitForFinished(2000);
    bridge_ = nullptr;
}

bool World::bridgeRunning() const {
    return bridge_ && bridge_->state() == QProcess::Running;
}

bool World::startConnector() {
    const QString program = QStringLiteral(CONNECTOR_BUILD_DIR) +
                            QStringLiteral("/Orvane 连接器.app/Contents/MacOS/OrvaneConnector");
    connector_ =
        spawn(program, {QStringLiteral("--menubar")}, connectorEnv_, QStringLiteral("connector.log"));
    return connector_ != nullptr;
}

qint64 World::connectorPid() const {
    return connector_ ? connector_->processId() : -1;
}

bool World::connectorRunning() const {
    return connector_ && connector_->state() == QProcess::Running;
}

bool World::launchAgain() {
    const QString program = QStringLiteral(CONNECTOR_BUILD_DIR) +
                            QStringLiteral("/Orvane 连接器.app/Contents/MacOS/OrvaneConnector");
    QProcess* again = spawn(program, {}, env_, QStringLiteral("again.log"));
    return again && again->waitForFinished(30'000) && again->exitStatus() == QProcess::NormalExit;
}

std::vector<Event> World::events() const {
    std::vector<Event> out;
    QFile file(probe_);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype space = line.indexOf(' ');
        if (space > 0)
            out.push_back({line.left(space).toLongLong(), QString::fromUtf8(line.mid(space + 1))});
    }
    return out;
}

std::optional<Event> World::waitFor(const QString& prefix, std::size_t from,
                                    std::chrono::milliseconds patience) const {
    for (const qint64 end = nowMs() + patience.count();; sleepFor(5ms)) {
        const std::vector<Event> all = events();
        for (std::size_t i = from; i < all.size(); ++i)
            if (all[i].what.startsWith(prefix))
                return all[i];
        if (nowMs() >= end)
            return std::nullopt;
    }
}

namespace {
QByteArray readProc(qint64 pid, const char* name) {
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

long residentKiB(qint64 pid) {
    for (const QByteArray& line : readProc(pid, "status").split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

int threadCount(qint64 pid) {
    for (const QByteArray& line : readProc(pid, "status").split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return -1;
}

long cpuTicks(qint64 pid) {
    const QByteArray stat = readProc(pid, "stat");
    // Fields after the command name, which may hold spaces: state is field 3, utime 14, stime 15.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields[11].toLong() + fields[12].toLong();
}

int openDescriptors(qint64 pid) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    if (!fds.exists())
        return -1;
    return int(fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

QStringList descriptorTargets(qint64 pid) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    QStringList targets;
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
        char target[512];
        const ssize_t length =
            ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target);
        if (length > 0)
            targets << QString::fromUtf8(target, length) + QStringLiteral(" (") + fd + u')';
    }
    return targets;
}

long ticksPerSecond() {
    return ::sysconf(_SC_CLK_TCK);
}

bool report(const char* measure, const QString& value, const char* target, bool met) {
    std::printf("%s: %s (target %s) %s\n", measure, value.toUtf8().constData(), target,
                met ? "met" : "NOT MET");
    std::fflush(stdout);
    return met;
}

void sleepFor(std::chrono::milliseconds span) {
    QThread::msleep(static_cast<unsigned long>(span.count()));
}

QString loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    const QList<QByteArray> parts = file.readAll().split(' ');
    return QString::fromUtf8(parts.mid(0, 3).join(' '));
}

} // namespace BenchProcess
