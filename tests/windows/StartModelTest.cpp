#include "StartModel.h"

#include "ConnectorSettings.h"

#include <gtest/gtest.h>

namespace {

using Step = StartProgress::Step;
using Marker = StartModel::Marker;
using Action = StartModel::Action;

Engine engine(const QString& id, bool usable) {
    Engine e;
    e.id = id;
    e.title = engineTitle(id);
    e.summary = usable ? QStringLiteral("已登录") : QStringLiteral("没找到");
    e.usable = usable;
    return e;
}

StartInput input(QList<Engine> engines, bool bridge, bool app, qsizetype pairings, bool busy = false) {
    return {StartProgress{std::move(engines), bridge, app, pairings > 0}, pairings, busy};
}

} // namespace

TEST(StartModel, NothingConnectedYet) {
    const StartModel m = StartModel::from(input({}, true, false, 0));
    ASSERT_EQ(m.nodes.size(), 3);
    EXPECT_EQ(m.nodes[0].status, QStringLiteral("还没连上"));
    EXPECT_FALSE(m.nodes[0].fine);
    EXPECT_TRUE(m.nodes[1].fine);
    EXPECT_EQ(m.nodes[1].status, QStringLiteral("已装好"));
    EXPECT_EQ(m.nodes[2].status, QStringLiteral("还没有能用的"));
    EXPECT_FALSE(m.nodes[2].fine);
    ASSERT_EQ(m.steps.size(), 3);
    EXPECT_EQ(m.steps[0].marker, Marker::current);
    EXPECT_FALSE(m.steps[0].detail);
    EXPECT_EQ(m.steps[1].detail, QStringLiteral("先做上一步"));
    EXPECT_EQ(m.steps[2].detail, QStringLiteral("先做上一步"));
    ASSERT_TRUE(m.help);
    EXPECT_EQ(m.help->step, Step::engine);
    EXPECT_EQ(m.help->state, QStringLiteral("正在找…"));
    EXPECT_EQ(m.help->action, Action::none); // nothing found yet: no "再找一遍"
    EXPECT_FALSE(m.complete);
}

TEST(StartModel, FirstStepHelpByBridgeAndEngines) {
    struct Case {
        const char* name;
        QList<Engine> engines;
        bool bridge, busy;
        std::optional<QString> state;
        Action action;
        bool enabled;
    };
    const QString away = QStringLiteral("桥接没在运行，查不了。到「概览」看一下。");
    const Case cases[] = {
        {"bridge away, nothing known", {}, false, false, away, Action::none, true},
        {"bridge away, engines known", {engine("codex", false)}, false, false, away, Action::none, true},
        {"looking", {}, true, false, QStringLiteral("正在找…"), Action::none, true},
        {"known, none usable",
         {engine("codex", false), engine("evox", false)},
         true,
         false,
         {},
         Action::findAgain,
         true},
        {"known, none usable, tool work running",
         {engine("codex", false)},
         true,
         true,
         {},
         Action::findAgain,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const StartModel m = StartModel::from(input(c.engines, c.bridge, false, 0, c.busy));
        ASSERT_TRUE(m.help);
        EXPECT_EQ(m.help->step, Step::engine);
        EXPECT_EQ(m.help->state, c.state);
        EXPECT_EQ(m.help->action, c.action);
        EXPECT_EQ(m.help->engines.size(), c.engines.size());
        if (c.action == Action::findAgain) {
            EXPECT_EQ(m.help->actionEnabled, c.enabled);
            EXPECT_EQ(m.help->note,
                      QStringLiteral("装好或登录好一个以后，点「再找一遍」。怎么登录见「诊断」页。"));
        } else {
            EXPECT_FALSE(m.help->note);
        }
    }
}

// Each step's help word for word: the user follows these texts, so one changed character is a fault.
TEST(StartModel, OnlyTheCurrentStepHasHelpAndStepsAreLabelled) {
    const struct {
        StartInput in;
        Step step;
        const char* text;
        Action action;
        const char* actionTitle;
    } helps[] = {
        {input({engine("codex", false)}, true, false, 0), Step::engine,
         "岗位靠 Codex、Claude Code 或 EvoX 干活，有一个能用就够。它们用的是你自己的账号和订阅。",
         Action::findAgain, "再找一遍"},
        {input({engine("codex", true)}, true, false, 0), Step::app,
         "现在连接器靠这台 Mac 上的 Orvane 和你的手机来回。Mac 版走 TestFlight：下载页上有步骤，装好后登录。",
         Action::openDownloadPage, "去下载页装 Orvane"},
        {input({engine("codex", true)}, true, true, 0), Step::link,
         "在 Orvane 里打开「我的 Agent」，会自动连上，不用终端，也不用连接码。", Action::openSenvik,
         "打开 Orvane"},
    };
    for (const auto& h : helps) {
        const StartModel m = StartModel::from(h.in);
        ASSERT_TRUE(m.help);
        EXPECT_EQ(m.help->step, h.step);
        EXPECT_EQ(m.help->text, QString::fromUtf8(h.text));
        EXPECT_EQ(m.help->action, h.action);
        EXPECT_EQ(m.help->actionTitle, QString::fromUtf8(h.actionTitle));
        EXPECT_EQ(m.help->prominent, h.step != Step::engine);
        EXPECT_EQ(m.steps[int(h.step) - 1].marker, Marker::current);
    }
    const StartModel app = StartModel::from(helps[1].in);
    EXPECT_EQ(app.steps[0].marker, Marker::done);
    EXPECT_EQ(app.steps[2].marker, Marker::later);
    EXPECT_EQ(app.steps[0].accessibleLabel,
              QStringLiteral("第 1 步，这台 Mac 上的执行工具，做完了，Codex 能用"));
    EXPECT_EQ(app.steps[1].accessibleLabel, QStringLiteral("第 2 步，这台 Mac 上装 Orvane，现在做"));
    EXPECT_EQ(app.steps[2].accessibleLabel, QStringLiteral("第 3 步，Orvane 连上连接器，先做上一步"));
}

TEST(StartModel, PairedWithoutTheAppOnThisMacIsComplete) {
    const StartModel m = StartModel::from(
        input({engine("evox", true), engine("codex", false), engine("claude_code", true)}, true, false, 2));
    EXPECT_TRUE(m.complete);
    EXPECT_FALSE(m.help);
    EXPECT_EQ(m.steps[0].detail, QStringLiteral("EvoX、Claude Code 能用"));
    EXPECT_EQ(m.steps[1].detail, QStringLiteral("装好了"));
    EXPECT_EQ(m.steps[2].detail, QStringLiteral("已连上 2 个"));
    EXPECT_EQ(m.nodes[0].status, QStringLiteral("已连上"));
    EXPECT_EQ(m.nodes[2].status, QStringLiteral("EvoX、Claude Code 能用"));
}

TEST(StartProgress, StepsCurrentAndRemaining) {
    struct Case {
        const char* name;
        QList<Engine> engines;
        bool appInstalled;
        bool paired;
        std::optional<Step> current;
        int remaining;
        bool engineDone, appDone, linkDone;
    };
    const Engine codex = engine("codex", true), claude = engine("claude_code", false);
    const Case cases[] = {
        {"nothing yet", {}, false, false, Step::engine, 3, false, false, false},
        {"engines known, none usable", {claude}, true, false, Step::engine, 2, false, true, false},
        {"usable engine only", {codex}, false, false, Step::app, 2, true, false, false},
        {"engine and app, no pairing", {claude, codex}, true, false, Step::link, 1, true, true, false},
        // Orvane used only on the phone: a pairing counts for the app too.
        {"engine and pairing, app not on this Mac", {codex}, false, true, std::nullopt, 0, true, true, true},
        {"everything", {codex}, true, true, std::nullopt, 0, true, true, true},
        // Without a usable engine the first step stays current even when paired.
        {"paired but no usable engine", {claude}, false, true, Step::engine, 1, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartProgress p{c.engines, true, c.appInstalled, c.paired};
        EXPECT_EQ(p.current(), c.current);
        EXPECT_EQ(p.remaining(), c.remaining);
        EXPECT_EQ(p.done(Step::engine), c.engineDone);
        EXPECT_EQ(p.done(Step::app), c.appDone);
        EXPECT_EQ(p.done(Step::link), c.linkDone);
    }
}

TEST(StartProgress, BridgeStateChangesNoStep) {
    StartProgress running{{engine("codex", true)}, true, true, false};
    StartProgress stopped = running;
    stopped.bridgeRunning = false;
    EXPECT_EQ(running.current(), stopped.current());
    EXPECT_EQ(running.remaining(), stopped.remaining());
    EXPECT_NE(running, stopped); // but the value differs, so the page looks again
}

TEST(StartProgress, CompletionIsRecordedOnceAndNeverCleared) {
    ConnectorSettings::setStartCompleted(false);
    StartProgress unfinished{{engine("codex", true)}, true, true, false};
    unfinished.rememberIfComplete();
    EXPECT_FALSE(ConnectorSettings::startCompleted());

    StartProgress finished{{engine("codex", true)}, true, false, true};
    finished.rememberIfComplete();
    EXPECT_TRUE(ConnectorSettings::startCompleted());

    // A later, less complete state does not take it back.
    StartProgress{}.rememberIfComplete();
    EXPECT_TRUE(ConnectorSettings::startCompleted());
    ConnectorSettings::setStartCompleted(false);
}
