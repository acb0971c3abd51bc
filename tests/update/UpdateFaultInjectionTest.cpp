#include "UpdateFixtures.h"

#include "BundleSignature.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <random>
#include <signal.h>

namespace {

using namespace UpdateFixtures;

// The build the bundle holds when it is whole (signed, notarized, every file as signed), else "broken".
QByteArray wholeBuild(const QString& bundle) {
    return BundleSignature::assess(bundle, trustedKeys()) ? readAll(bundle + "/Contents/Resources/build.txt")
                                                          : "broken";
}

// Kills the installing process (a child running the real staging and swap) at random moments until it has
// died 100 times; every tenth run goes uninterrupted, must install, and sets the scale of the moments.
// Whatever the moment, the bundle's path holds the old or the new build, whole.
TEST(UpdateFaultInjection, bundleIsAlwaysWholeWhereverTheInstallerDies) {
    TestSupport::TempDir root;
    const QString bundle = root.file("Applications/Orvane 连接器.app");
    for (const QString build : {"57", "58"}) { // two images, each turning the bundle into the other build
        ASSERT_TRUE(makeReleaseBundle(root.file("content-" + build + "/Orvane 连接器.app"), build));
        ASSERT_TRUE(makeImage(root.file("content-" + build), root.file("image-" + build)));
    }
    ASSERT_TRUE(makeReleaseBundle(bundle, "57"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", root.path());

    std::mt19937 random(20261209);
    qint64 fullRun = 0;
    int runs = 0, killed = 0, completed = 0;
    QElapsedTimer clock;
    for (clock.start(); killed < 100 && runs < 1000; ++runs) {
        const QByteArray before = wholeBuild(bundle), next = before == "57" ? "58" : "57";
        ASSERT_TRUE(before == "57" || before == "58") << "run " << runs << ": " << before.constData();
        QFile::remove(root.file("download.dmg"));
        ASSERT_TRUE(QFile::copy(root.file("image-" + next), root.file("download.dmg")));
        QProcess child;
        child.setProcessEnvironment(environment);
        QElapsedTimer runClock;
        runClock.start();
        child.start(built("tests/update/update-install-child"),
                    {root.file("download.dmg"), bundle, next, built("tools/update-helpers")});
        ASSERT_TRUE(child.waitForStarted(10000));
        // The others die anywhere up to a little past a whole run at the machine's current pace.
        const bool whole = runs % 10 == 0;
        const int moment = whole ? 60000 : std::uniform_int_distribution<int>(0, fullRun * 6 / 5)(random);
        const bool finished = child.waitForFinished(moment);
        if (whole)
            fullRun = runs == 0 ? runClock.elapsed() : (fullRun * 3 + runClock.elapsed()) / 4;
        if (!finished) {
            ::kill(-static_cast<pid_t>(child.processId()), SIGKILL); // the child and the tools it runs
            ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
            child.waitForFinished(10000);
            ++killed;
        }
        const QByteArray after = wholeBuild(bundle);
        EXPECT_TRUE(after == before || after == next) << "run " << runs << ": " << after.constData();
        EXPECT_TRUE(!whole || (finished && child.exitCode() == 0)) << "run " << runs;
        if (finished && child.exitCode() == 0) {
            ++completed;
            EXPECT_EQ(after, next) << "run " << runs;
        }
    }
    std::printf("fault injection: %d runs in %lld ms, %d killed, %d completed, a full run %lld ms\n", runs,
                static_cast<long long>(clock.elapsed()), killed, completed, static_cast<long long>(fullRun));
    EXPECT_LE(QDir(root.file("Applications"))
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                  .size(),
              2)
        << "each staging removes what killed ones left beside the bundle: at most the last run's remains";
    UpdateFiles::removeItem(root.path()); // killed runs leave read-only mount points behind
    EXPECT_EQ(killed, 100);
}

} // namespace
