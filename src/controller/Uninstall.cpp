#include "ConnectorController.h"

#include "Async.h"
#include "BridgeAdmin.h"
#include "ConnectorPaths.h"
#include "FailureText.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTimer>

#include <cerrno>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Status = BackgroundService::Status;

// Removes the entry `name` of the directory open at `parent`, never following a symbolic link: a link is
// removed itself, a directory is emptied through descriptors opened without following links, so nothing
// outside the tree is touched even when a link inside points elsewhere or the tree changes meanwhile.
bool removeAt(int parent, const char* name) {
    struct stat attributes {};
    if (::fstatat(parent, name, &attributes, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(attributes.st_mode))
        return ::unlinkat(parent, name, 0) == 0;

    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string entryName = entry->d_name;
        if (entryName != "." && entryName != "..")
            names.push_back(entryName);
    }
    bool removed = true;
    for (const std::string& entryName : names)
        removed = removeAt(::dirfd(dir), entryName.c_str()) && removed;
    ::closedir(dir);
    return ::unlinkat(parent, name, AT_REMOVEDIR) == 0 && removed;
}

// Removes the location `path` with everything inside it. A location that is itself a symbolic link loses the
// link, never its target. Refuses the root and the home directory outright.
bool removeTree(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    if (!QDir::isAbsolutePath(clean) || clean == QStringLiteral("/") ||
        clean == QDir::cleanPath(ConnectorPaths::home()))
        return false;
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    const QByteArray parentPath = QFile::encodeName(slash == 0 ? QStringLiteral("/") : clean.left(slash));
    const QByteArray name = QFile::encodeName(clean.mid(slash + 1));
    const int parent = ::open(parentPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0)
        return errno == ENOENT;
    const bool removed = removeAt(parent, name.constData());
    ::close(parent);
    return removed;
}

// The steps that change files, run on a worker. Failures are ignored: the uninstall goes on either way.
void removeFiles(bool bridgeStopped, bool deletingData) {
    if (bridgeStopped && deletingData) {
        removeTree(ConnectorPaths::dataDir());
        removeTree(ConnectorPaths::logsDir());
    }
    removeTree(ConnectorPaths::updatesDir());
}

} // namespace

QCoro::Task<void> ConnectorController::uninstall(bool deletingData) {
    if (ConnectorPaths::isolated())
        co_return;
    if (cliBusy_) {
        storeNotice(QStringLiteral("执行工具正在检查或更新，请结束后再卸载连接器"));
        co_return;
    }
    storeUninstalling(true);
    const QPointer<ConnectorController> self(this);

    if (sessionHooks_ && sessionHooks_->on()) {
        // Named, not temporaries in the co_await operand: GCC 12 would destroy them twice.
        const QString command = QStringLiteral("hooks-uninstall");
        const std::optional<QString> noId;
        const nlohmann::json fields = nlohmann::json::object();
        try {
            co_await BridgeAdmin::request(command, noId, fields, 15);
        } catch (...) {
            // The hooks stay; the uninstall goes on.
        }
        if (!self)
            co_return;
    }

    // Held by the workers: a quit while the service manager is slow must not free them under a worker.
    const std::shared_ptr<BackgroundService> statusItem = sharedStatusItemService_;
    const std::shared_ptr<BackgroundService> agent = sharedService_;
    auto dropStatusItem = [statusItem] { statusItem->unregisterNow(); };
    try {
        co_await Async::onWorker(std::move(dropStatusItem));
    } catch (...) {
    }
    if (!self)
        co_return;

    std::optional<QString> agentFailure;
    auto dropAgent = [agent] { agent->unregisterNow(); };
    try {
        co_await Async::onWorker(std::move(dropAgent));
    } catch (const std::exception& error) {
        agentFailure = failureText(error);
    }
    if (!self)
        co_return;
    if (agentFailure) {
        auto readStatus = [agent] { return agent->status(); };
        const Status now = co_await Async::onWorker(std::move(readStatus));
        if (!self)
            co_return;
        if (now != Status::notRegistered) {
            // The bridge keeps running under its item, so its data and the application stay as they are.
            storeNotice(QStringLiteral("注销后台项没成功：") + *agentFailure);
            storeUninstalling(false);
            co_return;
        }
    }

    // A bridge that answers at all, even with a refusal or too late, still holds its data: only a missing
    // socket or a refused connection counts as stopped.
    bool stopped = false;
    for (int check = 0; check < 40; ++check) {
        const bool running = co_await BridgeAdmin::stillThere();
        if (!self)
            co_return;
        if (!running) {
            stopped = true;
            break;
        }
        co_await Async::sleepFor(bridgeStopStep);
        if (!self)
            co_return;
    }

    auto remove = [stopped, deletingData] { removeFiles(stopped, deletingData); };
    co_await Async::onWorker(std::move(remove));
    if (!self)
        co_return;

    storeBackground(Background::Failed{QStringLiteral("已注销，登录时不会再运行")});
    if (stopped)
        storeBridge(std::nullopt);

    // Never fails: a leftover launcher entry is harmless next to a bundle in the trash.
    co_await unregisterFromDesktop();
    if (!self)
        co_return;

    const std::shared_ptr<Workspace> desktop = workspace;

    std::optional<QString> trashFailure;
    auto trash = [desktop, path = bundlePath] { desktop->trashItem(path); };
    try {
        co_await Async::onWorker(std::move(trash));
    } catch (const std::exception& error) {
        trashFailure = failureText(error);
    }
    if (!self)
        co_return;
    if (trashFailure) {
        storeNotice(QStringLiteral("后台已经停了，但没能把 App 移到废纸篓：") + *trashFailure +
                    QStringLiteral("。请手动把它拖进废纸篓"));
        co_return;
    }
    if (!stopped && deletingData) {
        storeNotice(QStringLiteral("已卸载，但还有一个桥接在跑（多半是在终端里手动启动的），所以数据没删"));
        co_return;
    }
    if (terminateApplication)
        terminateApplication();
    else
        QCoreApplication::quit();
}
