#include "ScriptedServer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool bindTo(int fd, const QString& path) {
    const std::string bytes = path.toStdString();
    sockaddr_un address{};
    if (bytes.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, bytes.data(), bytes.size());
    ::unlink(bytes.c_str());
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

} // namespace

ScriptedServer::Script ScriptedServer::pieces(const std::string& bytes, std::size_t size,
                                              std::chrono::milliseconds gap) {
    Script script;
    for (std::size_t at = 0; at < bytes.size(); at += size) {
        script.push_back(pause(gap));
        script.push_back(send(bytes.substr(at, size)));
    }
    return script;
}

ScriptedServer::ScriptedServer(QString path, Script script)
    : ScriptedServer(std::move(path), [script = std::move(script)](int) { return script; }) {}

ScriptedServer::ScriptedServer(QString path, std::function<Script(int)> scriptFor)
    : path_(std::move(path)), scriptFor_(std::move(scriptFor)) {
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0)
        return;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    if (!bindTo(fd, path_) || ::listen(fd, 128) != 0) {
        ::close(fd);
        return;
    }
    listenFd_ = fd;
    acceptor_ = std::thread([this] { acceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    if (stopPipe_[1] >= 0) {
        const char stop = 's';
        (void)!::write(stopPipe_[1], &stop, 1);
    }
    if (acceptor_.joinable())
        acceptor_.join();
    for (std::thread& worker : workers_)
        worker.join();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(path_.toStdString().c_str());
    }
    for (int fd : stopPipe_)
        if (fd >= 0)
            ::close(fd);
}

std::vector<std::string> ScriptedServer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

bool ScriptedServer::leaveStaleSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool bound = bindTo(fd, path);
    ::close(fd); // the file stays behind, with nobody listening
    return bound;
}

void ScriptedServer::acceptLoop() {
    for (;;) {
        pollfd watched[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[1].revents != 0)
            return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int index;
        {
            std::lock_guard lock(mutex_);
            index = static_cast<int>(received_.size());
            received_.emplace_back();
        }
        ++connections_;
        Script script = scriptFor_(index);
        if (!script.empty() && script.front().kind == Step::Kind::Close) {
            ::close(fd); // at once, so the client may still be about to write
            continue;
        }
        workers_.emplace_back([this, fd, index, script = std::move(script)] { serve(fd, index, script); });
    }
}

bool ScriptedServer::waitForStop(std::chrono::milliseconds duration) {
    pollfd watched{stopPipe_[0], POLLIN, 0};
    return ::poll(&watched, 1, static_cast<int>(duration.count())) > 0;
}

void ScriptedServer::serve(int fd, int index, const Script& script) {
    const int now = ++active_;
    int most = mostAtOnce_.load();
    while (now > most && !mostAtOnce_.compare_exchange_weak(most, now)) {
    }

    std::string line;
    while (line.find('\n') == std::string::npos) {
        pollfd watched[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(watched, 2, -1) <= 0 || watched[1].revents != 0)
            break;
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        line.append(buffer, static_cast<std::size_t>(got));
    }
    {
        std::lock_guard lock(mutex_);
        received_[static_cast<std::size_t>(index)] = line;
    }

    for (const Step& step : script) {
        bool goOn = true;
        switch (step.kind) {
        case Step::Kind::Send:
            for (std::size_t at = 0; goOn && at < step.bytes.size();) {
                const ssize_t sent = ::send(fd, step.bytes.data() + at, step.bytes.size() - at, MSG_NOSIGNAL);
                if (sent > 0)
                    at += static_cast<std::size_t>(sent);
                else if (!(sent < 0 && errno == EINTR))
                    goOn = false; // the client went away
            }
            break;
        case Step::Kind::Pause:
            goOn = !waitForStop(step.pause);
            break;
        case Step::Kind::Silence:
            for (;;) {
                pollfd watched[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
                if (::poll(watched, 2, -1) <= 0 || watched[1].revents != 0)
                    break;
                char buffer[256];
                if (::read(fd, buffer, sizeof buffer) <= 0)
                    break;
            }
            goOn = false;
            break;
        case Step::Kind::Close:
            goOn = false;
            break;
        }
        if (!goOn)
            break;
    }
    ::close(fd);
    --active_;
}
