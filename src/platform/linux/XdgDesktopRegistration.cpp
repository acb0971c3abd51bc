#include "XdgDesktopRegistration.h"

#include "BundleLauncher.h"
#include "ConnectorPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QString desktopEntryGroup = QStringLiteral("[Desktop Entry]");
const QString defaultsGroup = QStringLiteral("[Default Applications]");
const QString addedGroup = QStringLiteral("[Added Associations]");

std::optional<QByteArray> contents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

QString text(const QString& path) {
    return QString::fromUtf8(contents(path).value_or(QByteArray()));
}

// Whole or not at all: a desktop that reads the file meanwhile sees the old one or the new one.
void store(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw DesktopRegistration::Failure(
            QStringLiteral("写不了 %1：%2").arg(ConnectorPaths::display(path), file.errorString()));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                    QFileDevice::ReadOther);
}

void removeFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return;
    QFile file(path);
    if (!file.remove())
        throw DesktopRegistration::Failure(
            QStringLiteral("删不掉 %1：%2").arg(ConnectorPaths::display(path), file.errorString()));
}

QString xdgHome(const char* variable, const char* fallback) {
    const QString value = qEnvironmentVariable(variable);
    // Relative values are invalid and ignored, as the base-directory rules say.
    if (QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return ConnectorPaths::home() + QLatin1Char('/') + QLatin1String(fallback);
}

bool isGroup(const QString& line) {
    return line.startsWith(QLatin1Char('['));
}

QString keyOf(const QString& line) {
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    return equals < 0 ? QString() : line.left(equals).trimmed();
}

QString valueOf(const QString& line) {
    return line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
}

QStringList entries(const QString& value) {
    QStringList result;
    for (const QString& part : value.split(QLatin1Char(';')))
        if (!part.trimmed().isEmpty())
            result << part.trimmed();
    return result;
}

QStringList linesOf(const QString& text) {
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString joined(const QStringList& lines) {
    return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

XdgDesktopRegistration::Setup XdgDesktopRegistration::forUser() {
    Setup setup;
    setup.dataHome = xdgHome("XDG_DATA_HOME", ".local/share");
    setup.configHome = xdgHome("XDG_CONFIG_HOME", ".config");
    setup.xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    setup.updateDesktopDatabase = QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
    setup.updateIconCache = QStandardPaths::findExecutable(QStringLiteral("gtk-update-icon-cache"));
    return setup;
}

QString XdgDesktopRegistration::entryPath() const {
    return setup_.dataHome + QStringLiteral("/applications/") + entryName;
}

QString XdgDesktopRegistration::mimeappsPath() const {
    return setup_.configHome + QStringLiteral("/mimeapps.list");
}

QString XdgDesktopRegistration::iconPath(int size) const {
    return setup_.dataHome + QStringLiteral("/icons/hicolor/%1x%1/apps/").arg(size) + iconName +
           QStringLiteral(".png");
}

QString XdgDesktopRegistration::escapedString(const QString& value) {
    QString result;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == QLatin1Char('\\'))
            result += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            result += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            result += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            result += QStringLiteral("\\r");
        else if (c == QLatin1Char(' ') && i == 0)
            result += QStringLiteral("\\s"); // a leading space would be taken for padding
        else
            result += c;
    }
    return result;
}

QString XdgDesktopRegistration::execArgument(const QString& word) {
    // Always quoted: the bundle's name has a space. Inside quotes only these four are escaped; a literal
    // percent sign is doubled so it is not taken for a field code. The whole is then a string value.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : word) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return escapedString(quoted);
}

QString XdgDesktopRegistration::entryText(const QString& bundleEntry, const QString& executable) {
    const QString exec = QStringLiteral("Exec=") + execArgument(executable) + QStringLiteral(" %u");
    const QString tryExec = QStringLiteral("TryExec=") + escapedString(executable);
    QStringList lines = linesOf(bundleEntry);
    bool inEntry = false;
    qsizetype header = -1;
    bool wroteExec = false;
    bool wroteTryExec = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (isGroup(lines[i])) {
            inEntry = lines[i].trimmed() == desktopEntryGroup;
            if (inEntry && header < 0)
                header = i;
            continue;
        }
        if (!inEntry)
            continue;
        const QString key = keyOf(lines[i]);
        if (key == QStringLiteral("Exec")) {
            lines[i] = exec;
            wroteExec = true;
        } else if (key == QStringLiteral("TryExec")) {
            lines[i] = tryExec;
            wroteTryExec = true;
        }
    }
    if (header < 0) {
        lines.prepend(desktopEntryGroup);
        header = 0;
    }
    if (!wroteTryExec)
        lines.insert(header + 1, tryExec);
    if (!wroteExec)
        lines.insert(header + 1, exec);
    return joined(lines);
}

std::optional<QString> XdgDesktopRegistration::defaultFor(const QString& mimeappsText, const QString& type) {
    bool inDefaults = false;
    for (const QString& line : linesOf(mimeappsText)) {
        if (isGroup(line)) {
            inDefaults = line.trimmed() == defaultsGroup;
            continue;
        }
        if (inDefaults && keyOf(line) == type) {
            const QStringList listed = entries(valueOf(line));
            return listed.isEmpty() ? std::nullopt : std::optional<QString>(listed.first());
        }
    }
    return std::nullopt;
}

QString XdgDesktopRegistration::withDefault(const QString& mimeappsText, const QString& type,
                                            const QString& entry) {
    const QString line = type + QLatin1Char('=') + entry + QLatin1Char(';');
    QStringList lines = linesOf(mimeappsText);
    bool inDefaults = false;
    qsizetype header = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (isGroup(lines[i])) {
            inDefaults = lines[i].trimmed() == defaultsGroup;
            if (inDefaults && header < 0)
                header = i;
            continue;
        }
        if (inDefaults && keyOf(lines[i]) == type) {
            lines[i] = line;
            return joined(lines);
        }
    }
    if (header >= 0) {
        lines.insert(header + 1, line);
    } else {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines << QString();
        lines << defaultsGroup << line;
    }
    return joined(lines);
}

QString XdgDesktopRegistration::withoutEntry(const QString& mimeappsText, const QString& type,
                                             const QString& entry) {
    QStringList lines = linesOf(mimeappsText);
    bool ours = false;
    for (qsizetype i = 0; i < lines.size();) {
        if (isGroup(lines[i])) {
            const QString group = lines[i].trimmed();
            ours = group == defaultsGroup || group == addedGroup;
            ++i;
            continue;
        }
        if (ours && keyOf(lines[i]) == type) {
            QStringList listed = entries(valueOf(lines[i]));
            if (listed.removeAll(entry) > 0) {
                if (listed.isEmpty()) {
                    lines.removeAt(i);
                    continue;
                }
                lines[i] = type + QLatin1Char('=') + listed.join(QLatin1Char(';')) + QLatin1Char(';');
            }
        }
        ++i;
    }
    return joined(lines);
}

bool XdgDesktopRegistration::runTool(const QString& program, const QStringList& arguments) const {
    if (program.isEmpty())
        return false;
    QProcess process;
    // The tools look for the same folders this registration writes to.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), setup_.dataHome);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), setup_.configHome);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(setup_.timeoutMilliseconds))
        return false;
    if (!process.waitForFinished(setup_.timeoutMilliseconds)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool XdgDesktopRegistration::setDefaultHandler() {
    if (defaultFor(text(mimeappsPath()), mimeType) == entryName)
        return false;
    // The desktop's own tool knows where its desktop keeps defaults; the shared list is checked after it.
    runTool(setup_.xdgMime, {QStringLiteral("default"), entryName, mimeType});
    const QString now = text(mimeappsPath());
    if (defaultFor(now, mimeType) != entryName)
        store(mimeappsPath(), withDefault(now, mimeType, entryName).toUtf8());
    return true;
}

void XdgDesktopRegistration::refreshCaches(bool iconsChanged) const {
    runTool(setup_.updateDesktopDatabase,
            {QStringLiteral("-q"), setup_.dataHome + QStringLiteral("/applications")});
    // Only a cache that exists goes stale; without one the desktop reads the folders themselves.
    const QString hicolor = setup_.dataHome + QStringLiteral("/icons/hicolor");
    if (iconsChanged && QFileInfo::exists(hicolor + QStringLiteral("/icon-theme.cache")))
        runTool(setup_.updateIconCache,
                {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("-f"), hicolor});
}

bool XdgDesktopRegistration::registerBundle(const QString& bundlePath) {
    const QString program = BundleLauncher::executable(bundlePath);
    if (!QFileInfo(program).isFile())
        throw Failure(QStringLiteral("%1 里没有可以启动的程序").arg(ConnectorPaths::display(bundlePath)));
    const QString source = bundlePath + QStringLiteral("/Contents/Resources/") + entryName;
    const std::optional<QByteArray> bundleEntry = contents(source);
    if (!bundleEntry)
        throw Failure(QStringLiteral("应用包里缺少桌面入口 %1").arg(ConnectorPaths::display(source)));

    bool changed = false;
    const QByteArray entry = entryText(QString::fromUtf8(*bundleEntry), program).toUtf8();
    if (contents(entryPath()) != entry) {
        store(entryPath(), entry);
        changed = true;
    }

    bool iconsChanged = false;
    for (const int size : iconSizes) {
        const std::optional<QByteArray> icon =
            contents(bundlePath + QStringLiteral("/Contents/Resources/icons/hicolor/%1x%1/apps/").arg(size) +
                     iconName + QStringLiteral(".png"));
        if (icon && contents(iconPath(size)) != icon) {
            store(iconPath(size), *icon);
            iconsChanged = true;
        }
    }

    changed |= iconsChanged;
    changed |= setDefaultHandler();
    if (changed)
        refreshCaches(iconsChanged);
    return changed;
}

void XdgDesktopRegistration::unregister() {
    removeFile(entryPath());
    bool hadIcons = false;
    for (const int size : iconSizes) {
        hadIcons |= QFileInfo::exists(iconPath(size));
        removeFile(iconPath(size));
    }
    const std::optional<QByteArray> list = contents(mimeappsPath());
    if (list) {
        const QByteArray without = withoutEntry(QString::fromUtf8(*list), mimeType, entryName).toUtf8();
        if (without != *list)
            store(mimeappsPath(), without);
    }
    refreshCaches(hadIcons);
}

std::shared_ptr<DesktopRegistration> systemDesktopRegistration() {
    return std::make_shared<XdgDesktopRegistration>(XdgDesktopRegistration::forUser());
}
