// Reciprocal-space maps: reading and gridding a map of a million points (an XRDML file of
// 500 lines of 2000 points, 2theta-omega lines at stepped omega offsets around GaAs (224)
// with four spots over a noisy background, made here), and the repaint of a 500 × 500 map
// after a zoom. Compare the first with tools/rsm_compare_xu.py, which times xrayutilities'
// XRDML reader and Gridder2D on the same kind of file.

#include "plot/chcoord.h"
#include "views/mapview.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

constexpr int kLines = 500;
constexpr int kPoints = 2000;

QByteArray makeMap() {
    QByteArray x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xrdMeasurements "
                   "xmlns=\"http://www.xrdml.com/XRDMeasurement/1.5\"><xrdMeasurement>"
                   "<usedWavelength><kAlpha1>1.5405929</kAlpha1></usedWavelength>\n";
    RsmGeometry g;
    const double spots[4][2] = {
        {3.14346, 4.44552}, {3.14346, 4.41540}, {3.13224, 4.39964}, {3.11004, 4.39826}};
    unsigned noise = 12345;
    for (int i = 0; i < kLines; ++i) {
        const double offset = 34.6 + 1.3 * i / (kLines - 1); // omega - 2theta/2
        const double t0 = 82.3, t1 = 84.1;
        x += "<scan status=\"Completed\"><dataPoints><positions axis=\"2Theta\"><startPosition>" +
             QByteArray::number(t0, 'f', 6) + "</startPosition><endPosition>" +
             QByteArray::number(t1, 'f', 6) +
             "</endPosition></positions><positions axis=\"Omega\"><startPosition>" +
             QByteArray::number(t0 / 2 + offset, 'f', 6) + "</startPosition><endPosition>" +
             QByteArray::number(t1 / 2 + offset, 'f', 6) +
             "</endPosition></positions><commonCountingTime>1</commonCountingTime>"
             "<intensities>";
        for (int p = 0; p < kPoints; ++p) {
            const double t = t0 + (t1 - t0) * p / (kPoints - 1);
            double qx = 0, qz = 0;
            anglesToQ(t / 2 + offset, t, g, qx, qz);
            double rate = 2;
            for (const auto& s : spots)
                rate += 2e4 * std::exp(-0.5 * (std::pow((qx - s[0]) / 0.0015, 2) +
                                               std::pow((qz - s[1]) / 0.0015, 2)));
            noise = noise * 1103515245u + 12345u;
            x += QByteArray::number(std::floor(rate + (noise >> 16) % 3)) + ' ';
        }
        x += "</intensities></dataPoints></scan>\n";
    }
    return x + "</xrdMeasurement></xrdMeasurements>\n";
}

const QByteArray& mapBytes() {
    static const QByteArray bytes = makeMap();
    return bytes;
}

void BM_ReadAndGridMap(benchmark::State& state) {
    const QByteArray& bytes = mapBytes();
    for (auto _ : state) {
        const AreaMapReadResult r = readAreaMapBytes(bytes, QStringLiteral("bench"));
        QVector<double> qx, qz;
        mapToQ(r.map, RsmGeometry(), qx, qz);
        const MapGrid g = gridMap(qx, qz, r.map.intensity, 500, 500);
        benchmark::DoNotOptimize(g.sum.data());
        if (r.map.x.size() != kLines * kPoints)
            state.SkipWithError("the map was not read whole");
    }
    state.counters["points"] = kLines * kPoints;
    state.counters["MB"] = bytes.size() / 1e6;
}
BENCHMARK(BM_ReadAndGridMap)->Unit(benchmark::kMillisecond)->Iterations(3);

// A repaint of an 800 × 700 plot of a 500 × 500 map zoomed to a quarter of its extent.
void BM_RepaintZoomedMap(benchmark::State& state) {
    const AreaMapReadResult r = readAreaMapBytes(mapBytes(), QStringLiteral("bench"));
    MapPicture picture;
    RsmSettings settings;
    settings.nx = settings.nz = 500;
    picture.analysis = analyseMap(r.map, nullptr, settings);
    picture.prepare();
    QImage image(800, 700, QImage::Format_ARGB32_Premultiplied);
    ChCoord coord;
    coord.setArea(0, 700, 800, 0);
    setMapMargins(coord);
    coord.applyMargins();
    const QRectF e = mapExtent(picture.analysis.grid);
    coord.setScale(e.center().x() - e.width() / 4, e.center().y() - e.height() / 4,
                   e.center().x() + e.width() / 4, e.center().y() + e.height() / 4);
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter p(&image);
        drawMap(p, coord, picture);
        p.end();
        benchmark::DoNotOptimize(image.bits());
    }
}
BENCHMARK(BM_RepaintZoomedMap)->Unit(benchmark::kMillisecond);

} // namespace

// The labels need fonts, so a QGuiApplication; without a display it runs offscreen.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
