#pragma once

#include <QString>

#include <optional>

// The user's preferences, read and written straight through to the per-user store shared by every process of
// the user (the agent mode reads it too, without an application object). Values are kept only while the
// store's file is unchanged, so another process's writes are seen at the next read.
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
