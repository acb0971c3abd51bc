#pragma once

#include "PageFixture.h"
#include "Screens.h"

#include "OverviewView.h"
#include "StartView.h"
#include "StatusView.h"
#include "WindowState.h"

#include <QDateTime>

// Believable controller states shared by the page tests and the screenshots.
namespace PageStates {

inline Engine engine(const QString& id, bool usable, const QString& summary) {
    Engine e;
    e.id = id;
    e.title = engineTitle(id);
    e.summary = summary;
    e.usable = usable;
    return e;
}

inline CliTool tool(const QString& id, std::optional<QString> version, bool updateAvailable,
                    std::optional<qint64> models, const QString& message) {
    CliTool t;
    t.id = id;
    t.currentVersion = std::move(version);
    t.latestVersion = updateAvailable ? std::optional<QString>(QStringLiteral("0.31.0")) : t.currentVersion;
    t.canUpdate = true;
    t.updateAvailable = updateAvailable;
    t.models = models;
    t.checked = true;
    t.message = message;
    return t;
}

inline Pairing pairing(const QString& id, const QString& label, const QString& client,
                       std::optional<QString> lastSeen) {
    Pairing p;
    p.id = id;
    p.label = label;
    p.client = client;
    p.lastSeen = std::move(lastSeen);
    return p;
}

inline BridgeStatus bridge(qint64 openRuns = 0) {
    BridgeStatus b;
    b.port = 47120;
    b.version = QStringLiteral("0.9.3");
    b.managed = true;
    b.openRuns = openRuns;
    return b;
}

// Everything connected and working.
inline void normal(ConnectorController& c) {
    using A = ControllerTestAccess;
    A::background(c, Background::Enabled{});
    A::bridge(c, bridge());
    A::engines(c, {engine("codex", true, QStringLiteral("已登录 · 0.30.2")),
                   engine("claude_code", true, QStringLiteral("已登录 · 2.1.4")),
                   engine("evox", false, QStringLiteral("没找到 EvoX 桌面 App"))});
    A::cliTools(c,
                {tool("codex", QStringLiteral("0.30.2"), true, 12, QStringLiteral("有新版本 0.31.0")),
                 tool("claude_code", QStringLiteral("2.1.4"), false, 5, QStringLiteral("已是最新")),
                 tool("evox", std::nullopt, false, std::nullopt, QStringLiteral("跟着 EvoX 桌面 App 更新"))});
    A::cliAvailable(c, true);
    A::pairings(
        c, {pairing("p1", QStringLiteral("王小明的 iPhone"), QStringLiteral("Orvane iOS 2.3"),
                    QStringLiteral("今天 09:41")),
            pairing("p2", QStringLiteral("MacBook Pro"), QStringLiteral("Orvane macOS 2.3"), std::nullopt)});
    A::update(c, UpdateState::Idle{QDateTime(QDate(2026, 12, 9), QTime(9, 30))});
}

inline UpdateInfo build31(std::optional<QString> notes = std::nullopt) {
    UpdateInfo info;
    info.version = QStringLiteral("1.5");
    info.build = 31;
    info.notes = std::move(notes);
    return info;
}

// The window's content on `page`, its refresh loop off, laid out as on screen after `setUp` set the state.
// `C` may be a controller subclass that records actions.
template <typename C = ConnectorController> struct Window {
    BasicPageFixture<C> f;
    WindowState state;
    std::unique_ptr<StatusView> view;

    explicit Window(WindowPage page, void (*setUp)(ConnectorController&) = normal) {
        setUp(f.controller);
        state.setPage(page);
        view = std::make_unique<StatusView>(f.controller, state);
        view->setRefreshLoop(false);
        Screens::render(*view);
    }
    OverviewView* overview() const { return qobject_cast<OverviewView*>(view->page(WindowPage::overview)); }
    StartView* start() const { return qobject_cast<StartView*>(view->page(WindowPage::start)); }
};

} // namespace PageStates
