#pragma once

#include <QString>
#include <QStringList>

#include <stdexcept>

// Starts an application bundle as a new, separate instance, even while this one runs, without bringing it to
// the front. The new process outlives this one: it is what a relaunch after a rename or an update hands over
// to before this process ends.
namespace BundleLauncher {

struct Failure : std::runtime_error {
    explicit Failure(const QString& text) : std::runtime_error(text.toStdString()), message(text) {}
    QString message;
};

// The executable the bundle names in its Info dictionary (CFBundleExecutable), under Contents/MacOS.
QString executable(const QString& bundlePath);

// Blocking for the moment it takes the system to start the program: call it on a worker. Throws Failure
// when the bundle has no executable or the program cannot be started.
void openNewInstance(const QString& bundlePath, const QStringList& arguments);

} // namespace BundleLauncher
