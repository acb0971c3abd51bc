#include "SessionHooksStatus.h"

#include "JsonFields.h"

std::optional<SessionHooksStatus::Target> SessionHooksStatus::target(const nlohmann::json* value) {
    using namespace JsonFields;
    if (!value || !value->is_object())
        return std::nullopt;
    Target t;
    t.installed = boolean(*value, "installed").value_or(false);
    t.current = boolean(*value, "current").value_or(false);
    t.path = text(*value, "path").value_or(QString());
    if (const nlohmann::json* events = array(*value, "events"))
        t.events = static_cast<qint64>(events->size());
    t.problem = text(*value, "problem");
    return t;
}

std::optional<SessionHooksStatus> SessionHooksStatus::parse(const nlohmann::json* value) {
    using namespace JsonFields;
    if (!value || !value->is_object())
        return std::nullopt;
    SessionHooksStatus status;
    auto claude = target(member(*value, "claude"));
    if (!claude)
        return std::nullopt;
    auto codex = target(member(*value, "codex"));
    if (!codex)
        return std::nullopt;
    status.claude = *claude;
    status.codex = *codex;
    status.note = text(*value, "note");
    return status;
}
