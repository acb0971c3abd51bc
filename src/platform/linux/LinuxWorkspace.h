#pragma once

#include "Workspace.h"

#include <QStringList>

#include <optional>

// The workspace on Linux: an application is its bundle's executable, and a link is its one argument.
class LinuxWorkspace final : public Workspace {
public:
    QCoro::Task<void> open(QUrl link, QString appPath, bool activate) override;

    // Starts the bundle's executable (Info.plist CFBundleExecutable under Contents/MacOS/) detached with
    // `arguments`. Blocking; gives the Chinese description of the failure, or nothing when it started.
    static std::optional<QString> launch(const QString& appPath, const QStringList& arguments);
};
