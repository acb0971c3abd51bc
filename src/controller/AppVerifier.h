#pragma once

#include "CodeSigning.h"
#include "OpenedBundle.h"

#include <QCoroTask>
#include <QString>

#include <memory>

// Code-signature checks of the companion apps and of a downloaded connector. Holds only the checker it was
// given, so tests bring their own keys and fakes; safe to share with worker threads.
class AppVerifier {
public:
    explicit AppVerifier(std::shared_ptr<const CodeSigning> signing) : signing_(std::move(signing)) {}

    // The requirement a bundle's signature must satisfy for `identifier`.
    static QString requirement(const QString& identifier);

    // True when the bundle's signature at `app` is valid for `identifier` and made by the maker's team.
    // Slow (reads the whole bundle): call it off the main thread.
    bool isSigned(const QString& app, const QString& identifier) const;

    // True when the app at `app` is a genuine companion app with the identifier `bundleID`. Slow.
    bool isSenvik(const QString& app, const QString& bundleID) const;

    // isSenvik on a worker, awaited; never blocks the caller's thread.
    QCoro::Task<bool> check(QString app, QString bundleID) const;

    // The bundle at `app`, opened once and checked like isSenvik through that descriptor; nothing when it is
    // no genuine companion app. Whoever starts it afterwards starts exactly what was checked. Slow.
    std::shared_ptr<const OpenedBundle> verifiedSenvik(const QString& app, const QString& bundleID) const;

    // verifiedSenvik on a worker, awaited.
    QCoro::Task<std::shared_ptr<const OpenedBundle>> checkOpen(QString app, QString bundleID) const;

private:
    std::shared_ptr<const CodeSigning> signing_;
};
