// The agent launcher's pieces in-process: PATH composition, the login-shell probe, the bridge's environment.
#include "AgentLauncher.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <ostream>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>

using AgentLauncher::Environment;

namespace {

// Shells started here read their start-up files from HOME: never the user's own.
const bool privateHome = [] {
    static QByteArray home = "/tmp/orvane-test-home-XXXXXX";
    if (::mkdtemp(home.data())) {
        ::setenv("HOME", home.constData(), 1);
        std::atexit([] { std::filesystem::remove_all(home.constData()); });
    }
    return true;
}();

const QString fromShell = QStringLiteral("来自登录 shell");
const QString fromFixed = QStringLiteral("用常见目录（没读到登录 shell 的）");

struct SearchCase {
    const char* name;
    std::optional<QString> loginShell;
    QString home;
    QString path;
    QString source;
    int count;
};

void PrintTo(const SearchCase& c, std::ostream* os) {
    *os << c.name;
}

class SearchPathTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchPathTest, ComposesLoginShellAndFixedDirectories) {
    const SearchCase& c = GetParam();
    const AgentLauncher::SearchPath result = AgentLauncher::searchPath(c.loginShell, c.home);
    EXPECT_EQ(result.path, c.path);
    EXPECT_EQ(result.source, c.source);
    EXPECT_EQ(AgentLauncher::pathCount(result.path), c.count);
}

const QString fixedH =
    QStringLiteral("/h/.local/bin:/opt/homebrew/bin:/opt/homebrew/sbin:/usr/local/bin:/h/.npm-global/bin:"
                   "/h/.bun/bin:/h/.volta/bin:/h/.claude/local:/usr/bin:/bin:/usr/sbin:/sbin");

INSTANTIATE_TEST_SUITE_P(
    Cases, SearchPathTest,
    ::testing::Values(
        SearchCase{"NoLoginShell", std::nullopt, QStringLiteral("/h"), fixedH, fromFixed, 12},
        SearchCase{
            "UsrBinBin", QStringLiteral("/usr/bin:/bin"), QStringLiteral("/h"),
            QStringLiteral("/usr/bin:/bin:/h/.local/bin:/opt/homebrew/bin:/opt/homebrew/sbin:/usr/local/bin:"
                           "/h/.npm-global/bin:/h/.bun/bin:/h/.volta/bin:/h/.claude/local:/usr/sbin:/sbin"),
            fromShell, 12},
        SearchCase{
            "DuplicatesFromShellKept", QStringLiteral("/opt/homebrew/bin:/x:/opt/homebrew/bin"),
            QStringLiteral("/h"),
            QStringLiteral("/opt/homebrew/bin:/x:/opt/homebrew/bin:/h/.local/bin:/opt/homebrew/sbin:"
                           "/usr/local/bin:/h/.npm-global/bin:/h/.bun/bin:/h/.volta/bin:/h/.claude/local:"
                           "/usr/bin:/bin:/usr/sbin:/sbin"),
            fromShell, 14},
        SearchCase{"TrailingSlashIsAnotherText", QStringLiteral("/usr/bin/"), QStringLiteral("/h"),
                   QStringLiteral("/usr/bin/:") + fixedH, fromShell, 13},
        SearchCase{"EmptyPartsDropped", QStringLiteral("::/a::/b:"), QStringLiteral("/h"),
                   QStringLiteral("/a:/b:") + fixedH, fromShell, 14},
        SearchCase{"OnlySeparators", QStringLiteral(":::"), QStringLiteral("/h"), fixedH, fromShell, 12},
        SearchCase{
            "HomeJoinedAsText", std::nullopt, QStringLiteral("/h/"),
            QStringLiteral("/h//.local/bin:/opt/homebrew/bin:/opt/homebrew/sbin:/usr/local/bin:"
                           "/h//.npm-global/bin:/h//.bun/bin:/h//.volta/bin:/h//.claude/local:/usr/bin:/bin:"
                           "/usr/sbin:/sbin"),
            fromFixed, 12},
        SearchCase{
            "HomeDirectoryFromShellNotRepeated", QStringLiteral("/h/.bun/bin:/sbin"), QStringLiteral("/h"),
            QStringLiteral("/h/.bun/bin:/sbin:/h/.local/bin:/opt/homebrew/bin:/opt/homebrew/sbin:"
                           "/usr/local/bin:/h/.npm-global/bin:/h/.volta/bin:/h/.claude/local:/usr/bin:/bin:"
                           "/usr/sbin"),
            fromShell, 12}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

TEST(AgentLauncher, StartMessageNamesSourceAndCount) {
    EXPECT_EQ(AgentLauncher::startMessage({QStringLiteral("/a::/b"), fromShell}),
              QStringLiteral("Orvane 连接器后台入口：PATH 来自登录 shell（2 个目录），启动桥接"));
    EXPECT_EQ(AgentLauncher::startMessage(AgentLauncher::searchPath(std::nullopt, QStringLiteral("/h"))),
              QStringLiteral(
                  "Orvane 连接器后台入口：PATH 用常见目录（没读到登录 shell 的）（12 个目录），启动桥接"));
}

struct MarkerCase {
    const char* name;
    QByteArray output;
    std::optional<QString> result;
};

void PrintTo(const MarkerCase& c, std::ostream* os) {
    *os << c.name;
}

class MarkedPathTest : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(MarkedPathTest, TakesTheTextBetweenTheFirstTwoMarkers) {
    EXPECT_EQ(AgentLauncher::markedPath(GetParam().output), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MarkedPathTest,
    ::testing::Values(
        MarkerCase{"Plain", "\n__SENVIK_PATH__/usr/bin:/bin__SENVIK_PATH__\n",
                   QStringLiteral("/usr/bin:/bin")},
        MarkerCase{"GreetingBefore", "Welcome!\nlast login\n\n__SENVIK_PATH__/a__SENVIK_PATH__\nbye\n",
                   QStringLiteral("/a")},
        MarkerCase{"ThirdMarkerIgnored", "__SENVIK_PATH__/a__SENVIK_PATH__/b__SENVIK_PATH__",
                   QStringLiteral("/a")},
        MarkerCase{"NoSecondMarker", "__SENVIK_PATH__/a:/b\n", std::nullopt},
        MarkerCase{"NoMarker", "/usr/bin:/bin\n", std::nullopt},
        MarkerCase{"Empty", "\n__SENVIK_PATH____SENVIK_PATH__\n", std::nullopt},
        MarkerCase{"Silent", "", std::nullopt},
        MarkerCase{"MarkersShareNoCharacters", "__SENVIK_PATH__SENVIK_PATH__", std::nullopt},
        MarkerCase{"Utf8", "__SENVIK_PATH__/用户/bin__SENVIK_PATH__", QStringLiteral("/用户/bin")},
        MarkerCase{"InvalidUtf8Replaced", "__SENVIK_PATH__/a\xff:/b__SENVIK_PATH__",
                   QStringLiteral("/a\uFFFD:/b")}),
    [](const ::testing::TestParamInfo<MarkerCase>& info) { return std::string(info.param.name); });

struct EnvironmentCase {
    const char* name;
    Environment inherited;
    std::optional<QString> version;
    std::optional<QString> override;
    std::optional<QString> bundleFeed;
    Environment expected;
};

void PrintTo(const EnvironmentCase& c, std::ostream* os) {
    *os << c.name;
}

class BridgeEnvironmentTest : public ::testing::TestWithParam<EnvironmentCase> {};

TEST_P(BridgeEnvironmentTest, DecidesPathBuildAndFeed) {
    const EnvironmentCase& c = GetParam();
    EXPECT_EQ(AgentLauncher::bridgeEnvironment(c.inherited, QStringLiteral("/p:/q"), c.version, c.override,
                                               c.bundleFeed),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgeEnvironmentTest,
    ::testing::Values(
        EnvironmentCase{"BundleValues",
                        {{"PATH", "/old"}, {"HOME", "/h"}},
                        QStringLiteral("7"),
                        std::nullopt,
                        QStringLiteral("https://f"),
                        {{"PATH", "/p:/q"},
                         {"HOME", "/h"},
                         {"ORVANE_CONNECTOR_BUILD", "7"},
                         {"ORVANE_CONNECTOR_FEED", "https://f"}}},
        EnvironmentCase{"InheritedRemovedWhenBundleLacksThem",
                        {{"ORVANE_CONNECTOR_BUILD", "9"}, {"ORVANE_CONNECTOR_FEED", "https://old"}},
                        std::nullopt,
                        std::nullopt,
                        std::nullopt,
                        {{"PATH", "/p:/q"}}},
        EnvironmentCase{
            "OverrideBeforeBundleFeed",
            {},
            QStringLiteral("7"),
            QStringLiteral("https://o"),
            QStringLiteral("https://f"),
            {{"PATH", "/p:/q"}, {"ORVANE_CONNECTOR_BUILD", "7"}, {"ORVANE_CONNECTOR_FEED", "https://o"}}},
        EnvironmentCase{"EmptyBundleValuesCount",
                        {{"ORVANE_CONNECTOR_FEED", "https://old"}},
                        QString(),
                        std::nullopt,
                        QString(),
                        {{"PATH", "/p:/q"}, {"ORVANE_CONNECTOR_BUILD", ""}, {"ORVANE_CONNECTOR_FEED", ""}}},
        EnvironmentCase{"Utf8Values",
                        {{"LANG", "zh_CN.UTF-8"}},
                        QStringLiteral("构建 1"),
                        std::nullopt,
                        std::nullopt,
                        {{"PATH", "/p:/q"}, {"LANG", "zh_CN.UTF-8"}, {"ORVANE_CONNECTOR_BUILD", "构建 1"}}}),
    [](const ::testing::TestParamInfo<EnvironmentCase>& info) { return std::string(info.param.name); });

TEST(AgentLauncher, LoginShellChoice) {
    using AgentLauncher::loginShell;
    EXPECT_EQ(loginShell(QStringLiteral("/bin/fish"), QStringLiteral("/bin/bash")),
              QStringLiteral("/bin/fish"));
    EXPECT_EQ(loginShell(std::nullopt, QStringLiteral("/bin/bash")), QStringLiteral("/bin/bash"));
    // An empty shell field in the user database means /bin/sh, not "no shell".
    EXPECT_EQ(loginShell(QString(), QStringLiteral("/bin/bash")), QStringLiteral("/bin/sh"));
    EXPECT_EQ(loginShell(QString(), std::nullopt), QStringLiteral("/bin/sh"));
    EXPECT_EQ(loginShell(std::nullopt, std::nullopt), QStringLiteral("/bin/zsh"));
    EXPECT_EQ(loginShell(std::nullopt, QString()), QStringLiteral("/bin/zsh"));
}

TEST(AgentLauncher, ResourcesDirectory) {
    using AgentLauncher::resourcesDirectory;
    EXPECT_EQ(
        resourcesDirectory(QStringLiteral("/B.app/Contents/Resources"), QStringLiteral("/elsewhere/exe")),
        QStringLiteral("/B.app/Contents/Resources"));
    EXPECT_EQ(resourcesDirectory(std::nullopt, QStringLiteral("/X.app/Contents/MacOS/exe")),
              QStringLiteral("/X.app/Contents/Resources"));
    EXPECT_EQ(resourcesDirectory(std::nullopt, QStringLiteral("/opt/tool/bin/exe")),
              QStringLiteral("/opt/tool/Resources"));
}

// Scripted login shells: each is a /bin/sh script given the same two arguments a real shell would get.
class LoginShellTest : public ::testing::Test {
protected:
    QString shell(const QByteArray& body) {
        const QString path = dir_.file(QStringLiteral("shell-%1").arg(++count_));
        EXPECT_TRUE(TestSupport::writeFile(path, "#!/bin/sh\n" + body, 0755));
        return path;
    }
    TestSupport::TempDir dir_;
    int count_ = 0;
};

TEST_F(LoginShellTest, ReceivesTheMarkerCommandAndRunsItLikeAShell) {
    const QString args = dir_.file(QStringLiteral("args"));
    const QString path =
        shell("printf '%s\\n' \"$1\" > '" + args.toUtf8() + "'\nprintf '%s' \"$2\" >> '" + args.toUtf8() +
              "'\necho 'Last login: today'\nPATH='/a b/bin:/c'\nexec /bin/sh -c \"$2\"\n");
    EXPECT_EQ(AgentLauncher::loginShellPath(path), QStringLiteral("/a b/bin:/c"));
    QFile recorded(args);
    ASSERT_TRUE(recorded.open(QIODevice::ReadOnly));
    EXPECT_EQ(recorded.readAll(),
              QByteArray("-ilc\nprintf '\\n__SENVIK_PATH__%s__SENVIK_PATH__\\n' \"$PATH\""));
}

struct ShellCase {
    const char* name;
    QByteArray body;
    std::optional<QString> result;
};

void PrintTo(const ShellCase& c, std::ostream* os) {
    *os << c.name;
}

class ScriptedShell : public LoginShellTest, public ::testing::WithParamInterface<ShellCase> {};

TEST_P(ScriptedShell, YieldsTheMarkedPathOrNothing) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(AgentLauncher::loginShellPath(shell(GetParam().body)), GetParam().result);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3))
        << "a shell that ends is not waited for";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptedShell,
    ::testing::Values(
        ShellCase{"GreetingBeforeMarkers",
                  "echo 'Welcome to the shell'\nprintf '\\n__SENVIK_PATH__/x:/y__SENVIK_PATH__\\n'\n",
                  QStringLiteral("/x:/y")},
        ShellCase{"NoSecondMarker", "printf '\\n__SENVIK_PATH__/x:/y\\n'\n", std::nullopt},
        ShellCase{"Silent", "exit 0\n", std::nullopt},
        ShellCase{"EmptyResult", "printf '\\n__SENVIK_PATH____SENVIK_PATH__\\n'\n", std::nullopt},
        ShellCase{"FailingStatusIgnored", "printf '__SENVIK_PATH__/x__SENVIK_PATH__'\nexit 3\n",
                  QStringLiteral("/x")},
        ShellCase{"StderrNotRead", "printf '__SENVIK_PATH__/err__SENVIK_PATH__' >&2\n", std::nullopt},
        ShellCase{"StdinIsNull", "read line && printf '__SENVIK_PATH__%s__SENVIK_PATH__' \"$line\"\n",
                  std::nullopt}),
    [](const ::testing::TestParamInfo<ShellCase>& info) { return std::string(info.param.name); });

TEST_F(LoginShellTest, MissingShellYieldsNothing) {
    EXPECT_EQ(AgentLauncher::loginShellPath(dir_.file(QStringLiteral("no-such-shell"))), std::nullopt);
}

struct SlowCase {
    const char* name;
    QByteArray body;
};

void PrintTo(const SlowCase& c, std::ostream* os) {
    *os << c.name;
}

class SlowShell : public LoginShellTest, public ::testing::WithParamInterface<SlowCase> {};

TEST_P(SlowShell, GivesUpAfterFiveSecondsAndEndsTheShell) {
    const QString pidFile = dir_.file(QStringLiteral("pid"));
    const QString path = shell("echo $$ > '" + pidFile.toUtf8() + "'\n" + GetParam().body);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(AgentLauncher::loginShellPath(path), std::nullopt);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_GE(elapsed, std::chrono::milliseconds(4500));
    EXPECT_LT(elapsed, std::chrono::seconds(8));

    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const pid_t pid = file.readAll().trimmed().toInt();
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(QFile::exists(QStringLiteral("/proc/%1").arg(pid))) << "the shell is ended and reaped";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SlowShell,
    ::testing::Values(SlowCase{"Sleeping", "sleep 30\nprintf '__SENVIK_PATH__/late__SENVIK_PATH__'\n"},
                      SlowCase{"MarkersThenKeepsOutputOpen",
                               "printf '__SENVIK_PATH__/x__SENVIK_PATH__'\nsleep 30\n"},
                      SlowCase{"IgnoresTermination", "trap '' TERM\nsleep 30\n"}),
    [](const ::testing::TestParamInfo<SlowCase>& info) { return std::string(info.param.name); });

} // namespace
