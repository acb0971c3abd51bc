#include "PageFixture.h"
#include "Screens.h"

#include "Brand.h"
#include "Card.h"
#include "SessionHooksView.h"
#include "StrellSettingsView.h"

#include <QAbstractButton>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <functional>

namespace {

using C = ControllerTestAccess;
using Set = std::function<void(ConnectorController&)>;

// Renders a card in its settings-page frame into <screens>/<name>.png; `strell` first switches the gateway
// card to "单岗位 Strell" as a user would.
template <typename View>
void capture(const char* title, const char* name, const Set& set, bool strell = false) {
    PageFixture fixture;
    C::bridge(fixture.controller, BridgeStatus{});
    set(fixture.controller);
    QWidget page;
    page.setPalette(Brand::palette());
    page.setAutoFillBackground(true);
    page.setFixedWidth(560);
    auto* layout = new QVBoxLayout(&page);
    layout->addWidget(new Card(QString::fromUtf8(title), new View(fixture.controller), &page));
    page.setAttribute(Qt::WA_DontShowOnScreen);
    page.show(); // the card appears and loads
    if (strell)
        page.findChild<QAbstractButton*>(QStringLiteral("strell.mode.strell"))->click();
    page.setFixedHeight(page.heightForWidth(560)); // wrapped texts at the page's real width
    EXPECT_EQ(Screens::check(page, QString::fromLatin1(name)), "") << name;
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
            C::strellMessage(c, QStringLiteral("连不上网关 http://127.0.0.1:3425"));
            C::strellError(c, true);
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
