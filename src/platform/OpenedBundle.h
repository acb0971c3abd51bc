#pragma once

#include <QString>

#include <memory>

// A bundle resolved and opened once. Everything that is read, checked and started afterwards goes through
// this folder descriptor, so swapping a link or folder at the path meanwhile changes nothing: what was
// checked is what runs.
class OpenedBundle {
public:
    // The folder at `path`, or nothing when it is not one that can be opened.
    static std::shared_ptr<const OpenedBundle> open(const QString& path);

    OpenedBundle(const OpenedBundle&) = delete;
    OpenedBundle& operator=(const OpenedBundle&) = delete;
    ~OpenedBundle();

    int fd() const { return fd_; }
    // The path it was opened at, for messages and for fakes; never opened again.
    const QString& path() const { return path_; }

private:
    OpenedBundle(int fd, QString path) : fd_(fd), path_(std::move(path)) {}
    int fd_;
    QString path_;
};
