// The calculation inside the window's process, after the window has painted: painting code
// may leave the CPU in a state that slows every later libm call in the thread (dirty upper
// halves of the AVX registers), which a bare benchmark never sees. Also the whole road of a
// drop (load, calculation off the GUI thread on 1 or 2 threads, both files, both plots
// painted), a repaint of a loaded window, and the longest the GUI thread goes without
// serving its events while a calculation of several seconds runs; and how long the window
// takes to close while a fit runs; and a slider of a fit by hand, model and repaint.

#include "app/backgroundtask.h"
#include "app/body.h"
#include "app/fitsliders.h"
#include "simulation/curve.h"
#include "simulation/expansion.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <memory>

#include <benchmark/benchmark.h>

namespace {

const char* const kLaser = XRD_BENCH_DATA_DIR "/laser-10000.txt";
const char* const kGraded = XRD_BENCH_DATA_DIR "/graded-buffer-3500.txt";

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

// Serves the event loop until the calculation off the GUI thread has been swapped in.
void waitIdle(Body& body) {
    while (body.busy())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void curveAfterPaint(benchmark::State& state) {
    QTemporaryDir dir;
    Body body;
    body.show();
    drop(body, scratchCopy(dir));
    waitIdle(body);
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

// The argument is the number of threads that sum the curve.
void dropToPainted(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = scratchCopy(dir);
    Body body;
    body.setThreads(int(state.range(0)));
    body.show();
    for (auto _ : state) {
        drop(body, path);
        waitIdle(body);
        benchmark::DoNotOptimize(body.grab());
    }
}

void repaintLoaded(benchmark::State& state) {
    QTemporaryDir dir;
    Body body;
    body.show();
    drop(body, scratchCopy(dir));
    waitIdle(body);
    for (auto _ : state)
        benchmark::DoNotOptimize(body.grab());
}

// The 3500-monolayer graded buffer at 0.11 Å: 1.9 million curve points, several seconds of
// summing. A timer every 5 ms on the GUI thread records the gaps between its ticks: the drop
// itself (loading and preparing run on the GUI thread), the longest gap while the calculation
// runs off it, and the longest after it, when the new results are swapped in and painted.
void guiStallDuringCalculation(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath("graded.txt");
    QFile in(QString::fromUtf8(kGraded));
    QFile out(path);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot copy the graded buffer");
        return;
    }
    out.write(in.readAll().replace("WAVELENGTH 1.5406", "WAVELENGTH 0.11"));
    out.close();
    Body body;
    body.show();
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        qint64 gap = 0;
        QTimer tick;
        tick.setInterval(5);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            gap = std::max(gap, now - last);
            last = now;
        });
        tick.start();
        QCoreApplication::processEvents();
        const qint64 dropStart = clock.elapsed();
        drop(body, path);
        state.counters["drop_ms"] = double(clock.elapsed() - dropStart);
        last = clock.elapsed();
        gap = 0;
        waitIdle(body);
        state.counters["calculation_s"] = double(clock.elapsed()) * 1e-3;
        state.counters["longest_gap_ms"] = double(gap);
        gap = 0;
        const qint64 end = clock.elapsed() + 500;
        while (clock.elapsed() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        state.counters["after_gap_ms"] = double(gap);
    }
}

// The laser stack's fit (8 parameters, 1,400 points; the argument 1: with the dynamical model,
// whose every evaluation takes longer) runs for a second, then the window closes: the time
// the window takes to go, the threads it left to end on their own, and whether a
// NAME-fitted file appeared (it must not).
void closeDuringFit(benchmark::State& state) {
    QTemporaryDir dir;
    QFile::copy(QStringLiteral(XRD_BENCH_DATA_DIR "/fit-laser-scan.dat"),
                dir.filePath("fit-laser-scan.dat"));
    QFile in(QStringLiteral(XRD_BENCH_DATA_DIR "/fit-laser.txt"));
    QFile out(dir.filePath("fit-laser.txt"));
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot copy the laser fit");
        return;
    }
    out.write(in.readAll() + (state.range(0) ? "MODEL dynamical\n" : ""));
    out.close();
    for (auto _ : state) {
        auto body = std::make_unique<Body>();
        drop(*body, out.fileName());
        waitIdle(*body);
        for (QAction* a : body->findChildren<QAction*>())
            if (a->text() == QStringLiteral("&Fit"))
                a->trigger();
        QElapsedTimer running;
        running.start();
        while (running.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QElapsedTimer closing;
        closing.start();
        body.reset();
        state.counters["close_ms"] = double(closing.elapsed());
        state.counters["left_running"] = BackgroundTask::orphans();
        while (BackgroundTask::orphans() > 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        state.counters["fitted_written"] = QFile::exists(dir.filePath("fit-laser-fitted.txt"));
    }
}

// A slider held over the real 3-period InGaAs/GaAs superlattice scan (1,399 points) under the
// dynamical model: each iteration moves the well's thickness or its In fraction, computes the
// model at the scan's angles and repaints the diffraction plot, as a mouse move does. The
// rate counter is the updates per second a drag gets.
void sliderUpdate(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath("sl.txt");
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot write the superlattice");
        return;
    }
    out.write("WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 26 0.2545 1\nLAYER 64 0 1\nREPEAT 3\n"
              "MODEL dynamical\nMEASURED " XRD_TEST_DATA_DIR "/measured/ingaas-gaas-sl-004.x00\n"
              "FIT LAYER 1 N 12 40\nFIT LAYER 1 X 0.1 0.4\nFIT LAYER 2 N 40 90\n"
              "FIT OFFSET -0.02 0.02\n");
    out.close();
    Body body;
    body.show();
    body.open(path);
    waitIdle(body);
    QCoreApplication::processEvents();
    auto* sliders = body.findChild<FitSliders*>();
    auto* plot = body.findChild<QWidget*>(QStringLiteral("KSpace"));
    if (!sliders || sliders->count() != 4 || !plot) {
        state.SkipWithError("no sliders for the superlattice");
        return;
    }
    QSlider* thickness = sliders->slider(0);
    QSlider* indium = sliders->slider(1);
    thickness->setSliderDown(true);
    indium->setSliderDown(true);
    int step = 0;
    for (auto _ : state) {
        ++step;
        QSlider* moved = step % 2 ? thickness : indium;
        moved->setValue(moved->maximum() / 3 + step % 7);
        if (!sliders->evaluateNow()) {
            state.SkipWithError("the model was not computed");
            break;
        }
        plot->repaint();
    }
    state.counters["updates_per_second"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["agreement"] = sliders->liveAgreement();
    // Not released: nothing is written.
}

} // namespace

BENCHMARK(sliderUpdate)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(curveAfterPaint)->Unit(benchmark::kMillisecond);
BENCHMARK(dropToPainted)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(repaintLoaded)->Unit(benchmark::kMillisecond);
BENCHMARK(guiStallDuringCalculation)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(closeDuringFit)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The window keeps its recent files in the settings: not the user's.
    QStandardPaths::setTestModeEnabled(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
