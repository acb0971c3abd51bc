#include "linux/LinuxWorkspace.h"

#include "RunTask.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace {

QByteArray plistWithExecutable(const char* executable) {
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                      "<key>CFBundleIdentifier</key><string>com.tamrik.vestrano</string>"
                      "<key>CFBundleExecutable</key><string>") +
           executable + "</string></dict></plist>\n";
}

struct OpenFailure {
    const char* name;
    std::function<void(const QString& app)> make;
    QString prefix;
};

void PrintTo(const OpenFailure& c, std::ostream* os) {
    *os << c.name;
}

class OpenFailures : public ::testing::TestWithParam<OpenFailure> {};

// A bundle that cannot be read or started fails with a Chinese description naming it, never silently.
TEST_P(OpenFailures, DescribeTheBundle) {
    TestSupport::TempDir dir;
    const QString app = dir.file(QStringLiteral("Orvane.app"));
    GetParam().make(app);
    LinuxWorkspace workspace;
    try {
        TestSupport::runTask(
            workspace.open(QUrl(QStringLiteral("com.tamrik.vestrano://agent-connector/ready")), app, false));
        FAIL() << "opened " << GetParam().name;
    } catch (const Workspace::Failure& failure) {
        EXPECT_EQ(failure.message, GetParam().prefix + app);
    }
}

const QString unreadable = QStringLiteral("读不出这个 App 的信息：");
const QString notStarted = QStringLiteral("这个 App 启动不了：");

INSTANTIATE_TEST_SUITE_P(
    LinuxWorkspace, OpenFailures,
    ::testing::Values(OpenFailure{"missingBundle", [](const QString&) {}, unreadable},
                      OpenFailure{
                          "noInfoPlist",
                          [](const QString& app) { QDir().mkpath(app + QStringLiteral("/Contents/MacOS")); },
                          unreadable},
                      OpenFailure{"garbledInfoPlist",
                                  [](const QString& app) {
                                      TestSupport::writeFile(app + QStringLiteral("/Contents/Info.plist"),
                                                             "<pl");
                                  },
                                  unreadable},
                      OpenFailure{"executableLeavesTheBundle",
                                  [](const QString& app) {
                                      TestSupport::writeFile(app + QStringLiteral("/Contents/Info.plist"),
                                                             plistWithExecutable("../../../../bin/true"));
                                  },
                                  unreadable},
                      OpenFailure{"executableMissing",
                                  [](const QString& app) {
                                      TestSupport::writeFile(app + QStringLiteral("/Contents/Info.plist"),
                                                             plistWithExecutable("Orvane"));
                                  },
                                  notStarted},
                      OpenFailure{"executableNotExecutable",
                                  [](const QString& app) {
                                      TestSupport::writeFile(app + QStringLiteral("/Contents/Info.plist"),
                                                             plistWithExecutable("Orvane"));
                                      TestSupport::writeFile(app + QStringLiteral("/Contents/MacOS/Orvane"),
                                                             "#!/bin/sh\n", 0644);
                                  },
                                  notStarted}),
    [](const auto& info) { return std::string(info.param.name); });

// Links and pipes in a bundle: what starts is the program inside the bundle itself, never one reached through
// a link, and nothing waits on a pipe.
void withProgram(const QString& app, const char* executable) {
    TestSupport::writeFile(app + QStringLiteral("/Contents/Info.plist"), plistWithExecutable(executable));
    QDir().mkpath(app + QStringLiteral("/Contents/MacOS"));
}
void fifo(const QString& path, mode_t mode) {
    ::mkfifo(QFile::encodeName(path).constData(), mode);
}

INSTANTIATE_TEST_SUITE_P(LinuxWorkspaceLinks, OpenFailures,
                         ::testing::Values(OpenFailure{"executableIsALink",
                                                       [](const QString& app) {
                                                           withProgram(app, "Orvane");
                                                           QFile::link("/bin/true",
                                                                       app + "/Contents/MacOS/Orvane");
                                                       },
                                                       notStarted},
                                           OpenFailure{"programFolderIsALink",
                                                       [](const QString& app) {
                                                           withProgram(app, "true");
                                                           QDir(app + "/Contents/MacOS").removeRecursively();
                                                           QFile::link("/bin", app + "/Contents/MacOS");
                                                       },
                                                       notStarted},
                                           OpenFailure{"executableIsAFifo",
                                                       [](const QString& app) {
                                                           withProgram(app, "Orvane");
                                                           fifo(app + "/Contents/MacOS/Orvane", 0755);
                                                       },
                                                       notStarted},
                                           OpenFailure{"infoPlistIsAFifo",
                                                       [](const QString& app) {
                                                           QDir().mkpath(app + "/Contents");
                                                           fifo(app + "/Contents/Info.plist", 0644);
                                                       },
                                                       unreadable}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
