#include "UpdateInfo.h"

#include "JsonDepth.h"

#include <cmath>
#include <limits>

namespace {

QString quoted(const char* key) {
    return QStringLiteral("「") + QString::fromUtf8(key) + QStringLiteral("」");
}

[[noreturn]] void missing(const char* key) {
    throw UpdateInfo::DecodeError(QStringLiteral("更新清单缺少") + quoted(key));
}

[[noreturn]] void wrongType(const char* key) {
    throw UpdateInfo::DecodeError(QStringLiteral("更新清单里的") + quoted(key) + QStringLiteral("类型不对"));
}

// A JSON number with an integral value that fits a signed 64-bit integer.
std::optional<qint64> int64Of(const nlohmann::json& value) {
    if (value.is_number_integer() && !value.is_number_unsigned())
        return value.get<int64_t>();
    if (value.is_number_unsigned()) {
        const uint64_t u = value.get<uint64_t>();
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return std::nullopt;
        return static_cast<qint64>(u);
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        // 2^63 itself is out of range; every double below it with an integral value converts exactly.
        if (std::isfinite(d) && std::floor(d) == d && d >= -9223372036854775808.0 &&
            d < 9223372036854775808.0)
            return static_cast<qint64>(d);
    }
    return std::nullopt;
}

// A present, non-null member; null counts as absent, as the feed's optional keys require.
const nlohmann::json* present(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

QString requiredText(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = present(object, key);
    if (!value)
        missing(key);
    if (!value->is_string())
        wrongType(key);
    return QString::fromStdString(value->get<std::string>());
}

std::optional<QString> optionalText(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = present(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_string())
        wrongType(key);
    return QString::fromStdString(value->get<std::string>());
}

std::optional<qint64> optionalInteger(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = present(object, key);
    if (!value)
        return std::nullopt;
    const std::optional<qint64> number = int64Of(*value);
    if (!number)
        wrongType(key);
    return number;
}

} // namespace

QString UpdateInfo::label() const {
    return version + QStringLiteral("（") + QString::number(build) + QStringLiteral("）");
}

UpdateInfo UpdateInfo::fromJson(const nlohmann::json& object) {
    if (!object.is_object())
        throw DecodeError(QStringLiteral("更新清单不是一个 JSON 对象"));
    UpdateInfo info;
    info.version = requiredText(object, "version");
    const std::optional<qint64> build = optionalInteger(object, "build");
    if (!build)
        missing("build");
    info.build = *build;
    info.url = requiredText(object, "url");
    info.sha256 = requiredText(object, "sha256");
    info.size = optionalInteger(object, "size");
    info.minimumSystemVersion = optionalText(object, "minimumSystemVersion");
    info.notes = optionalText(object, "notes");
    return info;
}

UpdateInfo UpdateInfo::decode(const QByteArray& document) {
    // Nesting far beyond any feed would overflow the stack when the value is copied or walked.
    if (!JsonDepth::within(std::string_view(document.constData(), static_cast<std::size_t>(document.size()))))
        throw DecodeError(QStringLiteral("更新清单不是有效的 JSON"));
    nlohmann::json parsed = nlohmann::json::parse(document.constBegin(), document.constEnd(), nullptr, false);
    if (parsed.is_discarded())
        throw DecodeError(QStringLiteral("更新清单不是有效的 JSON"));
    return fromJson(parsed);
}
