#include "ConnectorPaths.h"
#include "LinuxCodeSigning.h"

#include <QByteArray>

namespace {

// The release signing key of the maker's team (public half; the private half never enters the repository).
constexpr const char* releaseKey = "ZWt/rLMQIFAtlCf0C9+3opr3CI5XyaYIcKUQ1bMyuJU=";
// The notary's key (public half), whose signature the notarization assessment of an update requires.
constexpr const char* notaryKey = "Z+/wA8cJPLoskqNaXGCmeKB+PlGqgCHsX9xLKs/zhvQ=";

} // namespace

const SigningKeyring& trustedKeys() {
    static const SigningKeyring keys = [] {
        SigningKeyring keyring;
        keyring.add(ConnectorPaths::teamID, QByteArray::fromBase64(releaseKey));
        keyring.add(QStringLiteral("notary"), QByteArray::fromBase64(notaryKey));
#ifdef CONNECTOR_DEV_SIGNING_KEY_HEX
        // A development build also trusts the key its build folder generated for signing local bundles.
        keyring.add(ConnectorPaths::teamID, QByteArray::fromHex(CONNECTOR_DEV_SIGNING_KEY_HEX));
#endif
#ifdef CONNECTOR_DEV_NOTARY_KEY_HEX
        keyring.add(QStringLiteral("notary"), QByteArray::fromHex(CONNECTOR_DEV_NOTARY_KEY_HEX));
#endif
        return keyring;
    }();
    return keys;
}
