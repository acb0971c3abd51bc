#pragma once

#include <QString>

#include <optional>

namespace FileMove {

// Moves a file or folder within its volume. Never replaces anything that exists at `to`, not even an empty
// folder created a moment ago. Blocking: call it on a worker. Returns the system's reason on failure.
std::optional<QString> moveItem(const QString& from, const QString& to);

} // namespace FileMove
