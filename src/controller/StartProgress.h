#pragma once

#include "ControllerTypes.h"

#include <QList>
#include <QString>

#include <array>
#include <optional>

// How far a new user is with the three things an Agent needs: an executor tool on this Mac, the companion
// app, and a pairing. Never stored: recomputed from the controller whenever it is needed.
struct StartProgress {
    QList<Engine> engines;
    bool bridgeRunning = false; // changes only what the first step's help says
    bool appInstalled = false;
    bool paired = false;

    bool operator==(const StartProgress&) const = default;

    // The steps, numbered as the user sees them.
    enum class Step { engine = 1, app = 2, link = 3 };
    static constexpr std::array<Step, 3> allSteps{Step::engine, Step::app, Step::link};

    // The companion app's download page: shown as a QR code and opened in the browser.
    static const QString downloadPage;

    QList<Engine> readyEngines() const;
    bool done(Step step) const;
    // The first step to do; absent when everything is done.
    std::optional<Step> current() const;
    // How many steps are not done (0 to 3).
    int remaining() const;

    // Records, once and for good, that the user got through every step.
    void rememberIfComplete() const;
};
