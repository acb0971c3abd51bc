// The connector as a real process in menu-bar mode (the validation bundle, isolated), observed through its
// probe file: against the stand-in bridge, with no tray at all, and under a virtual X display whose tray
// host starts only after the connector.
#include "RunTask.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <chrono>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

QString bundleExecutable() {
    return TestSupport::buildDir() +
           QStringLiteral("/validation/Orvane 连接器.app/Contents/MacOS/OrvaneConnector");
}

// A process ended on every path out of the test.
struct Child {
    QProcess process;
    ~Child() {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(2000);
    }
};

class MenuBarProcess : public ::testing::Test {
protected:
    void SetUp() override {
        QByteArray name = "/tmp/senvik-connector-validation-XXXXXX";
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        validationDir_ = QString::fromUtf8(name);
        ASSERT_TRUE(QFileInfo(bundleExecutable()).isExecutable()) << "the validation bundle is built";
    }
    void TearDown() override {
        while (!children_.empty()) // the last started first: the display outlives its clients
            children_.pop_back();
        QDir(validationDir_).removeRecursively();
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env;
        env.insert(QStringLiteral("HOME"), home_.path());
        env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home_.path());
        env.insert(QStringLiteral("SENVIK_CONNECTOR_VALIDATION_DIR"), validationDir_);
        env.insert(QStringLiteral("ORVANE_CONNECTOR_PROBE"), probe());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }
    QString probe() const { return home_.file(QStringLiteral("probe")); }

    QProcess& start(const QString& program, const QStringList& arguments, const QProcessEnvironment& env) {
        children_.push_back(std::make_unique<Child>());
        QProcess& p = children_.back()->process;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(program, arguments);
        EXPECT_TRUE(p.waitForStarted(5000)) << program.toStdString();
        return p;
    }

    void startStandin(const QByteArray& scenario) {
        const QString file = home_.file(QStringLiteral("scenario.json"));
        TestSupport::writeFile(file, scenario);
        start(TestSupport::buildDir() + QStringLiteral("/tools/bridge-standin/bridge-standin"),
              {QStringLiteral("main.ts"), QStringLiteral("start"), QStringLiteral("--data-dir"),
               validationDir_, QStringLiteral("--scenario"), file},
              environment());
    }

    QProcess& startConnector(const QProcessEnvironment& env) {
        return start(bundleExecutable(),
                     {QStringLiteral("--isolated-validation"), QStringLiteral("--menubar")}, env);
    }

    // The probe's events, without their time stamps.
    QStringList events() const {
        QFile file(probe());
        QStringList lines;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray& line : file.readAll().split('\n'))
                if (const qsizetype space = line.indexOf(' '); space > 0)
                    lines << QString::fromUtf8(line.mid(space + 1));
        return lines;
    }
    bool waitFor(const QString& event, std::chrono::milliseconds deadline) const {
        return TestSupport::spinUntil([&] { return events().contains(event); }, deadline);
    }

    TestSupport::TempDir home_;
    QString validationDir_;
    std::vector<std::unique_ptr<Child>> children_;
};

TEST_F(MenuBarProcess, ShowsTheStandinBridgeRunningWithoutATray) {
    startStandin(R"({"status": {"port": 48125, "engines": [{"engine": "codex", "installed": true,
                    "version": "0.30.0", "login": "logged_in"}]}, "pairings": []})");
    startConnector(environment());
    ASSERT_TRUE(waitFor(QStringLiteral("status item"), 15s)) << events().join('\n').toStdString();
    EXPECT_TRUE(waitFor(QStringLiteral("tooltip Orvane 连接器：一切正常"), 10s))
        << events().join('\n').toStdString();
    const QStringList seen = events();
    EXPECT_TRUE(seen.contains(QStringLiteral("tray missing")));
    for (const QString& event : seen)
        EXPECT_FALSE(event.startsWith(QStringLiteral("window"))) << "menu-bar mode opens no window";
}

// Many panels start after login items: the icon must appear when the tray host does.
TEST_F(MenuBarProcess, TheIconAppearsWhenATrayHostStartsLater) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
    ASSERT_FALSE(xvfb.isEmpty()) << "Xvfb (Debian package xvfb) is needed";
    ASSERT_FALSE(trayer.isEmpty()) << "trayer is needed";

    // A display number of our own: the first free one from a per-process start.
    int display = 200 + int(::getpid() % 500);
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(display)))
        ++display;
    const QString name = QStringLiteral(":%1").arg(display);
    start(xvfb,
          {name, QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
           QStringLiteral("0"), QStringLiteral("800x600x24")},
          environment());
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)); }, 15s));

    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("DISPLAY"), name);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    startConnector(env);
    ASSERT_TRUE(waitFor(QStringLiteral("tray missing"), 15s)) << events().join('\n').toStdString();
    EXPECT_FALSE(events().contains(QStringLiteral("tray shown")));

    start(trayer,
          {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
           QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
           QStringLiteral("--height"), QStringLiteral("24")},
          env);
    EXPECT_TRUE(waitFor(QStringLiteral("tray shown"), 15s)) << events().join('\n').toStdString();
}

} // namespace
