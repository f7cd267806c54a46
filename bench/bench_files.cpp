// Writing the two result files of the laser stack (its depth profile and its curve): the
// text stream that used to write them, then writeColumns on one and on two threads. All
// three write the same bytes.

#include "simulation/curve.h"
#include "simulation/expansion.h"
#include "simulation/numberformat.h"
#include "simulation/resultarrays.h"
#include "simulation/resultfiles.h"
#include "structure/config.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <benchmark/benchmark.h>

#include <ctime>

namespace {

const ResultArrays& laserStack() {
    static const ResultArrays results = [] {
        Config config;
        const QString path = QStringLiteral(XRD_BENCH_DATA_DIR "/laser-10000.txt");
        if (!config.load(path) || !config.valid)
            qFatal("cannot load %s", qPrintable(path));
        ResultArrays r;
        expandLayers(config, r);
        computeCurve(config, r);
        return r;
    }();
    return results;
}

// The former writeColumns: one text stream with default settings.
bool writeWithTextStream(const QString& path, const QVector<double>& first,
                         const QVector<double>& second, const QVector<double>& third) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&file);
    for (int i = 0; i < first.size(); ++i)
        out << first[i] << '\t' << second[i] << '\t' << third[i] << '\n';
    out.flush();
    return file.commit();
}

// Lines written, and the processor time of every thread per iteration (the benchmark's own
// CPU column counts the calling thread only).
void setCounters(benchmark::State& state, const ResultArrays& r, std::clock_t start) {
    state.counters["lines"] = r.q.size() + r.depth.size();
    state.counters["all_threads_cpu_ms"] =
        1e3 * double(std::clock() - start) / CLOCKS_PER_SEC / double(state.iterations());
}

void textStream(benchmark::State& state) {
    const ResultArrays& r = laserStack();
    QTemporaryDir dir;
    const std::clock_t start = std::clock();
    for (auto _ : state) {
        writeWithTextStream(dir.filePath("p-cmp.txt"), r.depth, r.inProfile, r.asProfile);
        writeWithTextStream(dir.filePath("p-dif.txt"), r.theta, r.intensity, r.q);
    }
    setCounters(state, r, start);
}

// Argument: the number of formatting threads.
void chunked(benchmark::State& state) {
    const ResultArrays& r = laserStack();
    const int threads = int(state.range(0));
    QTemporaryDir dir;
    const std::clock_t start = std::clock();
    for (auto _ : state) {
        writeColumns(dir.filePath("p-cmp.txt"), r.depth, r.inProfile, r.asProfile, threads);
        writeColumns(dir.filePath("p-dif.txt"), r.theta, r.intensity, r.q, threads);
    }
    setCounters(state, r, start);
}

// The numbers alone, without a file: the curve's three columns.
void formatOnlyTextStream(benchmark::State& state) {
    const ResultArrays& r = laserStack();
    for (auto _ : state) {
        QString text;
        QTextStream out(&text);
        for (int i = 0; i < r.q.size(); ++i)
            out << r.theta[i] << r.intensity[i] << r.q[i];
        out.flush();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations() * 3 * r.q.size());
}

void formatOnlyToChars(benchmark::State& state) {
    const ResultArrays& r = laserStack();
    QByteArray text(3 * maxFormattedDoubleLength * r.q.size(), Qt::Uninitialized);
    for (auto _ : state) {
        char* out = text.data();
        for (int i = 0; i < r.q.size(); ++i) {
            out = formatDouble(out, r.theta[i]);
            out = formatDouble(out, r.intensity[i]);
            out = formatDouble(out, r.q[i]);
        }
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations() * 3 * r.q.size());
}

} // namespace

BENCHMARK(textStream)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(chunked)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(formatOnlyTextStream)->Unit(benchmark::kMillisecond);
BENCHMARK(formatOnlyToChars)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
