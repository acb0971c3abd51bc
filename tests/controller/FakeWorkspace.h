#pragma once

#include "Workspace.h"

#include <QSet>

#include <atomic>

// A workspace that knows the applications the test installs, counting the lookups; opening does nothing (the
// trash is the real one).
class FakeWorkspace : public Workspace {
public:
    QSet<QString> installed; // bundle identifiers
    mutable std::atomic<int> lookups{0};

    QCoro::Task<void> open(QUrl, QString, bool) override { co_return; }
    std::optional<QString> urlForApplication(const QString& bundleIdentifier) const override {
        ++lookups;
        if (installed.contains(bundleIdentifier))
            return QStringLiteral("/Applications/") + bundleIdentifier + QStringLiteral(".app");
        return std::nullopt;
    }
};
