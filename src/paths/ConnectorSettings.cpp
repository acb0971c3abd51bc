#include "ConnectorSettings.h"

#include "ConnectorPaths.h"

#include <QSettings>
#include <QVariantMap>

#include <mutex>
#include <sys/stat.h>

namespace ConnectorSettings {

namespace {

QVariantMap& registered() {
    static QVariantMap defaults;
    return defaults;
}

// What identifies one version of the store's file: another process replaces or rewrites it, which changes
// at least one of these.
struct Stamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedNs = 0;
    bool operator==(const Stamp&) const = default;
};

Stamp stampOf(const QByteArray& path) {
    struct stat info {};
    if (::stat(path.constData(), &info) != 0)
        return {};
    return {true, info.st_dev, info.st_ino, info.st_size,
            static_cast<long long>(info.st_mtim.tv_sec) * 1'000'000'000LL + info.st_mtim.tv_nsec};
}

// The store's values, parsed again only when its file changed: preferences are read on hot paths (health,
// menus), and a stat is far cheaper than opening and parsing the file. Another process's writes are still
// seen at the next read. Workers read preferences too, hence the lock.
struct Cache {
    std::mutex lock;
    QString file;
    std::optional<Stamp> stamp;
    QVariantMap values;
};

Cache& cache() {
    static Cache instance;
    return instance;
}

QSettings openStore() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, ConnectorPaths::connectorBundleID);
}

QVariant stored(const QString& key) {
    Cache& c = cache();
    std::lock_guard guard(c.lock);
    if (c.file.isEmpty())
        c.file = openStore().fileName();
    // The stamp is taken before reading: a write that lands in between leaves a newer stamp for next time.
    const Stamp now = stampOf(c.file.toLocal8Bit());
    if (!c.stamp || *c.stamp != now) {
        QSettings store = openStore();
        store.sync();
        c.values.clear();
        for (const QString& name : store.allKeys())
            c.values.insert(name, store.value(name));
        c.stamp = now;
    }
    return c.values.value(key);
}

void store(const QString& key, const QVariant& value) {
    Cache& c = cache();
    std::lock_guard guard(c.lock);
    QSettings settings = openStore();
    settings.setValue(key, value);
    settings.sync();
    c.stamp.reset();
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

bool showsStatusItemAtLogin() {
    return boolean(QStringLiteral("showsStatusItemAtLogin"));
}
void setShowsStatusItemAtLogin(bool value) {
    store(QStringLiteral("showsStatusItemAtLogin"), value);
}

bool startCompleted() {
    return boolean(QStringLiteral("startCompleted"));
}
void setStartCompleted(bool value) {
    store(QStringLiteral("startCompleted"), value);
}

bool autoInstallUpdates() {
    return boolean(QStringLiteral("autoInstallUpdates"));
}
void setAutoInstallUpdates(bool value) {
    store(QStringLiteral("autoInstallUpdates"), value);
}

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
