#include "ConnectorController.h"
#include "FakeBackgroundService.h"
#include "Identities.h"
#include "ScriptedBridge.h"
#include "ValidationChild.h"

#include "Async.h"
#include "ConnectorPaths.h"
#include "ConnectorSettings.h"
#include "RunTask.h"
#include "TempHome.h"

#include <QSet>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using json = nlohmann::json;
using Status = BackgroundService::Status;
using namespace std::chrono_literals;

using TestSupport::vestrano;
using TestSupport::vestranoGlobal;

// The desktop as the controller sees it: scripted running and installed apps, recorded links.
class FakeWorkspace : public Workspace {
public:
    struct Opened {
        QString link;
        QString app;
        bool activate;
        bool operator==(const Opened&) const = default;
    };
    QMap<QString, QStringList> running;
    QMap<QString, QString> installed;
    QSet<QString> unopenable;
    QList<Opened> opened;
    QStringList revealed;

    QCoro::Task<void> open(QUrl link, QString app, bool activate) override {
        opened << Opened{link.toString(), app, activate};
        return unopenable.contains(app) ? refuse() : done();
    }
    QList<RunningApplication> runningApplications(const QString& identifier) const override {
        QList<RunningApplication> result;
        for (const QString& path : running.value(identifier))
            result << RunningApplication{1, path, identifier};
        return result;
    }
    std::optional<QString> urlForApplication(const QString& identifier) const override {
        if (installed.contains(identifier))
            return installed.value(identifier);
        return std::nullopt;
    }
    void activateFileViewerSelecting(const QStringList& paths) override { revealed << paths; }

private:
    static QCoro::Task<void> done() { co_return; }
    static QCoro::Task<void> refuse() {
        throw Failure(QStringLiteral("这个 App 启动不了"));
        co_return;
    }
};

// Signatures: the bundles in `genuine` carry the maker's team; everything else is unsigned.
class FakeSigning : public CodeSigning {
public:
    QSet<QString> genuine;
    mutable std::atomic<int> checks{0};
    std::optional<SigningInformation> check(const QString& bundle, const QString&) const override {
        ++checks;
        if (!genuine.contains(bundle))
            return std::nullopt;
        return SigningInformation{QStringLiteral("any"), ConnectorPaths::teamID};
    }
};

// Refresh hooks of other concerns stay quiet here.
class QuietController : public ConnectorController {
public:
    using ConnectorController::ConnectorController;
    QCoro::Task<void> cliAction(QString, std::optional<QString>, bool) override { co_return; }
    void installUpdateIfIdle() override {}
    void renameLegacyBundleIfIdle() override {}
};

class BackgroundItems : public ::testing::Test {
protected:
    TestSupport::TempDir dir;
    FakeBackgroundService service;
    FakeBackgroundService statusItem;
    json info = json::object();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<FakeSigning> signing = std::make_shared<FakeSigning>();

    std::unique_ptr<QuietController>
    controller(const QString& bundle = QStringLiteral("/Applications/Orvane 连接器.app")) {
        Platform platform{service, statusItem, info};
        platform.workspace = workspace;
        platform.signing = signing;
        platform.bundlePath = bundle;
        return std::make_unique<QuietController>(platform);
    }

    // A companion app bundle on disk that says `identifier`, optionally signed by the maker.
    QString app(const QString& name, const QString& identifier, bool signedByMaker = true) {
        const QString path = dir.file(name);
        TestSupport::writeFile(
            path + "/Contents/Info.plist",
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
            "<string>" +
                identifier.toUtf8() + "</string></dict></plist>");
        if (signedByMaker)
            signing->genuine.insert(path);
        return path;
    }

    static std::unique_ptr<ScriptedBridge> bridgeUp() {
        auto bridge = std::make_unique<ScriptedBridge>(ConnectorPaths::adminSocket());
        bridge->result("status", json{{"port", 4100}});
        bridge->result("pairings", json{{"pairings", json::array()}});
        return bridge;
    }
};

TEST_F(BackgroundItems, EnsureBackgroundItem) {
    const Status unknown = static_cast<Status>(7);
    const struct {
        const char* name;
        QString bundle = QStringLiteral("/Applications/Orvane 连接器.app");
        Status before = Status::notRegistered;
        Status afterRegister = Status::enabled;
        std::optional<QString> registerError = std::nullopt;
        bool showsAtLogin = false;
        Status loginItem = Status::notRegistered;
        std::optional<QString> loginItemError = std::nullopt;
        Background expected;
        int registers = 0;
        int loginItemRegisters = 0;
        Status expectedAtLogin = Status::notRegistered;
    } cases[] = {
        {.name = "from a disk image",
         .bundle = QStringLiteral("/Volumes/Orvane 连接器/Orvane 连接器.app"),
         .showsAtLogin = true,
         .expected = Background::WrongLocation{}},
        {.name = "from the quarantine copy",
         .bundle = QStringLiteral("/private/var/folders/xy/T/AppTranslocation/4F1A/d/Orvane 连接器.app"),
         .expected = Background::WrongLocation{}},
        {.name = "from a removable medium",
         .bundle = QStringLiteral("/media/mia/USB/Orvane 连接器.app"),
         .showsAtLogin = true,
         .expected = Background::WrongLocation{}},
        {.name = "from a removable medium mounted by the desktop",
         .bundle = QStringLiteral("/run/media/mia/USB/Orvane 连接器.app"),
         .expected = Background::WrongLocation{}},
        {.name = "from a running AppImage",
         .bundle = QStringLiteral("/tmp/.mount_OrvaneX1b2c3/Orvane 连接器.app"),
         .expected = Background::WrongLocation{}},
        {.name = "a folder merely named like a mount",
         .bundle = QStringLiteral("/home/mia/media/Orvane 连接器.app"),
         .expected = Background::Enabled{},
         .registers = 1},
        {.name = "first launch registers", .expected = Background::Enabled{}, .registers = 1},
        {.name = "description missing registers",
         .before = Status::notFound,
         .expected = Background::Enabled{},
         .registers = 1},
        {.name = "registered, approval needed",
         .afterRegister = Status::requiresApproval,
         .expected = Background::RequiresApproval{},
         .registers = 1},
        {.name = "registration refused",
         .afterRegister = Status::notRegistered,
         .registerError = QStringLiteral("Failed to enable unit: Access denied"),
         .expected = Background::Failed{QStringLiteral("Failed to enable unit: Access denied")},
         .registers = 1},
        {.name = "refused because approval is needed",
         .afterRegister = Status::requiresApproval,
         .registerError = QStringLiteral("Operation not permitted"),
         .expected = Background::RequiresApproval{},
         .registers = 1},
        {.name = "already enabled", .before = Status::enabled, .expected = Background::Enabled{}},
        {.name = "waiting for approval",
         .before = Status::requiresApproval,
         .expected = Background::RequiresApproval{}},
        {.name = "unknown status",
         .before = unknown,
         .expected = Background::Failed{QStringLiteral("系统返回了不认识的状态")}},
        {.name = "login item registered when wanted",
         .before = Status::enabled,
         .showsAtLogin = true,
         .expected = Background::Enabled{},
         .loginItemRegisters = 1,
         .expectedAtLogin = Status::enabled},
        {.name = "login item not wanted", .before = Status::enabled, .expected = Background::Enabled{}},
        {.name = "login item failure ignored",
         .before = Status::enabled,
         .showsAtLogin = true,
         .loginItemError = QStringLiteral("no session"),
         .expected = Background::Enabled{},
         .loginItemRegisters = 1},
        {.name = "existing login item left alone",
         .before = Status::enabled,
         .loginItem = Status::enabled,
         .expected = Background::Enabled{},
         .expectedAtLogin = Status::enabled},
    };
    for (const auto& c : cases) {
        service = FakeBackgroundService();
        statusItem = FakeBackgroundService();
        service.current = c.before;
        service.afterRegister = c.afterRegister;
        service.registerError = c.registerError;
        statusItem.current = c.loginItem;
        statusItem.registerError = c.loginItemError;
        if (c.loginItemError)
            statusItem.afterRegister = Status::notRegistered;
        ConnectorSettings::setShowsStatusItemAtLogin(c.showsAtLogin);
        auto controller = this->controller(c.bundle);
        TestSupport::runTask(controller->ensureBackgroundItem(), 10s);
        EXPECT_EQ(controller->background(), c.expected) << c.name;
        EXPECT_EQ(service.registerCalls, c.registers) << c.name;
        EXPECT_EQ(statusItem.registerCalls, c.loginItemRegisters) << c.name;
        EXPECT_EQ(statusItem.unregisterCalls, 0) << c.name;
        EXPECT_EQ(controller->statusItemAtLogin(), c.expectedAtLogin) << c.name;
    }
}

TEST_F(BackgroundItems, FreshRegistrationTellsOnlyRunningAppsQuietly) {
    const auto bridge = bridgeUp();
    const QString running = app(QStringLiteral("run/Vestrano.app"), vestrano);
    workspace->running[vestrano] = {running};
    workspace->installed[vestranoGlobal] = app(QStringLiteral("Applications/Global.app"), vestranoGlobal);
    ConnectorSettings::setShowsStatusItemAtLogin(false);

    auto controller = this->controller();
    TestSupport::runTask(controller->ensureBackgroundItem(), 10s);
    ASSERT_TRUE(controller->background().is<Background::Enabled>());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !workspace->opened.isEmpty(); }, 20s));
    // A second link (to the app that is only installed) would follow at once: give it ample time to show.
    EXPECT_FALSE(TestSupport::spinUntil([&] { return workspace->opened.size() > 1; }, 2s));
    const QList<FakeWorkspace::Opened> expected{
        {QStringLiteral("com.tamrik.vestrano://agent-connector/ready"), running, false}};
    EXPECT_EQ(workspace->opened, expected);
    EXPECT_FALSE(controller->notice());

    // The next check finds the item enabled and tells nobody again.
    workspace->opened.clear();
    TestSupport::runTask(controller->ensureBackgroundItem(), 10s);
    EXPECT_FALSE(TestSupport::spinUntil([&] { return !workspace->opened.isEmpty(); }, 2s));
}

// The service manager can hang for its whole time-out: the registration runs on a worker, the main thread
// keeps serving events meanwhile, and the caller that awaits it sees the outcome afterwards.
class HangingBackgroundService : public FakeBackgroundService {
public:
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<QThread*> thread{nullptr};
    void registerItem() override {
        thread = QThread::currentThread();
        entered = true;
        const auto deadline = std::chrono::steady_clock::now() + 20s; // the test releases it long before
        while (!release && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        FakeBackgroundService::registerItem();
    }
};

TEST_F(BackgroundItems, RegistrationRunsOffTheMainThread) {
    HangingBackgroundService hanging;
    Platform platform{hanging, statusItem, info};
    platform.workspace = workspace;
    platform.signing = signing;
    platform.bundlePath = QStringLiteral("/Applications/Orvane 连接器.app");
    QuietController controller(platform);
    ConnectorSettings::setShowsStatusItemAtLogin(false);

    bool done = false;
    auto ensure = [](QuietController& c, bool& finished) -> QCoro::Task<void> {
        QCoro::Task<void> ensuring = c.ensureBackgroundItem();
        co_await std::move(ensuring);
        finished = true;
    };
    QCoro::Task<void> task = ensure(controller, done);
    // While the worker hangs in the service manager, a timer on the main thread still fires.
    ASSERT_TRUE(TestSupport::spinUntil([&] { return hanging.entered.load(); }, 10s));
    bool timerFired = false;
    QTimer::singleShot(10ms, [&] { timerFired = true; });
    EXPECT_TRUE(TestSupport::spinUntil([&] { return timerFired; }, 5s));
    EXPECT_NE(hanging.thread.load(), QThread::currentThread());
    EXPECT_FALSE(done);
    EXPECT_TRUE(controller.background().is<Background::Checking>());

    hanging.release = true;
    ASSERT_TRUE(TestSupport::spinUntil([&] { return done; }, 10s));
    EXPECT_TRUE(controller.background().is<Background::Enabled>());
    EXPECT_EQ(hanging.registerCalls, 1);

    // Quitting meanwhile: the hanging worker keeps the item it uses; its late result reaches no freed object.
    auto owned = std::make_shared<HangingBackgroundService>();
    const std::weak_ptr<HangingBackgroundService> item = owned;
    auto quitting = std::make_unique<QuietController>(
        Platform{owned, owned, info, workspace, signing, platform.bundlePath});
    Async::spawn(quitting->ensureBackgroundItem(), "ensure while quitting");
    ASSERT_TRUE(TestSupport::spinUntil([&] { return owned->entered.load(); }, 10s));
    quitting.reset();
    owned.reset();
    ASSERT_FALSE(item.expired());
    item.lock()->release = true;
    EXPECT_TRUE(TestSupport::spinUntil([] { return Async::ioPool().activeThreadCount() == 0; }, 10s));
}

TEST_F(BackgroundItems, AnnounceByUser) {
    const auto bridge = bridgeUp();
    const QString readyVestrano = QStringLiteral("com.tamrik.vestrano://agent-connector/ready");
    const QString readyGlobal = QStringLiteral("com.tamrik.vestrano.global://agent-connector/ready");
    const QString runningVestrano = app(QStringLiteral("run/Vestrano.app"), vestrano);
    const QString installedVestrano = app(QStringLiteral("Applications/Vestrano.app"), vestrano);
    const QString installedGlobal = app(QStringLiteral("Applications/Global.app"), vestranoGlobal);
    const QString forgedVestrano = app(QStringLiteral("forged/Vestrano.app"), vestrano, false);
    const QString otherIdentifier =
        app(QStringLiteral("other/Global.app"), QStringLiteral("com.example.app"));
    using Opened = FakeWorkspace::Opened;

    const struct {
        const char* name;
        bool onlyRunning;
        QMap<QString, QStringList> running;
        QMap<QString, QString> installed;
        QSet<QString> unopenable;
        QList<Opened> expected;
        std::optional<QString> notice;
    } cases[] = {
        {"first running, second installed",
         false,
         {{vestrano, {runningVestrano}}},
         {{vestranoGlobal, installedGlobal}},
         {},
         {{readyVestrano, runningVestrano, true}, {readyGlobal, installedGlobal, true}},
         std::nullopt},
        {"running copy before the installed one",
         false,
         {{vestrano, {runningVestrano, installedVestrano}}},
         {{vestrano, installedVestrano}},
         {},
         {{readyVestrano, runningVestrano, true}},
         std::nullopt},
        {"forged signature skipped",
         false,
         {{vestrano, {forgedVestrano}}},
         {{vestranoGlobal, installedGlobal}},
         {},
         {{readyGlobal, installedGlobal, true}},
         std::nullopt},
        {"bundle of another identifier skipped",
         false,
         {},
         {{vestranoGlobal, otherIdentifier}},
         {},
         {},
         std::nullopt},
        {"opening fails, the next still hears",
         false,
         {{vestrano, {runningVestrano}}},
         {{vestranoGlobal, installedGlobal}},
         {runningVestrano},
         {{readyVestrano, runningVestrano, true}, {readyGlobal, installedGlobal, true}},
         std::nullopt},
        {"nothing found", false, {}, {}, {}, {}, QStringLiteral("这台 Mac 上没找到 Orvane")},
        {"automatic: installed apps are not started",
         true,
         {},
         {{vestrano, installedVestrano}},
         {},
         {},
         std::nullopt},
        {"automatic: running apps in the background",
         true,
         {{vestranoGlobal, {installedGlobal}}},
         {{vestrano, installedVestrano}},
         {},
         {{readyGlobal, installedGlobal, false}},
         std::nullopt},
    };
    for (const auto& c : cases) {
        workspace->running = c.running;
        workspace->installed = c.installed;
        workspace->unopenable = c.unopenable;
        workspace->opened.clear();
        auto controller = this->controller();
        TestSupport::runTask(controller->announce(c.onlyRunning), 10s);
        EXPECT_EQ(workspace->opened, c.expected) << c.name;
        EXPECT_EQ(controller->notice(), c.notice) << c.name;
    }
}

TEST_F(BackgroundItems, AnnounceWithTheBridgeDownTellsOnlyTheUser) {
    workspace->running[vestrano] = {app(QStringLiteral("run/Vestrano.app"), vestrano)};
    auto byUser = controller();
    auto automatic = controller();
    int finished = 0;
    auto count = [](QCoro::Task<void> task, int* finished) -> QCoro::Task<void> {
        co_await std::move(task);
        ++*finished;
    };
    Async::spawn(count(byUser->announce(false), &finished));
    Async::spawn(count(automatic->announce(true), &finished));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return finished == 2; }, 30s));
    EXPECT_EQ(byUser->notice(), QStringLiteral("桥接没起来：查看日志看看原因"));
    EXPECT_FALSE(automatic->notice());
    EXPECT_TRUE(workspace->opened.isEmpty());
    EXPECT_EQ(signing->checks.load(), 0);
}

TEST_F(BackgroundItems, LoginItemSwitch) {
    const struct {
        const char* name;
        bool on;
        Status before;
        std::optional<QString> error;
        std::optional<QString> notice;
        Status after;
    } cases[] = {
        {"on", true, Status::notRegistered, std::nullopt, std::nullopt, Status::enabled},
        {"on refused", true, Status::notRegistered, QStringLiteral("没有 systemd 用户会话"),
         QStringLiteral("没能登记状态栏登录项：没有 systemd 用户会话"), Status::notRegistered},
        {"off", false, Status::enabled, std::nullopt, std::nullopt, Status::notRegistered},
        {"off refused", false, Status::enabled, QStringLiteral("Access denied"),
         QStringLiteral("没能注销状态栏登录项：Access denied"), Status::enabled},
    };
    for (const auto& c : cases) {
        statusItem = FakeBackgroundService();
        statusItem.current = c.before;
        if (c.on) {
            statusItem.registerError = c.error;
            statusItem.afterRegister = c.error ? c.before : Status::enabled;
        } else {
            statusItem.unregisterError = c.error;
        }
        ConnectorSettings::setShowsStatusItemAtLogin(!c.on);
        auto controller = this->controller();
        ConnectorSettings::setShowsStatusItemAtLogin(c.on); // what setStatusItemAtLogin stores first
        TestSupport::runTask(controller->switchStatusItemAtLogin(c.on), 10s);
        EXPECT_EQ(ConnectorSettings::showsStatusItemAtLogin(), c.on)
            << c.name << ": the user's choice is kept";
        EXPECT_EQ(controller->notice(), c.notice) << c.name;
        EXPECT_EQ(controller->statusItemAtLogin(), c.after) << c.name;
    }
}

TEST_F(BackgroundItems, ReregistrationIgnoresFailuresAndChecksAfterwards) {
    const struct {
        const char* name;
        std::optional<QString> unregisterError;
        std::optional<QString> registerError;
        Background expected;
        int registers;
    } cases[] = {
        {"both work", std::nullopt, std::nullopt, Background::Enabled{}, 1},
        {"unregister refused", QStringLiteral("busy"), std::nullopt, Background::Enabled{}, 1},
        {"register refused", std::nullopt, QStringLiteral("Unit file is masked."),
         Background::Failed{QStringLiteral("Unit file is masked.")}, 2},
    };
    for (const auto& c : cases) {
        service = FakeBackgroundService();
        service.current = Status::enabled;
        service.unregisterError = c.unregisterError;
        service.registerError = c.registerError;
        service.afterRegister = c.registerError ? Status::notRegistered : Status::enabled;
        auto controller = this->controller();
        TestSupport::runTask(controller->reregisterBackgroundItem(), 10s);
        EXPECT_EQ(service.unregisterCalls, 1) << c.name;
        EXPECT_EQ(service.registerCalls, c.registers) << c.name;
        EXPECT_EQ(controller->background(), c.expected) << c.name;
    }
}

TEST_F(BackgroundItems, StartBridgeKickstartsThenRefreshes) {
    const auto bridge = bridgeUp();
    const QString record = dir.file(QStringLiteral("kickstart"));
    TestSupport::writeFile(dir.file(QStringLiteral("systemctl")),
                           "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + record.toUtf8() + "'\n", 0755);
    service.current = Status::enabled;
    auto controller = this->controller();
    controller->serviceManagerTool = dir.file(QStringLiteral("systemctl"));
    controller->startBridge();
    EXPECT_FALSE(controller->lastRefresh()) << "startBridge waited for the bridge";
    ASSERT_TRUE(TestSupport::spinUntil([&] { return controller->lastRefresh().has_value(); }, 20s));
    EXPECT_TRUE(controller->running());
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "--user start com.tamrik.senvik.connector.agent.service\n");
}

TEST_F(BackgroundItems, RevealLogAndLoginItemsSettings) {
    auto controller = this->controller();
    controller->revealLog();
    EXPECT_EQ(workspace->revealed, QStringList{ConnectorPaths::bridgeLog()});
    EXPECT_EQ(service.settingsOpened + statusItem.settingsOpened, 0);
    controller->openLoginItemsSettings();
    EXPECT_EQ(service.settingsOpened + statusItem.settingsOpened, 1)
        << "the login-items settings opened once";
}

// The isolated validation mode is fixed per process from its arguments, so it is checked in a child run of
// this program (the case below), started with the flag and a private directory.
TEST(IsolatedValidation, TouchesNoItemAndStartsNothing) {
    QTemporaryDir validation(ConnectorPaths::validationRoot() +
                             QStringLiteral("/senvik-connector-validation-XXXXXX"));
    ASSERT_TRUE(validation.isValid());
    expectValidationChildPasses(QStringLiteral("IsolatedValidationChild.*"), validation.path());
}

// Run only by IsolatedValidation, in a child process in isolated validation mode.
class IsolatedValidationChild : public BackgroundItems {};

TEST_F(IsolatedValidationChild, Run) {
    if (!ConnectorPaths::validationDir())
        GTEST_SKIP() << "runs only as the child of IsolatedValidation";
    workspace->installed[vestrano] = dir.file(QStringLiteral("Vestrano.app"));
    auto owned = this->controller(QStringLiteral("/Volumes/Orvane 连接器/Orvane 连接器.app"));
    QuietController& controller = *owned;
    const QString record = dir.file(QStringLiteral("kickstart"));
    TestSupport::writeFile(dir.file(QStringLiteral("systemctl")),
                           "#!/bin/sh\ntouch '" + record.toUtf8() + "'\n", 0755);
    controller.serviceManagerTool = dir.file(QStringLiteral("systemctl"));
    ConnectorSettings::setShowsStatusItemAtLogin(false);

    TestSupport::runTask(controller.ensureBackgroundItem(), 10s);
    EXPECT_TRUE(controller.background().is<Background::Enabled>());
    controller.setStatusItemAtLogin(true);
    EXPECT_FALSE(ConnectorSettings::showsStatusItemAtLogin());
    TestSupport::runTask(controller.announce(false), 2s);
    TestSupport::runTask(controller.reregisterBackgroundItem(), 2s);
    controller.startBridge();
    // Outside this mode the stand-in would have run within moments.
    EXPECT_FALSE(TestSupport::spinUntil([&] { return QFileInfo::exists(record); }, 3s));
    EXPECT_FALSE(controller.notice());
    EXPECT_TRUE(workspace->opened.isEmpty());
    EXPECT_EQ(service.registerCalls + service.unregisterCalls + statusItem.registerCalls +
                  statusItem.unregisterCalls,
              0);
}

} // namespace
