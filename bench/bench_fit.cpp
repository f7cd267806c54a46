// The instrument chain the fit runs at every evaluation (resolution, scale and background,
// agreement) on 1,400 measured points, and the optimiser's own cost per evaluation on a
// residual function that costs next to nothing, then on one that costs about as much as a
// short diffraction curve, at 1 and 2 threads.

#include "analysis/fit.h"
#include "analysis/instrument.h"
#include "analysis/resolution.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <random>

namespace {

constexpr int kMeasured = 1400;
constexpr double kFwhm = 0.01;

struct Scan {
    QVector<double> theta, measured, fine;
    double fineStart = 0.0, fineStep = 0.0;
};

// A substrate peak, a layer peak with fringes, 1 cps of background, Poisson counts of 1 s.
const Scan& scan() {
    static const Scan s = [] {
        Scan r;
        for (int i = 0; i < kMeasured; ++i)
            r.theta.push_back(31.5 + 0.0025 * i);
        r.fineStep = Resolution(kFwhm).fineStep(0.0025);
        r.fineStart = r.theta.front() - 5 * kFwhm;
        const int n = int((r.theta.back() + 5 * kFwhm - r.fineStart) / r.fineStep) + 2;
        for (int i = 0; i < n; ++i) {
            const double t = r.fineStart + i * r.fineStep;
            const double x = (t - 33.02) / 0.002, y = (t - 32.6) / 0.03;
            const double fringes = std::pow(std::sin(40 * y) / (40 * std::sin(y) + 1e-12), 2);
            r.fine.push_back(1.0 / (1.0 + x * x) + 0.05 * fringes + 1e-7);
        }
        const QVector<double> clean =
            convolveResolution(r.fineStart, r.fineStep, r.fine, kFwhm, r.theta);
        std::mt19937 rng(1);
        for (double c : clean) {
            std::poisson_distribution<long> counts(2e5 * c + 1.0);
            r.measured.push_back(double(counts(rng)));
        }
        return r;
    }();
    return s;
}

void BM_Convolve(benchmark::State& state) {
    const Scan& s = scan();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            convolveResolution(s.fineStart, s.fineStep, s.fine, kFwhm, s.theta));
    state.counters["fine_points"] = s.fine.size();
}
BENCHMARK(BM_Convolve)->Unit(benchmark::kMicrosecond);

void BM_ScaleBackground(benchmark::State& state) {
    const Scan& s = scan();
    const QVector<double> curve =
        convolveResolution(s.fineStart, s.fineStep, s.fine, kFwhm, s.theta);
    for (auto _ : state)
        benchmark::DoNotOptimize(solveScaleBackground(s.measured, curve));
}
BENCHMARK(BM_ScaleBackground)->Unit(benchmark::kMicrosecond);

void BM_Agreement(benchmark::State& state) {
    const Scan& s = scan();
    const QVector<double> curve =
        convolveResolution(s.fineStart, s.fineStep, s.fine, kFwhm, s.theta);
    for (auto _ : state)
        benchmark::DoNotOptimize(agreement(s.measured, curve));
}
BENCHMARK(BM_Agreement)->Unit(benchmark::kMicrosecond);

// What one fit evaluation costs beyond the diffraction curve itself.
void BM_InstrumentChain(benchmark::State& state) {
    const Scan& s = scan();
    for (auto _ : state) {
        QVector<double> model = convolveResolution(s.fineStart, s.fineStep, s.fine, kFwhm, s.theta);
        const ScaleBackground sb = solveScaleBackground(s.measured, model);
        for (double& v : model)
            v = sb.scale * v + sb.background;
        benchmark::DoNotOptimize(agreement(s.measured, model));
    }
}
BENCHMARK(BM_InstrumentChain)->Unit(benchmark::kMicrosecond);

// The same, taking the agreement the solution of scale and background already gives.
void BM_InstrumentChainShort(benchmark::State& state) {
    const Scan& s = scan();
    for (auto _ : state) {
        const QVector<double> curve =
            convolveResolution(s.fineStart, s.fineStep, s.fine, kFwhm, s.theta);
        benchmark::DoNotOptimize(solveScaleBackground(s.measured, curve).agreement);
    }
}
BENCHMARK(BM_InstrumentChainShort)->Unit(benchmark::kMicrosecond);

// Five parameters, one of them an integer; `work` sine terms per residual set the cost.
FitProblem problem(int threads, int work) {
    FitProblem p;
    p.lower = {0, 0, 0, 0, 1};
    p.upper = {2, 2, 2, 2, 40};
    p.start = {1, 1, 1, 1, 20};
    p.integer = {false, false, false, false, true};
    p.threads = threads;
    p.maxGenerations = 60;
    p.seed = 3;
    p.residuals = [work](const std::vector<double>& v) {
        std::vector<double> r(20);
        for (std::size_t i = 0; i < r.size(); ++i) {
            double s = 0;
            for (int k = 0; k < work; ++k)
                s += std::sin(v[i % 4] * (k + 1) + v[4] * 1e-3 * double(i));
            r[i] = v[i % 4] - 0.3 * double(i % 4) - 0.1 * (v[4] - 17) + 1e-9 * s;
        }
        return r;
    };
    return p;
}

void fitBenchmark(benchmark::State& state, int work) {
    const FitProblem p = problem(int(state.range(0)), work);
    long evaluations = 0;
    double seconds = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const FitOutcome f = runFit(p);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        evaluations += f.evaluations;
        benchmark::DoNotOptimize(f.bestCost);
    }
    state.counters["evaluations_per_s"] = double(evaluations) / seconds;
    state.counters["us_per_evaluation"] = 1e6 * seconds / double(evaluations);
}

// A residual function of about 0.2 µs: what is left is the optimiser's own overhead.
void BM_FitCheapResiduals(benchmark::State& state) {
    fitBenchmark(state, 0);
}
BENCHMARK(BM_FitCheapResiduals)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// About 200 µs per evaluation, like a short curve: the speed-up from the second thread.
void BM_FitCostlyResiduals(benchmark::State& state) {
    fitBenchmark(state, 800);
}
BENCHMARK(BM_FitCostlyResiduals)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
