#pragma once

#include <QCoroTask>
#include <QString>

#include <memory>
#include <stdexcept>

// One per-user background item of the operating system (the bridge's agent, the status-bar login item).
// The service manager owns the item; this is only a handle to it.
class BackgroundService {
public:
    // The system's status values. Any other value that an implementation reports counts as unknown.
    enum class Status : int { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

    // A refused registration or unregistration; `message` is the system's own description, shown as it is.
    struct Failure : std::runtime_error {
        explicit Failure(const QString& text) : std::runtime_error(text.toStdString()), message(text) {}
        QString message;
    };

    virtual ~BackgroundService() = default;

    // Quick and synchronous: callers read it at any time on the main thread.
    virtual Status status() const = 0;

    // Registers the item; afterwards its status is `enabled`, or `requiresApproval` when the user has to
    // allow it. Throws Failure. ("register" itself is a reserved word.)
    virtual void registerItem() = 0;

    // Removes the registration; the system stops a running agent. Throws Failure.
    virtual QCoro::Task<void> unregister() = 0;

    // The same, synchronous, reporting its error directly (the login-item switch uses it).
    virtual void unregisterNow() = 0;

    // Opens the system's settings of login items where the desktop has one; otherwise does nothing.
    virtual void openSystemSettingsLoginItems() {}
};

inline bool isKnown(BackgroundService::Status status) {
    const int value = static_cast<int>(status);
    return value >= 0 && value <= 3;
}

// The item described by the property list `plistName` in this application's bundle, as this OS keeps it.
std::unique_ptr<BackgroundService> systemBackgroundService(const QString& plistName);
