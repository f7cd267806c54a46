// The diffraction curve of four representative structures, by the fast sum and by the
// literal sum over every plane, and the writing of the result files.
//
// The literal sum costs the same for every point of a structure, so for the two thick
// structures (hours or minutes in full) it is timed on a grid thinned by a longer wavelength
// and the counter "full_s" extrapolates it to the whole curve: time per point times the
// points of the real grid.

#include "simulation/calculation.h"
#include "simulation/curve.h"
#include "simulation/expansion.h"
#include "simulation/resultarrays.h"
#include "simulation/resultfiles.h"
#include "structure/config.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <memory>

namespace {

const char* const kStructures[] = {
    "superlattice-10x20-40.txt",
    "laser-10000.txt",
    "superlattice-200x10-10.txt",
    "graded-buffer-3500.txt",
};

// Loaded once per structure file; Config is a QObject and stays where it was made.
const Structure& structure(int index) {
    static std::map<int, std::unique_ptr<Config>> loaded;
    auto& slot = loaded[index];
    if (!slot) {
        slot = std::make_unique<Config>();
        const QString path = QStringLiteral(XRD_BENCH_DATA_DIR "/") + kStructures[index];
        if (!slot->load(path) || !slot->valid)
            qFatal("cannot load %s", qPrintable(path));
    }
    return *slot;
}

void fast(benchmark::State& state) {
    const Structure& c = structure(int(state.range(0)));
    ResultArrays r;
    expandLayers(c, r);
    for (auto _ : state) {
        computeCurve(c, r);
        benchmark::DoNotOptimize(r.intensity.data());
    }
    state.counters["points"] = r.q.size();
    state.counters["terms"] = double(curveTermCount(r.depth, r.inProfile, r.asProfile));
    state.SetLabel(kStructures[state.range(0)]);
}

void direct(benchmark::State& state) {
    const Structure& real = structure(int(state.range(0)));
    const double thinning = double(state.range(1));
    Config c;
    c.wavelength = real.wavelength * thinning;
    c.k = Config::twoPi / c.wavelength;
    c.substrate = real.substrate;
    c.withSubstrate = real.withSubstrate;
    c.layers = real.layers;
    c.repeat = real.repeat;
    ResultArrays r;
    expandLayers(c, r);
    const double fullPoints = estimatedPointCount(r.depth.last(), real.k);
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        computeCurveDirect(c, r);
        benchmark::DoNotOptimize(r.intensity.data());
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["points"] = r.q.size();
    state.counters["full_s"] = seconds / double(state.iterations()) * fullPoints / r.q.size();
    state.SetLabel(kStructures[state.range(0)]);
}

void writeFiles(benchmark::State& state) {
    const Structure& c = structure(1);
    ResultArrays r;
    expandLayers(c, r);
    computeCurve(c, r);
    QTemporaryDir dir;
    for (auto _ : state) {
        writeColumns(dir.filePath("p-cmp.txt"), r.depth, r.inProfile, r.asProfile);
        writeColumns(dir.filePath("p-dif.txt"), r.theta, r.intensity, r.q);
    }
    state.counters["lines"] = r.q.size() + r.depth.size();
}

} // namespace

BENCHMARK(fast)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
// Second argument: factor by which the wavelength is stretched to thin the grid.
BENCHMARK(direct)
    ->Args({0, 1})
    ->Args({1, 100})
    ->Args({2, 1})
    ->Args({3, 20})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(writeFiles)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
