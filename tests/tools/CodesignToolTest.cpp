#include "CompanionStandin.h"
#include "Identities.h"
#include "linux/BundleSignature.h"

#include "TempHome.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

const QString tool = QStringLiteral(ORVANE_CODESIGN);
using TestSupport::team;
using TestSupport::vestrano;

struct Result {
    int status;
    QString out;
};

Result run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()).trimmed()};
}

Result codesign(const QStringList& arguments) {
    return run(tool, arguments);
}

// Signs the bundle at `app` as Vestrano of `team` with the private key at `key`; the tool's exit status.
int signAsVestrano(const QString& key, const QString& app) {
    return codesign({QStringLiteral("sign"), QStringLiteral("--key"), key, QStringLiteral("--identifier"),
                     vestrano, QStringLiteral("--team"), team, app})
        .status;
}

// Base64 of the raw public key, as openssl itself derives it from the private key.
QString opensslPublicKey(const QString& pem) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("pkey"), QStringLiteral("-in"), pem, QStringLiteral("-pubout"),
                   QStringLiteral("-outform"), QStringLiteral("DER")});
    openssl.waitForFinished(30000);
    return QString::fromLatin1(openssl.readAllStandardOutput().right(32).toBase64());
}

TEST(CodesignTool, KeygenWritesAPrivateKeyAndPrintsItsPublicHalf) {
    TestSupport::TempDir dir;
    const QString key = dir.file(QStringLiteral("key.pem"));
    const Result made = codesign({QStringLiteral("keygen"), key});
    ASSERT_EQ(made.status, 0);
    EXPECT_EQ(QFileInfo(key).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                              QFileDevice::WriteGroup | QFileDevice::WriteOther),
              QFileDevice::Permissions());
    EXPECT_EQ(made.out, opensslPublicKey(key));
    EXPECT_EQ(codesign({QStringLiteral("pubkey"), key}).out, made.out);
    // Never over an existing key.
    EXPECT_EQ(codesign({QStringLiteral("keygen"), key}).status, 1);
    EXPECT_EQ(codesign({QStringLiteral("pubkey"), key}).out, made.out);
}

struct VerifyCase {
    const char* name;
    QStringList extra; // verify options besides --pubkey
    bool useOtherKey;
    int status;
    const char* outputStart;
};

void PrintTo(const VerifyCase& c, std::ostream* os) {
    *os << c.name;
}

class VerifyTable : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(VerifyTable, StatusAndVerdict) {
    const VerifyCase& c = GetParam();
    TestSupport::TempDir dir;
    const QString key = dir.file(QStringLiteral("key.pem"));
    const QString other = dir.file(QStringLiteral("other.pem"));
    ASSERT_EQ(codesign({QStringLiteral("keygen"), key}).status, 0);
    ASSERT_EQ(codesign({QStringLiteral("keygen"), other}).status, 0);
    const QString app = dir.file(QStringLiteral("Orvane.app"));
    ASSERT_TRUE(CompanionStandin::assemble(app, vestrano));
    ASSERT_EQ(signAsVestrano(key, app), 0);
    QStringList arguments{QStringLiteral("verify"), QStringLiteral("--pubkey"), c.useOtherKey ? other : key};
    arguments << c.extra << app;
    const Result result = codesign(arguments);
    EXPECT_EQ(result.status, c.status);
    if (*c.outputStart)
        EXPECT_TRUE(result.out.startsWith(QString::fromUtf8(c.outputStart))) << result.out.toStdString();
    else
        EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    CodesignTool, VerifyTable,
    ::testing::Values(
        VerifyCase{"valid",
                   {QStringLiteral("--team"), team, QStringLiteral("--identifier"), vestrano},
                   false,
                   0,
                   "valid: com.tamrik.vestrano K3ZP8W2QNM"},
        VerifyCase{"wrongIdentifier",
                   {QStringLiteral("--team"), team, QStringLiteral("--identifier"),
                    QStringLiteral("com.tamrik.vestrano.global")},
                   false,
                   1,
                   "invalid: wrong identifier"},
        VerifyCase{"otherKey", {QStringLiteral("--team"), team}, true, 1, "invalid: signature invalid"},
        VerifyCase{"otherTeam",
                   {QStringLiteral("--team"), QStringLiteral("OTHERTEAM1")},
                   false,
                   1,
                   "invalid: team not trusted"},
        VerifyCase{"keyWithoutTeam", {}, false, 2, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CodesignTool, WrongUsage) {
    for (const QStringList& arguments :
         {QStringList{}, QStringList{QStringLiteral("sign"), QStringLiteral("/tmp/x.app")},
          QStringList{QStringLiteral("sign"), QStringLiteral("--key"), QStringLiteral("k"),
                      QStringLiteral("/tmp/x.app")},
          QStringList{QStringLiteral("verify")},
          QStringList{QStringLiteral("frobnicate"), QStringLiteral("x")}})
        EXPECT_EQ(codesign(arguments).status, 2) << arguments.join(QLatin1Char(' ')).toStdString();
}

// Independent check of the signature's bytes: openssl accepts it over the manifest with the signer's key.
TEST(CodesignTool, OpensslAgreesWithTheSignature) {
    TestSupport::TempDir dir;
    const QString key = dir.file(QStringLiteral("key.pem"));
    ASSERT_EQ(codesign({QStringLiteral("keygen"), key}).status, 0);
    const QString app = dir.file(QStringLiteral("Orvane.app"));
    ASSERT_TRUE(CompanionStandin::assemble(app, vestrano));
    ASSERT_EQ(signAsVestrano(key, app), 0);
    const QString pub = dir.file(QStringLiteral("key.pub"));
    ASSERT_EQ(run(QStringLiteral("openssl"), {QStringLiteral("pkey"), QStringLiteral("-in"), key,
                                              QStringLiteral("-pubout"), QStringLiteral("-out"), pub})
                  .status,
              0);
    const QString folder = app + QStringLiteral("/Contents/_CodeSignature/");
    const QStringList verify{QStringLiteral("pkeyutl"),
                             QStringLiteral("-verify"),
                             QStringLiteral("-pubin"),
                             QStringLiteral("-inkey"),
                             pub,
                             QStringLiteral("-rawin"),
                             QStringLiteral("-in"),
                             folder + QStringLiteral("CodeResources"),
                             QStringLiteral("-sigfile"),
                             folder + QStringLiteral("CodeSignature")};
    EXPECT_EQ(run(QStringLiteral("openssl"), verify).status, 0);
    TestSupport::writeFile(folder + QStringLiteral("CodeResources"), "{}");
    EXPECT_NE(run(QStringLiteral("openssl"), verify).status, 0);
}

#ifdef DEV_SIGNING_KEY
// A development build's own keyring trusts bundles signed with the build folder's key.
TEST(CodesignTool, DevelopmentKeyIsTrustedByThisBuild) {
    TestSupport::TempDir dir;
    const QString app = dir.file(QStringLiteral("Orvane.app"));
    ASSERT_TRUE(CompanionStandin::assemble(app, vestrano));
    ASSERT_EQ(signAsVestrano(QStringLiteral(DEV_SIGNING_KEY), app), 0);
    // Without --pubkey the tool uses the compiled-in keyring.
    EXPECT_EQ(codesign({QStringLiteral("verify"), QStringLiteral("--team"), team, app}).status, 0);
    const auto signing = systemCodeSigning();
    const auto information =
        signing->check(app, QStringLiteral("anchor apple generic and identifier \"com.tamrik.vestrano\""));
    ASSERT_TRUE(information);
    EXPECT_EQ(information->teamIdentifier, team);
}
#endif

} // namespace
