#pragma once

#include <QString>

// Decides whether a downloaded update may replace the running application now, and what it waits for.
namespace UpdateGate {

// The answer to the user's request to install.
enum class Click { installNow, wait };

Click click(qint64 openRuns, bool cliBusy);

// Automatic or requested installation goes ahead only with no open runs, no tool work and the menu closed.
bool installsNow(bool autoInstall, bool waiting, qint64 openRuns, bool menuOpen, bool cliBusy);

// What the user is told the installation waits for; open runs are named first.
QString waitLine(qint64 openRuns, bool cliBusy, bool menuOpen);

} // namespace UpdateGate
