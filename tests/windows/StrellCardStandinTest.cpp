#include "PageFixture.h"
#include "StandinBridgeProcess.h"

#include "BridgeAdmin.h"
#include "RunTask.h"
#include "StrellSettingsModel.h"

#include <gtest/gtest.h>

using nlohmann::json;

// The card's rules over the controller and the stand-in bridge as a real process: a save over a change made
// elsewhere is refused with the bridge's words, the edit and its warning stay, and "重新载入" clears both.
TEST(StrellCardAgainstStandin, AStaleSaveIsRefusedAndTheEditKept) {
    PageFixture f;
    ConnectorController& controller = f.controller;
    ControllerTestAccess::background(controller, Background::Enabled{});
    controller.checkedCliOnLaunch = true;
    StandinBridgeProcess bridge(json::parse(R"({"status": {"open": 0,
        "strell": {"revision": 3, "pilot": null, "roles": [{"path": "r/backend", "title": "后端"}]}}})"));
    ASSERT_TRUE(bridge.started());
    StrellSettingsModel card;
    QObject::connect(&controller, &ConnectorController::changed, [&] { card.follow(controller.strell()); });
    const auto refresh = [&] { TestSupport::runTask(controller.refresh(), std::chrono::seconds(10)); };
    const auto warnings = [&] { return card.view(StrellSettingsModel::Inputs::from(controller)).warnings; };
    refresh();
    card.appear(controller.strell());
    card.setEnabled(true);

    json fields = {{"pilot", nullptr}, {"expectedRevision", 3}}; // another window saves first
    TestSupport::runTask(BridgeAdmin::request(QStringLiteral("strell-configure"), std::nullopt, fields, 10));
    refresh();
    const QStringList stale{QStringLiteral("设置已在其他窗口更改，请重新载入后保存。")};
    EXPECT_EQ(warnings(), stale);
    EXPECT_FALSE(TestSupport::runTask(
        controller.strellAction(QStringLiteral("strell-configure"), card.draft(), card.revision()),
        std::chrono::seconds(70)));
    const auto result = card.view(StrellSettingsModel::Inputs::from(controller)).result;
    EXPECT_EQ(result,
              (StrellSettingsModel::ResultLine{
                  QStringLiteral("网关设置已在别处改过（现在是第 4 版，这次基于第 3 版），请重新载入后再试"),
                  true}));
    EXPECT_TRUE(card.edited() && card.draft().enabled);
    EXPECT_EQ(warnings(), stale);
    card.reload(controller.strell());
    EXPECT_TRUE(warnings().isEmpty());
    EXPECT_EQ(card.revision(), 4);
}
