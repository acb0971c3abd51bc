#pragma once

#include "UpdateInfo.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <array>
#include <functional>
#include <optional>

// The network and file half of the self-update: the feed, the streamed download, the image's SHA-256 and
// the system-version test. Everything here blocks: call it on a worker (Async::onWorker), never on the main
// thread. Failures are thrown as UpdateFailure with a Chinese description.
namespace UpdateDownload {

using Progress = std::function<void(qint64 received, std::optional<qint64> total)>;

inline constexpr int feedTimeoutMs = 30'000;     // without any data moving
inline constexpr int downloadTimeoutMs = 60'000; // likewise
inline constexpr qint64 writeBufferBytes = 262'144;
inline constexpr qint64 progressIntervalMs = 250;
inline constexpr qint64 maxFeedBytes = 1 << 20;
inline constexpr qint64 maxImageBytes = qint64(2) << 30; // when the entry names no size

// The feed document at `url`: status exactly 200, never from a cache, at most maxFeedBytes.
QByteArray getFeed(const QUrl& url);

// Streams the image of `info` from `url` into `directory`/SenvikConnector-<build>.dmg in 256 KiB writes and
// returns the file's path. `progress` is called at most every 0.25 s and once at the end, on this thread. A
// body beyond the entry's size (or 2 GiB without one) is refused. The file is removed on every failure.
QString fetch(const UpdateInfo& info, const QUrl& url, const QString& directory, const Progress& progress);

// Lowercase hexadecimal SHA-256 of the file's contents, read 1 MiB at a time.
QString sha256(const QString& path);

// Whether a redirect from `from` to `to` may be followed: within https, or within plain http on the
// loopback address.
bool redirectAllowed(const QUrl& from, const QUrl& to);

// The dotted text as (major, minor, patch): pieces that are not decimal integers are dropped.
std::array<qint64, 3> versionTriple(const QString& text);
bool versionAtLeast(const std::array<qint64, 3>& system, const QString& required);

// The running system's version: macOS's own; on Linux the distribution's VERSION_ID (Debian 12 → 12.0.0).
std::array<qint64, 3> systemVersion();
// The running system's own name, as its version is compared: "macOS", or the distribution's NAME.
QString systemName();
bool systemAtLeast(const QString& required);

} // namespace UpdateDownload
