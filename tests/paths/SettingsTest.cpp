#include "ConnectorSettings.h"
#include "PathsTestHome.h"

#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

#include <ostream>

namespace {

using Values = std::map<QString, QString>;

class Settings : public ::testing::Test {
protected:
    void SetUp() override { QFile::remove(PathsTestHome::settingsFile()); }
    void TearDown() override { QFile::remove(PathsTestHome::settingsFile()); }

    static void storeFeed(const QString& value) {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope,
                        QStringLiteral("com.tamrik.senvik.connector"));
        store.setValue(QStringLiteral("updateFeedURL"), value);
        store.sync();
    }
};

TEST_F(Settings, FreshStoreWithAndWithoutRegisteredDefaults) {
    EXPECT_EQ(PathsTestHome::probe({QStringLiteral("read")}),
              (Values{{QStringLiteral("showsStatusItemAtLogin"), QStringLiteral("false")},
                      {QStringLiteral("startCompleted"), QStringLiteral("false")},
                      {QStringLiteral("autoInstallUpdates"), QStringLiteral("false")},
                      {QStringLiteral("updateFeedOverride"), QStringLiteral("(none)")}}));
    EXPECT_EQ(PathsTestHome::probe({QStringLiteral("register"), QStringLiteral("read")}),
              (Values{{QStringLiteral("showsStatusItemAtLogin"), QStringLiteral("true")},
                      {QStringLiteral("startCompleted"), QStringLiteral("false")},
                      {QStringLiteral("autoInstallUpdates"), QStringLiteral("true")},
                      {QStringLiteral("updateFeedOverride"), QStringLiteral("(none)")}}));
    EXPECT_FALSE(QFile::exists(PathsTestHome::settingsFile())) << "registered defaults are never written";
}

TEST_F(Settings, ValuesWrittenHereAreSeenByAnotherProcess) {
    ConnectorSettings::registerDefaults();
    ConnectorSettings::setStartCompleted(true);
    ConnectorSettings::setShowsStatusItemAtLogin(false);
    auto seen = PathsTestHome::probe({QStringLiteral("read")});
    EXPECT_EQ(seen[QStringLiteral("startCompleted")], QStringLiteral("true"));
    EXPECT_EQ(seen[QStringLiteral("showsStatusItemAtLogin")], QStringLiteral("false"));
    EXPECT_EQ(seen[QStringLiteral("autoInstallUpdates")], QStringLiteral("false"))
        << "the probe registered nothing";
}

TEST_F(Settings, ValuesWrittenByAnotherProcessAreSeenHere) {
    ConnectorSettings::registerDefaults();
    EXPECT_TRUE(ConnectorSettings::autoInstallUpdates());
    EXPECT_FALSE(ConnectorSettings::startCompleted());
    PathsTestHome::probe(
        {QStringLiteral("set"), QStringLiteral("autoInstallUpdates"), QStringLiteral("false")});
    PathsTestHome::probe({QStringLiteral("set"), QStringLiteral("startCompleted"), QStringLiteral("true")});
    EXPECT_FALSE(ConnectorSettings::autoInstallUpdates());
    EXPECT_TRUE(ConnectorSettings::startCompleted());
    PathsTestHome::probe({QStringLiteral("set"), QStringLiteral("startCompleted"), QStringLiteral("false")});
    EXPECT_FALSE(ConnectorSettings::startCompleted()) << "nothing is cached between reads";
}

TEST_F(Settings, RewritesOfTheStoreBehindItsBackAreSeenAtTheNextRead) {
    // Texts of one length: only the file's identity and time tell the versions apart.
    for (const QString& feed :
         {QStringLiteral("https://a.example/feed.json"), QStringLiteral("https://b.example/feed.json"),
          QStringLiteral("https://a.example/feed.json")}) {
        storeFeed(feed);
        EXPECT_EQ(ConnectorSettings::updateFeedOverride(), feed);
    }
    QFile::remove(PathsTestHome::settingsFile());
    EXPECT_EQ(ConnectorSettings::updateFeedOverride(), std::nullopt) << "a removed store holds nothing";
}

struct FeedCase {
    const char* name;
    std::optional<QString> stored;
    std::optional<QString> expected;
};

void PrintTo(const FeedCase& c, std::ostream* os) {
    *os << c.name;
}

class FeedOverride : public Settings, public ::testing::WithParamInterface<FeedCase> {};

TEST_P(FeedOverride, CountsOnlyANonEmptyStoredText) {
    if (GetParam().stored)
        storeFeed(*GetParam().stored);
    EXPECT_EQ(ConnectorSettings::updateFeedOverride(), GetParam().expected);
    EXPECT_EQ(PathsTestHome::probe({QStringLiteral("read")})[QStringLiteral("updateFeedOverride")],
              GetParam().expected.value_or(QStringLiteral("(none)")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FeedOverride,
    ::testing::Values(FeedCase{"Absent", std::nullopt, std::nullopt},
                      FeedCase{"Empty", QString(), std::nullopt},
                      FeedCase{"Present", QStringLiteral("https://feed.example/a.json?x=1&y=2"),
                               QStringLiteral("https://feed.example/a.json?x=1&y=2")},
                      FeedCase{"Spaces", QStringLiteral(" "), QStringLiteral(" ")}),
    [](const ::testing::TestParamInfo<FeedCase>& info) { return std::string(info.param.name); });

} // namespace
