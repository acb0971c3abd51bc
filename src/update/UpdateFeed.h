#pragma once

#include <QString>
#include <QUrl>
#include <nlohmann/json.hpp>

#include <optional>

// Where updates come from and which build is running, from the Info dictionary and the user's override.
namespace UpdateFeed {

// The override when present (an empty one never is), else the dictionary's "SenvikUpdateFeedURL" text, else
// nothing. A text that does not form a URL gives nothing too.
std::optional<QUrl> feedURL(const nlohmann::json& info, const std::optional<QString>& override);

// A decimal integer with an optional leading sign and nothing else; nothing when out of range.
std::optional<qint64> parseBuildNumber(const QString& text);

// The dictionary's CFBundleVersion as a number; 0 when absent, not text, not a number or out of range.
qint64 buildNumber(const nlohmann::json& info);

} // namespace UpdateFeed
