#include "AppVerifier.h"

#include "Async.h"
#include "Bundle.h"
#include "ConnectorPaths.h"

QString AppVerifier::requirement(const QString& identifier) {
    return QStringLiteral("anchor apple generic and identifier ") + QLatin1Char('"') + identifier +
           QLatin1Char('"');
}

bool AppVerifier::isSigned(const QString& app, const QString& identifier) const {
    if (!signing_)
        return false;
    const std::optional<SigningInformation> information = signing_->check(app, requirement(identifier));
    return information && information->teamIdentifier == ConnectorPaths::teamID;
}

bool AppVerifier::isSenvik(const QString& app, const QString& bundleID) const {
    return verifiedSenvik(app, bundleID) != nullptr;
}

std::shared_ptr<const OpenedBundle> AppVerifier::verifiedSenvik(const QString& app,
                                                                const QString& bundleID) const {
    if (!ConnectorPaths::senvikApps.contains(bundleID) || !signing_)
        return nullptr;
    std::shared_ptr<OpenedBundle> bundle = OpenedBundle::open(app);
    if (!bundle)
        return nullptr;
    // A quick refusal before any signature work; what decides is the Info.plist the check hashes below.
    if (Bundle{bundle->path(), Bundle::infoAt(bundle->fd())}.identifier() != bundleID)
        return nullptr;
    CheckedFiles files;
    const std::optional<SigningInformation> information =
        signing_->checkOpen(bundle->fd(), app, requirement(bundleID), &files);
    if (!information || information->teamIdentifier != ConnectorPaths::teamID)
        return nullptr;
    // The bytes the check hashed, not another reading, name the identifier and the program to start.
    OpenedBundle::Checked checked;
    if (!files.kept) {
        checked.info = Bundle::infoAt(bundle->fd());
    } else if (files.infoPlist) {
        std::optional<nlohmann::json> parsed = parsePropertyList(*files.infoPlist);
        if (parsed && parsed->is_object())
            checked.info = std::move(*parsed);
    }
    const Bundle read{bundle->path(), checked.info};
    const std::optional<QString> identifier = read.identifier();
    if (!identifier || *identifier != bundleID)
        return nullptr;
    if (files.kept) {
        const auto program = files.programs.find(read.string("CFBundleExecutable").value_or(QString()));
        if (program != files.programs.end())
            checked.program = program->second;
        bundle->keep(std::move(checked));
    }
    return bundle;
}

QCoro::Task<std::shared_ptr<const OpenedBundle>> AppVerifier::checkOpen(QString app, QString bundleID) const {
    // Named for the same reason as in check().
    auto job = [verifier = *this, app, bundleID] { return verifier.verifiedSenvik(app, bundleID); };
    QCoro::Task<std::shared_ptr<const OpenedBundle>> task = Async::onWorker(std::move(job));
    co_return co_await std::move(task);
}

QCoro::Task<bool> AppVerifier::check(QString app, QString bundleID) const {
    // The worker gets its own copy of the verifier, so it stays valid even if this one goes away meanwhile.
    // The job is named: GCC 12 destroys a lambda temporary inside a co_await operand twice.
    auto job = [verifier = *this, app, bundleID] { return verifier.isSenvik(app, bundleID); };
    QCoro::Task<bool> task = Async::onWorker(std::move(job));
    co_return co_await std::move(task);
}
