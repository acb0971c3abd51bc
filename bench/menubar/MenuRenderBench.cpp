// Re-rendering the status menu while it is open: the full row list of a lively state rendered again
// unchanged (no item may be created or configured), and with one changed title (one item configured).
// Opening the menu: the snapshot taken, its rows and the render of the whole menu into an empty one (the
// first opening, every item created), with every section present, and the menu laid out for showing.

#include "StatusMenu.h"
#include "StatusMenuRenderer.h"

#include <QApplication>
#include <QMenu>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

MenuSnapshot livelySnapshot() {
    MenuSnapshot s;
    s.health = Health::Attention{{QStringLiteral("执行工具 Codex 有新版本 0.31.0"),
                                  QStringLiteral("执行工具 Claude Code 有新版本 1.0.40")}};
    s.healthTitle = s.health.title();
    BridgeStatus bridge;
    bridge.port = 4317;
    s.bridge = bridge;
    s.pairings = 2;
    s.canStartBridge = true;
    s.version = QStringLiteral("1.4.0（27）");
    s.update = UpdateState::Idle{QDateTime::currentDateTimeUtc()};
    s.engines = {Engine{QStringLiteral("codex"),
                        QStringLiteral("Codex"),
                        QStringLiteral("0.30.0 · 已登录"),
                        {},
                        true,
                        {}},
                 Engine{QStringLiteral("claude_code"),
                        QStringLiteral("Claude Code"),
                        QStringLiteral("1.0.38 · 已登录"),
                        {},
                        true,
                        {}}};
    s.cliTools = {CliTool{QStringLiteral("codex"),
                          QStringLiteral("0.30.0"),
                          QStringLiteral("0.31.0"),
                          true,
                          true,
                          9,
                          true,
                          {}},
                  CliTool{QStringLiteral("claude_code"),
                          QStringLiteral("1.0.38"),
                          QStringLiteral("1.0.40"),
                          true,
                          true,
                          4,
                          true,
                          {}}};
    s.cliAvailable = true;
    s.cliResult = QStringLiteral("检查完了：2 个执行工具有新版本");
    s.now = QDateTime::currentDateTimeUtc();
    return s;
}

// Every section of the menu: a tool busy, a finished result, an update ready, onboarding steps left.
MenuSnapshot fullSnapshot() {
    MenuSnapshot s = livelySnapshot();
    s.bridge->openRuns = 3;
    s.cliActivity = CliActivity{CliActivity::Checking{}};
    s.cliBusy = true;
    s.startRemaining = 2;
    UpdateInfo info;
    info.version = QStringLiteral("1.5.0");
    info.build = 31;
    s.update = UpdateState::Ready{info, QStringLiteral("/tmp/staged/Orvane 连接器.app")};
    return s;
}

struct Fixture {
    StatusMenuRenderer renderer{[](const MenuCommand&) {}};
    QMenu menu;
    QList<MenuRow> rows = StatusMenu::rows(livelySnapshot());
    Fixture() { renderer.render(rows, menu); }
};

double unchangedMicros = 0;
double unchangedCreated = -1;
double oneTitleConfigured = -1;
qsizetype rowCount = 0;

void BM_RenderUnchanged(benchmark::State& state) {
    Fixture f;
    const qint64 created = f.renderer.itemsCreated(), configured = f.renderer.itemsConfigured();
    for (auto _ : state)
        f.renderer.render(f.rows, f.menu);
    rowCount = f.rows.size();
    state.counters["rows"] = double(rowCount);
    state.counters["created/render"] =
        double(f.renderer.itemsCreated() - created) / double(state.iterations());
    state.counters["configured/render"] =
        double(f.renderer.itemsConfigured() - configured) / double(state.iterations());
    unchangedCreated = state.counters["created/render"];
}
BENCHMARK(BM_RenderUnchanged)->Unit(benchmark::kMicrosecond);

void BM_RenderOneChangedTitle(benchmark::State& state) {
    Fixture f;
    QList<MenuRow> other = f.rows;
    other[0].title += QStringLiteral("（已变）");
    const qint64 created = f.renderer.itemsCreated(), configured = f.renderer.itemsConfigured();
    bool flip = false;
    for (auto _ : state) {
        f.renderer.render(flip ? f.rows : other, f.menu);
        flip = !flip;
    }
    state.counters["created/render"] =
        double(f.renderer.itemsCreated() - created) / double(state.iterations());
    state.counters["configured/render"] =
        double(f.renderer.itemsConfigured() - configured) / double(state.iterations());
    oneTitleConfigured = state.counters["configured/render"];
}
BENCHMARK(BM_RenderOneChangedTitle)->Unit(benchmark::kMicrosecond);

double openMicros = 0;
qsizetype fullRowCount = 0;

void BM_MenuOpenFull(benchmark::State& state) {
    const MenuSnapshot full = fullSnapshot();
    for (auto _ : state) {
        StatusMenuRenderer renderer{[](const MenuCommand&) {}};
        QMenu menu;
        MenuSnapshot snapshot = full; // what MenuSnapshot::from copies out of the controller
        snapshot.now = QDateTime::currentDateTimeUtc();
        const QList<MenuRow> rows = StatusMenu::rows(snapshot);
        renderer.render(rows, menu);
        benchmark::DoNotOptimize(menu.sizeHint());
        fullRowCount = rows.size();
    }
    state.counters["rows"] = double(fullRowCount);
}
BENCHMARK(BM_MenuOpenFull)->Unit(benchmark::kMicrosecond);

// The summary lines need the unchanged render's time; a reporter keeps it.
class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.benchmark_name() == "BM_RenderUnchanged")
                unchangedMicros = run.GetAdjustedRealTime();
            else if (run.benchmark_name() == "BM_MenuOpenFull")
                openMicros = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("menu open: snapshot + rows + render of a full menu (%lld rows, every item created): %.3f ms "
                "(target <= 2 ms) %s\n",
                static_cast<long long>(fullRowCount), openMicros / 1000.0,
                openMicros <= 2000.0 ? "met" : "NOT MET");
    std::printf(
        "unchanged re-render (%lld rows): %.0f items created, %.2f us (target 0 items, <= 50 us) %s\n",
        static_cast<long long>(rowCount), unchangedCreated, unchangedMicros,
        unchangedCreated == 0 && unchangedMicros <= 50.0 ? "met" : "NOT MET");
    std::printf("menu re-render, one changed title: %.2f items configured per render (target 1)\n",
                oneTitleConfigured);
    return 0;
}
