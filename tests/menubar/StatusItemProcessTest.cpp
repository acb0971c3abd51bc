// The connector as a real process in menu-bar mode (the validation bundle, isolated), observed through its
// probe file: against the stand-in bridge without a tray, under Xvfb with a tray host started later, and on a
// D-Bus session of its own with a StatusNotifier watcher played by the test.
#include "RunTask.h"
#include "TempHome.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
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
    // A display of its own, for the xcb platform.
    void startXvfb() {
        int display = 200 + int(::getpid() % 500); // a free display number of our own
        while (QFile::exists(QString("/tmp/.X11-unix/X%1").arg(display)) ||
               QFile::exists(QString("/tmp/.X%1-lock").arg(display)))
            ++display;
        start("Xvfb", {QString(":%1").arg(display), "-nolisten", "tcp", "-screen", "0", "800x600x24"});
        ASSERT_TRUE(TestSupport::spinUntil(
            [&] { return QFile::exists(QString("/tmp/.X11-unix/X%1").arg(display)); }, 15s));
        env.insert("DISPLAY", QString(":%1").arg(display));
        env.insert("QT_QPA_PLATFORM", "xcb");
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
    startXvfb();
    startConnector();
    ASSERT_TRUE(waitFor("tray missing")) << events().join('\n').toStdString();
    EXPECT_FALSE(events().contains("tray shown"));
    start(trayer, {"--edge", "top", "--widthtype", "request", "--height", "24"});
    EXPECT_TRUE(waitFor("tray shown")) << events().join('\n').toStdString();
}

// The host side of org.kde.StatusNotifierWatcher: notes each item that registers.
class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")

public:
    QStringList items;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { items << service; }
};

// StatusNotifier hosts get the icon whether they were there first (here on X11) or started later (here
// offscreen, as on Wayland): one item, with the health as its tool tip's body, and a left click that opens
// the window on the page a reopen shows (onboarding is not complete here: the start page).
TEST_F(MenuBarProcess, TheIconGoesToAStatusNotifierHostFirstOrLater) {
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    ASSERT_FALSE(daemon.isEmpty()) << "dbus-daemon";
    for (const bool hostFirst : {true, false}) {
        SCOPED_TRACE(hostFirst ? "host first, xcb" : "host later, offscreen");
        TearDown();
        QFile::remove(home.file("probe"));
        QProcess& bus = *children.emplace_back(std::make_unique<QProcess>());
        bus.start(daemon, {"--session", "--nofork", "--print-address=1"});
        ASSERT_TRUE(bus.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        const QString name = hostFirst ? "host-first" : "host-later";
        QDBusConnection host = QDBusConnection::connectToBus(address, name);
        ASSERT_TRUE(host.isConnected());
        Watcher watcher;
        const auto becomeHost = [&] {
            ASSERT_TRUE(
                host.registerObject("/StatusNotifierWatcher", &watcher, QDBusConnection::ExportAllSlots));
            ASSERT_TRUE(host.registerService("org.kde.StatusNotifierWatcher"));
        };
        env.insert("DBUS_SESSION_BUS_ADDRESS", address);
        TestSupport::writeFile(home.file("scenario.json"), R"({"status": {"port": 48126}, "pairings": []})");
        start(TestSupport::buildDir() + "/tools/bridge-standin/bridge-standin",
              {"main.ts", "start", "--data-dir", validationDir, "--scenario", home.file("scenario.json")});
        if (hostFirst) {
            becomeHost();
            startXvfb();
        } else {
            env.insert("QT_QPA_PLATFORM", "offscreen");
        }
        startConnector();
        ASSERT_TRUE(waitFor("tooltip Orvane 连接器：一切正常")) << events().join('\n').toStdString();
        if (!hostFirst) {
            EXPECT_TRUE(events().contains("tray missing"));
            becomeHost();
        }
        ASSERT_TRUE(waitFor("tray shown")) << events().join('\n').toStdString();
        ASSERT_EQ(watcher.items.size(), 1);
        const QString item = watcher.items[0];

        QDBusMessage get = QDBusMessage::createMethodCall(item, "/StatusNotifierItem",
                                                          "org.freedesktop.DBus.Properties", "Get");
        get << QString("org.kde.StatusNotifierItem") << QString("ToolTip");
        const auto tip =
            host.call(get).arguments().value(0).value<QDBusVariant>().variant().value<QDBusArgument>();
        QString tipIcon, tipTitle, tipText;
        tip.beginStructure();
        tip >> tipIcon;
        tip.asVariant(); // the pictures
        tip >> tipTitle >> tipText;
        tip.endStructure();
        EXPECT_EQ(tipTitle, "Orvane 连接器");
        EXPECT_EQ(tipText, "一切正常");

        host.call(QDBusMessage::createMethodCall(item, "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                                                 "Activate")
                  << 10 << 10);
        EXPECT_TRUE(waitFor("window start")) << events().join('\n').toStdString();
        QDBusConnection::disconnectFromBus(name);
    }
}

} // namespace

#include "StatusItemProcessTest.moc"
