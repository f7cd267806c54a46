// Asymmetric reflections against the symmetric one on one core: the dynamical curve of the
// same stack over the same number of angles at (004) and at (224) in grazing incidence and
// grazing exit, coherent and with every layer half relaxed (each relaxed layer is a slab
// kind of its own in-plane lattice). The (224) curve should cost no more than 1.5 times the
// (004) one; the counter "ns_per_point" compares them.

#include "simulation/dynamical.h"
#include "simulation/kinematical.h"
#include "simulation/physicsstack.h"
#include "structure/config.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>

namespace {

const char* const kStructures[] = {
    "laser-10000.txt",
    "superlattice-10x20-40.txt",
    "graded-buffer-3500.txt",
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

// geometry: 0 (004), 1 (224) grazing incidence, 2 (224) grazing exit.
Reflection reflectionOf(int geometry) {
    Reflection r;
    if (geometry > 0) {
        r.h = 2;
        r.k = 2;
        r.grazing = geometry == 1 ? Reflection::Incidence : Reflection::Exit;
    }
    return r;
}

// `points` angles over the substrate's Bragg angle +/- 1.5 degrees.
QVector<double> grid(const PhysicsStack& stack, const Reflection& r, int points) {
    const double thetaB = substrateBraggAngle(stack, r);
    QVector<double> theta;
    for (int i = 0; i < points; ++i)
        theta.append(thetaB - 1.5 + 3.0 * i / (points - 1));
    return theta;
}

PhysicsStack stackOf(int index, bool relaxed) {
    Structure s = structure(index);
    if (relaxed) {
        for (int i = 0; i < s.layers.size(); ++i)
            s.ext.relaxations.append({i + 1, 0.5, 0});
    }
    return buildPhysicsStack(s);
}

// Arguments: structure, geometry, relaxed (0 or 1).
void dynamical(benchmark::State& state) {
    const PhysicsStack stack = stackOf(int(state.range(0)), state.range(2) != 0);
    const Reflection r = reflectionOf(int(state.range(1)));
    const QVector<double> theta = grid(stack, r, 2000);
    for (auto _ : state) {
        QVector<double> curve = dynamicalReflectivity(stack, r, theta);
        benchmark::DoNotOptimize(curve.data());
    }
    state.counters["slabs"] = stack.period.size();
    state.counters["ns_per_point"] = benchmark::Counter(
        double(theta.size()) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    static const char* const kGeometry[] = {"(004)", "(224) incidence", "(224) exit"};
    state.SetLabel(QStringLiteral("%1 %2%3")
                       .arg(kStructures[state.range(0)], kGeometry[state.range(1)],
                            state.range(2) ? " relaxed" : "")
                       .toStdString());
}

void kinematical(benchmark::State& state) {
    const PhysicsStack stack = stackOf(int(state.range(0)), state.range(2) != 0);
    const Reflection r = reflectionOf(int(state.range(1)));
    const QVector<double> theta = grid(stack, r, 2000);
    for (auto _ : state) {
        QVector<double> curve = kinematicalReflectivity(stack, r, theta);
        benchmark::DoNotOptimize(curve.data());
    }
    state.counters["ns_per_point"] = benchmark::Counter(
        double(theta.size()) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(dynamical)
    ->ArgsProduct({{0, 1}, {0, 1, 2}, {0}})
    ->ArgsProduct({{2}, {0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(kinematical)->ArgsProduct({{1}, {0, 1, 2}, {0}})->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
