// A separate process for the tests: prints the locations as this process computes them once, and reads or
// writes preferences, so values can be checked across processes.
#include "ConnectorPaths.h"
#include "ConnectorSettings.h"

#include <QTextStream>

#include <cstring>

namespace {

QString shown(const std::optional<QString>& value) {
    return value ? *value : QStringLiteral("(none)");
}
QString shown(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

// probe locations [--isolated-validation]
// probe [register] read
// probe set <startCompleted|autoInstallUpdates|showsStatusItemAtLogin> <true|false>
int main(int argc, char** argv) {
    QTextStream out(stdout);
    if (argc >= 2 && std::strcmp(argv[1], "locations") == 0) {
        out << "home=" << ConnectorPaths::home() << "\n"
            << "validationDir=" << shown(ConnectorPaths::validationDir()) << "\n"
            << "dataDir=" << ConnectorPaths::dataDir() << "\n"
            << "adminSocket=" << ConnectorPaths::adminSocket() << "\n"
            << "logsDir=" << ConnectorPaths::logsDir() << "\n"
            << "bridgeLog=" << ConnectorPaths::bridgeLog() << "\n"
            << "updatesDir=" << ConnectorPaths::updatesDir() << "\n";
        return 0;
    }
    int next = 1;
    if (argc > next && std::strcmp(argv[next], "register") == 0) {
        ConnectorSettings::registerDefaults();
        ++next;
    }
    if (argc > next && std::strcmp(argv[next], "read") == 0) {
        out << "showsStatusItemAtLogin=" << shown(ConnectorSettings::showsStatusItemAtLogin()) << "\n"
            << "startCompleted=" << shown(ConnectorSettings::startCompleted()) << "\n"
            << "autoInstallUpdates=" << shown(ConnectorSettings::autoInstallUpdates()) << "\n"
            << "updateFeedOverride=" << shown(ConnectorSettings::updateFeedOverride()) << "\n";
        return 0;
    }
    if (argc == next + 3 && std::strcmp(argv[next], "set") == 0) {
        const bool value = std::strcmp(argv[next + 2], "true") == 0;
        const char* key = argv[next + 1];
        if (std::strcmp(key, "startCompleted") == 0)
            ConnectorSettings::setStartCompleted(value);
        else if (std::strcmp(key, "autoInstallUpdates") == 0)
            ConnectorSettings::setAutoInstallUpdates(value);
        else if (std::strcmp(key, "showsStatusItemAtLogin") == 0)
            ConnectorSettings::setShowsStatusItemAtLogin(value);
        else
            return 64;
        return 0;
    }
    return 64;
}
