// The run-mode decision, seen from outside: the built connector copied into throw-away bundles.
#include "RunTask.h"
#include "TestBundle.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <ostream>

#include <cstdlib>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const QByteArray messageA = "隔离验证包必须显式指定 --isolated-validation，未启动任何后台项。\n";
const QByteArray messageB =
    "隔离验证需要自有的 /private/tmp/senvik-connector-validation-* 目录，不能启动系统后台项。\n";

enum class Info { ordinary, validation, validationAsText, validationAsInteger, validationFalse, none };
enum class Dir { unset, valid, viaLink, missing, misplaced, wrongPrefix, otherOwner };
enum class Outcome { refusedA, refusedB, agent, application };

struct EntryCase {
    const char* name;
    Info info;
    QStringList arguments;
    Dir dir;
    Outcome outcome;
};

void PrintTo(const EntryCase& c, std::ostream* os) {
    *os << c.name;
}

std::optional<QByteArray> infoBody(Info info) {
    const QByteArray base = "<key>CFBundleIdentifier</key><string>com.tamrik.senvik.connector</string>\n"
                            "<key>CFBundleVersion</key><string>7</string>\n";
    switch (info) {
    case Info::ordinary:
        return base;
    case Info::validation:
        return base + "<key>SenvikIsolatedValidation</key><true/>";
    case Info::validationAsText:
        return base + "<key>SenvikIsolatedValidation</key><string>true</string>";
    case Info::validationAsInteger:
        return base + "<key>SenvikIsolatedValidation</key><integer>1</integer>";
    case Info::validationFalse:
        return base + "<key>SenvikIsolatedValidation</key><false/>";
    case Info::none:
        return std::nullopt;
    }
    return std::nullopt;
}

// A directory /tmp/senvik-connector-validation-XXXXXX, removed again at the end of the case.
class ValidationDir {
public:
    ValidationDir() {
        QByteArray name = "/tmp/senvik-connector-validation-XXXXXX";
        if (::mkdtemp(name.data()))
            path_ = QString::fromUtf8(name);
    }
    ~ValidationDir() {
        if (!path_.isEmpty())
            QDir(path_).removeRecursively();
    }
    const QString& path() const { return path_; }
    bool isEmpty() const {
        return QDir(path_).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private:
    QString path_;
};

const QString iv = QStringLiteral("--isolated-validation");
const QString agent = QStringLiteral("--agent");
const QString menubar = QStringLiteral("--menubar");

class EntryTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(EntryTest, DecidesTheRunMode) {
    const EntryCase& c = GetParam();
    if (c.dir == Dir::otherOwner && ::geteuid() != 0)
        GTEST_SKIP() << "giving a directory to another user needs root";

    TestBundle bundle(infoBody(c.info));
    bundle.installRecordingRuntime();
    ValidationDir validation;
    ASSERT_FALSE(validation.path().isEmpty());
    TestSupport::TempDir elsewhere;

    QProcessEnvironment env = bundle.environment();
    switch (c.dir) {
    case Dir::unset:
        break;
    case Dir::valid:
        env.insert(QStringLiteral("SENVIK_CONNECTOR_VALIDATION_DIR"), validation.path());
        break;
    case Dir::viaLink: {
        const QString link = elsewhere.file(QStringLiteral("link"));
        ASSERT_TRUE(QFile::link(validation.path(), link));
        env.insert(QStringLiteral("SENVIK_CONNECTOR_VALIDATION_DIR"), link);
        break;
    }
    case Dir::missing:
        env.insert(QStringLiteral("SENVIK_CONNECTOR_VALIDATION_DIR"),
                   validation.path() + QStringLiteral("-gone"));
        break;
    case Dir::misplaced: {
        const QString misplaced = elsewhere.file(QStringLiteral("senvik-connector-validation-1"));
        ASSERT_TRUE(QDir().mkpath(misplaced));
        env.insert(QStringLiteral("SENVIK_CONNECTOR_VALIDATION_DIR"), misplaced);
        break;
    }
    case Dir::wrongPrefix:
        env.insert(QStringLiteral("SENVIK_CONNECTOR_VALIDATION_DIR"), elsewhere.path());
        break;
    case Dir::otherOwner:
        ASSERT_EQ(::chown(validation.path().toUtf8().constData(), 65534, 65534), 0);
        env.insert(QStringLiteral("SENVIK_CONNECTOR_VALIDATION_DIR"), validation.path());
        break;
    }

    if (c.outcome == Outcome::application) {
        // The application reaches its event loop in the chosen mode: the window it opens first says which
        // (the settings page in isolated validation, the start page for an ordinary first start).
        const QString probe = bundle.records() + QStringLiteral("/probe");
        env.insert(QStringLiteral("ORVANE_CONNECTOR_PROBE"), probe);
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(bundle.executable(), c.arguments);
        ASSERT_TRUE(app.waitForStarted(10000));
        const bool isolated = c.arguments.contains(iv);
        const QByteArray window = isolated ? " window settings\n" : " window start\n";
        const bool shown = TestSupport::spinUntil(
            [&] { return readAll(probe).contains(window) || app.state() != QProcess::Running; }, 30s);
        const QByteArray events = readAll(probe);
        const bool stillRunning = app.state() == QProcess::Running;
        app.kill();
        app.waitForFinished(10000);
        const QByteArray err = app.readAllStandardError();
        EXPECT_TRUE(shown && stillRunning) << "ended or hung before its window; events:\n"
                                           << events.toStdString() << err.toStdString();
        EXPECT_TRUE(events.contains(window)) << events.toStdString();
        EXPECT_TRUE(events.contains(" status item\n")) << events.toStdString();
        EXPECT_FALSE(events.contains(" quit ")) << events.toStdString();
        EXPECT_FALSE(bundle.runtimeRan());
        EXPECT_FALSE(err.contains(messageA.chopped(1)));
        EXPECT_FALSE(err.contains(messageB.chopped(1)));
        return;
    }

    const Finished run = runProcess(bundle.executable(), c.arguments, env, 30000);
    switch (c.outcome) {
    case Outcome::refusedA:
    case Outcome::refusedB:
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, c.outcome == Outcome::refusedA ? messageA : messageB);
        EXPECT_EQ(run.out, QByteArray());
        EXPECT_EQ(bundle.homeEntries(), QStringList()) << "a refused start creates nothing";
        EXPECT_TRUE(validation.isEmpty());
        EXPECT_FALSE(bundle.runtimeRan());
        break;
    case Outcome::agent:
        ASSERT_TRUE(run.finished) << run.err.toStdString();
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(bundle.runtimeRan());
        EXPECT_TRUE(QFile::exists(bundle.bridgeLog()));
        break;
    case Outcome::application:
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    RunModes, EntryTest,
    ::testing::Values(
        // A validation bundle refuses every start without the explicit flag.
        EntryCase{"ValidationNoFlags", Info::validation, {}, Dir::unset, Outcome::refusedA},
        EntryCase{"ValidationAgent", Info::validation, {agent}, Dir::valid, Outcome::refusedA},
        EntryCase{"ValidationMenubar", Info::validation, {menubar}, Dir::unset, Outcome::refusedA},
        EntryCase{"ValidationFlagWithValue",
                  Info::validation,
                  {QStringLiteral("--isolated-validation=1")},
                  Dir::valid,
                  Outcome::refusedA},
        EntryCase{"ValidationFlagWrongCase",
                  Info::validation,
                  {QStringLiteral("--Isolated-Validation")},
                  Dir::valid,
                  Outcome::refusedA},
        // The flag needs a private directory of this user under the temporary root.
        EntryCase{"FlagWithoutDirectory", Info::validation, {iv}, Dir::unset, Outcome::refusedB},
        EntryCase{"FlagMissingDirectory", Info::validation, {iv}, Dir::missing, Outcome::refusedB},
        EntryCase{"FlagMisplacedDirectory", Info::validation, {iv}, Dir::misplaced, Outcome::refusedB},
        EntryCase{"FlagWrongPrefix", Info::validation, {iv}, Dir::wrongPrefix, Outcome::refusedB},
        EntryCase{"FlagOtherOwner", Info::validation, {iv}, Dir::otherOwner, Outcome::refusedB},
        EntryCase{
            "OrdinaryBundleFlagMissingDirectory", Info::ordinary, {iv}, Dir::missing, Outcome::refusedB},
        // A validation run never runs the agent.
        EntryCase{"FlagAndAgent", Info::validation, {iv, agent}, Dir::valid, Outcome::refusedB},
        EntryCase{"AgentAndFlag", Info::validation, {agent, menubar, iv}, Dir::valid, Outcome::refusedB},
        EntryCase{"OrdinaryFlagAndAgent", Info::ordinary, {iv, agent}, Dir::valid, Outcome::refusedB},
        // Valid validation runs start the application.
        EntryCase{"FlagValidDirectory", Info::validation, {iv}, Dir::valid, Outcome::application},
        EntryCase{"FlagDirectoryThroughLink", Info::validation, {iv}, Dir::viaLink, Outcome::application},
        EntryCase{"FlagLookalikesOfAgent",
                  Info::validation,
                  {iv, QStringLiteral("x--agent"), QStringLiteral("--agent=1")},
                  Dir::valid,
                  Outcome::application},
        // Ordinary bundles: --agent anywhere wins; only whole elements count.
        EntryCase{"OrdinaryAgent", Info::ordinary, {agent}, Dir::unset, Outcome::agent},
        EntryCase{"OrdinaryMenubarAndAgent",
                  Info::ordinary,
                  {menubar, QStringLiteral("x"), agent, agent},
                  Dir::unset,
                  Outcome::agent},
        EntryCase{
            "OrdinaryAgentIgnoresDirectoryVariable", Info::ordinary, {agent}, Dir::valid, Outcome::agent},
        EntryCase{"OrdinaryAgentWithValue",
                  Info::ordinary,
                  {QStringLiteral("--agent=1")},
                  Dir::unset,
                  Outcome::application},
        EntryCase{"OrdinaryPrefixedAgent",
                  Info::ordinary,
                  {QStringLiteral("x--agent")},
                  Dir::unset,
                  Outcome::application},
        EntryCase{"OrdinaryNoFlags", Info::ordinary, {}, Dir::unset, Outcome::application},
        // Only a Boolean true marks a validation bundle.
        EntryCase{"MarkAsText", Info::validationAsText, {agent}, Dir::unset, Outcome::agent},
        EntryCase{"MarkAsInteger", Info::validationAsInteger, {agent}, Dir::unset, Outcome::agent},
        EntryCase{"MarkFalse", Info::validationFalse, {agent}, Dir::unset, Outcome::agent},
        EntryCase{"NoInfoPlist", Info::none, {agent}, Dir::unset, Outcome::agent}),
    [](const ::testing::TestParamInfo<EntryCase>& info) { return std::string(info.param.name); });

} // namespace
