#include "AppVerifier.h"
#include "Identities.h"

#include "linux/BundleSignature.h"
#include "linux/LinuxCodeSigning.h"

#include "RunTask.h"
#include "TempHome.h"

#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

namespace {

using TestSupport::team;
using TestSupport::vestrano;
using TestSupport::vestranoGlobal;

// Answers every check the same way and counts the signature work asked of it.
class AnsweringSigning final : public CodeSigning {
public:
    explicit AnsweringSigning(std::optional<SigningInformation> answer) : answer_(std::move(answer)) {}

    std::optional<SigningInformation> check(const QString& bundlePath,
                                            const QString& requirement) const override {
        std::lock_guard lock(mutex_);
        ++calls;
        lastPath = bundlePath;
        lastRequirement = requirement;
        lastThread = QThread::currentThread();
        return answer_;
    }

    mutable std::atomic<int> calls = 0;
    mutable QString lastPath, lastRequirement;
    mutable QThread* lastThread = nullptr;

private:
    std::optional<SigningInformation> answer_;
    mutable std::mutex mutex_;
};

QString writeBundle(const QString& folder, const QString& identifier) {
    const QString app = folder + QStringLiteral("/Orvane.app");
    TestSupport::writeFile(
        app + QStringLiteral("/Contents/Info.plist"),
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                       "<key>CFBundleIdentifier</key><string>%1</string>"
                       "<key>CFBundleExecutable</key><string>Orvane</string></dict></plist>\n")
            .arg(identifier)
            .toUtf8());
    TestSupport::writeFile(app + QStringLiteral("/Contents/MacOS/Orvane"), "#!/bin/sh\n", 0755);
    return app;
}

TEST(AppVerifier, RequirementText) {
    EXPECT_EQ(AppVerifier::requirement(vestrano),
              QStringLiteral("anchor apple generic and identifier \"com.tamrik.vestrano\""));
    EXPECT_EQ(AppVerifier::requirement(QStringLiteral("com.tamrik.senvik.connector")),
              QString::fromUtf8("anchor apple generic and identifier \x22"
                                "com.tamrik.senvik.connector\x22"));
}

struct FakeCase {
    const char* name;
    QString bundleIdentifier; // in the bundle's Info.plist; empty: no bundle at all
    QString asked;            // the identifier asked about
    std::optional<SigningInformation> answer;
    bool expected;
    int signatureChecks;
};

void PrintTo(const FakeCase& c, std::ostream* os) {
    *os << c.name;
}

class IsSenvikWithFake : public ::testing::TestWithParam<FakeCase> {};

TEST_P(IsSenvikWithFake, Outcome) {
    const FakeCase& c = GetParam();
    TestSupport::TempDir dir;
    const QString app = c.bundleIdentifier.isEmpty() ? dir.file(QStringLiteral("Missing.app"))
                                                     : writeBundle(dir.path(), c.bundleIdentifier);
    auto fake = std::make_shared<AnsweringSigning>(c.answer);
    const AppVerifier verifier(fake);
    EXPECT_EQ(verifier.isSenvik(app, c.asked), c.expected);
    EXPECT_EQ(fake->calls.load(), c.signatureChecks);
    if (c.signatureChecks > 0) {
        EXPECT_EQ(fake->lastRequirement, AppVerifier::requirement(c.asked));
        EXPECT_EQ(fake->lastPath, app);
    }
}

const SigningInformation byTeam{vestrano, team};

INSTANTIATE_TEST_SUITE_P(
    AppVerifier, IsSenvikWithFake,
    ::testing::Values(FakeCase{"genuine", vestrano, vestrano, byTeam, true, 1},
                      FakeCase{"genuineGlobal", vestranoGlobal, vestranoGlobal,
                               SigningInformation{vestranoGlobal, team}, true, 1},
                      // Not a companion app: refused without any signature work.
                      FakeCase{"notACompanion", QStringLiteral("com.example.app"),
                               QStringLiteral("com.example.app"), byTeam, false, 0},
                      FakeCase{"companionIdInOtherCase", QStringLiteral("COM.TAMRIK.VESTRANO"),
                               QStringLiteral("COM.TAMRIK.VESTRANO"), byTeam, false, 0},
                      FakeCase{"bundleSaysAnotherIdentifier", vestranoGlobal, vestrano, byTeam, false, 0},
                      FakeCase{"notABundle", QString(), vestrano, byTeam, false, 0},
                      FakeCase{"signedByAnotherTeam", vestrano, vestrano,
                               SigningInformation{vestrano, QStringLiteral("OTHERTEAM1")}, false, 1},
                      FakeCase{"signedWithoutTeam", vestrano, vestrano,
                               SigningInformation{vestrano, std::nullopt}, false, 1},
                      FakeCase{"signatureInvalid", vestrano, vestrano, std::nullopt, false, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AppVerifier, CheckRunsOffTheCallersThread) {
    TestSupport::TempDir dir;
    const QString app = writeBundle(dir.path(), vestrano);
    auto fake = std::make_shared<AnsweringSigning>(byTeam);
    const QThread* mainThread = QThread::currentThread();
    EXPECT_TRUE(TestSupport::runTask(AppVerifier(fake).check(app, vestrano)));
    EXPECT_EQ(fake->calls.load(), 1);
    EXPECT_NE(fake->lastThread, mainThread);
    EXPECT_FALSE(TestSupport::runTask(AppVerifier(fake).check(app, QStringLiteral("com.example.app"))));
    EXPECT_EQ(fake->calls.load(), 1);
}

TEST(AppVerifier, NoCheckerTrustsNothing) {
    TestSupport::TempDir dir;
    EXPECT_FALSE(AppVerifier(nullptr).isSenvik(writeBundle(dir.path(), vestrano), vestrano));
}

// The same decisions over real signatures: test keys, real files.
struct RealCase {
    const char* name;
    QString infoIdentifier;
    QString signedIdentifier; // empty: unsigned
    QString signedTeam;
    bool byTrustedKey;
    QString asked;
    bool senvik;
    bool isSigned; // isSigned(app, asked)
};

void PrintTo(const RealCase& c, std::ostream* os) {
    *os << c.name;
}

class RealSignatures : public ::testing::TestWithParam<RealCase> {};

TEST_P(RealSignatures, Outcome) {
    static const Ed25519Key teamKey = Ed25519Key::generate();
    static const Ed25519Key otherKey = Ed25519Key::generate();
    static const Ed25519Key strangerKey = Ed25519Key::generate();
    const RealCase& c = GetParam();
    SigningKeyring keyring;
    keyring.add(team, teamKey.publicKey());
    keyring.add(QStringLiteral("OTHERTEAM1"), otherKey.publicKey());
    TestSupport::TempDir dir;
    const QString app = writeBundle(dir.path(), c.infoIdentifier);
    if (!c.signedIdentifier.isEmpty()) {
        const Ed25519Key& key = !c.byTrustedKey ? strangerKey : c.signedTeam == team ? teamKey : otherKey;
        BundleSignature::sign(app, key, c.signedIdentifier, c.signedTeam);
    }
    const AppVerifier verifier(std::make_shared<LinuxCodeSigning>(keyring));
    EXPECT_EQ(verifier.isSenvik(app, c.asked), c.senvik);
    EXPECT_EQ(TestSupport::runTask(verifier.check(app, c.asked)), c.senvik);
    EXPECT_EQ(verifier.isSigned(app, c.asked), c.isSigned);
}

const QString connector = QStringLiteral("com.tamrik.senvik.connector");

INSTANTIATE_TEST_SUITE_P(
    AppVerifier, RealSignatures,
    ::testing::Values(
        RealCase{"genuine", vestrano, vestrano, team, true, vestrano, true, true},
        RealCase{"unsigned", vestrano, QString(), QString(), false, vestrano, false, false},
        RealCase{"otherTeamsValidSignature", vestrano, vestrano, QStringLiteral("OTHERTEAM1"), true, vestrano,
                 false, false},
        RealCase{"untrustedKeyClaimingTheTeam", vestrano, vestrano, team, false, vestrano, false, false},
        RealCase{"signedForAnotherIdentifier", vestrano, vestranoGlobal, team, true, vestrano, false, false},
        RealCase{"bundleSaysAnotherIdentifier", vestranoGlobal, vestrano, team, true, vestrano, false, true},
        // A downloaded connector is checked with isSigned alone; it is no companion app.
        RealCase{"connectorUpdate", connector, connector, team, true, connector, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
