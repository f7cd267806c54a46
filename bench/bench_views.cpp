// Paint time of a 10^6-point diffraction curve (logarithmic scale) into an 800 x 600 image,
// as one repaint of the plot while the user pans, for a realistic curve (peaks, fringes,
// background) and for random noise, on the whole range and zoomed ten times:
// - PlainPolyline: every point mapped and handed to the painter in one drawPolyline call,
//   the straightforward way (the curve alone);
// - CurvePainterEveryPoint: every point mapped (log10 and the frame's mappings), then the
//   column reduction of CurvePainter (the curve alone: shows what mapping every point costs);
// - DataCurveReduced: drawDataCurve as the view uses it (the curve alone);
// - ViewAllPoints / ViewReduced: the whole view (frame, grids, labels, curve) with every
//   point handed to the painter, and as the program draws it.
// And one repaint of the composition view of the 10,000-monolayer laser stack (a boundary and
// a label per monolayer), unzoomed and zoomed, at the window's size of that plot and larger:
// - CompositionRepaint: as the program draws it.
#include "plot/chcoord.h"
#include "simulation/expansion.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"
#include "views/compositionview.h"
#include "views/curvepainter.h"
#include "views/datacurve.h"
#include "views/diffractionview.h"
#include "views/overlayview.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <QVector>

#include <benchmark/benchmark.h>

#include <cmath>
#include <optional>
#include <random>

namespace {

constexpr int kPoints = 1000000;
constexpr int kWidth = 800;
constexpr int kHeight = 600;

struct Curve {
    QVector<double> theta;
    QVector<double> intensity;
};

// Peaks of very different heights over a decaying background, with thickness fringes.
Curve peaks() {
    Curve c;
    const double list[][3] = {{15.2, 3e5, 0.02},
                              {31.7, 2e6, 0.01},
                              {32.4, 8e4, 0.08},
                              {48.9, 5e2, 0.3},
                              {66.3, 1e5, 0.015}};
    for (int i = 0; i < kPoints; ++i) {
        const double t = 0.01 + 89.98 * i / (kPoints - 1);
        double v = 50.0 * std::exp(-t / 12.0) + 0.5;
        for (const auto& p : list) {
            const double u = (t - p[0]) / p[2];
            v += p[1] / (1.0 + u * u);
        }
        c.theta.append(t);
        c.intensity.append(v * (1.0 + 0.6 * std::pow(std::sin(t * 900.0), 2)));
    }
    return c;
}

Curve noise() {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> exponent(0.0, 6.0);
    Curve c;
    for (int i = 0; i < kPoints; ++i) {
        c.theta.append(90.0 * i / (kPoints - 1));
        c.intensity.append(std::pow(10.0, exponent(rng)));
    }
    return c;
}

const Curve& curve(int kind) {
    static const Curve p = peaks();
    static const Curve n = noise();
    return kind == 0 ? p : n;
}

// The frame of the "KSpace" display with the derived logarithmic range, zoomed about the
// main peak by `zoom` in x.
void setFrame(ChCoord& coord, const Curve& c, int zoom) {
    setDiffractionMargins(coord);
    coord.setArea(0, kHeight, kWidth, 0);
    if (const std::optional<PlotRange> range = diffractionRange(c.theta, c.intensity, true))
        showRange(coord, *range);
    const double centre = 31.7;
    const double half = 0.5 * (coord.scaleX1 - coord.scaleX0) / zoom;
    coord.setScale(centre - half, coord.scaleY0, centre + half, coord.scaleY1);
    coord.setArea(0, kHeight, kWidth, 0);
    coord.applyMargins();
}

void setLabels(benchmark::State& state) {
    state.SetLabel((state.range(0) == 0 ? "peaks" : "noise") +
                   std::string(state.range(1) == 1 ? ", whole range" : ", zoom x10"));
}

// The curve alone, every whole-pixel point in one drawPolyline call.
void BM_PlainPolyline(benchmark::State& state) {
    const Curve& c = curve(static_cast<int>(state.range(0)));
    ChCoord coord;
    setFrame(coord, c, static_cast<int>(state.range(1)));
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    QPolygonF points;
    points.reserve(kPoints);
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter p(&image);
        p.setPen(QColor(0, 200, 0));
        points.clear();
        for (int i = 0; i < c.theta.size(); ++i) {
            points.append(QPointF(std::trunc(coord.toPixX(c.theta[i])),
                                  std::trunc(coord.toPixY(std::log10(c.intensity[i])))));
        }
        p.drawPolyline(points);
    }
    setLabels(state);
}

// The curve alone through the column-reducing curve painter.
void BM_CurvePainterEveryPoint(benchmark::State& state) {
    const Curve& c = curve(static_cast<int>(state.range(0)));
    ChCoord coord;
    setFrame(coord, c, static_cast<int>(state.range(1)));
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    qint64 drawn = 0;
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter p(&image);
        p.setPen(QColor(0, 200, 0));
        CurvePainter painter(p, QRectF(0, 0, kWidth, kHeight));
        for (int i = 0; i < c.theta.size(); ++i) {
            painter.addPoint(std::trunc(coord.toPixX(c.theta[i])),
                             std::trunc(coord.toPixY(std::log10(c.intensity[i]))));
        }
        painter.finish();
        drawn = painter.pointsDrawn();
    }
    state.counters["points drawn"] = static_cast<double>(drawn);
    setLabels(state);
}

// The curve alone as the view draws it.
void BM_DataCurveReduced(benchmark::State& state) {
    const Curve& c = curve(static_cast<int>(state.range(0)));
    ChCoord coord;
    setFrame(coord, c, static_cast<int>(state.range(1)));
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter p(&image);
        p.setPen(QColor(0, 200, 0));
        drawDataCurve(p, coord, c.theta, c.intensity, true);
    }
    setLabels(state);
}

// One whole repaint of the diffraction view, logarithmic scale.
void viewBenchmark(benchmark::State& state, CurvePainter::Detail detail) {
    const Curve& c = curve(static_cast<int>(state.range(0)));
    ChCoord coord;
    setFrame(coord, c, static_cast<int>(state.range(1)));
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter p(&image);
        coord.setArea(0, kHeight, kWidth, 0);
        coord.applyMargins();
        drawDiffraction(p, coord, c.theta, c.intensity, true, detail);
    }
    setLabels(state);
}

void BM_ViewAllPoints(benchmark::State& state) {
    viewBenchmark(state, CurvePainter::Detail::AllPoints);
}

void BM_ViewReduced(benchmark::State& state) {
    viewBenchmark(state, CurvePainter::Detail::Reduced);
}

// The depth profile of the laser stack, as the window holds it after a drop.
const ResultArrays& laserProfile() {
    static const ResultArrays r = [] {
        ResultArrays out;
        Config config;
        if (config.load(QStringLiteral(XRD_BENCH_DATA_DIR "/laser-10000.txt")))
            expandLayers(config, out);
        return out;
    }();
    return r;
}

// Arguments: plot width, height, zoom factor in depth (about the middle of the stack).
void BM_CompositionRepaint(benchmark::State& state) {
    const ResultArrays& r = laserProfile();
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const double zoom = static_cast<double>(state.range(2));
    ChCoord coord;
    coord.setArea(0, height, width, 0);
    coord.applyMargins();
    if (const std::optional<PlotRange> range = compositionRange(r)) {
        const double middle = 0.5 * (range->x.lo + range->x.hi);
        const double half = 0.5 * (range->x.hi - range->x.lo) / zoom;
        coord.setScale(middle - half, range->y.lo, middle + half, range->y.hi);
    }
    QImage image(width, height, QImage::Format_RGB32);
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter p(&image);
        coord.setArea(0, height, width, 0);
        coord.applyMargins();
        drawComposition(p, coord, r);
    }
    state.counters["monolayers"] = static_cast<double>(r.depth.size() - 1);
}

// One repaint of the overlay of a measured scan and its model (the curve's first 20 000 points
// as both, the model a little off), with legend, titles and the residual strip.
void BM_OverlayRepaint(benchmark::State& state) {
    const Curve& c = curve(0);
    OverlayData d;
    const int n = std::min(20000, static_cast<int>(c.theta.size()));
    for (int i = 0; i < n; ++i) {
        d.theta.append(c.theta[i]);
        d.measured.append(c.intensity[i]);
        d.model.append(1.1 * c.intensity[i]);
    }
    d.measuredPeaks = {d.theta[n / 2]};
    d.modelPeaks = {d.theta[n / 2]};
    ChCoord coord;
    setDiffractionMargins(coord);
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    std::optional<PlotRange> range = overlayRange(d, true);
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter p(&image);
        coord.setArea(0, kHeight, kWidth, 0);
        coord.applyMargins();
        if (range)
            showRange(coord, *range);
        drawOverlay(p, coord, d, true);
    }
    state.counters["points"] = n;
}

void arguments(benchmark::internal::Benchmark* b) {
    b->Args({0, 1})->Args({0, 10})->Args({1, 1})->Args({1, 10});
    b->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_PlainPolyline)->Apply(arguments);
BENCHMARK(BM_CurvePainterEveryPoint)->Apply(arguments);
BENCHMARK(BM_DataCurveReduced)->Apply(arguments);
BENCHMARK(BM_ViewAllPoints)->Apply(arguments);
BENCHMARK(BM_ViewReduced)->Apply(arguments);
BENCHMARK(BM_OverlayRepaint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompositionRepaint)
    ->Args({780, 140, 1})
    ->Args({780, 140, 10})
    ->Args({1600, 400, 1})
    ->Args({1600, 400, 100})
    ->Unit(benchmark::kMillisecond);

// The labels need fonts, so a QGuiApplication; without a display it runs offscreen.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
