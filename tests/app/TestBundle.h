#pragma once

#include "Printing.h"
#include "TempHome.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>
#include <ostream>

// A copy of the built connector inside a throw-away bundle, with its own Info.plist, and an empty HOME for
// the processes started from it.
class TestBundle {
public:
    // `infoBody` is the XML between <dict> and </dict>; nothing means the bundle has no Info.plist.
    explicit TestBundle(const std::optional<QByteArray>& infoBody);

    QString path() const { return bundle_; }
    QString executable() const { return bundle_ + QStringLiteral("/Contents/MacOS/OrvaneConnector"); }
    QString runtime() const { return bundle_ + QStringLiteral("/Contents/Resources/runtime/node"); }
    QString script() const { return bundle_ + QStringLiteral("/Contents/Resources/bridge/src/main.ts"); }
    QString home() const { return home_.path(); }
    QString records() const { return records_.path(); }
    QString bridgeLog() const { return home() + QStringLiteral("/Library/Logs/SenvikConnector/bridge.log"); }

    // A runtime that writes its arguments, environment and standard streams into records().
    void installRecordingRuntime();
    bool runtimeRan() const;
    QStringList recordedArguments() const;
    QProcessEnvironment recordedEnvironment() const;
    QString recordedStream(int fd) const;

    // A clean environment: HOME, a plain PATH, the offscreen platform and where the runtime records.
    QProcessEnvironment environment() const;

    // The entries directly inside HOME.
    QStringList homeEntries() const;

private:
    TestSupport::TempDir dir_;
    TestSupport::TempDir home_;
    TestSupport::TempDir records_;
    QString bundle_;
};

struct Finished {
    bool finished = false; // false: still running at the deadline (then killed)
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Finished runProcess(const QString& program, const QStringList& arguments,
                    const QProcessEnvironment& environment, int deadlineMs);

QByteArray readAll(const QString& path);
