#pragma once

#include <QObject>
#include <QString>

#include <optional>

// A test-only window into the running application, off unless its environment variables are set. Tests start
// the connector as a real process and read what it did from a file:
//
//   ORVANE_CONNECTOR_PROBE=<file>   append one line per lifecycle event: "<steady-clock ms> <event>", e.g.
//                                   "status item", "window overview", "window hidden", "reopen",
//                                   "link <url> handled", "quit idle", "quit other-instance",
//                                   "waiting for the old instance", "launched" (the launch's last step),
//                                   "tray shown", "tray missing", "tooltip <text>" (when it changes),
//                                   "refreshed" (each refresh of the status item's loop),
//                                   "menu <title>|<title>|…" (the rows, separators left out, each time the
//                                   menu opens).
//                                   The clock is the system's monotonic clock, comparable across processes.
//   ORVANE_CONNECTOR_PROBE_CLOSE_WINDOW_MS=<n>   close the main window (as its close button does) n ms after
//                                   it was first shown.
//   ORVANE_CONNECTOR_PROBE_SERVICE_MANAGER=<program>   the service-manager tool that starts and restarts the
//                                   bridge's agent (a stand-in that manages a stand-in bridge).
//   ORVANE_CONNECTOR_PROBE_REFRESH_MS=<n>   refresh the controller every n ms from the start, so a test need
//                                   not wait for the status item's or the window's own pace.
// Events of the desktop registration: "desktop registered" once the launch's registration has finished.
namespace LifecycleProbe {

void note(const QString& event);
std::optional<int> closeWindowAfterMs();
std::optional<QString> serviceManagerTool();
std::optional<int> refreshEveryMs();
// ORVANE_CONNECTOR_PROBE_MINIMIZE_WINDOW_MS=<n>: minimize the main window n ms after it was first shown
// (event "window minimized").
std::optional<int> minimizeWindowAfterMs();
// ORVANE_CONNECTOR_PROBE_HIDE_WINDOW_MS=<n>: close the main window n ms after each time it is shown.
std::optional<int> hideWindowAfterMs();

// ORVANE_CONNECTOR_PROBE_TIMERS=1: note every timer that fires on the main thread, "timer <class> <name>".
// ORVANE_CONNECTOR_PROBE_WATCHDOG_MS=<n>: a timer every n ms on the main thread notes how late it came when
// that exceeds 2 ms, "stall <ms> cpu <ms>" (with the main thread's processor time over that gap): the
// longest stall of the event loop. Both cost nothing when unset.
void watchTimers(QObject& application);
void startWatchdog(QObject& parent);

} // namespace LifecycleProbe
