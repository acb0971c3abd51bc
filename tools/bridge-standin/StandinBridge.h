#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

// The stand-in's state and commands: one request line in, one reply object out. No sockets here; the server
// feeds it lines and asks it when the next piece of timed work ends. Single-threaded by design.
class StandinBridge {
public:
    using Clock = std::chrono::steady_clock;
    using Persist = std::function<void(const nlohmann::json&)>;

    // `scenario` is the whole scenario document; `persist` receives it after every change of state.
    StandinBridge(nlohmann::json scenario, bool managed, std::string startedAt, Persist persist);

    struct Answer {
        nlohmann::json reply;
        std::chrono::milliseconds delay{0}; // the scenario's reply delay for this command
        // Bytes sent instead of `reply` (the scenario's "garbage" knob): an answer that is not JSON.
        std::optional<std::string> raw;
    };

    // Answers one request line. Never throws: every problem becomes {"ok":false,"error":...}.
    Answer handleLine(const std::string& line);

    // Ends executor-tool work whose time has come; returns whether anything ended.
    bool tick(Clock::time_point now = Clock::now());
    std::optional<Clock::time_point> nextDeadline() const;

    // The scenario was edited on disk while running: take its state, keep the running work.
    void replaceScenario(nlohmann::json scenario);

    const nlohmann::json& scenario() const { return scenario_; }

    // The "status" result as the connector reads it.
    nlohmann::json status() const;

    // A fresh ISO 8601 UTC time with milliseconds, such as "2025-03-01T08:15:30.250Z".
    static std::string isoNow(std::chrono::system_clock::duration offset = {});

    // The scenario a fresh data directory gets, so that demos show a lively bridge.
    static nlohmann::json defaultScenario(const std::string& home);

    // A refusal as the bridge words it: {"ok": false, "error": text}.
    static nlohmann::json failure(const std::string& text);

private:
    struct CliWork {
        std::string command;
        std::string id;
        Clock::time_point until;
    };

    nlohmann::json dispatch(const std::string& command, const nlohmann::json& request);
    nlohmann::json startCli(const std::string& command, const nlohmann::json& request);
    void finishCli(const CliWork& work);
    nlohmann::json revoke(const nlohmann::json& request);
    nlohmann::json ticket() const;
    nlohmann::json hooks(bool install);
    nlohmann::json strell(const std::string& command, const nlohmann::json& request);
    nlohmann::json answer(const std::string& command, const nlohmann::json& request);
    std::chrono::milliseconds delayFor(const std::string& command) const;
    bool reportedEditable() const;
    bool reportedIdle() const;

    nlohmann::json& state();
    const nlohmann::json& state() const;
    bool cliBusy() const;
    void save();

    nlohmann::json scenario_;
    bool managed_;
    std::string startedAt_;
    Persist persist_;
    std::optional<CliWork> work_;
};
