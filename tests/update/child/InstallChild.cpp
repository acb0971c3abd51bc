// The installing process of the fault-injection test: stages the image and swaps it into place like an
// installation, so that the test can kill it at any moment.
//   update-install-child IMAGE BUNDLE BUILD HELPERS_DIR       exit status 0 when the new build is in place
#include "ConnectorController.h"

#include <QCoreApplication>
#include <QTimer>

#include <unistd.h>

namespace {

QCoro::Task<void> install(QStringList args) {
    int status = 1;
    try {
        UpdateInfo info;
        info.build = args[3].toLongLong();
        info.sha256 = UpdateDownload::sha256(args[1]);
        const UpdateFiles::Tools tools{args[4] + "/orvane-hdiutil", args[4] + "/orvane-ditto",
                                       args[4] + "/orvane-spctl"};
        QCoro::Task<QString> staging =
            ConnectorController::stage(info, args[1], args[2], tools, AppVerifier(systemCodeSigning()));
        UpdateFiles::swapIntoPlace(co_await std::move(staging), args[2]);
        status = 0;
    } catch (const std::exception& error) {
        qWarning("update-install-child: %s", error.what());
    }
    QCoreApplication::exit(status);
}

} // namespace

int main(int argc, char** argv) {
    ::setpgid(0, 0); // the test kills the whole group: this process and the tools it runs
    QCoreApplication app(argc, argv);
    if (argc != 5)
        return 2;
    QTimer::singleShot(0, &app, [&] { install(app.arguments()); }); // from the running loop: exit() is heard
    return app.exec();
}
