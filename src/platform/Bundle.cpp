#include "Bundle.h"
#include "PropertyListShape.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <plist/plist.h>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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
        plist_t value = nullptr;
        // The key is read only after checking that it is one: a binary property list can name any object as
        // a dictionary key, and libplist aborts the process when asked for the text of a non-key.
        for (plist_dict_next_item(node, it, nullptr, &value); value;
             plist_dict_next_item(node, it, nullptr, &value)) {
            const plist_t keyNode = plist_dict_item_get_key(value);
            if (!keyNode || plist_get_node_type(keyNode) != PLIST_KEY)
                continue;
            char* key = nullptr;
            plist_get_key_val(keyNode, &key);
            if (key)
                result[std::string(key)] = toJson(value, depth + 1);
            free(key);
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

namespace {

// libplist aborts the process (an assertion) when it hands out a text or key with a zero character inside,
// which a binary property list can hold. Such lists are refused before parsing: no real Info dictionary has
// one. Walks the object table: strings are ASCII (marker 0x5n) or UTF-16 (0x6n), their length in the low
// nibble or, at 0xF, in an integer object that follows.
bool binaryHasZeroInText(const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const std::size_t size = static_cast<std::size_t>(bytes.size());
    if (size < 8 + 32)
        return false; // too short to parse at all
    const unsigned char* trailer = data + size - 32;
    const unsigned offsetSize = trailer[6];
    auto big = [](const unsigned char* p, unsigned n) {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i)
            v = (v << 8) | p[i];
        return v;
    };
    const std::uint64_t count = big(trailer + 8, 8);
    const std::uint64_t table = big(trailer + 24, 8);
    if (offsetSize == 0 || offsetSize > 8 || table >= size || count > size ||
        table + count * offsetSize > size - 32)
        return true; // malformed: refuse rather than let the parser guess
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = big(data + table + i * offsetSize, offsetSize);
        if (at >= size)
            return true;
        const unsigned marker = data[at] >> 4;
        if (marker != 0x5 && marker != 0x6)
            continue;
        std::uint64_t length = data[at] & 0xF;
        std::uint64_t start = at + 1;
        if (length == 0xF) {
            if (start >= size || (data[start] >> 4) != 0x1)
                return true;
            const unsigned n = 1u << (data[start] & 0xF);
            if (n > 8 || start + 1 + n > size)
                return true;
            length = big(data + start + 1, n);
            start += 1 + n;
        }
        const std::uint64_t unit = marker == 0x6 ? 2 : 1;
        if (length > size || start + length * unit > size)
            return true;
        for (std::uint64_t c = 0; c < length; ++c) {
            const bool zero =
                unit == 1 ? data[start + c] == 0 : (data[start + 2 * c] == 0 && data[start + 2 * c + 1] == 0);
            if (zero)
                return true;
        }
    }
    return false;
}

} // namespace

std::optional<nlohmann::json> parsePropertyList(const QByteArray& bytes) {
    if (bytes.startsWith("bplist") && binaryHasZeroInText(bytes))
        return std::nullopt;
    // In XML a zero character can only be written as a character reference.
    if (!bytes.startsWith("bplist") &&
        (bytes.contains("&#0") || bytes.contains("&#x0") || bytes.contains('\0')))
        return std::nullopt;
    // Measured before libplist builds a tree it could not free again.
    if (PropertyListShape::tooDeepOrLarge(bytes))
        return std::nullopt;
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
