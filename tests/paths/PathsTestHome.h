#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <filesystem>
#include <map>

// This test process, and the probes it starts, see a throw-away HOME and XDG_CONFIG_HOME, set before anything
// reads them (locations and the preferences file are fixed once per process).
namespace PathsTestHome {

inline const QString& home() {
    static const QString value = [] {
        static QByteArray dir = "/tmp/orvane-test-home-XXXXXX";
        if (!::mkdtemp(dir.data()))
            std::abort();
        std::atexit([] { std::filesystem::remove_all(dir.constData()); });
        ::setenv("HOME", dir.constData(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir + "/.config").constData(), 1);
        return QString::fromUtf8(dir);
    }();
    return value;
}

// Set at load time in every program that includes this, before any test reads a location.
[[maybe_unused]] inline const QString& homeReady = home();

inline QString settingsFile() {
    return home() + QStringLiteral("/.config/com.tamrik.senvik.connector.conf");
}

// Runs the probe and returns its "key=value" lines.
inline std::map<QString, QString> probe(const QStringList& arguments,
                                        const std::map<QString, QString>& extraEnvironment = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("SENVIK_CONNECTOR_VALIDATION_DIR"));
    for (const auto& [name, value] : extraEnvironment)
        env.insert(name, value);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(PATHS_PROBE), arguments);
    std::map<QString, QString> result;
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return result;
    for (const QString& line : QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            result[line.left(equals)] = line.mid(equals + 1);
    }
    return result;
}

} // namespace PathsTestHome
