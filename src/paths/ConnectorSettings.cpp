#include "ConnectorSettings.h"

#include "ConnectorPaths.h"

#include <QSettings>
#include <QVariantMap>

namespace ConnectorSettings {

namespace {

QVariantMap& registered() {
    static QVariantMap defaults;
    return defaults;
}

// A fresh handle per access, synced first so that another process's writes are seen.
QVariant stored(const QString& key) {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, ConnectorPaths::connectorBundleID);
    store.sync();
    return store.value(key);
}

void store(const QString& key, const QVariant& value) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, ConnectorPaths::connectorBundleID);
    settings.setValue(key, value);
    settings.sync();
}

bool boolean(const QString& key) {
    const QVariant value = stored(key);
    if (value.isValid())
        return value.toBool();
    return registered().value(key, false).toBool();
}

} // namespace

void registerDefaults() {
    registered().insert(QStringLiteral("showsStatusItemAtLogin"), true);
    registered().insert(QStringLiteral("autoInstallUpdates"), true);
}

bool showsStatusItemAtLogin() { return boolean(QStringLiteral("showsStatusItemAtLogin")); }
void setShowsStatusItemAtLogin(bool value) { store(QStringLiteral("showsStatusItemAtLogin"), value); }

bool startCompleted() { return boolean(QStringLiteral("startCompleted")); }
void setStartCompleted(bool value) { store(QStringLiteral("startCompleted"), value); }

bool autoInstallUpdates() { return boolean(QStringLiteral("autoInstallUpdates")); }
void setAutoInstallUpdates(bool value) { store(QStringLiteral("autoInstallUpdates"), value); }

std::optional<QString> updateFeedOverride() {
    const QVariant value = stored(QStringLiteral("updateFeedURL"));
    if (!value.isValid())
        return std::nullopt;
    const QString text = value.toString();
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

} // namespace ConnectorSettings
