#include "StartModel.h"

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
         std::nullopt,
         Action::findAgain,
         true},
        {"known, none usable, tool work running",
         {engine("codex", false)},
         true,
         true,
         std::nullopt,
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
            EXPECT_EQ(m.help->actionTitle, QStringLiteral("再找一遍"));
            EXPECT_EQ(m.help->actionEnabled, c.enabled);
            EXPECT_EQ(m.help->note,
                      QStringLiteral("装好或登录好一个以后，点「再找一遍」。怎么登录见「诊断」页。"));
        } else {
            EXPECT_FALSE(m.help->note);
        }
    }
}

TEST(StartModel, OnlyTheCurrentStepHasHelp) {
    const StartModel link = StartModel::from(input({engine("codex", true)}, true, true, 0));
    EXPECT_EQ(link.steps[0].marker, Marker::done);
    EXPECT_EQ(link.steps[1].marker, Marker::done);
    EXPECT_EQ(link.steps[2].marker, Marker::current);
    ASSERT_TRUE(link.help);
    EXPECT_EQ(link.help->step, Step::link);
    EXPECT_EQ(link.help->action, Action::openSenvik);
    EXPECT_EQ(link.help->actionTitle, QStringLiteral("打开 Orvane"));
    EXPECT_TRUE(link.help->prominent);

    const StartModel app = StartModel::from(input({engine("codex", true)}, true, false, 0));
    ASSERT_TRUE(app.help);
    EXPECT_EQ(app.help->step, Step::app);
    EXPECT_EQ(app.help->action, Action::openDownloadPage);
    EXPECT_EQ(app.help->actionTitle, QStringLiteral("去下载页装 Orvane"));
    EXPECT_EQ(app.steps[2].marker, Marker::later);
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

TEST(StartModel, AccessibilityLabels) {
    const StartModel m = StartModel::from(input({engine("codex", true)}, true, false, 0));
    EXPECT_EQ(m.steps[0].accessibleLabel,
              QStringLiteral("第 1 步，这台 Mac 上的执行工具，做完了，Codex 能用"));
    EXPECT_EQ(m.steps[1].accessibleLabel, QStringLiteral("第 2 步，这台 Mac 上装 Orvane，现在做"));
    EXPECT_EQ(m.steps[2].accessibleLabel, QStringLiteral("第 3 步，Orvane 连上连接器，先做上一步"));
}
