#include "Bundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <plist/plist.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Info dictionaries are a few kilobytes; anything near this is not one.
constexpr qint64 maxPropertyListBytes = 4 * 1024 * 1024;
// Real dictionaries nest a few levels; deeper values are dropped rather than walked by recursion.
constexpr int maxPropertyListDepth = 64;

nlohmann::json toJson(plist_t node, int depth = 0) {
    if (depth > maxPropertyListDepth)
        return nlohmann::json();
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
            result.push_back(toJson(plist_array_get_item(node, i), depth + 1));
        return result;
    }
    case PLIST_DICT: {
        nlohmann::json result = nlohmann::json::object();
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        char* key = nullptr;
        plist_t value = nullptr;
        for (plist_dict_next_item(node, it, &key, &value); value;
             plist_dict_next_item(node, it, &key, &value)) {
            if (key)
                result[std::string(key)] = toJson(value, depth + 1);
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

std::optional<nlohmann::json> propertyListFrom(int fd) {
    const std::optional<QByteArray> bytes = readRegularFile(fd, maxPropertyListBytes);
    ::close(fd);
    if (!bytes)
        return std::nullopt;
    return parsePropertyList(*bytes);
}

} // namespace

std::optional<QByteArray> readRegularFile(int fd, qint64 limit) {
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > limit)
        return std::nullopt;
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return bytes;
        bytes.append(buffer, static_cast<qsizetype>(n));
        if (bytes.size() > limit) // grew after the check
            return std::nullopt;
    }
}

std::optional<nlohmann::json> readPropertyList(const QString& path) {
    // The last component is never followed and never waited on: a link to /dev/zero or a FIFO in the
    // file's place must neither exhaust memory nor hold the reading thread.
    return propertyListFrom(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

std::optional<nlohmann::json> parsePropertyList(const QByteArray& bytes) {
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
    const int root = ::open(QFile::encodeName(bundle.path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root >= 0) {
        bundle.info = infoAt(root);
        ::close(root);
    }
    return bundle;
}

nlohmann::json Bundle::infoAt(int bundleFd) {
    // Inside the bundle nothing is reached through a link: Contents is opened as a folder of its own.
    const int contents = ::openat(bundleFd, "Contents", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (contents < 0)
        return nlohmann::json::object();
    const int file = ::openat(contents, "Info.plist", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    ::close(contents);
    auto parsed = propertyListFrom(file);
    return parsed && parsed->is_object() ? std::move(*parsed) : nlohmann::json::object();
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
