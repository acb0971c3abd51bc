#include "LinuxWorkspace.h"

#include "Async.h"
#include "Bundle.h"
#include "ConnectorPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <climits>
#include <unistd.h>

namespace {

// The executable a process runs; the kernel marks one replaced on disk (as after an update) with "
// (deleted)".
std::optional<QString> executableOf(const QString& processDir) {
    char buffer[PATH_MAX];
    const QByteArray link = (processDir + QStringLiteral("/exe")).toUtf8();
    const ssize_t length = ::readlink(link.constData(), buffer, sizeof buffer - 1);
    if (length <= 0)
        return std::nullopt; // another user's process, or one that just ended
    QString path = QString::fromUtf8(buffer, length);
    if (path.endsWith(QStringLiteral(" (deleted)")))
        path.chop(10);
    return path;
}

// The .app bundles directly in `folder` and in its plain subfolders, by name (like /Applications/Utilities).
QStringList bundlesIn(const QString& folder) {
    QStringList result;
    const QDir dir(folder);
    const auto filters = QDir::Dirs | QDir::NoDotAndDotDot;
    for (const QString& name : dir.entryList(filters, QDir::Name)) {
        if (name.endsWith(QStringLiteral(".app"))) {
            result << dir.filePath(name);
            continue;
        }
        const QDir sub(dir.filePath(name));
        for (const QString& inner : sub.entryList({QStringLiteral("*.app")}, filters, QDir::Name))
            result << sub.filePath(inner);
    }
    return result;
}

QString findProgram(const QString& name) {
    if (QDir::isAbsolutePath(name)) {
        const QFileInfo info(name);
        return info.isFile() && info.isExecutable() ? name : QString();
    }
    return QStandardPaths::findExecutable(name);
}

} // namespace

QStringList LinuxWorkspace::defaultApplicationFolders() {
    return {ConnectorPaths::home() + QStringLiteral("/Applications"), QStringLiteral("/Applications")};
}

QList<QStringList> LinuxWorkspace::defaultFileManagerOpeners() {
    return {{QStringLiteral("xdg-open")}, {QStringLiteral("gio"), QStringLiteral("open")}};
}

QList<Workspace::RunningApplication> LinuxWorkspace::runningBundles(const QString& procRoot) {
    QList<RunningApplication> result;
    QHash<QString, std::optional<QString>> identifiers; // one Info.plist read per bundle
    const QDir proc(procRoot);
    for (const QString& name : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric)
            continue;
        const auto executable = executableOf(proc.filePath(name));
        if (!executable)
            continue;
        const auto bundle = Bundle::containing(*executable);
        if (!bundle)
            continue;
        auto known = identifiers.find(*bundle);
        if (known == identifiers.end())
            known = identifiers.insert(*bundle, Bundle::at(*bundle).identifier());
        if (*known)
            result << RunningApplication{pid, *bundle, **known};
    }
    std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return result;
}

QList<Workspace::RunningApplication>
LinuxWorkspace::runningApplications(const QString& bundleIdentifier) const {
    QList<RunningApplication> result = runningBundles();
    result.removeIf([&](const RunningApplication& app) { return app.bundleIdentifier != bundleIdentifier; });
    return result;
}

std::optional<QString> LinuxWorkspace::urlForApplication(const QString& bundleIdentifier) const {
    for (const QString& folder : applicationFolders_)
        for (const QString& bundle : bundlesIn(folder))
            if (Bundle::at(bundle).identifier() == bundleIdentifier)
                return QDir::cleanPath(QFileInfo(bundle).absoluteFilePath());
    return std::nullopt;
}

QCoro::Task<void> LinuxWorkspace::openApplication(QString appPath) {
    // Named, not a temporary in the co_await operand: GCC 12 destroys such a lambda's captures twice.
    auto work = [path = std::move(appPath)] { return launch(path, QByteArray()); };
    const std::optional<QString> failure = co_await Async::onWorker(std::move(work));
    if (failure)
        throw Failure(*failure);
}

void LinuxWorkspace::activateFileViewerSelecting(const QStringList& paths) {
    if (paths.isEmpty())
        return;
    // Without a desktop bus binding the file itself cannot be selected: show the folder that holds it, or
    // the nearest one that exists when the file has not been written yet.
    QString folder = QFileInfo(paths.first()).absolutePath();
    while (!QFileInfo(folder).isDir() && folder != QStringLiteral("/"))
        folder = QFileInfo(folder).path();
    for (const QStringList& opener : fileManagerOpeners_) {
        if (opener.isEmpty())
            continue;
        const QString program = findProgram(opener.first());
        if (program.isEmpty())
            continue;
        QProcess::startDetached(program, opener.mid(1) << folder);
        return;
    }
}

std::shared_ptr<Workspace> systemWorkspace() {
    return std::make_shared<LinuxWorkspace>();
}
