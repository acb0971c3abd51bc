#include "ConnectorController.h"
#include "FakeBackgroundService.h"
#include "Identities.h"
#include "PairRequest.h"
#include "ScriptedBridge.h"

#include "ConnectorPaths.h"
#include "RunTask.h"
#include "TempHome.h"
#include "linux/BundleSignature.h"
#include "linux/Ed25519Key.h"
#include "linux/LinuxCodeSigning.h"
#include "linux/LinuxWorkspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <sys/stat.h>

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

using TestSupport::vestrano;
using TestSupport::vestranoGlobal;
const QString state16 = QStringLiteral("Ab3_-Cd4Ef5Gh6Ij");
const QString signatureNotice = QStringLiteral("要连接的 App 签名对不上，没有发连接票");

QString pairLink(const QString& query) {
    return QStringLiteral("senvik-connector://pair?") + query;
}

TEST(PairRequestLinks, OnlyWellFormedPairingLinksAreAccepted) {
    const QString s128 = QString(128, QLatin1Char('x'));
    const QString base = QStringLiteral("app=com.tamrik.vestrano&path=/Applications/Orvane.app&state=");
    const struct {
        QString link;
        std::optional<PairRequest> expected;
    } cases[] = {
        {pairLink(base + state16),
         PairRequest{vestrano, QStringLiteral("/Applications/Orvane.app/"), state16}},
        {pairLink(base + state16.left(15)), std::nullopt},
        {pairLink(base + s128), PairRequest{vestrano, QStringLiteral("/Applications/Orvane.app/"), s128}},
        {pairLink(base + s128 + QLatin1Char('x')), std::nullopt},
        {pairLink(base + QStringLiteral("Ab3_-Cd4Ef5Gh6I.")), std::nullopt},
        {pairLink(base + QStringLiteral("Ab3_-Cd4Ef5Gh6I%2E")), std::nullopt},
        {pairLink(base + QStringLiteral("Ab3_-Cd4Ef5Gh6Ié")), std::nullopt},
        {pairLink(base + QStringLiteral("Ab3_-Cd4Ef5Gh6I%C3%A9")), std::nullopt},
        {QStringLiteral("SENVIK-CONNECTOR://pair?") + base + state16, std::nullopt},
        {QStringLiteral("Senvik-connector://pair?") + base + state16, std::nullopt},
        {QStringLiteral("senvik-connector://Pair?") + base + state16, std::nullopt},
        {QStringLiteral("senvik-connector://other?") + base + state16, std::nullopt},
        {QStringLiteral("senvik-connector:pair?") + base + state16, std::nullopt},
        {QStringLiteral("https://pair?") + base + state16, std::nullopt},
        {QStringLiteral("senvik-connector://pair"), std::nullopt},
        // The first "state" counts, whichever way round.
        {pairLink(base + state16 + QStringLiteral("&state=short")),
         PairRequest{vestrano, QStringLiteral("/Applications/Orvane.app/"), state16}},
        {pairLink(base + QStringLiteral("short&state=") + state16), std::nullopt},
        {pairLink(QStringLiteral("state&state=") + state16 + QStringLiteral("&app=") + vestrano),
         std::nullopt},
        {pairLink(QStringLiteral("app=com.example.other&state=") + state16), std::nullopt},
        {pairLink(QStringLiteral("state=") + state16), std::nullopt},
        {pairLink(QStringLiteral("app&state=") + state16), std::nullopt},
        {pairLink(QStringLiteral("app=com.example.other&app=com.tamrik.vestrano&state=") + state16),
         std::nullopt},
        {pairLink(QStringLiteral("app=com.tamrik.vestrano.global&state=") + state16),
         PairRequest{vestranoGlobal, std::nullopt, state16}},
        {pairLink(QStringLiteral("app=com.tamrik.vestrano&path=&state=") + state16),
         PairRequest{vestrano, std::nullopt, state16}},
        {pairLink(QStringLiteral("app=com.tamrik.vestrano&path=/Applications/Orvane%20Beta.app/&state=") +
                  state16),
         PairRequest{vestrano, QStringLiteral("/Applications/Orvane Beta.app/"), state16}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PairRequest::from(c.link), c.expected) << c.link.toStdString();
}

TEST(PairRequestLinks, TicketLinkCarriesPortTicketAndStateInThatOrder) {
    const PairRequest request{vestrano, std::nullopt, state16};
    EXPECT_EQ(
        request.ticketLink(48123, QStringLiteral("tk_a&b=c d#é")).toString(QUrl::FullyEncoded),
        QStringLiteral(
            "com.tamrik.vestrano://agent-connector?port=48123&ticket=tk_a%26b%3Dc%20d%23%C3%A9&state=") +
            state16);
}

// Hooks of other concerns stay quiet; the background item's upkeep is only counted.
class PairingController : public ConnectorController {
public:
    using ConnectorController::ConnectorController;
    int ensured = 0;
    QCoro::Task<void> ensureBackgroundItem() override {
        ++ensured;
        co_return;
    }
    QCoro::Task<void> cliAction(QString, std::optional<QString>, bool) override { co_return; }
    void installUpdateIfIdle() override {}
    void renameLegacyBundleIfIdle() override {}
};

// The real Linux workspace and signature checks, over bundles built from the stand-in companion app and a
// keyring that trusts this test's keys only.
class PairingExchange : public ::testing::Test {
public:
    TestSupport::TempDir dir;
    FakeBackgroundService service;
    FakeBackgroundService statusItem;
    json info = json::object();
    Ed25519Key makerKey = Ed25519Key::generate();
    Ed25519Key otherTeamKey = Ed25519Key::generate();
    Ed25519Key strangerKey = Ed25519Key::generate();
    std::unique_ptr<PairingController> controller;

    void SetUp() override {
        SigningKeyring keyring;
        keyring.add(ConnectorPaths::teamID, makerKey.publicKey());
        keyring.add(QStringLiteral("OTHERTEAM1"), otherTeamKey.publicKey());
        Platform platform{service, statusItem, info};
        platform.workspace =
            std::make_shared<LinuxWorkspace>(QStringList{dir.file(QStringLiteral("Applications"))});
        platform.signing = std::make_shared<LinuxCodeSigning>(keyring);
        controller = std::make_unique<PairingController>(platform);
        controller->checkedCliOnLaunch = true;
    }

    // A stand-in companion app at `relative` in the test folder that says `identifier`.
    QString app(const QString& relative, const QString& identifier,
                const QString& executable = QStringLiteral("Orvane")) {
        const QString path = dir.file(relative);
        TestSupport::writeFile(
            path + QStringLiteral("/Contents/Info.plist"),
            ("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>" +
             identifier + "</string><key>CFBundleExecutable</key><string>" + executable +
             "</string></dict></plist>")
                .toUtf8());
        QFile program(TestSupport::buildDir() + QStringLiteral("/tools/companion-standin/companion-standin"));
        EXPECT_TRUE(program.open(QIODevice::ReadOnly)) << "build the companion-standin target";
        TestSupport::writeFile(path + QStringLiteral("/Contents/MacOS/Orvane"), program.readAll(), 0755);
        return path;
    }
    QString signedApp(const QString& relative, const QString& identifier, const Ed25519Key& key,
                      const QString& team = ConnectorPaths::teamID) {
        const QString path = app(relative, identifier);
        BundleSignature::sign(path, key, identifier, team);
        return path;
    }
    static QStringList received(const QString& appPath) {
        QFile file(appPath + QStringLiteral(".received-links.txt"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // Waits until no stand-in app started from the bundle at `appPath` runs any more. Each records its links
    // and ends, and every start happens before handle() returns: afterwards the record is complete.
    static void waitForStartedApps(const QString& appPath) {
        const QString bundle = QFileInfo(appPath).canonicalFilePath();
        const bool ended = TestSupport::spinUntil(
            [&] {
                const auto running = LinuxWorkspace::runningBundles();
                return std::none_of(
                    running.begin(), running.end(),
                    [&](const Workspace::RunningApplication& app) { return app.bundlePath == bundle; });
            },
            30s);
        EXPECT_TRUE(ended) << "a started stand-in app is still running";
    }
    static std::unique_ptr<ScriptedBridge> bridge(const json& ticket) {
        auto b = std::make_unique<ScriptedBridge>(ConnectorPaths::adminSocket());
        b->result("status", json{{"port", 48123}});
        b->result("pairings", json::array());
        b->result("ticket", ticket);
        return b;
    }
    void handle(const QString& link) { TestSupport::runTask(controller->handle(link), 30s); }
    // A genuine bundle whose folder or program (`relative`) gets `mode`.
    QString othersCanWrite(const char* location, const char* relative, mode_t mode) {
        const QString path = signedApp(QString::fromUtf8(location), vestrano, makerKey);
        EXPECT_EQ(::chmod(QFile::encodeName(path + QString::fromUtf8(relative)).constData(), mode), 0);
        return path;
    }
};

const json goodTicket{{"ticket", "tk_a&b=c d"}, {"port", 48123}, {"expiresAt", "2025-03-01T08:17:30Z"}};
const QString expectedLink =
    QStringLiteral("com.tamrik.vestrano://agent-connector?port=48123&ticket=tk_a%26b%3Dc%20d&state=") +
    state16;

TEST_F(PairingExchange, GenuineAppReceivesTheTicketLink) {
    for (const bool withPath : {true, false}) {
        SCOPED_TRACE(withPath ? "path in the link" : "installed app");
        SetUp();
        const QString location =
            withPath ? QStringLiteral("elsewhere/Orvane.app") : QStringLiteral("Applications/Orvane.app");
        const QString path = signedApp(location, vestrano, makerKey);
        auto b = bridge(goodTicket);
        QString query = QStringLiteral("app=com.tamrik.vestrano&state=") + state16;
        if (withPath)
            query += QStringLiteral("&path=") + QString::fromUtf8(QUrl::toPercentEncoding(path, "/"));
        handle(pairLink(query));

        ASSERT_TRUE(TestSupport::spinUntil([&] { return !received(path).isEmpty(); }, 30s));
        waitForStartedApps(path);
        EXPECT_EQ(received(path), QStringList{expectedLink});
        EXPECT_FALSE(controller->notice());
        EXPECT_EQ(controller->ensured, 1);
        EXPECT_EQ(b->count("ticket"), 1);
        QFile::remove(path + QStringLiteral(".received-links.txt"));
    }
}

TEST_F(PairingExchange, NoTicketForAnAppThatFailsTheCheck) {
    const struct {
        const char* name;
        std::function<QString(PairingExchange&)>
            make; // gives the path named in the link; empty: no path at all
    } cases[] = {
        {"signed by an unknown key",
         [](PairingExchange& t) { return t.signedApp("a/Orvane.app", vestrano, t.strangerKey); }},
        {"signed by another team",
         [](PairingExchange& t) {
             return t.signedApp("b/Orvane.app", vestrano, t.otherTeamKey, QStringLiteral("OTHERTEAM1"));
         }},
        {"bundle says another identifier",
         [](PairingExchange& t) { return t.signedApp("c/Orvane.app", vestranoGlobal, t.makerKey); }},
        {"unsigned", [](PairingExchange& t) { return t.app("d/Orvane.app", vestrano); }},
        {"changed after signing",
         [](PairingExchange& t) {
             const QString path = t.signedApp("e/Orvane.app", vestrano, t.makerKey);
             TestSupport::writeFile(path + QStringLiteral("/Contents/Resources/extra"), "x");
             return path;
         }},
        {"no path and not installed", [](PairingExchange&) { return QString(); }},
        // Bundles another user could change between the check and the start; each in a folder of its own.
        {"bundle folder writable by the group",
         [](PairingExchange& t) { return t.othersCanWrite("w1/Orvane.app", "", 0775); }},
        {"program writable by everyone",
         [](PairingExchange& t) {
             return t.othersCanWrite("w2/Orvane.app", "/Contents/MacOS/Orvane", 0777);
         }},
        {"program set-uid",
         [](PairingExchange& t) {
             return t.othersCanWrite("w3/Orvane.app", "/Contents/MacOS/Orvane", 04755);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const QString path = c.make(*this);
        auto b = bridge(goodTicket);
        QString query = QStringLiteral("app=com.tamrik.vestrano&state=") + state16;
        if (!path.isEmpty())
            query += QStringLiteral("&path=") + path;
        handle(pairLink(query));
        EXPECT_EQ(controller->notice(), signatureNotice);
        EXPECT_EQ(b->count("ticket"), 0);
        if (!path.isEmpty()) {
            TestSupport::spinFor(100ms);
            waitForStartedApps(path);
            EXPECT_EQ(received(path), QStringList());
        }
    }
}

// The bundle named by the link, or a file inside it, is swapped for an impostor while the bridge makes the
// ticket, that is right after the check closed it: the ticket still reaches only the program that was
// checked.
TEST_F(PairingExchange, SwapAfterTheCheckHandsTheTicketOnlyToTheCheckedApp) {
    enum class Swap { folder, link, program, infoPlist };
    const struct {
        const char* name;
        Swap swap;
    } cases[] = {{"folder renamed and replaced", Swap::folder},
                 {"symbolic link retargeted", Swap::link},
                 {"unsigned program renamed over the checked one", Swap::program},
                 {"Info.plist renamed over, naming an unsigned program", Swap::infoPlist}};
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        // Each case in a folder of its own: the one before left its swapped bundles behind.
        const QString folder = QStringLiteral("swap%1/").arg(++round);
        const QString genuine = signedApp(folder + QStringLiteral("Genuine.app"), vestrano, makerKey);
        const QString impostor =
            app(folder + QStringLiteral("Impostor.app"), vestrano, QStringLiteral("Other"));
        const QString named = dir.file(folder + QStringLiteral("Orvane.app"));
        const QString moved = dir.file(folder + QStringLiteral("Moved.app"));
        // An unsigned program that records what it is handed; the impostor's Info.plist names it "Other".
        const QString spy = dir.file(folder + QStringLiteral("spy.txt"));
        TestSupport::writeFile(dir.file(folder + QStringLiteral("spy")),
                               "#!/bin/sh\ncat >> '" + spy.toUtf8() + "'\n", 0755);
        const QString spyProgram = dir.file(folder + QStringLiteral("spy"));
        ASSERT_TRUE(QFile::copy(spyProgram, impostor + QStringLiteral("/Contents/MacOS/Other")));
        if (c.swap == Swap::link)
            ASSERT_TRUE(QFile::link(genuine, named));
        else
            ASSERT_TRUE(QDir().rename(genuine, named));
        auto b = bridge(goodTicket);
        const Swap swap = c.swap;
        b->onCommand("ticket", [=] {
            const QString macos = named + QStringLiteral("/Contents/MacOS/");
            switch (swap) {
            case Swap::link:
                QFile::remove(named);
                QFile::link(impostor, named);
                break;
            case Swap::folder:
                QDir().rename(named, moved);
                QDir().rename(impostor, named);
                break;
            case Swap::program:
                ::rename(QFile::encodeName(spyProgram).constData(),
                         QFile::encodeName(macos + QStringLiteral("Orvane")).constData());
                break;
            case Swap::infoPlist:
                QFile::copy(spyProgram, macos + QStringLiteral("Other"));
                ::rename(QFile::encodeName(impostor + QStringLiteral("/Contents/Info.plist")).constData(),
                         QFile::encodeName(named + QStringLiteral("/Contents/Info.plist")).constData());
                break;
            }
        });
        handle(pairLink(QStringLiteral("app=com.tamrik.vestrano&state=") + state16 +
                        QStringLiteral("&path=") + named));
        // The checked program now lies at `genuine` (link), `moved` (folder) or still at `named`; it records
        // beside its bundle.
        const QString checked = swap == Swap::link ? genuine : swap == Swap::folder ? moved : named;
        EXPECT_TRUE(TestSupport::spinUntil([&] { return !received(checked).isEmpty(); }, 30s));
        TestSupport::spinFor(100ms);
        EXPECT_EQ(received(checked), QStringList{expectedLink});
        if (checked != named) {
            EXPECT_EQ(received(named), QStringList());
        }
        EXPECT_EQ(received(impostor), QStringList());
        EXPECT_FALSE(QFile::exists(spy));
        EXPECT_FALSE(controller->notice());
    }
}

TEST_F(PairingExchange, TicketThatCannotBeHandedOver) {
    const QString prefix = QStringLiteral("没能把连接票交给 Orvane：");
    const struct {
        const char* name;
        std::string reply;
        QString executable;
        QString notice; // starts with
    } cases[] = {
        {"refused", R"({"ok":false,"error":"桥接还没有监听端口，给不出连接票"})", "Orvane",
         prefix + "桥接还没有监听端口，给不出连接票"},
        {"no port", R"({"ok":true,"result":{"ticket":"tk_1"}})", "Orvane", prefix + "桥接没给出连接票"},
        {"port as text", R"({"ok":true,"result":{"ticket":"tk_1","port":"48123"}})", "Orvane",
         prefix + "桥接没给出连接票"},
        {"ticket not text", R"({"ok":true,"result":{"ticket":7,"port":48123}})", "Orvane",
         prefix + "桥接没给出连接票"},
        {"not an object", R"({"ok":true,"result":["tk_1",48123]})", "Orvane", prefix + "桥接没给出连接票"},
        {"app cannot start", R"({"ok":true,"result":{"ticket":"tk_1","port":48123}})", "Missing",
         prefix + "这个 App 启动不了："},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const QString path = app(QStringLiteral("x/Orvane.app"), vestrano, c.executable);
        BundleSignature::sign(path, makerKey, vestrano, ConnectorPaths::teamID);
        auto b = bridge(json::object());
        b->raw("ticket", c.reply);
        handle(pairLink(QStringLiteral("app=com.tamrik.vestrano&state=") + state16 +
                        QStringLiteral("&path=") + path));
        ASSERT_TRUE(controller->notice());
        EXPECT_TRUE(controller->notice()->startsWith(c.notice)) << controller->notice()->toStdString();
        waitForStartedApps(path);
        EXPECT_EQ(received(path), QStringList());
    }
}

TEST_F(PairingExchange, BridgeThatNeverAnswers) {
    const QString path = signedApp(QStringLiteral("Applications/Orvane.app"), vestrano, makerKey);
    controller->bridgeWaitSeconds = 1; // the real wait is 20 s; the outcome is the same
    const auto start = std::chrono::steady_clock::now();
    handle(pairLink(QStringLiteral("app=com.tamrik.vestrano&state=") + state16));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
    EXPECT_EQ(controller->notice(), QStringLiteral("桥接没起来：打开「Orvane 连接器」看看，或查看日志"));
    EXPECT_EQ(controller->ensured, 1);
    EXPECT_EQ(received(path), QStringList());
}

// Signature checks that throw (a broken checker, a file system that fails oddly) end the link's handling
// quietly: handle() never fails towards the shell, and no ticket is made.
class ThrowingSigning final : public CodeSigning {
public:
    std::optional<SigningInformation> check(const QString&, const QString&) const override {
        throw std::runtime_error("checker broke");
    }
};

TEST_F(PairingExchange, HandleNeverThrowsWhateverTheCheckThrows) {
    Platform platform{service, statusItem, info};
    platform.workspace =
        std::make_shared<LinuxWorkspace>(QStringList{dir.file(QStringLiteral("Applications"))});
    platform.signing = std::make_shared<ThrowingSigning>();
    controller = std::make_unique<PairingController>(platform);
    controller->checkedCliOnLaunch = true;
    const QString path = signedApp(QStringLiteral("t/Orvane.app"), vestrano, makerKey);
    auto b = bridge(goodTicket);
    EXPECT_NO_THROW(handle(pairLink(QStringLiteral("app=com.tamrik.vestrano&state=") + state16 +
                                    QStringLiteral("&path=") + path)));
    EXPECT_EQ(b->count("ticket"), 0);
    TestSupport::spinFor(100ms);
    EXPECT_EQ(received(path), QStringList());
}

TEST_F(PairingExchange, RefusedLinksAreSilent) {
    auto b = bridge(goodTicket);
    for (const QString& link :
         {QStringLiteral("SENVIK-CONNECTOR://pair?app=com.tamrik.vestrano&state=") + state16,
          QStringLiteral("senvik-connector://Pair?app=com.tamrik.vestrano&state=") + state16,
          pairLink(QStringLiteral("app=com.tamrik.vestrano&state=short")),
          QStringLiteral("com.tamrik.vestrano://agent-connector/ready"), QString()}) {
        handle(link);
    }
    EXPECT_FALSE(controller->notice());
    EXPECT_EQ(controller->ensured, 0);
    EXPECT_TRUE(b->commands().empty());
}

TEST_F(PairingExchange, DisconnectRevokesThenRefreshes) {
    auto b = bridge(goodTicket);
    b->refuse("revoke", "没有这个配对：p1");
    Pairing pairing{QStringLiteral("p1"), QStringLiteral("Mia"), QStringLiteral("…a1"),
                    QStringLiteral("Orvane"), std::nullopt};
    controller->disconnect(pairing);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return b->count("pairings") == 1; }));
    EXPECT_EQ(controller->notice(), QStringLiteral("断开没成功：没有这个配对：p1"));

    b->result("revoke", json{{"revoked", "p1"}});
    b->result("pairings", json::array({json{{"id", "p2"}}}));
    controller->disconnect(pairing);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return controller->pairings().size() == 1; }));
    EXPECT_EQ(controller->pairings()[0].id, QStringLiteral("p2"));
    EXPECT_EQ(b->count("revoke"), 2);
    EXPECT_EQ(controller->notice(), QStringLiteral("断开没成功：没有这个配对：p1")); // a success adds no text
}

// A desktop whose running and installed apps the test sets; activations and starts are recorded.
class AppsWorkspace : public Workspace {
public:
    QMap<QString, QString> running;
    QMap<QString, QString> installed;
    QStringList activated;
    QStringList started;
    QCoro::Task<void> open(QUrl, QString, bool) override { co_return; }
    QList<RunningApplication> runningApplications(const QString& id) const override {
        if (!running.contains(id))
            return {};
        return {RunningApplication{2, running.value(id), id},
                RunningApplication{3, QStringLiteral("/later"), id}};
    }
    std::optional<QString> urlForApplication(const QString& id) const override {
        return installed.contains(id) ? std::optional(installed.value(id)) : std::nullopt;
    }
    void activate(const RunningApplication& application) override { activated << application.bundlePath; }
    QCoro::Task<void> openApplication(QString path) override {
        started << path;
        co_return;
    }
};

TEST(OpenSenvik, RunningBeforeInstalledInOrder) {
    const struct {
        const char* name;
        QMap<QString, QString> running;
        QMap<QString, QString> installed;
        QStringList activated;
        QStringList started;
        std::optional<QString> notice;
    } cases[] = {
        {"first installed, second running",
         {{vestranoGlobal, "/run/global.app"}},
         {{vestrano, "/inst/vestrano.app"}},
         {"/run/global.app"},
         {},
         std::nullopt},
        {"both running",
         {{vestrano, "/run/v.app"}, {vestranoGlobal, "/run/g.app"}},
         {},
         {"/run/v.app"},
         {},
         std::nullopt},
        {"second installed only", {}, {{vestranoGlobal, "/inst/g.app"}}, {}, {"/inst/g.app"}, std::nullopt},
        {"both installed",
         {},
         {{vestranoGlobal, "/inst/g.app"}, {vestrano, "/inst/v.app"}},
         {},
         {"/inst/v.app"},
         std::nullopt},
        {"nothing", {}, {}, {}, {}, QStringLiteral("这台 Mac 上没找到 Orvane")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBackgroundService service;
        FakeBackgroundService statusItem;
        const json info = json::object();
        auto apps = std::make_shared<AppsWorkspace>();
        apps->running = c.running;
        apps->installed = c.installed;
        Platform platform{service, statusItem, info};
        platform.workspace = apps;
        ConnectorController controller(platform);
        TestSupport::runTask(controller.openSenvik());
        EXPECT_EQ(apps->activated, c.activated);
        EXPECT_EQ(apps->started, c.started);
        EXPECT_EQ(controller.notice(), c.notice);
    }
}

} // namespace
