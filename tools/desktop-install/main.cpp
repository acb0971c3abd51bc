// Registers an installed connector bundle with this user's desktop and service manager, or removes that
// registration: what ./scripts/install runs after copying the bundle.
//
//   orvane-desktop-install register <bundle>     desktop entry, link handler, icons, status-bar login item
//   orvane-desktop-install unregister <bundle>   all of that, and the bridge's background item
#include "ConnectorPaths.h"
#include "linux/SystemdBackgroundService.h"
#include "linux/XdgDesktopRegistration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

void say(const QString& line) {
    std::fprintf(stdout, "%s\n", qUtf8Printable(line));
}

void complain(const QString& line) {
    std::fprintf(stderr, "%s\n", qUtf8Printable(line));
}

int registerBundle(const QString& bundle) {
    XdgDesktopRegistration desktop(XdgDesktopRegistration::forUser());
    try {
        const bool changed = desktop.registerBundle(bundle);
        say(changed
                ? QStringLiteral("已登记到桌面：%1").arg(ConnectorPaths::display(desktop.entryPath()))
                : QStringLiteral("桌面登记没有变化：%1").arg(ConnectorPaths::display(desktop.entryPath())));
    } catch (const DesktopRegistration::Failure& failure) {
        complain(QStringLiteral("没能登记到桌面：") + failure.message);
        return 1;
    }
    SystemdBackgroundService loginItem(
        SystemdBackgroundService::forUser(bundle, ConnectorPaths::menuBarPlist));
    try {
        loginItem.registerItem();
        say(QStringLiteral("已登记状态栏登录项：%1").arg(ConnectorPaths::display(loginItem.unitPath())));
    } catch (const BackgroundService::Failure& failure) {
        // The desktop part works without it; the connector registers its items again at every launch.
        complain(QStringLiteral("没能登记状态栏登录项：") + failure.message);
        return 3;
    }
    return 0;
}

int unregisterBundle(const QString& bundle) {
    int status = 0;
    try {
        XdgDesktopRegistration(XdgDesktopRegistration::forUser()).unregister();
        say(QStringLiteral("已从桌面注销"));
    } catch (const DesktopRegistration::Failure& failure) {
        complain(QStringLiteral("没能从桌面注销：") + failure.message);
        status = 1;
    }
    for (const QString& plist : {ConnectorPaths::menuBarPlist, ConnectorPaths::agentPlist}) {
        SystemdBackgroundService item(SystemdBackgroundService::forUser(bundle, plist));
        try {
            item.unregisterNow();
        } catch (const BackgroundService::Failure& failure) {
            complain(QStringLiteral("没能注销后台项 %1：%2").arg(item.unitName(), failure.message));
            status = 1;
        }
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3 ||
        (arguments[1] != QStringLiteral("register") && arguments[1] != QStringLiteral("unregister"))) {
        complain(QStringLiteral("用法：orvane-desktop-install register|unregister <应用包>"));
        return 2;
    }
    const QString bundle = QDir::cleanPath(QFileInfo(arguments[2]).absoluteFilePath());
    return arguments[1] == QStringLiteral("register") ? registerBundle(bundle) : unregisterBundle(bundle);
}
