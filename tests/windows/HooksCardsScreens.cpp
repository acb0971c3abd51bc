#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"

#include "ConnectorController.h"
#include "RunTask.h"
#include "SessionHooksView.h"
#include "StrellSettingsView.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <functional>

namespace {

using C = ControllerTestAccess;
using Set = std::function<void(ConnectorController&)>;

// Renders a card under its settings-page title, offscreen, into <screens>/<name>.png; `strell` first
// switches the gateway card to "单岗位 Strell" as a user would.
template <typename Card>
void capture(const char* title, const char* name, const Set& set, bool strell = false) {
    FakeBackgroundService service, statusItem;
    nlohmann::json info = nlohmann::json::object();
    ConnectorController controller{Platform{service, statusItem, info}};
    C::bridge(controller, BridgeStatus{});
    set(controller);
    QWidget host;
    host.setAttribute(Qt::WA_DontShowOnScreen);
    host.setFixedWidth(560);
    auto* layout = new QVBoxLayout(&host);
    layout->addWidget(new QLabel(QString::fromUtf8(title), &host));
    layout->addWidget(new Card(controller, &host));
    host.show(); // the card appears and loads
    if (strell)
        host.findChild<QAbstractButton*>(QStringLiteral("strell.mode.strell"))->click();
    host.adjustSize();
    TestSupport::spinFor(std::chrono::milliseconds(30));
    QString dir =
        qEnvironmentVariable("CONNECTOR_SCREENS_DIR", QStringLiteral(CONNECTOR_SCREENS_BUILD_DIR "/screens"));
    ASSERT_TRUE(QDir().mkpath(dir));
    ASSERT_TRUE(
        host.grab().save(dir + QLatin1Char('/') + QString::fromLatin1(name) + QStringLiteral(".png")));
}

SessionHooksStatus hooks(bool problem) {
    SessionHooksStatus s{
        {true, !problem, "~/.claude/settings.json", 5, {}}, {false, false, "~/.codex/hooks.json", 0, {}}, {}};
    if (problem) {
        s.codex.problem = QStringLiteral("~/.codex/hooks.json 是只读的，钩子加不进去");
        s.note = QStringLiteral("Codex 0.30 起才会报会话进度");
    }
    return s;
}

StrellStatus routing(bool enabled = false, const QString& role = {}, bool editable = true) {
    return StrellStatus{3,    editable,        false,
                        true, {enabled, role}, {{"r/backend", "后端工程师"}, {"r/review", "代码审查"}},
                        {}};
}

TEST(SessionHooksScreens, States) {
    const char* title = "外面的会话";
    capture<SessionHooksView>(title, "session-hooks-normal", [](ConnectorController& c) {
        C::sessionHooks(c, hooks(false));
        C::sessionHooksMessage(c, QStringLiteral("打开了：粘了跟进提示词的会话会把进度报给 Orvane。"));
    });
    capture<SessionHooksView>(title, "session-hooks-busy-problem", [](ConnectorController& c) {
        C::sessionHooks(c, hooks(true));
        C::sessionHooksBusy(c, true);
    });
    capture<SessionHooksView>(title, "session-hooks-unsupported", [](ConnectorController&) {});
}

TEST(StrellSettingsScreens, States) {
    const char* title = "Strell 单岗位（试验）";
    capture<StrellSettingsView>(title, "strell-settings-direct",
                                [](ConnectorController& c) { C::strell(c, routing()); });
    capture<StrellSettingsView>(
        title, "strell-settings-edited-failed",
        [](ConnectorController& c) {
            C::strell(c, routing());
            C::strellMessage(
                c, QStringLiteral("网关设置已在别处改过（现在是第 4 版，这次基于第 3 版），请重新载入后再试"),
                true);
        },
        true);
    capture<StrellSettingsView>(title, "strell-settings-removed-role",
                                [](ConnectorController& c) { C::strell(c, routing(true, "r/gone", false)); });
    capture<StrellSettingsView>(title, "strell-settings-busy", [](ConnectorController& c) {
        C::strell(c, routing(true, "r/backend"));
        C::strellBusy(c, true);
        C::strellMessage(c, QStringLiteral("正在检查并保存…"));
    });
    capture<StrellSettingsView>(title, "strell-settings-nobridge",
                                [](ConnectorController& c) { C::bridge(c, {}); });
}

} // namespace
