// A stand-in for the bridge: serves the admin channel in the bridge's data directory from a scenario file.
// Started like the real one: bridge-standin <script-path> start [--managed] [--data-dir DIR] [--scenario
// FILE] [--request-log FILE]

#include "AdminServer.h"
#include "ScenarioFile.h"
#include "StandinBridge.h"

#include "ConnectorPaths.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

// The connector's client refuses longer socket paths, so a bridge listening there could never be reached.
constexpr std::size_t maxSocketPathBytes = 103;

int wakeWrite = -1;

void onTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite, &byte, 1);
}

[[noreturn]] void refuse(const std::string& message, int status = 1) {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(status);
}

struct Options {
    bool managed = false;
    std::string dataDir;
    std::string scenario;
    std::string requestLog;
};

Options parse(int argc, char** argv) {
    Options options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--managed") {
            options.managed = true;
        } else if (argument == "--data-dir" || argument == "--scenario" || argument == "--request-log") {
            if (i + 1 >= argc || std::string(argv[i + 1]).empty())
                refuse(argument + " 后面要跟一个路径", 2);
            std::string& target = argument == "--data-dir"   ? options.dataDir
                                  : argument == "--scenario" ? options.scenario
                                                             : options.requestLog;
            target = argv[++i];
        } else if (argument.rfind("--", 0) != 0) {
            positional.push_back(argument);
        }
    }
    if (positional.size() < 2 || positional[1] != "start")
        refuse("用法：bridge-standin <脚本路径> start [--managed] [--data-dir 目录] [--scenario 场景文件] "
               "[--request-log 记录文件]",
               2);
    return options;
}

std::string absolute(const std::string& path) {
    if (path.empty() || path.front() == '/')
        return path;
    std::vector<char> buffer(4096);
    if (!::getcwd(buffer.data(), buffer.size()))
        return path;
    return std::string(buffer.data()) + "/" + path;
}

// Creates the directory and its missing parents; the data directory itself is private to the user.
void makeDataDir(const std::string& dir) {
    for (std::size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1))
        ::mkdir(dir.substr(0, slash).c_str(), 0755);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        refuse("建不了数据目录 " + dir + "：" + std::strerror(errno));
    struct stat attributes {};
    if (::stat(dir.c_str(), &attributes) != 0 || !S_ISDIR(attributes.st_mode))
        refuse("数据目录 " + dir + " 不是目录");
}

bool answers(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Refuses to start over a live bridge; clears a socket file that nobody listens on any more.
void clearStaleSocket(const std::string& socketPath) {
    struct stat attributes {};
    if (::lstat(socketPath.c_str(), &attributes) != 0)
        return;
    if (!S_ISSOCK(attributes.st_mode))
        refuse(socketPath + " 已经存在，但不是 socket；没有动它，桥接替身没有启动");
    if (answers(socketPath))
        refuse("另一个桥接已经在 " + socketPath + " 上运行，这个不启动了");
    if (::unlink(socketPath.c_str()) != 0 && errno != ENOENT)
        refuse("删不掉旧的管理通道 " + socketPath + "：" + std::strerror(errno));
}

int listenAt(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        refuse(std::string("建不了 socket：") + std::strerror(errno));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    // Created private from the first moment, not chmod-ed after others could already connect.
    const mode_t previous = ::umask(0177);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int bindError = errno;
    ::umask(previous);
    if (bound != 0) {
        if (bindError == EADDRINUSE)
            refuse("另一个桥接刚在 " + socketPath + " 上启动，这个不启动了");
        refuse("管理通道 " + socketPath + " 绑定不上：" + std::strerror(bindError));
    }
    ::chmod(socketPath.c_str(), 0600);
    if (::listen(fd, 64) != 0)
        refuse(std::string("管理通道监听不了：") + std::strerror(errno));
    return fd;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const Options options = parse(argc, argv);

    const std::string dataDir =
        absolute(options.dataDir.empty() ? ConnectorPaths::dataDir().toStdString() : options.dataDir);
    const std::string socketPath = dataDir + "/admin.sock";
    if (socketPath.size() > maxSocketPathBytes)
        refuse("管理通道的路径太长（" + std::to_string(socketPath.size()) + " 字节，最多 103）：" +
               socketPath);
    makeDataDir(dataDir);

    // Held for the whole run: two stand-ins starting together cannot both clear and bind the socket.
    const int dirLock = ::open(dataDir.c_str(), O_RDONLY | O_CLOEXEC);
    if (dirLock < 0 || ::flock(dirLock, LOCK_EX | LOCK_NB) != 0)
        refuse("另一个桥接替身正在使用 " + dataDir + "，这个不启动了");
    clearStaleSocket(socketPath);

    int requestLog = -1;
    if (!options.requestLog.empty()) {
        requestLog =
            ::open(absolute(options.requestLog).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (requestLog < 0)
            refuse("请求记录文件打不开：" + options.requestLog + "：" + std::strerror(errno));
    }

    std::string scenarioPath = options.scenario;
    if (scenarioPath.empty()) {
        const char* fromEnvironment = std::getenv("ORVANE_STANDIN_SCENARIO");
        scenarioPath = fromEnvironment && *fromEnvironment ? fromEnvironment : "";
    }
    const bool defaultPath = scenarioPath.empty();
    if (defaultPath)
        scenarioPath = dataDir + "/standin-scenario.json";
    ScenarioFile file(absolute(scenarioPath));
    std::string error;
    if (defaultPath && ::access(file.path().c_str(), F_OK) != 0 && errno == ENOENT) {
        if (!file.save(StandinBridge::defaultScenario(ConnectorPaths::home().toStdString()), error))
            refuse(error);
    }
    std::optional<nlohmann::json> scenario = file.load(error);
    if (!scenario)
        refuse(error);

    StandinBridge bridge(std::move(*scenario), options.managed, StandinBridge::isoNow(),
                         [&file](const nlohmann::json& state) {
                             std::string problem;
                             if (!file.save(state, problem))
                                 std::fprintf(stderr, "%s\n", problem.c_str());
                         });

    int wake[2];
    if (::pipe(wake) != 0)
        refuse(std::string("建不了内部管道：") + std::strerror(errno));
    for (const int fd : wake)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(wake[1], F_SETFL, O_NONBLOCK);
    wakeWrite = wake[1];
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    const int listenFd = listenAt(socketPath);
    struct stat ours {};
    ::stat(socketPath.c_str(), &ours);
    const nlohmann::json status = bridge.status();
    const std::string port = status.is_object() && status.contains("port") ? status["port"].dump() : "无";
    std::printf("桥接替身已启动：%s（端口 %s，场景 %s%s）\n", socketPath.c_str(), port.c_str(),
                file.path().c_str(), options.managed ? "，托管" : "");
    std::fflush(stdout);

    {
        AdminServer server(listenFd, wake[0], bridge, file);
        if (requestLog >= 0)
            server.logRequestsTo(requestLog);
        server.run();
    }

    ::close(listenFd);
    // Only our own socket goes: never one that replaced it meanwhile.
    struct stat now {};
    if (::lstat(socketPath.c_str(), &now) == 0 && now.st_ino == ours.st_ino && now.st_dev == ours.st_dev)
        ::unlink(socketPath.c_str());
    std::printf("桥接替身已停止\n");
    std::fflush(stdout);
    return 0;
}
