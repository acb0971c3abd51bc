#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

// The bridge as the connector sees it, from one "status" and one "pairings" reply.

// "claude_code" → "Claude Code", "codex" → "Codex", "evox" → "EvoX"; any other id is its own name.
QString engineTitle(const QString& id);

// What one bridge reply may put in front of the user. A real bridge lists three engines with short texts; a
// broken or hostile one must not make the menu and the overview build thousands of rows or lay out megabytes.
namespace ReplyCaps {
inline constexpr qsizetype listedEngines = 12;
inline constexpr qsizetype textChars = 160;
// At most textChars characters, the cut marked with "…".
QString clipped(const QString& text);
std::optional<QString> clipped(const std::optional<QString>& text);
// The line below the listed engines for those left out.
QString enginesNotListedLine(qsizetype count);
} // namespace ReplyCaps

struct BridgeStatus {
    std::optional<qint64> port;
    std::optional<QString> version;
    std::optional<QDateTime> startedAt; // changes with every start of the bridge
    bool managed = false;               // runs under our background item, not started by hand
    qint64 openRuns = 0;                // the self-update and the legacy rename wait while above 0
    std::optional<QString> repoRoot;
    qint64 repoRoles = 0;
    std::optional<QString> repoProblem;
    bool leasesOn = false;
    std::optional<QString> leasesReason;
    std::optional<QString> leasesHolder;

    bool operator==(const BridgeStatus&) const = default;
};

// One executor tool as the bridge finds it on this Mac.
struct Engine {
    QString id;
    QString title;
    QString summary;
    QString detail;
    bool usable = false;
    std::optional<QString> path;

    bool operator==(const Engine&) const = default;
};

// One executor tool's version and update state.
struct CliTool {
    QString id;
    std::optional<QString> currentVersion;
    std::optional<QString> latestVersion;
    bool canUpdate = false;
    bool updateAvailable = false;
    std::optional<qint64> models;
    bool checked = false;
    QString message; // empty when the bridge has none

    bool operator==(const CliTool&) const = default;
    QString title() const { return engineTitle(id); }
};

// One companion-app client connected to the bridge.
struct Pairing {
    QString id; // used to revoke it
    QString label;
    QString tail;
    QString client;
    std::optional<QString> lastSeen; // already formatted for display

    bool operator==(const Pairing&) const = default;
};

// What the executor-tool work is doing.
struct CliActivity {
    struct Updating {
        QString engine; // empty when the bridge did not say which tool
        QString title;
        std::optional<QString> to;
        bool operator==(const Updating&) const = default;
    };
    struct Checking {
        bool operator==(const Checking&) const = default;
    };
    struct Refreshing {
        bool operator==(const Refreshing&) const = default;
    };

    using Value = std::variant<Updating, Checking, Refreshing>;
    Value value = Checking{};

    CliActivity() = default;
    template <typename Case, typename = std::enable_if_t<std::is_constructible_v<Value, Case>>>
    CliActivity(Case c) : value(std::move(c)) {}

    bool operator==(const CliActivity&) const = default;

    template <typename Case> bool is() const { return std::holds_alternative<Case>(value); }
    template <typename Case> const Case* as() const { return std::get_if<Case>(&value); }

    // From the bridge's own word for its work: "update", "refresh", anything else (or none) is a check.
    static CliActivity operation(const std::optional<QString>& word);

    // From a command we send: "cli-check", "cli-refresh", "cli-update" with an engine; absent otherwise.
    static std::optional<CliActivity> command(const QString& command, const std::optional<QString>& engine,
                                              const QList<CliTool>& tools);

    // "正在检查执行工具更新…", "正在刷新模型清单…", "正在更新 Codex 到 0.30.0…"
    QString title() const;
};

// The result line of a user-started executor-tool action.
struct CliResult {
    QString text;
    QDateTime at;

    bool operator==(const CliResult&) const = default;
};
