#include "DiagnosticsFixture.h"

#include "ConnectorSettings.h"
#include "RunTask.h"
#include "ScriptedBridge.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QRandomGenerator>
#include <QSettings>

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

class DiagnosticReport : public DiagnosticsFixture {
protected:
    QStringList reportLines() { return c().diagnosticReport().split(QLatin1Char('\n')); }
};

TEST_F(DiagnosticReport, HeaderAndOneLinePerCheckWithoutBridge) {
    const QString report = c().diagnosticReport();
    EXPECT_FALSE(report.endsWith(QLatin1Char('\n')));
    const QStringList lines = report.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3 + 7);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Orvane 连接器诊断 · "))) << lines[0].toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("连接器 1.4.0（27） · ") + Diagnostics::systemVersion());
    EXPECT_EQ(lines[2], QString());
    EXPECT_EQ(lines[3], QStringLiteral("[通过] 安装位置：~/Applications/Orvane 连接器.app"));
    EXPECT_EQ(lines[4], QStringLiteral("[要看一下] 后台运行：正在检查"));
    EXPECT_EQ(lines[6], QStringLiteral("[不通过] 桥接：没在运行"));
    EXPECT_EQ(lines[9], QStringLiteral("[要看一下] 日志：还没有日志：桥接还没以托管方式起来过"));
}

TEST_F(DiagnosticReport, HeaderTimeIsNumericDateAndTimeWithSeconds) {
    const QDateTime at = QDateTime::fromString(QStringLiteral("2026-03-01T09:05:07Z"), Qt::ISODate);
    const QString first = Diagnostics::report(c(), {}, at).section(QLatin1Char('\n'), 0, 0);
    EXPECT_EQ(first, QStringLiteral("Orvane 连接器诊断 · 2026/3/1 09:05:07"));
}

TEST_F(DiagnosticReport, AccountsLineAfterAnEmptyLine) {
    ControllerTestAccess::pairings(
        c(), {Pairing{"pair-1", "王小明", "a1b2c3", "Orvane Mac", "3月1日 09:00"},
              // A tail longer than promised is cut to its last six characters.
              Pairing{"pair-2", "李雷", "longer-than-six-9z8y7x", "Orvane iPhone", std::nullopt}});
    const QStringList lines = reportLines();
    ASSERT_EQ(lines.size(), 3 + 7 + 2);
    EXPECT_EQ(lines[10], QString());
    EXPECT_EQ(lines[11], QStringLiteral("已连接的账号：…a1b2c3（Orvane Mac）、…9z8y7x（Orvane iPhone）"));
    const QString report = lines.join(QLatin1Char('\n'));
    for (const char* secret : {"pair-1", "pair-2", "王小明", "李雷", "3月1日 09:00", "longer"})
        EXPECT_FALSE(report.contains(QString::fromUtf8(secret))) << secret;
}

TEST_F(DiagnosticReport, LevelTags) {
    EXPECT_EQ(Diagnostics::tag(DiagnosticCheck::Level::pass), QStringLiteral("通过"));
    EXPECT_EQ(Diagnostics::tag(DiagnosticCheck::Level::warn), QStringLiteral("要看一下"));
    EXPECT_EQ(Diagnostics::tag(DiagnosticCheck::Level::fail), QStringLiteral("不通过"));
    const QList<DiagnosticCheck> one{{"x", "标题", DiagnosticCheck::Level::warn, "细节"}};
    EXPECT_EQ(Diagnostics::report(c(), one, QDateTime::currentDateTimeUtc()).section(QLatin1Char('\n'), 3),
              QStringLiteral("[要看一下] 标题：细节"));
}

TEST(DiagnosticScrub, HomeOnlyAtPathBoundaries) {
    const QString home = QStringLiteral("/home/ann");
    const QList<std::pair<QString, QString>> cases{
        {"/home/ann/.codex/bin", "~/.codex/bin"},
        {"见 /home/ann。", "见 ~。"},
        {"/home/anna/x", "/home/anna/x"},
        {"/home/ann-b/x", "/home/ann-b/x"},
        {"a /home/ann/x b /home/ann/y", "a ~/x b ~/y"},
        {"https://feed.example/c.json 打不开", "（更新地址） 打不开"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Diagnostics::scrub(text, home, {QStringLiteral("https://feed.example/c.json")}), expected);
}

QString randomWord(QRandomGenerator& random, int length) {
    static const QString alphabet =
        QStringLiteral("abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789");
    QString word;
    for (int i = 0; i < length; ++i)
        word += alphabet.at(random.bounded(int(alphabet.size())));
    return word;
}

// Many random states read from a real socket: paths under HOME in every field the bridge fills, tickets and
// pairing ids and labels in the replies, an update address in the preferences and in a failure text. None of
// them may reach the report.
TEST_F(DiagnosticReport, NeverCarriesHomeTicketsIdsLabelsOrTheFeed) {
    QRandomGenerator random(20261209);
    ScriptedBridge bridge(ConnectorPaths::adminSocket());
    QSettings preferences(QSettings::NativeFormat, QSettings::UserScope, ConnectorPaths::connectorBundleID);
    const QString home = ConnectorPaths::home();
    const auto underHome = [&] {
        return home + QLatin1Char('/') + randomWord(random, 5) + QLatin1Char('/') + randomWord(random, 7);
    };
    for (int round = 0; round < 60; ++round) {
        QStringList secrets{home};
        const QString ticket = randomWord(random, 24);
        const QString feed =
            QStringLiteral("https://") + randomWord(random, 8) + QStringLiteral(".example/feed.json");
        secrets << ticket << feed;

        json engines = json::array();
        for (const char* id : {"codex", "claude_code", "evox"}) {
            if (random.bounded(3) == 0) {
                engines.push_back({{"engine", id},
                                   {"installed", true},
                                   {"binaryPath", underHome().toStdString()},
                                   {"error", {{"message", ("配置坏了：" + underHome()).toStdString()}}}});
            } else {
                engines.push_back({{"engine", id},
                                   {"installed", true},
                                   {"version", "1.0"},
                                   {"login", "logged_in"},
                                   {"binaryPath", underHome().toStdString()}});
            }
        }
        json tools = json::array();
        tools.push_back({{"engine", "codex"},
                         {"currentVersion", "1.0"},
                         {"checkedAt", "2026-03-01T09:00:00Z"},
                         {"message", ("装在 " + underHome()).toStdString()}});
        json status = {{"port", 4800 + round},
                       {"bridgeVersion", "0.9"},
                       {"managed", random.bounded(2) == 0},
                       {"ticket", ticket.toStdString()},
                       {"companyRepo",
                        {{"root", underHome().toStdString()},
                         {"roles", 3},
                         {"problem", ("读不了 " + home + "/.ssh/config").toStdString()}}},
                       {"leases", {{"state", "off"}, {"reason", ("锁文件在 " + underHome()).toStdString()}}},
                       {"engines", engines},
                       {"cliTools", {{"busy", false}, {"tools", tools}}}};
        json pairings = json::array();
        const int count = random.bounded(4);
        for (int i = 0; i < count; ++i) {
            const QString id = QStringLiteral("pair-") + randomWord(random, 16);
            const QString label = randomWord(random, 12);
            const QString pairTicket = randomWord(random, 20);
            secrets << id << label << pairTicket;
            pairings.push_back({{"id", id.toStdString()},
                                {"profileLabel", label.toStdString()},
                                {"profileTail", randomWord(random, 6).toStdString()},
                                {"clientName", "Orvane Mac"},
                                {"ticket", pairTicket.toStdString()},
                                {"lastSeenAt", "2026-03-01T08:00:00Z"}});
        }
        bridge.result("status", status);
        bridge.result("pairings", pairings);
        preferences.setValue(QStringLiteral("updateFeedURL"), feed);
        preferences.sync();
        makeController(underHome() + QStringLiteral("/Orvane 连接器.app"));
        TestSupport::runTask(c().refresh());
        ASSERT_TRUE(c().running());
        ASSERT_EQ(c().pairings().size(), count);
        ControllerTestAccess::update(c(), UpdateState::Failed{QStringLiteral("检查更新没成功：") + feed +
                                                              QStringLiteral(" 打不开（") + underHome() +
                                                              QStringLiteral("）")});

        const QString report = c().diagnosticReport();
        for (const QString& secret : secrets)
            ASSERT_FALSE(report.contains(secret)) << "round " << round << ": " << secret.toStdString() << "\n"
                                                  << report.toStdString();
    }
    preferences.remove(QStringLiteral("updateFeedURL"));
    preferences.sync();
}

TEST_F(DiagnosticReport, CopyReplacesTheClipboardWithPlainTextEachTime) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    auto* earlier = new QMimeData;
    earlier->setHtml(QStringLiteral("<b>早先的</b>"));
    earlier->setData(QStringLiteral("application/x-other"), "x");
    clipboard->setMimeData(earlier);

    TestSupport::runTask(c().copyDiagnosticReport());
    const QMimeData* copied = clipboard->mimeData();
    ASSERT_TRUE(copied);
    EXPECT_FALSE(copied->hasHtml());
    EXPECT_FALSE(copied->hasFormat(QStringLiteral("application/x-other")));
    const QString first = clipboard->text();
    EXPECT_EQ(first.section(QLatin1Char('\n'), 1), c().diagnosticReport().section(QLatin1Char('\n'), 1));

    ControllerTestAccess::background(c(), Background::Enabled{});
    TestSupport::runTask(c().copyDiagnosticReport());
    const QString second = clipboard->text();
    EXPECT_NE(first, second);
    EXPECT_TRUE(second.contains(QStringLiteral("[通过] 后台运行：已开启：登录后自己运行，意外退出会重启")));
}

} // namespace
