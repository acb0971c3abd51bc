#include "Ed25519Key.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace {

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using MdContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Bio memoryBio(const QByteArray& bytes) {
    return Bio(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())), &BIO_free);
}

bool isEd25519(EVP_PKEY* key) {
    return key && EVP_PKEY_get_base_id(key) == EVP_PKEY_ED25519;
}

} // namespace

Ed25519Key::Ed25519Key(EVP_PKEY* key) : key_(key, &EVP_PKEY_free) {}

Ed25519Key Ed25519Key::generate() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (!key)
        throw Error("cannot generate an Ed25519 key");
    return Ed25519Key(key);
}

Ed25519Key Ed25519Key::fromPem(const QByteArray& pem) {
    Bio bio = memoryBio(pem);
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr;
    if (!isEd25519(key)) {
        EVP_PKEY_free(key);
        throw Error("not an Ed25519 private key in PEM form");
    }
    return Ed25519Key(key);
}

QByteArray Ed25519Key::toPem() const {
    Bio bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw Error("cannot write the private key");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, static_cast<qsizetype>(size));
}

QByteArray Ed25519Key::publicKey() const {
    QByteArray raw(32, '\0');
    size_t size = static_cast<size_t>(raw.size());
    if (EVP_PKEY_get_raw_public_key(key_.get(), reinterpret_cast<unsigned char*>(raw.data()), &size) != 1 ||
        size != 32)
        throw Error("cannot read the public key");
    return raw;
}

QByteArray Ed25519Key::sign(const QByteArray& message) const {
    MdContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    QByteArray signature(64, '\0');
    size_t size = static_cast<size_t>(signature.size());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                       reinterpret_cast<const unsigned char*>(message.constData()),
                       static_cast<size_t>(message.size())) != 1 ||
        size != 64)
        throw Error("signing failed");
    return signature;
}

bool Ed25519Key::verify(const QByteArray& publicKey, const QByteArray& message, const QByteArray& signature) {
    if (publicKey.size() != 32 || signature.size() != 64)
        return false;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(publicKey.constData()), 32),
        &EVP_PKEY_free);
    MdContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.constData()), 64,
                            reinterpret_cast<const unsigned char*>(message.constData()),
                            static_cast<size_t>(message.size())) == 1;
}

std::optional<QByteArray> Ed25519Key::publicKeyFromText(const QByteArray& text) {
    const QByteArray trimmed = text.trimmed();
    if (trimmed.startsWith("-----BEGIN PUBLIC KEY-----")) {
        Bio bio = memoryBio(trimmed);
        std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
            bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr, &EVP_PKEY_free);
        if (!isEd25519(key.get()))
            return std::nullopt;
        QByteArray raw(32, '\0');
        size_t size = 32;
        if (EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(raw.data()), &size) !=
                1 ||
            size != 32)
            return std::nullopt;
        return raw;
    }
    const auto decoded = QByteArray::fromBase64Encoding(trimmed, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != 32)
        return std::nullopt;
    return decoded.decoded;
}
