#include "ConnectorPaths.h"

#include "ProcessInfo.h"

#include <QDir>
#include <QFileInfo>

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace ConnectorPaths {

namespace {

// Resolves symbolic links and removes "." and ".." (relative paths count from the current directory).
// Nothing is returned for a path that does not lead to an entry.
std::optional<QString> resolved(const QString& path) {
    char buffer[PATH_MAX];
    const QByteArray bytes = path.toUtf8();
    if (!::realpath(bytes.constData(), buffer))
        return std::nullopt;
    return QString::fromUtf8(buffer);
}

QString joined(const QString& dir, const char* relative) {
    return dir + QLatin1Char('/') + QString::fromUtf8(relative);
}

} // namespace

const QString& home() {
    static const QString value = QDir::homePath();
    return value;
}

bool isolated() {
    return validationDir().has_value();
}

QString validationRoot() {
#ifdef Q_OS_MACOS
    return QStringLiteral("/private/tmp");
#else
    return QStringLiteral("/tmp");
#endif
}

std::optional<QString> computeValidationDir(const QStringList& arguments,
                                            const std::optional<QString>& environmentValue,
                                            const QString& root, uid_t realUser) {
    if (!ProcessInfo::hasFlag(arguments, QStringLiteral("--isolated-validation")))
        return std::nullopt;
    if (!environmentValue)
        return std::nullopt;
    const std::optional<QString> candidate = resolved(*environmentValue);
    if (!candidate)
        return std::nullopt;
    const QString prefix =
        resolved(root).value_or(QDir::cleanPath(root)) + QStringLiteral("/senvik-connector-validation-");
    if (!candidate->startsWith(prefix))
        return std::nullopt;
    struct stat attributes {};
    if (::stat(candidate->toUtf8().constData(), &attributes) != 0)
        return std::nullopt;
    if (attributes.st_uid != realUser)
        return std::nullopt;
    return candidate;
}

const std::optional<QString>& validationDir() {
    static const std::optional<QString> value = computeValidationDir(
        ProcessInfo::arguments(), ProcessInfo::environment("SENVIK_CONNECTOR_VALIDATION_DIR"),
        validationRoot(), ::getuid());
    return value;
}

const QString& dataDir() {
    static const QString value =
        validationDir().value_or(joined(home(), "Library/Application Support/SenvikAgentBridge"));
    return value;
}

const QString& adminSocket() {
    static const QString value = joined(dataDir(), "admin.sock");
    return value;
}

const QString& logsDir() {
    static const QString value = joined(home(), "Library/Logs/SenvikConnector");
    return value;
}

const QString& bridgeLog() {
    static const QString value = joined(logsDir(), "bridge.log");
    return value;
}

const QString& updatesDir() {
    static const QString value = joined(home(), "Library/Caches/SenvikConnector/updates");
    return value;
}

bool transientLocation(const QString& bundlePath) {
    return bundlePath.startsWith(QStringLiteral("/Volumes/")) ||
           bundlePath.contains(QStringLiteral("/AppTranslocation/")) ||
           bundlePath.startsWith(QStringLiteral("/media/")) ||
           bundlePath.startsWith(QStringLiteral("/run/media/")) ||
           bundlePath.startsWith(QStringLiteral("/tmp/.mount_"));
}

std::optional<QString> renamedLocation(const QString& bundle) {
    const QString path = QDir::cleanPath(bundle);
    if (QFileInfo(path).fileName() != legacyAppName + QStringLiteral(".app"))
        return std::nullopt;
    if (path.startsWith(QStringLiteral("/Volumes/")) || path.contains(QStringLiteral("/AppTranslocation/")))
        return std::nullopt;
    const QString target = QFileInfo(path).path() + QLatin1Char('/') + appName + QStringLiteral(".app");
    // lstat: a dangling link at the target still occupies the name, and moving onto it would lose it.
    struct stat attributes {};
    if (::lstat(target.toUtf8().constData(), &attributes) == 0)
        return std::nullopt;
    return target;
}

QString display(const QString& path) {
    const QString& h = home();
    if (path == h)
        return QStringLiteral("~");
    if (path.startsWith(h + QLatin1Char('/')))
        return QStringLiteral("~") + path.mid(h.size());
    return path;
}

} // namespace ConnectorPaths
