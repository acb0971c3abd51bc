#pragma once

#include "UniqueFd.h"

#include <QString>

#include <nlohmann/json.hpp>

#include <memory>
#include <optional>

// A bundle resolved and opened once. Everything that is read, checked and started afterwards goes through
// this folder descriptor, so swapping a link or folder at the path meanwhile changes nothing: what was
// checked is what runs.
class OpenedBundle {
public:
    // What its signature check read, kept for the start: the Info dictionary from the Info.plist bytes that
    // were hashed, and the program it names, still open as hashed (null when the check kept none).
    struct Checked {
        nlohmann::json info = nlohmann::json::object();
        std::shared_ptr<const UniqueFd> program;
    };

    // The folder at `path`, or nothing when it is not one that can be opened.
    static std::shared_ptr<OpenedBundle> open(const QString& path);

    OpenedBundle(const OpenedBundle&) = delete;
    OpenedBundle& operator=(const OpenedBundle&) = delete;
    ~OpenedBundle();

    int fd() const { return fd_; }
    // The path it was opened at, for messages and for fakes; never opened again.
    const QString& path() const { return path_; }

    // Set once, by the check, before the bundle is shared.
    void keep(Checked checked) { checked_ = std::move(checked); }
    const std::optional<Checked>& checked() const { return checked_; }

private:
    OpenedBundle(int fd, QString path) : fd_(fd), path_(std::move(path)) {}
    int fd_;
    QString path_;
    std::optional<Checked> checked_;
};
