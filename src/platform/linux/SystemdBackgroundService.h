#pragma once

#include "BackgroundService.h"

#include <QString>
#include <QStringList>
#include <nlohmann/json.hpp>

#include <optional>

// A background item as a systemd --user unit. The item's launchd-style property list in the bundle
// (Contents/Library/LaunchAgents/<plist>) describes it; the unit is generated from that description and lives
// in the user's unit directory, so the user's own systemd starts it at login.
//
// `status()` only looks at files (no child process): the description in the bundle, masks, our unit file and
// its enablement link. Registration runs systemctl with a time-out on every call.
class SystemdBackgroundService final : public BackgroundService {
public:
    struct Setup {
        QString bundlePath;          // the application bundle holding the description
        QString plistName;           // e.g. com.tamrik.senvik.connector.agent.plist
        QString unitDirectory;       // $XDG_CONFIG_HOME/systemd/user
        QStringList maskDirectories; // further places where the user may have masked the unit
        QString runtimeDirectory;    // $XDG_RUNTIME_DIR: the user manager's socket lives below it
        QString systemctl = QStringLiteral("/usr/bin/systemctl");
        int timeoutMilliseconds = 10000; // per systemctl call
    };

    // What the property list says, reduced to what a unit needs.
    struct Description {
        QString label;
        QStringList command; // absolute program, then its arguments
        bool keepAlive = false;
        bool runAtLoad = false;
        bool graphical = false; // limited to the graphical login session
    };

    explicit SystemdBackgroundService(Setup setup) : setup_(std::move(setup)) {}

    // The item of the running user: unit directory from XDG_CONFIG_HOME (or ~/.config), masks also looked for
    // in the runtime and system-wide user unit directories.
    static Setup forUser(const QString& bundlePath, const QString& plistName);

    Status status() const override;
    void registerItem() override;
    QCoro::Task<void> unregister() override;
    void unregisterNow() override;
    void openSystemSettingsLoginItems() override;

    std::optional<Description> description() const;
    QString unitName() const;
    QString unitPath() const { return setup_.unitDirectory + QLatin1Char('/') + unitName(); }

    // The unit file's text for a description; pure.
    static QString unitText(const Description& description, const QString& plistName);
    // One word of a command line as systemd reads it back unchanged (quotes, escapes, % and $ doubled).
    static QString quoted(const QString& word);
    // The description in a parsed property list, with relative programs resolved against the bundle.
    static std::optional<Description> describe(const nlohmann::json& plist, const QString& bundlePath);

private:
    bool masked() const;
    bool enablementLinkExists() const;
    bool hasSession() const;
    void systemctl(const QStringList& arguments) const; // throws Failure with systemctl's own words
    void removeOwnFiles() const;

    Setup setup_;
};
