#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"
#include "LocalHttpServer.h"
#include "UpdateFixtures.h"

#include "Async.h"
#include "ConnectorPaths.h"
#include "RunTask.h"
#include "UpdateDownload.h"
#include "UpdateFailure.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

class CheckController : public ConnectorController {
public:
    using ConnectorController::ConnectorController;
    void ensureBackgroundItem() override {}
    void renameLegacyBundleIfIdle() override {}
};

QByteArray feedJson(qint64 build, const QString& url, json extra = json::object()) {
    json feed{
        {"version", "2.0"}, {"build", build}, {"url", url.toStdString()}, {"sha256", std::string(64, 'a')}};
    for (auto& [key, value] : extra.items())
        feed[key] = value;
    return QByteArray::fromStdString(feed.dump());
}

QString imagePath(qint64 build) {
    return ConnectorPaths::updatesDir() + QStringLiteral("/SenvikConnector-%1.dmg").arg(build);
}

class UpdateCheck : public ::testing::Test {
protected:
    FakeBackgroundService service, statusItem;
    json info{{"CFBundleVersion", "57"}};
    LocalHttpServer server;
    std::unique_ptr<CheckController> controller =
        std::make_unique<CheckController>(Platform{service, statusItem, info});

    void check(bool user) { TestSupport::runTask(controller->checkForUpdates(user), 30s); }
    QString failedText() const {
        const auto* failed = controller->update().as<UpdateState::Failed>();
        return failed ? failed->text : QStringLiteral("<not failed>");
    }
};

// Each case: what the feed says, and what the user ends up seeing.
TEST_F(UpdateCheck, feedOutcomes) {
    struct Case {
        const char* name;
        LocalHttpServer::Answer feed;
        QString expectedFailure; // empty: idle with a fresh lastChecked
        bool downloads;
    };
    const std::vector<Case> cases{
        {"same build", {200, feedJson(57, "x.dmg")}, {}, false},
        {"older build", {200, feedJson(12, "x.dmg")}, {}, false},
        {"minimum system 99",
         {200, feedJson(58, "x.dmg", {{"minimumSystemVersion", "99"}})},
         QStringLiteral("新版本 2.0 要 macOS 99 以上"),
         false},
        {"404", {404, "gone"}, QStringLiteral("检查更新没成功：更新清单取不到（HTTP 404）"), false},
        {"500", {500, ""}, QStringLiteral("检查更新没成功：更新清单取不到（HTTP 500）"), false},
        {"not JSON", {200, "<html>"}, QStringLiteral("检查更新没成功：更新清单不是有效的 JSON"), false},
        {"a list", {200, "[]"}, QStringLiteral("检查更新没成功：更新清单不是一个 JSON 对象"), false},
        {"build as string",
         {200, R"({"version":"2.0","build":"58","url":"x.dmg","sha256":"ab"})"},
         QStringLiteral("检查更新没成功：更新清单里的「build」类型不对"),
         false},
        {"bad download address",
         {200, feedJson(58, "http://[::1")},
         QStringLiteral("检查更新没成功：更新清单里的下载地址不对"),
         false},
        {"download address not http",
         {200, feedJson(58, "file:///etc/passwd")},
         QStringLiteral("检查更新没成功：更新清单里的下载地址不对"),
         false},
        {"download 404",
         {200, feedJson(58, "/missing.dmg")},
         QStringLiteral("检查更新没成功：安装包下载不下来"),
         true},
    };
    for (const Case& c : cases) {
        ControllerTestAccess::update(*controller, UpdateState::Idle{});
        server.set("/feed.json", c.feed);
        UpdateFixtures::setFeed(QString::fromLatin1(server.url("/feed.json")));
        check(false);
        if (c.expectedFailure.isEmpty()) {
            const auto* idle = controller->update().as<UpdateState::Idle>();
            ASSERT_TRUE(idle && idle->lastChecked) << c.name;
            EXPECT_LE(idle->lastChecked->secsTo(QDateTime::currentDateTime()), 5) << c.name;
        } else {
            EXPECT_EQ(failedText(), c.expectedFailure) << c.name;
        }
        EXPECT_EQ(server.hits("/missing.dmg") > 0, c.downloads) << c.name;
        EXPECT_FALSE(QFileInfo::exists(imagePath(58))) << c.name;
        server.set("/missing.dmg", {404, "no"});
    }
}

TEST_F(UpdateCheck, unreachableFeedSaysSoInChinese) {
    UpdateFixtures::setFeed(QStringLiteral("http://127.0.0.1:1/feed.json"));
    check(true);
    EXPECT_EQ(failedText(), QStringLiteral("检查更新没成功：连不上更新服务器"));
}

// A relative url resolves against the feed's address: into its folder with a trailing slash, beside it
// without one. The body is not the image the feed describes, so staging refuses it and removes it.
TEST_F(UpdateCheck, relativeDownloadAddress) {
    struct Case {
        const char* feedPath;
        const char* imagePath;
    };
    for (const Case& c : {Case{"/channel/", "/channel/files/SenvikConnector-58.dmg"},
                          Case{"/channel/feed.json", "/channel/files/SenvikConnector-58.dmg"},
                          Case{"/channel", "/files/SenvikConnector-58.dmg"}}) {
        ControllerTestAccess::update(*controller, UpdateState::Idle{});
        server.set(c.feedPath, {200, feedJson(58, "files/SenvikConnector-58.dmg")});
        server.set(c.imagePath, {200, QByteArray(1000, 'x')});
        UpdateFixtures::setFeed(QString::fromLatin1(server.url(c.feedPath)));
        const int before = server.hits(c.imagePath);
        check(true);
        EXPECT_EQ(server.hits(c.imagePath), before + 1) << c.feedPath;
        EXPECT_EQ(failedText(), QStringLiteral("检查更新没成功：下载的安装包和清单对不上（sha256），已丢掉"))
            << c.feedPath;
        EXPECT_FALSE(QFileInfo::exists(imagePath(58))) << c.feedPath;
    }
}

TEST_F(UpdateCheck, readyIsKeptByTheScheduleAndReplacedByTheUser) {
    server.set("/feed.json", {200, feedJson(58, "/image.dmg")});
    server.set("/image.dmg", {200, "not the image"});
    UpdateFixtures::setFeed(QString::fromLatin1(server.url("/feed.json")));
    const UpdateState ready =
        UpdateState::Ready{UpdateInfo::decode(feedJson(58, "/image.dmg")), "/tmp/x.app"};
    ControllerTestAccess::update(*controller, ready);
    controller->holdsAutoInstall = true; // the gate must not act on this fake staged copy
    check(false);
    EXPECT_EQ(controller->update(), ready);
    EXPECT_EQ(server.hits("/feed.json"), 0);
    check(true);
    EXPECT_EQ(server.hits("/image.dmg"), 1);
    EXPECT_TRUE(controller->update().is<UpdateState::Failed>());
}

TEST_F(UpdateCheck, busyStatesSkipTheCheck) {
    UpdateFixtures::setFeed(QString::fromLatin1(server.url("/feed.json")));
    const UpdateInfo entry = UpdateInfo::decode(feedJson(58, "x"));
    for (const UpdateState& busy :
         {UpdateState(UpdateState::Checking{}), UpdateState(UpdateState::Downloading{entry, 5, std::nullopt}),
          UpdateState(UpdateState::Verifying{entry}), UpdateState(UpdateState::Installing{entry})}) {
        ControllerTestAccess::update(*controller, busy);
        check(true);
        EXPECT_EQ(controller->update(), busy);
    }
    EXPECT_EQ(server.hits("/feed.json"), 0);
}

TEST_F(UpdateCheck, noFeedIsNotConfiguredEvenAfterAFailure) {
    UpdateFixtures::setFeed(QString());
    ControllerTestAccess::update(*controller, UpdateState::Failed{"x"});
    check(true);
    EXPECT_TRUE(controller->update().is<UpdateState::NotConfigured>());
}

// The schedule's first check comes after its delay and not before.
TEST_F(UpdateCheck, scheduleChecksAfterItsDelay) {
    server.set("/feed.json", {200, feedJson(57, "x.dmg")});
    UpdateFixtures::setFeed(QString::fromLatin1(server.url("/feed.json")));
    controller->firstUpdateCheck = 300ms;
    controller->updateCheckInterval = 1h;
    controller->startUpdateChecks();
    EXPECT_EQ(server.hits("/feed.json"), 0);
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] {
            const auto* idle = controller->update().as<UpdateState::Idle>();
            return idle && idle->lastChecked;
        },
        20s));
    EXPECT_EQ(server.hits("/feed.json"), 1);
}

// Downloads straight through fetch, with every progress report kept.
class Download : public ::testing::Test {
protected:
    LocalHttpServer server;
    TestSupport::TempDir dir;
    std::vector<std::pair<qint64, std::optional<qint64>>> reports;

    QString fetch(std::optional<qint64> size, const QByteArray& path = "/image.dmg") {
        UpdateInfo entry = UpdateInfo::decode(feedJson(58, "x"));
        entry.size = size;
        const QUrl url(QString::fromLatin1(server.url(path)));
        const QString folder = dir.path();
        auto* sink = &reports;
        auto work = [entry, url, folder, sink] {
            return UpdateDownload::fetch(
                entry, url, folder, [sink](qint64 r, std::optional<qint64> t) { sink->emplace_back(r, t); });
        };
        return TestSupport::runTask(Async::onWorker(work), 30s);
    }
    QString target() const { return dir.file(QStringLiteral("SenvikConnector-58.dmg")); }
    QString failure(std::optional<qint64> size) {
        try {
            fetch(size);
        } catch (const UpdateFailure& error) {
            return error.message;
        }
        return QStringLiteral("<no failure>");
    }
};

TEST_F(Download, bodiesAndTheirReports) {
    struct Case {
        const char* name;
        qint64 bodyBytes;
        bool contentLength;
        std::optional<qint64> size;
        std::optional<qint64> expectedTotal;
    };
    for (const Case& c :
         {Case{"exactly one buffer", 262'144, true, std::nullopt, 262'144}, Case{"empty body", 0, true, 9, 9},
          Case{"no length, no size", 3'000'000, false, std::nullopt, std::nullopt},
          Case{"no length, size given", 1000, false, 1000, 1000}}) {
        reports.clear();
        QByteArray body(c.bodyBytes, '\0');
        for (qint64 i = 0; i < c.bodyBytes; ++i)
            body[i] = static_cast<char>(i * 7);
        server.set("/image.dmg", {200, body, c.contentLength, {}, {}});
        const QString file = fetch(c.size);
        EXPECT_EQ(file, target()) << c.name;
        EXPECT_EQ(UpdateFixtures::readAll(file), body) << c.name;
        ASSERT_FALSE(reports.empty()) << c.name;
        EXPECT_EQ(reports.back(), std::make_pair(c.bodyBytes, c.expectedTotal)) << c.name;
        for (const auto& [received, total] : reports) {
            EXPECT_EQ(total, c.expectedTotal) << c.name;
            if (!c.expectedTotal) {
                EXPECT_TRUE(UpdateState::progress(received, total).startsWith(QStringLiteral("已下 ")))
                    << c.name;
            }
        }
    }
    // The SHA-256 of what arrived matches an independent computation.
    EXPECT_EQ(
        UpdateDownload::sha256(target()),
        QString::fromLatin1(
            QCryptographicHash::hash(UpdateFixtures::readAll(target()), QCryptographicHash::Sha256).toHex()));
}

TEST_F(Download, failuresLeaveNoFile) {
    struct Case {
        const char* name;
        LocalHttpServer::Answer answer;
        std::optional<qint64> size;
        QString expected;
    };
    const QByteArray body(600'000, 'b');
    const std::vector<Case> cases{
        {"not found", {404, "nope"}, std::nullopt, QStringLiteral("安装包下载不下来")},
        {"redirect status not followed to 200",
         {302, "", true, {}, {}},
         std::nullopt,
         QStringLiteral("安装包下载不下来")},
        {"stops mid-body",
         {200, body, true, 300'000, {}},
         std::nullopt,
         QStringLiteral("更新服务器中途断开了连接")},
        {"larger than size (length announced)", {200, body}, 500'000, QStringLiteral("安装包下载不下来")},
        {"larger than size (no length)",
         {200, body, false, {}, {}},
         500'000,
         QStringLiteral("安装包下载不下来")},
        {"redirect to another host over http",
         {301, "", true, {}, "http://example.invalid/x.dmg"},
         std::nullopt,
         QStringLiteral("服务器转去了不安全的地址")},
    };
    for (const Case& c : cases) {
        server.set("/image.dmg", c.answer);
        EXPECT_EQ(failure(c.size), c.expected) << c.name;
        EXPECT_FALSE(QFileInfo::exists(target())) << c.name;
    }
}

TEST_F(Download, followsARedirectOnTheLoopback) {
    server.set("/old.dmg", {302, "", true, {}, server.url("/image.dmg")});
    server.set("/image.dmg", {200, "moved here"});
    EXPECT_EQ(UpdateFixtures::readAll(fetch(std::nullopt, "/old.dmg")), QByteArray("moved here"));
}

TEST(UpdateRedirects, onlyWithinHttpsOrTheLoopback) {
    struct Case {
        const char* from;
        const char* to;
        bool allowed;
    };
    for (const Case& c : {Case{"https://a.example/f", "https://b.example/g", true},
                          Case{"https://a.example/f", "http://a.example/g", false},
                          Case{"http://a.example/f", "https://a.example/g", false},
                          Case{"http://127.0.0.1:8/f", "http://127.0.0.1:9/g", true},
                          Case{"http://127.0.0.1:8/f", "http://10.0.0.1/g", false},
                          Case{"http://127.0.0.1:8/f", "file:///etc/passwd", false}})
        EXPECT_EQ(UpdateDownload::redirectAllowed(QUrl(c.from), QUrl(c.to)), c.allowed)
            << c.from << " → " << c.to;
}

TEST(UpdateSystemVersion, dottedTexts) {
    struct Case {
        const char* required;
        bool accepted; // on a system 15.4.1
    };
    for (const Case& c : {Case{"15", true}, Case{"15.4", true}, Case{"15.4.1", true}, Case{"15.4.2", false},
                          Case{"15.x.2", true}, Case{"15.5", false}, Case{"16", false}, Case{"abc", true},
                          Case{"", true}, Case{"99", false}, Case{"..15..", true}})
        EXPECT_EQ(UpdateDownload::versionAtLeast({15, 4, 1}, QString::fromLatin1(c.required)), c.accepted)
            << c.required;
    EXPECT_EQ(UpdateDownload::versionTriple(QStringLiteral("15.x.2")), (std::array<qint64, 3>{15, 2, 0}));
}

TEST(UpdateSha256, knownVectorsAndUnreadableFile) {
    TestSupport::TempDir dir;
    struct Case {
        QByteArray content;
        const char* digest;
    };
    for (const Case& c : {Case{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
                          Case{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
                          Case{QByteArray(1'048'577, 'a'), nullptr}}) {
        TestSupport::writeFile(dir.file("f"), c.content);
        const QString expected =
            c.digest ? QString::fromLatin1(c.digest)
                     : QString::fromLatin1(
                           QCryptographicHash::hash(c.content, QCryptographicHash::Sha256).toHex());
        EXPECT_EQ(UpdateDownload::sha256(dir.file("f")), expected);
    }
    EXPECT_THROW(UpdateDownload::sha256(dir.file("missing")), UpdateFailure);
}

} // namespace
