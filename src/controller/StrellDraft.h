#pragma once

#include <QString>
#include <nlohmann/json.hpp>

// The gateway-routing setting, while the user edits it and when it is sent.
struct StrellDraft {
    bool enabled =
        false;    // true: the chosen role goes through the gateway; false: every role connects directly
    QString role; // the role's path in the company repository
    QString origin = QStringLiteral("http://127.0.0.1:3425");
    QString model = QStringLiteral("fixture/validation-model");

    bool operator==(const StrellDraft&) const = default;

    // Its form for the bridge: {"rolePath", "origin", "model"} when enabled, JSON null when not (the fields
    // typed while the gateway was on are then not sent at all).
    nlohmann::json payload() const;
};
