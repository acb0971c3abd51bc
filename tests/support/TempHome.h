#pragma once

#include <QString>
#include <QTemporaryDir>

// A throw-away directory for a test; never the user's own files.
namespace TestSupport {

class TempDir {
public:
    TempDir() : dir_(QStringLiteral("/tmp/orvane-test-XXXXXX")) {}
    QString path() const { return dir_.path(); }
    QString file(const QString& relative) const { return dir_.path() + QLatin1Char('/') + relative; }
    bool isValid() const { return dir_.isValid(); }

private:
    QTemporaryDir dir_;
};

// Writes `bytes` to `path`, creating parent directories; `mode` applied when non-zero.
bool writeFile(const QString& path, const QByteArray& bytes, int mode = 0);

// The directory holding this build's helper programs (set by CMake for each test target).
QString buildDir();

// Whether a process of this machine runs a program from `folder` (its command line names it). A detached
// start has begun its program when it returns, so once this is false such a stand-in has done its work.
bool runsProgramFrom(const QString& folder);

} // namespace TestSupport
