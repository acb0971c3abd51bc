#include "LifecycleProbe.h"

#include <QEvent>
#include <QFile>
#include <QTimer>

#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace LifecycleProbe {

void note(const QString& event) {
    static const QByteArray path = qgetenv("ORVANE_CONNECTOR_PROBE");
    if (path.isEmpty())
        return;
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    const QByteArray line = QByteArray::number(qint64(now.count())) + ' ' + event.toUtf8() + '\n';
    // One append per line, so lines of concurrent writers never interleave.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    ::close(fd);
}

std::optional<int> closeWindowAfterMs() {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("ORVANE_CONNECTOR_PROBE_CLOSE_WINDOW_MS", &ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

std::optional<QString> serviceManagerTool() {
    const QString value = qEnvironmentVariable("ORVANE_CONNECTOR_PROBE_SERVICE_MANAGER");
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

std::optional<int> refreshEveryMs() {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("ORVANE_CONNECTOR_PROBE_REFRESH_MS", &ok);
    if (!ok || value <= 0)
        return std::nullopt;
    return value;
}

std::optional<int> minimizeWindowAfterMs() {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("ORVANE_CONNECTOR_PROBE_MINIMIZE_WINDOW_MS", &ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

std::optional<int> hideWindowAfterMs() {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("ORVANE_CONNECTOR_PROBE_HIDE_WINDOW_MS", &ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

namespace {

class TimerWatch : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer)
            note(QStringLiteral("timer ") + QLatin1String(watched->metaObject()->className()) + u' ' +
                 watched->objectName());
        return false;
    }
};

} // namespace

void watchTimers(QObject& application) {
    if (qEnvironmentVariableIntValue("ORVANE_CONNECTOR_PROBE_TIMERS") != 1)
        return;
    application.installEventFilter(new TimerWatch(&application));
}

void startWatchdog(QObject& parent) {
    bool ok = false;
    const int every = qEnvironmentVariableIntValue("ORVANE_CONNECTOR_PROBE_WATCHDOG_MS", &ok);
    if (!ok || every <= 0)
        return;
    auto* timer = new QTimer(&parent);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setObjectName(QStringLiteral("watchdog"));
    // With the main thread's own processor time over the same gap: a stall spent computing is ours, one
    // spent waiting for a processor is the machine's.
    const auto threadMs = [] {
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1.0e6;
    };
    QObject::connect(
        timer, &QTimer::timeout, timer,
        [every, threadMs, last = std::chrono::steady_clock::now(), lastCpu = threadMs()]() mutable {
            const auto now = std::chrono::steady_clock::now();
            const double cpu = threadMs();
            const double late = std::chrono::duration<double, std::milli>(now - last).count() - every;
            const double busy = cpu - lastCpu;
            last = now;
            lastCpu = cpu;
            if (late > 2.0)
                note(QStringLiteral("stall ") + QString::number(late, 'f', 1) + QStringLiteral(" cpu ") +
                     QString::number(busy, 'f', 1));
        });
    timer->start(every);
}

} // namespace LifecycleProbe
