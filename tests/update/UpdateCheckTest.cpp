#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"
#include "LocalHttpServer.h"
#include "UpdateFixtures.h"

#include "Async.h"
#include "RunTask.h"
#include "UpdateFailure.h"

#include <QCoroTimer>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QSysInfo>
#include <gtest/gtest.h>

#include <tuple>

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using UpdateFixtures::readAll;

QByteArray feed(qint64 build, const char* url, json extra = json::object()) {
    json f{{"version", "2.0"}, {"build", build}, {"url", url}, {"sha256", std::string(64, 'a')}};
    f.update(extra);
    return QByteArray::fromStdString(f.dump());
}

class UpdateCheck : public ::testing::Test {
protected:
    FakeBackgroundService service, statusItem;
    json info{{"CFBundleVersion", "57"}};
    LocalHttpServer server;
    UpdateController controller{Platform{service, statusItem, info}};
    QString image = ConnectorPaths::updatesDir() + "/SenvikConnector-58.dmg";

    void check(bool user, const QByteArray& feedPath = "/feed.json") {
        UpdateFixtures::setFeed(QString::fromLatin1(server.url(feedPath)));
        TestSupport::runTask(controller.checkForUpdates(user), 30s);
    }
    QString failed() const {
        const auto* f = controller.update().as<UpdateState::Failed>();
        return f ? f->text : "<not failed>";
    }
};

// What the feed says, where it lies, and what the user ends up seeing (empty: idle with a fresh lastChecked).
TEST_F(UpdateCheck, feedOutcomes) {
    const QString mismatch = "检查更新没成功：下载的安装包和清单对不上（sha256），已丢掉";
    // The system as the diagnostics report names it, without its version.
    const QString systemName = UpdateDownload::systemName();
    EXPECT_TRUE(!systemName.isEmpty() && QSysInfo::prettyProductName().startsWith(systemName))
        << systemName.toStdString();
    struct Case {
        LocalHttpServer::Answer feed;
        QString expected;
        QByteArray feedPath = "/feed.json", imagePath = "";
    };
    const std::vector<Case> cases{
        {{200, feed(57, "x.dmg").leftJustified(1 << 20, ' ')}, ""}, // the largest feed read
        {{200, feed(57, "x.dmg").leftJustified((1 << 20) + 1, ' ')},
         "检查更新没成功：更新清单大得不像话，没有读"},
        {{200, feed(58, "x.dmg", {{"minimumSystemVersion", "99"}})},
         "新版本 2.0 要 " + systemName + " 99 以上"},
        {{404, "gone"}, "检查更新没成功：更新清单取不到（HTTP 404）"},
        {{302, "", true, {}, server.url("/loop.json")},
         "检查更新没成功：更新服务器转来转去，没有给出回答",
         "/loop.json"},
        {{200, "<html>"}, "检查更新没成功：更新清单不是有效的 JSON"},
        {{200, R"({"version":"2.0","build":"58","url":"x","sha256":"a"})"},
         "检查更新没成功：更新清单里的「build」类型不对"},
        {{200, feed(58, "http://[::1")}, "检查更新没成功：更新清单里的下载地址不对"},
        {{200, feed(58, "file:///etc/passwd")}, "检查更新没成功：更新清单里的下载地址不对"},
        {{200, feed(58, "/missing.dmg")}, "检查更新没成功：安装包下载不下来", "/feed.json", "/missing.dmg"},
        {{200, feed(58, "files/S.dmg")}, mismatch, "/channel/", "/channel/files/S.dmg"},
        {{200, feed(58, "files/S.dmg")}, mismatch, "/channel/feed.json", "/channel/files/S.dmg"},
        {{200, feed(58, "files/S.dmg")}, mismatch, "/channel", "/files/S.dmg"},
    };
    for (const Case& c : cases) {
        ControllerTestAccess::update(controller, UpdateState::Idle{});
        server.set(c.feedPath, c.feed);
        server.set("/channel/files/S.dmg", {200, "not the image"});
        server.set("/files/S.dmg", {200, "not the image"});
        const int before = server.hits(c.imagePath);
        check(false, c.feedPath);
        if (c.expected.isEmpty()) {
            const auto* idle = controller.update().as<UpdateState::Idle>();
            ASSERT_TRUE(idle && idle->lastChecked &&
                        idle->lastChecked->secsTo(QDateTime::currentDateTime()) < 5);
        } else {
            EXPECT_EQ(failed(), c.expected) << c.feed.body.constData();
        }
        EXPECT_EQ(server.hits(c.imagePath), before + (c.imagePath.isEmpty() ? 0 : 1))
            << c.feedPath.constData();
        EXPECT_FALSE(QFileInfo::exists(image));
    }
    UpdateFixtures::setFeed("http://127.0.0.1:1/feed.json");
    TestSupport::runTask(controller.checkForUpdates(true), 30s);
    EXPECT_EQ(failed(), "检查更新没成功：连不上更新服务器");
    UpdateFixtures::setFeed("");
    TestSupport::runTask(controller.checkForUpdates(true), 30s);
    EXPECT_TRUE(controller.update().is<UpdateState::NotConfigured>());
}

TEST_F(UpdateCheck, readyAndBusyStatesHoldOffTheCheck) {
    server.set("/feed.json", {200, feed(58, "/image.dmg")});
    const UpdateInfo entry = UpdateInfo::decode(feed(58, "/image.dmg"));
    const UpdateState ready = UpdateState::Ready{entry, "/nowhere/x.app"};
    for (const UpdateState& held :
         {ready, UpdateState(UpdateState::Checking{}), UpdateState(UpdateState::Downloading{entry, 5, {}}),
          UpdateState(UpdateState::Verifying{entry}), UpdateState(UpdateState::Installing{entry})}) {
        ControllerTestAccess::update(controller, held);
        check(held != ready);
        EXPECT_EQ(controller.update(), held);
    }
    EXPECT_EQ(server.hits("/feed.json"), 0);
    ControllerTestAccess::update(controller, ready);
    controller.holdsAutoInstall = true; // no installation of the fake copy
    check(true);                        // the user's check downloads again
    EXPECT_EQ(server.hits("/image.dmg"), 1);
    EXPECT_TRUE(controller.update().is<UpdateState::Failed>());
}

TEST_F(UpdateCheck, scheduleChecksAfterItsDelay) {
    server.set("/feed.json", {200, feed(57, "x.dmg")});
    UpdateFixtures::setFeed(QString::fromLatin1(server.url("/feed.json")));
    std::vector<std::pair<std::chrono::milliseconds, int>> sleeps; // each wait, with the feed's hits by then
    controller.updateScheduleSleep = [&sleeps, this](std::chrono::milliseconds delay) -> QCoro::Task<void> {
        sleeps.emplace_back(delay, server.hits("/feed.json"));
        co_await QCoro::sleepFor(sleeps.size() < 3 ? 0ms : delay);
    };
    controller.startUpdateChecks();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return sleeps.size() == 3; }, 20s));
    EXPECT_EQ(sleeps, (std::vector<std::pair<std::chrono::milliseconds, int>>{{20s, 0}, {6h, 1}, {6h, 2}}));
}

// Downloads through fetch, every progress report kept.
class Download : public ::testing::Test {
protected:
    LocalHttpServer server;
    TestSupport::TempDir dir;
    QString target = dir.file("SenvikConnector-58.dmg");
    std::vector<std::pair<qint64, std::optional<qint64>>> reports;

    QString fetch(std::optional<qint64> size, const QByteArray& path = "/image.dmg") {
        UpdateInfo entry = UpdateInfo::decode(feed(58, "x"));
        entry.size = size;
        auto work = [entry, url = QUrl(server.url(path)), folder = dir.path(), sink = &reports] {
            return UpdateDownload::fetch(entry, url, folder,
                                         [sink](qint64 r, auto t) { sink->emplace_back(r, t); });
        };
        return TestSupport::runTask(Async::onWorker(work), 30s);
    }
};

TEST_F(Download, bodiesAndTheirReports) {
    struct Case {
        qint64 bytes;
        bool length;
        std::optional<qint64> size, total;
    };
    for (const Case& c : {Case{262'144, true, {}, 262'144}, Case{0, true, 9, 9},
                          Case{3'000'000, false, {}, {}}, Case{1000, false, 1000, 1000}}) {
        reports.clear();
        QByteArray body(c.bytes, '\0');
        for (qint64 i = 0; i < c.bytes; ++i)
            body[i] = static_cast<char>(i * 7);
        server.set("/image.dmg", {200, body, c.length});
        EXPECT_EQ(readAll(fetch(c.size)), body);
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back(), std::make_pair(c.bytes, c.total)) << c.bytes;
        for (const auto& [received, total] : reports)
            EXPECT_EQ(UpdateState::progress(received, total).startsWith("已下 "), !c.total) << c.bytes;
    }
    EXPECT_EQ(
        UpdateDownload::sha256(target),
        QString::fromLatin1(QCryptographicHash::hash(readAll(target), QCryptographicHash::Sha256).toHex()));
    server.set("/old.dmg", {302, "", true, {}, server.url("/image.dmg")});
    EXPECT_EQ(readAll(fetch({}, "/old.dmg")), readAll(target)); // a redirect on the loopback is followed
}

TEST_F(Download, failuresLeaveNoFile) {
    const QByteArray body(600'000, 'b');
    const QString refused = "安装包下载不下来";
    struct Case {
        LocalHttpServer::Answer answer;
        std::optional<qint64> size;
        QString expected;
    };
    for (const Case& c :
         {Case{{404, "nope"}, {}, refused}, Case{{302, ""}, {}, refused},
          Case{{200, body, true, 300'000}, {}, "更新服务器中途断开了连接"},
          Case{{200, body}, 500'000, refused}, Case{{200, body, false}, 500'000, refused},
          Case{{301, "", true, {}, "http://example.invalid/x"}, {}, "服务器转去了不安全的地址"},
          Case{{302, "", true, {}, server.url("/image.dmg").replace("http:", "https:")},
               {},
               "服务器转去了不安全的地址"},
          Case{{302, "", true, {}, server.url("/image.dmg")}, {}, "更新服务器转来转去，没有给出回答"},
          // Without a size in the feed an image may claim up to 2 GiB.
          Case{{200, body, true, {}, {}, (qint64(2) << 30) + 1}, {}, refused},
          Case{{200, body, true, {}, {}, qint64(2) << 30}, {}, "更新服务器中途断开了连接"}}) {
        server.set("/image.dmg", c.answer);
        QString message = "<no failure>";
        try {
            fetch(c.size);
        } catch (const UpdateFailure& error) {
            message = error.message;
        }
        EXPECT_EQ(message, c.expected) << c.answer.status;
        EXPECT_FALSE(QFileInfo::exists(target));
    }
}

// Each hop judged from the address it leaves.
TEST(UpdateHelpers, redirectRule) {
    for (auto [from, to, allowed] : {std::tuple{"https://a.example/f", "https://b.example/g", true},
                                     {"http://127.0.0.1:8/f", "http://localhost:9/g", true},
                                     {"https://a.example/f", "http://127.0.0.1/g", false},
                                     {"http://a.example/f", "http://127.0.0.1/g", false},
                                     {"http://127.0.0.1/f", "http://a.example/g", false},
                                     {"http://127.0.0.1/f", "https://a.example/g", false},
                                     {"https://a.example/f", "file:///etc/passwd", false}})
        EXPECT_EQ(UpdateDownload::redirectAllowed(QUrl(from), QUrl(to)), allowed) << from << " → " << to;
}

TEST(UpdateHelpers, systemVersions) {
    for (auto [required, accepted] : {std::pair{"15.4.1", true},
                                      {"15.4.2", false},
                                      {"15.x.2", true},
                                      {"15.5", false},
                                      {"abc", true},
                                      {"..15..", true}})
        EXPECT_EQ(UpdateDownload::versionAtLeast({15, 4, 1}, required), accepted) << required;
}

} // namespace
