#include "UpdateFixtures.h"

#include "BundleSignature.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <random>
#include <signal.h>
#include <unistd.h>

namespace {

using namespace UpdateFixtures;

// Which build the bundle at `bundle` holds, when it is whole: its signature valid, notarized, and its build
// one of the two.
QByteArray wholeBuild(const QString& bundle) {
    if (!BundleSignature::assess(bundle, trustedKeys()))
        return "broken";
    return readAll(bundle + QStringLiteral("/Contents/Resources/build.txt"));
}

// Kills the installing process at random moments of its staging and swap, over and over. Whatever the
// moment, the bundle's path holds either the old or the new build, whole and passing verification.
TEST(UpdateFaultInjection, bundleIsAlwaysWholeWhereverTheInstallerDies) {
    TestSupport::TempDir root;
    const QString bundle = root.file(QStringLiteral("Applications/Orvane 连接器.app"));
    const QString home = root.file(QStringLiteral("home"));
    QDir().mkpath(home);
    // Two images, each turning the bundle into the other build, so every run is an update.
    for (const char* build : {"57", "58"}) {
        const QString folder = root.file(QStringLiteral("content-%1").arg(QLatin1String(build)));
        ASSERT_TRUE(makeReleaseBundle(folder + QStringLiteral("/Orvane 连接器.app"), QLatin1String(build)));
        ASSERT_TRUE(makeImage(folder, root.file(QStringLiteral("image-%1.tgz").arg(QLatin1String(build)))));
    }
    ASSERT_TRUE(makeReleaseBundle(bundle, QStringLiteral("57")));

    const QString child = build(QStringLiteral("tests/update/update-install-child"));
    const QString helpersDir = build(QStringLiteral("tools/update-helpers"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);

    std::mt19937 random(20261209);
    qint64 fullRun = 0; // how long an uninterrupted run takes, measured by the first one
    int runs = 0, completed = 0, killed = 0;
    QElapsedTimer clock;
    clock.start();
    while (runs < 200 || clock.elapsed() < 5000) {
        if (runs >= 200 && clock.elapsed() > 90'000)
            break;
        const QByteArray before = wholeBuild(bundle);
        ASSERT_TRUE(before == "57" || before == "58") << "run " << runs << ": " << before.constData();
        const QByteArray next = before == "57" ? "58" : "57";
        const QString image = root.file(QStringLiteral("download.dmg"));
        QFile::remove(image);
        ASSERT_TRUE(QFile::copy(root.file(QStringLiteral("image-%1.tgz").arg(QLatin1String(next))), image));

        QProcess process;
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer runClock;
        runClock.start();
        process.start(child, {image, bundle, QString::fromLatin1(next), helpersDir});
        ASSERT_TRUE(process.waitForStarted(10000));
        bool finished = false;
        if (runs == 0) {
            finished = process.waitForFinished(60000);
            fullRun = runClock.elapsed();
            ASSERT_TRUE(finished);
            EXPECT_EQ(process.exitCode(), 0);
        } else {
            // A moment anywhere in the run, a little beyond its usual end included.
            std::uniform_int_distribution<qint64> moment(0, fullRun + fullRun / 5);
            finished = process.waitForFinished(static_cast<int>(moment(random)));
            if (!finished) {
                ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
                ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
                process.waitForFinished(10000);
                ++killed;
            }
        }
        if (finished && process.exitCode() == 0)
            ++completed;
        const QByteArray after = wholeBuild(bundle);
        ASSERT_TRUE(after == before || after == next) << "run " << runs << ": " << after.constData();
        if (finished && process.exitCode() == 0) {
            EXPECT_EQ(after, next) << "run " << runs;
        }
        ++runs;
    }
    std::printf("fault injection: %d runs in %lld ms (%d killed, %d completed, a full run %lld ms)\n", runs,
                static_cast<long long>(clock.elapsed()), killed, completed, static_cast<long long>(fullRun));
    UpdateFiles::removeItem(root.path()); // killed runs leave read-only mount points behind
    EXPECT_GE(runs, 200);
    EXPECT_GT(killed, 50);
    EXPECT_GT(completed, 5);
}

} // namespace
