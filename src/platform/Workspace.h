#pragma once

#include <QCoroTask>
#include <QString>
#include <QUrl>

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
};
