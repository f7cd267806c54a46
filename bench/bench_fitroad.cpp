// Whole fits, as `xrdsim-batch --fit` runs them, on one and on two threads: a 10-period
// superlattice with 6 free parameters and the laser-like stack with 8, each against a
// synthetic scan of 1,400 points, every parameter started from the middle of its range (as
// the files give them).
// Counters: evaluations, evaluations per second, generations.

#include "config.h"
#include "fitroad.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

namespace {

const char* const kFits[] = {"fit-superlattice.txt", "fit-laser.txt"};

void wholeFit(benchmark::State& state) {
    Config c;
    const QString path = QStringLiteral(XRD_BENCH_DATA_DIR "/") + kFits[state.range(0)];
    if (!c.load(path) || !c.valid)
        qFatal("cannot load %s", qPrintable(path));
    FitSettings settings;
    settings.threads = int(state.range(1));
    settings.outputDir = QCoreApplication::applicationDirPath();
    FitReport report;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        report = StructureFit(c, settings).run();
        state.SetIterationTime(double(clock.nsecsElapsed()) * 1e-9);
        if (!report.ok)
            state.SkipWithError("the fit did not run");
    }
    state.counters["evaluations"] = double(report.outcome.evaluations);
    state.counters["generations"] = report.outcome.generations;
    state.counters["eval_per_s"] = benchmark::Counter(
        double(report.outcome.evaluations), benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(kFits[state.range(0)]);
}

} // namespace

BENCHMARK(wholeFit)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
