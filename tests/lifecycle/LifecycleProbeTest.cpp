// The probe's timer and stall notes, which the process benchmarks read: what they record, and that nothing
// is recorded while their variables are unset.
#include "LifecycleProbe.h"
#include "RunTask.h"

#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// One probe file for the whole process: the probe reads its variable once.
QString probeFile() {
    static const QString path = QStringLiteral("/tmp/orvane-probe-test-%1").arg(::getpid());
    ::setenv("ORVANE_CONNECTOR_PROBE", path.toUtf8().constData(), 1);
    return path;
}

// The events noted since the file was emptied, without their time stamps.
QStringList events() {
    QFile file(probeFile());
    QStringList lines;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty())
                lines << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
    return lines;
}

void emptyProbe() {
    QFile::remove(probeFile());
}

class TimerOwner : public QObject {
public:
    using QObject::QObject;
    int fired = 0;

protected:
    void timerEvent(QTimerEvent*) override { ++fired; }
};

TEST(LifecycleProbe, TimerWatchNamesEachFiringOnlyWhenAsked) {
    struct Case {
        const char* value;
        bool noted;
    };
    for (const Case& c : {Case{"1", true}, Case{nullptr, false}, Case{"0", false}}) {
        SCOPED_TRACE(c.value ? c.value : "unset");
        emptyProbe();
        if (c.value)
            ::setenv("ORVANE_CONNECTOR_PROBE_TIMERS", c.value, 1);
        else
            ::unsetenv("ORVANE_CONNECTOR_PROBE_TIMERS");
        TimerOwner owner;
        owner.setObjectName(QStringLiteral("refresh pause"));
        LifecycleProbe::watchTimers(owner);
        owner.startTimer(5);
        ASSERT_TRUE(TestSupport::spinUntil([&] { return owner.fired >= 3; }, 10s));
        const QStringList noted = events().filter(QStringLiteral("timer "));
        if (c.noted) {
            EXPECT_GE(noted.size(), 3);
            // The class as the meta-object system knows it (this helper declares no Q_OBJECT of its own).
            EXPECT_EQ(noted.value(0).toStdString(), "timer QObject refresh pause");
        } else {
            EXPECT_TRUE(noted.isEmpty()) << noted.join(u'\n').toStdString();
        }
    }
    ::unsetenv("ORVANE_CONNECTOR_PROBE_TIMERS");
}

// The longest "stall <ms> cpu <ms>" noted.
std::pair<double, double> longestStall() {
    std::pair<double, double> longest{0, 0};
    for (const QString& event : events().filter(QStringLiteral("stall "))) {
        const QStringList parts = event.split(u' ');
        if (parts.value(1).toDouble() > longest.first)
            longest = {parts.value(1).toDouble(), parts.value(3).toDouble()};
    }
    return longest;
}

// The main thread held for 80 ms, computing or asleep: the stall is noted either way, and its processor share
// tells the two apart.
TEST(LifecycleProbe, WatchdogNotesAStallAndHowMuchOfItWasComputing) {
    struct Case {
        bool computing;
    };
    for (const Case& c : {Case{true}, Case{false}}) {
        SCOPED_TRACE(c.computing ? "computing" : "asleep");
        emptyProbe();
        ::setenv("ORVANE_CONNECTOR_PROBE_WATCHDOG_MS", "5", 1);
        QObject parent;
        LifecycleProbe::startWatchdog(parent);
        TestSupport::spinFor(50ms);
        if (c.computing) { // 80 ms of this thread's own processor time, however loaded the machine
            const auto threadCpuMs = [] {
                timespec t{};
                ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
                return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
            };
            for (const double end = threadCpuMs() + 80; threadCpuMs() < end;) {
            }
        } else {
            ::usleep(80'000);
        }
        TestSupport::spinFor(50ms);
        const auto [late, cpu] = longestStall();
        EXPECT_GE(late, 70.0);
        if (c.computing) {
            EXPECT_GE(cpu, 70.0);
        } else {
            EXPECT_LT(cpu, 20.0);
        }
    }
    ::unsetenv("ORVANE_CONNECTOR_PROBE_WATCHDOG_MS");
    emptyProbe();
    QObject parent;
    LifecycleProbe::startWatchdog(parent);
    EXPECT_TRUE(parent.findChildren<QTimer*>().isEmpty()) << "no watchdog unless asked";
}

} // namespace
