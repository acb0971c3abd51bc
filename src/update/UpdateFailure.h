#pragma once

#include <QString>

#include <stdexcept>

// The self-update's own error: one Chinese message, which is also its user-readable description.
struct UpdateFailure : std::runtime_error {
    explicit UpdateFailure(const QString& text) : std::runtime_error(text.toStdString()), message(text) {}
    QString message;
};
