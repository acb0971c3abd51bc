#pragma once

#include "CodeSigning.h"
#include "Ed25519Key.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The Linux code-signature scheme. Contents/_CodeSignature/ of a bundle holds
//   CodeResources  the manifest: canonical JSON naming the signing identifier, the team, and every file of
//                  the bundle outside _CodeSignature (regular files by SHA-256 and executable bit, symbolic
//                  links by their target), sorted by path;
//   CodeSignature  64 bytes: the team key's Ed25519 signature over the manifest's bytes;
//   NotarySignature (optional) 64 bytes: a notary key's signature over the same bytes.
// Nothing else may lie in that folder, and no file or folder of the bundle may carry set-id bits, be
// writable by group or others, or belong to another user (root excepted).
// The manifest is accepted only in its one canonical form, so the bytes that were signed read one way only.
namespace BundleSignature {

inline const QString manifestPath = QStringLiteral("Contents/_CodeSignature/CodeResources");
inline const QString signaturePath = QStringLiteral("Contents/_CodeSignature/CodeSignature");
inline const QString notarySignaturePath = QStringLiteral("Contents/_CodeSignature/NotarySignature");
// The keyring's team name for the notary's keys.
inline const QString notaryTeam = QStringLiteral("notary");
inline constexpr const char* format = "orvane-codesign-1";
// About 100,000 files; a larger manifest is refused before it is read.
inline constexpr qint64 maxManifestBytes = 16 * 1024 * 1024;
// No file of an application comes near this; a larger one (a sparse file, say) would only stall hashing.
inline constexpr qint64 maxFileBytes = qint64(4) * 1024 * 1024 * 1024;

struct Entry {
    enum class Kind { file, symlink };
    std::string path; // relative to the bundle's root, '/'-separated
    Kind kind = Kind::file;
    std::string sha256;      // files: lowercase hex; empty in a scan without hashing
    bool executable = false; // files: any execute bit set
    std::string target;      // symbolic links
    bool operator==(const Entry&) const = default;
};

struct Manifest {
    std::string identifier;
    std::string team;
    std::vector<Entry> entries; // sorted by path, each path once
};

enum class Problem {
    none,
    unreadable,      // the bundle's folder cannot be opened
    notSigned,       // no signature folder, manifest or signature
    malformed,       // the manifest is not in its canonical form
    untrustedTeam,   // the keyring holds no key for the declared team
    badSignature,    // no key of the declared team made this signature
    wrongIdentifier, // signed, but for another identifier
    wrongTeam,       // signed, but by another team
    contentsChanged, // a file was added, removed or changed since signing
    unsafeContents,  // a special file, a link that leaves the bundle, a stray signature file, unsafe modes
};

struct Verdict {
    Problem problem = Problem::none;
    std::string detail; // the path concerned, when there is one
    std::optional<Manifest> manifest;
    bool valid() const { return problem == Problem::none; }
};

struct Error : std::runtime_error {
    Error(Problem problem, const std::string& what) : std::runtime_error(what), problem(problem) {}
    Problem problem;
};

// Every file of the bundle at `bundlePath`, sorted by path, without the signature folder. Hashes only when
// asked. Throws Error (unreadable or unsafeContents).
std::vector<Entry> scan(const QString& bundlePath, bool hashFiles = true);

// The manifest's canonical bytes; throws Error (unsafeContents) for texts that are not UTF-8.
QByteArray canonical(const Manifest& manifest);

// A manifest from its bytes; nothing unless they are exactly its canonical form with safe paths.
std::optional<Manifest> parse(const QByteArray& bytes);

// Signs the bundle in place, replacing an earlier signature. Throws Error.
void sign(const QString& bundlePath, const Ed25519Key& key, const QString& identifier, const QString& team);

// Checks the bundle's signature: valid under a key the keyring holds for the declared team, every file as
// signed, and, when given, the identifier and team as required.
Verdict verify(const QString& bundlePath, const SigningKeyring& keyring,
               const std::optional<QString>& identifier = std::nullopt,
               const std::optional<QString>& team = std::nullopt);

// Adds the notary's signature (64 bytes, Ed25519 over the same manifest bytes) to a signed bundle. Throws
// Error when the bundle carries no manifest. Signing again removes it: the manifest changes.
void notarize(const QString& bundlePath, const Ed25519Key& notaryKey);

// The notarization assessment: a valid signature (as verify() without requirements) whose manifest also
// carries a notary signature under a key the keyring holds for notaryTeam.
bool assess(const QString& bundlePath, const SigningKeyring& keyring);

// The same for a bundle already open as a folder (`bundleFd`), so that what was checked is exactly what the
// caller goes on to use, whatever happens to the bundle's path meanwhile. A valid verdict fills `files`
// (when given) with Info.plist's bytes and the open programs of Contents/MacOS, exactly as hashed.
Verdict verifyOpen(int bundleFd, const SigningKeyring& keyring,
                   const std::optional<QString>& identifier = std::nullopt,
                   const std::optional<QString>& team = std::nullopt, CheckedFiles* files = nullptr);

// A short English word for logs and the signing tool.
const char* describe(Problem problem);

} // namespace BundleSignature
