#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <nlohmann/json.hpp>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

// A bridge stand-in inside the test process: a real Unix socket at `path`, one request line per connection,
// answered from a script of raw replies per command. Unscripted commands are refused like the bridge would.
class ScriptedBridge {
public:
    explicit ScriptedBridge(const QString& path) : path_(path.toStdString()) {
        QDir().mkpath(QFileInfo(path).path());
        ::unlink(path_.c_str());
        listenFd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path_.size() >= sizeof address.sun_path)
            throw std::runtime_error("socket path too long");
        std::copy(path_.begin(), path_.end(), address.sun_path);
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listenFd_, 16) != 0)
            throw std::runtime_error("cannot listen at " + path_);
        if (::pipe(wake_) != 0)
            throw std::runtime_error("pipe");
        thread_ = std::thread([this] { serve(); });
    }

    ~ScriptedBridge() {
        const char byte = 1;
        [[maybe_unused]] auto n = ::write(wake_[1], &byte, 1);
        thread_.join();
        ::close(listenFd_);
        ::close(wake_[0]);
        ::close(wake_[1]);
        ::unlink(path_.c_str());
    }

    void raw(const std::string& command, std::string reply) {
        std::lock_guard lock(mutex_);
        replies_[command] = std::move(reply);
    }
    void result(const std::string& command, const nlohmann::json& value) {
        raw(command, nlohmann::json{{"ok", true}, {"result", value}}.dump());
    }
    void refuse(const std::string& command, const std::string& error) {
        raw(command, nlohmann::json{{"ok", false}, {"error", error}}.dump());
    }

    // Runs `hook` on the serving thread each time `command` arrives, before the reply goes out.
    void onCommand(const std::string& command, std::function<void()> hook) {
        std::lock_guard lock(mutex_);
        hooks_[command] = std::move(hook);
    }

    std::vector<std::string> commands() const {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    int count(const std::string& command) const {
        int n = 0;
        for (const auto& c : commands())
            n += c == command;
        return n;
    }

private:
    void serve() {
        for (;;) {
            pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents)
                return;
            const int client = ::accept(listenFd_, nullptr, nullptr);
            if (client < 0)
                continue;
            std::string line;
            char buffer[4096];
            while (line.find('\n') == std::string::npos) {
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                line.append(buffer, static_cast<size_t>(n));
            }
            std::string command;
            const auto request = nlohmann::json::parse(line.substr(0, line.find('\n')), nullptr, false);
            if (request.is_object() && request.contains("command") && request["command"].is_string())
                command = request["command"].get<std::string>();
            std::string reply = R"({"ok":false,"error":"unknown command"})";
            std::function<void()> hook;
            {
                std::lock_guard lock(mutex_);
                if (auto it = hooks_.find(command); it != hooks_.end())
                    hook = it->second;
            }
            if (hook)
                hook();
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(command);
                if (auto it = replies_.find(command); it != replies_.end())
                    reply = it->second;
            }
            // A client that already gave up must cost this reply, never the test program (SIGPIPE).
            [[maybe_unused]] auto written = ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::close(client);
        }
    }

    std::string path_;
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> replies_;
    std::vector<std::string> commands_;
    std::map<std::string, std::function<void()>> hooks_;
};
