// The installing process of the fault-injection test: stages the image for the bundle and swaps it into
// place, exactly as an installation does, so that the test can kill it at any moment.
//   update-install-child IMAGE BUNDLE BUILD HELPERS_DIR
// Exit status 0 when the new build is in place, 1 on a refusal or failure.
#include "ConnectorController.h"
#include "UpdateFiles.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

QCoro::Task<void> install(QString image, QString bundle, qint64 build, QString helpers, int* status) {
    try {
        UpdateInfo info;
        info.build = build;
        info.sha256 = UpdateDownload::sha256(image);
        const UpdateFiles::Tools tools{helpers + QStringLiteral("/orvane-hdiutil"),
                                       helpers + QStringLiteral("/orvane-ditto"),
                                       helpers + QStringLiteral("/orvane-spctl")};
        QCoro::Task<QString> staging =
            ConnectorController::stage(info, image, bundle, tools, AppVerifier(systemCodeSigning()));
        const QString staged = co_await std::move(staging);
        UpdateFiles::swapIntoPlace(staged, bundle);
        *status = 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "update-install-child: %s\n", error.what());
    }
    QCoreApplication::exit(*status);
}

} // namespace

int main(int argc, char** argv) {
    ::setpgid(0, 0); // the test kills the whole group: this process and the tools it runs
    QCoreApplication app(argc, argv);
    if (argc != 5)
        return 2;
    int status = 1;
    const QStringList args = app.arguments();
    // Started from the running loop, so that even an at-once failure's exit() is heard.
    QTimer::singleShot(0, &app, [&] { install(args[1], args[2], args[3].toLongLong(), args[4], &status); });
    return app.exec();
}
