#include "RunTask.h"
#include "TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace TestSupport {

void spinFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

bool writeFile(const QString& path, const QByteArray& bytes, int mode) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (file.write(bytes) != bytes.size())
        return false;
    file.close();
    if (mode != 0)
        QFile::setPermissions(
            path,
            QFileDevice::Permissions(((mode & 0400) ? QFileDevice::ReadOwner : QFileDevice::Permissions()) |
                                     ((mode & 0200) ? QFileDevice::WriteOwner : QFileDevice::Permissions()) |
                                     ((mode & 0100) ? QFileDevice::ExeOwner : QFileDevice::Permissions()) |
                                     ((mode & 0040) ? QFileDevice::ReadGroup : QFileDevice::Permissions()) |
                                     ((mode & 0010) ? QFileDevice::ExeGroup : QFileDevice::Permissions()) |
                                     ((mode & 0004) ? QFileDevice::ReadOther : QFileDevice::Permissions()) |
                                     ((mode & 0001) ? QFileDevice::ExeOther : QFileDevice::Permissions())));
    return true;
}

QString buildDir() {
    return QStringLiteral(CONNECTOR_BUILD_DIR);
}

bool runsProgramFrom(const QString& folder) {
    const QByteArray needle = folder.toUtf8() + '/';
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!pid.front().isDigit())
            continue;
        QFile cmdline(QStringLiteral("/proc/") + pid + QStringLiteral("/cmdline"));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(needle))
            return true;
    }
    return false;
}

} // namespace TestSupport
