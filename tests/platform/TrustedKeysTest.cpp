#include "CodeSigning.h"
#include "ConnectorPaths.h"
#include "linux/Ed25519Key.h"
#include "linux/LinuxCodeSigning.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// The maker's release key as published (public half). A key that fails to load would leave the application
// rejecting every genuine companion app, so the compiled-in keyring must hold exactly this one.
const QByteArray publishedReleaseKey = QByteArray::fromBase64("ZWt/rLMQIFAtlCf0C9+3opr3CI5XyaYIcKUQ1bMyuJU=");

TEST(TrustedKeys, TheReleaseKeyLoadsForTheMakersTeam) {
    ASSERT_EQ(publishedReleaseKey.size(), 32);
    QList<QByteArray> keys;
    ASSERT_NO_THROW(keys = trustedKeys().keysFor(ConnectorPaths::teamID));
    EXPECT_TRUE(keys.contains(publishedReleaseKey));
    EXPECT_TRUE(trustedKeys().keysFor(QStringLiteral("OTHERTEAM1")).isEmpty());
}

TEST(SigningKeyring, RefusesAMalformedKeyLoudly) {
    const QByteArray good = Ed25519Key::generate().publicKey();
    const struct {
        const char* name;
        QByteArray key;
    } refused[] = {
        {"empty (a key text that did not decode)", QByteArray()},
        {"one byte short", good.left(31)},
        {"one byte over", good + 'x'},
        {"the key's Base64 text instead of its bytes", good.toBase64()},
        {"the key's hex text instead of its bytes", good.toHex()},
    };
    SigningKeyring ring;
    for (const auto& c : refused) {
        EXPECT_THROW(ring.add(ConnectorPaths::teamID, c.key), std::invalid_argument) << c.name;
        EXPECT_TRUE(ring.isEmpty()) << c.name;
    }
    ASSERT_NO_THROW(ring.add(ConnectorPaths::teamID, good));
    EXPECT_EQ(ring.keysFor(ConnectorPaths::teamID), QList<QByteArray>{good});
}

} // namespace
