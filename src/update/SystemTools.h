#pragma once

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>

// Runs the system tools the update and the bridge start drive. Only their exit status matters.
namespace SystemTools {

// Runs the program at `path` with `arguments`; output and error go to the null device, input is inherited.
// Returns -1 at once when the program cannot be launched, otherwise its exit status. A process ended by a
// signal reports the signal's number (as the platform's own task API does), whether the signal came from the
// time-out below or from elsewhere: a tool terminated after its time-out gives 15 (SIGTERM).
// After `timeout` seconds a still running program gets SIGTERM; one that ignores it gets SIGKILL
// killGraceSeconds later (status 9), so a wedged tool can never hold its caller forever.
// Never throws; the result is delivered exactly once.
QCoro::Task<int> run(QString path, QStringList arguments, std::optional<double> timeout = std::nullopt);

inline constexpr double killGraceSeconds = 5.0;
inline constexpr double kickstartTimeoutSeconds = 30.0;

// The per-user service manager's command lines for starting (or, with `restart`, restarting) the bridge's
// agent. Pure, so both forms can be checked anywhere.
QStringList launchctlKickstartArguments(bool restart, uid_t uid); // kickstart [-k] gui/<uid>/<agentLabel>
QStringList systemctlKickstartArguments(bool restart);            // --user start|restart <agent unit>

inline const QString launchctlPath = QStringLiteral("/bin/launchctl");
inline const QString systemctlPath = QStringLiteral("/usr/bin/systemctl");

// This OS's service-manager tool and its kickstart arguments (the real user's id on macOS).
QString serviceManagerTool();
QStringList kickstartArguments(bool restart);

// Starts the bridge's agent, or restarts it, through the service manager with a 30-second time-out; returns
// the tool's status. `tool` replaces the service manager's program (tests use a stand-in).
QCoro::Task<int> kickstartAgent(bool restart, QString tool = serviceManagerTool(),
                                double timeout = kickstartTimeoutSeconds);

} // namespace SystemTools
