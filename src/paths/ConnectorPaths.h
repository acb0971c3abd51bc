#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>

// Every location, identifier and service name the connector and the bridge agree on. Locations are computed
// once per process on first use and then kept.
namespace ConnectorPaths {

const QString& home();
const std::optional<QString>& validationDir();
// A validation run: nothing outside its own folder (service manager, desktop, login items) is touched.
bool isolated();
const QString& dataDir();
const QString& adminSocket();
const QString& logsDir();
const QString& bridgeLog();
const QString& updatesDir();

inline const QString agentPlist = QStringLiteral("com.tamrik.senvik.connector.agent.plist");
inline const QString agentLabel = QStringLiteral("com.tamrik.senvik.connector.agent");
inline const QString menuBarPlist = QStringLiteral("com.tamrik.senvik.connector.menubar.plist");
inline const QString connectorBundleID = QStringLiteral("com.tamrik.senvik.connector");
inline const QStringList senvikApps{QStringLiteral("com.tamrik.vestrano"),
                                    QStringLiteral("com.tamrik.vestrano.global")};
inline const QString teamID = QStringLiteral("K3ZP8W2QNM");
inline const QString scheme = QStringLiteral("senvik-connector");
inline const QString appName = QStringLiteral("Orvane 连接器");
inline const QString legacyAppName = QStringLiteral("森维连接器");

// True for a bundle that runs from where it will vanish again: a mounted disk image or the system's
// quarantine copy, and on Linux removable media (/media, /run/media) or a running AppImage's temporary mount
// (/tmp/.mount_*). Nothing registered with the system may point there.
bool transientLocation(const QString& bundlePath);

// Where the legacy rename moves a bundle, or nothing when it stays where it is.
std::optional<QString> renamedLocation(const QString& bundle);

// A path as shown to the user, with the home directory written "~".
QString display(const QString& path);

// The temporary root that holds validation directories: /private/tmp on macOS; Linux has no /private, so
// its own temporary root.
QString validationRoot();

// The validation rules on explicit inputs, so they can be checked without restarting the process.
std::optional<QString> computeValidationDir(const QStringList& arguments,
                                            const std::optional<QString>& environmentValue,
                                            const QString& validationRoot, uid_t realUser);

} // namespace ConnectorPaths
