#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A Unix-socket server in the test process that plays a script on every connection: it reads the request
// line, then sends bytes, pauses, keeps silent or closes as told. Each connection has its own thread, so
// concurrent clients are served concurrently and the server can tell how many it saw at once.
class ScriptedServer {
public:
    struct Step {
        enum class Kind { Send, Pause, Silence, Close };
        Kind kind;
        std::string bytes;
        std::chrono::milliseconds pause{0};
    };
    using Script = std::vector<Step>;

    static Step send(std::string bytes) { return {Step::Kind::Send, std::move(bytes), {}}; }
    static Step pause(std::chrono::milliseconds duration) { return {Step::Kind::Pause, {}, duration}; }
    // Answers nothing and keeps the connection open until the client gives up or the server stops.
    static Step silence() { return {Step::Kind::Silence, {}, {}}; }
    // Closes at once, without even reading the request.
    static Step close() { return {Step::Kind::Close, {}, {}}; }
    // The bytes in pieces of `size`, each after a short pause.
    static Script pieces(const std::string& bytes, std::size_t size, std::chrono::milliseconds gap);

    // Listens at `path` and plays `script` on each connection.
    ScriptedServer(QString path, Script script);
    // The script may depend on the connection's number (0 for the first).
    ScriptedServer(QString path, std::function<Script(int)> scriptFor);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    bool listening() const { return listenFd_ >= 0; }
    int connections() const { return connections_.load(); }
    int mostAtOnce() const { return mostAtOnce_.load(); }
    // The bytes received on each connection so far, in the order the connections were accepted.
    std::vector<std::string> received() const;

    // Leaves a socket file at `path` that nobody listens on, as a bridge that crashed would.
    static bool leaveStaleSocket(const QString& path);

private:
    void acceptLoop();
    void serve(int fd, int index, const Script& script);
    bool waitForStop(std::chrono::milliseconds duration);

    QString path_;
    std::function<Script(int)> scriptFor_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::atomic<int> connections_{0};
    std::atomic<int> active_{0};
    std::atomic<int> mostAtOnce_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};
