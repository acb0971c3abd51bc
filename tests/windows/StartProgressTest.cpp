#include "StartProgress.h"
#include "ConnectorSettings.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using Step = StartProgress::Step;

Engine engine(const QString& id, bool usable) {
    Engine e;
    e.id = id;
    e.title = engineTitle(id);
    e.summary = usable ? QStringLiteral("已登录") : QStringLiteral("未安装");
    e.usable = usable;
    return e;
}

struct Case {
    const char* name;
    QList<Engine> engines;
    bool appInstalled;
    bool paired;
    std::optional<Step> current;
    int remaining;
    bool engineDone, appDone, linkDone;
};

} // namespace

TEST(StartProgress, StepsCurrentAndRemaining) {
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
