#include "AgentLauncher.h"
#include "Async.h"
#include "Brand.h"
#include "Bundle.h"
#include "ConnectorAppDelegate.h"
#include "ConnectorPaths.h"
#include "ProcessInfo.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <unistd.h>

namespace {

// A refused start leaves nothing behind: one write of the whole line, then the status, before any Qt
// application object exists.
[[noreturn]] void refuse(std::string_view message) {
    std::string line(message);
    line += '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    std::exit(2);
}

constexpr std::string_view messageA = "隔离验证包必须显式指定 --isolated-validation，未启动任何后台项。";
constexpr std::string_view messageB =
    "隔离验证需要自有的 /private/tmp/senvik-connector-validation-* 目录，不能启动系统后台项。";

bool isValidationBundle() {
    const nlohmann::json& info = Bundle::mainInfo();
    const auto it = info.find("SenvikIsolatedValidation");
    return it != info.end() && it->is_boolean() && it->get<bool>();
}

} // namespace

int main(int argc, char** argv) {
    const QStringList& arguments = ProcessInfo::arguments();
    const bool isolated = ProcessInfo::hasFlag(arguments, QStringLiteral("--isolated-validation"));
    const bool agent = ProcessInfo::hasFlag(arguments, QStringLiteral("--agent"));

    if (isValidationBundle() && !isolated)
        refuse(messageA);
    if (isolated && (!ConnectorPaths::isolated() || agent))
        refuse(messageB);
    if (agent)
        AgentLauncher::run();

    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(ConnectorPaths::connectorBundleID);
    // StatusNotifier hosts list the item, and head its tool tip, by this name. Settings and paths do not
    // derive from it.
    QCoreApplication::setApplicationName(QStringLiteral("Orvane 连接器"));
    QApplication::setFont(Brand::applicationFont(QApplication::font()));
    // Closing the main window never ends the application: the status item stays.
    QApplication::setQuitOnLastWindowClosed(false);

    {
        ConnectorAppDelegate delegate(arguments);
        delegate.applicationWillFinishLaunching();
        QTimer::singleShot(0, &delegate, &ConnectorAppDelegate::applicationDidFinishLaunching);
        application.exec();
    }
    // A worker still blocked in a service call (each has its own time-out) holds what it uses, but not the
    // application object and the statics a normal exit tears down: leave without running those then. The
    // preferences and windows are already closed; a lingering process would only hold up the next start.
    if (!Async::ioPool().waitForDone(0)) {
        std::fflush(nullptr);
        std::_Exit(0);
    }
    return 0;
}
