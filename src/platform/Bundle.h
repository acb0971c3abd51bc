#pragma once

#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>

#include <optional>

// An application bundle in the macOS layout, on every OS: <Name>.app/Contents/{MacOS/<exe>, Info.plist,
// Resources/}. The Info dictionary is kept as a JSON object so Booleans, integers and texts stay apart.
struct Bundle {
    QString path;                                   // the .app directory
    nlohmann::json info = nlohmann::json::object(); // empty when the bundle has no readable Info.plist

    QString contentsPath() const { return path + QStringLiteral("/Contents"); }
    QString resourcesPath() const { return path + QStringLiteral("/Contents/Resources"); }
    QString infoPlistPath() const { return path + QStringLiteral("/Contents/Info.plist"); }

    // The value of a key when it has that type; absent otherwise.
    std::optional<QString> string(const char* key) const;
    std::optional<bool> boolean(const char* key) const;
    std::optional<QString> identifier() const { return string("CFBundleIdentifier"); }

    // Reads the bundle at `path` (its Info.plist may be missing: then `info` is empty).
    static Bundle at(const QString& path);

    // The Info dictionary of the bundle open as the folder `bundleFd`; empty when there is none.
    static nlohmann::json infoAt(int bundleFd);

    // The bundle that holds an executable at <bundle>/Contents/MacOS/<exe>, if it sits in one.
    static std::optional<QString> containing(const QString& executablePath);

    // This process's bundle, found from its own executable; absent when it runs outside a bundle.
    static const std::optional<Bundle>& main();

    // The main bundle's Info dictionary, or an empty object when there is none.
    static const nlohmann::json& mainInfo();
};

// Info dictionaries are a few kilobytes; anything near this is not one.
inline constexpr qint64 maxPropertyListBytes = 4 * 1024 * 1024;

// Parses a property list (XML or binary) into JSON; nothing when it cannot be read or parsed. Only a regular
// file is read, never through a link as its last component, and only up to a few megabytes.
std::optional<nlohmann::json> readPropertyList(const QString& path);
std::optional<nlohmann::json> parsePropertyList(const QByteArray& bytes);

// The contents of the open file `fd` when it is a regular file of at most `limit` bytes.
std::optional<QByteArray> readRegularFile(int fd, qint64 limit);
