#include "InstanceChannel.h"
#include "InstanceLock.h"
#include "RunningInstances.h"

#include "RunTask.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using TestSupport::TempDir;

namespace {

int modeOf(const QString& path) {
    struct stat attributes {};
    if (::lstat(QFile::encodeName(path).constData(), &attributes) != 0)
        return -1;
    return attributes.st_mode & 07777;
}

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)) {
        old_ = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

} // namespace

TEST(InstanceChannelTest, LinksAmongArguments) {
    struct Case {
        QStringList arguments;
        QStringList links;
    };
    const QList<Case> cases = {
        {{"/opt/Orvane 连接器.app/Contents/MacOS/OrvaneConnector"}, {}},
        // The program path itself never counts, even when it parses as a URL with a scheme.
        {{"senvik-connector://pair?a=1"}, {}},
        {{"exe", "senvik-connector://pair?app=com.tamrik.vestrano&state=abc"},
         {"senvik-connector://pair?app=com.tamrik.vestrano&state=abc"}},
        {{"exe", "--menubar", "senvik-connector://a", "--after-update", "senvik-connector://b"},
         {"senvik-connector://a", "senvik-connector://b"}},
        {{"exe", "/home/someone/file.txt", "relative/path", "word"}, {}},
        {{"exe", "--agent=1", "-x"}, {}},
        // Kept as given: the pairing link's scheme and host are checked case-sensitively later.
        {{"exe", "SENVIK-CONNECTOR://Pair?x=1"}, {"SENVIK-CONNECTOR://Pair?x=1"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(InstanceChannel::linksIn(c.arguments), c.links) << c.arguments.join(' ').toStdString();
    }
}

TEST(InstanceChannelTest, MessagesSurviveTheWire) {
    struct Case {
        const char* name;
        InstanceChannel::Message message;
    };
    const QList<Case> cases = {
        {"reopen", {{}, true}},
        {"one link", {{"senvik-connector://pair?app=com.tamrik.vestrano&state=0123456789abcdef"}, false}},
        {"escaped spaces, line feeds and Chinese; case kept",
         {{"senvik-connector://pair?path=/Applications/"
           "Orvane%20%E8%BF%9E%E6%8E%A5%E5%99%A8.app&x=a%0Aopen%20evil:1",
           "senvik-connector://Pair?state=%41b"},
          false}},
    };
    for (const Case& c : cases) {
        const QByteArray bytes = InstanceChannel::encode(c.message);
        EXPECT_TRUE(bytes.endsWith("\n\n")) << c.name;
        const InstanceChannel::Message back = InstanceChannel::decode(bytes);
        EXPECT_EQ(back.reopen, c.message.reopen) << c.name;
        EXPECT_EQ(back.links, c.message.links) << c.name;
    }
}

TEST(InstanceChannelTest, UnknownLinesAndSchemelessLinksAreDropped) {
    const InstanceChannel::Message message =
        InstanceChannel::decode("hello\nopen \nopen no-scheme\nopen senvik-connector://ok\nREOPEN\n\n");
    EXPECT_FALSE(message.reopen);
    ASSERT_EQ(message.links.size(), 1);
    EXPECT_EQ(message.links.first(), "senvik-connector://ok");
}

TEST(InstanceChannelTest, PrivateDirectoryChoice) {
    TempDir root;
    const QString home = root.file("home");
    QDir().mkpath(home);
    const QString fallback = home + "/.cache/com.tamrik.senvik.connector";

    // A private runtime directory is used as it is.
    const QString runtime = root.file("runtime");
    QDir().mkpath(runtime);
    ::chmod(QFile::encodeName(runtime).constData(), 0700);
    {
        ScopedEnv env("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        EXPECT_EQ(InstanceChannel::privateDirectory(home), runtime);
        EXPECT_FALSE(QFile::exists(fallback));
        // Each home has its own socket there, the same one every time.
        const std::optional<QString> socket = InstanceChannel::socketPath(home);
        ASSERT_TRUE(socket.has_value());
        EXPECT_TRUE(socket->startsWith(runtime + "/"));
        EXPECT_EQ(InstanceChannel::socketPath(home + "/"), socket);
        EXPECT_NE(InstanceChannel::socketPath(root.file("other-home")), socket);
        // So has its lock: a second home's start is no second instance of the first.
        InstanceLock::Outcome outcome;
        const auto held = InstanceLock::tryAcquire(home, outcome);
        EXPECT_EQ(outcome, InstanceLock::Outcome::held);
        EXPECT_EQ(InstanceLock::tryAcquire(home + "/", outcome), nullptr);
        EXPECT_EQ(outcome, InstanceLock::Outcome::takenByAnother);
        const auto other = InstanceLock::tryAcquire(root.file("other-home"), outcome);
        EXPECT_EQ(outcome, InstanceLock::Outcome::held);
    }
    // One that others can enter, a relative one, or none: a 0700 directory under the home instead.
    ::chmod(QFile::encodeName(runtime).constData(), 0755);
    for (const QByteArray& value : {QFile::encodeName(runtime), QByteArray("relative/run"), QByteArray()}) {
        ScopedEnv env("XDG_RUNTIME_DIR", value);
        EXPECT_EQ(InstanceChannel::privateDirectory(home), fallback) << value.constData();
        EXPECT_EQ(modeOf(fallback), 0700);
    }
    // A fallback that was left open to others is tightened.
    ::chmod(QFile::encodeName(fallback).constData(), 0777);
    {
        ScopedEnv env("XDG_RUNTIME_DIR", "");
        EXPECT_EQ(InstanceChannel::privateDirectory(home), fallback);
        EXPECT_EQ(modeOf(fallback), 0700);
    }
    // A symbolic link planted at the fallback's place is refused, not followed.
    QDir(fallback).removeRecursively();
    const QString elsewhere = root.file("elsewhere");
    QDir().mkpath(elsewhere);
    ASSERT_TRUE(QFile::link(elsewhere, fallback));
    {
        ScopedEnv env("XDG_RUNTIME_DIR", "");
        EXPECT_EQ(InstanceChannel::privateDirectory(home), std::nullopt);
        EXPECT_EQ(InstanceChannel::socketPath(home), std::nullopt);
    }
}

TEST(InstanceChannelTest, ListenerReceivesAndAnswers) {
    TempDir dir;
    const QString path = dir.file("instance");
    // A socket file left behind by an instance that died is taken over.
    {
        QLocalServer stale;
        ASSERT_TRUE(stale.listen(path));
    }
    TestSupport::writeFile(path, "stale");
    InstanceChannel::Listener listener;
    ASSERT_TRUE(listener.listen(path));
    EXPECT_EQ(modeOf(path) & 077, 0);

    QList<InstanceChannel::Message> received;
    QObject::connect(&listener, &InstanceChannel::Listener::received,
                     [&](const InstanceChannel::Message& m) { received.append(m); });

    InstanceChannel::Message links;
    links.links = {"senvik-connector://one", "SENVIK-CONNECTOR://Two"};
    EXPECT_TRUE(TestSupport::runTask(InstanceChannel::send(path, links, 2s), 5s));
    InstanceChannel::Message reopen;
    reopen.reopen = true;
    EXPECT_TRUE(TestSupport::runTask(InstanceChannel::send(path, reopen, 2s), 5s));
    ASSERT_EQ(received.size(), 2);
    EXPECT_EQ(received[0].links, links.links);
    EXPECT_FALSE(received[0].reopen);
    EXPECT_TRUE(received[1].reopen);
    EXPECT_TRUE(received[1].links.isEmpty());
}

// A message of exactly `size` bytes, its end included: one link padded to length.
QByteArray messageOfSize(qsizetype size) {
    const QByteArray head = "open senvik-connector://pad?";
    return head + QByteArray(size - head.size() - 2, 'x') + "\n\n";
}

TEST(InstanceChannelTest, ListenerTakesMessagesUpToTheCapOnly) {
    TempDir dir;
    const QString path = dir.file("instance");
    InstanceChannel::Listener listener;
    ASSERT_TRUE(listener.listen(path));
    int received = 0;
    QObject::connect(&listener, &InstanceChannel::Listener::received, [&] { ++received; });

    // Complete messages on both sides of the cap tell the cap from the drop of unfinished peers: only the cap
    // refuses a message that has ended.
    const struct {
        const char* name;
        QByteArray bytes;
        bool taken;
    } cases[] = {
        {"complete, exactly at the cap", messageOfSize(64 * 1024), true},
        {"complete, one byte over the cap", messageOfSize(64 * 1024 + 1), false},
        {"one endless line, finished far beyond the cap", QByteArray(200 * 1024, 'x') + "\n\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = received;
        QLocalSocket peer;
        QByteArray reply;
        QObject::connect(&peer, &QLocalSocket::readyRead, [&] { reply += peer.readAll(); });
        peer.connectToServer(path);
        ASSERT_TRUE(peer.waitForConnected(10000));
        peer.write(c.bytes);
        ASSERT_TRUE(
            TestSupport::spinUntil([&] { return peer.state() == QLocalSocket::UnconnectedState; }, 20s));
        reply += peer.readAll();
        EXPECT_EQ(reply, c.taken ? QByteArray("ok\n") : QByteArray());
        EXPECT_EQ(received - before, c.taken ? 1 : 0);
    }
}

TEST(InstanceChannelTest, ListenerLetsAnUnfinishedPeerGo) {
    TempDir dir;
    const QString path = dir.file("instance");
    InstanceChannel::Listener listener;
    ASSERT_TRUE(listener.listen(path));
    int received = 0;
    QObject::connect(&listener, &InstanceChannel::Listener::received, [&] { ++received; });

    // A peer that stops in the middle is let go after a few seconds, and its half message is not taken.
    QLocalSocket silent;
    silent.connectToServer(path);
    ASSERT_TRUE(silent.waitForConnected(10000));
    silent.write("open senvik-connector://half\n");
    EXPECT_TRUE(
        TestSupport::spinUntil([&] { return silent.state() == QLocalSocket::UnconnectedState; }, 30s));
    EXPECT_EQ(silent.readAll(), QByteArray());
    EXPECT_EQ(received, 0);
}

TEST(InstanceChannelTest, SendingWithoutListenerGivesUpAtItsTimeout) {
    TempDir dir;
    InstanceChannel::Message reopen;
    reopen.reopen = true;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(TestSupport::runTask(InstanceChannel::send(dir.file("nobody"), reopen, 600ms), 5s));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, 400ms);
    EXPECT_LT(took, 3s);
}

TEST(RunningInstancesTest, ProcessTable) {
    TempDir root;
    const QString proc = root.file("proc");
    const QString home = "/home/user";
    auto makeBundle = [&](const QString& name, const QString& identifier) {
        const QString bundle = root.file(name + ".app");
        QDir().mkpath(bundle + "/Contents/MacOS");
        TestSupport::writeFile(bundle + "/Contents/MacOS/OrvaneConnector", "");
        TestSupport::writeFile(
            bundle + "/Contents/Info.plist",
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
            "<string>" +
                identifier.toUtf8() + "</string></dict></plist>");
        return bundle + "/Contents/MacOS/OrvaneConnector";
    };
    const QString ours = makeBundle("Orvane 连接器", "com.tamrik.senvik.connector");
    const QString other = makeBundle("Other", "com.example.other");

    struct Proc {
        int pid;
        QString exe;
        char state;
        std::optional<QByteArray> environ;
        bool expected;
        const char* why;
        std::optional<QByteArray> cmdline = std::nullopt;
    };
    const QByteArray sameHome = QByteArray("PATH=/bin\0HOME=/home/user/\0", 27);
    const QList<Proc> table = {
        {101, ours, 'S', sameHome, true, "a running copy"},
        {102, ours + " (deleted)", 'S', sameHome, true, "its executable was replaced by an update"},
        {103, other, 'S', sameHome, false, "another application"},
        {104, ours, 'Z', sameHome, false, "ended, not yet reaped"},
        {105, ours, 'S', QByteArray("HOME=/tmp/other-home\0", 21), false, "another home"},
        {106, ours, 'S', std::nullopt, true, "environment unreadable"},
        {107, "/usr/bin/OrvaneConnector", 'S', sameHome, false, "not in a bundle"},
        {200, ours, 'S', sameHome, false, "this process"},
        {108, ours, 'S', sameHome, false, "agent mode before its execve",
         QByteArray("/b/OrvaneConnector\0--agent\0", 27)},
        {109, ours, 'S', sameHome, true, "menu-bar mode", QByteArray("/b/OrvaneConnector\0--menubar\0", 29)},
        {110, ours, 'S', sameHome, true, "a link that merely mentions the flag",
         QByteArray("/b/OrvaneConnector\0senvik-connector://x?--agent\0", 48)},
    };
    for (const Proc& p : table) {
        const QString dir = proc + "/" + QString::number(p.pid);
        QDir().mkpath(dir);
        ASSERT_TRUE(QFile::link(p.exe, dir + "/exe"));
        TestSupport::writeFile(dir + "/stat",
                               QByteArray::number(p.pid) + " (Orvane ) x) " + p.state + " 1 2 3\n");
        if (p.environ)
            TestSupport::writeFile(dir + "/environ", *p.environ);
        if (p.cmdline)
            TestSupport::writeFile(dir + "/cmdline", *p.cmdline);
    }
    QDir().mkpath(proc + "/self");
    QDir().mkpath(proc + "/sys");

    const QList<pid_t> found = RunningInstances::find("com.tamrik.senvik.connector", 200, home, proc);
    for (const Proc& p : table)
        EXPECT_EQ(found.contains(p.pid), p.expected) << p.pid << ": " << p.why;
}
