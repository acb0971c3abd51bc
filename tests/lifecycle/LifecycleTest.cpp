// The application lifecycle as real processes: copies of the built connector in a throw-away bundle, each
// test with its own HOME and runtime directory, observed through the test-only probe file.
#include "RunTask.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

qint64 nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// One user's world: a bundle (under an AppTranslocation path, where the connector registers no background
// item), a home, a private runtime directory.
class World {
public:
    World() {
        bundle_ = root_.file("AppTranslocation/T/Orvane 连接器.app");
        QDir().mkpath(bundle_ + "/Contents/MacOS");
        EXPECT_TRUE(QFile::copy(QStringLiteral(CONNECTOR_EXECUTABLE), executable()));
        QFile::setPermissions(executable(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        EXPECT_TRUE(
            TestSupport::writeFile(bundle_ + "/Contents/Info.plist",
                                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                   "<key>CFBundleIdentifier</key><string>com.tamrik.senvik.connector</string>"
                                   "<key>CFBundleExecutable</key><string>OrvaneConnector</string>"
                                   "<key>SenvikIsolatedValidation</key><false/></dict></plist>\n"));
        QDir().mkpath(home());
        QDir().mkpath(runtime());
        ::chmod(QFile::encodeName(runtime()).constData(), 0700);
    }

    QString executable() const { return bundle_ + "/Contents/MacOS/OrvaneConnector"; }
    QString home() const { return root_.file("home"); }
    QString runtime() const { return root_.file("run"); }
    QString file(const QString& name) const { return root_.file(name); }

    void setPreferences(bool showsStatusItemAtLogin, bool startCompleted) {
        const QByteArray text = QByteArray("[General]\nshowsStatusItemAtLogin=") +
                                (showsStatusItemAtLogin ? "true" : "false") +
                                "\nstartCompleted=" + (startCompleted ? "true" : "false") + "\n";
        ASSERT_TRUE(TestSupport::writeFile(home() + "/.config/com.tamrik.senvik.connector.conf", text));
    }

    QProcessEnvironment environment(const QString& probe) const {
        QProcessEnvironment env;
        env.insert("HOME", home());
        env.insert("XDG_CONFIG_HOME", home() + "/.config");
        env.insert("XDG_RUNTIME_DIR", runtime());
        env.insert("PATH", "/usr/bin:/bin");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LANG", "C.UTF-8");
        env.insert("ORVANE_CONNECTOR_PROBE", probe);
        return env;
    }

private:
    TestSupport::TempDir root_;
    QString bundle_;
};

struct Event {
    qint64 at;
    QString what;
};

// One started connector process and what it reported.
class Instance {
public:
    Instance(const World& world, const QString& name, const QStringList& arguments,
             const QMap<QString, QString>& extraEnv = {}, rlim_t maxFiles = 0)
        : probe_(world.file(name + ".probe")) {
        if (maxFiles > 0)
            process_.setChildProcessModifier([maxFiles] {
                const rlimit limit{maxFiles, maxFiles};
                ::setrlimit(RLIMIT_NOFILE, &limit);
            });
        QProcessEnvironment env = world.environment(probe_);
        for (auto it = extraEnv.begin(); it != extraEnv.end(); ++it)
            env.insert(it.key(), it.value());
        process_.setProcessEnvironment(env);
        process_.setProgram(world.executable());
        process_.setArguments(arguments);
        // Standard error is kept for errors(); it is passed on when the instance goes.
        process_.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        process_.start();
        EXPECT_TRUE(process_.waitForStarted(5000));
    }
    ~Instance() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
        std::cerr << errors().toStdString();
    }

    QList<Event> events() const {
        QList<Event> result;
        QFile file(probe_);
        if (!file.open(QIODevice::ReadOnly))
            return result;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const qsizetype space = line.indexOf(' ');
            if (space > 0)
                result.append({line.left(space).toLongLong(), QString::fromUtf8(line.mid(space + 1))});
        }
        return result;
    }
    std::optional<qint64> at(const QString& what) const {
        for (const Event& e : events())
            if (e.what == what)
                return e.at;
        return std::nullopt;
    }
    bool saw(const QString& what) const { return at(what).has_value(); }
    bool sawPrefix(const QString& prefix) const {
        for (const Event& e : events())
            if (e.what.startsWith(prefix))
                return true;
        return false;
    }
    // Waits for an event while the process may still run; false at the deadline.
    bool waitFor(const QString& what, std::chrono::milliseconds deadline = 30s) const {
        return TestSupport::spinUntil([&] { return saw(what); }, deadline);
    }

    // What it wrote to standard error so far.
    QString errors() {
        errors_ += QString::fromUtf8(process_.readAllStandardError());
        return errors_;
    }

    bool running() const { return process_.state() == QProcess::Running; }
    // The moment the process ended (steady clock, ms), or nothing at the deadline.
    std::optional<qint64> waitForExit(std::chrono::milliseconds deadline) {
        if (!process_.waitForFinished(int(deadline.count())))
            return std::nullopt;
        return nowMs();
    }
    int exitCode() const { return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1; }
    // The old instance quits (an orderly end is not needed here: it only has to disappear).
    qint64 stop() {
        process_.kill();
        process_.waitForFinished(5000);
        return nowMs();
    }

private:
    QString probe_;
    QProcess process_;
    QString errors_;
};

} // namespace

// A second start ends at once, creates neither status item nor window, and passes on what it was started for.
TEST(LifecycleTest, SecondStartHandsOverAndEnds) {
    struct Case {
        const char* name;
        QStringList arguments;
        QStringList primaryGets; // events the running instance reports afterwards
        bool primaryShowsWindow;
    };
    const QList<Case> cases = {
        {"plain start reopens", {}, {"reopen", "window start"}, true},
        {"menu-bar start passes nothing", {"--menubar"}, {}, false},
        {"links are handled by the running instance",
         {"senvik-connector://one", "senvik-connector://two"},
         {"link senvik-connector://one handled", "link senvik-connector://two handled"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world;
        world.setPreferences(true, false);
        Instance primary(world, "primary", {"--menubar"});
        ASSERT_TRUE(primary.waitFor("status item"));

        Instance second(world, "second", c.arguments);
        ASSERT_TRUE(second.waitForExit(30s).has_value());
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_TRUE(second.saw("quit other-instance"));
        EXPECT_FALSE(second.saw("status item"));
        EXPECT_FALSE(second.sawPrefix("window"));
        EXPECT_FALSE(second.sawPrefix("link"));
        EXPECT_EQ(second.errors().count(QStringLiteral("Orvane 连接器已在运行")), 1)
            << second.errors().toStdString();
        for (const QString& event : c.primaryGets)
            EXPECT_TRUE(primary.waitFor(event, 20s)) << event.toStdString();
        if (!c.primaryShowsWindow) {
            // The running instance takes hand-overs one after the other: once a later start's link is
            // handled, anything the second start could have caused has happened.
            Instance marker(world, "marker", {"senvik-connector://marker"});
            ASSERT_TRUE(primary.waitFor("link senvik-connector://marker handled", 30s));
            EXPECT_FALSE(primary.sawPrefix("window"));
            EXPECT_FALSE(primary.saw("reopen"));
        }
        EXPECT_TRUE(primary.running());
    }
}

// Hundreds of connections that never send a word, at a low descriptor limit: the running instance keeps its
// descriptors and its socket, and a later start still hands its link over.
TEST(LifecycleTest, HandOverSurvivesAConnectionFlood) {
    World world;
    world.setPreferences(true, false);
    Instance primary(world, "primary", {"--menubar"}, {}, 160);
    ASSERT_TRUE(primary.waitFor("status item"));
    const QStringList sockets = QDir(world.runtime()).entryList({"*.instance"}, QDir::System);
    ASSERT_EQ(sockets.size(), 1);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(world.runtime() + "/" + sockets.first());
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    std::vector<int> flood;
    for (int attempt = 0; flood.size() < 600 && attempt < 6000; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
            flood.push_back(fd);
            continue;
        }
        ::close(fd);
        if (errno != EAGAIN)
            break; // the socket is gone
        TestSupport::spinFor(5ms);
    }
    EXPECT_EQ(flood.size(), 600u);

    Instance second(world, "second", {"senvik-connector://after-flood"});
    EXPECT_TRUE(primary.waitFor("link senvik-connector://after-flood handled", 30s));
    ASSERT_TRUE(second.waitForExit(30s).has_value());
    EXPECT_TRUE(second.saw("handed over"));
    EXPECT_TRUE(primary.running());
    for (const int fd : flood)
        ::close(fd);
}

// Two starts at the same moment: exactly one stays, with the status item; the other hands over and ends.
TEST(LifecycleTest, SimultaneousStartsLeaveExactlyOne) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        World world;
        world.setPreferences(true, true);
        Instance first(world, "first", {"--menubar"});
        Instance second(world, "second", {"--menubar"});
        // Settled once one shows the status item (its instance check is behind it) and the other has ended.
        const auto handedOver = [&] {
            return first.saw("quit other-instance") || second.saw("quit other-instance");
        };
        ASSERT_TRUE(TestSupport::spinUntil(
            [&] { return (first.saw("status item") || second.saw("status item")) && handedOver(); }, 15s));
        Instance& other = first.saw("quit other-instance") ? first : second;
        ASSERT_TRUE(!other.running() || other.waitForExit(15s).has_value());
        EXPECT_EQ(int(first.running()) + int(second.running()), 1);
        EXPECT_EQ(int(first.saw("status item")) + int(second.saw("status item")), 1);
        EXPECT_EQ(int(first.saw("quit other-instance")) + int(second.saw("quit other-instance")), 1);
    }
}

// A process of the bundle in agent mode, still before it becomes the bridge (here held up by a slow login
// shell for about five seconds), is no application: neither a plain start nor one after an update waits for
// it or ends because of it.
TEST(LifecycleTest, AgentModeProcessIsNoOtherInstance) {
    for (const char* flag : {"--menubar", "--after-update"}) {
        SCOPED_TRACE(flag);
        World world;
        world.setPreferences(true, true);
        for (const char* profile : {"/.bash_profile", "/.profile", "/.zprofile"})
            ASSERT_TRUE(TestSupport::writeFile(world.home() + profile, "sleep 8\n"));
        Instance agent(world, "agent", {"--agent"}, {{"SHELL", "/bin/bash"}});
        TestSupport::spinFor(500ms);
        ASSERT_TRUE(agent.running()) << "the agent must still be before its execve";
        Instance app(world, "app", {QString::fromUtf8(flag)});
        ASSERT_TRUE(app.waitFor("status item", 10s));
        EXPECT_TRUE(agent.running()) << "waited for the agent";
        EXPECT_FALSE(app.saw("quit other-instance"));
        EXPECT_TRUE(app.running());
    }
}

// A minimized window counts as not visible: a link handled while it is minimized lets a start that keeps no
// status item end as after any link.
TEST(LifecycleTest, MinimizedWindowDoesNotKeepTheApplication) {
    World world;
    world.setPreferences(false, true);
    Instance app(world, "app", {}, {{"ORVANE_CONNECTOR_PROBE_MINIMIZE_WINDOW_MS", "300"}});
    ASSERT_TRUE(app.waitFor("window overview"));
    ASSERT_TRUE(app.waitFor("window minimized", 5s));
    Instance link(world, "link", {"senvik-connector://while-minimized"});
    ASSERT_TRUE(link.waitForExit(8s).has_value());
    ASSERT_TRUE(app.waitFor("link senvik-connector://while-minimized handled", 5s));
    EXPECT_TRUE(app.waitForExit(5s).has_value());
    EXPECT_TRUE(app.saw("quit idle"));
}

TEST(LifecycleTest, AfterUpdateWaitsForTheOldInstanceThenOpensNoWindow) {
    World world;
    world.setPreferences(true, true);
    Instance old(world, "old", {"--menubar"});
    ASSERT_TRUE(old.waitFor("status item"));

    Instance fresh(world, "new", {"--after-update"});
    ASSERT_TRUE(fresh.waitFor("waiting for the old instance", 30s));
    EXPECT_FALSE(fresh.saw("status item")) << "continued while the old instance still ran";
    const qint64 oldGone = old.stop();

    ASSERT_TRUE(fresh.waitFor("status item", 20s));
    const qint64 continued = *fresh.at("status item");
    EXPECT_GE(continued, oldGone - 50) << "continued while the old instance still ran";
    // The launch's last step is past: a window after an update would have opened before it.
    ASSERT_TRUE(fresh.waitFor("launched", 20s));
    EXPECT_FALSE(fresh.sawPrefix("window"));
    EXPECT_FALSE(fresh.sawPrefix("quit"));
    EXPECT_TRUE(fresh.running());
}

TEST(LifecycleTest, AfterUpdateGivesUpAfterAboutFiveSeconds) {
    World world;
    world.setPreferences(true, true);
    Instance old(world, "old", {"--menubar"});
    ASSERT_TRUE(old.waitFor("status item"));

    const qint64 started = nowMs();
    Instance fresh(world, "new", {"--after-update"});
    const std::optional<qint64> ended = fresh.waitForExit(40s);
    ASSERT_TRUE(ended.has_value());
    EXPECT_GE(*ended - started, 4500);
    EXPECT_LT(*ended - started, 20000);
    EXPECT_TRUE(fresh.saw("quit other-instance"));
    EXPECT_FALSE(fresh.saw("status item"));
    // After an update there is nothing to hand over: the old instance is not told to reopen.
    EXPECT_FALSE(old.saw("reopen"));
    EXPECT_TRUE(old.running());
}

// A start for links only: handled, then the application ends about a second later unless the user keeps
// the status item.
TEST(LifecycleTest, LinkOnlyStart) {
    struct Case {
        const char* name;
        bool showsStatusItemAtLogin;
        QStringList links;
        bool quits;
    };
    const QList<Case> cases = {
        {"one link, status item not kept", false, {"senvik-connector://only"}, true},
        {"two links, status item not kept",
         false,
         {"senvik-connector://first", "senvik-connector://second"},
         true},
        {"status item kept at login", true, {"senvik-connector://only"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world;
        world.setPreferences(c.showsStatusItemAtLogin, true);
        Instance app(world, "app", c.links);

        qint64 lastHandled = 0;
        for (const QString& link : c.links) {
            const QString event = "link " + link + " handled";
            ASSERT_TRUE(app.waitFor(event, 30s)) << event.toStdString();
            lastHandled = std::max(lastHandled, *app.at(event));
        }
        if (c.quits) {
            const std::optional<qint64> ended = app.waitForExit(30s);
            ASSERT_TRUE(ended.has_value());
            EXPECT_EQ(app.exitCode(), 0);
            EXPECT_GE(*ended - lastHandled, 900);
            // Every link was handled before the decision to quit.
            const std::optional<qint64> quit = app.at("quit idle");
            ASSERT_TRUE(quit.has_value());
            EXPECT_GE(*quit, lastHandled);
        } else {
            EXPECT_FALSE(app.waitForExit(3s).has_value());
        }
        EXPECT_FALSE(app.sawPrefix("window")) << "a start for a link opened the window";
    }
}

// Closing the window hides it and keeps the application; the benchmarks open and close the window many
// times, so the probe can also hide it after every showing. Opening the application again shows it again.
TEST(LifecycleTest, HiddenWindowKeepsTheApplicationAndShowsAgain) {
    for (const char* knob :
         {"ORVANE_CONNECTOR_PROBE_CLOSE_WINDOW_MS", "ORVANE_CONNECTOR_PROBE_HIDE_WINDOW_MS"}) {
        SCOPED_TRACE(knob);
        const bool everyShowing = QByteArray(knob).contains("HIDE");
        World world;
        world.setPreferences(false, true);
        Instance app(world, "app", {}, {{knob, "300"}});
        ASSERT_TRUE(app.waitFor("window overview"));
        ASSERT_TRUE(app.waitFor("window hidden", 20s));
        if (!everyShowing) {
            EXPECT_FALSE(app.waitForExit(2500ms).has_value());
            EXPECT_FALSE(app.sawPrefix("quit"));
        }
        Instance again(world, "again", {});
        ASSERT_TRUE(again.waitForExit(30s).has_value());
        ASSERT_TRUE(app.waitFor("window overview again", 20s));
        if (everyShowing) {
            EXPECT_TRUE(TestSupport::spinUntil(
                [&] {
                    const QList<Event> all = app.events();
                    return std::count_if(all.begin(), all.end(),
                                         [](const Event& e) { return e.what == "window hidden"; }) == 2;
                },
                20s));
        }
        EXPECT_TRUE(app.running());
    }
}

// While idle in the tray, the status item's refresh pause is the one timer that fires, under the name the
// process benchmark looks for, and each of its refreshes is noted.
TEST(LifecycleTest, ProbeNamesTheRefreshPauseAndNotesEachRefresh) {
    World world;
    world.setPreferences(true, true);
    Instance app(world, "app", {"--menubar"}, {{"ORVANE_CONNECTOR_PROBE_TIMERS", "1"}});
    ASSERT_TRUE(app.waitFor("refreshed"));
    ASSERT_TRUE(app.waitFor("timer QTimer refresh pause", 40s));
    EXPECT_TRUE(TestSupport::spinUntil(
        [&] {
            const QList<Event> all = app.events();
            return std::count_if(all.begin(), all.end(),
                                 [](const Event& e) { return e.what == "refreshed"; }) >= 2;
        },
        20s));
}

TEST(LifecycleTest, LinkWhileTheWindowIsOpenKeepsTheApplication) {
    World world;
    world.setPreferences(false, true);
    Instance app(world, "app", {});
    ASSERT_TRUE(app.waitFor("window overview"));
    Instance link(world, "link", {"senvik-connector://while-open"});
    ASSERT_TRUE(link.waitForExit(30s).has_value());
    ASSERT_TRUE(app.waitFor("link senvik-connector://while-open handled", 20s));
    EXPECT_FALSE(app.waitForExit(2500ms).has_value());
    EXPECT_FALSE(app.sawPrefix("quit"));
}

TEST(LifecycleTest, IsolatedValidationRunsSideBySide) {
    World world;
    world.setPreferences(true, true);
    TestSupport::TempDir validation;
    // The validation directory must sit in the temporary root under its fixed prefix.
    const QString dir = "/tmp/senvik-connector-validation-" + QFileInfo(validation.path()).fileName();
    ASSERT_TRUE(QDir().mkpath(dir));
    const QMap<QString, QString> env{{"SENVIK_CONNECTOR_VALIDATION_DIR", dir}};

    Instance first(world, "first", {"--isolated-validation"}, env);
    ASSERT_TRUE(first.waitFor("window settings", 30s));
    Instance second(world, "second", {"--isolated-validation", "senvik-connector://ignored"}, env);
    ASSERT_TRUE(second.waitFor("window settings", 30s)) << "links are ignored, so the window still opens";
    ASSERT_TRUE(second.waitFor("launched", 20s));
    ASSERT_TRUE(first.waitFor("launched", 20s));
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(second.running());
    EXPECT_FALSE(second.sawPrefix("link"));
    EXPECT_FALSE(first.sawPrefix("quit"));
    QDir(dir).removeRecursively();
}
