#pragma once

#include <QString>

#include <optional>

// A test-only window into the running application, off unless its environment variables are set. Tests start
// the connector as a real process and read what it did from a file:
//
//   ORVANE_CONNECTOR_PROBE=<file>   append one line per lifecycle event: "<steady-clock ms> <event>", e.g.
//                                   "status item", "window overview", "window hidden", "reopen",
//                                   "link <url> handled", "quit idle", "quit other-instance".
//                                   The clock is the system's monotonic clock, comparable across processes.
//   ORVANE_CONNECTOR_PROBE_CLOSE_WINDOW_MS=<n>   close the main window (as its close button does) n ms after
//                                   it was first shown.
namespace LifecycleProbe {

void note(const QString& event);
std::optional<int> closeWindowAfterMs();
// ORVANE_CONNECTOR_PROBE_MINIMIZE_WINDOW_MS=<n>: minimize the main window n ms after it was first shown
// (event "window minimized").
std::optional<int> minimizeWindowAfterMs();

} // namespace LifecycleProbe
