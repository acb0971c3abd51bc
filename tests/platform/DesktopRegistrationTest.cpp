// The desktop registration in throw-away XDG folders, read back independently: the entry format's quoting
// rules (a reader below), desktop-file-validate, xdg-mime and update-desktop-database where installed.
#include "linux/XdgDesktopRegistration.h"

#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

using Registration = XdgDesktopRegistration;

QString readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Exec of [Desktop Entry] as a launcher reads it: string escapes, then quoting, then "%%"; "%u" drops out.
QStringList execWords(const QString& entry) {
    const qsizetype at = entry.indexOf("\nExec=");
    const QString raw = entry.mid(at + 6, entry.indexOf('\n', at + 1) - at - 6);
    QString exec;
    for (qsizetype i = 0; i < raw.size(); ++i)
        exec += raw[i] != '\\' ? raw[i] : QString("\\ \n\t\r").at(QString("\\sntr").indexOf(raw[++i]));
    QStringList words{QString()};
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        if (quoted && exec[i] == '\\')
            words.last() += exec[++i];
        else if (exec[i] == '"')
            quoted = !quoted;
        else if (exec[i] == ' ' && !quoted)
            words << QString();
        else
            words.last() += exec[i];
    }
    words.removeAll("%u");
    return words.replaceInStrings("%%", "%");
}

} // namespace

TEST(DesktopRegistration, ExecReadsBackAsTheExactProgram) {
    for (const QString path :
         {"/home/u/Applications/Orvane 连接器.app/Contents/MacOS/OrvaneConnector", "/h/A\"q\".app/x",
          "/h/$HOME`id`/x", "/h/back\\slash/x", "/h/100%/x", "/h/t\tab/x"}) {
        const QString entry =
            Registration::entryText("[Desktop Entry]\nName=X\nExec=old %u\n[Other]\nExec=o\n", path);
        EXPECT_EQ(execWords(entry), QStringList{path}) << entry.toStdString();
        EXPECT_TRUE(entry.endsWith("[Other]\nExec=o\n")) << "other groups stay";
    }
}

// The packaged entry registered for bundles that move, with and without xdg-mime; then removed again.
TEST(DesktopRegistration, RegistersOnceFollowsTheBundleAndUnregisters) {
    const QString packaged =
        readAll(TestSupport::buildDir() +
                "/Orvane 连接器.app/Contents/Resources/com.tamrik.senvik.connector.desktop");
    ASSERT_FALSE(packaged.isEmpty());
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    for (const bool withXdgMime : {true, false}) {
        TestSupport::TempDir root;
        Registration::Setup setup{root.file("data"), root.file("config"),
                                  withXdgMime ? QStandardPaths::findExecutable("xdg-mime") : QString(),
                                  QStandardPaths::findExecutable("update-desktop-database"), QString()};
        // Other lines stay; the scheme's default is taken over, and removed again with the registration.
        const QString key = Registration::mimeType + "=", ours = Registration::entryName + ";";
        const QString others =
            "[Default Applications]\ntext/html=ff.desktop\n[Added Associations]\n" + key + "x;\n";
        TestSupport::writeFile(setup.configHome + "/mimeapps.list",
                               ("[Default Applications]\ntext/html=ff.desktop\n" + key +
                                "x;\n[Added Associations]\n" + key + "x;" + ours + "\n")
                                   .toUtf8());
        Registration registration(setup);
        for (const QString& bundle :
             {root.file("Apps $x `y` 100%/Orvane 连接器.app"), root.file("b/Orvane 连接器.app")}) {
            TestSupport::writeFile(bundle + "/Contents/MacOS/OrvaneConnector", "#!/bin/sh\n", 0755);
            TestSupport::writeFile(bundle + "/Contents/Resources/com.tamrik.senvik.connector.desktop",
                                   packaged.toUtf8());
            TestSupport::writeFile(
                bundle + "/Contents/Resources/icons/hicolor/48x48/apps/com.tamrik.senvik.connector.png",
                bundle.toUtf8());
            EXPECT_TRUE(registration.registerBundle(bundle));
            EXPECT_FALSE(registration.registerBundle(bundle)) << "nothing differs, nothing is written";
            const QString entry = readAll(registration.entryPath());
            EXPECT_EQ(execWords(entry), QStringList{bundle + "/Contents/MacOS/OrvaneConnector"});
            EXPECT_TRUE(entry.contains("\nIcon=com.tamrik.senvik.connector\n") &&
                        !entry.contains("NoDisplay"));
            EXPECT_EQ(readAll(registration.iconPath(48)), bundle);
            EXPECT_FALSE(QFileInfo::exists(registration.iconPath(16)));
            const QString list = readAll(setup.configHome + "/mimeapps.list");
            EXPECT_EQ(Registration::defaultFor(list, Registration::mimeType), Registration::entryName);
            EXPECT_TRUE(list.contains("[Default Applications]\n") &&
                        list.contains("\ntext/html=ff.desktop\n"))
                << list.toStdString();
            if (!setup.updateDesktopDatabase.isEmpty()) {
                EXPECT_TRUE(readAll(setup.dataHome + "/applications/mimeinfo.cache")
                                .contains(Registration::mimeType + "=" + Registration::entryName));
            }
            if (!validator.isEmpty()) {
                QProcess check;
                check.setProcessChannelMode(QProcess::MergedChannels);
                check.start(validator, {registration.entryPath()});
                EXPECT_TRUE(check.waitForFinished(10000) && check.exitCode() == 0)
                    << check.readAll().toStdString();
            }
        }
        registration.unregister();
        EXPECT_FALSE(QFileInfo::exists(registration.entryPath()) ||
                     QFileInfo::exists(registration.iconPath(48)));
        EXPECT_EQ(readAll(setup.configHome + "/mimeapps.list"), others);
        EXPECT_THROW(registration.registerBundle(root.file("missing.app")), DesktopRegistration::Failure);
        EXPECT_FALSE(QFileInfo::exists(registration.entryPath()));
    }
}
