#include "ConnectorPaths.h"
#include "PathsTestHome.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <ostream>

#include <functional>
#include <unistd.h>

namespace {

const QString flag = QStringLiteral("--isolated-validation");

// Entries for the validation-directory cases: a directory with the right name under /tmp, and a scratch
// directory for links, look-alikes and a second temporary root.
class ValidationFixture {
public:
    ValidationFixture() {
        QByteArray name = "/tmp/senvik-connector-validation-XXXXXX";
        if (::mkdtemp(name.data()))
            valid = QString::fromUtf8(name);
        QByteArray other = "/tmp/senvik-connector-validation-XXXXXX";
        if (::mkdtemp(other.data()))
            foreign = QString::fromUtf8(other);
        QByteArray undashed = "/tmp/senvik-connector-validationXXXXXX";
        if (::mkdtemp(undashed.data()))
            lookalike = QString::fromUtf8(undashed);
    }
    ~ValidationFixture() {
        for (const QString& dir : {valid, foreign, lookalike})
            if (!dir.isEmpty())
                QDir(dir).removeRecursively();
    }
    QString valid;
    QString foreign;
    QString lookalike;
    TestSupport::TempDir scratch;
};

struct ValidationCase {
    const char* name;
    QStringList arguments;
    // The variable's value, built from the fixture; nothing: not set.
    std::function<std::optional<QString>(ValidationFixture&)> value;
    // The temporary root; empty: /tmp.
    std::function<QString(ValidationFixture&)> root;
    // The expected directory; nothing: absent.
    std::function<std::optional<QString>(ValidationFixture&)> expected;
    bool otherUser = false;
};

void PrintTo(const ValidationCase& c, std::ostream* os) {
    *os << c.name;
}

class ValidationDirTest : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(ValidationDirTest, AcceptsOnlyAPrivateDirectoryUnderTheTemporaryRoot) {
    const ValidationCase& c = GetParam();
    ValidationFixture f;
    ASSERT_FALSE(f.valid.isEmpty());
    const QString root = c.root ? c.root(f) : QStringLiteral("/tmp");
    const uid_t user = c.otherUser ? ::getuid() + 1 : ::getuid();
    EXPECT_EQ(ConnectorPaths::computeValidationDir(c.arguments, c.value(f), root, user), c.expected(f));
}

auto validValue = [](ValidationFixture& f) -> std::optional<QString> { return f.valid; };
auto validExpected = [](ValidationFixture& f) -> std::optional<QString> { return f.valid; };
auto absent = [](ValidationFixture&) -> std::optional<QString> { return std::nullopt; };

// Two names for one temporary root, as /tmp and /private/tmp are on macOS.
QString makeRoots(ValidationFixture& f) {
    QDir().mkpath(f.scratch.file(QStringLiteral("private/tmp/senvik-connector-validation-r")));
    QFile::link(f.scratch.file(QStringLiteral("private/tmp")), f.scratch.file(QStringLiteral("tmp")));
    return f.scratch.file(QStringLiteral("private/tmp"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidationDirTest,
    ::testing::Values(
        ValidationCase{"Accepted", {QStringLiteral("exe"), flag}, validValue, {}, validExpected},
        ValidationCase{"FlagAnywhere",
                       {QStringLiteral("exe"), QStringLiteral("--menubar"), flag, flag},
                       validValue,
                       {},
                       validExpected},
        ValidationCase{"NoFlag", {QStringLiteral("exe")}, validValue, {}, absent},
        ValidationCase{"FlagWithValue",
                       {QStringLiteral("exe"), QStringLiteral("--isolated-validation=1")},
                       validValue,
                       {},
                       absent},
        ValidationCase{"VariableUnset", {QStringLiteral("exe"), flag}, absent, {}, absent},
        ValidationCase{"VariableEmpty",
                       {QStringLiteral("exe"), flag},
                       [](ValidationFixture&) -> std::optional<QString> { return QString(); },
                       {},
                       absent},
        ValidationCase{"ThroughTwoLinks",
                       {QStringLiteral("exe"), flag},
                       [](ValidationFixture& f) -> std::optional<QString> {
                           QFile::link(f.valid, f.scratch.file(QStringLiteral("inner")));
                           QFile::link(f.scratch.file(QStringLiteral("inner")),
                                       f.scratch.file(QStringLiteral("outer")));
                           return f.scratch.file(QStringLiteral("outer"));
                       },
                       {},
                       validExpected},
        ValidationCase{"DotDotIntoThePrefix",
                       {QStringLiteral("exe"), flag},
                       [](ValidationFixture& f) -> std::optional<QString> {
                           return f.scratch.path() + QStringLiteral("/..") + f.valid.mid(4);
                       },
                       {},
                       validExpected},
        ValidationCase{"DotDotOutOfThePrefix",
                       {QStringLiteral("exe"), flag},
                       [](ValidationFixture& f) -> std::optional<QString> {
                           return f.valid + QStringLiteral("/..") + f.scratch.path().mid(4);
                       },
                       {},
                       absent},
        ValidationCase{"LinkOutOfThePrefix",
                       {QStringLiteral("exe"), flag},
                       [](ValidationFixture& f) -> std::optional<QString> {
                           const QString link = f.foreign + QStringLiteral("/escape");
                           QFile::link(f.scratch.path(), link);
                           return link;
                       },
                       {},
                       absent},
        ValidationCase{"WrongPrefix",
                       {QStringLiteral("exe"), flag},
                       [](ValidationFixture& f) -> std::optional<QString> { return f.scratch.path(); },
                       {},
                       absent},
        ValidationCase{"LookalikeWithoutDash",
                       {QStringLiteral("exe"), flag},
                       [](ValidationFixture& f) -> std::optional<QString> { return f.lookalike; },
                       {},
                       absent},
        ValidationCase{"RightNameWrongPlace",
                       {QStringLiteral("exe"), flag},
                       [](ValidationFixture& f) -> std::optional<QString> {
                           const QString path =
                               f.scratch.file(QStringLiteral("senvik-connector-validation-1"));
                           QDir().mkpath(path);
                           return path;
                       },
                       {},
                       absent},
        ValidationCase{
            "MissingEntry",
            {QStringLiteral("exe"), flag},
            [](ValidationFixture& f) -> std::optional<QString> { return f.valid + QStringLiteral("-gone"); },
            {},
            absent},
        ValidationCase{"OtherUser", {QStringLiteral("exe"), flag}, validValue, {}, absent, true},
        ValidationCase{
            "PlainFileAccepted",
            {QStringLiteral("exe"), flag},
            [](ValidationFixture& f) -> std::optional<QString> {
                TestSupport::writeFile(f.valid + QStringLiteral("/file"), "x");
                return f.valid + QStringLiteral("/file");
            },
            {},
            [](ValidationFixture& f) -> std::optional<QString> { return f.valid + QStringLiteral("/file"); }},
        ValidationCase{"RootThroughItsLinkName",
                       {QStringLiteral("exe"), flag},
                       [](ValidationFixture& f) -> std::optional<QString> {
                           makeRoots(f);
                           return f.scratch.file(QStringLiteral("tmp/senvik-connector-validation-r"));
                       },
                       makeRoots,
                       [](ValidationFixture& f) -> std::optional<QString> {
                           return f.scratch.file(QStringLiteral("private/tmp/senvik-connector-validation-r"));
                       }},
        ValidationCase{"RootGivenAsItsLink",
                       {QStringLiteral("exe"), flag},
                       [](ValidationFixture& f) -> std::optional<QString> {
                           makeRoots(f);
                           return f.scratch.file(QStringLiteral("private/tmp/senvik-connector-validation-r"));
                       },
                       [](ValidationFixture& f) {
                           makeRoots(f);
                           return f.scratch.file(QStringLiteral("tmp"));
                       },
                       [](ValidationFixture& f) -> std::optional<QString> {
                           return f.scratch.file(QStringLiteral("private/tmp/senvik-connector-validation-r"));
                       }}),
    [](const ::testing::TestParamInfo<ValidationCase>& info) { return std::string(info.param.name); });

TEST(ValidationDir, DirectoryOfAnotherOwnerIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a directory to another user needs root";
    ValidationFixture f;
    ASSERT_EQ(::chown(f.valid.toUtf8().constData(), 65534, 65534), 0);
    EXPECT_EQ(ConnectorPaths::computeValidationDir({QStringLiteral("exe"), flag}, f.valid,
                                                   QStringLiteral("/tmp"), ::getuid()),
              std::nullopt);
}

TEST(ValidationDir, SameNameUnderVarTmpIsRefused) {
    QByteArray name = "/var/tmp/senvik-connector-validation-XXXXXX";
    if (!::mkdtemp(name.data()))
        GTEST_SKIP() << "no /var/tmp here";
    const QString path = QString::fromUtf8(name);
    const auto seen = ConnectorPaths::computeValidationDir({flag}, path, QStringLiteral("/tmp"), ::getuid());
    QDir(path).removeRecursively();
    EXPECT_EQ(seen, std::nullopt);
}

TEST(ValidationDir, RelativePathCountsFromTheCurrentDirectory) {
    ValidationFixture f;
    const QString name = QDir(f.valid).dirName();
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QStringLiteral("/tmp")));
    const auto fromTmp =
        ConnectorPaths::computeValidationDir({flag}, name, QStringLiteral("/tmp"), ::getuid());
    ASSERT_TRUE(QDir::setCurrent(f.scratch.path()));
    const auto fromElsewhere =
        ConnectorPaths::computeValidationDir({flag}, name, QStringLiteral("/tmp"), ::getuid());
    const auto climbing = ConnectorPaths::computeValidationDir({flag}, QStringLiteral("../") + name,
                                                               QStringLiteral("/tmp"), ::getuid());
    QDir::setCurrent(before);
    EXPECT_EQ(fromTmp, f.valid);
    EXPECT_EQ(fromElsewhere, std::nullopt);
    EXPECT_EQ(climbing, f.valid);
}

// The locations as another process computes them once, from its own arguments and environment.
TEST(Locations, WithoutTheFlagTheVariableIsIgnored) {
    ValidationFixture f;
    auto seen = PathsTestHome::probe({QStringLiteral("locations")},
                                     {{QStringLiteral("SENVIK_CONNECTOR_VALIDATION_DIR"), f.valid}});
    const QString h = PathsTestHome::home();
    EXPECT_EQ(seen[QStringLiteral("home")], h);
    EXPECT_EQ(seen[QStringLiteral("validationDir")], QStringLiteral("(none)"));
    EXPECT_EQ(seen[QStringLiteral("dataDir")],
              h + QStringLiteral("/Library/Application Support/SenvikAgentBridge"));
    EXPECT_EQ(seen[QStringLiteral("adminSocket")],
              h + QStringLiteral("/Library/Application Support/SenvikAgentBridge/admin.sock"));
    EXPECT_EQ(seen[QStringLiteral("logsDir")], h + QStringLiteral("/Library/Logs/SenvikConnector"));
    EXPECT_EQ(seen[QStringLiteral("bridgeLog")],
              h + QStringLiteral("/Library/Logs/SenvikConnector/bridge.log"));
    EXPECT_EQ(seen[QStringLiteral("updatesDir")],
              h + QStringLiteral("/Library/Caches/SenvikConnector/updates"));
}

TEST(Locations, ValidationMovesOnlyTheDataDirectory) {
    ValidationFixture f;
    const QString link = f.scratch.file(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(f.valid, link));
    auto seen = PathsTestHome::probe({QStringLiteral("locations"), flag},
                                     {{QStringLiteral("SENVIK_CONNECTOR_VALIDATION_DIR"), link}});
    const QString h = PathsTestHome::home();
    EXPECT_EQ(seen[QStringLiteral("validationDir")], f.valid);
    EXPECT_EQ(seen[QStringLiteral("dataDir")], f.valid);
    EXPECT_EQ(seen[QStringLiteral("adminSocket")], f.valid + QStringLiteral("/admin.sock"));
    EXPECT_EQ(seen[QStringLiteral("bridgeLog")],
              h + QStringLiteral("/Library/Logs/SenvikConnector/bridge.log"));
    EXPECT_EQ(seen[QStringLiteral("updatesDir")],
              h + QStringLiteral("/Library/Caches/SenvikConnector/updates"));
}

struct RenameCase {
    const char* name;
    QString bundle;                  // relative to the scratch directory unless absolute
    QStringList existing;            // entries made first (relative to the scratch directory)
    std::optional<QString> expected; // relative to the scratch directory
};

void PrintTo(const RenameCase& c, std::ostream* os) {
    *os << c.name;
}

class RenamedLocationTest : public ::testing::TestWithParam<RenameCase> {};

TEST_P(RenamedLocationTest, MovesOnlyALegacyBundleToAFreeName) {
    const RenameCase& c = GetParam();
    TestSupport::TempDir scratch;
    for (const QString& entry : c.existing) {
        if (entry.endsWith(QStringLiteral("@link"))) {
            ASSERT_TRUE(QFile::link(scratch.file(QStringLiteral("nowhere")), scratch.file(entry.chopped(5))));
        } else {
            ASSERT_TRUE(QDir().mkpath(scratch.file(entry)));
        }
    }
    const QString bundle = c.bundle.startsWith(QLatin1Char('/')) ? c.bundle : scratch.file(c.bundle);
    std::optional<QString> expected;
    if (c.expected)
        expected = scratch.file(*c.expected);
    EXPECT_EQ(ConnectorPaths::renamedLocation(bundle), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenamedLocationTest,
    ::testing::Values(
        RenameCase{"FreeTarget",
                   QStringLiteral("Applications/森维连接器.app"),
                   {QStringLiteral("Applications/森维连接器.app")},
                   QStringLiteral("Applications/Orvane 连接器.app")},
        RenameCase{"TrailingSlash",
                   QStringLiteral("Applications/森维连接器.app/"),
                   {QStringLiteral("Applications/森维连接器.app")},
                   QStringLiteral("Applications/Orvane 连接器.app")},
        RenameCase{
            "TargetExists",
            QStringLiteral("Applications/森维连接器.app"),
            {QStringLiteral("Applications/森维连接器.app"), QStringLiteral("Applications/Orvane 连接器.app")},
            std::nullopt},
        RenameCase{"DanglingLinkAtTarget",
                   QStringLiteral("Applications/森维连接器.app"),
                   {QStringLiteral("Applications/森维连接器.app"),
                    QStringLiteral("Applications/Orvane 连接器.app@link")},
                   std::nullopt},
        RenameCase{"AlreadyNew",
                   QStringLiteral("Applications/Orvane 连接器.app"),
                   {QStringLiteral("Applications/Orvane 连接器.app")},
                   std::nullopt},
        RenameCase{"OtherName", QStringLiteral("Applications/森维连接器 2.app"), {}, std::nullopt},
        RenameCase{"Volumes", QStringLiteral("/Volumes/森维连接器/森维连接器.app"), {}, std::nullopt},
        RenameCase{"Translocated",
                   QStringLiteral("private/var/folders/AppTranslocation/ABC/d/森维连接器.app"),
                   {},
                   std::nullopt}),
    [](const ::testing::TestParamInfo<RenameCase>& info) { return std::string(info.param.name); });

struct DisplayCase {
    const char* name;
    QString path; // "~" stands for the home directory's path here
    QString shown;
};

void PrintTo(const DisplayCase& c, std::ostream* os) {
    *os << c.name;
}

class DisplayTest : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayTest, WritesTheHomeDirectoryAsTilde) {
    QString path = GetParam().path;
    if (path.startsWith(QLatin1Char('~')))
        path = ConnectorPaths::home() + path.mid(1);
    QString shown = GetParam().shown;
    if (shown.startsWith(QStringLiteral("HOME")))
        shown = ConnectorPaths::home() + shown.mid(4);
    EXPECT_EQ(ConnectorPaths::display(path), shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DisplayTest,
    ::testing::Values(DisplayCase{"BridgeLog", QStringLiteral("~/Library/Logs/SenvikConnector/bridge.log"),
                                  QStringLiteral("~/Library/Logs/SenvikConnector/bridge.log")},
                      DisplayCase{"Home", QStringLiteral("~"), QStringLiteral("~")},
                      DisplayCase{"HomeWithSlash", QStringLiteral("~/"), QStringLiteral("~/")},
                      DisplayCase{"Sibling", QStringLiteral("~-old/file"), QStringLiteral("HOME-old/file")},
                      DisplayCase{"Outside", QStringLiteral("/usr/bin"), QStringLiteral("/usr/bin")},
                      DisplayCase{"Root", QStringLiteral("/"), QStringLiteral("/")},
                      DisplayCase{"Empty", QString(), QString()}),
    [](const ::testing::TestParamInfo<DisplayCase>& info) { return std::string(info.param.name); });

TEST(Paths, HomeIsTheProcessHome) {
    EXPECT_EQ(ConnectorPaths::home(), PathsTestHome::home());
    EXPECT_EQ(ConnectorPaths::display(ConnectorPaths::bridgeLog()),
              QStringLiteral("~/Library/Logs/SenvikConnector/bridge.log"));
}

} // namespace
