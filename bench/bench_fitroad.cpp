// Whole fits, as `xrdsim-batch --fit` runs them, on one and on two threads: a 10-period
// superlattice with 6 free parameters and the laser-like stack with 8, each against a
// synthetic scan of 1,400 points, every parameter started from the middle of its range (as
// the files give them).
// And the real scans of tests/data/measured with the dynamical model, on one thread, each
// with and without the start from the measurement's peaks: the GaAsP layer (879 points; free
// thickness, As fraction and offset, started near but not on the answer, about 194
// monolayers of As 0.64) and the 3-period InGaAs/GaAs superlattice (1,399 points; free In
// fraction, both thicknesses and offset).
// Counters: evaluations, evaluations per second, generations.

#include "analysis/comparison.h"
#include "analysis/fitroad.h"
#include "measured/measuredscan.h"
#include "structure/config.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <ctime>
#include <random>

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

// A fit on one thread, in process CPU seconds: the structure text (written into `dir`, beside
// any scans it names), the seed (the first argument) and whether the fit starts from the
// measurement's peaks.
FitReport realFit(benchmark::State& state, const QByteArray& text, bool peakStart,
                  const QTemporaryDir& dir = QTemporaryDir()) {
    const QString path = dir.filePath(QStringLiteral("real.txt"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    f.close();
    Config c;
    if (!c.load(path) || !c.valid)
        qFatal("cannot load %s", qPrintable(path));
    FitSettings settings;
    settings.threads = 1;
    settings.seed = unsigned(state.range(0));
    settings.peakStart = peakStart;
    settings.outputDir = dir.path();
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
    state.counters["agreement"] = report.agreementAfter;
    // XRD_BENCH_LOG set: the fit's log on stderr, to see where the fit went.
    if (qEnvironmentVariableIsSet("XRD_BENCH_LOG"))
        for (const QString& line : report.log)
            fprintf(stderr, "%s\n", qPrintable(line));
    return report;
}

void realGaAsPFit(benchmark::State& state) {
    const FitReport report =
        realFit(state,
                "WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 185 0 0.7\nREPEAT 1\n"
                "MODEL dynamical\nMEASURED " XRD_TEST_DATA_DIR "/measured/gaasp-on-gaas-004.x00\n"
                "FIT LAYER 1 N 150 240\nFIT LAYER 1 Y 0.5 0.8\n"
                "FIT OFFSET -0.02 0.02\n",
                state.range(1) != 0);
    if (report.rows.size() == 3) {
        state.counters["N"] = report.rows[0].value;
        state.counters["As"] = report.rows[1].value;
        state.counters["offset"] = report.rows[2].value;
        state.counters["sigmaN"] = report.rows[0].sigma;
    }
    state.SetLabel(state.range(1) ? "real GaAsP, dynamical, peak start, process CPU seconds"
                                  : "real GaAsP, dynamical, global search, process CPU seconds");
}

// The real 3-period InGaAs/GaAs superlattice (1,399 points): free In fraction and both
// thicknesses and the offset, started off the answer (period 254.6 Å, In 0.2545 by a peer)
// from one of three starts (the third argument). The best minimum a long global search finds
// is 25 ML of In 0.2577 and 64 ML at agreement 0.05536; counter `best` is 1 when the fit ends
// within 0.5 % of it.
void realSuperlatticeFit(benchmark::State& state) {
    static const char* const starts[] = {"LAYER 22 0.22 1\nLAYER 60 0 1\n",
                                         "LAYER 30 0.3 1\nLAYER 75 0 1\n",
                                         "LAYER 18 0.15 1\nLAYER 70 0 1\n"};
    const FitReport report =
        realFit(state,
                QByteArray("WAVELENGTH 1.54056\nSUBSTRATE 0 1\n") + starts[state.range(2)] +
                    "REPEAT 3\nMODEL dynamical\nMEASURED " XRD_TEST_DATA_DIR
                    "/measured/ingaas-gaas-sl-004.x00\n"
                    "FIT LAYER 1 N 12 40\nFIT LAYER 1 X 0.1 0.4\nFIT LAYER 2 N 40 90\n"
                    "FIT OFFSET -0.02 0.02\n",
                state.range(1) != 0);
    state.counters["best"] = report.agreementAfter <= 0.05536 * 1.005 ? 1 : 0;
    if (report.rows.size() == 4) {
        state.counters["N1"] = report.rows[0].value;
        state.counters["In"] = report.rows[1].value;
        state.counters["N2"] = report.rows[2].value;
        state.counters["offset"] = report.rows[3].value;
        state.counters["period"] = report.rows[0].value * report.rows[0].nmPerUnit * 10 +
                                   report.rows[2].value * report.rows[2].nmPerUnit * 10;
    }
    state.SetLabel(state.range(1) ? "real superlattice, dynamical, peak start, CPU seconds"
                                  : "real superlattice, dynamical, global search, CPU seconds");
}

// The model of the structure `truth` at reflection `r` over `points` angles from `low` to
// `high`, `peak` counts per second at its top, as Poisson counts of one second on 1 count
// per second of background: a two-column scan file in `dir`.
QString synthesize(const QTemporaryDir& dir, const QByteArray& truth, const Reflection& r,
                   double low, double high, int points, double peak, const char* name,
                   unsigned seed) {
    const QString structure = dir.filePath(QStringLiteral("truth.txt"));
    QFile t(structure);
    if (!t.open(QIODevice::WriteOnly) || t.write(truth) != truth.size())
        qFatal("cannot write %s", qPrintable(structure));
    t.close();
    Config c;
    if (!c.load(structure) || !c.valid)
        qFatal("cannot load %s", qPrintable(structure));
    c.ext.reflection = r;
    MeasuredScan scan;
    for (int i = 0; i < points; ++i) {
        scan.theta << low + (high - low) * i / (points - 1);
        scan.intensity << 1.0;
    }
    const ScanComparison comparison(c, scan, 0, 0, 0.003, 0.003);
    InstrumentSettings unit;
    unit.scale = 1.0;
    unit.background = 0.0;
    ModelAtScan m;
    if (!comparison.evaluate(c, unit, m))
        qFatal("no model");
    QByteArray text;
    std::mt19937 random(seed);
    for (int i = 0; i < points; ++i) {
        const double mean = peak * m.model[i] + 1.0;
        text += QByteArray::number(scan.theta[i], 'g', 12) + ' ' +
                QByteArray::number(double(std::poisson_distribution<long>(mean)(random))) + '\n';
    }
    const QString path = dir.filePath(QLatin1String(name));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// Composition and relaxation of a half-relaxed In0.1Ga0.9As layer (800 monolayers) on GaAs
// fitted together from a (004) scan (500 points) and a (224) scan at grazing incidence (600
// points), on one thread, in process CPU seconds; the scans are made before the clock runs.
void relaxedTwoScanFit(benchmark::State& state) {
    QTemporaryDir dir;
    const QByteArray head = "WAVELENGTH 1.5405929\nSUBSTRATE 0 1\n";
    const QByteArray tail = "REPEAT 1\nMODEL dynamical\n";
    const QByteArray truth = head + "LAYER 800 0.1 1\nRELAXATION 1 0.5\n" + tail;
    Reflection r224;
    r224.h = r224.k = 2;
    const QString s004 = synthesize(dir, truth, Reflection(), 32.3, 33.3, 500, 1e5, "s004", 21);
    const QString s224 = synthesize(dir, truth, r224, 40.9, 42.1, 600, 1e4, "s224", 22);
    const QByteArray text = head + "LAYER 800 0.07 1\nRELAXATION 1 0.3\n" + tail + "MEASURED " +
                            s004.toUtf8() + "\nMEASURED " + s224.toUtf8() +
                            " REFLECTION 2 2 4 GEOMETRY incidence\n"
                            "FIT LAYER 1 X 0.05 0.15\nFIT LAYER 1 R 0.2 0.8\n";
    const FitReport report = realFit(state, text, true, dir);
    if (report.rows.size() == 2) {
        state.counters["x"] = report.rows[0].value;
        state.counters["r"] = report.rows[1].value;
    }
    state.SetLabel("In0.1Ga0.9As r 0.5 from (004) + (224), dynamical, CPU seconds");
}

} // namespace

BENCHMARK(relaxedTwoScanFit)
    ->DenseRange(1, 3)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(realGaAsPFit)
    ->ArgsProduct({{1, 2, 3, 4, 5}, {1, 0}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(realSuperlatticeFit)
    ->ArgsProduct({{1, 2, 3, 4, 5}, {1, 0}, {0, 1, 2}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

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
