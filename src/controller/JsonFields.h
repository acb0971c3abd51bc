#pragma once

#include <QString>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <optional>

// Reading members of the bridge's replies: a member that is missing or of another JSON type counts as absent,
// so a reply never makes the reader fail.
namespace JsonFields {

inline const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object())
        return nullptr;
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

inline std::optional<QString> text(const nlohmann::json* value) {
    if (!value || !value->is_string())
        return std::nullopt;
    return QString::fromStdString(value->get_ref<const std::string&>());
}
inline std::optional<QString> text(const nlohmann::json& object, const char* key) {
    return text(member(object, key));
}

inline std::optional<bool> boolean(const nlohmann::json* value) {
    if (!value || !value->is_boolean())
        return std::nullopt;
    return value->get<bool>();
}
inline std::optional<bool> boolean(const nlohmann::json& object, const char* key) {
    return boolean(member(object, key));
}

// A JSON number with an integral value that fits a signed 64-bit integer (3 and 3.0 alike).
inline std::optional<qint64> integer(const nlohmann::json* value) {
    if (!value)
        return std::nullopt;
    if (value->is_number_unsigned()) {
        const uint64_t u = value->get<uint64_t>();
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return std::nullopt;
        return static_cast<qint64>(u);
    }
    if (value->is_number_integer())
        return value->get<int64_t>();
    if (value->is_number_float()) {
        const double d = value->get<double>();
        if (std::isfinite(d) && std::floor(d) == d && d >= -9223372036854775808.0 &&
            d < 9223372036854775808.0)
            return static_cast<qint64>(d);
    }
    return std::nullopt;
}
inline std::optional<qint64> integer(const nlohmann::json& object, const char* key) {
    return integer(member(object, key));
}

inline const nlohmann::json* object(const nlohmann::json& parent, const char* key) {
    const nlohmann::json* value = member(parent, key);
    return value && value->is_object() ? value : nullptr;
}

inline const nlohmann::json* array(const nlohmann::json& parent, const char* key) {
    const nlohmann::json* value = member(parent, key);
    return value && value->is_array() ? value : nullptr;
}

// True for an array all of whose elements are objects (an empty array included).
inline bool isArrayOfObjects(const nlohmann::json& value) {
    if (!value.is_array())
        return false;
    for (const auto& element : value)
        if (!element.is_object())
            return false;
    return true;
}

} // namespace JsonFields
