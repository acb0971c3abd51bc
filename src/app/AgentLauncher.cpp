#include "AgentLauncher.h"

#include "Bundle.h"
#include "ConnectorPaths.h"
#include "ConnectorSettings.h"
#include "ProcessInfo.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <semaphore>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace AgentLauncher {

namespace {

void writeAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += written;
        left -= written;
    }
}

// mkdir -p with the given mode for every directory it creates; errors are left to the open that follows.
void makeDirectories(const QString& path, mode_t mode) {
    const QByteArray bytes = QDir::cleanPath(path).toUtf8();
    for (qsizetype i = 1; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes.at(i) == '/')
            ::mkdir(bytes.left(i).constData(), mode);
    }
}

bool reaped(pid_t pid) {
    int status = 0;
    for (;;) {
        const pid_t result = ::waitpid(pid, &status, WNOHANG);
        if (result == pid || (result < 0 && errno != EINTR))
            return true;
        if (result == 0)
            return false;
    }
}

bool reapedWithin(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!reaped(pid)) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The shell runs in its own process group so that whatever its start-up files launched goes with it. An
// interactive shell ignores SIGTERM, hence the SIGKILL when it is still there shortly after.
void terminate(pid_t pid) {
    ::kill(-pid, SIGTERM);
    if (reapedWithin(pid, std::chrono::milliseconds(300)))
        return;
    ::kill(-pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

struct ShellReading {
    OutputBox box;
    std::binary_semaphore done{0};
};

} // namespace

QString resourcesDirectory(const std::optional<QString>& bundleResources, const QString& argument0) {
    if (bundleResources)
        return *bundleResources;
    const QString executableDir = QFileInfo(argument0).absolutePath();
    return QDir::cleanPath(executableDir + QStringLiteral("/../Resources"));
}

void rotateIfLarge(const QString& log) {
    const QByteArray path = log.toUtf8();
    struct stat attributes {};
    if (::stat(path.constData(), &attributes) != 0 || attributes.st_size <= rotationSize)
        return;
    const QByteArray rotated = path + ".1";
    ::unlink(rotated.constData());
    ::rename(path.constData(), rotated.constData());
}

void redirectOutput() {
    makeDirectories(ConnectorPaths::logsDir(), 0700);
    rotateIfLarge(ConnectorPaths::bridgeLog());
    const int fd =
        ::open(ConnectorPaths::bridgeLog().toUtf8().constData(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (fd < 0)
        return;
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    if (fd > STDERR_FILENO)
        ::close(fd);
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        if (null != STDIN_FILENO)
            ::close(null);
    }
}

SearchPath searchPath() {
    return searchPath(loginShellPath(), ConnectorPaths::home());
}

SearchPath searchPath(const std::optional<QString>& loginShellResult, const QString& home) {
    QStringList list;
    SearchPath result;
    if (loginShellResult) {
        list = loginShellResult->split(QLatin1Char(':'), Qt::SkipEmptyParts);
        result.source = QStringLiteral("来自登录 shell");
    } else {
        result.source = QStringLiteral("用常见目录（没读到登录 shell 的）");
    }
    const QStringList fixed{
        home + QStringLiteral("/.local/bin"),
        QStringLiteral("/opt/homebrew/bin"),
        QStringLiteral("/opt/homebrew/sbin"),
        QStringLiteral("/usr/local/bin"),
        home + QStringLiteral("/.npm-global/bin"),
        home + QStringLiteral("/.bun/bin"),
        home + QStringLiteral("/.volta/bin"),
        home + QStringLiteral("/.claude/local"),
        QStringLiteral("/usr/bin"),
        QStringLiteral("/bin"),
        QStringLiteral("/usr/sbin"),
        QStringLiteral("/sbin"),
    };
    for (const QString& dir : fixed) {
        if (!list.contains(dir))
            list << dir;
    }
    list.removeAll(QString());
    result.path = list.join(QLatin1Char(':'));
    return result;
}

QString loginShell(const std::optional<QString>& databaseShell, const std::optional<QString>& shellVariable) {
    // An entry whose shell field is empty is not missing a shell: login(1) and every other reader of the user
    // database on Linux run /bin/sh for it (passwd(5)).
    if (databaseShell)
        return databaseShell->isEmpty() ? QStringLiteral("/bin/sh") : *databaseShell;
    if (shellVariable && !shellVariable->isEmpty())
        return *shellVariable;
    return QStringLiteral("/bin/zsh");
}

QString loginShell() {
    std::optional<QString> database;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_shell)
        database = QString::fromUtf8(entry->pw_shell);
    return loginShell(database, ProcessInfo::environment("SHELL"));
}

QString loginShellCommand() {
    return QStringLiteral("printf '\\n__SENVIK_PATH__%s__SENVIK_PATH__\\n' \"$PATH\"");
}

std::optional<QString> markedPath(const QByteArray& output) {
    const QString text = QString::fromUtf8(output);
    const QString marker = QString::fromLatin1(markerText);
    const qsizetype first = text.indexOf(marker);
    if (first < 0)
        return std::nullopt;
    const qsizetype start = first + marker.size();
    const qsizetype second = text.indexOf(marker, start);
    if (second < 0)
        return std::nullopt;
    const QString result = text.mid(start, second - start);
    if (result.isEmpty())
        return std::nullopt;
    return result;
}

std::optional<QString> loginShellPath() {
    return loginShellPath(loginShell());
}

std::optional<QString> loginShellPath(const QString& shell, std::chrono::milliseconds limit) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return std::nullopt;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const QByteArray program = shell.toUtf8();
    const QByteArray command = loginShellCommand().toUtf8();
    char dashes[] = "-ilc";
    char* argv[] = {const_cast<char*>(program.constData()), dashes, const_cast<char*>(command.constData()),
                    nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return std::nullopt;
    }

    // Shared with the reader, which may outlive this call when the shell never closes its output.
    auto reading = std::make_shared<ShellReading>();
    std::thread([reading, fd = pipeFds[0]] {
        QByteArray bytes;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            bytes.append(buffer, n);
        }
        ::close(fd);
        {
            std::lock_guard guard(reading->box.lock);
            reading->box.data = std::move(bytes);
        }
        reading->done.release();
    }).detach();

    if (!reading->done.try_acquire_for(limit)) {
        terminate(pid);
        return std::nullopt;
    }
    // The output ends when the shell exits; give it a moment to become reapable, and do not leave a shell
    // that closed its output but keeps running.
    if (!reapedWithin(pid, std::chrono::milliseconds(200)))
        terminate(pid);

    QByteArray output;
    {
        std::lock_guard guard(reading->box.lock);
        output = reading->box.data;
    }
    return markedPath(output);
}

Environment processEnvironment() {
    Environment result;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        if (equals == std::string::npos)
            continue;
        result.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    return result;
}

Environment bridgeEnvironment(Environment inherited, const QString& path,
                              const std::optional<QString>& bundleVersion,
                              const std::optional<QString>& feedOverride,
                              const std::optional<QString>& bundleFeed) {
    inherited["PATH"] = path.toStdString();
    if (bundleVersion)
        inherited["ORVANE_CONNECTOR_BUILD"] = bundleVersion->toStdString();
    else
        inherited.erase("ORVANE_CONNECTOR_BUILD");
    if (const std::optional<QString>& feed = feedOverride ? feedOverride : bundleFeed)
        inherited["ORVANE_CONNECTOR_FEED"] = feed->toStdString();
    else
        inherited.erase("ORVANE_CONNECTOR_FEED");
    return inherited;
}

int pathCount(const QString& path) {
    return static_cast<int>(path.split(QLatin1Char(':'), Qt::SkipEmptyParts).size());
}

QString startMessage(const SearchPath& searchPath) {
    return QStringLiteral("Orvane 连接器后台入口：PATH ") + searchPath.source + QStringLiteral("（") +
           QString::number(pathCount(searchPath.path)) + QStringLiteral(" 个目录），启动桥接");
}

void log(const QString& message) {
    ::tzset();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char clock[16] = {};
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    writeAll(STDERR_FILENO, QByteArray(clock) + ' ' + message.toUtf8() + '\n');
}

void run() {
    const std::optional<Bundle>& bundle = Bundle::main();
    const QString resources =
        resourcesDirectory(bundle ? std::optional<QString>(bundle->resourcesPath()) : std::nullopt,
                           ProcessInfo::arguments().value(0));
    const QString runtime = resources + QStringLiteral("/runtime/node");
    const QString script = resources + QStringLiteral("/bridge/src/main.ts");

    redirectOutput();

    const SearchPath found = searchPath();
    const std::optional<QString> version = bundle ? bundle->string("CFBundleVersion") : std::nullopt;
    const std::optional<QString> bundleFeed = bundle ? bundle->string("SenvikUpdateFeedURL") : std::nullopt;
    const Environment environment = bridgeEnvironment(processEnvironment(), found.path, version,
                                                      ConnectorSettings::updateFeedOverride(), bundleFeed);

    log(startMessage(found));

    const QByteArray runtimeBytes = runtime.toUtf8();
    const QByteArray scriptBytes = script.toUtf8();
    char start[] = "start";
    char managed[] = "--managed";
    char* argv[] = {const_cast<char*>(runtimeBytes.constData()), const_cast<char*>(scriptBytes.constData()),
                    start, managed, nullptr};
    std::vector<std::string> entries;
    entries.reserve(environment.size());
    for (const auto& [name, value] : environment)
        entries.push_back(name + '=' + value);
    std::vector<char*> envp;
    envp.reserve(entries.size() + 1);
    for (std::string& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    ::execve(runtimeBytes.constData(), argv, envp.data());

    const int error = errno;
    log(QStringLiteral("启动桥接失败：") + QString::fromLocal8Bit(std::strerror(error)) +
        QStringLiteral("（") + runtime + QStringLiteral("）"));
    std::exit(1);
}

} // namespace AgentLauncher
