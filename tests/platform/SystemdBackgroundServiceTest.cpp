#include "linux/SystemdBackgroundService.h"

#include "ConnectorPaths.h"
#include "RunTask.h"
#include "TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <chrono>

namespace {

using Status = BackgroundService::Status;
using namespace std::chrono_literals;

const QString agentPlist = QStringLiteral("com.tamrik.senvik.connector.agent.plist");
const QString menuBarPlist = QStringLiteral("com.tamrik.senvik.connector.menubar.plist");
const QString agentUnit = QStringLiteral("com.tamrik.senvik.connector.agent.service");
const QString menuBarUnit = QStringLiteral("com.tamrik.senvik.connector.menubar.service");

QByteArray plist(const char* label, const char* flag, bool keepAlive, bool aqua) {
    QByteArray text = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>Label</key><string>)";
    text += label;
    text += R"(</string>
<key>BundleProgram</key><string>Contents/MacOS/OrvaneConnector</string>
<key>ProgramArguments</key><array><string>Contents/MacOS/OrvaneConnector</string><string>)";
    text += flag;
    text += "</string></array>\n<key>RunAtLoad</key><true/>\n<key>KeepAlive</key>";
    text += keepAlive ? "<true/>" : "<false/>";
    if (aqua)
        text += "\n<key>LimitLoadToSessionType</key><string>Aqua</string>";
    return text + "\n</dict></plist>\n";
}

// A bundle with both descriptions, a unit directory, a user session and a scripted systemctl that records its
// arguments, fails a verb with the words in fail-<verb>, hangs on hang-<verb>, and makes enable/disable
// links like the real one.
struct Systemd {
    TestSupport::TempDir dir;
    QString bundle = dir.file(QStringLiteral("Apps/Orvane 连接器.app"));
    QString units = dir.file(QStringLiteral("config/systemd/user"));
    QString runtime = dir.file(QStringLiteral("run"));
    QString etc = dir.file(QStringLiteral("etc-user"));

    Systemd() {
        TestSupport::writeFile(bundle + "/Contents/Library/LaunchAgents/" + agentPlist,
                               plist("com.tamrik.senvik.connector.agent", "--agent", true, false));
        TestSupport::writeFile(bundle + "/Contents/Library/LaunchAgents/" + menuBarPlist,
                               plist("com.tamrik.senvik.connector.menubar", "--menubar", false, true));
        TestSupport::writeFile(runtime + "/systemd/private", "");
        QDir().mkpath(etc);
        const QString d = dir.path();
        QByteArray script = "#!/bin/sh\n"
                            "printf '%s\\n' \"$*\" >> '" +
                            d.toUtf8() +
                            "/calls'\n"
                            "verb=\"$2\"\n"
                            "if [ -f '" +
                            d.toUtf8() +
                            "'/hang-\"$verb\" ]; then exec sleep 30; fi\n"
                            "if [ -f '" +
                            d.toUtf8() + "'/fail-\"$verb\" ]; then cat '" + d.toUtf8() +
                            "'/fail-\"$verb\" >&2; exit 1; fi\n"
                            "u='" +
                            units.toUtf8() +
                            "'\n"
                            "case \"$verb\" in\n"
                            "enable) mkdir -p \"$u/default.target.wants\" && ln -sf \"$u/$3\" "
                            "\"$u/default.target.wants/$3\" ;;\n"
                            "disable) rm -f \"$u\"/*.wants/\"$3\" ;;\n"
                            "esac\n";
        TestSupport::writeFile(d + "/systemctl", script, 0755);
    }

    SystemdBackgroundService::Setup setup(const QString& plistName) const {
        SystemdBackgroundService::Setup s;
        s.bundlePath = bundle;
        s.plistName = plistName;
        s.unitDirectory = units;
        s.maskDirectories = {etc};
        s.runtimeDirectory = runtime;
        s.systemctl = dir.file(QStringLiteral("systemctl"));
        s.timeoutMilliseconds = 5000;
        return s;
    }
    SystemdBackgroundService agent() const { return SystemdBackgroundService(setup(agentPlist)); }

    QStringList calls() const {
        QFile file(dir.file(QStringLiteral("calls")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    void failing(const char* verb, const QByteArray& words) const {
        TestSupport::writeFile(dir.file(QStringLiteral("fail-") + verb), words);
    }
    void link(const QString& path, const QString& target) const {
        QDir().mkpath(QFileInfo(path).path());
        QFile::link(target, path);
    }
};

QString failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const BackgroundService::Failure& failure) {
        return failure.message;
    }
    return QStringLiteral("<no failure>");
}

TEST(SystemdUnitText, AgentAndLoginItemUnits) {
    Systemd systemd;
    const QString exe = systemd.bundle + "/Contents/MacOS/OrvaneConnector";
    const auto agent = systemd.agent().description();
    ASSERT_TRUE(agent);
    EXPECT_EQ(
        SystemdBackgroundService::unitText(*agent, agentPlist),
        "# Written by Orvane 连接器 from com.tamrik.senvik.connector.agent.plist in its application bundle; "
        "rewritten when the item is registered again.\n"
        "[Unit]\nDescription=Orvane 连接器 (com.tamrik.senvik.connector.agent)\n\n"
        "[Service]\nType=exec\nExecStart=\"" +
            exe +
            "\" \"--agent\"\n"
            "Restart=on-failure\nRestartSec=2\n\n[Install]\nWantedBy=default.target\n");

    const auto menuBar = SystemdBackgroundService(systemd.setup(menuBarPlist)).description();
    ASSERT_TRUE(menuBar);
    EXPECT_EQ(SystemdBackgroundService::unitText(*menuBar, menuBarPlist),
              "# Written by Orvane 连接器 from com.tamrik.senvik.connector.menubar.plist in its application "
              "bundle; "
              "rewritten when the item is registered again.\n"
              "[Unit]\nDescription=Orvane 连接器 (com.tamrik.senvik.connector.menubar)\n"
              "PartOf=graphical-session.target\nAfter=graphical-session.target\n\n"
              "[Service]\nType=exec\nExecStart=\"" +
                  exe +
                  "\" \"--menubar\"\n"
                  "Restart=no\nKillMode=process\n\n[Install]\nWantedBy=graphical-session.target\n");
}

TEST(SystemdUnitText, WordsSurviveSystemdParsing) {
    const struct {
        QString word;
        QString expected;
    } cases[] = {
        {QStringLiteral("/Applications/Orvane 连接器.app"),
         QStringLiteral("\"/Applications/Orvane 连接器.app\"")},
        {QStringLiteral("say \"hi\""), QStringLiteral("\"say \\\"hi\\\"\"")},
        {QStringLiteral("C:\\dir"), QStringLiteral("\"C:\\\\dir\"")},
        {QStringLiteral("100%h"), QStringLiteral("\"100%%h\"")},
        {QStringLiteral("$HOME"), QStringLiteral("\"$$HOME\"")},
        {QStringLiteral("a\nb\tc"), QStringLiteral("\"a\\nb\\tc\"")},
        {QStringLiteral("bell\x07"), QStringLiteral("\"bell\\x07\"")},
        {QStringLiteral(";"), QStringLiteral("\";\"")},
        {QString(), QStringLiteral("\"\"")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SystemdBackgroundService::quoted(c.word), c.expected) << c.word.toStdString();
}

TEST(SystemdUnitText, DescriptionsFromPropertyLists) {
    const QString bundle = QStringLiteral("/A/X.app");
    const struct {
        const char* name;
        nlohmann::json plist;
        std::optional<QStringList> command;
        bool keepAlive;
    } cases[] = {
        {"bundle program relative to the bundle",
         {{"Label", "l"}, {"BundleProgram", "Contents/MacOS/x"}, {"ProgramArguments", {"x", "--agent"}}},
         QStringList{"/A/X.app/Contents/MacOS/x", "--agent"},
         false},
        {"absolute program",
         {{"Label", "l"}, {"Program", "/usr/bin/env"}, {"ProgramArguments", {"env", "-i"}}},
         QStringList{"/usr/bin/env", "-i"},
         false},
        {"arguments only",
         {{"Label", "l"}, {"ProgramArguments", {"Contents/MacOS/x"}}, {"KeepAlive", {{"a", 1}}}},
         QStringList{"/A/X.app/Contents/MacOS/x"},
         true},
        {"no label", {{"Program", "/bin/true"}}, std::nullopt, false},
        {"label with a slash", {{"Label", "../x"}, {"Program", "/bin/true"}}, std::nullopt, false},
        {"no program", {{"Label", "l"}}, std::nullopt, false},
        {"arguments not texts", {{"Label", "l"}, {"ProgramArguments", {"x", 1}}}, std::nullopt, false},
        {"not a dictionary", nlohmann::json::array(), std::nullopt, false},
    };
    for (const auto& c : cases) {
        const auto d = SystemdBackgroundService::describe(c.plist, bundle);
        ASSERT_EQ(d.has_value(), c.command.has_value()) << c.name;
        if (d) {
            EXPECT_EQ(d->command, *c.command) << c.name;
            EXPECT_EQ(d->keepAlive, c.keepAlive) << c.name;
        }
    }
}

TEST(SystemdStatus, ReadFromFilesOnDisk) {
    const struct {
        const char* name;
        std::function<void(const Systemd&)> arrange;
        Status expected;
    } cases[] = {
        {"nothing written", [](const Systemd&) {}, Status::notRegistered},
        {"description missing from the bundle",
         [](const Systemd& s) { QFile::remove(s.bundle + "/Contents/Library/LaunchAgents/" + agentPlist); },
         Status::notFound},
        {"unit and enablement link",
         [](const Systemd& s) {
             const auto d = s.agent().description();
             TestSupport::writeFile(s.units + "/" + agentUnit,
                                    SystemdBackgroundService::unitText(*d, agentPlist).toUtf8());
             s.link(s.units + "/default.target.wants/" + agentUnit, s.units + "/" + agentUnit);
         },
         Status::enabled},
        {"unit without enablement link",
         [](const Systemd& s) {
             const auto d = s.agent().description();
             TestSupport::writeFile(s.units + "/" + agentUnit,
                                    SystemdBackgroundService::unitText(*d, agentPlist).toUtf8());
         },
         Status::notRegistered},
        {"unit written for another location",
         [](const Systemd& s) {
             TestSupport::writeFile(s.units + "/" + agentUnit, "[Service]\nExecStart=/old/place --agent\n");
             s.link(s.units + "/default.target.wants/" + agentUnit, s.units + "/" + agentUnit);
         },
         Status::notRegistered},
        {"masked by the user",
         [](const Systemd& s) { s.link(s.units + "/" + agentUnit, QStringLiteral("/dev/null")); },
         Status::requiresApproval},
        {"masked system-wide",
         [](const Systemd& s) { s.link(s.etc + "/" + agentUnit, QStringLiteral("/dev/null")); },
         Status::requiresApproval},
        {"masked by an empty unit file",
         [](const Systemd& s) { TestSupport::writeFile(s.etc + "/" + agentUnit, ""); },
         Status::requiresApproval},
    };
    for (const auto& c : cases) {
        Systemd systemd;
        c.arrange(systemd);
        EXPECT_EQ(systemd.agent().status(), c.expected) << c.name;
        EXPECT_TRUE(systemd.calls().isEmpty()) << c.name << ": status ran systemctl";
    }
}

TEST(SystemdRegistration, RegisterWritesEnablesAndStarts) {
    Systemd systemd;
    auto agent = systemd.agent();
    agent.registerItem();
    EXPECT_EQ(systemd.calls(), QStringList({"--user daemon-reload", "--user enable " + agentUnit,
                                            "--user start " + agentUnit}));
    EXPECT_EQ(agent.status(), Status::enabled);
    QFile unit(systemd.units + "/" + agentUnit);
    ASSERT_TRUE(unit.open(QIODevice::ReadOnly));
    EXPECT_TRUE(unit.readAll().contains("ExecStart=\"" + systemd.bundle.toUtf8() +
                                        "/Contents/MacOS/OrvaneConnector\" \"--agent\""));
}

TEST(SystemdRegistration, UnregisterStopsOnlyTheKeptAliveAgent) {
    const struct {
        QString plistName;
        QString unit;
        QStringList expected;
    } cases[] = {
        {agentPlist,
         agentUnit,
         {"--user disable " + agentUnit, "--user stop " + agentUnit, "--user daemon-reload"}},
        // Switching the login item off must not end the application the user is working in.
        {menuBarPlist, menuBarUnit, {"--user disable " + menuBarUnit, "--user daemon-reload"}},
    };
    for (const auto& c : cases) {
        Systemd systemd;
        SystemdBackgroundService item(systemd.setup(c.plistName));
        item.registerItem();
        QFile::remove(systemd.dir.file(QStringLiteral("calls")));
        TestSupport::runTask(item.unregister());
        EXPECT_EQ(systemd.calls(), c.expected) << c.unit.toStdString();
        EXPECT_FALSE(QFileInfo::exists(systemd.units + "/" + c.unit));
        EXPECT_EQ(item.status(), Status::notRegistered);
    }
}

TEST(SystemdRegistration, Failures) {
    const struct {
        const char* name;
        std::function<void(Systemd&, SystemdBackgroundService::Setup&)> arrange;
        bool unregistering;
        QString expected;
    } cases[] = {
        {"enable refused: systemctl's own words",
         [](Systemd& s, auto&) { s.failing("enable", "Failed to enable unit: Access denied\n"); }, false,
         QStringLiteral("Failed to enable unit: Access denied")},
        {"refused without words", [](Systemd& s, auto&) { s.failing("daemon-reload", ""); }, false,
         QStringLiteral("systemctl --user daemon-reload 以状态 1 结束")},
        {"no user session", [](Systemd& s, auto&) { QFile::remove(s.runtime + "/systemd/private"); }, false,
         QStringLiteral("这台电脑上没有运行中的 systemd 用户会话，后台项登记不了")},
        {"no runtime directory at all", [](Systemd&, auto& setup) { setup.runtimeDirectory.clear(); }, false,
         QStringLiteral("这台电脑上没有运行中的 systemd 用户会话，后台项登记不了")},
        {"systemctl missing",
         [](Systemd& s, auto& setup) { setup.systemctl = s.dir.file(QStringLiteral("nowhere/systemctl")); },
         false, QStringLiteral("运行不了 systemctl（%1）：后台项要靠 systemd 用户会话")},
        {"description missing",
         [](Systemd& s, auto&) { QFile::remove(s.bundle + "/Contents/Library/LaunchAgents/" + agentPlist); },
         false, QStringLiteral("应用里找不到后台项的描述（com.tamrik.senvik.connector.agent.plist）")},
        {"disable refused",
         [](Systemd& s, auto&) { s.failing("disable", "Failed to disable unit: Bad message"); }, true,
         QStringLiteral("Failed to disable unit: Bad message")},
    };
    for (const auto& c : cases) {
        Systemd systemd;
        auto setup = systemd.setup(agentPlist);
        if (c.unregistering)
            SystemdBackgroundService(setup).registerItem();
        c.arrange(systemd, setup);
        SystemdBackgroundService item(setup);
        const QString failure =
            failureOf([&] { c.unregistering ? item.unregisterNow() : item.registerItem(); });
        EXPECT_EQ(failure,
                  c.expected.contains(QStringLiteral("%1")) ? c.expected.arg(setup.systemctl) : c.expected)
            << c.name;
        if (c.unregistering)
            EXPECT_TRUE(QFileInfo::exists(systemd.units + "/" + agentUnit))
                << c.name << ": unit removed after a failure";
        else
            EXPECT_NE(item.status(), Status::enabled) << c.name;
    }
}

TEST(SystemdRegistration, HangingSystemctlIsCutOff) {
    Systemd systemd;
    TestSupport::writeFile(systemd.dir.file(QStringLiteral("hang-daemon-reload")), "");
    auto setup = systemd.setup(agentPlist);
    setup.timeoutMilliseconds = 400;
    SystemdBackgroundService item(setup);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(failureOf([&] { item.registerItem(); }),
              QStringLiteral("systemctl --user daemon-reload 在 0.4 秒内没有结束：systemd 用户会话没有响应"));
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST(SystemdRegistration, UserMaskIsNeverOverwrittenOrRemoved) {
    Systemd systemd;
    systemd.link(systemd.units + "/" + agentUnit, QStringLiteral("/dev/null"));
    auto agent = systemd.agent();
    agent.registerItem();
    EXPECT_EQ(agent.status(), Status::requiresApproval);
    agent.unregisterNow();
    EXPECT_TRUE(systemd.calls().isEmpty());
    EXPECT_EQ(QFileInfo(systemd.units + "/" + agentUnit).symLinkTarget(), QStringLiteral("/dev/null"));
}

TEST(SystemdRegistration, UnregisteringNothingIsQuiet) {
    Systemd systemd;
    auto agent = systemd.agent();
    EXPECT_NO_THROW(agent.unregisterNow());
    EXPECT_TRUE(systemd.calls().isEmpty());
}

TEST(SystemdRegistration, WithoutSessionUnregisterStillRemovesTheFiles) {
    Systemd systemd;
    auto agent = systemd.agent();
    agent.registerItem();
    QFile::remove(systemd.runtime + "/systemd/private");
    QFile::remove(systemd.dir.file(QStringLiteral("calls")));
    EXPECT_NO_THROW(agent.unregisterNow());
    EXPECT_TRUE(systemd.calls().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(systemd.units + "/" + agentUnit));
    EXPECT_FALSE(QFileInfo(systemd.units + "/default.target.wants/" + agentUnit).isSymLink());
}

// The desktop's own settings of login items, started by name from PATH; stand-ins record how they were
// started.
TEST(SystemdLoginItemsSettings, OpensTheCurrentDesktopsOwnSettings) {
    const struct {
        const char* name;
        const char* desktop;
        const char* installed; // the tools on PATH, separated by spaces
        const char* expected;  // the recorded command line; none: nothing started
    } cases[] = {
        {"KDE", "KDE", "systemsettings gnome-session-properties", "systemsettings kcm_autostart"},
        {"GNOME among several names", "ubuntu:GNOME", "gnome-session-properties gnome-tweaks",
         "gnome-session-properties"},
        {"GNOME without its session tool", "GNOME", "gnome-tweaks", "gnome-tweaks"},
        {"an X- name", "X-Cinnamon", "cinnamon-session-properties", "cinnamon-session-properties"},
        {"lower case", "xfce", "xfce4-session-settings", "xfce4-session-settings"},
        {"the desktop's tool is missing", "XFCE", "gnome-tweaks", nullptr},
        {"an unknown desktop", "Hyprland", "gnome-tweaks systemsettings", nullptr},
        {"no desktop named", "", "gnome-tweaks systemsettings", nullptr},
    };
    const QByteArray oldPath = qgetenv("PATH");
    const QByteArray oldDesktop = qgetenv("XDG_CURRENT_DESKTOP");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Systemd systemd;
        const QString bin = systemd.dir.file(QStringLiteral("bin"));
        const QString record = systemd.dir.file(QStringLiteral("started"));
        for (const QString& tool : QString::fromLatin1(c.installed).split(QLatin1Char(' ')))
            TestSupport::writeFile(
                bin + QLatin1Char('/') + tool,
                "#!/bin/sh\nprintf '%s\\n' \"${0##*/}${*:+ $*}\" >> '" + record.toUtf8() + "'\n", 0755);
        qputenv("PATH", bin.toUtf8());
        qputenv("XDG_CURRENT_DESKTOP", c.desktop);
        systemd.agent().openSystemSettingsLoginItems();
        qputenv("PATH", oldPath);
        qputenv("XDG_CURRENT_DESKTOP", oldDesktop);

        // A program is started before the call returns; once no stand-in runs any more, the record is whole.
        EXPECT_TRUE(TestSupport::spinUntil([&] { return !TestSupport::runsProgramFrom(bin); }, 20s));
        QFile file(record);
        const QStringList lines =
            file.open(QIODevice::ReadOnly)
                ? QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                : QStringList();
        EXPECT_EQ(lines, c.expected ? QStringList{QString::fromLatin1(c.expected)} : QStringList());
    }
}

// The user's own folders: the locations are fixed once per process, so a fresh run of this program checks
// them with a throw-away HOME (the case below).
TEST(SystemdForUser, UnitsAndMasksInTheUsersFolders) {
    TestSupport::TempDir dir;
    QDir().mkpath(dir.file(QStringLiteral("home")));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SYSTEMD_FOR_USER_DIR"), dir.path());
    environment.insert(QStringLiteral("HOME"), dir.file(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.file(QStringLiteral("run")));
    environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=SystemdForUserChild.*")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    EXPECT_FALSE(output.contains("SKIPPED")) << output.toStdString();
}

TEST(SystemdForUserChild, Run) {
    const QString base = qEnvironmentVariable("SYSTEMD_FOR_USER_DIR");
    if (base.isEmpty())
        GTEST_SKIP() << "runs only as the child of SystemdForUser";
    const QString home = base + QStringLiteral("/home");
    const QString runtime = base + QStringLiteral("/run");
    ASSERT_EQ(ConnectorPaths::home(), home);
    const QString bundle = base + QStringLiteral("/Apps/Orvane 连接器.app");
    TestSupport::writeFile(bundle + "/Contents/Library/LaunchAgents/" + agentPlist,
                           plist("com.tamrik.senvik.connector.agent", "--agent", true, false));
    TestSupport::writeFile(runtime + "/systemd/private", "");
    const QString systemctl = base + QStringLiteral("/systemctl");
    TestSupport::writeFile(systemctl, "#!/bin/sh\nexit 0\n", 0755);

    const struct {
        const char* name;
        std::optional<QString> configHome; // XDG_CONFIG_HOME; nothing: unset
        QString units;
    } cases[] = {
        {"XDG_CONFIG_HOME set", base + QStringLiteral("/config"),
         base + QStringLiteral("/config/systemd/user")},
        {"XDG_CONFIG_HOME unset", std::nullopt, home + QStringLiteral("/.config/systemd/user")},
        {"XDG_CONFIG_HOME relative", QStringLiteral("config"),
         home + QStringLiteral("/.config/systemd/user")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.configHome)
            qputenv("XDG_CONFIG_HOME", c.configHome->toUtf8());
        else
            qunsetenv("XDG_CONFIG_HOME");
        SystemdBackgroundService::Setup setup = SystemdBackgroundService::forUser(bundle, agentPlist);
        EXPECT_EQ(setup.unitDirectory, c.units);
        EXPECT_EQ(setup.runtimeDirectory, runtime);
        EXPECT_EQ(setup.maskDirectories, QStringList({runtime + QStringLiteral("/systemd/user"),
                                                      QStringLiteral("/etc/systemd/user")}));

        // Registering writes the unit where the user's systemd reads it.
        setup.systemctl = systemctl;
        SystemdBackgroundService agent(setup);
        ASSERT_NO_THROW(agent.registerItem());
        EXPECT_TRUE(QFileInfo(c.units + QLatin1Char('/') + agentUnit).isFile());
        agent.unregisterNow();
        EXPECT_FALSE(QFileInfo::exists(c.units + QLatin1Char('/') + agentUnit));
    }

    // A mask in the runtime folder is the user's refusal.
    QDir().mkpath(runtime + QStringLiteral("/systemd/user"));
    ASSERT_TRUE(
        QFile::link(QStringLiteral("/dev/null"), runtime + QStringLiteral("/systemd/user/") + agentUnit));
    EXPECT_EQ(SystemdBackgroundService(SystemdBackgroundService::forUser(bundle, agentPlist)).status(),
              Status::requiresApproval);

    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SystemdBackgroundService::forUser(bundle, agentPlist).maskDirectories,
              QStringList{QStringLiteral("/etc/systemd/user")});
}

} // namespace
