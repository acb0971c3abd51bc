#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

#include <sys/types.h>

// The running connector applications of this user, found in /proc (Linux has no registry of running
// applications): a process counts when its executable lies in a bundle whose identifier is `bundleID` and it
// does not run in agent mode.
//
// "This user" means the same user id and the same home directory: everything the connector shares between
// its processes (preferences, the bridge's data, the channel to the running instance) lives under the home,
// so a process started with another home is a separate user's connector, not a second instance.
//
// Blocking file reads: call it off the main thread.
namespace RunningInstances {

QList<pid_t> find(const QString& bundleID, pid_t except, const QString& home,
                  const QString& procRoot = QStringLiteral("/proc"));

// True when the process was started in agent mode (`--agent` among its arguments): before its execve into the
// bridge it runs the connector's executable, yet it is no application instance.
bool isAgent(const QString& procDir);

// The home a process was started with (its HOME), or nothing when its environment cannot be read.
std::optional<QString> homeOf(const QString& procDir);

// The readers of the /proc files above, on their contents: whether a "stat" line shows an ended process,
// whether a "cmdline" holds the agent flag, and the HOME of an "environ" (empty when it has none).
bool endedIn(const QByteArray& stat);
bool agentIn(const QByteArray& cmdline);
QString homeIn(const QByteArray& environ);

} // namespace RunningInstances
