#include "ConnectorController.h"

#include "Async.h"
#include "ConnectorPaths.h"
#include "UpdateFailure.h"

#include <QCoroTimer>
#include <QPointer>

namespace {

constexpr std::chrono::seconds firstCheckDelay{20};
constexpr std::chrono::hours checkInterval{6};

QCoro::Task<void> scheduleSleep(QPointer<ConnectorController> controller, std::chrono::milliseconds delay) {
    // A copy: the controller may go while the wait runs.
    const auto sleep = controller ? controller->updateScheduleSleep : nullptr;
    if (sleep) {
        QCoro::Task<void> sleeping = sleep(delay);
        co_await std::move(sleeping);
    } else {
        co_await Async::sleepFor(delay);
    }
}

// The automatic schedule: the first check soon after launch, then one every interval after each check ends.
QCoro::Task<void> updateSchedule(QPointer<ConnectorController> controller) {
    // Named first: GCC 12 destroys temporaries inside a co_await operand twice.
    QCoro::Task<void> first = scheduleSleep(controller, firstCheckDelay);
    co_await std::move(first);
    while (controller) {
        QCoro::Task<void> check = controller->checkForUpdates(false);
        co_await std::move(check);
        QCoro::Task<void> pause = scheduleSleep(controller, checkInterval);
        co_await std::move(pause);
    }
}

// The user-readable description of an error of the check, download or staging.
QString describe(const std::exception& error) {
    if (const auto* failure = dynamic_cast<const UpdateFailure*>(&error))
        return failure->message;
    if (const auto* failure = dynamic_cast<const UpdateInfo::DecodeError*>(&error))
        return failure->message;
    return QString::fromUtf8(error.what());
}

} // namespace

void ConnectorController::startUpdateChecks() {
    Async::spawn(updateSchedule(QPointer<ConnectorController>(this)), "update schedule");
}

QCoro::Task<QString> ConnectorController::fetch(UpdateInfo info, QUrl from,
                                                UpdateDownload::Progress progress) {
    const QString directory = ConnectorPaths::updatesDir();
    auto work = [info, from, progress, directory] {
        return UpdateDownload::fetch(info, from, directory, progress);
    };
    QCoro::Task<QString> task = Async::onWorker(work);
    co_return co_await std::move(task);
}

QString ConnectorController::sha256(const QString& path) {
    return UpdateDownload::sha256(path);
}

bool ConnectorController::systemAtLeast(const QString& version) {
    return UpdateDownload::systemAtLeast(version);
}

QCoro::Task<void> ConnectorController::checkForUpdates(bool userInitiated) {
    if (ConnectorPaths::isolated()) {
        storeUpdate(UpdateState::NotConfigured{});
        co_return;
    }
    const std::optional<QUrl> feed = updateFeed();
    if (!feed) {
        storeUpdate(UpdateState::NotConfigured{});
        co_return;
    }
    const bool proceeds = update_.is<UpdateState::Idle>() || update_.is<UpdateState::Failed>() ||
                          update_.is<UpdateState::NotConfigured>() ||
                          (update_.is<UpdateState::Ready>() && userInitiated);
    if (!proceeds)
        co_return;
    storeUpdate(UpdateState::Checking{});

    std::optional<QString> failure;
    try {
        const QUrl feedURL = *feed;
        auto get = [feedURL] { return UpdateDownload::getFeed(feedURL); };
        QCoro::Task<QByteArray> fetchFeed = Async::onWorker(get);
        const QByteArray body = co_await std::move(fetchFeed);
        const UpdateInfo entry = UpdateInfo::decode(body);
        if (currentBuild() >= entry.build) {
            storeUpdate(UpdateState::Idle{QDateTime::currentDateTime()});
            co_return;
        }
        if (entry.minimumSystemVersion && !systemAtLeast(*entry.minimumSystemVersion)) {
            storeUpdate(UpdateState::Failed{QStringLiteral("新版本 ") + entry.version +
                                            QStringLiteral(" 要 ") + UpdateDownload::systemName() +
                                            QLatin1Char(' ') + *entry.minimumSystemVersion +
                                            QStringLiteral(" 以上")});
            co_return;
        }
        const QUrl reference(entry.url, QUrl::StrictMode);
        const QUrl download = feedURL.resolved(reference);
        // Only an HTTP(S) address is downloaded from: a feed must not point the connector at local files.
        if (!reference.isValid() || !download.isValid() || download.isRelative() ||
            (download.scheme() != QLatin1String("https") && download.scheme() != QLatin1String("http")))
            throw UpdateFailure(QStringLiteral("更新清单里的下载地址不对"));

        storeUpdate(UpdateState::Downloading{entry, 0, entry.size});
        // Reports come from the download's thread; each is applied on the main thread, and only while this
        // entry is still downloading, so a late one never overwrites the states that follow.
        // The main thread's context, taken here: the download's thread must not ask for the application
        // object, which may be gone when a late report comes.
        QPointer<ConnectorController> weak(this);
        const qint64 build = entry.build;
        QObject* const mainThread = Async::threadContext();
        UpdateDownload::Progress progress = [weak, build, mainThread](qint64 received,
                                                                      std::optional<qint64> total) {
            QMetaObject::invokeMethod(
                mainThread,
                [weak, build, received, total] {
                    if (!weak)
                        return;
                    const auto* current = weak->update_.as<UpdateState::Downloading>();
                    if (current && current->info.build == build)
                        weak->storeUpdate(UpdateState::Downloading{current->info, received, total});
                },
                Qt::QueuedConnection);
        };
        QCoro::Task<QString> downloading = fetch(entry, download, progress);
        const QString dmg = co_await std::move(downloading);

        storeUpdate(UpdateState::Verifying{entry});
        QCoro::Task<QString> staging = stage(entry, dmg, bundlePath, updateTools, verifier);
        const QString staged = co_await std::move(staging);
        storeUpdate(UpdateState::Ready{entry, staged});
        installUpdateIfIdle();
    } catch (const std::exception& error) {
        failure = describe(error);
    }
    if (failure)
        storeUpdate(UpdateState::Failed{QStringLiteral("检查更新没成功：") + *failure});
}
