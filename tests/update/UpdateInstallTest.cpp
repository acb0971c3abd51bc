#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"
#include "UpdateFixtures.h"

#include "ConnectorSettings.h"
#include "RunTask.h"

#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using UpdateFixtures::readAll;

class Install : public ::testing::Test {
protected:
    TestSupport::TempDir root;
    QString apps = root.file("Applications"), bundle = apps + "/Orvane 连接器.app";
    FakeBackgroundService service, statusItem;
    nlohmann::json info{{"CFBundleVersion", "57"}};
    UpdateController controller{Platform{service, statusItem, info, nullptr, nullptr, bundle}};
    int quits = 0;
    UpdateInfo entry = UpdateInfo::decode(R"({"version":"2.0","build":58,"url":"x","sha256":"a"})");

    void SetUp() override {
        UpdateFixtures::makeBundle(bundle, "57");
        controller.serviceManagerTool = "/bin/true";
        controller.quitAfterUpdate = [this] { ++quits; };
        ConnectorSettings::setAutoInstallUpdates(true);
    }
    void TearDown() override { ConnectorSettings::setAutoInstallUpdates(true); }
    void runs(qint64 open) {
        BridgeStatus status;
        status.openRuns = open;
        ControllerTestAccess::bridge(controller, status);
    }
    // Ready with a staged copy of build 58 beside the bundle (or at `staged`).
    void ready(QString staged = {}) {
        if (staged.isEmpty()) {
            staged = UpdateFiles::itemReplacementDirectory(bundle) + "/Orvane 连接器.app";
            UpdateFixtures::makeBundle(staged, "58");
        }
        ControllerTestAccess::update(controller, UpdateState::Ready{entry, staged});
    }
    bool installing() const { return controller.update().is<UpdateState::Installing>(); }
    // The installation ends by quitting (success) or in failed.
    bool settles() {
        return TestSupport::spinUntil(
            [&] { return quits > 0 || controller.update().is<UpdateState::Failed>(); }, 20s);
    }
    QString failed() const { return controller.update().as<UpdateState::Failed>()->text; }
};

TEST_F(Install, gate) {
    struct Case {
        bool autoInstall, waiting;
        qint64 openRuns;
        bool menuOpen, cliBusy, uninstalling, installs;
    };
    // The combinations of the gate's own rule are the model's; here, that the controller feeds it and holds
    // back during an uninstall.
    for (const Case& c :
         {Case{true, false, 0, false, false, false, true}, Case{false, false, 0, false, false, false, false},
          Case{false, true, 0, false, false, false, true}, Case{true, true, 1, true, true, false, false},
          Case{true, true, 0, false, false, true, false}}) {
        ConnectorSettings::setAutoInstallUpdates(c.autoInstall);
        runs(c.openRuns);
        ControllerTestAccess::cliBusy(controller, c.cliBusy);
        ControllerTestAccess::uninstalling(controller, c.uninstalling);
        controller.holdsAutoInstall = c.menuOpen;
        ready(root.file("nowhere/Orvane 连接器.app")); // a failing swap ends each case quickly
        ControllerTestAccess::waitsToInstall(controller, c.waiting);
        controller.installUpdateIfIdle();
        EXPECT_EQ(installing(), c.installs)
            << c.autoInstall << c.waiting << c.openRuns << c.menuOpen << c.cliBusy;
        if (c.installs) {
            ASSERT_TRUE(settles());
            EXPECT_TRUE(failed().startsWith("换新版本没成功：新旧版本换不过来"));
        }
    }
    EXPECT_EQ(readAll(bundle + "/Contents/Resources/build.txt"), "57");
}

TEST_F(Install, userRequestsAndTheMenu) {
    ConnectorSettings::setAutoInstallUpdates(false);
    runs(2);
    ready();
    controller.requestInstall(); // waits for the runs, even with automatic installation off
    EXPECT_TRUE(controller.waitsToInstall() && !installing());
    controller.cancelInstallWait();
    runs(0);
    controller.installUpdateIfIdle();
    EXPECT_FALSE(installing());
    runs(2);
    controller.requestInstall();
    controller.holdsAutoInstall = true; // the menu opened meanwhile
    runs(0);
    controller.installUpdateIfIdle();
    EXPECT_FALSE(installing());
    controller.holdsAutoInstall = false; // closing the menu starts it
    controller.installUpdateIfIdle();
    EXPECT_TRUE(installing() && !controller.waitsToInstall());
    ASSERT_TRUE(settles());

    ready();
    ControllerTestAccess::cliBusy(controller, true);
    controller.installNow();
    EXPECT_EQ(controller.notice(), "执行工具正在检查或更新，请结束后再更新连接器");
    EXPECT_TRUE(controller.update().is<UpdateState::Ready>());
    ControllerTestAccess::cliBusy(controller, false);
    runs(3);
    controller.installNow(); // open runs do not hold it
    EXPECT_TRUE(installing());
    ASSERT_TRUE(settles());
}

// On real bundles: the new build takes the old one's place in one step, the old copy and its folder go, and
// the new executable starts with exactly "--after-update".
TEST_F(Install, swapsAndRelaunchesEndToEnd) {
    ready();
    controller.installNow();
    ASSERT_TRUE(settles());
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(readAll(bundle + "/Contents/Resources/build.txt"), "58");
    EXPECT_EQ(QDir(apps).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"Orvane 连接器.app"});
    const QString launched = root.file("launched-58.txt");
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !readAll(launched).isEmpty(); }, 20s));
    EXPECT_EQ(readAll(launched), "--after-update\n");

    quits = 0;
    ready();
    QFile::remove(controller.update().as<UpdateState::Ready>()->staged + "/Contents/MacOS/OrvaneConnector");
    controller.installNow();
    ASSERT_TRUE(settles());
    EXPECT_TRUE(failed().startsWith("换新版本没成功：新版本启动不了（")) << failed().toStdString();
    EXPECT_EQ(quits, 0); // the process carries on
}

} // namespace
