// Agent mode from outside: a throw-away bundle whose runtime is a shell script that records how it was
// started.
#include "AgentLauncher.h"
#include "TestBundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <ostream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QRegularExpression startLine(QStringLiteral(
    "^\\d\\d:\\d\\d:\\d\\d Orvane 连接器后台入口：PATH (来自登录 shell|用常见目录（没读到登录 shell 的）)"
    "（(\\d+) 个目录），启动桥接$"));

QStringList lines(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes);
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

QStringList fixedDirectories(const QString& home) {
    return {home + QStringLiteral("/.local/bin"),
            QStringLiteral("/opt/homebrew/bin"),
            QStringLiteral("/opt/homebrew/sbin"),
            QStringLiteral("/usr/local/bin"),
            home + QStringLiteral("/.npm-global/bin"),
            home + QStringLiteral("/.bun/bin"),
            home + QStringLiteral("/.volta/bin"),
            home + QStringLiteral("/.claude/local"),
            QStringLiteral("/usr/bin"),
            QStringLiteral("/bin"),
            QStringLiteral("/usr/sbin"),
            QStringLiteral("/sbin")};
}

mode_t modeOf(const QString& path) {
    struct stat attributes {};
    if (::stat(path.toUtf8().constData(), &attributes) != 0)
        return 0;
    return attributes.st_mode & 07777;
}

// Under AddressSanitizer its runtime must be the first library a program loads, ahead of nss_wrapper.
QString preloads() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (maps.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : maps.readAll().split('\n')) {
            const qsizetype at = line.indexOf('/');
            if (at >= 0 && line.contains("/libasan.so"))
                return QString::fromUtf8(line.mid(at)) + ' ' + QStringLiteral(NSS_WRAPPER_LIBRARY);
        }
    }
    return QStringLiteral(NSS_WRAPPER_LIBRARY);
}

// The agent asks the user database for the login shell first. Each run here gets a stand-in database
// (nss_wrapper) whose entry for this user names `shellBody` as the shell, so every machine checks the same
// thing whatever its users' shells are. The shell records how it was started in records()/shell-argv.
QProcessEnvironment withLoginShell(const TestBundle& bundle, const QByteArray& shellBody) {
    const QString shell = bundle.records() + QStringLiteral("/login shell");
    EXPECT_TRUE(TestSupport::writeFile(
        shell, "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$RECORD_DIR/shell-argv\"\n" + shellBody, 0755));
    const QString passwd = bundle.records() + QStringLiteral("/passwd");
    const QString group = bundle.records() + QStringLiteral("/group");
    const QByteArray uid = QByteArray::number(::getuid());
    const QByteArray gid = QByteArray::number(::getgid());
    EXPECT_TRUE(TestSupport::writeFile(passwd, "tester:x:" + uid + ":" + gid + ":Tester:" +
                                                   bundle.home().toUtf8() + ":" + shell.toUtf8() + "\n"));
    EXPECT_TRUE(TestSupport::writeFile(group, "testers:x:" + gid + ":\n"));
    QProcessEnvironment env = bundle.environment();
    env.insert(QStringLiteral("LD_PRELOAD"), preloads());
    env.insert(QStringLiteral("NSS_WRAPPER_PASSWD"), passwd);
    env.insert(QStringLiteral("NSS_WRAPPER_GROUP"), group);
    return env;
}

// A login shell that runs the command it is given with `path` as its PATH, after a greeting of its start-up
// files.
QByteArray shellWithPath(const QByteArray& path) {
    return "echo 'Welcome back'\nPATH='" + path + "'\n[ \"$1\" = -ilc ] && eval \"$2\"\n";
}

Finished runAgent(const TestBundle& bundle, const QProcessEnvironment& env) {
    return runProcess(bundle.executable(), {QStringLiteral("--agent")}, env, 20000);
}

const QByteArray plainInfo =
    "<key>CFBundleVersion</key><string>42</string>\n"
    "<key>SenvikUpdateFeedURL</key><string>https://feed.example/connector.json</string>";

TEST(AgentMode, StartsTheRuntimeWithTheBridgeScriptAndTheLogAsOutput) {
    TestBundle bundle(plainInfo);
    bundle.installRecordingRuntime();
    const Finished run = runAgent(bundle, withLoginShell(bundle, shellWithPath("/orvane/only")));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, QByteArray()) << "everything goes to the bridge log";

    EXPECT_EQ(bundle.recordedArguments(),
              QStringList(
                  {bundle.runtime(), bundle.script(), QStringLiteral("start"), QStringLiteral("--managed")}));
    EXPECT_EQ(bundle.recordedStream(0), QStringLiteral("/dev/null"));
    EXPECT_EQ(bundle.recordedStream(1), bundle.bridgeLog());
    EXPECT_EQ(bundle.recordedStream(2), bundle.bridgeLog());
    EXPECT_EQ(modeOf(QFileInfo(bundle.bridgeLog()).path()), 0700u);
    EXPECT_EQ(modeOf(bundle.bridgeLog()), 0600u);

    const QStringList log = lines(readAll(bundle.bridgeLog()));
    ASSERT_EQ(log.size(), 2) << log.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(startLine.match(log[0]).hasMatch()) << log[0].toStdString();
    EXPECT_TRUE(log[0].endsWith(QStringLiteral("PATH 来自登录 shell（13 个目录），启动桥接")))
        << log[0].toStdString();
    EXPECT_EQ(log[1], QStringLiteral("bridge output")) << "the bridge appends to the same log";
    EXPECT_EQ(bundle.recordedEnvironment().value(QStringLiteral("PATH")),
              (QStringList{QStringLiteral("/orvane/only")} + fixedDirectories(bundle.home()))
                  .join(QLatin1Char(':')));
}

// What the login shell yields comes first, as it is; the fixed directories it lacks follow in table order.
// Without a usable answer the fixed directories alone are the PATH.
TEST(AgentMode, PathFromTheLoginShellThenTheMissingFixedDirectories) {
    const struct {
        const char* name;
        QByteArray shell;
        QStringList path; // before the fixed directories it lacks; empty: the shell's answer is not used
    } cases[] = {
        {"duplicates and a trailing slash kept",
         shellWithPath("/orvane/one:/opt/homebrew/bin:/usr/bin:/orvane/one:/opt/homebrew/bin/"),
         {"/orvane/one", "/opt/homebrew/bin", "/usr/bin", "/orvane/one", "/opt/homebrew/bin/"}},
        {"every fixed directory already there, in another order",
         shellWithPath("/sbin:/usr/sbin:/bin:/usr/bin:/usr/local/bin:/opt/homebrew/sbin:/opt/homebrew/bin"),
         {"/sbin", "/usr/sbin", "/bin", "/usr/bin", "/usr/local/bin", "/opt/homebrew/sbin",
          "/opt/homebrew/bin"}},
        {"no marked line", "echo '/orvane/unmarked'\n", {}},
        {"shell fails", "exit 3\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestBundle bundle(plainInfo);
        bundle.installRecordingRuntime();
        const Finished run = runAgent(bundle, withLoginShell(bundle, c.shell));
        ASSERT_TRUE(run.finished);
        ASSERT_TRUE(bundle.runtimeRan());

        // The shell is asked as a login shell for an interactive command.
        const QStringList shellArgv =
            QString::fromUtf8(readAll(bundle.records() + QStringLiteral("/shell-argv")))
                .split(QLatin1Char('\n'));
        ASSERT_GE(shellArgv.size(), 3);
        EXPECT_EQ(shellArgv[0], bundle.records() + QStringLiteral("/login shell"));
        EXPECT_EQ(shellArgv[1], QStringLiteral("-ilc"));

        QStringList expected = c.path;
        for (const QString& dir : fixedDirectories(bundle.home()))
            if (!c.path.contains(dir))
                expected << dir;
        EXPECT_EQ(bundle.recordedEnvironment().value(QStringLiteral("PATH")),
                  expected.join(QLatin1Char(':')));
        const QStringList log = lines(readAll(bundle.bridgeLog()));
        ASSERT_FALSE(log.isEmpty());
        const QString source = c.path.isEmpty() ? QStringLiteral("用常见目录（没读到登录 shell 的）")
                                                : QStringLiteral("来自登录 shell");
        EXPECT_TRUE(log[0].endsWith(QStringLiteral(" Orvane 连接器后台入口：PATH ") + source +
                                    QStringLiteral("（") + QString::number(expected.size()) +
                                    QStringLiteral(" 个目录），启动桥接")))
            << log[0].toStdString();
    }
}

struct VariablesCase {
    const char* name;
    QByteArray info;
    std::optional<QByteArray> storedFeed; // the value of "updateFeedURL" in the preferences file
    std::optional<QString> build;         // expected ORVANE_CONNECTOR_BUILD (nothing: absent)
    std::optional<QString> feed;          // expected ORVANE_CONNECTOR_FEED
};

void PrintTo(const VariablesCase& c, std::ostream* os) {
    *os << c.name;
}

class AgentVariables : public ::testing::TestWithParam<VariablesCase> {};

TEST_P(AgentVariables, DecidesBuildAndFeed) {
    const VariablesCase& c = GetParam();
    TestBundle bundle(c.info);
    bundle.installRecordingRuntime();
    if (c.storedFeed) {
        ASSERT_TRUE(TestSupport::writeFile(bundle.home() +
                                               QStringLiteral("/.config/com.tamrik.senvik.connector.conf"),
                                           "[General]\nupdateFeedURL=" + *c.storedFeed + "\n"));
    }
    QProcessEnvironment env = bundle.environment();
    env.insert(QStringLiteral("ORVANE_CONNECTOR_BUILD"), QStringLiteral("inherited-build"));
    env.insert(QStringLiteral("ORVANE_CONNECTOR_FEED"),
               QStringLiteral("https://inherited.example/feed.json"));
    env.insert(QStringLiteral("UNRELATED"), QStringLiteral("a=b c"));
    const Finished run = runAgent(bundle, env);
    ASSERT_TRUE(run.finished);
    ASSERT_TRUE(bundle.runtimeRan());

    const QProcessEnvironment seen = bundle.recordedEnvironment();
    EXPECT_EQ(seen.contains(QStringLiteral("ORVANE_CONNECTOR_BUILD")), c.build.has_value());
    if (c.build) {
        EXPECT_EQ(seen.value(QStringLiteral("ORVANE_CONNECTOR_BUILD")), *c.build);
    }
    EXPECT_EQ(seen.contains(QStringLiteral("ORVANE_CONNECTOR_FEED")), c.feed.has_value());
    if (c.feed) {
        EXPECT_EQ(seen.value(QStringLiteral("ORVANE_CONNECTOR_FEED")), *c.feed);
    }
    EXPECT_EQ(seen.value(QStringLiteral("UNRELATED")), QStringLiteral("a=b c"));
    EXPECT_EQ(seen.value(QStringLiteral("HOME")), bundle.home());
}

const QString bundleFeed = QStringLiteral("https://feed.example/connector.json");

INSTANTIATE_TEST_SUITE_P(
    Cases, AgentVariables,
    ::testing::Values(
        VariablesCase{"BundleValuesReplaceInherited", plainInfo, std::nullopt, QStringLiteral("42"),
                      bundleFeed},
        VariablesCase{"NoVersionDropsInheritedBuild",
                      "<key>SenvikUpdateFeedURL</key><string>https://feed.example/connector.json</string>",
                      std::nullopt, std::nullopt, bundleFeed},
        VariablesCase{"VersionNotTextDropsBuild",
                      "<key>CFBundleVersion</key><integer>42</integer>\n"
                      "<key>SenvikUpdateFeedURL</key><string>https://feed.example/connector.json</string>",
                      std::nullopt, std::nullopt, bundleFeed},
        VariablesCase{"StoredOverrideWins", plainInfo, QByteArray("https://override.example/feed.json"),
                      QStringLiteral("42"), QStringLiteral("https://override.example/feed.json")},
        VariablesCase{"EmptyStoredOverrideDoesNotCount", plainInfo, QByteArray(""), QStringLiteral("42"),
                      bundleFeed},
        VariablesCase{"EmptyBundleFeedCounts",
                      "<key>CFBundleVersion</key><string>42</string>\n"
                      "<key>SenvikUpdateFeedURL</key><string></string>",
                      std::nullopt, QStringLiteral("42"), QString()},
        VariablesCase{"NoFeedAnywhereDropsInheritedFeed", "<key>CFBundleVersion</key><string>42</string>",
                      std::nullopt, QStringLiteral("42"), std::nullopt},
        VariablesCase{"OverrideWithoutBundleFeed", "<key>CFBundleVersion</key><string>42</string>",
                      QByteArray("https://override.example/feed.json"), QStringLiteral("42"),
                      QStringLiteral("https://override.example/feed.json")}),
    [](const ::testing::TestParamInfo<VariablesCase>& info) { return std::string(info.param.name); });

struct RotationCase {
    const char* name;
    qint64 size;
    bool rotated;
};

void PrintTo(const RotationCase& c, std::ostream* os) {
    *os << c.name;
}

class AgentLogRotation : public ::testing::TestWithParam<RotationCase> {};

TEST_P(AgentLogRotation, RotatesOnlyAboveFiveMebibytes) {
    const RotationCase& c = GetParam();
    TestBundle bundle(plainInfo);
    bundle.installRecordingRuntime();
    ASSERT_TRUE(TestSupport::writeFile(bundle.bridgeLog(), QByteArray(c.size, 'x'), 0600));
    ASSERT_TRUE(TestSupport::writeFile(bundle.bridgeLog() + QStringLiteral(".1"), "older rotation\n", 0600));
    const Finished run = runAgent(bundle, bundle.environment());
    ASSERT_TRUE(run.finished);

    const QByteArray log = readAll(bundle.bridgeLog());
    const QByteArray previous = readAll(bundle.bridgeLog() + QStringLiteral(".1"));
    if (c.rotated) {
        EXPECT_EQ(previous, QByteArray(c.size, 'x')) << "the older rotated file is replaced";
        ASSERT_EQ(lines(log).size(), 2);
        EXPECT_TRUE(startLine.match(lines(log)[0]).hasMatch());
    } else {
        EXPECT_EQ(previous, QByteArray("older rotation\n"));
        EXPECT_TRUE(log.startsWith(QByteArray(c.size, 'x')));
        const QStringList added = lines(log.mid(c.size));
        ASSERT_EQ(added.size(), 2);
        EXPECT_TRUE(startLine.match(added[0]).hasMatch());
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, AgentLogRotation,
                         ::testing::Values(RotationCase{"Small", 10, false},
                                           RotationCase{"Exactly5MiB", 5242880, false},
                                           RotationCase{"OneByteMore", 5242881, true}),
                         [](const ::testing::TestParamInfo<RotationCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(AgentMode, MissingRuntimeLogsOneFailureLineAndExitsWithOne) {
    TestBundle bundle(plainInfo);
    const Finished run = runAgent(bundle, bundle.environment());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    const QStringList log = lines(readAll(bundle.bridgeLog()));
    ASSERT_EQ(log.size(), 2) << log.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(startLine.match(log[0]).hasMatch());
    const QRegularExpression failure(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d 启动桥接失败：No such file or directory（") +
        QRegularExpression::escape(bundle.runtime()) + QStringLiteral("）$"));
    EXPECT_TRUE(failure.match(log[1]).hasMatch()) << log[1].toStdString();
}

TEST(AgentMode, UnwritableLogLeavesTheInheritedStreams) {
    TestBundle bundle(plainInfo);
    bundle.installRecordingRuntime();
    // A file where the logs directory's parent should be: neither directory nor log can be made.
    ASSERT_TRUE(TestSupport::writeFile(bundle.home() + QStringLiteral("/Library/Logs"), "not a directory"));
    const Finished run = runAgent(bundle, bundle.environment());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(bundle.runtimeRan());
    const QStringList err = lines(run.err);
    ASSERT_EQ(err.size(), 1);
    EXPECT_TRUE(startLine.match(err[0]).hasMatch()) << err[0].toStdString();
    EXPECT_EQ(run.out, QByteArray("bridge output\n"));
    EXPECT_NE(bundle.recordedStream(0), QStringLiteral("/dev/null"));
}

} // namespace
