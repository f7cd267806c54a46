// The model of a structure at the angles of a measured scan, as a fit evaluates it tens of
// thousands of times: 1,400 angles, a 0.003° resolution, scale and background solved. The
// 3-period superlattice of about 270 monolayers and the 10,000-monolayer laser stack.

#include "analysis/comparison.h"
#include "measured/measuredscan.h"
#include "simulation/grid.h"
#include "simulation/materials.h"
#include "structure/config.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>

namespace {

struct Case {
    const char* file;
    const char* model;
};

const Case kCases[] = {
    {"superlattice-3x270.txt", "basic"},       {"laser-10000.txt", "basic"},
    {"superlattice-3x270.txt", "dynamical"},   {"laser-10000.txt", "dynamical"},
    {"superlattice-3x270.txt", "kinematical"},
};

struct Prepared {
    Config config;
    MeasuredScan scan;
    std::unique_ptr<ScanComparison> comparison;
};

// 1,400 angles over 2.5° around the substrate's (004), every point counted once.
Prepared& prepared(int index) {
    static std::map<int, std::unique_ptr<Prepared>> cache;
    auto& slot = cache[index];
    if (!slot) {
        slot = std::make_unique<Prepared>();
        const QString path = QStringLiteral(XRD_BENCH_DATA_DIR "/") + kCases[index].file;
        if (!slot->config.load(path) || !slot->config.valid)
            qFatal("cannot load %s", qPrintable(path));
        modelKindOf(QString::fromLatin1(kCases[index].model), slot->config.ext.model);
        const Structure& c = slot->config;
        const double aS = latticeConstant(c.substrate.inFraction, c.substrate.asFraction);
        const double bragg = std::asin(4 * c.wavelength / (2 * aS)) * 180 / M_PI;
        for (int i = 0; i < 1400; ++i) {
            slot->scan.theta << bragg - 1.5 + 2.5 * i / 1399;
            slot->scan.intensity << 100.0;
        }
        slot->comparison = std::make_unique<ScanComparison>(c, slot->scan, 0.0, 0.0, 0.003, 0.003);
    }
    return *slot;
}

void modelAtScan(benchmark::State& state) {
    Prepared& p = prepared(int(state.range(0)));
    ModelAtScan out;
    for (auto _ : state) {
        if (!p.comparison->evaluate(p.config, InstrumentSettings(), out))
            state.SkipWithError("not computed");
        benchmark::DoNotOptimize(out.model.data());
    }
    state.counters["fine_points"] = p.comparison->finePoints();
    state.SetLabel(QStringLiteral("%1, %2")
                       .arg(kCases[state.range(0)].file, kCases[state.range(0)].model)
                       .toStdString());
}

} // namespace

BENCHMARK(modelAtScan)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
