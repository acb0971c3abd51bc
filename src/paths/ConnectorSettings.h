#pragma once

#include <QString>

#include <optional>

// The user's preferences, read and written straight through to the per-user store shared by every process of
// the user (the agent mode reads it too, without an application object). Nothing is cached here.
namespace ConnectorSettings {

// Fallbacks for keys the user never set; kept in memory only, never written to the store.
void registerDefaults();

bool showsStatusItemAtLogin();
void setShowsStatusItemAtLogin(bool value);

bool startCompleted();
void setStartCompleted(bool value);

bool autoInstallUpdates();
void setAutoInstallUpdates(bool value);

// The stored "updateFeedURL" when present and not empty.
std::optional<QString> updateFeedOverride();

} // namespace ConnectorSettings
