#pragma once

#include "SessionHooksStatus.h"

#include <QString>
#include <QStringList>

#include <optional>

class ConnectorController;

// What the "外面的会话" card shows, from the controller's session-hook fields. Pure: no widgets, no state of
// its own between builds (whether hooks are on is always the bridge's report).
struct SessionHooksModel {
    // False when the bridge sends no hook report (outdated or unreachable): the card then shows only `hint`.
    bool supported = false;
    QString hint;

    bool switchOn = false;      // the switch's value: hooks are in at least one tool's configuration
    bool switchEnabled = false; // no switch is under way
    QStringList lines;          // the "它现在照这样做" list, each line already led by "· "
    std::optional<QString> message;

    bool operator==(const SessionHooksModel&) const = default;

    static SessionHooksModel make(const std::optional<SessionHooksStatus>& hooks, bool busy,
                                  const std::optional<QString>& message);
    static SessionHooksModel from(const ConnectorController& controller);

    // One tool's line of the list, without the leading "· ".
    static QString targetLine(const QString& name, const SessionHooksStatus::Target& target);

    static QString switchTitle();
    static QString explanation();
    static QString heading();
};
