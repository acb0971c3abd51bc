#pragma once

#include "StrellDraft.h"

#include <QList>
#include <QString>
#include <nlohmann/json.hpp>

#include <optional>

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
