#pragma once

#include <QString>
#include <QStringList>

// The file work of staging and installing an update. Blocking: call it on a worker. Failures are thrown as
// UpdateFailure with a Chinese description.
namespace UpdateFiles {

// The three system tools the staging drives: /usr/bin/hdiutil, /usr/bin/ditto and /usr/sbin/spctl on macOS;
// on Linux the running bundle's own helper programs in Contents/Helpers, with the same command lines.
struct Tools {
    QString diskImage;
    QString copy;
    QString assessment;
    bool operator==(const Tools&) const = default;

    static Tools forBundle(const QString& bundlePath);
};

// The entries of `folder` named *.app, in listing order; an unreadable folder lists nothing.
QStringList applications(const QString& folder);

// A new, empty directory on the same filesystem as `bundle`, for the staged copy (a hidden folder beside
// the bundle).
QString itemReplacementDirectory(const QString& bundle);

// Removes the item-replacement folders an interrupted or abandoned staging left beside `bundle`.
void removeLeftovers(const QString& bundle);

// Exchanges `staged` and `bundle` in one atomic step, so the bundle's path always holds a whole
// application, then removes the old copy (now at `staged`) and its folder. No backup is kept.
void swapIntoPlace(const QString& staged, const QString& bundle);

// Removes a file or a tree, also folders without write permission. Errors are ignored.
void removeItem(const QString& path);

// Makes `mountPoint` a new, empty folder. Whatever an earlier, interrupted staging left beside it under the
// name prefix `prefix` (mount points of any build, the disk-image tool's scratch folders) is removed first;
// what cannot be removed is moved aside under that prefix, so a left-over never blocks the next attach and
// the next staging tries again.
void prepareMountPoint(const QString& mountPoint, const QString& prefix);

} // namespace UpdateFiles
