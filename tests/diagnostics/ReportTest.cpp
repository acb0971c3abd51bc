#include "DiagnosticsFixture.h"

#include "ConnectorSettings.h"
#include "RunTask.h"
#include "ScriptedBridge.h"
#include "TempHome.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QRandomGenerator>
#include <QSettings>

namespace {

using json = nlohmann::json;
using A = ControllerTestAccess;

TEST_F(DiagnosticsFixture, ReportHeaderChecksAndAccounts) {
    QString report = c().diagnosticReport();
    EXPECT_FALSE(report.endsWith(QLatin1Char('\n')));
    QStringList lines = report.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3 + 7);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Orvane 连接器诊断 · ")));
    EXPECT_EQ(lines[1], QStringLiteral("连接器 1.4.0（27） · ") + Diagnostics::systemVersion());
    EXPECT_EQ(lines[2], QString());
    EXPECT_EQ(lines[3], QStringLiteral("[通过] 安装位置：~/Applications/Orvane 连接器.app"));
    EXPECT_EQ(lines[4], QStringLiteral("[要看一下] 后台运行：正在检查"));
    EXPECT_EQ(lines[6], QStringLiteral("[不通过] 桥接：没在运行"));

    const QDateTime at = QDateTime::fromString(QStringLiteral("2026-03-01T09:05:07Z"), Qt::ISODate);
    EXPECT_TRUE(Diagnostics::report(c(), {}, at)
                    .startsWith(QStringLiteral("Orvane 连接器诊断 · 2026/3/1 09:05:07\n")));

    // A tail longer than the promised six characters is cut; ids, labels and times never appear.
    A::pairings(c(), {Pairing{"pair-1", "王小明", "a1b2c3", "Orvane Mac", "3月1日"},
                      Pairing{"pair-2", "李雷", "longer-9z8y7x", "Orvane iPhone", std::nullopt}});
    report = c().diagnosticReport();
    lines = report.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3 + 7 + 2);
    EXPECT_EQ(lines[10], QString());
    EXPECT_EQ(lines[11], QStringLiteral("已连接的账号：…a1b2c3（Orvane Mac）、…9z8y7x（Orvane iPhone）"));
    for (const char* secret : {"pair-1", "王小明", "李雷", "3月1日", "longer"})
        EXPECT_FALSE(report.contains(QString::fromUtf8(secret))) << secret;
    EXPECT_EQ(Diagnostics::scrub("/h/a/x, /h/ab/x, /h/a", {"/h/a"}, {}), QStringLiteral("~/x, /h/ab/x, ~"));

    // Every spelling of the home (given, and resolved through a link), also where it ends a sentence.
    TestSupport::TempDir root;
    TestSupport::writeFile(root.file("homes/real/x"), "");
    ASSERT_TRUE(QFile::link(root.file("homes/real"), root.file("home")));
    const QString given = root.file("home"), resolved = QFileInfo(given).canonicalFilePath();
    const std::vector<std::pair<QString, QString>> cases = {
        {"锁在 " + resolved + "/locks，" + given + "/x", "锁在 ~/locks，~/x"},
        {"目录是 " + given + ". 又是 " + resolved + "。" + given + "...", "目录是 ~. 又是 ~。~..."},
        {given + ".bak " + resolved + "s/x " + given + "_old",
         given + ".bak " + resolved + "s/x " + given + "_old"},
    };
    for (const auto& [text, scrubbed] : cases)
        EXPECT_EQ(Diagnostics::scrub(text, Diagnostics::homeSpellings(given), {}), scrubbed)
            << text.toStdString();
}

QString word(QRandomGenerator& random, int length) {
    QString text;
    for (int i = 0; i < length; ++i)
        text += QChar(u'a' + random.bounded(26));
    return text;
}

// Random states read from a real socket: paths under HOME wherever the bridge writes text, tickets and
// pairing ids and labels in the replies, a feed address in the preferences and in a failure. None may leak.
TEST_F(DiagnosticsFixture, ReportNeverCarriesHomeTicketsIdsLabelsOrTheFeed) {
    QRandomGenerator random(20261209);
    ScriptedBridge bridge(ConnectorPaths::adminSocket());
    QSettings preferences(QSettings::NativeFormat, QSettings::UserScope, ConnectorPaths::connectorBundleID);
    const std::string home = ConnectorPaths::home().toStdString();
    const auto under = [&] { return home + "/" + word(random, 6).toStdString(); };
    for (int round = 0; round < 60; ++round) {
        const QString ticket = word(random, 24), feed = "https://" + word(random, 8) + ".example/feed.json";
        QStringList secrets{ConnectorPaths::home(), ticket, feed};
        json engines = json::array();
        for (const char* id : {"codex", "claude_code"})
            engines.push_back(
                {{"engine", id}, {"binaryPath", under()}, {"error", {{"message", "坏了：" + under()}}}});
        const json tools = {
            {{"engine", "codex"}, {"checkedAt", "2026-03-01T09:00:00Z"}, {"message", "在 " + under()}}};
        json pairings = json::array();
        for (int i = random.bounded(4); i > 0; --i) {
            const QString id = word(random, 16), label = word(random, 12), pairTicket = word(random, 20);
            secrets << id << label << pairTicket;
            pairings.push_back({{"id", id.toStdString()},
                                {"profileLabel", label.toStdString()},
                                {"profileTail", word(random, 6).toStdString()},
                                {"ticket", pairTicket.toStdString()}});
        }
        bridge.result("status", {{"ticket", ticket.toStdString()},
                                 {"companyRepo", {{"root", under()}, {"problem", "读不了 " + under()}}},
                                 {"leases", {{"state", "off"}, {"reason", "锁在 " + under()}}},
                                 {"engines", engines},
                                 {"cliTools", {{"busy", false}, {"tools", tools}}}});
        bridge.result("pairings", pairings);
        preferences.setValue(QStringLiteral("updateFeedURL"), feed);
        preferences.sync();
        makeController(QString::fromStdString(under()) + QStringLiteral("/Orvane 连接器.app"));
        TestSupport::runTask(c().refresh());
        ASSERT_TRUE(c().running());
        A::update(c(), UpdateState::Failed{"检查更新没成功：" + feed + " 打不开（" +
                                           QString::fromStdString(under()) + "）"});
        const QString report = c().diagnosticReport();
        for (const QString& secret : secrets)
            ASSERT_FALSE(report.contains(secret)) << round << " " << secret.toStdString() << "\n"
                                                  << report.toStdString();
    }
    preferences.remove(QStringLiteral("updateFeedURL"));
}

TEST_F(DiagnosticsFixture, CopyReplacesTheClipboardWithPlainTextEachTime) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    auto* earlier = new QMimeData;
    earlier->setHtml(QStringLiteral("<b>早先的</b>"));
    clipboard->setMimeData(earlier);
    TestSupport::runTask(c().copyDiagnosticReport());
    EXPECT_FALSE(clipboard->mimeData()->hasHtml());
    const QString first = clipboard->text();
    EXPECT_EQ(first.section('\n', 1), c().diagnosticReport().section('\n', 1));
    A::background(c(), Background::Enabled{});
    TestSupport::runTask(c().copyDiagnosticReport());
    EXPECT_TRUE(clipboard->text().contains(
        QStringLiteral("[通过] 后台运行：已开启：登录后自己运行，意外退出会重启")));
}

} // namespace
