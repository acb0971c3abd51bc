#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"
#include "UpdateFixtures.h"

#include "ConnectorSettings.h"
#include "RunTask.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using namespace UpdateFixtures;

class InstallController : public ConnectorController {
public:
    using ConnectorController::ConnectorController;
    void ensureBackgroundItem() override {}
    void renameLegacyBundleIfIdle() override {}
};

BridgeStatus bridgeWith(qint64 openRuns) {
    BridgeStatus status;
    status.openRuns = openRuns;
    return status;
}

class Install : public ::testing::Test {
protected:
    TestSupport::TempDir root;
    QString apps = root.file(QStringLiteral("Applications"));
    QString bundle = apps + QStringLiteral("/Orvane 连接器.app");
    FakeBackgroundService service, statusItem;
    json info{{"CFBundleVersion", "57"}};
    std::unique_ptr<InstallController> controller;
    int quits = 0;
    UpdateInfo entry = [] {
        UpdateInfo e;
        e.version = QStringLiteral("2.0");
        e.build = 58;
        return e;
    }();

    void SetUp() override {
        makeBundle(bundle, QStringLiteral("57"));
        controller = std::make_unique<InstallController>(
            Platform{service, statusItem, info, nullptr, nullptr, bundle});
        controller->serviceManagerTool = QStringLiteral("/bin/true");
        controller->quitAfterUpdate = [this] { ++quits; };
        ConnectorSettings::setAutoInstallUpdates(true);
    }
    void TearDown() override { ConnectorSettings::setAutoInstallUpdates(true); }

    // A staged copy of build 58 in a fresh item-replacement folder beside the bundle.
    QString stagedCopy(bool withExecutable = true) {
        const QString folder = UpdateFiles::itemReplacementDirectory(bundle);
        const QString staged = folder + QStringLiteral("/Orvane 连接器.app");
        makeBundle(staged, QStringLiteral("58"));
        if (!withExecutable)
            QFile::remove(staged + QStringLiteral("/Contents/MacOS/OrvaneConnector"));
        return staged;
    }
    void ready(const QString& staged) {
        ControllerTestAccess::update(*controller, UpdateState::Ready{entry, staged});
    }
    // The installation ends either by quitting (success) or in failed.
    bool settles() {
        return TestSupport::spinUntil(
            [&] { return quits > 0 || controller->update().is<UpdateState::Failed>(); }, 20s);
    }
    QStringList leftovers() const {
        return QDir(apps).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }
};

// The automatic gate: it installs only when nothing is running, the menu is closed and the user allows it.
TEST_F(Install, gate) {
    struct Case {
        const char* name;
        bool autoInstall, waiting;
        qint64 openRuns;
        bool menuOpen, cliBusy, uninstalling;
        bool installs;
    };
    for (const Case& c : {Case{"all clear", true, false, 0, false, false, false, true},
                          Case{"automatic off", false, false, 0, false, false, false, false},
                          Case{"automatic off but the user asked", false, true, 0, false, false, false, true},
                          Case{"open runs", true, true, 1, false, false, false, false},
                          Case{"menu open", true, false, 0, true, false, false, false},
                          Case{"tools busy", true, true, 0, false, true, false, false},
                          Case{"uninstalling", true, true, 0, false, false, true, false}}) {
        ConnectorSettings::setAutoInstallUpdates(c.autoInstall);
        ControllerTestAccess::bridge(*controller, bridgeWith(c.openRuns));
        ControllerTestAccess::cliBusy(*controller, c.cliBusy);
        ControllerTestAccess::uninstalling(*controller, c.uninstalling);
        controller->holdsAutoInstall = c.menuOpen;
        ready(
            root.file(QStringLiteral("nowhere/Orvane 连接器.app"))); // a failing swap ends each case quickly
        ControllerTestAccess::waitsToInstall(*controller, c.waiting);
        controller->installUpdateIfIdle();
        EXPECT_EQ(controller->update().is<UpdateState::Installing>(), c.installs) << c.name;
        if (c.installs) {
            ASSERT_TRUE(settles()) << c.name;
            EXPECT_TRUE(controller->update().as<UpdateState::Failed>()->text.startsWith(
                QStringLiteral("换新版本没成功：")))
                << c.name;
        }
    }
    ControllerTestAccess::uninstalling(*controller, false);
    ControllerTestAccess::cliBusy(*controller, false);
    controller->holdsAutoInstall = false;
    EXPECT_EQ(readAll(bundle + QStringLiteral("/Contents/Resources/build.txt")), QByteArray("57"));
}

TEST_F(Install, requestWaitsForOpenRunsThenInstallsEvenWithAutomaticOff) {
    ConnectorSettings::setAutoInstallUpdates(false);
    ControllerTestAccess::bridge(*controller, bridgeWith(2));
    ready(stagedCopy());
    controller->requestInstall();
    EXPECT_TRUE(controller->waitsToInstall());
    EXPECT_TRUE(controller->update().is<UpdateState::Ready>());
    controller->installUpdateIfIdle(); // a refresh that still sees the runs
    EXPECT_TRUE(controller->update().is<UpdateState::Ready>());
    ControllerTestAccess::bridge(*controller, bridgeWith(0));
    controller->installUpdateIfIdle(); // the refresh that sees them done
    EXPECT_TRUE(controller->update().is<UpdateState::Installing>());
    EXPECT_FALSE(controller->waitsToInstall());
    ASSERT_TRUE(settles());
    EXPECT_EQ(quits, 1);
}

TEST_F(Install, cancelledWaitDoesNotInstall) {
    ConnectorSettings::setAutoInstallUpdates(false);
    ControllerTestAccess::bridge(*controller, bridgeWith(1));
    ready(stagedCopy());
    controller->requestInstall();
    controller->cancelInstallWait();
    ControllerTestAccess::bridge(*controller, bridgeWith(0));
    controller->installUpdateIfIdle();
    EXPECT_TRUE(controller->update().is<UpdateState::Ready>());
}

TEST_F(Install, openMenuHoldsTheAutomaticInstall) {
    ready(stagedCopy());
    controller->holdsAutoInstall = true;
    controller->installUpdateIfIdle();
    EXPECT_TRUE(controller->update().is<UpdateState::Ready>());
    controller->holdsAutoInstall = false; // the menu closed
    controller->installUpdateIfIdle();
    EXPECT_TRUE(controller->update().is<UpdateState::Installing>());
    ASSERT_TRUE(settles());
}

TEST_F(Install, installNowWithBusyToolsOnlySetsTheNotice) {
    ready(stagedCopy());
    ControllerTestAccess::cliBusy(*controller, true);
    controller->installNow();
    EXPECT_EQ(controller->notice(), QStringLiteral("执行工具正在检查或更新，请结束后再更新连接器"));
    EXPECT_TRUE(controller->update().is<UpdateState::Ready>());
    ControllerTestAccess::cliBusy(*controller, false);
    ControllerTestAccess::bridge(*controller, bridgeWith(3));
    controller->installNow(); // open runs do not hold it
    EXPECT_TRUE(controller->update().is<UpdateState::Installing>());
    ASSERT_TRUE(settles());
}

// The whole replacement on real bundles: the new build takes the old one's place in one step, the old copy
// and its folder go, and the new executable starts with exactly "--after-update".
TEST_F(Install, swapsAndRelaunchesEndToEnd) {
    const QString staged = stagedCopy();
    ready(staged);
    controller->installNow();
    ASSERT_TRUE(settles());
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(controller->update().is<UpdateState::Installing>());
    EXPECT_EQ(readAll(bundle + QStringLiteral("/Contents/Resources/build.txt")), QByteArray("58"));
    EXPECT_EQ(leftovers(), QStringList{QStringLiteral("Orvane 连接器.app")});
    const QString launched = root.file(QStringLiteral("launched-58.txt"));
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return QFileInfo::exists(launched) && !readAll(launched).isEmpty(); }, 20s));
    EXPECT_EQ(readAll(launched), QByteArray("--after-update\n"));
}

TEST_F(Install, relaunchFailureIsReportedAndTheNewBundleStays) {
    ready(stagedCopy(false));
    controller->installNow();
    ASSERT_TRUE(settles());
    EXPECT_EQ(quits, 0);
    EXPECT_TRUE(controller->update().as<UpdateState::Failed>()->text.startsWith(
        QStringLiteral("换新版本没成功：新版本启动不了（")));
    EXPECT_EQ(readAll(bundle + QStringLiteral("/Contents/Resources/build.txt")), QByteArray("58"));
}

TEST_F(Install, swapFailureKeepsTheOldBundle) {
    ready(root.file(QStringLiteral("gone/Orvane 连接器.app")));
    controller->installNow();
    ASSERT_TRUE(settles());
    EXPECT_TRUE(controller->update().as<UpdateState::Failed>()->text.startsWith(
        QStringLiteral("换新版本没成功：新旧版本换不过来")));
    EXPECT_EQ(readAll(bundle + QStringLiteral("/Contents/Resources/build.txt")), QByteArray("57"));
}

} // namespace
