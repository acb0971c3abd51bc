#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class Ed25519Key;

// Builds stand-in companion apps: bundles around the companion-standin program with a chosen identifier.
namespace CompanionStandin {

// The stand-in program as this build made it.
QString program();

// Assembles a bundle at `appPath` (a folder ending in .app): Info.plist with `bundleID`, the program as
// Contents/MacOS/<executable>, a resource file. Returns false when a file cannot be written.
bool assemble(const QString& appPath, const QString& bundleID,
              const QString& executable = QStringLiteral("Orvane"));

// The same, then signed with `key` as `bundleID` for `team`. Returns false on any failure.
bool assembleSigned(const QString& appPath, const QString& bundleID, const Ed25519Key& key,
                    const QString& team, const QString& executable = QStringLiteral("Orvane"));

// Where the app at `appPath` records the links it was started with, and what it recorded so far.
QString receivedLinksFile(const QString& appPath);
QStringList receivedLinks(const QString& appPath);

} // namespace CompanionStandin
