#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <map>
#include <memory>
#include <optional>

class UniqueFd;

// What a checked signature says about the code that carries it.
struct SigningInformation {
    QString identifier;                    // the signing identifier
    std::optional<QString> teamIdentifier; // the signing team, when the signature names one
};

// The files a check through a descriptor hashed, as it hashed them, so that a start uses exactly the checked
// bytes instead of reading the bundle again by name: Info.plist's contents and the programs of
// Contents/MacOS, still open.
struct CheckedFiles {
    bool kept = false;                   // false: the implementation keeps nothing, callers read the bundle
    std::optional<QByteArray> infoPlist; // absent when the bundle has none (or one too large to be one)
    std::map<QString, std::shared_ptr<const UniqueFd>> programs; // by file name
};

// The signing keys a verifier trusts: team identifier → Ed25519 public keys (32 raw bytes each). A team may
// have more than one key (a development build trusts its local key beside the release key).
class SigningKeyring {
public:
    // Throws std::invalid_argument for a key that is not 32 bytes long: a broken compiled-in key must stop
    // the start instead of quietly rejecting every genuine app.
    void add(const QString& team, const QByteArray& publicKey);
    QList<QByteArray> keysFor(const QString& team) const;
    // Every key with its team, for checking a signature before the signed text is read.
    QList<std::pair<QString, QByteArray>> all() const { return {keys_.begin(), keys_.end()}; }
    bool isEmpty() const { return keys_.empty(); }

private:
    std::multimap<QString, QByteArray> keys_;
};

// Static code-signature checks of application bundles. Implementations hold no mutable state: checks run on
// worker threads, several at a time.
class CodeSigning {
public:
    virtual ~CodeSigning() = default;

    // Checks the whole signature of the bundle at `bundlePath` and whether it satisfies `requirement` (the
    // platform's requirement language, e.g. `anchor apple generic and identifier "x"`). Gives the signing
    // information of a valid signature that satisfies it; nothing when the code cannot be read, the
    // requirement does not compile, or the signature is missing, broken or does not satisfy it.
    virtual std::optional<SigningInformation> check(const QString& bundlePath,
                                                    const QString& requirement) const = 0;

    // The same for the bundle open as the folder `bundleFd` (found at `bundlePath`): checks exactly that
    // folder, whatever the path names by now. Implementations that cannot read through a descriptor check
    // the path. When `files` is given and the check passes, implementations that can fill it with what they
    // hashed.
    virtual std::optional<SigningInformation> checkOpen(int bundleFd, const QString& bundlePath,
                                                        const QString& requirement,
                                                        CheckedFiles* files = nullptr) const {
        Q_UNUSED(bundleFd);
        Q_UNUSED(files);
        return check(bundlePath, requirement);
    }
};

// The checker as the application uses it, trusting this build's keys.
std::shared_ptr<const CodeSigning> systemCodeSigning();
