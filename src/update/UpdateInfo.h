#pragma once

#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>

#include <optional>
#include <stdexcept>

// One entry of the update feed.
struct UpdateInfo {
    QString version;  // shown to the user only
    qint64 build = 0; // the only value compared to decide whether the entry is newer
    QString url;      // may be relative to the feed's address
    QString sha256;   // hexadecimal, compared case-insensitively
    std::optional<qint64> size;
    std::optional<QString> minimumSystemVersion;
    std::optional<QString> notes;

    bool operator==(const UpdateInfo&) const = default;

    // "1.4（57）"
    QString label() const;

    // The decoder's error: the feed document cannot be read as one entry. `message` is its Chinese
    // description.
    struct DecodeError : std::runtime_error {
        explicit DecodeError(const QString& text) : std::runtime_error(text.toStdString()), message(text) {}
        QString message;
    };

    // The feed document: exactly one JSON object. Unknown keys are ignored; a missing required key, or any
    // key of the wrong JSON type, makes the whole document unreadable. Throws DecodeError.
    static UpdateInfo decode(const QByteArray& document);
    static UpdateInfo fromJson(const nlohmann::json& object);
};
