// The calculation inside the window's process, after the window has painted: painting code
// may leave the CPU in a state that slows every later libm call in the thread (dirty upper
// halves of the AVX registers), which a bare benchmark never sees. Also the whole road of a
// drop (load, calculation, both files, both plots painted) and a repaint of a loaded window.

#include "body.h"
#include "config.h"
#include "curve.h"
#include "expansion.h"
#include "resultarrays.h"

#include <QApplication>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

const char* const kLaser = XRD_BENCH_DATA_DIR "/laser-10000.txt";

// A copy of the structure in a scratch folder, so the result files land there.
QString scratchCopy(const QTemporaryDir& dir) {
    const QString path = dir.filePath("laser.txt");
    QFile::remove(path);
    QFile::copy(QString::fromUtf8(kLaser), path);
    return path;
}

void drop(Body& body, const QString& path) {
    QMetaObject::invokeMethod(&body, "droppedInputFile", Q_ARG(QStringList, QStringList{path}));
}

void curveAfterPaint(benchmark::State& state) {
    QTemporaryDir dir;
    Body body;
    body.show();
    drop(body, scratchCopy(dir));
    benchmark::DoNotOptimize(body.grab());

    Config config;
    config.load(QString::fromUtf8(kLaser));
    ResultArrays r;
    expandLayers(config, r);
    for (auto _ : state) {
        computeCurve(config, r);
        benchmark::DoNotOptimize(r.intensity.data());
    }
    state.counters["points"] = r.q.size();
}

void dropToPainted(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = scratchCopy(dir);
    Body body;
    body.show();
    for (auto _ : state) {
        drop(body, path);
        benchmark::DoNotOptimize(body.grab());
    }
}

void repaintLoaded(benchmark::State& state) {
    QTemporaryDir dir;
    Body body;
    body.show();
    drop(body, scratchCopy(dir));
    for (auto _ : state)
        benchmark::DoNotOptimize(body.grab());
}

} // namespace

BENCHMARK(curveAfterPaint)->Unit(benchmark::kMillisecond);
BENCHMARK(dropToPainted)->Unit(benchmark::kMillisecond);
BENCHMARK(repaintLoaded)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
