#include "ProcessInfo.h"

#include <QFile>

#include <cstdlib>

namespace ProcessInfo {

const QStringList& arguments() {
    // Read from the kernel rather than handed in by main, so that every reader (also code running before
    // or without an application object) sees the same untouched vector.
    static const QStringList args = [] {
        QStringList result;
        QFile file(QStringLiteral("/proc/self/cmdline"));
        if (!file.open(QIODevice::ReadOnly))
            return result;
        const QByteArray all = file.readAll();
        qsizetype start = 0;
        while (start < all.size()) {
            qsizetype end = all.indexOf('\0', start);
            if (end < 0)
                end = all.size();
            result << QString::fromUtf8(all.mid(start, end - start));
            start = end + 1;
        }
        return result;
    }();
    return args;
}

bool hasFlag(const QStringList& arguments, const QString& flag) { return arguments.contains(flag); }

std::optional<QString> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(value);
}

} // namespace ProcessInfo
