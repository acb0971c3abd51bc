#include "ConnectorController.h"
#include "ConnectorSettings.h"
#include "UpdateFeed.h"
#include "UpdateGate.h"
#include "UpdateInfo.h"
#include "UpdateState.h"

#include <QSettings>
#include <gtest/gtest.h>

using nlohmann::json;

namespace {

UpdateInfo entry(const char* version, qint64 build) {
    UpdateInfo info;
    info.version = QString::fromUtf8(version);
    info.build = build;
    info.url = QStringLiteral("files/SenvikConnector-58.dmg");
    info.sha256 = QStringLiteral("AB");
    return info;
}

TEST(UpdateInfoDecoding, RequiredKeysAndTypes) {
    // Nesting far beyond any feed is refused before decoding, even under a key that is otherwise ignored.
    const auto nested = [](std::size_t levels) {
        return std::string(levels, '[') + std::string(levels, ']');
    };
    const std::string entry = R"({"version":"1.5","build":58,"url":"u","sha256":"s","notes":)";
    const std::string deepNotes = entry + nested(200000) + "}";
    const std::string deepExtra = entry + R"("n","x":)" + nested(128) + "}";
    const std::string shallowExtra = entry + R"("n","x":)" + nested(127) + "}";
    struct Row {
        const char* document;
        std::optional<QString> error; // absent: decodes
    };
    const std::vector<Row> rows = {
        {R"({"version":"1.5","build":58,"url":"u","sha256":"s","extra":[1]})", std::nullopt},
        {R"({"version":"1.5","build":58,"url":"u","sha256":"s","size":null,"notes":null})", std::nullopt},
        {R"({"version":"1.5","build":"57","url":"u","sha256":"s"})",
         QStringLiteral("更新清单里的「build」类型不对")},
        {R"({"version":"1.5","build":57.5,"url":"u","sha256":"s"})",
         QStringLiteral("更新清单里的「build」类型不对")},
        {R"({"version":"1.5","build":9223372036854775808,"url":"u","sha256":"s"})",
         QStringLiteral("更新清单里的「build」类型不对")},
        {R"({"version":"1.5","url":"u","sha256":"s"})", QStringLiteral("更新清单缺少「build」")},
        {R"({"version":"1.5","build":58,"url":"u"})", QStringLiteral("更新清单缺少「sha256」")},
        {R"({"version":1.5,"build":58,"url":"u","sha256":"s"})",
         QStringLiteral("更新清单里的「version」类型不对")},
        {R"({"version":"1.5","build":58,"url":"u","sha256":"s","size":"12"})",
         QStringLiteral("更新清单里的「size」类型不对")},
        {R"({"version":"1.5","build":58,"url":"u","sha256":"s","minimumSystemVersion":15})",
         QStringLiteral("更新清单里的「minimumSystemVersion」类型不对")},
        {R"([{"version":"1.5","build":58,"url":"u","sha256":"s"}])",
         QStringLiteral("更新清单不是一个 JSON 对象")},
        {R"({"version":"1.5",)", QStringLiteral("更新清单不是有效的 JSON")},
        {"", QStringLiteral("更新清单不是有效的 JSON")},
        {deepNotes.c_str(), QStringLiteral("更新清单不是有效的 JSON")},
        {deepExtra.c_str(), QStringLiteral("更新清单不是有效的 JSON")},
        {shallowExtra.c_str(), std::nullopt},
    };
    for (const Row& row : rows) {
        std::optional<QString> error;
        try {
            UpdateInfo::decode(QByteArray(row.document));
        } catch (const UpdateInfo::DecodeError& e) {
            error = e.message;
        }
        EXPECT_EQ(error, row.error) << row.document;
    }
}

TEST(UpdateInfoDecoding, AllFieldsAndSixtyFourBitBuilds) {
    const UpdateInfo info = UpdateInfo::decode(R"({"version":"2.0","build":5000000000,"url":"https://x/a.dmg",
        "sha256":"ABCD","size":27100000,"minimumSystemVersion":"15.2","notes":"修了"})");
    EXPECT_EQ(info.build, 5000000000LL);
    EXPECT_EQ(info.size, 27100000);
    EXPECT_EQ(info.minimumSystemVersion, QStringLiteral("15.2"));
    EXPECT_EQ(info.notes, QStringLiteral("修了"));
    EXPECT_FALSE(UpdateInfo::decode(R"({"version":"1","build":1,"url":"u","sha256":"s","size":null})").size);

    UpdateInfo other = info;
    EXPECT_EQ(other, info);
    other.notes.reset();
    EXPECT_NE(other, info) << "all seven fields count";
    EXPECT_EQ(entry("2.0", 120).label(), QStringLiteral("2.0（120）"));
}

TEST(UpdateProgress, DecimalMegabytesAndCappedPercent) {
    const std::vector<std::tuple<qint64, std::optional<qint64>, const char*>> rows = {
        {12'400'000, 27'100'000, "45%（12/27 MB）"},
        {0, std::nullopt, "已下 0 MB"},
        {400'000, 0, "已下 0 MB"},
        {30'000'000, 20'000'000, "100%（30/20 MB）"},
        {1'500'000, std::nullopt, "已下 2 MB"},
        {2'500'000, -1, "已下 2 MB"},
        {999, 1000, "99%（0/0 MB）"},
        {1000, 1000, "100%（0/0 MB）"},
        {0, 1, "0%（0/0 MB）"},
    };
    for (const auto& [received, total, text] : rows)
        EXPECT_EQ(UpdateState::progress(received, total), QString::fromUtf8(text)) << received;
}

TEST(UpdateStateTexts, ActivityInFlightFractionAttention) {
    const UpdateInfo e = entry("1.4", 57);
    struct Row {
        UpdateState state;
        std::optional<QString> activity;
        bool inFlight;
        std::optional<double> fraction;
        bool attention;
    };
    const std::vector<Row> rows = {
        {UpdateState::Idle{}, std::nullopt, false, std::nullopt, false},
        {UpdateState::Checking{}, QStringLiteral("正在检查连接器更新…"), true, std::nullopt, false},
        {UpdateState::Downloading{e, 12'400'000, 27'100'000},
         QStringLiteral("正在下载新版 57 · 45%（12/27 MB）"), true, 12.4 / 27.1, false},
        {UpdateState::Downloading{e, 5, std::nullopt}, QStringLiteral("正在下载新版 57 · 已下 0 MB"), true,
         std::nullopt, false},
        {UpdateState::Downloading{e, 30, 20}, QStringLiteral("正在下载新版 57 · 100%（0/0 MB）"), true, 1.0,
         false},
        {UpdateState::Verifying{e}, QStringLiteral("正在核对新版 57 的签名和公证…"), true, std::nullopt,
         false},
        {UpdateState::Ready{e, QStringLiteral("/tmp/a.app")}, std::nullopt, true, std::nullopt, true},
        {UpdateState::Installing{e}, QStringLiteral("正在换上新版 57，马上重开…"), true, std::nullopt, false},
        {UpdateState::Failed{QStringLiteral("x")}, std::nullopt, false, std::nullopt, false},
        {UpdateState::NotConfigured{}, std::nullopt, false, std::nullopt, false},
    };
    for (const Row& row : rows) {
        const auto index = row.state.value.index();
        EXPECT_EQ(row.state.activity(), row.activity) << index;
        EXPECT_EQ(row.state.inFlight(), row.inFlight) << index;
        const auto fraction = row.state.fraction();
        ASSERT_EQ(fraction.has_value(), row.fraction.has_value()) << index;
        if (fraction) {
            EXPECT_DOUBLE_EQ(*fraction, *row.fraction) << index;
        }
        EXPECT_EQ(row.state.attention(true).has_value(), row.attention) << index;
    }
    const UpdateState ready = UpdateState::Ready{e, QStringLiteral("/tmp/a.app")};
    EXPECT_EQ(ready.attention(true), QStringLiteral("连接器新版本 1.4（57） 已下好，岗位都跑完后自动换上"));
    EXPECT_EQ(ready.attention(false), QStringLiteral("连接器新版本 1.4（57） 已下好，可以更新"));
    EXPECT_NE(UpdateState(UpdateState::Idle{}),
              UpdateState(UpdateState::Idle{QDateTime::currentDateTimeUtc()}));
}

TEST(UpdateGateRules, ClickInstallsNowAndWaitLine) {
    EXPECT_EQ(UpdateGate::click(0, false), UpdateGate::Click::installNow);
    EXPECT_EQ(UpdateGate::click(1, false), UpdateGate::Click::wait);
    EXPECT_EQ(UpdateGate::click(0, true), UpdateGate::Click::wait);

    // autoInstall, waiting, openRuns, menuOpen, cliBusy → installs
    const std::vector<std::tuple<bool, bool, qint64, bool, bool, bool>> gate = {
        {false, false, 0, false, false, false}, {true, false, 0, false, false, true},
        {false, true, 0, false, false, true},   {true, false, 1, false, false, false},
        {true, false, 0, true, false, false},   {true, true, 0, false, true, false},
    };
    for (const auto& [autoInstall, waiting, runs, menu, busy, installs] : gate)
        EXPECT_EQ(UpdateGate::installsNow(autoInstall, waiting, runs, menu, busy), installs)
            << autoInstall << waiting << runs << menu << busy;

    const std::vector<std::tuple<qint64, bool, bool, const char*>> lines = {
        {2, true, true, "等 2 个岗位这一轮办完就换上"},
        {1, false, false, "等 1 个岗位这一轮办完就换上"},
        {0, true, true, "等执行工具忙完就换上"},
        {0, false, true, "关上菜单就换上"},
        {0, false, false, "马上换上"},
    };
    for (const auto& [runs, busy, menu, line] : lines)
        EXPECT_EQ(UpdateGate::waitLine(runs, busy, menu), QString::fromUtf8(line));
}

TEST(UpdateFeedSource, OverrideThenInfoDictionary) {
    const json info = {{"SenvikUpdateFeedURL", "https://updates.example/feed.json"}};
    const std::vector<std::tuple<json, std::optional<QString>, std::optional<QString>>> rows = {
        {info, std::nullopt, QStringLiteral("https://updates.example/feed.json")},
        {info, QStringLiteral("http://127.0.0.1:8080/f.json"),
         QStringLiteral("http://127.0.0.1:8080/f.json")},
        {info, QString(), QStringLiteral("https://updates.example/feed.json")},
        {json{{"SenvikUpdateFeedURL", ""}}, std::nullopt, std::nullopt},
        {json{{"SenvikUpdateFeedURL", 5}}, std::nullopt, std::nullopt},
        {json::object(), std::nullopt, std::nullopt},
        {json::object(), QStringLiteral("http://a b/"), std::nullopt},
    };
    for (const auto& [dictionary, override, expected] : rows) {
        const auto url = UpdateFeed::feedURL(dictionary, override);
        EXPECT_EQ(url ? std::optional(url->toString()) : std::nullopt, expected) << dictionary.dump();
    }
}

TEST(UpdateFeedSource, StoredOverrideSetButEmptyCountsAsUnset) {
    const json info = {{"SenvikUpdateFeedURL", "https://updates.example/feed.json"}};
    QSettings store(QSettings::NativeFormat, QSettings::UserScope,
                    QStringLiteral("com.tamrik.senvik.connector"));
    store.setValue(QStringLiteral("updateFeedURL"), QString());
    store.sync();
    EXPECT_EQ(ConnectorController::updateFeed(info),
              QUrl(QStringLiteral("https://updates.example/feed.json")));
    store.setValue(QStringLiteral("updateFeedURL"), QStringLiteral("https://mine.example/f.json"));
    store.sync();
    EXPECT_EQ(ConnectorController::updateFeed(info), QUrl(QStringLiteral("https://mine.example/f.json")));
    store.remove(QStringLiteral("updateFeedURL"));
    store.sync();
}

TEST(CurrentBuild, DecimalOrZero) {
    const std::vector<std::pair<json, qint64>> rows = {
        {json{{"CFBundleVersion", "57"}}, 57},
        {json{{"CFBundleVersion", "+57"}}, 57},
        {json{{"CFBundleVersion", "-3"}}, -3},
        {json{{"CFBundleVersion", "1.2"}}, 0},
        {json{{"CFBundleVersion", ""}}, 0},
        {json{{"CFBundleVersion", " 57"}}, 0},
        {json{{"CFBundleVersion", "+"}}, 0},
        {json{{"CFBundleVersion", "9223372036854775807"}}, 9223372036854775807LL},
        {json{{"CFBundleVersion", "9223372036854775808"}}, 0},
        {json{{"CFBundleVersion", "-9223372036854775808"}}, std::numeric_limits<qint64>::min()},
        {json{{"CFBundleVersion", 57}}, 0},
        {json::object(), 0},
    };
    for (const auto& [info, build] : rows)
        EXPECT_EQ(UpdateFeed::buildNumber(info), build) << info.dump();
}

} // namespace
