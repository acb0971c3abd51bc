#include "RunningInstances.h"

#include "Bundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace RunningInstances {

namespace {

// /proc/<pid>/exe of a process whose executable was replaced (an update moved a new bundle in place) still
// names the old path, marked as deleted; the bundle at that path is the same application.
QString executableOf(const QString& procDir) {
    QString target = QFile::symLinkTarget(procDir + QStringLiteral("/exe"));
    const QString deleted = QStringLiteral(" (deleted)");
    if (target.endsWith(deleted))
        target.chop(deleted.size());
    return target;
}

// A process that has ended but is not yet reaped keeps its /proc entry: it is no longer running.
bool hasEnded(const QString& procDir) {
    QFile stat(procDir + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    return endedIn(stat.read(4096));
}

} // namespace

bool endedIn(const QByteArray& stat) {
    // The command name in parentheses may itself hold ") ": the state follows the last one.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0 || close + 2 >= stat.size())
        return true;
    const char state = stat.at(close + 2);
    return state == 'Z' || state == 'X' || state == 'x';
}

bool agentIn(const QByteArray& cmdline) {
    QList<QByteArray> arguments = cmdline.split('\0');
    if (!arguments.isEmpty())
        arguments.removeFirst(); // the program itself
    return arguments.contains(QByteArrayLiteral("--agent"));
}

QString homeIn(const QByteArray& environ) {
    for (const QByteArray& entry : environ.split('\0')) {
        if (entry.startsWith("HOME="))
            return QFile::decodeName(entry.mid(5));
    }
    return QString();
}

bool isAgent(const QString& procDir) {
    QFile file(procDir + QStringLiteral("/cmdline"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return agentIn(file.read(1 << 20));
}

std::optional<QString> homeOf(const QString& procDir) {
    QFile environ(procDir + QStringLiteral("/environ"));
    if (!environ.open(QIODevice::ReadOnly))
        return std::nullopt;
    return homeIn(environ.readAll());
}

QList<pid_t> find(const QString& bundleID, pid_t except, const QString& home, const QString& procRoot) {
    QList<pid_t> result;
    QHash<QString, bool> bundleMatches; // bundle path → identifier equals bundleID
    const uid_t user = ::getuid();
    const QStringList entries = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : entries) {
        bool numeric = false;
        const pid_t pid = static_cast<pid_t>(name.toInt(&numeric));
        if (!numeric || pid == except)
            continue;
        const QString procDir = procRoot + QLatin1Char('/') + name;
        struct stat attributes {};
        if (::stat(QFile::encodeName(procDir).constData(), &attributes) != 0 || attributes.st_uid != user)
            continue;
        const QString exe = executableOf(procDir);
        if (exe.isEmpty())
            continue;
        const std::optional<QString> bundle = Bundle::containing(exe);
        if (!bundle)
            continue;
        auto known = bundleMatches.constFind(*bundle);
        if (known == bundleMatches.constEnd())
            known = bundleMatches.insert(*bundle, Bundle::at(*bundle).identifier() == bundleID);
        // A process in agent mode is about to become the bridge, not a second application.
        if (!*known || hasEnded(procDir) || isAgent(procDir))
            continue;
        // An unreadable environment counts as ours: keeping one instance matters more than a rare false
        // match.
        const std::optional<QString> theirs = homeOf(procDir);
        if (theirs && !theirs->isEmpty() && QDir::cleanPath(*theirs) != QDir::cleanPath(home))
            continue;
        result.append(pid);
    }
    return result;
}

} // namespace RunningInstances
