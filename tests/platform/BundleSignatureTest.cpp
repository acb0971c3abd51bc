#include "linux/BundleSignature.h"
#include "Identities.h"
#include "linux/LinuxCodeSigning.h"

#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <stdexcept>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using BundleSignature::Problem;

namespace {

using TestSupport::team;
const QString otherTeam = QStringLiteral("Q7OTHERTMX");
using TestSupport::vestrano;

// One key per team, made once for the whole program (key generation is the slow part).
const Ed25519Key& teamKey() {
    static const Ed25519Key key = Ed25519Key::generate();
    return key;
}
const Ed25519Key& otherTeamKey() {
    static const Ed25519Key key = Ed25519Key::generate();
    return key;
}

SigningKeyring keyring() {
    SigningKeyring ring;
    ring.add(team, teamKey().publicKey());
    ring.add(otherTeam, otherTeamKey().publicKey());
    return ring;
}

bool makeLink(const QString& target, const QString& link) {
    QDir().mkpath(QFileInfo(link).path());
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
}

// A bundle with the shapes a real app has: plist, executable, resources in sub-folders, an inner link, a
// non-ASCII file name and a file with a known SHA-256.
QString makeBundle(const QString& folder) {
    const QString app = folder + QStringLiteral("/Orvane.app");
    using TestSupport::writeFile;
    writeFile(app + QStringLiteral("/Contents/Info.plist"), "<plist/>\n", 0644);
    writeFile(app + QStringLiteral("/Contents/MacOS/Orvane"), "#!/bin/sh\nexit 0\n", 0755);
    writeFile(app + QStringLiteral("/Contents/Resources/data.bin"), QByteArray(100000, 'x'), 0644);
    writeFile(app + QStringLiteral("/Contents/Resources/abc.txt"), "abc", 0644);
    writeFile(app + QStringLiteral("/Contents/Resources/sub/资源.txt"), "中文", 0644);
    makeLink(QStringLiteral("data.bin"), app + QStringLiteral("/Contents/Resources/Current"));
    return app;
}

void flipFirstByte(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadWrite);
    QByteArray bytes = file.readAll();
    bytes[0] = static_cast<char>(bytes[0] ^ 1);
    file.seek(0);
    file.write(bytes);
}

// Where a signed bundle keeps its manifest, and the bytes of a file (empty when it cannot be read).
QString manifestOf(const QString& app) {
    return app + QStringLiteral("/Contents/_CodeSignature/CodeResources");
}
QString signatureFolderOf(const QString& app) {
    return app + QStringLiteral("/Contents/_CodeSignature");
}
QString signatureOf(const QString& app) {
    return signatureFolderOf(app) + QStringLiteral("/CodeSignature");
}
// A FIFO in a file's place: opening it for reading would wait for a writer for ever.
void replaceByFifo(const QString& path) {
    QFile::remove(path);
    ::mkfifo(QFile::encodeName(path).constData(), 0644);
}
QByteArray contentsOf(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void setMode(const QString& path, mode_t mode) {
    ::chmod(QFile::encodeName(path).constData(), mode);
}

struct SignatureCase {
    const char* name;
    std::function<void(const QString& app)> prepare; // before signing
    std::function<void(const QString& app)> sign;
    std::function<void(const QString& app)> change; // after signing
    std::optional<QString> identifier;              // required
    Problem expected;
};

void PrintTo(const SignatureCase& c, std::ostream* os) {
    *os << c.name;
}

void signAsTeam(const QString& app) {
    BundleSignature::sign(app, teamKey(), vestrano, team);
}
void nothing(const QString&) {}

class SignatureTable : public ::testing::TestWithParam<SignatureCase> {};

TEST_P(SignatureTable, Verdict) {
    const SignatureCase& c = GetParam();
    TestSupport::TempDir dir;
    const QString app = makeBundle(dir.path());
    c.prepare(app);
    c.sign(app);
    c.change(app);
    const BundleSignature::Verdict verdict = BundleSignature::verify(app, keyring(), c.identifier);
    EXPECT_EQ(verdict.problem, c.expected)
        << "got " << BundleSignature::describe(verdict.problem) << " (" << verdict.detail << ")";
}

const QString resources = QStringLiteral("/Contents/Resources/");

INSTANTIATE_TEST_SUITE_P(
    BundleSignature, SignatureTable,
    ::testing::Values(
        SignatureCase{"valid", nothing, signAsTeam, nothing, vestrano, Problem::none},
        SignatureCase{"validWithoutRequiredIdentifier", nothing, signAsTeam, nothing, std::nullopt,
                      Problem::none},
        SignatureCase{"oneByteChanged", nothing, signAsTeam,
                      [](const QString& app) { flipFirstByte(app + resources + QStringLiteral("data.bin")); },
                      vestrano, Problem::contentsChanged},
        SignatureCase{
            "executableChanged", nothing, signAsTeam,
            [](const QString& app) { flipFirstByte(app + QStringLiteral("/Contents/MacOS/Orvane")); },
            vestrano, Problem::contentsChanged},
        SignatureCase{"fileAdded", nothing, signAsTeam,
                      [](const QString& app) {
                          TestSupport::writeFile(app + resources + QStringLiteral("extra.txt"), "");
                      },
                      vestrano, Problem::contentsChanged},
        SignatureCase{
            "fileAddedOutsideContents", nothing, signAsTeam,
            [](const QString& app) { TestSupport::writeFile(app + QStringLiteral("/run.sh"), "x"); },
            vestrano, Problem::contentsChanged},
        SignatureCase{"fileRemoved", nothing, signAsTeam,
                      [](const QString& app) { QFile::remove(app + resources + QStringLiteral("abc.txt")); },
                      vestrano, Problem::contentsChanged},
        SignatureCase{
            "executableBitRemoved", nothing, signAsTeam,
            [](const QString& app) { setMode(app + QStringLiteral("/Contents/MacOS/Orvane"), 0644); },
            vestrano, Problem::contentsChanged},
        SignatureCase{"executableBitAdded", nothing, signAsTeam,
                      [](const QString& app) { setMode(app + resources + QStringLiteral("abc.txt"), 0755); },
                      vestrano, Problem::contentsChanged},
        SignatureCase{"symlinkRetargeted", nothing, signAsTeam,
                      [](const QString& app) {
                          QFile::remove(app + resources + QStringLiteral("Current"));
                          makeLink(QStringLiteral("abc.txt"), app + resources + QStringLiteral("Current"));
                      },
                      vestrano, Problem::contentsChanged},
        SignatureCase{"symlinkReplacedByItsTarget", nothing, signAsTeam,
                      [](const QString& app) {
                          QFile::remove(app + resources + QStringLiteral("Current"));
                          QFile::copy(app + resources + QStringLiteral("data.bin"),
                                      app + resources + QStringLiteral("Current"));
                      },
                      vestrano, Problem::contentsChanged},
        SignatureCase{"escapingSymlinkAdded", nothing, signAsTeam,
                      [](const QString& app) {
                          makeLink(QStringLiteral("../../.."), app + resources + QStringLiteral("escape"));
                      },
                      vestrano, Problem::unsafeContents},
        SignatureCase{"wrongIdentifier", nothing, signAsTeam, nothing,
                      QStringLiteral("com.tamrik.vestrano.global"), Problem::wrongIdentifier},
        SignatureCase{"anotherTeamsKeyClaimingTheTeam", nothing,
                      [](const QString& app) { BundleSignature::sign(app, otherTeamKey(), vestrano, team); },
                      nothing, vestrano, Problem::badSignature},
        SignatureCase{"unknownKeyOfATeamNotInKeyring", nothing,
                      [](const QString& app) {
                          BundleSignature::sign(app, Ed25519Key::generate(), vestrano,
                                                QStringLiteral("ZZZZZZZZZZ"));
                      },
                      nothing, vestrano, Problem::badSignature},
        SignatureCase{"trustedKeyClaimingATeamNotInKeyring", nothing,
                      [](const QString& app) {
                          BundleSignature::sign(app, otherTeamKey(), vestrano, QStringLiteral("ZZZZZZZZZZ"));
                      },
                      nothing, vestrano, Problem::untrustedTeam},
        SignatureCase{"unsigned", nothing, nothing, nothing, vestrano, Problem::notSigned},
        SignatureCase{"signatureRemoved", nothing, signAsTeam,
                      [](const QString& app) {
                          QFile::remove(app + QStringLiteral("/Contents/_CodeSignature/CodeSignature"));
                      },
                      vestrano, Problem::notSigned},
        SignatureCase{"manifestHashTampered", nothing, signAsTeam,
                      [](const QString& app) {
                          // Re-describe the changed file in the manifest, keeping the old signature.
                          QByteArray bytes = contentsOf(manifestOf(app));
                          bytes.replace("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                                        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ae");
                          TestSupport::writeFile(manifestOf(app), bytes);
                      },
                      vestrano, Problem::badSignature},
        SignatureCase{"manifestNotCanonical", nothing, signAsTeam,
                      [](const QString& app) {
                          const QByteArray bytes = contentsOf(manifestOf(app)) + "\n";
                          TestSupport::writeFile(manifestOf(app), bytes);
                          TestSupport::writeFile(signatureOf(app), teamKey().sign(bytes));
                      },
                      vestrano, Problem::malformed},
        // Unsigned bytes are never decoded: garbage under the old signature is a bad signature, not a
        // malformed manifest.
        SignatureCase{"manifestReplacedByGarbage", nothing, signAsTeam,
                      [](const QString& app) {
                          TestSupport::writeFile(manifestOf(app), QByteArray(100000, '['));
                      },
                      vestrano, Problem::badSignature},
        SignatureCase{"manifestBeyondTheCap", nothing, signAsTeam,
                      [](const QString& app) {
                          QFile file(manifestOf(app));
                          file.open(QIODevice::ReadWrite);
                          file.resize(BundleSignature::maxManifestBytes + 1); // sparse: cheap
                      },
                      vestrano, Problem::malformed},
        SignatureCase{"manifestIsAFifo", nothing, signAsTeam,
                      [](const QString& app) { replaceByFifo(manifestOf(app)); }, vestrano,
                      Problem::unsafeContents},
        SignatureCase{"signatureIsAFifo", nothing, signAsTeam,
                      [](const QString& app) { replaceByFifo(signatureOf(app)); }, vestrano,
                      Problem::unsafeContents},
        SignatureCase{"manifestLinksToDevZero", nothing, signAsTeam,
                      [](const QString& app) {
                          QFile::remove(manifestOf(app));
                          makeLink(QStringLiteral("/dev/zero"), manifestOf(app));
                      },
                      vestrano, Problem::unsafeContents},
        SignatureCase{"notarySignatureBeside", nothing, signAsTeam,
                      [](const QString& app) {
                          TestSupport::writeFile(signatureFolderOf(app) + QStringLiteral("/NotarySignature"),
                                                 QByteArray(64, 'n'), 0644);
                      },
                      vestrano, Problem::none},
        SignatureCase{"extraFileInSignatureFolder", nothing, signAsTeam,
                      [](const QString& app) {
                          TestSupport::writeFile(signatureFolderOf(app) + QStringLiteral("/Extra"), "x", 0644);
                      },
                      vestrano, Problem::unsafeContents},
        SignatureCase{"folderInSignatureFolder", nothing, signAsTeam,
                      [](const QString& app) { QDir().mkpath(signatureFolderOf(app) + QStringLiteral("/d")); },
                      vestrano, Problem::unsafeContents},
        SignatureCase{"notarySignatureIsALink", nothing, signAsTeam,
                      [](const QString& app) {
                          makeLink(QStringLiteral("CodeSignature"),
                                   signatureFolderOf(app) + QStringLiteral("/NotarySignature"));
                      },
                      vestrano, Problem::unsafeContents},
        SignatureCase{
            "setUidExecutable", nothing, signAsTeam,
            [](const QString& app) { setMode(app + QStringLiteral("/Contents/MacOS/Orvane"), 04755); },
            vestrano, Problem::unsafeContents},
        SignatureCase{
            "setGidExecutable", nothing, signAsTeam,
            [](const QString& app) { setMode(app + QStringLiteral("/Contents/MacOS/Orvane"), 02755); },
            vestrano, Problem::unsafeContents},
        SignatureCase{"groupWritableFile", nothing, signAsTeam,
                      [](const QString& app) { setMode(app + resources + QStringLiteral("abc.txt"), 0664); },
                      vestrano, Problem::unsafeContents},
        SignatureCase{"worldWritableFolder", nothing, signAsTeam,
                      [](const QString& app) { setMode(app + QStringLiteral("/Contents/Resources"), 0777); },
                      vestrano, Problem::unsafeContents},
        SignatureCase{"groupWritableBundleFolder", nothing, signAsTeam,
                      [](const QString& app) { setMode(app, 0775); }, vestrano, Problem::unsafeContents},
        SignatureCase{"worldWritableManifest", nothing, signAsTeam,
                      [](const QString& app) { setMode(manifestOf(app), 0666); }, vestrano,
                      Problem::unsafeContents},
        SignatureCase{"fileOfAnotherUser", nothing, signAsTeam,
                      [](const QString& app) {
                          const QByteArray file = QFile::encodeName(app + resources + QStringLiteral("abc.txt"));
                          if (::chown(file.constData(), 54321, 54321) != 0)
                              ADD_FAILURE() << "chown needs root";
                      },
                      vestrano, Problem::unsafeContents},
        SignatureCase{"fileGrownBeyondTheCap", nothing, signAsTeam,
                      [](const QString& app) {
                          QFile file(app + resources + QStringLiteral("data.bin"));
                          file.open(QIODevice::ReadWrite);
                          file.resize(BundleSignature::maxFileBytes + 1); // sparse: cheap
                      },
                      vestrano, Problem::unsafeContents},
        SignatureCase{"specialFileAdded", nothing, signAsTeam,
                      [](const QString& app) {
                          ::mkfifo(QFile::encodeName(app + resources + QStringLiteral("pipe")).constData(),
                                   0644);
                      },
                      vestrano, Problem::unsafeContents},
        SignatureCase{
            "resignedAfterChange",
            [](const QString& app) { TestSupport::writeFile(app + resources + QStringLiteral("new"), "n"); },
            [](const QString& app) {
                signAsTeam(app);
                flipFirstByte(app + resources + QStringLiteral("data.bin"));
                signAsTeam(app); // signing again replaces the earlier signature
            },
            nothing, vestrano, Problem::none}),
    [](const auto& info) { return std::string(info.param.name); });

// Contents that can never be signed safely: links out of the bundle, or onto its root (from where one more
// ".." leaves it), or to nothing.
class UnsafeLinks : public ::testing::TestWithParam<const char*> {};

TEST_P(UnsafeLinks, SigningRefuses) {
    TestSupport::TempDir dir;
    const QString app = makeBundle(dir.path());
    ASSERT_TRUE(makeLink(QString::fromUtf8(GetParam()), app + resources + QStringLiteral("link")));
    try {
        signAsTeam(app);
        FAIL() << "signed a bundle with the link " << GetParam();
    } catch (const BundleSignature::Error& error) {
        EXPECT_EQ(error.problem, Problem::unsafeContents);
    }
    EXPECT_FALSE(QFile::exists(manifestOf(app)));
}

INSTANTIATE_TEST_SUITE_P(BundleSignature, UnsafeLinks,
                         ::testing::Values("/etc/passwd", "../../../outside", "../../..", "../..",
                                           "missing.txt", "sub/../../../.."));

// Hand-made manifests that a signer could be tricked into signing still never pass.
TEST(BundleSignature, SignedManifestWithPathTricksIsRejected) {
    for (const char* path : {"/etc/passwd", "Contents/../../x", "./Contents/Info.plist",
                             "Contents//Info.plist", "Contents/_CodeSignature/CodeResources"}) {
        TestSupport::TempDir dir;
        const QString app = makeBundle(dir.path());
        signAsTeam(app);
        auto manifest = BundleSignature::parse(contentsOf(manifestOf(app)));
        ASSERT_TRUE(manifest);
        manifest->entries.insert(
            manifest->entries.begin(),
            BundleSignature::Entry{
                path, BundleSignature::Entry::Kind::file, std::string(64, 'a'), false, {}});
        const QByteArray bytes = BundleSignature::canonical(*manifest);
        TestSupport::writeFile(manifestOf(app), bytes);
        TestSupport::writeFile(app + QStringLiteral("/Contents/_CodeSignature/CodeSignature"),
                               teamKey().sign(bytes));
        EXPECT_EQ(BundleSignature::verify(app, keyring(), vestrano).problem, Problem::malformed) << path;
    }
}

TEST(BundleSignature, ManifestDescribesEveryFile) {
    TestSupport::TempDir dir;
    const QString app = makeBundle(dir.path());
    signAsTeam(app);
    const auto verdict = BundleSignature::verify(app, keyring(), vestrano);
    ASSERT_TRUE(verdict.valid());
    std::vector<std::string> paths;
    for (const auto& entry : verdict.manifest->entries)
        paths.push_back(entry.path);
    EXPECT_EQ(paths,
              (std::vector<std::string>{"Contents/Info.plist", "Contents/MacOS/Orvane",
                                        "Contents/Resources/Current", "Contents/Resources/abc.txt",
                                        "Contents/Resources/data.bin", "Contents/Resources/sub/资源.txt"}));
    const auto& abc = verdict.manifest->entries[3];
    // Known SHA-256 vector of "abc".
    EXPECT_EQ(abc.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_FALSE(abc.executable);
    EXPECT_TRUE(verdict.manifest->entries[1].executable);
    EXPECT_EQ(verdict.manifest->entries[2].kind, BundleSignature::Entry::Kind::symlink);
    EXPECT_EQ(verdict.manifest->entries[2].target, "data.bin");
    EXPECT_EQ(verdict.manifest->team, team.toStdString());
}

// The update copies a bundle elsewhere before checking it: a signature belongs to the contents, not the
// place.
TEST(BundleSignature, SurvivesCopyAndLinkToTheBundle) {
    TestSupport::TempDir dir;
    const QString app = makeBundle(dir.path());
    signAsTeam(app);
    const QString copy = dir.file(QStringLiteral("elsewhere/Copy.app"));
    QDir().mkpath(dir.file(QStringLiteral("elsewhere")));
    ASSERT_EQ(QProcess::execute(QStringLiteral("/bin/cp"), {QStringLiteral("-a"), app, copy}), 0);
    EXPECT_TRUE(BundleSignature::verify(copy, keyring(), vestrano).valid());
    ASSERT_TRUE(makeLink(app, dir.file(QStringLiteral("Alias.app"))));
    EXPECT_TRUE(BundleSignature::verify(dir.file(QStringLiteral("Alias.app")), keyring(), vestrano).valid());
    EXPECT_EQ(BundleSignature::verify(dir.file(QStringLiteral("Missing.app")), keyring(), vestrano).problem,
              Problem::unreadable);
}

TEST(BundleSignature, RequiredTeam) {
    TestSupport::TempDir dir;
    const QString app = makeBundle(dir.path());
    BundleSignature::sign(app, otherTeamKey(), vestrano, otherTeam);
    EXPECT_TRUE(BundleSignature::verify(app, keyring(), vestrano, otherTeam).valid());
    EXPECT_EQ(BundleSignature::verify(app, keyring(), vestrano, team).problem, Problem::wrongTeam);
}

struct RequirementCase {
    const char* text;
    bool compiles;
    std::optional<QString> identifier;
};

void PrintTo(const RequirementCase& c, std::ostream* os) {
    *os << c.text;
}

class Requirements : public ::testing::TestWithParam<RequirementCase> {};

TEST_P(Requirements, Compile) {
    const auto compiled = LinuxCodeSigning::compile(QString::fromUtf8(GetParam().text));
    ASSERT_EQ(compiled.has_value(), GetParam().compiles);
    if (compiled) {
        EXPECT_EQ(compiled->identifier, GetParam().identifier);
    }
}

INSTANTIATE_TEST_SUITE_P(
    LinuxCodeSigning, Requirements,
    ::testing::Values(
        RequirementCase{"anchor apple generic and identifier \"com.tamrik.vestrano\"", true, vestrano},
        RequirementCase{"anchor apple generic", true, std::nullopt},
        RequirementCase{"anchor apple generic and identifier com.tamrik.vestrano", false, {}},
        RequirementCase{"anchor apple generic and identifier \"\"", false, {}},
        RequirementCase{"anchor apple generic and identifier \"a\"b\"", false, {}},
        RequirementCase{"anchor apple generic and identifier \"com.tamrik.vestrano\" ", false, {}},
        RequirementCase{"identifier \"com.tamrik.vestrano\"", false, {}},
        RequirementCase{"anchor apple", false, {}}, RequirementCase{"", false, {}}));

TEST(LinuxCodeSigning, CheckGivesTheSigningInformation) {
    TestSupport::TempDir dir;
    const QString app = makeBundle(dir.path());
    signAsTeam(app);
    const LinuxCodeSigning signing(keyring());
    const auto information =
        signing.check(app, QStringLiteral("anchor apple generic and identifier \"%1\"").arg(vestrano));
    ASSERT_TRUE(information);
    EXPECT_EQ(information->identifier, vestrano);
    EXPECT_EQ(information->teamIdentifier, team);
    EXPECT_FALSE(signing.check(app, QStringLiteral("anchor apple generic and identifier \"com.other\"")));
    EXPECT_FALSE(signing.check(app, QStringLiteral("identifier \"%1\"").arg(vestrano)));
    EXPECT_FALSE(LinuxCodeSigning(SigningKeyring()).check(app, QStringLiteral("anchor apple generic")));
}

TEST(SigningKeyring, KeysOfTheRightSizeOnly) {
    SigningKeyring ring;
    EXPECT_THROW(ring.add(team, QByteArray(31, 'k')), std::invalid_argument);
    EXPECT_THROW(ring.add(team, QByteArray(33, 'k')), std::invalid_argument);
    EXPECT_TRUE(ring.isEmpty());
    ring.add(team, teamKey().publicKey());
    ring.add(team, otherTeamKey().publicKey());
    EXPECT_EQ(ring.keysFor(team).size(), 2);
    EXPECT_TRUE(ring.keysFor(otherTeam).isEmpty());
}

} // namespace
