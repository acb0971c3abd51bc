#include "ConnectorController.h"

#include "Async.h"
#include "Bundle.h"
#include "ConnectorPaths.h"
#include "SystemTools.h"
#include "UpdateFailure.h"
#include "UpdateFeed.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The identifier of the bundle at `path`, when it can be read and names one.
std::optional<QString> identifierOf(const QString& path) {
    return Bundle::at(path).identifier();
}

} // namespace

QCoro::Task<void> ConnectorController::verifyConnector(QString app, qint64 build, UpdateFiles::Tools tools,
                                                       AppVerifier verifier) {
    auto identity = [app, build] {
        const Bundle bundle = Bundle::at(app);
        const auto identifier = bundle.identifier();
        const auto version = bundle.string("CFBundleVersion");
        const auto number = version ? UpdateFeed::parseBuildNumber(*version) : std::nullopt;
        return identifier == ConnectorPaths::connectorBundleID && number == build;
    };
    QCoro::Task<bool> readIdentity = Async::onWorker(identity);
    if (!co_await std::move(readIdentity))
        throw UpdateFailure(QStringLiteral("安装包里的版本和清单对不上"));

    auto signature = [app, verifier] { return verifier.isSigned(app, ConnectorPaths::connectorBundleID); };
    QCoro::Task<bool> checkSignature = Async::onWorker(signature);
    if (!co_await std::move(checkSignature))
        throw UpdateFailure(QStringLiteral("新版本的签名对不上，没有装"));

    const QStringList assess{QStringLiteral("--assess"), QStringLiteral("--type"), QStringLiteral("execute"),
                             app};
    QCoro::Task<int> assessment = SystemTools::run(tools.assessment, assess);
    if (co_await std::move(assessment) != 0)
        throw UpdateFailure(QStringLiteral("系统没认出新版本是公证过的，没有装"));
}

QCoro::Task<QString> ConnectorController::stage(UpdateInfo info, QString dmg, QString replacing,
                                                UpdateFiles::Tools tools, AppVerifier verifier) {
    const QString mountPoint = ConnectorPaths::updatesDir() + QStringLiteral("/mount-%1").arg(info.build);
    std::exception_ptr error;
    bool attached = false;
    QString staged;
    try {
        auto hash = [dmg] { return UpdateDownload::sha256(dmg); };
        QCoro::Task<QString> hashing = Async::onWorker(hash);
        const QString digest = co_await std::move(hashing);
        if (digest != info.sha256.toLower())
            throw UpdateFailure(QStringLiteral("下载的安装包和清单对不上（sha256），已丢掉"));

        // A mount point left by an interrupted staging would keep every later attach from working.
        auto prepare = [mountPoint] { UpdateFiles::prepareMountPoint(mountPoint, QStringLiteral("mount-")); };
        QCoro::Task<void> preparing = Async::onWorker(prepare);
        co_await std::move(preparing);

        const QStringList attach{QStringLiteral("attach"),
                                 QStringLiteral("-nobrowse"),
                                 QStringLiteral("-readonly"),
                                 QStringLiteral("-noautoopen"),
                                 QStringLiteral("-mountpoint"),
                                 mountPoint,
                                 dmg};
        QCoro::Task<int> attaching = SystemTools::run(tools.diskImage, attach);
        if (co_await std::move(attaching) != 0)
            throw UpdateFailure(QStringLiteral("安装包打不开"));
        attached = true;

        auto find = [mountPoint] {
            // A link in the image may name a bundle elsewhere, the installed one for instance: only what
            // really lies inside the mount point is read.
            const QString inside = QFileInfo(mountPoint).canonicalFilePath() + QLatin1Char('/');
            for (const QString& app : UpdateFiles::applications(mountPoint))
                if (QFileInfo(app).canonicalFilePath().startsWith(inside) &&
                    identifierOf(app) == ConnectorPaths::connectorBundleID)
                    return std::optional<QString>(app);
            return std::optional<QString>();
        };
        QCoro::Task<std::optional<QString>> finding = Async::onWorker(find);
        const std::optional<QString> app = co_await std::move(finding);
        if (!app)
            throw UpdateFailure(QStringLiteral("安装包里没有 Orvane 连接器"));

        QCoro::Task<void> verifyImage = verifyConnector(*app, info.build, tools, verifier);
        co_await std::move(verifyImage);

        // Only one staged copy is ever kept: earlier ones were abandoned by a new check or cut short.
        auto replacementDir = [replacing] {
            UpdateFiles::removeLeftovers(replacing);
            return UpdateFiles::itemReplacementDirectory(replacing);
        };
        QCoro::Task<QString> making = Async::onWorker(replacementDir);
        const QString folder = co_await std::move(making);
        staged = folder + QLatin1Char('/') + QFileInfo(replacing).fileName();

        const QStringList copy{*app, staged};
        QCoro::Task<int> copying = SystemTools::run(tools.copy, copy);
        if (co_await std::move(copying) != 0)
            throw UpdateFailure(QStringLiteral("新版本拷不出来"));

        const QStringList detach{QStringLiteral("detach"), mountPoint, QStringLiteral("-quiet")};
        QCoro::Task<int> detaching = SystemTools::run(tools.diskImage, detach);
        co_await std::move(detaching);
        auto removeMount = [mountPoint] { UpdateFiles::removeItem(mountPoint); };
        QCoro::Task<void> removing = Async::onWorker(removeMount);
        co_await std::move(removing);

        QCoro::Task<void> verifyCopy = verifyConnector(staged, info.build, tools, verifier);
        co_await std::move(verifyCopy);
    } catch (...) {
        error = std::current_exception();
    }

    if (error && attached) {
        const QStringList detach{QStringLiteral("detach"), mountPoint, QStringLiteral("-quiet"),
                                 QStringLiteral("-force")};
        QCoro::Task<int> detaching = SystemTools::run(tools.diskImage, detach);
        co_await std::move(detaching);
        auto removeMount = [mountPoint] { UpdateFiles::removeItem(mountPoint); };
        QCoro::Task<void> removing = Async::onWorker(removeMount);
        co_await std::move(removing);
    }
    auto removeImage = [dmg] { QFile::remove(dmg); };
    QCoro::Task<void> removingImage = Async::onWorker(removeImage);
    co_await std::move(removingImage);
    if (error)
        std::rethrow_exception(error);
    co_return staged;
}
