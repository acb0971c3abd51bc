// orvane-codesign: signs and checks bundles in the connector's Linux signature scheme.
//   orvane-codesign keygen OUT.pem                      writes a new private key, prints its public key
//   orvane-codesign pubkey KEY.pem                      prints the public key of a private key
//   orvane-codesign sign --key KEY.pem --identifier ID --team TEAM BUNDLE
//   orvane-codesign verify [--pubkey KEY] [--identifier ID] [--team TEAM] BUNDLE
//   orvane-codesign notarize --key NOTARY.pem BUNDLE  adds the notary's signature to a signed bundle
// Public keys are printed as base64 of their 32 raw bytes. verify trusts the given key (base64, a PEM public
// key, or a file holding either, or a private key file) for TEAM, or this build's own keys without --pubkey.
// Exit status: 0 success, 1 refused or failed, 2 wrong usage.
#include "linux/BundleSignature.h"
#include "linux/Ed25519Key.h"
#include "linux/LinuxCodeSigning.h"

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int usage() {
    std::cerr << "usage: orvane-codesign keygen OUT.pem\n"
                 "       orvane-codesign pubkey KEY.pem\n"
                 "       orvane-codesign sign --key KEY.pem --identifier ID --team TEAM BUNDLE\n"
                 "       orvane-codesign verify [--pubkey KEY] [--identifier ID] [--team TEAM] BUNDLE\n"
                 "       orvane-codesign notarize --key NOTARY.pem BUNDLE\n";
    return 2;
}

std::optional<QByteArray> readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

struct Options {
    std::map<std::string, QString> values;
    QString operand;
};

// --name value pairs among `allowed`, then exactly one operand.
std::optional<Options> parseOptions(int argc, char** argv, int first,
                                    std::initializer_list<std::string> allowed) {
    Options options;
    bool haveOperand = false;
    for (int i = first; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.rfind("--", 0) == 0) {
            const std::string name = word.substr(2);
            if (std::find(allowed.begin(), allowed.end(), name) == allowed.end() || i + 1 >= argc ||
                options.values.count(name))
                return std::nullopt;
            options.values[name] = QString::fromLocal8Bit(argv[++i]);
        } else if (!haveOperand) {
            options.operand = QString::fromLocal8Bit(argv[i]);
            haveOperand = true;
        } else {
            return std::nullopt;
        }
    }
    if (!haveOperand)
        return std::nullopt;
    return options;
}

std::optional<Ed25519Key> loadKey(const QString& path) {
    const auto pem = readFile(path);
    if (!pem) {
        std::cerr << "orvane-codesign: cannot read " << path.toStdString() << "\n";
        return std::nullopt;
    }
    try {
        return Ed25519Key::fromPem(*pem);
    } catch (const Ed25519Key::Error& error) {
        std::cerr << "orvane-codesign: " << path.toStdString() << ": " << error.what() << "\n";
        return std::nullopt;
    }
}

std::optional<QByteArray> publicKeyArgument(const QString& text) {
    if (auto key = Ed25519Key::publicKeyFromText(text.toUtf8()))
        return key;
    const auto contents = readFile(text);
    if (!contents)
        return std::nullopt;
    if (auto key = Ed25519Key::publicKeyFromText(*contents))
        return key;
    try {
        return Ed25519Key::fromPem(*contents).publicKey();
    } catch (const Ed25519Key::Error&) {
        return std::nullopt;
    }
}

int keygen(const QString& out) {
    const Ed25519Key key = Ed25519Key::generate();
    const QByteArray pem = key.toPem();
    // Private from the first byte on: created 0600, never over an existing file.
    const int fd = ::open(QFile::encodeName(out).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::cerr << "orvane-codesign: cannot create " << out.toStdString() << " (it must not exist yet)\n";
        return 1;
    }
    const bool written = ::write(fd, pem.constData(), static_cast<size_t>(pem.size())) == pem.size();
    ::close(fd);
    if (!written) {
        std::cerr << "orvane-codesign: cannot write " << out.toStdString() << "\n";
        return 1;
    }
    std::cout << key.publicKey().toBase64().toStdString() << "\n";
    return 0;
}

int sign(const Options& options) {
    if (!options.values.count("key") || !options.values.count("identifier") || !options.values.count("team"))
        return usage();
    const auto key = loadKey(options.values.at("key"));
    if (!key)
        return 1;
    try {
        BundleSignature::sign(options.operand, *key, options.values.at("identifier"),
                              options.values.at("team"));
    } catch (const BundleSignature::Error& error) {
        std::cerr << "orvane-codesign: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

int notarize(const Options& options) {
    if (!options.values.count("key"))
        return usage();
    const auto key = loadKey(options.values.at("key"));
    if (!key)
        return 1;
    try {
        BundleSignature::notarize(options.operand, *key);
    } catch (const BundleSignature::Error& error) {
        std::cerr << "orvane-codesign: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

int verify(const Options& options) {
    SigningKeyring keyring = trustedKeys();
    std::optional<QString> identifier, team;
    if (options.values.count("identifier"))
        identifier = options.values.at("identifier");
    if (options.values.count("team"))
        team = options.values.at("team");
    if (options.values.count("pubkey")) {
        if (!team) {
            std::cerr << "orvane-codesign: --pubkey needs --team, the team the key belongs to\n";
            return 2;
        }
        const auto key = publicKeyArgument(options.values.at("pubkey"));
        if (!key) {
            std::cerr << "orvane-codesign: not an Ed25519 public key: "
                      << options.values.at("pubkey").toStdString() << "\n";
            return 2;
        }
        keyring = SigningKeyring();
        keyring.add(*team, *key);
    }
    const BundleSignature::Verdict verdict =
        BundleSignature::verify(options.operand, keyring, identifier, team);
    if (!verdict.valid()) {
        std::cout << "invalid: " << BundleSignature::describe(verdict.problem)
                  << (verdict.detail.empty() ? "" : ": " + verdict.detail) << "\n";
        return 1;
    }
    std::cout << "valid: " << verdict.manifest->identifier << " " << verdict.manifest->team << " ("
              << verdict.manifest->entries.size() << " files)\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return usage();
    const std::string command = argv[1];
    if (command == "keygen" && argc == 3)
        return keygen(QString::fromLocal8Bit(argv[2]));
    if (command == "pubkey" && argc == 3) {
        const auto key = loadKey(QString::fromLocal8Bit(argv[2]));
        if (!key)
            return 1;
        std::cout << key->publicKey().toBase64().toStdString() << "\n";
        return 0;
    }
    if (command == "sign") {
        const auto options = parseOptions(argc, argv, 2, {"key", "identifier", "team"});
        return options ? sign(*options) : usage();
    }
    if (command == "notarize") {
        const auto options = parseOptions(argc, argv, 2, {"key"});
        return options ? notarize(*options) : usage();
    }
    if (command == "verify") {
        const auto options = parseOptions(argc, argv, 2, {"pubkey", "identifier", "team"});
        return options ? verify(*options) : usage();
    }
    return usage();
}
