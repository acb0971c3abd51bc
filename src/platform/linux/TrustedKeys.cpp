#include "ConnectorPaths.h"
#include "LinuxCodeSigning.h"

#include <QByteArray>

namespace {

// The release signing key of the maker's team (public half; the private half never enters the repository).
constexpr const char* releaseKey = "ZWt/rLMQIFAtlCf0C9+3opr3CI5XyaYIcKUQ1bMyuJU=";

} // namespace

const SigningKeyring& trustedKeys() {
    static const SigningKeyring keys = [] {
        SigningKeyring keyring;
        keyring.add(ConnectorPaths::teamID, QByteArray::fromBase64(releaseKey));
#ifdef CONNECTOR_DEV_SIGNING_KEY_HEX
        // A development build also trusts the key its build folder generated for signing local bundles.
        keyring.add(ConnectorPaths::teamID, QByteArray::fromHex(CONNECTOR_DEV_SIGNING_KEY_HEX));
#endif
        return keyring;
    }();
    return keys;
}
