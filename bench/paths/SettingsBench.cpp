// One preference read through ConnectorSettings (a stat while the store's file is unchanged) beside the
// plain way of opening the store and syncing it for every read.

#include "ConnectorPaths.h"
#include "ConnectorSettings.h"

#include <QByteArray>
#include <QSettings>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

void BM_ReadPreference(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(ConnectorSettings::autoInstallUpdates());
}
BENCHMARK(BM_ReadPreference);

void BM_OpenStoreEachRead(benchmark::State& state) {
    for (auto _ : state) {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, ConnectorPaths::connectorBundleID);
        store.sync();
        benchmark::DoNotOptimize(store.value(QStringLiteral("autoInstallUpdates")));
    }
}
BENCHMARK(BM_OpenStoreEachRead);

} // namespace

int main(int argc, char** argv) {
    static QByteArray home = "/tmp/orvane-bench-home-XXXXXX";
    if (!::mkdtemp(home.data()))
        return 1;
    ::setenv("HOME", home.constData(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/.config").constData(), 1);
    ConnectorSettings::registerDefaults();
    ConnectorSettings::setAutoInstallUpdates(true);
    ConnectorSettings::setStartCompleted(true);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(home.constData());
    return 0;
}
