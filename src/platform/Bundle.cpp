#include "Bundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <plist/plist.h>

namespace {

nlohmann::json toJson(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value != 0;
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return static_cast<int64_t>(value);
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING: {
        char* value = nullptr;
        plist_get_string_val(node, &value);
        nlohmann::json result = value ? std::string(value) : std::string();
        free(value);
        return result;
    }
    case PLIST_ARRAY: {
        nlohmann::json result = nlohmann::json::array();
        const uint32_t count = plist_array_get_size(node);
        for (uint32_t i = 0; i < count; ++i)
            result.push_back(toJson(plist_array_get_item(node, i)));
        return result;
    }
    case PLIST_DICT: {
        nlohmann::json result = nlohmann::json::object();
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        char* key = nullptr;
        plist_t value = nullptr;
        for (plist_dict_next_item(node, it, &key, &value); value; plist_dict_next_item(node, it, &key, &value)) {
            if (key)
                result[std::string(key)] = toJson(value);
            free(key);
            key = nullptr;
        }
        free(it);
        return result;
    }
    default:
        // Data, dates and UIDs: the connector reads none of them; keep their presence visible.
        return nlohmann::json();
    }
}

} // namespace

std::optional<nlohmann::json> readPropertyList(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    if (!root)
        return std::nullopt;
    nlohmann::json result = toJson(root);
    plist_free(root);
    return result;
}

std::optional<QString> Bundle::string(const char* key) const {
    auto it = info.find(key);
    if (it == info.end() || !it->is_string())
        return std::nullopt;
    return QString::fromStdString(it->get<std::string>());
}

std::optional<bool> Bundle::boolean(const char* key) const {
    auto it = info.find(key);
    if (it == info.end() || !it->is_boolean())
        return std::nullopt;
    return it->get<bool>();
}

Bundle Bundle::at(const QString& path) {
    Bundle bundle;
    bundle.path = QDir::cleanPath(path);
    if (auto parsed = readPropertyList(bundle.infoPlistPath()); parsed && parsed->is_object())
        bundle.info = std::move(*parsed);
    return bundle;
}

std::optional<QString> Bundle::containing(const QString& executablePath) {
    const QFileInfo exe(executablePath);
    const QDir macos = exe.dir();
    if (macos.dirName() != QStringLiteral("MacOS"))
        return std::nullopt;
    QDir contents = macos;
    if (!contents.cdUp() || contents.dirName() != QStringLiteral("Contents"))
        return std::nullopt;
    QDir bundle = contents;
    if (!bundle.cdUp())
        return std::nullopt;
    return bundle.absolutePath();
}

const std::optional<Bundle>& Bundle::main() {
    static const std::optional<Bundle> value = []() -> std::optional<Bundle> {
        const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
        if (auto path = containing(exe))
            return Bundle::at(*path);
        return std::nullopt;
    }();
    return value;
}

const nlohmann::json& Bundle::mainInfo() {
    static const nlohmann::json empty = nlohmann::json::object();
    return main() ? main()->info : empty;
}
