#include "SystemTools.h"

#include "ConnectorPaths.h"
#include "SystemdUnit.h"

#include <QProcess>
#include <QTimer>

#include <coroutine>
#include <memory>
#include <unistd.h>
#include <utility>

namespace SystemTools {

namespace {

// The one result of a run. The waiting coroutine resumes from the event loop, never inside the QProcess
// signal that settled it, so the process can be deleted right after.
struct Outcome {
    std::optional<int> status;
    std::coroutine_handle<> waiter;

    void settle(int value) {
        if (status)
            return; // a crash reports both errorOccurred and finished: the first word counts
        status = value;
        if (auto handle = std::exchange(waiter, {}))
            QTimer::singleShot(0, [handle] { handle.resume(); });
    }
};

struct Settled {
    std::shared_ptr<Outcome> outcome;
    bool await_ready() const noexcept { return outcome->status.has_value(); }
    void await_suspend(std::coroutine_handle<> handle) noexcept { outcome->waiter = handle; }
    int await_resume() const noexcept { return *outcome->status; }
};

std::chrono::milliseconds toMilliseconds(double seconds) {
    return std::chrono::milliseconds(static_cast<long long>(std::max(0.0, seconds) * 1000.0));
}

} // namespace

QCoro::Task<int> run(QString path, QStringList arguments, std::optional<double> timeout) {
    auto outcome = std::make_shared<Outcome>();
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    process->setProgram(path);
    process->setArguments(arguments);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->setInputChannelMode(QProcess::ForwardedInputChannel);

    QProcess* raw = process.get();
    QObject::connect(raw, &QProcess::errorOccurred, raw, [outcome](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            outcome->settle(-1);
    });
    // Qt reports a signalled child as CrashExit with the signal's number as exitCode, so one expression
    // serves both ways of ending: an exit status, or the number of the signal that ended it.
    QObject::connect(raw, &QProcess::finished, raw,
                     [outcome](int exitCode, QProcess::ExitStatus) { outcome->settle(exitCode); });
    if (timeout) {
        auto* term = new QTimer(raw);
        term->setSingleShot(true);
        term->setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
        term->setInterval(toMilliseconds(*timeout));
        auto* kill = new QTimer(raw);
        kill->setSingleShot(true);
        kill->setTimerType(Qt::PreciseTimer);
        kill->setInterval(toMilliseconds(killGraceSeconds));
        QObject::connect(raw, &QProcess::started, term, qOverload<>(&QTimer::start));
        QObject::connect(term, &QTimer::timeout, raw, [raw, kill] {
            if (raw->state() != QProcess::NotRunning) {
                raw->terminate();
                kill->start();
            }
        });
        QObject::connect(kill, &QTimer::timeout, raw, [raw] {
            if (raw->state() != QProcess::NotRunning)
                raw->kill();
        });
    }

    process->start();
    // Named, not a temporary: GCC 12 destroys temporaries inside a co_await operand twice.
    Settled settled{outcome};
    const int status = co_await settled;
    co_return status;
}

QStringList launchctlKickstartArguments(bool restart, uid_t uid) {
    QStringList arguments{QStringLiteral("kickstart")};
    if (restart)
        arguments << QStringLiteral("-k");
    arguments << QStringLiteral("gui/%1/%2").arg(uid).arg(ConnectorPaths::agentLabel);
    return arguments;
}

QStringList systemctlKickstartArguments(bool restart) {
    return {QStringLiteral("--user"), restart ? QStringLiteral("restart") : QStringLiteral("start"),
            SystemdUnit::forLabel(ConnectorPaths::agentLabel)};
}

QString serviceManagerTool() {
#if defined(__APPLE__)
    return launchctlPath;
#else
    return systemctlPath;
#endif
}

QStringList kickstartArguments(bool restart) {
#if defined(__APPLE__)
    return launchctlKickstartArguments(restart, getuid());
#else
    return systemctlKickstartArguments(restart);
#endif
}

QCoro::Task<int> kickstartAgent(bool restart, QString tool, double timeout) {
    const QStringList arguments = kickstartArguments(restart);
    QCoro::Task<int> task = run(tool, arguments, timeout);
    co_return co_await std::move(task);
}

} // namespace SystemTools
