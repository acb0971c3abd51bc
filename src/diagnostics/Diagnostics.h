#pragma once

#include "DiagnosticCheck.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class ConnectorController;
class Workspace;

// The diagnostic checks and the redacted report, as pure functions of the controller's state and three facts
// read from the system. The controller's own diagnostics(), diagnosticReport() and copyDiagnosticReport() are
// built on these.
namespace Diagnostics {

// What the checks need from outside the controller, read at one moment.
struct Facts {
    QString bundlePath; // the running application's bundle
    QStringList
        installedApps; // companion bundle identifiers found installed, in ConnectorPaths::senvikApps order
    std::optional<qint64> logSize; // the bridge log's size, when its attributes can be read

    bool operator==(const Facts&) const = default;
};

// Reads the facts. Blocking file-system work (application folders, the log's attributes): safe on a worker.
Facts gather(const QString& bundlePath, const std::shared_ptr<Workspace>& workspace);

// The list, in its fixed order; lines 5 to 9 only while the controller knows a bridge.
QList<DiagnosticCheck> checks(const ConnectorController& controller, const Facts& facts);

// Elapsed time for humans: minutes up to 59, hours up to 47, then days; negative spans are "0 分钟".
QString duration(const QDateTime& since, const QDateTime& now);

// A file size with decimal units, like the desktop's file byte-count style: "532 字节", "12 KB", "1.5 MB",
// "2.25 GB" (whole kilobytes, one decimal for megabytes, two above; trailing zeros dropped).
QString fileSize(qint64 bytes);

// "[通过]", "[要看一下]", "[不通过]" without the brackets.
QString tag(DiagnosticCheck::Level level);

// A time of day in the locale's standard style, with seconds and without a date.
QString standardTime(const QDateTime& time);

// The report for the clipboard: header, one line per check, the accounts line when any pairing exists.
// Lines joined by "\n", none after the last.
QString report(const ConnectorController& controller, const QList<DiagnosticCheck>& lines,
               const QDateTime& now);

// The operating system's own name and version for the report's second line.
QString systemVersion();

// The spellings of the home directory a text may carry: as given, and resolved through symbolic links.
QStringList homeSpellings(const QString& home);

// Writes every occurrence of a spelling of the home that ends a path (at a boundary or before sentence
// punctuation) as "~" and drops the given addresses, so a text a bridge or the system wrote with a full path
// cannot carry them into the report.
QString scrub(QString text, QStringList homes, QStringList addresses);

} // namespace Diagnostics
