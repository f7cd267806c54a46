// Whole fits, as `xrdsim-batch --fit` runs them, on one and on two threads: a 10-period
// superlattice with 6 free parameters and the laser-like stack with 8, each against a
// synthetic scan of 1,400 points, every parameter started from the middle of its range (as
// the files give them).
// And the real GaAsP layer of tests/data/measured (879 points) with the dynamical model, on
// one thread: free thickness, As fraction and offset within sensible bounds, started near
// but not on the answer (about 194 monolayers of As 0.64).
// Counters: evaluations, evaluations per second, generations.

#include "analysis/fitroad.h"
#include "structure/config.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <ctime>

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

// CPU seconds of the whole process.
double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

void realGaAsPFit(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gaasp.txt"));
    QFile f(path);
    const QByteArray text =
        "WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 185 0 0.7\nREPEAT 1\n"
        "MODEL dynamical\nMEASURED " XRD_TEST_DATA_DIR "/measured/gaasp-on-gaas-004.x00\n"
        "FIT LAYER 1 N 150 240\nFIT LAYER 1 Y 0.5 0.8\n"
        "FIT OFFSET -0.02 0.02\n";
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    f.close();
    Config c;
    if (!c.load(path) || !c.valid)
        qFatal("cannot load %s", qPrintable(path));
    FitSettings settings;
    settings.threads = 1;
    settings.seed = unsigned(state.range(0));
    FitReport report;
    for (auto _ : state) {
        const double before = processSeconds();
        report = StructureFit(c, settings).run();
        state.SetIterationTime(processSeconds() - before);
        if (!report.ok)
            state.SkipWithError("the fit did not run");
    }
    state.counters["evaluations"] = double(report.outcome.evaluations);
    state.counters["generations"] = report.outcome.generations;
    if (report.rows.size() == 3) {
        state.counters["N"] = report.rows[0].value;
        state.counters["As"] = report.rows[1].value;
        state.counters["offset"] = report.rows[2].value;
        state.counters["sigmaN"] = report.rows[0].sigma;
    }
    state.counters["agreement"] = report.agreementAfter;
    state.SetLabel("real GaAsP, dynamical, process CPU seconds");
}

} // namespace

BENCHMARK(realGaAsPFit)->DenseRange(1, 3)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

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
