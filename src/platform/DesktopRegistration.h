#pragma once

#include <QString>

#include <memory>
#include <stdexcept>

// Tells the desktop about an application bundle, as registering a location with the system does on macOS:
// links of the connector's scheme go to the bundle's executable, and the application menu lists it with its
// icon. The desktop keeps this in the user's own files, so it survives restarts and has to follow the bundle
// when it moves (update, legacy rename) and be removed by the uninstall.
//
// Blocking: file work and the desktop's own tools run here. Callers on the main thread use a worker.
class DesktopRegistration {
public:
    // A registration that could not be written; `message` is one Chinese sentence.
    struct Failure : std::runtime_error {
        explicit Failure(const QString& text) : std::runtime_error(text.toStdString()), message(text) {}
        QString message;
    };

    virtual ~DesktopRegistration() = default;

    // Registers the bundle at `bundlePath`. Writes only what differs from what is registered already, and
    // tells the desktop's caches only then. Returns whether anything changed. Throws Failure.
    virtual bool registerBundle(const QString& bundlePath) = 0;

    // Removes everything registerBundle() wrote; what the user or other applications keep in the same files
    // stays. Doing it twice is harmless. Throws Failure when a file of ours cannot be removed.
    virtual void unregister() = 0;
};

// The registration of this OS for the user running the process.
std::shared_ptr<DesktopRegistration> systemDesktopRegistration();
