#pragma once

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "OpenedBundle.h"

#include <memory>
#include <optional>
#include <stdexcept>

// The desktop's workspace: the applications the user has, and handing them links.
class Workspace {
public:
    // A failed workspace operation: one Chinese description, shown to the user after a prefix of its caller.
    struct Failure : std::runtime_error {
        explicit Failure(const QString& text) : std::runtime_error(text.toStdString()), message(text) {}
        QString message;
    };

    virtual ~Workspace() = default;

    // Delivers `link` to the application bundle at `appPath`, bringing it to the front when `activate`.
    // Fails with Failure when the bundle cannot be read or the application cannot be started.
    virtual QCoro::Task<void> open(QUrl link, QString appPath, bool activate) = 0;

    // The same for a bundle opened (and checked) before: starts exactly that bundle's executable, whatever
    // lies at its path by now. Workspaces that cannot start through a descriptor use the path.
    virtual QCoro::Task<void> openVerified(QUrl link, std::shared_ptr<const OpenedBundle> app,
                                           bool activate) {
        // Named: GCC 12 destroys temporaries inside a co_await operand twice.
        QString path = app->path();
        QCoro::Task<void> opening = open(std::move(link), std::move(path), activate);
        co_await std::move(opening);
    }

    // A running application: its process and the bundle its executable lies in.
    struct RunningApplication {
        qint64 pid = 0;
        QString bundlePath;
        QString bundleIdentifier;
        bool operator==(const RunningApplication&) const = default;
    };

    // The running applications whose bundle has `bundleIdentifier`, oldest process first. Reads the process
    // table: quick, yet file-system work, so callers on the main thread prefer a worker.
    virtual QList<RunningApplication> runningApplications(const QString& bundleIdentifier) const {
        Q_UNUSED(bundleIdentifier);
        return {};
    }

    // Brings a running application to the front. Linux desktops offer no portable way for one program to
    // raise another's window (Wayland refuses it outright), so by default this does nothing.
    virtual void activate(const RunningApplication& application) { Q_UNUSED(application); }

    // Where the system knows an installed application with `bundleIdentifier`, if anywhere.
    virtual std::optional<QString> urlForApplication(const QString& bundleIdentifier) const {
        Q_UNUSED(bundleIdentifier);
        return std::nullopt;
    }

    // Starts the application bundle at `appPath`. Fails with Failure like open().
    virtual QCoro::Task<void> openApplication(QString appPath) {
        Q_UNUSED(appPath);
        co_return;
    }

    // Shows the given files selected in a file-manager window. No outcome is reported.
    virtual void activateFileViewerSelecting(const QStringList& paths) { Q_UNUSED(paths); }

    // Uninstall. Both block (file-system work): callers on the main thread run them on a worker.
    // Moves a file or folder to the user's trash (the freedesktop trash on Linux); fails with Failure.
    virtual void trashItem(const QString& path) {
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
            throw Failure(QStringLiteral("找不到 ") + path);
        // Qt sets the trash up inside the user's data folder but does not create that folder itself.
        QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
        QFile item(path);
        if (!item.moveToTrash())
            throw Failure(QStringLiteral("废纸篓不接受它（") + item.errorString() + QStringLiteral("）"));
    }
};

// The workspace of this OS.
std::shared_ptr<Workspace> systemWorkspace();
