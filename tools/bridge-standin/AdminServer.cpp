#include "AdminServer.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void makeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

} // namespace

AdminServer::AdminServer(int listenFd, int wakeFd, StandinBridge& bridge, ScenarioFile& scenario)
    : listenFd_(listenFd), wakeFd_(wakeFd), bridge_(bridge), scenario_(scenario) {
    makeNonBlocking(listenFd_);
}

AdminServer::~AdminServer() {
    for (Client& client : clients_)
        finish(client);
    if (requestLog_ >= 0)
        ::close(requestLog_);
}

void AdminServer::run() {
    for (;;) {
        Clock::time_point now = Clock::now();
        bridge_.tick(now);
        for (Client& client : clients_)
            expire(client, now);
        std::erase_if(clients_, [](const Client& client) { return client.phase == Phase::Done; });

        std::vector<pollfd> fds;
        fds.push_back({wakeFd_, POLLIN, 0});
        fds.push_back({listenFd_, static_cast<short>(clients_.size() < maxClients ? POLLIN : 0), 0});
        Clock::time_point wakeAt = now + std::chrono::seconds(60);
        if (const auto work = bridge_.nextDeadline())
            wakeAt = std::min(wakeAt, *work);
        for (const Client& client : clients_) {
            short events = 0;
            if (client.phase == Phase::Reading || client.phase == Phase::Draining)
                events = POLLIN;
            else if (client.phase == Phase::Writing)
                events = POLLOUT;
            // A held-back reply waits for its time only: a negative descriptor keeps poll from reporting
            // hang-ups.
            fds.push_back({events != 0 ? client.fd : -1, events, 0});
            wakeAt = std::min(wakeAt, client.deadline);
        }
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(std::max(wakeAt - now, Clock::duration::zero()));
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0)
            continue;
        if (fds[0].revents != 0)
            return;
        // Clients accepted below are polled from the next round on; the indexes here stay valid.
        const std::size_t polled = clients_.size();
        for (std::size_t i = 0; i < polled; ++i) {
            Client& client = clients_[i];
            if (fds[i + 2].revents == 0)
                continue;
            if (client.phase == Phase::Reading)
                readRequest(client);
            else if (client.phase == Phase::Writing)
                writeReply(client);
            else if (client.phase == Phase::Draining)
                drain(client);
        }
        if (fds[1].revents & POLLIN)
            acceptClients();
    }
}

void AdminServer::acceptClients() {
    while (clients_.size() < maxClients) {
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // EAGAIN, or out of descriptors: try again next round
        }
        makeNonBlocking(fd);
        Client client;
        client.fd = fd;
        client.deadline = Clock::now() + readTimeout;
        clients_.push_back(std::move(client));
    }
}

void AdminServer::readRequest(Client& client) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                finish(client);
            return;
        }
        if (n == 0) {
            // The client stopped writing without a line feed: what it sent is the request.
            if (client.input.empty())
                finish(client);
            else
                respond(client, client.input);
            return;
        }
        const std::size_t searchFrom = client.input.size();
        client.input.append(buffer, static_cast<std::size_t>(n));
        const std::size_t newline = client.input.find('\n', searchFrom);
        if (newline != std::string::npos) {
            respond(client, client.input.substr(0, newline));
            return;
        }
        if (client.input.size() > maxRequestBytes) {
            reply(client, StandinBridge::failure("请求太长了（超过 1 MiB）"), {});
            return;
        }
    }
}

void AdminServer::respond(Client& client, const std::string& line) {
    if (requestLog_ >= 0) {
        // One write per line, so a reader never sees half a request.
        const std::string entry = line + "\n";
        [[maybe_unused]] const ssize_t written = ::write(requestLog_, entry.data(), entry.size());
    }
    // Someone edited the scenario while we run: answer from the edited state.
    if (auto edited = scenario_.reloadIfChanged())
        bridge_.replaceScenario(std::move(*edited));
    const StandinBridge::Answer answer = bridge_.handleLine(line);
    if (answer.raw)
        send(client, *answer.raw, answer.delay);
    else
        reply(client, answer.reply, answer.delay);
}

void AdminServer::reply(Client& client, const nlohmann::json& answer, std::chrono::milliseconds delay) {
    send(client, answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n", delay);
}

void AdminServer::send(Client& client, std::string bytes, std::chrono::milliseconds delay) {
    client.input.clear();
    client.output = std::move(bytes);
    client.sent = 0;
    if (delay.count() > 0) {
        client.phase = Phase::Waiting;
        client.deadline = Clock::now() + delay;
        return;
    }
    client.phase = Phase::Writing;
    client.deadline = Clock::now() + writeTimeout;
    writeReply(client);
}

void AdminServer::writeReply(Client& client) {
    while (client.sent < client.output.size()) {
        const ssize_t n =
            ::send(client.fd, client.output.data() + client.sent, client.output.size() - client.sent,
#ifdef MSG_NOSIGNAL
                   MSG_NOSIGNAL
#else
                   0
#endif
            );
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                finish(client);
            return;
        }
        client.sent += static_cast<std::size_t>(n);
    }
    // Closing with unread request bytes would reset the connection and could destroy the reply in flight:
    // end our side, then read until the client closes.
    ::shutdown(client.fd, SHUT_WR);
    client.phase = Phase::Draining;
    client.deadline = Clock::now() + drainTimeout;
    drain(client);
}

void AdminServer::drain(Client& client) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        finish(client);
        return;
    }
}

void AdminServer::expire(Client& client, Clock::time_point now) {
    if (client.phase == Phase::Done || now < client.deadline)
        return;
    switch (client.phase) {
    case Phase::Reading:
        reply(client, StandinBridge::failure("30 秒内没有收到完整的请求"), {});
        break;
    case Phase::Waiting:
        client.phase = Phase::Writing;
        client.deadline = now + writeTimeout;
        writeReply(client);
        break;
    case Phase::Writing:
    case Phase::Draining:
        finish(client);
        break;
    case Phase::Done:
        break;
    }
}

void AdminServer::finish(Client& client) {
    if (client.fd >= 0)
        ::close(client.fd);
    client.fd = -1;
    client.phase = Phase::Done;
}
