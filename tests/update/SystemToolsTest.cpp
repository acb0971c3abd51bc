#include "SystemTools.h"

#include "RunTask.h"
#include "TempHome.h"

#include <QFile>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono;
using TestSupport::runTask;

namespace {

struct RunCase {
    const char* name;
    QString program;
    QStringList arguments;
    std::optional<double> timeout;
    int status;
    milliseconds atLeast;
    milliseconds atMost;
};

void PrintTo(const RunCase& c, std::ostream* os) {
    *os << c.name;
}

QStringList shell(const char* script) {
    return {QStringLiteral("-c"), QString::fromUtf8(script)};
}

class RunTable : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunTable, StatusAndTiming) {
    const RunCase& c = GetParam();
    const auto start = steady_clock::now();
    const int status = runTask(SystemTools::run(c.program, c.arguments, c.timeout), seconds(30));
    const auto elapsed = duration_cast<milliseconds>(steady_clock::now() - start);
    EXPECT_EQ(status, c.status);
    EXPECT_GE(elapsed, c.atLeast);
    EXPECT_LE(elapsed, c.atMost);
}

const QString sh = QStringLiteral("/bin/sh");

INSTANTIATE_TEST_SUITE_P(
    SystemTools, RunTable,
    ::testing::Values(
        // A program that cannot be launched answers at once, not after its time-out.
        RunCase{"missing", QStringLiteral("/nonexistent/orvane-tool"), {}, 30.0, -1, 0ms, 2000ms},
        RunCase{"missingWithoutTimeout",
                QStringLiteral("/nonexistent/orvane-tool"),
                {},
                std::nullopt,
                -1,
                0ms,
                2000ms},
        RunCase{"directory", QStringLiteral("/tmp"), {}, 30.0, -1, 0ms, 2000ms},
        RunCase{"success", sh, shell("exit 0"), std::nullopt, 0, 0ms, 5000ms},
        RunCase{"exitCode3", sh, shell("exit 3"), 10.0, 3, 0ms, 5000ms},
        RunCase{"exitCode255", sh, shell("exit 255"), std::nullopt, 255, 0ms, 5000ms},
        RunCase{"argumentsPassed",
                sh,
                {QStringLiteral("-c"), QStringLiteral("exit $1"), QStringLiteral("x"), QStringLiteral("42")},
                std::nullopt,
                42,
                0ms,
                5000ms},
        // Terminated after its time-out: the status of a process ended by SIGTERM.
        RunCase{"hangingTerminated",
                QStringLiteral("/bin/sleep"),
                {QStringLiteral("60")},
                0.3,
                15,
                250ms,
                5000ms},
        // The same status rule when the signal does not come from the time-out.
        RunCase{"selfTerminated", sh, shell("kill -TERM $$"), std::nullopt, 15, 0ms, 5000ms},
        RunCase{"selfKilled", sh, shell("kill -KILL $$"), std::nullopt, 9, 0ms, 5000ms},
        RunCase{"crashed", sh, shell("kill -SEGV $$"), 10.0, 11, 0ms, 5000ms},
        // A tool that ignores SIGTERM is killed after the grace period instead of holding its caller forever.
        RunCase{"ignoresTerm", sh, shell("trap '' TERM; exec sleep 60"), 0.2, 9, 5000ms, 12000ms},
        RunCase{"finishesBeforeTimeout", sh, shell("sleep 0.1; exit 4"), 5.0, 4, 50ms, 4000ms}),
    [](const auto& info) { return std::string(info.param.name); });

QCoro::Task<QList<int>> runTogether() {
    auto a = SystemTools::run(sh, shell("sleep 0.3; exit 1"));
    auto b = SystemTools::run(sh, shell("exit 2"));
    auto c = SystemTools::run(QStringLiteral("/nonexistent/tool"), {});
    auto d = SystemTools::run(QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, 0.2);
    QList<int> results;
    results << co_await std::move(a);
    results << co_await std::move(b);
    results << co_await std::move(c);
    results << co_await std::move(d);
    co_return results;
}

TEST(SystemTools, RunsAtTheSameTimeKeepTheirOwnResults) {
    EXPECT_EQ(runTask(runTogether()), (QList<int>{1, 2, -1, 15}));
}

// Output and error of the tool must not reach the connector's own streams (in agent-less runs they are the
// terminal or the journal).
TEST(SystemTools, OutputGoesNowhere) {
    TestSupport::TempDir dir;
    const QString capture = dir.file(QStringLiteral("captured"));
    fflush(stdout);
    fflush(stderr);
    const int savedOut = dup(1), savedErr = dup(2);
    const int file = open(QFile::encodeName(capture).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, 1);
    dup2(file, 2);
    const int status =
        runTask(SystemTools::run(sh, shell("echo ORVANE-LEAK-OUT; echo ORVANE-LEAK-ERR >&2; exit 0")));
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    close(file);
    EXPECT_EQ(status, 0);
    QFile captured(capture);
    ASSERT_TRUE(captured.open(QIODevice::ReadOnly));
    EXPECT_FALSE(captured.readAll().contains("ORVANE-LEAK"));
}

struct ArgumentsCase {
    const char* name;
    QStringList arguments;
    QStringList expected;
};

void PrintTo(const ArgumentsCase& c, std::ostream* os) {
    *os << c.name;
}

class KickstartArguments : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(KickstartArguments, Exact) {
    EXPECT_EQ(GetParam().arguments, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    SystemTools, KickstartArguments,
    ::testing::Values(ArgumentsCase{"launchctlStart",
                                    SystemTools::launchctlKickstartArguments(false, 501),
                                    {QStringLiteral("kickstart"),
                                     QStringLiteral("gui/501/com.tamrik.senvik.connector.agent")}},
                      ArgumentsCase{"launchctlRestart",
                                    SystemTools::launchctlKickstartArguments(true, 501),
                                    {QStringLiteral("kickstart"), QStringLiteral("-k"),
                                     QStringLiteral("gui/501/com.tamrik.senvik.connector.agent")}},
                      ArgumentsCase{"launchctlOtherUser",
                                    SystemTools::launchctlKickstartArguments(false, 0),
                                    {QStringLiteral("kickstart"),
                                     QStringLiteral("gui/0/com.tamrik.senvik.connector.agent")}}),
    [](const auto& info) { return std::string(info.param.name); });

// kickstartAgent through a stand-in service-manager tool: it sees systemd's command lines and its status
// comes back.
TEST(SystemTools, KickstartRunsTheToolWithItsArguments) {
    TestSupport::TempDir dir;
    const QString record = dir.file(QStringLiteral("args"));
    const QString tool = dir.file(QStringLiteral("systemctl"));
    ASSERT_TRUE(TestSupport::writeFile(
        tool,
        QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done >> '%1'\nexit 7\n")
            .arg(record)
            .toUtf8(),
        0755));
    for (const bool restart : {false, true}) {
        QFile::remove(record);
        EXPECT_EQ(runTask(SystemTools::kickstartAgent(restart, tool)), 7);
        QFile recorded(record);
        ASSERT_TRUE(recorded.open(QIODevice::ReadOnly));
        QStringList lines = QString::fromUtf8(recorded.readAll()).split(QLatin1Char('\n'));
        lines.removeAll(QString());
        EXPECT_EQ(lines.join(' '), QStringLiteral("--user %1 com.tamrik.senvik.connector.agent.service")
                                       .arg(restart ? "restart" : "start"));
    }
}

TEST(SystemTools, KickstartWithAMissingToolFailsAtOnce) {
    const auto start = steady_clock::now();
    EXPECT_EQ(runTask(SystemTools::kickstartAgent(false, QStringLiteral("/nonexistent/systemctl"))), -1);
    EXPECT_LT(steady_clock::now() - start, seconds(2));
}

TEST(SystemTools, KickstartOfAHangingToolEndsAtItsTimeout) {
    TestSupport::TempDir dir;
    const QString tool = dir.file(QStringLiteral("systemctl"));
    ASSERT_TRUE(TestSupport::writeFile(tool, "#!/bin/sh\nexec sleep 60\n", 0755));
    EXPECT_EQ(runTask(SystemTools::kickstartAgent(true, tool, 0.3)), 15);
}

} // namespace
