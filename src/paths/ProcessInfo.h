#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace ProcessInfo {

// The complete argument vector the system handed to this process, program path first, unchanged.
const QStringList& arguments();

bool hasFlag(const QStringList& arguments, const QString& flag);
inline bool hasFlag(const QString& flag) { return hasFlag(arguments(), flag); }

std::optional<QString> environment(const char* name);

} // namespace ProcessInfo
