#include "plot/chcoord.h"
#include "simulation/resultarrays.h"
#include "tests/views/recordingdevice.h"
#include "tests/views/testcurves.h"
#include "views/compositionview.h"
#include "views/curvepainter.h"
#include "views/diffractionview.h"
#include "views/viewsupport.h"

#include "tests/common/exact.h"

#include <QImage>
#include <QPainter>
#include <QPen>
#include <QPolygonF>
#include <QtTest>

#include <cmath>
#include <limits>
#include <optional>
#include <random>

using testcurves::Curve;

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

// Zoom of a view relative to the derived range: the centre as fractions of the derived
// range, and the factor by which each axis is narrowed (below 1 widens).
struct Zoom {
    double centreX, centreY, factorX, factorY;
};

// The diffraction frame of an 800 x 600 display with the main window's margins, with the
// range derived from the curve and then zoomed.
void zoomedFrame(ChCoord& coord, const Curve& c, bool logScale, const Zoom& z) {
    setDiffractionMargins(coord);
    coord.setArea(0, kHeight, kWidth, 0);
    coord.applyMargins();
    if (const std::optional<PlotRange> range = diffractionRange(c.theta, c.intensity, logScale))
        showRange(coord, *range);
    const double cx = coord.scaleX0 + z.centreX * (coord.scaleX1 - coord.scaleX0);
    const double cy = coord.scaleY0 + z.centreY * (coord.scaleY1 - coord.scaleY0);
    const double hx = 0.5 * (coord.scaleX1 - coord.scaleX0) / z.factorX;
    const double hy = 0.5 * (coord.scaleY1 - coord.scaleY0) / z.factorY;
    coord.setScale(cx - hx, cy - hy, cx + hx, cy + hy);
    coord.setArea(0, kHeight, kWidth, 0);
}

QImage whiteImage() {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

QImage drawView(const Curve& c, bool logScale, const Zoom& z, CurvePainter::Detail detail) {
    ChCoord coord;
    zoomedFrame(coord, c, logScale, z);
    QImage image = whiteImage();
    QPainter p(&image);
    coord.applyMargins();
    drawDiffraction(p, coord, c.theta, c.intensity, logScale, detail);
    return image;
}

// The curve alone, every whole-pixel point handed to QPainter::drawPolyline in one call:
// what the view draws without reduction and clipping.
QImage drawRawCurve(const Curve& c, bool logScale, const Zoom& z, const QPen& pen) {
    ChCoord coord;
    zoomedFrame(coord, c, logScale, z);
    coord.applyMargins();
    QPolygonF points;
    for (int i = 0; i < c.theta.size(); ++i) {
        const double y = logScale ? std::log10(c.intensity[i]) : c.intensity[i];
        points.append(QPointF(std::trunc(coord.toPixX(c.theta[i])), std::trunc(coord.toPixY(y))));
    }
    QImage image = whiteImage();
    QPainter p(&image);
    p.setPen(pen);
    p.drawPolyline(points);
    return image;
}

QImage drawCurveOnly(const Curve& c, bool logScale, const Zoom& z, const QPen& pen,
                     CurvePainter::Detail detail) {
    ChCoord coord;
    zoomedFrame(coord, c, logScale, z);
    coord.applyMargins();
    QImage image = whiteImage();
    QPainter p(&image);
    p.setPen(pen);
    CurvePainter curve(p, QRectF(0, 0, kWidth, kHeight), detail);
    for (int i = 0; i < c.theta.size(); ++i) {
        const double y = logScale ? std::log10(c.intensity[i]) : c.intensity[i];
        curve.addPoint(std::trunc(coord.toPixX(c.theta[i])), std::trunc(coord.toPixY(y)));
    }
    return image;
}

// Number of pixels that differ, and the first of them for the failure message.
int differingPixels(const QImage& a, const QImage& b, QPoint* first) {
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const QRgb* ra = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const QRgb* rb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            if (ra[x] != rb[x]) {
                if (count == 0)
                    *first = QPoint(x, y);
                ++count;
            }
        }
    }
    return count;
}

int colouredPixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                ++count;
        }
    }
    return count;
}

QPolygonF polygon(std::initializer_list<QPointF> points) {
    QPolygonF p;
    for (const QPointF& q : points)
        p.append(q);
    return p;
}

#define COMPARE_IMAGES(actual, expected)                                                           \
    do {                                                                                           \
        QPoint at;                                                                                 \
        const int differing = differingPixels((actual), (expected), &at);                          \
        QVERIFY2(differing == 0, qPrintable(QStringLiteral("%1 pixels differ, first at (%2, %3)")  \
                                                .arg(differing)                                    \
                                                .arg(at.x())                                       \
                                                .arg(at.y())));                                    \
    } while (false)

Curve curveNamed(const QString& name) {
    if (name == "peaks")
        return testcurves::lorentzianPeaks(100000);
    if (name == "noise")
        return testcurves::randomNoise(100000, 7);
    // Wide pens are stroked into one outline polygon; zigzags over the whole plot height
    // take Qt's rasteriser seconds per view, so for them the noise stays within a few pixels.
    if (name == "noisy peaks")
        return testcurves::noisyPeaks(40000, 13);
    if (name == "walk")
        return testcurves::randomWalk(100000, 11);
    return testcurves::backAndForth(100000);
}

} // namespace

Q_DECLARE_METATYPE(Zoom)

// The curve painter: reduction to at most nine points per pixel column without changing a
// pixel,
// order of the kept points, breaks at non-finite points and clipping of far-away points.
class TestCurvePainter : public QObject {
    Q_OBJECT
private slots:
    void reductionKeepsEveryPixel_data();
    void reductionKeepsEveryPixel();
    void reductionKeepsEveryPixelOfWidePens_data();
    void reductionKeepsEveryPixelOfWidePens();
    void reductionKeepsCompositionPixels_data();
    void reductionKeepsCompositionPixels();
    void millionPointsReachThePainterAsFewThousand();
    void columnKeepsItsDecisivePointsInOrder();
    void highestPointIsTakenWhereTheCurveTurns();
    void shortColumnsPassUnchanged();
    void nonFinitePointBreaksTheLine();
    void farPointsAreClippedAlongTheirLine_data();
    void farPointsAreClippedAlongTheirLine();
    void segmentOutsideIsDropped();
};

void TestCurvePainter::reductionKeepsEveryPixel_data() {
    QTest::addColumn<QString>("curve");
    QTest::addColumn<bool>("logScale");
    QTest::addColumn<Zoom>("zoom");
    const QStringList curves = {"peaks", "noise", "walk", "back and forth"};
    const struct {
        const char* name;
        Zoom zoom;
    } zooms[] = {{"whole", {0.5, 0.5, 1, 1}},
                 {"zoomed out", {0.5, 0.5, 0.3, 0.5}},
                 {"x10 at a peak", {0.375, 0.5, 10, 1}},
                 {"x100 both", {0.36, 0.6, 100, 3}},
                 {"x1000", {0.76, 0.4, 1000, 1}},
                 {"y x50", {0.5, 0.3, 1, 50}},
                 {"panned half out", {0.95, 0.2, 2, 1.5}}};
    for (const QString& c : curves) {
        for (bool logScale : {true, false}) {
            for (const auto& z : zooms) {
                QTest::newRow(qPrintable(
                    QStringLiteral("%1, %2, %3").arg(c, logScale ? "log" : "linear", z.name)))
                    << c << logScale << z.zoom;
            }
        }
    }
}

// The whole view (grid, labels and the green curve) with and without reduction.
void TestCurvePainter::reductionKeepsEveryPixel() {
    QFETCH(QString, curve);
    QFETCH(bool, logScale);
    QFETCH(Zoom, zoom);
    const Curve c = curveNamed(curve);
    const QImage reduced = drawView(c, logScale, zoom, CurvePainter::Detail::Reduced);
    const QImage all = drawView(c, logScale, zoom, CurvePainter::Detail::AllPoints);
    COMPARE_IMAGES(reduced, all);
    // The curve alone, against every point handed to the painter in one polyline, where all
    // points stay within the clip reach (deeper zooms are clipped in both of the above).
    if (zoom.factorX <= 10 && zoom.factorY <= 3) {
        const QPen pen(QColor(0, 200, 0));
        COMPARE_IMAGES(drawCurveOnly(c, logScale, zoom, pen, CurvePainter::Detail::Reduced),
                       drawRawCurve(c, logScale, zoom, pen));
    }
}

void TestCurvePainter::reductionKeepsEveryPixelOfWidePens_data() {
    QTest::addColumn<QString>("curve");
    QTest::addColumn<int>("width");
    QTest::addColumn<Zoom>("zoom");
    for (const char* c : {"peaks", "noisy peaks", "walk"}) {
        for (int width : {2, 3}) {
            QTest::newRow(qPrintable(QStringLiteral("%1, width %2, whole").arg(c).arg(width)))
                << QString(c) << width << Zoom{0.5, 0.5, 1, 1};
            QTest::newRow(qPrintable(QStringLiteral("%1, width %2, x5").arg(c).arg(width)))
                << QString(c) << width << Zoom{0.36, 0.6, 5, 2};
        }
    }
}

// Wide pens are stroked to polygons with joins instead of the cosmetic line stroker.
void TestCurvePainter::reductionKeepsEveryPixelOfWidePens() {
    QFETCH(QString, curve);
    QFETCH(int, width);
    QFETCH(Zoom, zoom);
    const Curve c = curveNamed(curve);
    QPen pen(QColor(0, 0, 255));
    pen.setWidth(width);
    const QImage reduced = drawCurveOnly(c, true, zoom, pen, CurvePainter::Detail::Reduced);
    COMPARE_IMAGES(reduced, drawCurveOnly(c, true, zoom, pen, CurvePainter::Detail::AllPoints));
    COMPARE_IMAGES(reduced, drawRawCurve(c, true, zoom, pen));
}

void TestCurvePainter::reductionKeepsCompositionPixels_data() {
    QTest::addColumn<int>("monolayers");
    QTest::addColumn<Zoom>("zoom");
    QTest::newRow("20000, whole") << 20000 << Zoom{0.5, 0.5, 1, 1};
    QTest::newRow("20000, x8") << 20000 << Zoom{0.3, 0.5, 8, 1};
    QTest::newRow("20000, x300") << 20000 << Zoom{0.71, 0.45, 300, 2};
    QTest::newRow("3000, whole") << 3000 << Zoom{0.5, 0.5, 1, 1};
}

// The composition curves (pen width 2) of a long random profile, drawn by the view itself.
void TestCurvePainter::reductionKeepsCompositionPixels() {
    QFETCH(int, monolayers);
    QFETCH(Zoom, zoom);
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    ResultArrays r;
    for (int i = 0; i <= monolayers; ++i) {
        r.depth.append(2.93 * i);
        r.inProfile.append(0.5 + 0.05 * fraction(rng));
        r.asProfile.append(0.5 + 0.45 * std::sin(i * 0.01));
    }
    QImage images[2];
    const CurvePainter::Detail details[2] = {CurvePainter::Detail::Reduced,
                                             CurvePainter::Detail::AllPoints};
    for (int k = 0; k < 2; ++k) {
        ChCoord coord;
        coord.setArea(0, kHeight, kWidth, 0);
        coord.setScale(0, -0.1, r.depth.last(), 1.1);
        const double cx = zoom.centreX * r.depth.last();
        const double hx = 0.5 * r.depth.last() / zoom.factorX;
        const double cy = -0.1 + zoom.centreY * 1.2;
        const double hy = 0.6 / zoom.factorY;
        coord.setScale(cx - hx, cy - hy, cx + hx, cy + hy);
        images[k] = whiteImage();
        QPainter p(&images[k]);
        coord.applyMargins();
        drawComposition(p, coord, r, details[k]);
    }
    COMPARE_IMAGES(images[0], images[1]);
}

// A million points over 800 columns: at most nine per column reach the painter, and the
// picture is not empty.
void TestCurvePainter::millionPointsReachThePainterAsFewThousand() {
    const Curve c = testcurves::randomNoise(1000000, 5);
    QImage image = whiteImage();
    QPainter p(&image);
    p.setPen(QColor(0, 200, 0));
    CurvePainter curve(p, QRectF(0, 0, kWidth, kHeight));
    for (int i = 0; i < c.theta.size(); ++i)
        curve.addPoint(std::trunc(c.theta[i] * 8.0),
                       std::trunc(590 - 95 * std::log10(c.intensity[i])));
    curve.finish();
    QVERIFY2(curve.pointsDrawn() <= 9 * 721, qPrintable(QString::number(curve.pointsDrawn())));
    QVERIFY(curve.pointsDrawn() >= 4 * 720);
    p.end();
    QVERIFY(colouredPixels(image) > 720 * 300);
}

// The points that decide a column's pixels, in the order they came: first, second, first
// of another height (here the second), lowest, first highest after the starting run, the
// ends of the last two runs before the final one (the 7 and the 4), second-to-last, last.
void TestCurvePainter::columnKeepsItsDecisivePointsInOrder() {
    RecordingDevice dev(100, 100);
    {
        QPainter p(&dev);
        CurvePainter curve(p, QRectF(0, 0, 100, 100));
        curve.addPoint(4, 50);
        const double ys[] = {5, 6, 2, 9, 3, 8, 1, 7, 4, 5.5};
        for (double y : ys)
            curve.addPoint(5, y);
        curve.addPoint(6, 50);
    }
    QCOMPARE(dev.polylines.size(), 1);
    const QPolygonF expected =
        polygon({{4, 50}, {5, 5}, {5, 6}, {5, 9}, {5, 1}, {5, 7}, {5, 4}, {5, 5.5}, {6, 50}});
    QCOMPARE(dev.polylines[0].points, expected);
}

// The highest height also starts the column; the stroker draws its pixel only where the
// curve turns there later (index 3), so that occurrence is kept, not the first.
void TestCurvePainter::highestPointIsTakenWhereTheCurveTurns() {
    RecordingDevice dev(100, 600);
    {
        QPainter p(&dev);
        CurvePainter curve(p, QRectF(0, 0, 100, 600));
        const double ys[] = {544, 544, 300, 544, 200, 400, 150, 350, 250, 300, 310};
        for (double y : ys)
            curve.addPoint(5, y);
    }
    QCOMPARE(dev.polylines.size(), 1);
    const QPolygonF expected =
        polygon({{5, 544}, {5, 544}, {5, 300}, {5, 544}, {5, 150}, {5, 250}, {5, 300}, {5, 310}});
    QCOMPARE(dev.polylines[0].points, expected);
}

void TestCurvePainter::shortColumnsPassUnchanged() {
    RecordingDevice dev(100, 100);
    const QPolygonF points =
        polygon({{1, 1}, {1, 1}, {1, 3}, {2, 8}, {3, 8}, {3, 2}, {3, 9}, {3, 1}, {4, 4}});
    {
        QPainter p(&dev);
        CurvePainter curve(p, QRectF(0, 0, 100, 100));
        for (const QPointF& q : points)
            curve.addPoint(q.x(), q.y());
    }
    QCOMPARE(dev.polylines.size(), 1);
    QCOMPARE(dev.polylines[0].points, points);
}

void TestCurvePainter::nonFinitePointBreaksTheLine() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    RecordingDevice dev(100, 100);
    {
        QPainter p(&dev);
        CurvePainter curve(p, QRectF(0, 0, 100, 100));
        curve.addPoint(1, 1);
        curve.addPoint(2, 2);
        curve.addPoint(3, nan);
        curve.addPoint(4, 4);
        curve.addPoint(inf, 5);
        curve.addPoint(6, 6);
        curve.addPoint(7, 7);
    }
    QCOMPARE(dev.badCoordinates, 0);
    // The 4 between the two breaks is a polyline of one point, which draws nothing.
    QCOMPARE(dev.polylines.size(), 2);
    QCOMPARE(dev.polylines[0].points, polygon({{1, 1}, {2, 2}}));
    QCOMPARE(dev.polylines[1].points, polygon({{6, 6}, {7, 7}}));
}

void TestCurvePainter::farPointsAreClippedAlongTheirLine_data() {
    const double big = std::numeric_limits<double>::max();
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<bool>("exact");
    QTest::newRow("diagonal to 1e12") << QPointF(100, 100) << QPointF(1e12, 1e12) << true;
    QTest::newRow("steep to 1e300") << QPointF(400, 300) << QPointF(3e299, -1e300) << true;
    QTest::newRow("flat to the largest double") << QPointF(400, 300) << QPointF(big, 300) << true;
    QTest::newRow("from the largest double") << QPointF(-big, big) << QPointF(400, 300) << true;
    QTest::newRow("slope 1/3, both ends 1e12 away")
        << QPointF(-3e12 + 7, -1e12) << QPointF(3e12, 1e12 + 5) << true;
    QTest::newRow("vertical, both ends far") << QPointF(401, -big) << QPointF(401, big) << true;
    // Both ends near the largest double: the crossing of the visible area is only known to
    // within the rounding of those ends (some 1e292 pixels), so only its finiteness counts.
    QTest::newRow("corner to corner") << QPointF(-big, -big) << QPointF(big, big) << false;
}

// The clipped segment stays on the line through its ends, ends within the reach of the
// area, and carries only finite values.
void TestCurvePainter::farPointsAreClippedAlongTheirLine() {
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(bool, exact);
    RecordingDevice dev(800, 600);
    dev.limit = 800 + viewsupport::kReach;
    {
        QPainter p(&dev);
        CurvePainter curve(p, QRectF(0, 0, 800, 600));
        curve.addPoint(from.x(), from.y());
        curve.addPoint(to.x(), to.y());
    }
    QCOMPARE(dev.badCoordinates, 0);
    if (!exact)
        return;
    QCOMPARE(dev.polylines.size(), 1);
    const QPolygonF& line = dev.polylines[0].points;
    QCOMPARE(line.size(), 2);
    // Direction from the scaled-down ends, so that the reference itself cannot overflow.
    const double dx = 0.5 * to.x() - 0.5 * from.x();
    const double dy = 0.5 * to.y() - 0.5 * from.y();
    const double d = std::hypot(dx, dy);
    const double cx = line[1].x() - line[0].x();
    const double cy = line[1].y() - line[0].y();
    const double c = std::hypot(cx, cy);
    QVERIFY(c > 800);
    const double sine = (dx / d) * (cy / c) - (dy / d) * (cx / c);
    QVERIFY2(std::fabs(sine) < 1e-12, qPrintable(QString::number(sine)));
    QVERIFY((dx / d) * (cx / c) + (dy / d) * (cy / c) > 0);
    // A visible end is kept exactly, and so is a pixel column the segment runs along.
    if (std::fabs(from.x()) < 1000 && std::fabs(from.y()) < 1000)
        QCOMPARE(line[0], from);
    if (std::fabs(to.x()) < 1000 && std::fabs(to.y()) < 1000)
        QCOMPARE(line[1], to);
    if (from.x() == to.x()) {
        XRD_COMPARE_EXACT(line[0].x(), from.x());
        XRD_COMPARE_EXACT(line[1].x(), from.x());
    }
}

void TestCurvePainter::segmentOutsideIsDropped() {
    RecordingDevice dev(800, 600);
    {
        QPainter p(&dev);
        CurvePainter curve(p, QRectF(0, 0, 800, 600));
        curve.addPoint(-1e6, -1e6);
        curve.addPoint(1e6, -1e6); // passes above, beyond the reach
        curve.addPoint(1e6, 1e6);  // to the right
        curve.addPoint(400, 1e20); // below
    }
    QCOMPARE(dev.polylines.size(), 0);
    QCOMPARE(dev.badCoordinates, 0);
}

QTEST_MAIN(TestCurvePainter)
#include "tst_curvepainter.moc"
