#pragma once

#include <QString>
#include <nlohmann/json.hpp>

#include <optional>

// Where the bridge's session hooks sit in Claude Code's and Codex's configurations, as the bridge reports it.
struct SessionHooksStatus {
    struct Target {
        bool installed = false;
        bool current = false; // false while they still point to an old location until the bridge restarts
        QString path;         // the configuration file they live in, or would live in
        qint64 events = 0;
        std::optional<QString> problem;

        bool operator==(const Target&) const = default;
    };

    Target claude;
    Target codex;
    std::optional<QString> note;

    bool operator==(const SessionHooksStatus&) const = default;

    bool on() const { return claude.installed || codex.installed; }

    // Absent unless the value is an object with both targets. `value` null means the member is missing.
    static std::optional<SessionHooksStatus> parse(const nlohmann::json* value);

private:
    static std::optional<Target> target(const nlohmann::json* value);
};
