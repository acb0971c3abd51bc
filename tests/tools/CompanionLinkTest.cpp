#include "AppVerifier.h"
#include "CompanionStandin.h"
#include "Identities.h"
#include "linux/Ed25519Key.h"
#include "linux/LinuxCodeSigning.h"
#include "linux/LinuxWorkspace.h"

#include "RunTask.h"
#include "TempHome.h"

#include <QFile>
#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>

namespace {

using TestSupport::team;
using TestSupport::vestrano;

// A signed stand-in of the Orvane Mac app passes the companion check and receives exactly the link it is
// given, as its one argument; the record lies outside the bundle, so the signature stays valid afterwards.
TEST(CompanionLink, SignedStandinReceivesExactlyTheLink) {
    const Ed25519Key key = Ed25519Key::generate();
    SigningKeyring keyring;
    keyring.add(team, key.publicKey());
    const AppVerifier verifier(std::make_shared<LinuxCodeSigning>(keyring));
    TestSupport::TempDir dir;
    const QString app = dir.file(QStringLiteral("Orvane.app"));
    ASSERT_TRUE(CompanionStandin::assembleSigned(app, vestrano, key, team));
    ASSERT_TRUE(TestSupport::runTask(verifier.check(app, vestrano)));

    const QUrl ticket(QStringLiteral(
        "com.tamrik.vestrano://agent-connector?port=48123&ticket=t%2Bk%3D%26x&state=abcdefghijklmnop_-12"));
    LinuxWorkspace workspace;
    TestSupport::runTask(workspace.open(ticket, app, false));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !CompanionStandin::receivedLinks(app).isEmpty(); }));
    EXPECT_EQ(CompanionStandin::receivedLinks(app), QStringList{ticket.toString(QUrl::FullyEncoded)});
    EXPECT_EQ(CompanionStandin::receivedLinks(app).first(),
              QStringLiteral("com.tamrik.vestrano://"
                             "agent-connector?port=48123&ticket=t%2Bk%3D%26x&state=abcdefghijklmnop_-12"));

    const QUrl ready(QStringLiteral("com.tamrik.vestrano://agent-connector/ready"));
    TestSupport::runTask(workspace.open(ready, app, true));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return CompanionStandin::receivedLinks(app).size() == 2; }));
    EXPECT_EQ(CompanionStandin::receivedLinks(app).last(), ready.toString());
    EXPECT_TRUE(TestSupport::runTask(verifier.check(app, vestrano)));
}

// The link travels on standard input only: the stand-in records its arguments too, so a link passed in
// the world-readable argument vector would appear twice. The record itself is readable by its owner only,
// even when an older record was readable by all.
TEST(CompanionLink, TicketNeverInArgumentsNorInAFileOthersCanRead) {
    TestSupport::TempDir dir;
    const QString app = dir.file(QStringLiteral("Orvane.app"));
    ASSERT_TRUE(CompanionStandin::assemble(app, vestrano));
    const QString record = CompanionStandin::receivedLinksFile(app);
    for (const bool olderRecord : {false, true}) {
        SCOPED_TRACE(olderRecord ? "older record readable by all" : "new record");
        QFile::remove(record);
        if (olderRecord) {
            TestSupport::writeFile(record, QByteArray(), 0644);
            ::chmod(QFile::encodeName(record).constData(), 0644);
        }
        const QUrl ticket(QStringLiteral(
            "com.tamrik.vestrano://agent-connector?port=48123&ticket=secret-tk-9&state=abcdefghijklmnop"));
        LinuxWorkspace workspace;
        TestSupport::runTask(workspace.open(ticket, app, false));
        ASSERT_TRUE(TestSupport::spinUntil([&] { return !CompanionStandin::receivedLinks(app).isEmpty(); }));
        TestSupport::spinFor(std::chrono::milliseconds(100));
        EXPECT_EQ(CompanionStandin::receivedLinks(app), QStringList{ticket.toString(QUrl::FullyEncoded)});
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(record).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
}

// An app opened without a link starts with nothing on its standard input and no arguments.
TEST(CompanionLink, StartedWithoutALinkReceivesNothing) {
    TestSupport::TempDir dir;
    const QString app = dir.file(QStringLiteral("Orvane.app"));
    ASSERT_TRUE(CompanionStandin::assemble(app, vestrano));
    LinuxWorkspace workspace;
    TestSupport::runTask(workspace.openApplication(app));
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return QFile::exists(CompanionStandin::receivedLinksFile(app)); }));
    TestSupport::spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(CompanionStandin::receivedLinks(app), QStringList());
}

TEST(CompanionLink, StandinWithAnotherIdentifierIsNoCompanion) {
    const Ed25519Key key = Ed25519Key::generate();
    SigningKeyring keyring;
    keyring.add(team, key.publicKey());
    const AppVerifier verifier(std::make_shared<LinuxCodeSigning>(keyring));
    TestSupport::TempDir dir;
    const QString app = dir.file(QStringLiteral("Impostor.app"));
    ASSERT_TRUE(CompanionStandin::assembleSigned(app, QStringLiteral("com.example.impostor"), key, team));
    EXPECT_FALSE(TestSupport::runTask(verifier.check(app, vestrano)));
    EXPECT_FALSE(TestSupport::runTask(verifier.check(app, QStringLiteral("com.example.impostor"))));
    EXPECT_TRUE(verifier.isSigned(app, QStringLiteral("com.example.impostor")));
}

} // namespace
