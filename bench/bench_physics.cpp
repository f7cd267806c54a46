// The realistic models on one core: the dynamical model of the 10,000-monolayer laser stack
// over 2,000 angles and of a 10-period superlattice over 1,400 angles, the kinematical model
// on the same grids, and the basic model's fast sum for comparison per curve point
// (counter "ns_per_point"). A 20-pair AlGaAs/GaAs mirror named by formula against the same
// slabs in the basic format's alloy: a material costs the same whatever its elements.

#include "simulation/curve.h"
#include "simulation/dynamical.h"
#include "simulation/expansion.h"
#include "simulation/kinematical.h"
#include "simulation/physicsstack.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>

namespace {

const char* const kStructures[] = {
    "laser-10000.txt", "superlattice-10x20-40.txt",
    "mirror-algaas-20x.txt",  // materials by formula
    "mirror-ingaasp-20x.txt", // the same slabs in the basic format's alloy
};

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

// `points` angles spread evenly over the substrate's (004) Bragg angle +/- 1.5 degrees.
QVector<double> grid(const PhysicsStack& stack, int points) {
    const double thetaB =
        std::asin(4 * stack.wavelength / (2 * stack.aSubstrate)) * 180 / 3.141592653589793;
    QVector<double> theta;
    for (int i = 0; i < points; ++i)
        theta.append(thetaB - 1.5 + 3.0 * i / (points - 1));
    return theta;
}

void setCounters(benchmark::State& state, const PhysicsStack& stack, int points) {
    state.counters["slabs"] = stack.period.size();
    state.counters["points"] = points;
    state.counters["ns_per_point"] =
        benchmark::Counter(double(points) * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
    state.SetLabel(kStructures[state.range(0)]);
}

void dynamical(benchmark::State& state) {
    const PhysicsStack stack = buildPhysicsStack(structure(int(state.range(0))));
    const QVector<double> theta = grid(stack, int(state.range(1)));
    for (auto _ : state) {
        QVector<double> r = dynamicalReflectivity(stack, 4, theta);
        benchmark::DoNotOptimize(r.data());
    }
    setCounters(state, stack, theta.size());
}

void kinematical(benchmark::State& state) {
    const PhysicsStack stack = buildPhysicsStack(structure(int(state.range(0))));
    const QVector<double> theta = grid(stack, int(state.range(1)));
    for (auto _ : state) {
        QVector<double> r = kinematicalReflectivity(stack, theta);
        benchmark::DoNotOptimize(r.data());
    }
    setCounters(state, stack, theta.size());
}

// The basic model's fast sum over its own grid (the whole q range), for the cost per point.
void basic(benchmark::State& state) {
    const Structure& c = structure(int(state.range(0)));
    ResultArrays r;
    expandLayers(c, r);
    for (auto _ : state) {
        computeCurve(c, r);
        benchmark::DoNotOptimize(r.intensity.data());
    }
    state.counters["points"] = r.q.size();
    state.counters["ns_per_point"] = benchmark::Counter(
        double(r.q.size()) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel(kStructures[state.range(0)]);
}

// Building the stack: expansion, merging and the xraylib look-ups.
void buildStack(benchmark::State& state) {
    const Structure& c = structure(int(state.range(0)));
    for (auto _ : state) {
        PhysicsStack s = buildPhysicsStack(c);
        benchmark::DoNotOptimize(s.period.data());
    }
    state.SetLabel(kStructures[state.range(0)]);
}

} // namespace

BENCHMARK(dynamical)->Args({0, 2000})->Args({1, 1400})->Args({2, 2000})->Args({3, 2000})->Unit(
    benchmark::kMillisecond);
BENCHMARK(kinematical)
    ->Args({0, 2000})
    ->Args({1, 1400})
    ->Args({2, 2000})
    ->Args({3, 2000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(basic)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(buildStack)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
