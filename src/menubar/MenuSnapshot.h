#pragma once

#include "ControllerTypes.h"
#include "Health.h"
#include "UpdateState.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class ConnectorController;

// Everything the status menu shows, copied from the controller at one instant. The rows follow from this
// alone.
struct MenuSnapshot {
    // How long a finished executor-tool result stays in the menu.
    static constexpr qint64 resultSeconds = 120;

    Health health;
    QString healthTitle;
    std::optional<BridgeStatus> bridge; // absent while the bridge cannot be reached
    qint64 pairings = 0;
    bool canStartBridge = false; // the bridge's background item is enabled
    QString version;
    bool updatedThisLaunch = false;
    UpdateState update;
    bool autoInstall = true;
    bool holdsAutoInstall = false; // the menu is open
    bool waitsToInstall = false;
    QList<Engine> engines;
    qsizetype enginesNotListed = 0;
    QList<CliTool> cliTools;
    bool cliAvailable = false;
    bool cliBusy = false;
    std::optional<CliActivity> cliActivity;
    std::optional<QString> cliResult; // only while younger than resultSeconds
    qint64 startRemaining = 0;        // onboarding steps left; 0 once completed or while the bridge is away
    QDateTime now;

    qint64 openRuns() const { return bridge ? bridge->openRuns : 0; }

    // The result's text while it is less than resultSeconds older than now; a result stamped in the future
    // (the clock was set back) still counts as recent.
    static std::optional<QString> recentResult(const std::optional<CliResult>& result, const QDateTime& now) {
        if (!result || !result->at.isValid() || !now.isValid())
            return std::nullopt;
        if (result->at.msecsTo(now) >= resultSeconds * 1000)
            return std::nullopt;
        return result->text;
    }

    // 0 when onboarding was completed or the bridge is away; otherwise the steps the start page still counts.
    static qint64 startSteps(bool startCompleted, bool bridgePresent, qint64 remaining) {
        return (startCompleted || !bridgePresent) ? 0 : remaining;
    }

    // Takes the snapshot from the controller. The onboarding count (the start page's remaining steps) and the
    // two settings are passed in, so that this reads nothing but the controller.
    static MenuSnapshot from(const ConnectorController& controller, const QDateTime& now,
                             qint64 startRemaining, bool startCompleted, bool autoInstall);
};
