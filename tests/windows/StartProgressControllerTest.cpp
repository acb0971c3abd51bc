#include "ConnectorPaths.h"
#include "PageFixture.h"
#include "RunTask.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

// The controller's reading follows its own fields at once and learns about the companion app from a lookup
// that runs off the main thread and announces its answer.
TEST(StartProgressController, FollowsTheControllerAndLooksUpTheAppOffTheMainThread) {
    PageFixture f;
    Engine codex;
    codex.id = QStringLiteral("codex");
    codex.title = QStringLiteral("Codex");
    codex.usable = true;
    ControllerTestAccess::engines(f.controller, {codex});
    ControllerTestAccess::bridge(f.controller, BridgeStatus{});
    f.workspace->installed.insert(ConnectorPaths::senvikApps.last());

    int announced = 0;
    QObject::connect(&f.controller, &ConnectorController::changed, [&] { ++announced; });
    StartProgress first = f.controller.startProgress();
    // The first reading does not wait for the folders.
    EXPECT_FALSE(first.appInstalled);
    EXPECT_TRUE(first.bridgeRunning);
    EXPECT_EQ(first.engines.size(), 1);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return f.controller.startProgress().appInstalled; }, 20s));
    EXPECT_GE(announced, 1);
    EXPECT_EQ(f.controller.startProgress().current(), StartProgress::Step::link);

    // Reading again at once does not start another lookup.
    const int lookups = f.workspace->lookups;
    for (int i = 0; i < 5; ++i)
        f.controller.startProgress();
    TestSupport::spinFor(100ms);
    EXPECT_EQ(f.workspace->lookups, lookups);
}
