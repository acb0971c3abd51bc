#pragma once

#include <QList>
#include <QString>
#include <nlohmann/json.hpp>

#include <optional>

// The gateway-routing setting, while the user edits it and when it is sent.
struct StrellDraft {
    bool enabled =
        false;    // true: the chosen role goes through the gateway; false: every role connects directly
    QString role; // the role's path in the company repository
    QString origin = QStringLiteral("http://127.0.0.1:3425");
    QString model = QStringLiteral("fixture/validation-model");

    bool operator==(const StrellDraft&) const = default;

    // Its form for the bridge: {"rolePath", "origin", "model"} when enabled, JSON null when not.
    nlohmann::json payload() const;
};

// The bridge's report on gateway routing, from the "strell" member of its status.
struct StrellStatus {
    struct Role {
        QString path; // identity, and the value kept in StrellDraft::role
        QString title;
        bool operator==(const Role&) const = default;
    };

    qint64 revision = 0; // sent back as "expectedRevision" so stale edits are refused
    bool editable = false;
    bool busy = false;
    bool idle = false;
    StrellDraft draft;
    QList<Role> roles;
    std::optional<QString> problem;

    bool operator==(const StrellStatus&) const = default;

    // Absent unless the value is an object with an integer "revision". `value` null means the member is
    // missing.
    static std::optional<StrellStatus> parse(const nlohmann::json* value);
};
