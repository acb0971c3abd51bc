#include "ConnectorController.h"

#include "Async.h"
#include "Diagnostics.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>

QList<DiagnosticCheck> ConnectorController::diagnostics() const {
    return Diagnostics::checks(*this, Diagnostics::gather(bundlePath, workspace));
}

QString ConnectorController::duration(const QDateTime& since) {
    return Diagnostics::duration(since, QDateTime::currentDateTimeUtc());
}

QString ConnectorController::diagnosticReport() const {
    return Diagnostics::report(*this, diagnostics(), QDateTime::currentDateTimeUtc());
}

QCoro::Task<void> ConnectorController::copyDiagnosticReport() {
    const QPointer<ConnectorController> self(this);
    // The application folders and the log's attributes are read on a worker; the report itself is built
    // from the controller's state on the main thread.
    auto read = [path = bundlePath, apps = workspace] { return Diagnostics::gather(path, apps); };
    const Diagnostics::Facts facts = co_await Async::onWorker(std::move(read));
    if (!self)
        co_return;
    const QString text =
        Diagnostics::report(*this, Diagnostics::checks(*this, facts), QDateTime::currentDateTimeUtc());
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!application)
        co_return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    // Cleared first, then plain text alone: nothing of an earlier copy stays beside it.
    clipboard->clear();
    clipboard->setText(text);
}
