#pragma once

#include "CodeSigning.h"

#include <optional>

// Code signatures on Linux: our own scheme (BundleSignature) under a keyring of trusted team keys. The
// requirement language understood is the one the connector asks with: `anchor apple generic`, optionally
// followed by ` and identifier "<identifier>"`. The anchor stands for "signed by a key the keyring trusts
// for the team the signature declares".
class LinuxCodeSigning final : public CodeSigning {
public:
    explicit LinuxCodeSigning(SigningKeyring keyring) : keyring_(std::move(keyring)) {}

    std::optional<SigningInformation> check(const QString& bundlePath,
                                            const QString& requirement) const override;
    std::optional<SigningInformation> checkOpen(int bundleFd, const QString& bundlePath,
                                                const QString& requirement,
                                                CheckedFiles* files = nullptr) const override;

    struct Requirement {
        std::optional<QString> identifier;
    };
    // The compiled requirement, or nothing when the text is not one we understand.
    static std::optional<Requirement> compile(const QString& requirement);

private:
    SigningKeyring keyring_;
};

// The keys this build trusts: the release team's key, and in a development build its locally generated key.
const SigningKeyring& trustedKeys();
