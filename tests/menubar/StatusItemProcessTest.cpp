// The connector as a real process in menu-bar mode (the validation bundle, isolated), observed through its
// probe file: against the stand-in bridge without a tray, and under Xvfb with a tray host started later.
#include "RunTask.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

class MenuBarProcess : public ::testing::Test {
protected:
    void SetUp() override {
        QByteArray name = "/tmp/senvik-connector-validation-XXXXXX";
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        validationDir = QString::fromUtf8(name);
        env.insert("HOME", home.path());
        env.insert("PATH", "/usr/bin:/bin");
        env.insert("XDG_RUNTIME_DIR", home.path());
        env.insert("SENVIK_CONNECTOR_VALIDATION_DIR", validationDir);
        env.insert("ORVANE_CONNECTOR_PROBE", home.file("probe"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
    }
    void TearDown() override {
        while (!children.empty()) { // the last started ends first: the display outlives its clients
            QProcess& p = *children.back();
            p.terminate();
            if (!p.waitForFinished(5000))
                p.kill();
            p.waitForFinished(2000);
            children.pop_back();
        }
        QDir(validationDir).removeRecursively();
    }

    void start(const QString& program, const QStringList& arguments) {
        auto& p = *children.emplace_back(std::make_unique<QProcess>());
        p.setProcessEnvironment(env);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(program, arguments);
        ASSERT_TRUE(p.waitForStarted(5000)) << program.toStdString();
    }
    void startConnector() {
        start(TestSupport::buildDir() + "/validation/Orvane 连接器.app/Contents/MacOS/OrvaneConnector",
              {"--isolated-validation", "--menubar"});
    }

    // The probe's events, without their time stamps.
    QStringList events() const {
        QFile file(home.file("probe"));
        QStringList lines;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray& line : file.readAll().split('\n'))
                lines << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
        return lines;
    }
    bool waitFor(const QString& event) const {
        return TestSupport::spinUntil([&] { return events().contains(event); }, 15s);
    }

    TestSupport::TempDir home;
    QString validationDir;
    QProcessEnvironment env;
    std::vector<std::unique_ptr<QProcess>> children;
};

TEST_F(MenuBarProcess, ShowsTheStandinBridgeRunningWithoutATray) {
    TestSupport::writeFile(home.file("scenario.json"),
                           R"({"status": {"port": 48125, "engines": [{"engine": "codex",
        "installed": true, "version": "0.30.0", "login": "logged_in"}]}, "pairings": []})");
    start(TestSupport::buildDir() + "/tools/bridge-standin/bridge-standin",
          {"main.ts", "start", "--data-dir", validationDir, "--scenario", home.file("scenario.json")});
    startConnector();
    EXPECT_TRUE(waitFor("tooltip Orvane 连接器：一切正常")) << events().join('\n').toStdString();
    EXPECT_TRUE(events().contains("tray missing"));
    EXPECT_TRUE(events().filter(QRegularExpression("^window")).isEmpty()) << "menu-bar mode opens no window";
}

// Many panels start after login items: the icon must appear when the tray host does.
TEST_F(MenuBarProcess, TheIconAppearsWhenATrayHostStartsLater) {
    const QString trayer = QStandardPaths::findExecutable("trayer");
    ASSERT_FALSE(trayer.isEmpty() || QStandardPaths::findExecutable("Xvfb").isEmpty()) << "xvfb and trayer";
    int display = 200 + int(::getpid() % 500); // a free display number of our own
    while (QFile::exists(QString("/tmp/.X11-unix/X%1").arg(display)) ||
           QFile::exists(QString("/tmp/.X%1-lock").arg(display)))
        ++display;
    start("Xvfb", {QString(":%1").arg(display), "-nolisten", "tcp", "-screen", "0", "800x600x24"});
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return QFile::exists(QString("/tmp/.X11-unix/X%1").arg(display)); }, 15s));
    env.insert("DISPLAY", QString(":%1").arg(display));
    env.insert("QT_QPA_PLATFORM", "xcb");
    startConnector();
    ASSERT_TRUE(waitFor("tray missing")) << events().join('\n').toStdString();
    EXPECT_FALSE(events().contains("tray shown"));
    start(trayer, {"--edge", "top", "--widthtype", "request", "--height", "24"});
    EXPECT_TRUE(waitFor("tray shown")) << events().join('\n').toStdString();
}

} // namespace
