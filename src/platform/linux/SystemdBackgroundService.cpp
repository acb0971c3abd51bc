#include "SystemdBackgroundService.h"

#include "Async.h"
#include "Bundle.h"
#include "ConnectorPaths.h"
#include "SystemdUnit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QString devNull = QStringLiteral("/dev/null");

// systemd counts a unit symlinked to /dev/null, or an empty unit file, as masked.
bool isMask(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink())
        return info.symLinkTarget() == devNull;
    return info.isFile() && info.size() == 0;
}

std::optional<QString> text(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    return QString::fromStdString(it->get<std::string>());
}

bool truth(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_boolean() && it->get<bool>();
}

QString escapedSpecifiers(QString value) {
    value.replace(QLatin1Char('%'), QStringLiteral("%%"));
    value.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return value;
}

} // namespace

SystemdBackgroundService::Setup SystemdBackgroundService::forUser(const QString& bundlePath,
                                                                  const QString& plistName) {
    Setup setup;
    setup.bundlePath = bundlePath;
    setup.plistName = plistName;
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config))
        config = ConnectorPaths::home() + QStringLiteral("/.config");
    setup.unitDirectory = config + QStringLiteral("/systemd/user");
    setup.runtimeDirectory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(setup.runtimeDirectory))
        setup.maskDirectories << setup.runtimeDirectory + QStringLiteral("/systemd/user");
    setup.maskDirectories << QStringLiteral("/etc/systemd/user");
    return setup;
}

std::optional<SystemdBackgroundService::Description>
SystemdBackgroundService::describe(const nlohmann::json& plist, const QString& bundlePath) {
    if (!plist.is_object())
        return std::nullopt;
    Description description;
    description.label = text(plist, "Label").value_or(QString());
    if (description.label.isEmpty() || description.label.contains(QLatin1Char('/')))
        return std::nullopt;

    QStringList arguments;
    if (auto it = plist.find("ProgramArguments"); it != plist.end()) {
        if (!it->is_array())
            return std::nullopt;
        for (const auto& word : *it) {
            if (!word.is_string())
                return std::nullopt;
            arguments << QString::fromStdString(word.get<std::string>());
        }
    }
    QString program = text(plist, "BundleProgram").value_or(text(plist, "Program").value_or(QString()));
    if (program.isEmpty() && !arguments.isEmpty())
        program = arguments.first();
    if (program.isEmpty())
        return std::nullopt;
    // launchd passes ProgramArguments whole, its first element being the program's own name.
    if (!arguments.isEmpty())
        arguments.removeFirst();
    if (!QDir::isAbsolutePath(program))
        program = QDir::cleanPath(bundlePath + QLatin1Char('/') + program);
    description.command = QStringList{program} + arguments;

    if (auto it = plist.find("KeepAlive"); it != plist.end())
        description.keepAlive = (it->is_boolean() && it->get<bool>()) || it->is_object();
    description.runAtLoad = truth(plist, "RunAtLoad");
    if (auto it = plist.find("LimitLoadToSessionType"); it != plist.end()) {
        if (it->is_string())
            description.graphical = it->get<std::string>() == "Aqua";
        else if (it->is_array())
            for (const auto& kind : *it)
                description.graphical |= kind.is_string() && kind.get<std::string>() == "Aqua";
    }
    return description;
}

std::optional<SystemdBackgroundService::Description> SystemdBackgroundService::description() const {
    if (setup_.bundlePath.isEmpty())
        return std::nullopt;
    const auto plist = readPropertyList(setup_.bundlePath +
                                        QStringLiteral("/Contents/Library/LaunchAgents/") + setup_.plistName);
    if (!plist)
        return std::nullopt;
    return describe(*plist, setup_.bundlePath);
}

QString SystemdBackgroundService::unitName() const {
    if (auto d = description())
        return SystemdUnit::forLabel(d->label);
    // Without a description, the label the property list is named after.
    QString label = setup_.plistName;
    if (label.endsWith(QStringLiteral(".plist")))
        label.chop(6);
    return SystemdUnit::forLabel(label);
}

QString SystemdBackgroundService::quoted(const QString& word) {
    QString result = QStringLiteral("\"");
    for (const QChar c : word) {
        switch (c.unicode()) {
        case '\\':
            result += QStringLiteral("\\\\");
            break;
        case '"':
            result += QStringLiteral("\\\"");
            break;
        case '%': // specifiers
            result += QStringLiteral("%%");
            break;
        case '$': // environment variables
            result += QStringLiteral("$$");
            break;
        case '\n':
            result += QStringLiteral("\\n");
            break;
        case '\t':
            result += QStringLiteral("\\t");
            break;
        case '\r':
            result += QStringLiteral("\\r");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                result += c;
        }
    }
    return result + QLatin1Char('"');
}

QString SystemdBackgroundService::unitText(const Description& description, const QString& plistName) {
    QStringList words;
    for (const QString& word : description.command)
        words << quoted(word);
    const QString target =
        description.graphical ? QStringLiteral("graphical-session.target") : QStringLiteral("default.target");

    QString unit;
    unit += QStringLiteral("# Written by %1 from %2 in its application bundle; rewritten when the item is "
                           "registered again.\n")
                .arg(ConnectorPaths::appName, escapedSpecifiers(plistName));
    unit += QStringLiteral("[Unit]\nDescription=%1 (%2)\n")
                .arg(ConnectorPaths::appName, escapedSpecifiers(description.label));
    if (description.graphical)
        unit += QStringLiteral("PartOf=graphical-session.target\nAfter=graphical-session.target\n");
    unit += QStringLiteral("\n[Service]\nType=exec\nExecStart=%1\n").arg(words.join(QLatin1Char(' ')));
    if (description.keepAlive) {
        unit += QStringLiteral("Restart=on-failure\nRestartSec=2\n");
    } else {
        // What an application started here opens (companion apps, a relaunch after an update) must outlive
        // it.
        unit += QStringLiteral("Restart=no\nKillMode=process\n");
    }
    unit += QStringLiteral("\n[Install]\nWantedBy=%1\n").arg(target);
    return unit;
}

bool SystemdBackgroundService::masked() const {
    const QString unit = unitName();
    if (isMask(unitPath()))
        return true;
    for (const QString& dir : setup_.maskDirectories)
        if (isMask(dir + QLatin1Char('/') + unit))
            return true;
    return false;
}

bool SystemdBackgroundService::enablementLinkExists() const {
    const QString unit = unitName();
    const QDir units(setup_.unitDirectory);
    for (const QString& wants :
         units.entryList({QStringLiteral("*.wants")}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QFileInfo link(units.filePath(wants) + QLatin1Char('/') + unit);
        if (link.isSymLink() || link.exists())
            return true;
    }
    return false;
}

bool SystemdBackgroundService::hasSession() const {
    return QDir::isAbsolutePath(setup_.runtimeDirectory) &&
           QFileInfo::exists(setup_.runtimeDirectory + QStringLiteral("/systemd/private"));
}

BackgroundService::Status SystemdBackgroundService::status() const {
    const auto wanted = description();
    if (!wanted)
        return Status::notFound;
    if (masked())
        return Status::requiresApproval;
    QFile unit(unitPath());
    if (!unit.open(QIODevice::ReadOnly))
        return Status::notRegistered;
    // A unit written for another location or an older description is registered again by the next check.
    if (unit.read(256 * 1024) != unitText(*wanted, setup_.plistName).toUtf8())
        return Status::notRegistered;
    return enablementLinkExists() ? Status::enabled : Status::notRegistered;
}

void SystemdBackgroundService::systemctl(const QStringList& arguments) const {
    const QString line = QStringLiteral("systemctl ") + arguments.join(QLatin1Char(' '));
    QProcess process;
    process.setProgram(setup_.systemctl);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start();
    if (!process.waitForStarted(setup_.timeoutMilliseconds))
        throw Failure(
            QStringLiteral("运行不了 systemctl（%1）：后台项要靠 systemd 用户会话").arg(setup_.systemctl));
    const int left = std::max<qint64>(0, setup_.timeoutMilliseconds - clock.elapsed());
    if (!process.waitForFinished(left)) {
        process.kill();
        process.waitForFinished(1000);
        throw Failure(QStringLiteral("%1 在 %2 秒内没有结束：systemd 用户会话没有响应")
                          .arg(line, QString::number(setup_.timeoutMilliseconds / 1000.0)));
    }
    if (process.exitStatus() != QProcess::NormalExit)
        throw Failure(QStringLiteral("%1 意外中止").arg(line));
    if (process.exitCode() != 0) {
        // systemctl's own words, as the user would see them in a terminal.
        const QString words = QString::fromUtf8(process.readAllStandardError()).trimmed().left(2000);
        throw Failure(words.isEmpty() ? QStringLiteral("%1 以状态 %2 结束").arg(line).arg(process.exitCode())
                                      : words);
    }
}

void SystemdBackgroundService::registerItem() {
    const auto wanted = description();
    if (!wanted)
        throw Failure(QStringLiteral("应用里找不到后台项的描述（%1）").arg(setup_.plistName));
    // The user blocked the unit: leave the mask alone; the status asks for approval.
    if (masked())
        return;
    if (!hasSession())
        throw Failure(QStringLiteral("这台电脑上没有运行中的 systemd 用户会话，后台项登记不了"));

    const QString path = unitPath();
    QDir().mkpath(setup_.unitDirectory);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(unitText(*wanted, setup_.plistName).toUtf8()) < 0 ||
        !file.commit())
        throw Failure(QStringLiteral("写不了后台项的单元文件 %1：%2")
                          .arg(ConnectorPaths::display(path), file.errorString()));

    const QString unit = unitName();
    systemctl({QStringLiteral("--user"), QStringLiteral("daemon-reload")});
    systemctl({QStringLiteral("--user"), QStringLiteral("enable"), unit});
    if (wanted->runAtLoad)
        systemctl({QStringLiteral("--user"), QStringLiteral("start"), unit});
}

void SystemdBackgroundService::removeOwnFiles() const {
    const QString unit = unitName();
    const QString path = unitPath();
    const QFileInfo info(path);
    if (info.isFile() && !info.isSymLink() && !isMask(path))
        QFile::remove(path);
    const QDir units(setup_.unitDirectory);
    for (const QString& wants :
         units.entryList({QStringLiteral("*.wants")}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString link = units.filePath(wants) + QLatin1Char('/') + unit;
        if (QFileInfo(link).isSymLink())
            QFile::remove(link);
    }
}

void SystemdBackgroundService::unregisterNow() {
    const QFileInfo own(unitPath());
    const bool ownUnit = own.isFile() && !own.isSymLink() && !isMask(unitPath());
    if (!ownUnit && !enablementLinkExists())
        return; // nothing of ours to remove
    const QString unit = unitName();
    const auto wanted = description();
    if (hasSession()) {
        systemctl({QStringLiteral("--user"), QStringLiteral("disable"), unit});
        // A login item may be the very application the user is working in: switching it off must not end it.
        if (!wanted || wanted->keepAlive)
            systemctl({QStringLiteral("--user"), QStringLiteral("stop"), unit});
    }
    removeOwnFiles();
    if (hasSession()) {
        try {
            systemctl({QStringLiteral("--user"), QStringLiteral("daemon-reload")});
        } catch (const Failure&) {
            // The item is gone from disk; the next reload forgets it.
        }
    }
}

QCoro::Task<void> SystemdBackgroundService::unregister() {
    // A copy (it is only its setup): the worker must not depend on this object outliving the call.
    auto work = [item = *this]() mutable { item.unregisterNow(); };
    co_await Async::onWorker(std::move(work));
}

void SystemdBackgroundService::openSystemSettingsLoginItems() {
    struct Pane {
        const char* desktop;
        QStringList command;
    };
    const QList<Pane> panes{
        {"KDE", {QStringLiteral("systemsettings"), QStringLiteral("kcm_autostart")}},
        {"GNOME", {QStringLiteral("gnome-session-properties")}},
        {"GNOME", {QStringLiteral("gnome-tweaks")}},
        {"XFCE", {QStringLiteral("xfce4-session-settings")}},
        {"MATE", {QStringLiteral("mate-session-properties")}},
        {"CINNAMON", {QStringLiteral("cinnamon-session-properties")}},
        {"LXQT", {QStringLiteral("lxqt-config-session")}},
    };
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").toUpper().split(QLatin1Char(':'));
    for (const Pane& pane : panes) {
        const QString desktop = QString::fromLatin1(pane.desktop);
        if (!desktops.contains(desktop) && !desktops.contains(QStringLiteral("X-") + desktop))
            continue;
        const QString program = QStandardPaths::findExecutable(pane.command.first());
        if (!program.isEmpty() && QProcess::startDetached(program, pane.command.mid(1)))
            return;
    }
}

std::unique_ptr<BackgroundService> systemBackgroundService(const QString& plistName) {
    const auto& bundle = Bundle::main();
    return std::make_unique<SystemdBackgroundService>(
        SystemdBackgroundService::forUser(bundle ? bundle->path : QString(), plistName));
}
