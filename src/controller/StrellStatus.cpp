#include "StrellStatus.h"

#include "JsonFields.h"

std::optional<StrellStatus> StrellStatus::parse(const nlohmann::json* value) {
    using namespace JsonFields;
    if (!value || !value->is_object())
        return std::nullopt;
    const std::optional<qint64> revision = integer(*value, "revision");
    if (!revision)
        return std::nullopt;

    StrellStatus status;
    status.revision = *revision;

    if (const nlohmann::json* pilot = object(*value, "pilot")) {
        status.draft.enabled = true;
        if (auto role = text(*pilot, "rolePath"))
            status.draft.role = *role;
        if (auto origin = text(*pilot, "origin"))
            status.draft.origin = *origin;
        if (auto model = text(*pilot, "model"))
            status.draft.model = *model;
    }

    // One malformed role empties the whole list: a half-read list would offer the wrong choices.
    if (const nlohmann::json* roles = array(*value, "roles")) {
        bool wellFormed = true;
        for (const auto& element : *roles) {
            if (!element.is_object()) {
                wellFormed = false;
                break;
            }
            for (const auto& [key, member] : element.items())
                if (!member.is_string())
                    wellFormed = false;
            if (!wellFormed)
                break;
        }
        if (wellFormed) {
            for (const auto& element : *roles) {
                auto path = text(element, "path");
                auto title = text(element, "title");
                if (path && title)
                    status.roles.append(Role{*path, *title});
            }
        }
    }

    status.editable = boolean(*value, "editable").value_or(false);
    status.busy = boolean(*value, "busy").value_or(false);
    status.idle = boolean(*value, "idle").value_or(false);
    status.problem = text(*value, "problem");
    return status;
}
