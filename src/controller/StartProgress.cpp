#include "StartProgress.h"

#include "Async.h"
#include "ConnectorController.h"
#include "ConnectorPaths.h"
#include "ConnectorSettings.h"

#include <QPointer>

#include <functional>

const QString StartProgress::downloadPage = QStringLiteral("https://orvane.app/download");

QList<Engine> StartProgress::readyEngines() const {
    QList<Engine> ready;
    for (const Engine& engine : engines)
        if (engine.usable)
            ready << engine;
    return ready;
}

bool StartProgress::done(Step step) const {
    switch (step) {
    case Step::engine:
        return !readyEngines().isEmpty();
    case Step::app:
        // A pairing proves the app exists somewhere, also when it is used only on the phone.
        return appInstalled || paired;
    case Step::link:
        return paired;
    }
    return false;
}

std::optional<StartProgress::Step> StartProgress::current() const {
    if (readyEngines().isEmpty())
        return Step::engine;
    if (paired)
        return std::nullopt;
    if (appInstalled)
        return Step::link;
    return Step::app;
}

int StartProgress::remaining() const {
    int count = 0;
    for (Step step : allSteps)
        count += done(step) ? 0 : 1;
    return count;
}

void StartProgress::rememberIfComplete() const {
    if (!current() && !ConnectorSettings::startCompleted())
        ConnectorSettings::setStartCompleted(true);
}

// The controller's side: the reading and the lookup of the companion app behind it.

namespace {

// Reads the application folders, so it runs on a worker.
bool senvikAppInstalled(const std::shared_ptr<Workspace>& workspace) {
    try {
        for (const QString& identifier : ConnectorPaths::senvikApps)
            if (workspace->urlForApplication(identifier))
                return true;
    } catch (const std::exception&) {
        // A workspace that cannot be read knows no apps.
    }
    return false;
}

QCoro::Task<void> lookUp(QPointer<ConnectorController> controller, std::shared_ptr<Workspace> workspace,
                         std::function<void(bool)> store) {
    auto find = [workspace] { return senvikAppInstalled(workspace); };
    const bool installed = co_await Async::onWorker(std::move(find));
    if (controller)
        store(installed);
}

constexpr auto lookupInterval = std::chrono::seconds(5);

} // namespace

StartProgress ConnectorController::startProgress() const {
    const auto now = std::chrono::steady_clock::now();
    if (workspace && (!senvikAppLookup_ || now - *senvikAppLookup_ >= lookupInterval))
        lookUpSenvikApp();
    StartProgress progress;
    progress.engines = engines_;
    progress.bridgeRunning = bridge_.has_value();
    progress.appInstalled = senvikAppInstalled_;
    progress.paired = !pairings_.isEmpty();
    return progress;
}

void ConnectorController::lookUpSenvikApp() const {
    senvikAppLookup_ = std::chrono::steady_clock::now();
    auto* self = const_cast<ConnectorController*>(this);
    auto store = [self](bool installed) {
        if (installed == self->senvikAppInstalled_)
            return;
        self->senvikAppInstalled_ = installed;
        emit self->changed();
    };
    Async::spawn(lookUp(QPointer<ConnectorController>(self), workspace, std::move(store)),
                 "companion app lookup");
}
