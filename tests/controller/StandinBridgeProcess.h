#pragma once

#include "ConnectorPaths.h"
#include "TempHome.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <nlohmann/json.hpp>

#include <chrono>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

// The stand-in bridge as a child process, serving this test process's admin socket from a scenario file.
class StandinBridgeProcess {
public:
    explicit StandinBridgeProcess(const nlohmann::json& scenario) {
        const QString scenarioPath = dir_.file(QStringLiteral("scenario.json"));
        TestSupport::writeFile(scenarioPath, QByteArray::fromStdString(scenario.dump()));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), qEnvironmentVariable("HOME"));
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program(),
                       {dir_.file(QStringLiteral("main.ts")), QStringLiteral("start"),
                        QStringLiteral("--managed"), QStringLiteral("--data-dir"),
                        QFileInfo(ConnectorPaths::adminSocket()).path(), QStringLiteral("--scenario"),
                        scenarioPath, QStringLiteral("--request-log"), requestLog()});
        started_ = process_.waitForStarted(5000) && waitForSocket();
    }

    ~StandinBridgeProcess() {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(2000);
    }

    bool started() const { return started_; }

    // Every request line the stand-in received so far, as the bytes arrived.
    QList<QByteArray> requests() const {
        QFile file(requestLog());
        return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>{};
    }

    static QString program() {
        return TestSupport::buildDir() + QStringLiteral("/tools/bridge-standin/bridge-standin");
    }

private:
    QString requestLog() const { return dir_.file(QStringLiteral("requests.log")); }

    static bool connects() {
        const QByteArray path = ConnectorPaths::adminSocket().toUtf8();
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy(path.begin(), path.end(), address.sun_path);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }
    bool waitForSocket() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            if (process_.state() != QProcess::Running)
                return false;
            if (connects())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    TestSupport::TempDir dir_;
    QProcess process_;
    bool started_ = false;
};
