#include "BundleSignature.h"
#include "Bundle.h"
#include "RelativePath.h"
#include "UniqueFd.h"

#include <QFile>
#include <QStringList>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace BundleSignature {

namespace {

constexpr const char* signatureFolder = "Contents/_CodeSignature";

using Fd = UniqueFd;

// A folder inside an open one, never reached through a link.
Fd openFolder(int dirFd, const char* name) {
    return Fd(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// A file inside an open folder, never through a link and never waiting: a FIFO or a device put in a file's
// place must not hold a worker. Callers check that what opened is a regular file.
Fd openFile(int dirFd, const char* name) {
    return Fd(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

// A file or folder that another user could change (set-id bits included, which make it run as somebody
// else) makes the bundle untrustworthy whatever its contents are now.
std::optional<std::string> unsafeMode(const struct stat& info) {
    if (info.st_mode & (S_ISUID | S_ISGID))
        return "set-id bit";
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return "writable by others";
    if (info.st_uid != 0 && info.st_uid != ::geteuid())
        return "owned by another user";
    return std::nullopt;
}

// Reads an open file to its end in pieces of `pieceSize`, handing each to `take`; false when a read fails or
// `take` refuses a piece.
template <typename Take> bool readToEnd(int fd, std::size_t pieceSize, Take take) {
    std::vector<char> buffer(pieceSize);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (!take(buffer.data(), static_cast<std::size_t>(n)))
            return false;
    }
}

std::string toLocal(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

std::string hex(const unsigned char* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0xf]);
    }
    return out;
}

// SHA-256 of an open file, read in large pieces through EVP (hardware-accelerated). With `copy`, the bytes
// hashed are kept there too, unless they grow past `copyLimit` (then `copy` ends empty).
std::optional<std::string> sha256(int fd, std::optional<QByteArray>* copy = nullptr, qint64 copyLimit = 0) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    if (copy)
        copy->emplace();
    if (!readToEnd(fd, 1 << 20, [&](const char* piece, std::size_t size) {
            if (copy && *copy) {
                (*copy)->append(piece, static_cast<qsizetype>(size));
                if ((*copy)->size() > copyLimit)
                    copy->reset();
            }
            return EVP_DigestUpdate(context.get(), piece, size) == 1;
        }))
        return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &size) != 1)
        return std::nullopt;
    return hex(digest, size);
}

using RelativePath::components;

bool isSafeManifestPath(const std::string& path) {
    if (path.empty() || path.front() == '/')
        return false;
    for (const std::string& part : components(path))
        if (part.empty() || part == "." || part == "..")
            return false;
    return path != signatureFolder && path.rfind(std::string(signatureFolder) + "/", 0) != 0;
}

constexpr const char* infoPlistPath = "Contents/Info.plist";
constexpr const char* programsFolder = "Contents/MacOS/";

struct Walk {
    std::string rootReal; // the bundle's resolved location, for checking where links really lead
    bool hashFiles = true;
    std::vector<Entry> entries;
    CheckedFiles* keep = nullptr; // hashing walks keep what a start needs, as they hashed it

    void directory(int dirFd, const std::string& prefix) {
        // fdopendir takes over a copy of the descriptor; closedir closes that copy.
        const int copy = ::dup(dirFd);
        DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
        if (!dir) {
            if (copy >= 0)
                ::close(copy);
            throw Error(Problem::unreadable, "cannot list " + (prefix.empty() ? std::string(".") : prefix));
        }
        // The copy shares its position with `dirFd`, which an earlier walk may have left at the end.
        ::rewinddir(dir);
        std::vector<std::string> names;
        errno = 0;
        while (dirent* found = ::readdir(dir)) {
            const std::string name = found->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        const bool failed = errno != 0;
        ::closedir(dir);
        if (failed)
            throw Error(Problem::unreadable, "cannot list " + prefix);
        for (const std::string& name : names)
            item(dirFd, name, prefix.empty() ? name : prefix + "/" + name);
    }

    void item(int dirFd, const std::string& name, const std::string& path) {
        struct stat info {};
        if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            throw Error(Problem::unreadable, "cannot read " + path);
        if (!S_ISLNK(info.st_mode))
            if (auto why = unsafeMode(info))
                throw Error(Problem::unsafeContents, *why + ": " + path);
        if (S_ISDIR(info.st_mode)) {
            if (path == signatureFolder)
                return;
            Fd sub = openFolder(dirFd, name.c_str());
            if (!sub)
                throw Error(Problem::unreadable, "cannot open " + path);
            directory(sub.get(), path);
        } else if (S_ISLNK(info.st_mode)) {
            std::string target(PATH_MAX, '\0');
            const ssize_t n = ::readlinkat(dirFd, name.c_str(), target.data(), target.size());
            if (n < 0 || static_cast<size_t>(n) >= target.size())
                throw Error(Problem::unreadable, "cannot read the link " + path);
            target.resize(static_cast<size_t>(n));
            if (!RelativePath::linkStaysInside(path, target) || !landsInside(path))
                throw Error(Problem::unsafeContents, "link leaves the bundle: " + path);
            entries.push_back(Entry{path, Entry::Kind::symlink, {}, false, target});
        } else if (S_ISREG(info.st_mode)) {
            if (info.st_size > maxFileBytes)
                throw Error(Problem::unsafeContents, "file too large: " + path);
            Entry entry{path, Entry::Kind::file, {}, (info.st_mode & 0111) != 0, {}};
            if (hashFiles) {
                Fd file = openFile(dirFd, name.c_str());
                struct stat opened {};
                if (!file || ::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
                    opened.st_size > maxFileBytes || unsafeMode(opened))
                    throw Error(Problem::unreadable, "cannot open " + path);
                const bool isInfo = keep && path == infoPlistPath;
                auto digest = sha256(file.get(), isInfo ? &keep->infoPlist : nullptr, maxPropertyListBytes);
                if (!digest)
                    throw Error(Problem::unreadable, "cannot read " + path);
                entry.sha256 = std::move(*digest);
                entry.executable = (opened.st_mode & 0111) != 0;
                // A program is kept open from here to its start: whatever is renamed over it meanwhile,
                // these are the bytes that were hashed.
                const std::string folder = programsFolder;
                if (keep && entry.executable && path.size() > folder.size() &&
                    path.compare(0, folder.size(), folder) == 0 &&
                    path.find('/', folder.size()) == std::string::npos)
                    keep->programs[QFile::decodeName(name.c_str())] =
                        std::make_shared<const UniqueFd>(std::move(file));
            }
            entries.push_back(std::move(entry));
        } else {
            throw Error(Problem::unsafeContents, "special file: " + path);
        }
    }

    // Where the link really leads, other links of the bundle included, must lie inside the bundle; a link
    // that leads nowhere is refused too, since what it would reach later is unknown.
    bool landsInside(const std::string& path) const {
        char* real = ::realpath((rootReal + "/" + path).c_str(), nullptr);
        if (!real)
            return false;
        const std::string resolved(real);
        std::free(real);
        return resolved.size() > rootReal.size() + 1 &&
               resolved.compare(0, rootReal.size() + 1, rootReal + "/") == 0;
    }
};

// A signature file: a regular file of at most `limit` bytes, or nothing; `tooLarge` tells the two apart.
std::optional<QByteArray> readSmallFile(int dirFd, const char* name, qint64 limit, bool* tooLarge = nullptr) {
    Fd file = openFile(dirFd, name);
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const bool large = info.st_size > limit;
    if (tooLarge)
        *tooLarge = large;
    if (large)
        return std::nullopt;
    QByteArray bytes;
    if (!readToEnd(file.get(), 65536, [&](const char* piece, std::size_t size) {
            bytes.append(piece, static_cast<qsizetype>(size));
            return bytes.size() <= limit;
        }))
        return std::nullopt;
    return bytes;
}

// The signature folder holds exactly the files the scheme names, each a regular file nobody else can
// change; anything more could smuggle data past the signature.
std::optional<std::string> strayInSignatureFolder(int folderFd) {
    struct stat self {};
    if (::fstat(folderFd, &self) != 0)
        return std::string(signatureFolder);
    if (auto why = unsafeMode(self))
        return *why + ": " + signatureFolder;
    const int copy = ::dup(folderFd);
    DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        return std::string(signatureFolder);
    }
    std::optional<std::string> stray;
    ::rewinddir(dir);
    while (dirent* found = ::readdir(dir)) {
        const std::string name = found->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        const bool known = name == "CodeResources" || name == "CodeSignature" || name == "NotarySignature";
        if (!known || ::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode) || unsafeMode(info)) {
            stray = std::string(signatureFolder) + "/" + name;
            break;
        }
    }
    ::closedir(dir);
    return stray;
}

// The bundle's resolved location, from its open folder.
std::optional<std::string> realPathOf(int fd) {
    char* real = ::realpath(("/proc/self/fd/" + std::to_string(fd)).c_str(), nullptr);
    if (!real)
        return std::nullopt;
    std::string path(real);
    std::free(real);
    return path;
}

std::vector<Entry> scanOpen(int rootFd, bool hashFiles, CheckedFiles* keep = nullptr) {
    const auto real = realPathOf(rootFd);
    if (!real)
        throw Error(Problem::unreadable, "cannot resolve the bundle");
    struct stat info {};
    if (::fstat(rootFd, &info) != 0)
        throw Error(Problem::unreadable, "cannot read the bundle");
    if (auto why = unsafeMode(info))
        throw Error(Problem::unsafeContents, *why + ": .");
    Walk walk;
    walk.rootReal = *real;
    walk.hashFiles = hashFiles;
    walk.keep = keep;
    walk.directory(rootFd, "");
    std::sort(walk.entries.begin(), walk.entries.end(),
              [](const Entry& a, const Entry& b) { return a.path < b.path; });
    return std::move(walk.entries);
}

// The first difference between what was signed and what is there, as a path and what happened to it.
std::optional<std::string> difference(const std::vector<Entry>& expected, const std::vector<Entry>& actual,
                                      bool compareHashes) {
    size_t i = 0, j = 0;
    while (i < expected.size() || j < actual.size()) {
        if (j == actual.size() || (i < expected.size() && expected[i].path < actual[j].path))
            return "missing " + expected[i].path;
        if (i == expected.size() || actual[j].path < expected[i].path)
            return "added " + actual[j].path;
        const Entry& want = expected[i];
        const Entry& have = actual[j];
        const bool same =
            want.kind == have.kind && want.target == have.target &&
            (want.kind == Entry::Kind::symlink ||
             (want.executable == have.executable && (!compareHashes || want.sha256 == have.sha256)));
        if (!same)
            return "changed " + want.path;
        ++i;
        ++j;
    }
    return std::nullopt;
}

bool isLowerHex64(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool hasExactly(const nlohmann::json& object, std::initializer_list<const char*> keys) {
    if (!object.is_object() || object.size() != keys.size())
        return false;
    return std::all_of(keys.begin(), keys.end(), [&](const char* key) { return object.contains(key); });
}

} // namespace

std::vector<Entry> scan(const QString& bundlePath, bool hashFiles) {
    const std::string root = toLocal(bundlePath);
    Fd rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd)
        throw Error(Problem::unreadable, "cannot open the bundle " + root);
    return scanOpen(rootFd.get(), hashFiles);
}

QByteArray canonical(const Manifest& manifest) {
    nlohmann::json files = nlohmann::json::array();
    for (const Entry& entry : manifest.entries) {
        if (entry.kind == Entry::Kind::file)
            files.push_back({{"path", entry.path},
                             {"type", "file"},
                             {"sha256", entry.sha256},
                             {"executable", entry.executable}});
        else
            files.push_back({{"path", entry.path}, {"type", "symlink"}, {"target", entry.target}});
    }
    const nlohmann::json document{
        {"format", format}, {"identifier", manifest.identifier}, {"team", manifest.team}, {"files", files}};
    try {
        return QByteArray::fromStdString(document.dump());
    } catch (const nlohmann::json::type_error&) {
        throw Error(Problem::unsafeContents, "a file name, target or text is not UTF-8");
    }
}

std::optional<Manifest> parse(const QByteArray& bytes) {
    const nlohmann::json document =
        nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (!hasExactly(document, {"format", "identifier", "team", "files"}) || document["format"] != format ||
        !document["identifier"].is_string() || !document["team"].is_string() || !document["files"].is_array())
        return std::nullopt;
    Manifest manifest;
    manifest.identifier = document["identifier"].get<std::string>();
    manifest.team = document["team"].get<std::string>();
    if (manifest.identifier.empty() || manifest.team.empty())
        return std::nullopt;
    for (const nlohmann::json& item : document["files"]) {
        Entry entry;
        if (!item.is_object() || !item.contains("path") || !item["path"].is_string() ||
            !item.contains("type"))
            return std::nullopt;
        entry.path = item["path"].get<std::string>();
        if (!isSafeManifestPath(entry.path))
            return std::nullopt;
        if (item["type"] == "file" && hasExactly(item, {"path", "type", "sha256", "executable"}) &&
            item["sha256"].is_string() && item["executable"].is_boolean()) {
            entry.sha256 = item["sha256"].get<std::string>();
            entry.executable = item["executable"].get<bool>();
            if (!isLowerHex64(entry.sha256))
                return std::nullopt;
        } else if (item["type"] == "symlink" && hasExactly(item, {"path", "type", "target"}) &&
                   item["target"].is_string()) {
            entry.kind = Entry::Kind::symlink;
            entry.target = item["target"].get<std::string>();
            if (!RelativePath::linkStaysInside(entry.path, entry.target))
                return std::nullopt;
        } else {
            return std::nullopt;
        }
        if (!manifest.entries.empty() && !(manifest.entries.back().path < entry.path))
            return std::nullopt;
        manifest.entries.push_back(std::move(entry));
    }
    // One spelling only: no spaces, escapes or key orders other than the signer's.
    if (canonical(manifest) != bytes)
        return std::nullopt;
    return manifest;
}

void sign(const QString& bundlePath, const Ed25519Key& key, const QString& identifier, const QString& team) {
    if (identifier.isEmpty() || team.isEmpty())
        throw Error(Problem::malformed, "the identifier and the team must not be empty");
    const std::string root = toLocal(bundlePath);
    Fd rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd)
        throw Error(Problem::unreadable, "cannot open the bundle " + root);
    Fd contents = openFolder(rootFd.get(), "Contents");
    if (!contents)
        throw Error(Problem::unreadable, "the bundle has no Contents folder: " + root);

    Manifest manifest{identifier.toStdString(), team.toStdString(), scan(bundlePath, true)};
    const QByteArray bytes = canonical(manifest);
    const QByteArray signature = key.sign(bytes);

    ::mkdirat(contents.get(), "_CodeSignature", 0755);
    Fd folder = openFolder(contents.get(), "_CodeSignature");
    if (!folder)
        throw Error(Problem::unreadable, "cannot create " + root + "/" + signatureFolder);
    auto write = [&](const char* name, const QByteArray& data) {
        ::unlinkat(folder.get(), name, 0);
        Fd file(::openat(folder.get(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        qsizetype done = 0;
        while (file && done < data.size()) {
            const ssize_t n =
                ::write(file.get(), data.constData() + done, static_cast<size_t>(data.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        if (!file || done != data.size())
            throw Error(Problem::unreadable, std::string("cannot write ") + signatureFolder + "/" + name);
    };
    ::unlinkat(folder.get(), "NotarySignature", 0); // made over the old manifest
    write("CodeResources", bytes);
    write("CodeSignature", signature);
}

void notarize(const QString& bundlePath, const Ed25519Key& notaryKey) {
    const std::string root = toLocal(bundlePath);
    Fd rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Fd contents = rootFd ? openFolder(rootFd.get(), "Contents") : Fd();
    Fd folder = contents ? openFolder(contents.get(), "_CodeSignature") : Fd();
    const auto bytes = folder ? readSmallFile(folder.get(), "CodeResources", maxManifestBytes) : std::nullopt;
    if (!bytes || !parse(*bytes))
        throw Error(Problem::notSigned, "sign the bundle before notarizing it: " + root);
    const QByteArray signature = notaryKey.sign(*bytes);
    ::unlinkat(folder.get(), "NotarySignature", 0);
    Fd file(::openat(folder.get(), "NotarySignature", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     0644));
    if (!file ||
        ::write(file.get(), signature.constData(), static_cast<size_t>(signature.size())) != signature.size())
        throw Error(Problem::unreadable, std::string("cannot write ") + signatureFolder + "/NotarySignature");
}

bool assess(const QString& bundlePath, const SigningKeyring& keyring) {
    const Verdict verdict = verify(bundlePath, keyring);
    if (!verdict.valid())
        return false;
    const std::string root = toLocal(bundlePath);
    Fd rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Fd contents = rootFd ? openFolder(rootFd.get(), "Contents") : Fd();
    Fd folder = contents ? openFolder(contents.get(), "_CodeSignature") : Fd();
    const auto signature = folder ? readSmallFile(folder.get(), "NotarySignature", 64) : std::nullopt;
    if (!signature || signature->size() != 64)
        return false;
    // The manifest's one canonical form is exactly the bytes verify() accepted.
    const QByteArray bytes = canonical(*verdict.manifest);
    const QList<QByteArray> keys = keyring.keysFor(notaryTeam);
    return std::any_of(keys.begin(), keys.end(),
                       [&](const QByteArray& key) { return Ed25519Key::verify(key, bytes, *signature); });
}

Verdict verify(const QString& bundlePath, const SigningKeyring& keyring,
               const std::optional<QString>& identifier, const std::optional<QString>& team) {
    const std::string root = toLocal(bundlePath);
    Fd rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd) {
        Verdict verdict;
        verdict.problem = Problem::unreadable;
        verdict.detail = root;
        return verdict;
    }
    return verifyOpen(rootFd.get(), keyring, identifier, team);
}

Verdict verifyOpen(int bundleFd, const SigningKeyring& keyring, const std::optional<QString>& identifier,
                   const std::optional<QString>& team, CheckedFiles* files) {
    Verdict verdict;
    auto fail = [&](Problem problem, std::string detail = {}) {
        verdict.problem = problem;
        verdict.detail = std::move(detail);
        return verdict;
    };
    Fd contents = openFolder(bundleFd, "Contents");
    Fd folder = contents ? openFolder(contents.get(), "_CodeSignature") : Fd();
    if (!folder)
        return fail(Problem::notSigned);
    if (auto stray = strayInSignatureFolder(folder.get()))
        return fail(Problem::unsafeContents, *stray);
    bool manifestTooLarge = false;
    const auto bytes = readSmallFile(folder.get(), "CodeResources", maxManifestBytes, &manifestTooLarge);
    const auto signature = readSmallFile(folder.get(), "CodeSignature", 64);
    if (manifestTooLarge)
        return fail(Problem::malformed, "manifest too large");
    if (!bytes || !signature)
        return fail(Problem::notSigned);

    // The signature over the raw bytes comes first: nothing unsigned is ever decoded.
    QStringList signers;
    for (const auto& [keyTeam, key] : keyring.all())
        if (Ed25519Key::verify(key, *bytes, *signature))
            signers << keyTeam;
    if (signers.isEmpty())
        return fail(Problem::badSignature);

    std::optional<Manifest> manifest = parse(*bytes);
    if (!manifest)
        return fail(Problem::malformed);
    const QString declaredTeam = QString::fromStdString(manifest->team);
    if (keyring.keysFor(declaredTeam).isEmpty())
        return fail(Problem::untrustedTeam, manifest->team);
    if (!signers.contains(declaredTeam))
        return fail(Problem::badSignature);
    if (identifier && identifier->toStdString() != manifest->identifier)
        return fail(Problem::wrongIdentifier, manifest->identifier);
    if (team && team->toStdString() != manifest->team)
        return fail(Problem::wrongTeam, manifest->team);

    // The cheap walk first: an added or removed file fails before anything is hashed.
    CheckedFiles kept;
    try {
        if (auto changed = difference(manifest->entries, scanOpen(bundleFd, false), false))
            return fail(Problem::contentsChanged, *changed);
        if (auto changed = difference(manifest->entries, scanOpen(bundleFd, true, &kept), true))
            return fail(Problem::contentsChanged, *changed);
    } catch (const Error& error) {
        return fail(error.problem, error.what());
    }
    if (files) {
        kept.kept = true;
        *files = std::move(kept);
    }
    verdict.manifest = std::move(manifest);
    return verdict;
}

const char* describe(Problem problem) {
    switch (problem) {
    case Problem::none:
        return "valid";
    case Problem::unreadable:
        return "bundle cannot be read";
    case Problem::notSigned:
        return "not signed";
    case Problem::malformed:
        return "manifest malformed";
    case Problem::untrustedTeam:
        return "team not trusted";
    case Problem::badSignature:
        return "signature invalid";
    case Problem::wrongIdentifier:
        return "wrong identifier";
    case Problem::wrongTeam:
        return "wrong team";
    case Problem::contentsChanged:
        return "contents changed";
    case Problem::unsafeContents:
        return "unsafe contents";
    }
    return "unknown";
}

} // namespace BundleSignature
