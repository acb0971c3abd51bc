#pragma once

#include "Workspace.h"

#include <QList>
#include <QStringList>

#include <optional>

// The workspace on Linux: an application is its bundle's executable, and a link reaches it as one line on its
// standard input (never as an argument: every user can read /proc/<pid>/cmdline).
class LinuxWorkspace final : public Workspace {
public:
    // `applicationFolders` are searched in order for installed apps; `fileManagerOpeners` are the commands
    // tried in order to show a folder (the first one found on PATH is used).
    explicit LinuxWorkspace(QStringList applicationFolders = defaultApplicationFolders(),
                            QList<QStringList> fileManagerOpeners = defaultFileManagerOpeners())
        : applicationFolders_(std::move(applicationFolders)),
          fileManagerOpeners_(std::move(fileManagerOpeners)) {}

    QCoro::Task<void> open(QUrl link, QString appPath, bool activate) override;
    QCoro::Task<void> openVerified(QUrl link, std::shared_ptr<const OpenedBundle> app,
                                   bool activate) override;
    QList<RunningApplication> runningApplications(const QString& bundleIdentifier) const override;
    std::optional<QString> urlForApplication(const QString& bundleIdentifier) const override;
    QCoro::Task<void> openApplication(QString appPath) override;
    void activateFileViewerSelecting(const QStringList& paths) override;

    static QStringList defaultApplicationFolders();        // ~/Applications, /Applications
    static QList<QStringList> defaultFileManagerOpeners(); // xdg-open <folder>, gio open <folder>

    // Every process of this user that runs an executable inside a bundle, read from `procRoot`.
    static QList<RunningApplication> runningBundles(const QString& procRoot = QStringLiteral("/proc"));

    // Starts the bundle's executable (Info.plist CFBundleExecutable under Contents/MacOS/) detached, from
    // the open bundle without following links, with `input` on its standard input and no arguments.
    // Blocking; gives the Chinese description of the failure, or nothing when it started.
    static std::optional<QString> launch(const OpenedBundle& app, const QByteArray& input);
    static std::optional<QString> launch(const QString& appPath, const QByteArray& input);

    // What an app reads on its standard input for a link: the link's text and a line feed.
    static QByteArray linkInput(const QUrl& link);

private:
    QStringList applicationFolders_;
    QList<QStringList> fileManagerOpeners_;
};
