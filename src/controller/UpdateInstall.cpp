#include "ConnectorController.h"

#include "Async.h"
#include "Bundle.h"
#include "ConnectorPaths.h"
#include "ConnectorSettings.h"
#include "UpdateFailure.h"
#include "UpdateGate.h"

#include <QCoreApplication>
#include <QPointer>
#include <QProcess>

namespace {

// The executable of the bundle at `bundle`, from its Info dictionary.
QString executableOf(const QString& bundle) {
    const auto executable = Bundle::at(bundle).string("CFBundleExecutable");
    if (!executable || executable->isEmpty() || executable->contains(QLatin1Char('/')))
        throw UpdateFailure(QStringLiteral("新版本里找不到可执行文件"));
    return bundle + QStringLiteral("/Contents/MacOS/") + *executable;
}

// Starts `program` as a new, detached instance with exactly ["--after-update"].
void relaunch(const QString& program) {
    const QStringList arguments{QStringLiteral("--after-update")};
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached())
        throw UpdateFailure(QStringLiteral("新版本启动不了（%1）").arg(process.errorString()));
}

QCoro::Task<void> installTask(QPointer<ConnectorController> controller, QString staged) {
    const QString bundle = controller->bundlePath;
    const QString tool = controller->serviceManagerTool;
    std::optional<QString> failure;
    try {
        auto swap = [staged, bundle] { UpdateFiles::swapIntoPlace(staged, bundle); };
        QCoro::Task<void> swapping = Async::onWorker(swap);
        co_await std::move(swapping);
    } catch (const UpdateFailure& error) {
        failure = error.message;
    }
    if (!failure) {
        QCoro::Task<int> restart = SystemTools::kickstartAgent(true, tool);
        co_await std::move(restart);
        try {
            auto find = [bundle] { return executableOf(bundle); };
            QCoro::Task<QString> finding = Async::onWorker(find);
            const QString program = co_await std::move(finding);
            relaunch(program);
        } catch (const UpdateFailure& error) {
            failure = error.message;
        }
    }
    if (!controller)
        co_return;
    if (failure) {
        controller->installFailed(QStringLiteral("换新版本没成功：") + *failure);
        co_return;
    }
    if (controller->quitAfterUpdate)
        controller->quitAfterUpdate();
    else
        QCoreApplication::quit();
}

} // namespace

void ConnectorController::installUpdateIfIdle() {
    if (ConnectorPaths::isolated() || strellBusy_ || renamingBundle || uninstalling_)
        return;
    const auto* ready = update_.as<UpdateState::Ready>();
    if (!ready)
        return;
    if (UpdateGate::installsNow(ConnectorSettings::autoInstallUpdates(), waitsToInstall_,
                                bridge_ ? bridge_->openRuns : 0, holdsAutoInstall, cliBusy_)) {
        const UpdateState::Ready chosen = *ready;
        installUpdate(chosen.info, chosen.staged);
    }
}

void ConnectorController::requestInstall() {
    const auto* ready = update_.as<UpdateState::Ready>();
    if (!ready)
        return;
    if (UpdateGate::click(bridge_ ? bridge_->openRuns : 0, cliBusy_) == UpdateGate::Click::wait) {
        storeWaitsToInstall(true);
        return;
    }
    const UpdateState::Ready chosen = *ready;
    installUpdate(chosen.info, chosen.staged);
}

void ConnectorController::installNow() {
    const auto* ready = update_.as<UpdateState::Ready>();
    if (!ready)
        return;
    const UpdateState::Ready chosen = *ready;
    installUpdate(chosen.info, chosen.staged);
}

void ConnectorController::cancelInstallWait() {
    storeWaitsToInstall(false);
}

void ConnectorController::installUpdate(UpdateInfo info, QString staged) {
    // An uninstall moves this very bundle away: replacing it meanwhile would bring it back half-removed.
    if (ConnectorPaths::isolated() || strellBusy_ || renamingBundle || uninstalling_)
        return;
    if (cliBusy_) {
        storeNotice(QStringLiteral("执行工具正在检查或更新，请结束后再更新连接器"));
        return;
    }
    storeUpdate(UpdateState::Installing{info});
    Async::spawn(installTask(QPointer<ConnectorController>(this), std::move(staged)), "update installation");
}

void ConnectorController::installFailed(const QString& text) {
    storeUpdate(UpdateState::Failed{text});
}
