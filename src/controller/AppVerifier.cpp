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
    if (!ConnectorPaths::senvikApps.contains(bundleID))
        return false;
    const std::optional<QString> identifier = Bundle::at(app).identifier();
    if (!identifier || *identifier != bundleID)
        return false;
    return isSigned(app, bundleID);
}

QCoro::Task<bool> AppVerifier::check(QString app, QString bundleID) const {
    // The worker gets its own copy of the verifier, so it stays valid even if this one goes away meanwhile.
    // The job is named: GCC 12 destroys a lambda temporary inside a co_await operand twice.
    auto job = [verifier = *this, app, bundleID] { return verifier.isSenvik(app, bundleID); };
    QCoro::Task<bool> task = Async::onWorker(std::move(job));
    co_return co_await std::move(task);
}
