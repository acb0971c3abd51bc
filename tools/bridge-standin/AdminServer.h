#pragma once

#include "ScenarioFile.h"
#include "StandinBridge.h"

#include <chrono>
#include <string>
#include <vector>

// The admin socket's event loop: one poll over the listening socket, a wake-up pipe and every client, so a
// slow or silent client never holds up the others. Per connection: one request line in, one reply out, close.
class AdminServer {
public:
    // Takes ownership of neither descriptor. `wakeFd` becoming readable ends run().
    AdminServer(int listenFd, int wakeFd, StandinBridge& bridge, ScenarioFile& scenario);
    ~AdminServer();

    void run();

    // Appends every request line, exactly as received, to the open file `fd`, which the server then owns
    // (tests check what the connector sent, byte for byte).
    void logRequestsTo(int fd) { requestLog_ = fd; }

    static constexpr std::size_t maxRequestBytes = 1024 * 1024;
    static constexpr std::size_t maxClients = 256;
    static constexpr std::chrono::seconds readTimeout{30};
    static constexpr std::chrono::seconds writeTimeout{10};
    static constexpr std::chrono::seconds drainTimeout{2};

private:
    using Clock = StandinBridge::Clock;
    enum class Phase { Reading, Waiting, Writing, Draining, Done };
    struct Client {
        int fd = -1;
        Phase phase = Phase::Reading;
        std::string input;
        std::string output;
        std::size_t sent = 0;
        Clock::time_point deadline;
    };

    void acceptClients();
    void respond(Client& client, const std::string& line);
    void reply(Client& client, const nlohmann::json& answer, std::chrono::milliseconds delay);
    void send(Client& client, std::string bytes, std::chrono::milliseconds delay);
    void readRequest(Client& client);
    void writeReply(Client& client);
    void drain(Client& client);
    void expire(Client& client, Clock::time_point now);
    void finish(Client& client);

    int listenFd_;
    int wakeFd_;
    StandinBridge& bridge_;
    ScenarioFile& scenario_;
    std::vector<Client> clients_;
    int requestLog_ = -1;
};
