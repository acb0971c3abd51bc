// The legacy rename in one controller with real bundles in a throw-away folder: a bundle's program is a
// script that records its arguments, and bridge restarts go through the service manager's stand-in, which
// really restarts the stand-in bridge.
#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"
#include "ValidationChild.h"

#include "ConnectorPaths.h"
#include "RunTask.h"
#include "TempHome.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;

namespace {

const QString legacyName = "森维连接器.app", currentName = "Orvane 连接器.app";
const QString restart = "--user restart com.tamrik.senvik.connector.agent.service";
const QString start = "--user start com.tamrik.senvik.connector.agent.service";

QStringList lines(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                          : QStringList();
}

struct RecordingRegistration : DesktopRegistration {
    QStringList registered;
    bool registerBundle(const QString& bundle) override {
        registered << bundle;
        return true;
    }
    void unregister() override {}
};

// A bundle whose program writes its arguments, one a line, to <folder>/launched.
void makeBundle(const QString& path, bool withProgram = true) {
    const QByteArray record = QFileInfo(path).path().toUtf8() + "/launched";
    TestSupport::writeFile(path + "/Contents/Info.plist",
                           "<plist version=\"1.0\"><dict><key>CFBundleExecutable"
                           "</key><string>OrvaneConnector</string></dict></plist>");
    if (withProgram)
        TestSupport::writeFile(path + "/Contents/MacOS/OrvaneConnector",
                               "#!/bin/sh\nprintf '%s\\n' \"$@\" >'" + record + ".part'; mv '" + record +
                                   ".part' '" + record + "'\n",
                               0755);
}

class LegacyRename : public ::testing::Test {
protected:
    ConnectorController& make(const QString& bundlePath) {
        Platform platform{service, statusItem, info};
        platform.bundlePath = bundlePath;
        controller = std::make_unique<ConnectorController>(platform);
        controller->desktopRegistration = registration = std::make_shared<RecordingRegistration>();
        controller->terminateApplication = [this] { ++terminations; };
        controller->serviceManagerTool =
            TestSupport::buildDir() + "/tools/bridge-standin/service-manager-standin";
        controller->restartWaitSeconds = {1.5, 1.5, 1.5};
        controller->checkedCliOnLaunch = true;
        ControllerTestAccess::background(*controller, Background::Enabled{});
        ControllerTestAccess::bridge(*controller, BridgeStatus{});
        return *controller;
    }

    // The service manager's stand-in in a fresh folder, managing a stand-in bridge on this process's admin
    // socket; `up` starts the bridge first, uncounted.
    void serviceManager(bool up, bool frozen) {
        TearDown();
        dir = std::make_unique<TestSupport::TempDir>();
        qputenv("ORVANE_STANDIN_SERVICE_DIR", dir->path().toUtf8());
        TestSupport::writeFile(dir->file("command"),
                               QStringList{TestSupport::buildDir() + "/tools/bridge-standin/bridge-standin",
                                           "main.ts", "start", "--data-dir",
                                           QFileInfo(ConnectorPaths::adminSocket()).path()}
                                   .join('\n')
                                   .toUtf8());
        if (up) {
            QProcess::execute(controller->serviceManagerTool, {"start"});
            ASSERT_TRUE(TestSupport::spinUntil(
                [] { return TestSupport::runTask(ConnectorController::startedAt()); }, 30s));
            QFile::remove(dir->file("calls"));
        }
        if (frozen)
            TestSupport::writeFile(dir->file("frozen"), "");
    }
    // The next row's bridge can take the socket only once this one has ended, not merely left its socket.
    void TearDown() override {
        if (const QStringList pid = dir ? lines(dir->file("pid")) : QStringList(); !pid.isEmpty()) {
            const pid_t bridge = pid.first().toInt();
            ::kill(bridge, SIGTERM);
            const auto ended = [bridge] {
                const QStringList stat = lines(QStringLiteral("/proc/%1/stat").arg(bridge));
                return stat.isEmpty() || stat.first().section(QLatin1Char(')'), -1).trimmed().startsWith('Z');
            };
            if (!TestSupport::spinUntil(ended, 15s))
                ::kill(bridge, SIGKILL);
        }
        TestSupport::spinUntil([] { return !QFileInfo::exists(ConnectorPaths::adminSocket()); }, 5s);
    }

    TestSupport::TempDir root;
    std::unique_ptr<TestSupport::TempDir> dir;
    FakeBackgroundService service, statusItem;
    const nlohmann::json info = nlohmann::json::object();
    std::shared_ptr<RecordingRegistration> registration;
    std::unique_ptr<ConnectorController> controller;
    int terminations = 0;
};

} // namespace

TEST_F(LegacyRename, GuardsAndTheRelaunch) {
    const UpdateInfo entry;
    BridgeStatus busy;
    busy.openRuns = 1;
    const auto update = [](UpdateState s) {
        return [s](ConnectorController& c) { ControllerTestAccess::update(c, s); };
    };
    struct Case {
        const char* name;
        std::function<void(ConnectorController&)> set;
        bool renames;
        QString folder = "Applications";
    };
    const QList<Case> cases = {
        {"idle", [](auto&) {}, true},
        {"unknown bridge status", [](auto& c) { ControllerTestAccess::bridge(c, std::nullopt); }, true},
        {"update failed", update(UpdateState::Failed{"x"}), true},
        {"update not configured", update(UpdateState::NotConfigured{}), true},
        {"already tried", [](auto& c) { c.triedLegacyRename = true; }, false},
        {"uninstalling", [](auto& c) { ControllerTestAccess::uninstalling(c, true); }, false},
        {"gateway routing change", [](auto& c) { ControllerTestAccess::strellBusy(c, true); }, false},
        {"status menu open", [](auto& c) { c.holdsAutoInstall = true; }, false},
        {"executor tool work", [](auto& c) { ControllerTestAccess::cliBusy(c, true); }, false},
        {"one open run", [busy](auto& c) { ControllerTestAccess::bridge(c, busy); }, false},
        {"update checking", update(UpdateState::Checking{}), false},
        {"update downloading", update(UpdateState::Downloading{entry, 0, std::nullopt}), false},
        {"update verifying", update(UpdateState::Verifying{entry}), false},
        {"update ready", update(UpdateState::Ready{entry, "/s"}), false},
        {"update installing", update(UpdateState::Installing{entry}), false},
        {"current name beside it",
         [](auto& c) { QDir().mkpath(QFileInfo(c.bundlePath).path() + "/Orvane 连接器.app"); }, false},
        {"translocated copy", [](auto&) {}, false, "AppTranslocation/X"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestSupport::TempDir folder;
        const QString legacy = folder.file(c.folder + "/" + legacyName),
                      renamed = folder.file(c.folder + "/" + currentName);
        makeBundle(legacy);
        terminations = 0;
        c.set(make(legacy));
        const bool bridgeKnown = controller->running(), targetExisted = QFileInfo::exists(renamed);
        controller->renameLegacyBundleIfIdle();
        EXPECT_EQ(controller->renamingBundle, c.renames);
        TestSupport::spinUntil([&] { return !controller->renamingBundle; });
        // The relaunched copy writes its arguments itself: wait for them. A row that does not rename started
        // no work at all (renamingBundle stayed false), so nothing can launch later.
        const auto launchedNow = [&] { return lines(folder.file(c.folder + "/launched")); };
        if (c.renames) {
            EXPECT_TRUE(TestSupport::spinUntil([&] { return !launchedNow().isEmpty(); }));
        }
        const QStringList launched = launchedNow();
        EXPECT_EQ(terminations, c.renames ? 1 : 0);
        EXPECT_EQ(QFileInfo::exists(legacy), !c.renames);
        EXPECT_EQ(QFileInfo::exists(renamed + "/Contents/Info.plist"), c.renames);
        EXPECT_EQ(registration->registered, c.renames ? QStringList{renamed} : QStringList{});
        if (!c.renames) {
            EXPECT_TRUE(launched.isEmpty());
            EXPECT_EQ(QFileInfo::exists(renamed), targetExisted);
            continue;
        }
        EXPECT_EQ(launched, QStringList({"--after-update", "--after-rename"}) +
                                (bridgeKnown ? QStringList{"--restart-bridge"} : QStringList{}));
        controller->renameLegacyBundleIfIdle();
        EXPECT_FALSE(controller->renamingBundle) << "one attempt per run";
    }
    // Taken between the check and the move, even by an empty folder: nothing moves, nothing starts.
    makeBundle(root.file(legacyName));
    QDir().mkpath(root.file(currentName));
    TestSupport::runTask(ControllerTestAccess::renameBundle(make(root.file(legacyName)),
                                                            root.file(legacyName), root.file(currentName)));
    EXPECT_TRUE(QFileInfo::exists(root.file(legacyName + "/Contents/Info.plist")) &&
                QDir(root.file(currentName)).isEmpty());
    EXPECT_TRUE(registration->registered.isEmpty() && lines(root.file("launched")).isEmpty());
}

// The new instance restarts until "startedAt" changes, re-registering only under the new name. The last row
// is an old instance whose relaunch failed (no program in the bundle): it restarts the bridge itself.
TEST_F(LegacyRename, RestartsTheBridgeAfterTheRename) {
    const QString notice =
        "改名成「Orvane 连接器」后桥接还没起来：点「启动桥接」再试，不行就退出登录再登进来";
    struct Case {
        const char* name;
        bool bridgeUp, frozen;
        QString bundle;
        QStringList calls;
        bool relaunchFails = false;
    };
    const QList<Case> cases = {
        {"restarts at once", true, false, currentName, {restart}},
        {"bridge down before: its first start counts", false, false, currentName, {restart}},
        {"never comes back", true, true, currentName, {restart, start, start}},
        {"never comes back, old name", true, true, legacyName, {restart, start}},
        {"relaunch failed", true, true, legacyName, {restart, start}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make(root.file(c.bundle));
        serviceManager(c.bridgeUp, c.frozen);
        const std::optional<QString> before = TestSupport::runTask(ConnectorController::startedAt());
        service.unregisterCalls = 0;
        if (c.relaunchFails) {
            makeBundle(root.file("old/" + legacyName), false);
            make(root.file("old/" + legacyName)).renameLegacyBundleIfIdle();
        } else {
            controller->finishLegacyRename(true);
        }
        ASSERT_TRUE(TestSupport::spinUntil([&] { return !controller->renamingBundle; }, 60s));
        EXPECT_EQ(lines(dir->file("calls")), c.calls);
        EXPECT_EQ(service.unregisterCalls, c.calls.size() == 3 ? 1 : 0);
        EXPECT_EQ(controller->notice(), c.frozen ? std::optional(notice) : std::nullopt);
        EXPECT_EQ(TestSupport::runTask(ConnectorController::startedAt()) != before, !c.frozen);
    }
    make(root.file(currentName)).finishLegacyRename(false);
    EXPECT_FALSE(controller->renamingBundle);
}

// Where the bundle will vanish again, the desktop's link handler is left as it is; elsewhere it is set.
TEST_F(LegacyRename, DesktopRegistrationOnlyFromALastingPlace) {
    const std::pair<const char*, bool> cases[] = {
        {"/Volumes/Orvane/Orvane 连接器.app", false},       {"/media/mia/USB/Orvane 连接器.app", false},
        {"/run/media/mia/USB/Orvane 连接器.app", false},    {"/tmp/.mount_Orv1/Orvane 连接器.app", false},
        {"/x/AppTranslocation/y/Orvane 连接器.app", false}, {"/home/mia/media/Orvane 连接器.app", true}};
    for (const auto& [bundle, registers] : cases) {
        TestSupport::runTask(make(QString::fromUtf8(bundle)).registerWithDesktop());
        EXPECT_EQ(registration->registered.size(), registers ? 1 : 0) << bundle;
    }
}

TEST(LegacyRenameIsolated, NothingHappensInIsolatedValidation) {
    QTemporaryDir validation(ConnectorPaths::validationRoot() + "/senvik-connector-validation-XXXXXX");
    expectValidationChildPasses("LegacyRenameChild.Isolated", validation.path());
}

// Run only by LegacyRenameIsolated, in a child process in isolated validation mode.
class LegacyRenameChild : public LegacyRename {};

TEST_F(LegacyRenameChild, Isolated) {
    if (!ConnectorPaths::validationDir())
        GTEST_SKIP() << "runs only as the child of LegacyRenameIsolated";
    makeBundle(root.file(legacyName));
    make(root.file(legacyName)).renameLegacyBundleIfIdle();
    controller->finishLegacyRename(true);
    TestSupport::runTask(controller->registerWithDesktop());
    EXPECT_FALSE(controller->triedLegacyRename || controller->renamingBundle);
    EXPECT_TRUE(registration->registered.isEmpty() && QFileInfo::exists(root.file(legacyName)));
}
