#include "MenuSnapshot.h"

#include "ConnectorController.h"

MenuSnapshot MenuSnapshot::from(const ConnectorController& controller, const QDateTime& now,
                                qint64 startRemaining, bool startCompleted, bool autoInstall) {
    MenuSnapshot s;
    s.health = controller.health();
    s.healthTitle = s.health.title();
    s.bridge = controller.bridge();
    s.pairings = controller.pairings().size();
    s.canStartBridge = controller.background().is<Background::Enabled>();
    s.version = controller.version();
    s.updatedThisLaunch = controller.updatedThisLaunch;
    s.update = controller.update();
    s.autoInstall = autoInstall;
    s.holdsAutoInstall = controller.holdsAutoInstall;
    s.waitsToInstall = controller.waitsToInstall();
    s.engines = controller.engines();
    s.enginesNotListed = controller.enginesNotListed();
    s.cliTools = controller.cliTools();
    s.cliAvailable = controller.cliAvailable();
    s.cliBusy = controller.cliBusy();
    s.cliActivity = controller.cliActivity();
    s.cliResult = recentResult(controller.cliResult(), now);
    s.startRemaining = startSteps(startCompleted, s.bridge.has_value(), startRemaining);
    s.now = now;
    return s;
}
