#pragma once

#include "DesktopRegistration.h"

#include <QString>
#include <QStringList>

#include <optional>

// The freedesktop way of registering the connector for one user:
//   <data home>/applications/com.tamrik.senvik.connector.desktop   the entry, from the bundle's own
//       (Contents/Resources/com.tamrik.senvik.connector.desktop) with Exec and TryExec naming this bundle;
//   <config home>/mimeapps.list   [Default Applications] x-scheme-handler/senvik-connector=<entry>, set
//   through
//       xdg-mime where present and written here when the tool is missing or did not set it;
//   <data home>/icons/hicolor/<N>x<N>/apps/com.tamrik.senvik.connector.png   the bundle's icons, when it has
//   them;
// then the desktop database of <data home>/applications is refreshed when update-desktop-database exists.
class XdgDesktopRegistration final : public DesktopRegistration {
public:
    struct Setup {
        QString dataHome;   // $XDG_DATA_HOME or ~/.local/share
        QString configHome; // $XDG_CONFIG_HOME or ~/.config
        // The desktop's tools; empty when not installed.
        QString xdgMime;
        QString updateDesktopDatabase;
        QString updateIconCache;
        int timeoutMilliseconds = 10000; // per tool run
    };

    explicit XdgDesktopRegistration(Setup setup) : setup_(std::move(setup)) {}

    // The running user's folders (absolute XDG variables only, as the specification of those variables
    // asks) and the tools found on PATH.
    static Setup forUser();

    bool registerBundle(const QString& bundlePath) override;
    void unregister() override;

    QString entryPath() const;
    QString mimeappsPath() const;
    QString iconPath(int size) const;

    static inline const QString entryName = QStringLiteral("com.tamrik.senvik.connector.desktop");
    static inline const QString iconName = QStringLiteral("com.tamrik.senvik.connector");
    static inline const QString mimeType = QStringLiteral("x-scheme-handler/senvik-connector");
    static inline const QList<int> iconSizes{16, 24, 32, 48, 64, 128, 256};

    // Pure helpers, kept apart so their rules can be checked on their own.
    // The bundle's entry with Exec and TryExec naming `executable`; everything else as the bundle has it.
    static QString entryText(const QString& bundleEntry, const QString& executable);
    // One Exec argument, quoted and escaped so that a desktop reads back exactly `word`.
    static QString execArgument(const QString& word);
    // A value of type string as the entry format writes it.
    static QString escapedString(const QString& value);
    // The entry a key of [Default Applications] names first, if the key is there.
    static std::optional<QString> defaultFor(const QString& mimeappsText, const QString& type);
    // The file with [Default Applications] `type` set to `entry` and nothing else changed.
    static QString withDefault(const QString& mimeappsText, const QString& type, const QString& entry);
    // The file without `entry` for `type` in [Default Applications] and [Added Associations].
    static QString withoutEntry(const QString& mimeappsText, const QString& type, const QString& entry);

private:
    bool setDefaultHandler();
    void refreshCaches(bool iconsChanged) const;
    bool runTool(const QString& program, const QStringList& arguments) const;

    Setup setup_;
};
