#include "LinuxCodeSigning.h"

#include "BundleSignature.h"

#include <QRegularExpression>

std::optional<LinuxCodeSigning::Requirement> LinuxCodeSigning::compile(const QString& requirement) {
    static const QRegularExpression grammar(
        QStringLiteral(R"re(\Aanchor apple generic(?: and identifier "([^"\\]+)")?\z)re"));
    const QRegularExpressionMatch match = grammar.match(requirement);
    if (!match.hasMatch())
        return std::nullopt;
    Requirement compiled;
    if (match.hasCaptured(1))
        compiled.identifier = match.captured(1);
    return compiled;
}

std::optional<SigningInformation> LinuxCodeSigning::check(const QString& bundlePath,
                                                          const QString& requirement) const {
    const auto compiled = compile(requirement);
    if (!compiled)
        return std::nullopt;
    const BundleSignature::Verdict verdict =
        BundleSignature::verify(bundlePath, keyring_, compiled->identifier);
    if (!verdict.valid())
        return std::nullopt;
    return SigningInformation{QString::fromStdString(verdict.manifest->identifier),
                              QString::fromStdString(verdict.manifest->team)};
}

std::optional<SigningInformation> LinuxCodeSigning::checkOpen(int bundleFd, const QString& bundlePath,
                                                              const QString& requirement,
                                                              CheckedFiles* files) const {
    Q_UNUSED(bundlePath);
    const auto compiled = compile(requirement);
    if (!compiled)
        return std::nullopt;
    const BundleSignature::Verdict verdict =
        BundleSignature::verifyOpen(bundleFd, keyring_, compiled->identifier, std::nullopt, files);
    if (!verdict.valid())
        return std::nullopt;
    return SigningInformation{QString::fromStdString(verdict.manifest->identifier),
                              QString::fromStdString(verdict.manifest->team)};
}

std::shared_ptr<const CodeSigning> systemCodeSigning() {
    static const std::shared_ptr<const CodeSigning> instance =
        std::make_shared<LinuxCodeSigning>(trustedKeys());
    return instance;
}
