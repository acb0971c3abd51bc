#include "LinuxWorkspace.h"

#include "Async.h"
#include "Bundle.h"
#include "ConnectorPaths.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Starts the open executable `exeFd` detached (a grandchild in its own session, so nobody has to reap it)
// with `input` waiting on its standard input. Gives 0 when it runs, or the error number of the failure.
int spawnDetached(int exeFd, const std::string& name, const QByteArray& input) {
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return errno;
    Descriptor readEnd(in[0]), writeEnd(in[1]);
    // A link is far smaller than a pipe's buffer: written before the start, it never waits for the reader.
    if (input.size() > 16384 || !writeAll(writeEnd.get(), input))
        return EMSGSIZE;
    writeEnd.reset();
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return errno;
    Descriptor reportRead(report[0]), reportWrite(report[1]);

    // Everything the children use is prepared here: between fork and exec only async-signal-safe calls.
    std::string argv0 = name;
    char* const argv[] = {argv0.data(), nullptr};
    char empty[] = "";
    const int source = readEnd.get();
    const int reportFd = reportWrite.get();
    const pid_t child = ::fork();
    if (child < 0)
        return errno;
    if (child == 0) {
        const pid_t grandchild = ::fork();
        if (grandchild != 0)
            ::_exit(grandchild < 0 ? 1 : 0);
        ::setsid();
        ::dup2(source, STDIN_FILENO);
        // A script's interpreter reads the program through /proc/self/fd: the descriptor must survive exec.
        const int flags = ::fcntl(exeFd, F_GETFD);
        if (flags >= 0)
            ::fcntl(exeFd, F_SETFD, flags & ~FD_CLOEXEC);
        ::syscall(SYS_execveat, exeFd, empty, argv, environ, AT_EMPTY_PATH);
        const int error = errno;
        [[maybe_unused]] const ssize_t n = ::write(reportFd, &error, sizeof error);
        ::_exit(127);
    }
    readEnd.reset();
    reportWrite.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return ECHILD;
    // The report pipe closes at a successful exec; a failed one sends its error number first.
    int error = 0;
    ssize_t n;
    do
        n = ::read(reportRead.get(), &error, sizeof error);
    while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof error) ? error : 0;
}

// Contents/MacOS/<name> down from the open bundle without following links, so the program is the one inside
// what was opened; -1 when there is none.
int openProgram(int bundleFd, const QString& name) {
    Descriptor contents(::openat(bundleFd, "Contents", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    Descriptor macos(
        contents ? ::openat(contents.get(), "MacOS", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1);
    return macos ? ::openat(macos.get(), QFile::encodeName(name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                 : -1;
}

} // namespace

std::optional<QString> LinuxWorkspace::launch(const OpenedBundle& app, const QByteArray& input) {
    const std::optional<OpenedBundle::Checked>& checked = app.checked();
    // A checked bundle starts from what its check read, never from the bundle read again.
    const Bundle bundle{QDir::cleanPath(app.path()), checked ? checked->info : Bundle::infoAt(app.fd())};
    const std::optional<QString> executable = bundle.string("CFBundleExecutable");
    // The name must stay a plain file name inside Contents/MacOS.
    if (!executable || executable->isEmpty() || executable->contains(QLatin1Char('/')) ||
        *executable == QStringLiteral("..") || *executable == QStringLiteral("."))
        return QStringLiteral("读不出这个 App 的信息：") + ConnectorPaths::display(bundle.path);
    const QString cannotStart = QStringLiteral("这个 App 启动不了：") + ConnectorPaths::display(bundle.path);
    Descriptor opened(checked ? -1 : openProgram(app.fd(), *executable));
    const int program = checked ? (checked->program ? checked->program->get() : -1) : opened.get();
    struct stat info {};
    if (program < 0 || ::fstat(program, &info) != 0 || !S_ISREG(info.st_mode) || !(info.st_mode & 0111))
        return cannotStart;
    const std::string name =
        QFile::encodeName(bundle.contentsPath() + QStringLiteral("/MacOS/") + *executable).toStdString();
    if (spawnDetached(program, name, input) != 0)
        return cannotStart;
    return std::nullopt;
}

std::optional<QString> LinuxWorkspace::launch(const QString& appPath, const QByteArray& input) {
    const std::shared_ptr<const OpenedBundle> app = OpenedBundle::open(appPath);
    if (!app)
        return QStringLiteral("读不出这个 App 的信息：") + ConnectorPaths::display(QDir::cleanPath(appPath));
    return launch(*app, input);
}

QByteArray LinuxWorkspace::linkInput(const QUrl& link) {
    return link.toString(QUrl::FullyEncoded).toUtf8() + '\n';
}

QCoro::Task<void> LinuxWorkspace::open(QUrl link, QString appPath, bool activate) {
    // A newly started application comes to the front by itself; one that is asked to stay behind cannot be
    // held back from here, so `activate` has nothing to change on this desktop.
    Q_UNUSED(activate);
    // The link travels on the app's standard input, never in its arguments: /proc/<pid>/cmdline is readable
    // by every user of the machine, and a ticket link must reach only the app.
    // Named, not a temporary: GCC 12 destroys a lambda temporary inside a co_await operand twice.
    auto job = [appPath, input = linkInput(link)] { return launch(appPath, input); };
    QCoro::Task<std::optional<QString>> task = Async::onWorker(std::move(job));
    const std::optional<QString> failure = co_await std::move(task);
    if (failure)
        throw Failure(*failure);
}

QCoro::Task<void> LinuxWorkspace::openVerified(QUrl link, std::shared_ptr<const OpenedBundle> app,
                                               bool activate) {
    Q_UNUSED(activate);
    auto job = [app, input = linkInput(link)] { return launch(*app, input); };
    QCoro::Task<std::optional<QString>> task = Async::onWorker(std::move(job));
    const std::optional<QString> failure = co_await std::move(task);
    if (failure)
        throw Failure(*failure);
}
