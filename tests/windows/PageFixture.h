#pragma once

#include "ConnectorController.h"
#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"
#include "Workspace.h"

#include <QSet>

#include <atomic>

#include <memory>

// A workspace that knows the applications the test installs, and records what was opened.
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

// A controller for page tests: fake background items, a fixed Info dictionary, a fake workspace. Its state is
// set through ControllerTestAccess. `C` may be a controller subclass that records actions.
template <typename C> struct BasicPageFixture {
    FakeBackgroundService service;
    FakeBackgroundService statusItem;
    nlohmann::json info = {{"CFBundleShortVersionString", "1.4.0"}, {"CFBundleVersion", "27"}};
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    C controller{Platform{service, statusItem, info, workspace}};
};
using PageFixture = BasicPageFixture<ConnectorController>;
