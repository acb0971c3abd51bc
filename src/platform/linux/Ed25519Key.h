#pragma once

#include <QByteArray>

#include <memory>
#include <optional>
#include <stdexcept>

typedef struct evp_pkey_st EVP_PKEY;

// An Ed25519 private key (OpenSSL EVP) for signing bundles. Public keys travel as their 32 raw bytes.
class Ed25519Key {
public:
    struct Error : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    static Ed25519Key generate();
    // A PEM private key (PKCS#8, as `openssl genpkey -algorithm ed25519` writes it); throws Error otherwise.
    static Ed25519Key fromPem(const QByteArray& pem);

    QByteArray toPem() const;
    QByteArray publicKey() const;                     // 32 raw bytes
    QByteArray sign(const QByteArray& message) const; // 64 bytes

    static bool verify(const QByteArray& publicKey, const QByteArray& message, const QByteArray& signature);

    // A public key written as base64 of its 32 raw bytes, or as a PEM "PUBLIC KEY"; nothing otherwise.
    static std::optional<QByteArray> publicKeyFromText(const QByteArray& text);

private:
    explicit Ed25519Key(EVP_PKEY* key);
    std::shared_ptr<EVP_PKEY> key_;
};
