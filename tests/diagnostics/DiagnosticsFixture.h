#pragma once

#include "ConnectorController.h"
#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"

#include "ConnectorPaths.h"
#include "DiagnosticCheck.h"
#include "Diagnostics.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

// A workspace whose installed apps the test names; everything else is the default (nothing found, real
// trash).
class FakeWorkspace : public Workspace {
public:
    QStringList installed;

    QCoro::Task<void> open(QUrl, QString, bool) override { co_return; }
    std::optional<QString> urlForApplication(const QString& bundleIdentifier) const override {
        if (installed.contains(bundleIdentifier))
            return QStringLiteral("/Applications/") + bundleIdentifier + QStringLiteral(".app");
        return std::nullopt;
    }
};

// Counts the removals of the desktop registration.
class CountingRegistration : public DesktopRegistration {
public:
    std::atomic<int> unregistrations{0};
    bool registerBundle(const QString&) override { return false; }
    void unregister() override { ++unregistrations; }
};

// A fake background item that can act when it is unregistered (on the worker that unregisters it), the way
// the service manager stops the bridge.
class HookedBackgroundService : public FakeBackgroundService {
public:
    std::function<void()> onUnregister;
    void unregisterNow() override {
        FakeBackgroundService::unregisterNow();
        if (onUnregister)
            onUnregister();
    }
};

// A controller with fake background items and workspace, its bundle under the temporary HOME, in a Chinese
// locale so that times read the same on every machine (the test programs run with TZ=UTC).
class DiagnosticsFixture : public ::testing::Test {
protected:
    HookedBackgroundService service;
    FakeBackgroundService statusItem;
    nlohmann::json info = {{"CFBundleShortVersionString", "1.4.0"}, {"CFBundleVersion", "27"}};
    std::shared_ptr<FakeWorkspace> apps = std::make_shared<FakeWorkspace>();
    std::shared_ptr<CountingRegistration> desktop = std::make_shared<CountingRegistration>();
    QString bundle = ConnectorPaths::home() + QStringLiteral("/Applications/Orvane 连接器.app");
    std::unique_ptr<ConnectorController> controller;

    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        QFile::remove(ConnectorPaths::bridgeLog());
        makeController(bundle);
    }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    void makeController(const QString& bundlePath) {
        controller = std::make_unique<ConnectorController>(
            Platform{service, statusItem, info, apps, nullptr, bundlePath});
        controller->desktopRegistration = desktop;
    }

    ConnectorController& c() { return *controller; }

    QList<DiagnosticCheck> lines() { return controller->diagnostics(); }

    std::optional<DiagnosticCheck> line(const QString& id) {
        for (const DiagnosticCheck& check : lines())
            if (check.id == id)
                return check;
        return std::nullopt;
    }

    static BridgeStatus managedBridge() {
        BridgeStatus bridge;
        bridge.managed = true;
        return bridge;
    }
};

inline void PrintTo(const DiagnosticCheck& check, std::ostream* out) {
    static const char* const levels[] = {"pass", "warn", "fail"};
    *out << check.id.toStdString() << " [" << levels[int(check.level)] << "] " << check.title.toStdString()
         << ": " << check.detail.toStdString();
}

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
