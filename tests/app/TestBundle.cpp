#include "TestBundle.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

TestBundle::TestBundle(const std::optional<QByteArray>& infoBody)
    : bundle_(dir_.path() + QStringLiteral("/Orvane 连接器.app")) {
    QDir().mkpath(bundle_ + QStringLiteral("/Contents/MacOS"));
    EXPECT_TRUE(QFile::copy(QStringLiteral(CONNECTOR_EXECUTABLE), executable()));
    QFile::setPermissions(executable(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (infoBody) {
        const QByteArray plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                 "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                 "<plist version=\"1.0\">\n<dict>\n" +
                                 *infoBody + "\n</dict>\n</plist>\n";
        EXPECT_TRUE(TestSupport::writeFile(bundle_ + QStringLiteral("/Contents/Info.plist"), plist));
    }
}

void TestBundle::installRecordingRuntime() {
    const QByteArray body = "#!/bin/sh\n"
                            ": > \"$RECORD_DIR/argv\"\n"
                            "for a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\" >> \"$RECORD_DIR/argv\"; done\n"
                            "/usr/bin/env -0 > \"$RECORD_DIR/env\"\n"
                            "for fd in 0 1 2; do\n"
                            "  target=$(/usr/bin/readlink /proc/$$/fd/$fd)\n"
                            "  printf '%s\\n' \"$target\" > \"$RECORD_DIR/fd$fd\"\n"
                            "done\n"
                            "echo 'bridge output'\n";
    ASSERT_TRUE(TestSupport::writeFile(runtime(), body, 0755));
    ASSERT_TRUE(TestSupport::writeFile(script(), "// placeholder\n", 0644));
}

bool TestBundle::runtimeRan() const {
    return QFile::exists(records() + QStringLiteral("/argv"));
}

QStringList TestBundle::recordedArguments() const {
    QString text = QString::fromUtf8(readAll(records() + QStringLiteral("/argv")));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.split(QLatin1Char('\n'));
}

QProcessEnvironment TestBundle::recordedEnvironment() const {
    QProcessEnvironment result;
    for (const QByteArray& entry : readAll(records() + QStringLiteral("/env")).split('\0')) {
        const qsizetype equals = entry.indexOf('=');
        if (equals > 0)
            result.insert(QString::fromUtf8(entry.left(equals)), QString::fromUtf8(entry.mid(equals + 1)));
    }
    return result;
}

QString TestBundle::recordedStream(int fd) const {
    return QString::fromUtf8(readAll(records() + QStringLiteral("/fd") + QString::number(fd))).trimmed();
}

QProcessEnvironment TestBundle::environment() const {
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), home());
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("RECORD_DIR"), records());
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    return env;
}

QStringList TestBundle::homeEntries() const {
    return QDir(home()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

Finished runProcess(const QString& program, const QStringList& arguments,
                    const QProcessEnvironment& environment, int deadlineMs) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.start();
    Finished result;
    if (!process.waitForStarted(5000))
        return result;
    result.finished = process.waitForFinished(deadlineMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}
