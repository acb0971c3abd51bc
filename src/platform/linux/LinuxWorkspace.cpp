#include "LinuxWorkspace.h"

#include "Async.h"
#include "Bundle.h"
#include "ConnectorPaths.h"

#include <QFileInfo>
#include <QProcess>

std::optional<QString> LinuxWorkspace::launch(const QString& appPath, const QStringList& arguments) {
    const Bundle bundle = Bundle::at(appPath);
    const std::optional<QString> executable = bundle.string("CFBundleExecutable");
    // The name must stay a plain file name inside Contents/MacOS.
    if (!executable || executable->isEmpty() || executable->contains(QLatin1Char('/')) ||
        *executable == QStringLiteral("..") || *executable == QStringLiteral("."))
        return QStringLiteral("读不出这个 App 的信息：") + ConnectorPaths::display(bundle.path);
    const QString program = bundle.contentsPath() + QStringLiteral("/MacOS/") + *executable;
    const QFileInfo info(program);
    if (!info.isFile() || !info.isExecutable() || !QProcess::startDetached(program, arguments))
        return QStringLiteral("这个 App 启动不了：") + ConnectorPaths::display(bundle.path);
    return std::nullopt;
}

QCoro::Task<void> LinuxWorkspace::open(QUrl link, QString appPath, bool activate) {
    // A newly started application comes to the front by itself; one that is asked to stay behind cannot be
    // held back from here, so `activate` has nothing to change on this desktop.
    Q_UNUSED(activate);
    const QStringList arguments{link.toString(QUrl::FullyEncoded)};
    // Named, not a temporary: GCC 12 destroys a lambda temporary inside a co_await operand twice.
    auto job = [appPath, arguments] { return launch(appPath, arguments); };
    QCoro::Task<std::optional<QString>> task = Async::onWorker(std::move(job));
    const std::optional<QString> failure = co_await std::move(task);
    if (failure)
        throw Failure(*failure);
}
