#pragma once

#include "ConnectorController.h"
#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"
#include "FakeWorkspace.h"

#include "ConnectorPaths.h"
#include "Diagnostics.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

// Counts the removals of the desktop registration.
class CountingRegistration : public DesktopRegistration {
public:
    std::atomic<int> unregistrations{0};
    bool registerBundle(const QString&) override { return false; }
    void unregister() override { ++unregistrations; }
};

// Acts when unregistered, on the unregistering worker, as the service manager stops the bridge.
class HookedBackgroundService : public FakeBackgroundService {
public:
    std::function<void()> onUnregister;
    void unregisterNow() override {
        FakeBackgroundService::unregisterNow();
        if (onUnregister)
            onUnregister();
    }
};

// A controller with its bundle in the temporary HOME, in a Chinese locale (the programs run with TZ=UTC).
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
};

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
