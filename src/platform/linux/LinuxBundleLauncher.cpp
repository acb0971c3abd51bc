#include "BundleLauncher.h"

#include "Bundle.h"
#include "ConnectorPaths.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace BundleLauncher {

QString executable(const QString& bundlePath) {
    QString name = Bundle::at(bundlePath).string("CFBundleExecutable").value_or(QString());
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QStringLiteral("..") ||
        name == QStringLiteral("."))
        name = QStringLiteral("OrvaneConnector");
    return bundlePath + QStringLiteral("/Contents/MacOS/") + name;
}

void openNewInstance(const QString& bundlePath, const QStringList& arguments) {
    const QString program = executable(bundlePath);
    const QFileInfo info(program);
    if (!info.isFile() || !info.isExecutable())
        throw Failure(QStringLiteral("%1 里没有可以启动的程序").arg(ConnectorPaths::display(bundlePath)));

    std::vector<QByteArray> words;
    words.push_back(program.toUtf8());
    for (const QString& argument : arguments)
        words.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // A session of its own: the terminal or service that started this instance may end with it, and must
    // not take the new one along.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, argv.front(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        throw Failure(
            QStringLiteral("%1 启动不了：%2")
                .arg(ConnectorPaths::display(bundlePath), QString::fromLocal8Bit(std::strerror(error))));
    // The new instance normally outlives this one; if it ends first, it is collected rather than left a
    // zombie.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

} // namespace BundleLauncher
