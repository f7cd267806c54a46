#include "views/diffractionview.h"

#include "plot/chcoord.h"
#include "tests/views/recordingdevice.h"
#include "tests/views/viewtesthelpers.h"
#include "views/niceticks.h"

#include "tests/common/exact.h"

#include <QPainter>
#include <QtTest>

#include <cmath>
#include <limits>
#include <optional>

using namespace viewtest;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();

// An 800 x 600 "KSpace" display: plot rectangle 80..760 x 570..12.
void kspaceFrame(ChCoord& coord, int width = 800, int height = 600) {
    setDiffractionMargins(coord);
    displayFrame(coord, width, height);
}

QVector<double> range(double from, double step, int n) {
    QVector<double> v;
    for (int i = 0; i < n; ++i)
        v.append(from + step * i);
    return v;
}

struct Scale {
    double x0, y0, x1, y1;
};

struct Curve {
    QVector<double> theta;
    QVector<double> intensity;
};

// A sharp peak at 20 degrees on a flat background, 4001 points.
Curve peakCurve() {
    Curve c{range(0, 0.01, 4001), {}};
    for (double t : c.theta)
        c.intensity.append(1000.0 / (1.0 + (t - 20) * (t - 20) * 100) + 1.0);
    return c;
}

// A paint as the window makes it: margins, the derived range when `derive` is set (else the
// frame's scale stays), then the view.
void paint(QPainter& p, ChCoord& coord, const Curve& c, bool logScale, bool derive) {
    coord.applyMargins();
    if (derive) {
        if (const std::optional<PlotRange> range = diffractionRange(c.theta, c.intensity, logScale))
            showRange(coord, *range);
    }
    drawDiffraction(p, coord, c.theta, c.intensity, logScale);
}

void record(RecordingDevice& dev, ChCoord& coord, const Curve& c, bool logScale, bool derive) {
    QPainter p(&dev);
    paint(p, coord, c, logScale, derive);
}

} // namespace

Q_DECLARE_METATYPE(Scale)
Q_DECLARE_METATYPE(Curve)

class TestDiffractionView : public QObject {
    Q_OBJECT
private slots:
    void emptyCurveDrawsNothing();
    void linearRangeAndGrid();
    void logRangeAndExponentLabels();
    void xRangeStartsAtMinus2();
    void curvePixels();
    void derivedRange_data();
    void derivedRange();
    void labelsNeverExceed15Points_data();
    void labelsNeverExceed15Points();
    void degenerateData_data();
    void degenerateData();
    void degenerateScale_data();
    void degenerateScale();
};

void TestDiffractionView::emptyCurveDrawsNothing() {
    ChCoord coord;
    kspaceFrame(coord);
    RecordingDevice dev(800, 600);
    record(dev, coord, Curve{{}, {1, 2}}, false, true);
    QVERIFY(dev.lines.isEmpty() && dev.rects.isEmpty() && dev.polylines.isEmpty() &&
            dev.texts.isEmpty());
}

// Angles 10..50, intensity up to 200: x from -2 to 52 with ticks every 10, y from -10 to 210
// with ticks every 20; the curve through every whole-pixel point.
void TestDiffractionView::linearRangeAndGrid() {
    Curve c{range(10, 1, 41), {}};
    for (double t : c.theta)
        c.intensity.append(200.0 * std::exp(-(t - 30) * (t - 30) / 50.0));
    ChCoord coord;
    kspaceFrame(coord);
    RecordingDevice dev(800, 600);
    record(dev, coord, c, false, true);
    XRD_COMPARE_EXACT(coord.scaleX0, -2.0);
    XRD_COMPARE_EXACT(coord.scaleX1, 52.0);
    XRD_COMPARE_CLOSE(coord.scaleY0, -10.0, 1e-15);
    XRD_COMPARE_CLOSE(coord.scaleY1, 210.0, 1e-15);
    XRD_COMPARE_EXACT(coord.plotX0, 80.0);
    XRD_COMPARE_EXACT(coord.plotY0, 570.0);
    XRD_COMPARE_EXACT(coord.plotY1, 12.0);

    // The frame, then the white boxes of the two axis titles.
    QCOMPARE(dev.rects.size(), 3);
    QCOMPARE(dev.rects[0], QRectF(80, 570, 680, -558));
    const QStringList expectedTexts = {"0",
                                       "10",
                                       "20",
                                       "30",
                                       "40",
                                       "50",
                                       "0",
                                       "20",
                                       "40",
                                       "60",
                                       "80",
                                       "100",
                                       "120",
                                       "140",
                                       "160",
                                       "180",
                                       "200",
                                       QString::fromUtf8("\u03b8 (\u00b0)"),
                                       "intensity (arb. units)"};
    QCOMPARE(textsOf(dev), expectedTexts);
    const QVector<RecordingDevice::Line> lines = dev.linesOf(grey);
    QCOMPARE(lines.size(), 6 + 11);
    for (int i = 0; i < 6; ++i) {
        const double x = std::trunc(coord.toPixX(10.0 * i));
        QCOMPARE(lines[i].line, QLineF(x, 570, x, 12));
    }
    for (int i = 0; i < 11; ++i) {
        const double y = std::trunc(coord.toPixY(20.0 * i));
        QCOMPARE(lines[6 + i].line, QLineF(80, y, 760, y));
    }

    const QVector<RecordingDevice::Polyline> curve = dev.polylinesOf(green);
    QCOMPARE(curve.size(), 1);
    QCOMPARE(curve[0].points.size(), 41);
    for (int i = 0; i < 41; ++i) {
        QCOMPARE(curve[0].points[i], QPointF(std::trunc(coord.toPixX(c.theta[i])),
                                             std::trunc(coord.toPixY(c.intensity[i]))));
    }
    QCOMPARE(dev.badCoordinates, 0);
}

// Intensities 1 to 10^4: logarithms 0..4 widened by 5 % to -0.2..4.2; the y labels are the
// powers of ten at the exponents 0, 0.5, ... 4 and the curve is drawn through the logarithms.
void TestDiffractionView::logRangeAndExponentLabels() {
    Curve c{range(1, 1, 5), {1, 10, 100, 1000, 10000}};
    ChCoord coord;
    kspaceFrame(coord);
    RecordingDevice dev(800, 600);
    record(dev, coord, c, true, true);
    XRD_COMPARE_CLOSE(coord.scaleY0, -0.2, 1e-12);
    XRD_COMPARE_CLOSE(coord.scaleY1, 4.2, 1e-12);
    XRD_COMPARE_EXACT(coord.scaleX1, 7.0);
    const QStringList texts = textsOf(dev);
    // 10^0.5 = 3.16, 10^3.5 = 3162; the two axis titles come last.
    const QStringList expectedY =
        QString::fromUtf8(
            "10\u2070|3.16|10\u00b9|31.6|10\u00b2|316|10\u00b3|3.16\u00d710\u00b3|10\u2074")
            .split('|');
    QCOMPARE(texts.mid(texts.size() - 11, 9), expectedY);
    const QVector<RecordingDevice::Polyline> curve = dev.polylinesOf(green);
    QCOMPARE(curve.size(), 1);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(curve[0].points[i].y(), std::trunc(coord.toPixY(i)));
}

void TestDiffractionView::xRangeStartsAtMinus2() {
    Curve c{range(30, 0.5, 21), QVector<double>(21, 5.0)};
    ChCoord coord;
    kspaceFrame(coord);
    RecordingDevice dev(800, 600);
    record(dev, coord, c, false, true);
    XRD_COMPARE_EXACT(coord.scaleX0, -2.0);
    XRD_COMPARE_EXACT(coord.scaleX1, 42.0);
}

// A flat curve at 100 with one point at 200 (range -10..210): green on its row, grey on the
// frame and a grid line, white between grid lines.
void TestDiffractionView::curvePixels() {
    Curve c{range(10, 0.1, 301), QVector<double>(301, 100.0)};
    c.intensity[300] = 200.0;
    ChCoord coord;
    kspaceFrame(coord);
    QImage image = whiteImage(800, 600);
    {
        QPainter p(&image);
        paint(p, coord, c, false, true);
    }
    const int row = static_cast<int>(coord.toPixY(100.0)); // 291
    QCOMPARE(row, 291);
    QVERIFY(isColour(image, 300, row, green));
    QVERIFY(!columnHas(image, 300, 13, row - 2, green));
    QVERIFY(!columnHas(image, 300, row + 2, 569, green));
    QVERIFY(!rowHas(image, row, 81, 230, green)); // the curve starts at theta 10, x 231
    QVERIFY(isColour(image, 80, 300, grey));      // frame
    QVERIFY(isColour(image, static_cast<int>(coord.toPixX(20.0)), 400, grey)); // x grid
    QVERIFY(isColour(image, 120, static_cast<int>(coord.toPixY(60.0)), grey)); // y grid
    QVERIFY(isColour(image, 400, 400, Qt::white));
}

// Angles 0..10 and intensities 1..100: x from -2 to 12; linear y from -5 to 105, log y from
// 0 - 0.1 to 2 + 0.1. No angles, no range.
void TestDiffractionView::derivedRange_data() {
    QTest::addColumn<Curve>("curve");
    QTest::addColumn<bool>("logScale");
    QTest::addColumn<bool>("hasRange");
    QTest::addColumn<Scale>("expected");
    QTest::addColumn<bool>("window");
    const Curve c{range(0, 1, 11), {1, 2, 5, 10, 20, 50, 100, 50, 20, 10, 5}};
    QTest::newRow("linear") << c << false << true << Scale{-2, -5, 12, 105} << false;
    QTest::newRow("log") << c << true << true << Scale{-2, -0.1, 12, 2.1} << false;
    QTest::newRow("no angles") << Curve{{}, {1, 2}} << false << false << Scale{0, 0, 0, 0} << false;
    // A realistic model's window around (004), 31.5 to 34.5 degrees: 2 % of its 3 degrees
    // beyond both ends, not from -2.
    const Curve around004{range(31.5, 0.3, 11), {1, 2, 5, 10, 20, 50, 100, 50, 20, 10, 5}};
    QTest::newRow("window around a reflection")
        << around004 << false << true << Scale{31.44, -5, 34.56, 105} << true;
    QTest::newRow("the same, basic rule")
        << around004 << false << true << Scale{-2, -5, 36.5, 105} << false;
    QTest::newRow("window of one angle")
        << Curve{{33.0}, {1}} << false << true << Scale{31, -0.05, 35, 1.05} << true;
}

void TestDiffractionView::derivedRange() {
    QFETCH(Curve, curve);
    QFETCH(bool, logScale);
    QFETCH(bool, hasRange);
    QFETCH(Scale, expected);
    QFETCH(bool, window);
    const std::optional<PlotRange> r =
        diffractionRange(curve.theta, curve.intensity, logScale, window);
    QCOMPARE(r.has_value(), hasRange);
    if (!r)
        return;
    XRD_COMPARE_CLOSE(r->x.lo, expected.x0, 1e-12);
    XRD_COMPARE_CLOSE(r->y.lo, expected.y0, 1e-12);
    XRD_COMPARE_CLOSE(r->x.hi, expected.x1, 1e-12);
    XRD_COMPARE_CLOSE(r->y.hi, expected.y1, 1e-12);
}

void TestDiffractionView::labelsNeverExceed15Points_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("capReached");
    QTest::newRow("large display") << 2400 << 1600 << true;
    QTest::newRow("small display") << 400 << 250 << false;
}

void TestDiffractionView::labelsNeverExceed15Points() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, capReached);
    Curve c{range(0, 0.5, 100), {}};
    for (int i = 0; i < 100; ++i)
        c.intensity.append(1.0 + i * i);
    ChCoord coord;
    kspaceFrame(coord, width, height);
    RecordingDevice dev(width, height);
    record(dev, coord, c, true, true);
    QVERIFY(dev.texts.size() > 8);
    double largest = 0;
    for (const RecordingDevice::Text& t : dev.texts) {
        QVERIFY2(t.pointSize <= 15.0, qPrintable(t.text + ": " + QString::number(t.pointSize)));
        largest = std::max(largest, t.pointSize);
    }
    QCOMPARE(largest == 15.0, capReached);
}

void TestDiffractionView::degenerateData_data() {
    QTest::addColumn<Curve>("curve");
    QTest::addColumn<bool>("logScale");
    QTest::addColumn<int>("pieces"); // green polylines the curve breaks into
    QTest::addColumn<Scale>("expected");
    const Scale any{kNaN, kNaN, kNaN, kNaN};
    const QVector<double> t8 = range(1, 1, 8);
    QTest::newRow("zero and negative intensity, log")
        << Curve{t8, {1, 2, 0, 100, 50, -3, 10, 20}} << true << 3 << Scale{-2, -0.1, 10, 2.1};
    QTest::newRow("zero and negative intensity, linear")
        << Curve{t8, {1, 2, 0, 100, 50, -3, 10, 20}} << false << 1 << Scale{-2, -5, 10, 105};
    QTest::newRow("all zero, linear")
        << Curve{t8, QVector<double>(8, 0.0)} << false << 1 << Scale{-2, -0.5, 10, 0.5};
    QTest::newRow("all zero, log")
        << Curve{t8, QVector<double>(8, 0.0)} << true << 0 << Scale{-2, 0, 10, 1};
    QTest::newRow("one value, linear")
        << Curve{t8, QVector<double>(8, 7.0)} << false << 1 << Scale{-2, -0.35, 10, 7.35};
    QTest::newRow("one value, log")
        << Curve{t8, QVector<double>(8, 100.0)} << true << 1 << Scale{-2, 1.5, 10, 2.5};
    QTest::newRow("negative values, linear")
        << Curve{range(1, 1, 3), {-5, -1, -3}} << false << 1 << Scale{-2, -5.2, 5, -0.8};
    QTest::newRow("NaN intensity")
        << Curve{t8, {1, 2, kNaN, 4, 5, 6, kNaN, 8}} << false << 2 << Scale{-2, -0.4, 10, 8.4};
    QTest::newRow("infinite intensity, linear")
        << Curve{t8, {1, 2, kInf, 4, 5, 6, 7, 8}} << false << 2 << Scale{-2, -0.4, 10, 8.4};
    QTest::newRow("infinite intensity, log")
        << Curve{t8, {1, 10, kInf, 100, 10, 1, 10, 100}} << true << 2 << Scale{-2, -0.1, 10, 2.1};
    QTest::newRow("NaN angle") << Curve{{1, 2, kNaN, 4, 5}, {1, 2, 3, 4, 5}} << false << 2
                               << Scale{-2, -0.25, 7, 5.25};
    QTest::newRow("all angles NaN")
        << Curve{{kNaN, kNaN}, {1, 2}} << false << 0 << Scale{-2, -0.1, 2, 2.1};
    QTest::newRow("angles below -4")
        << Curve{{-10, -8}, {1, 2}} << false << 1 << Scale{-12, -0.1, -6, 2.1};
    QTest::newRow("one point") << Curve{{20}, {5}} << false << 0 << Scale{-2, -0.25, 22, 5.25};
    QTest::newRow("no intensities") << Curve{t8, {}} << false << 0 << Scale{-2, 0, 10, 1};
    QTest::newRow("fewer intensities than angles")
        << Curve{t8, {1, 2, 3}} << false << 1 << Scale{-2, -0.15, 10, 3.15};
    QTest::newRow("largest doubles, linear")
        << Curve{range(1, 1, 3), {1e300, kMax, 1e308}} << false << 1 << any;
    QTest::newRow("denormal intensities, linear")
        << Curve{range(1, 1, 3), {1e-320, 2e-320, 3e-320}} << false << 1 << any;
    QTest::newRow("denormal intensities, log")
        << Curve{range(1, 1, 3), {1e-320, 2e-320, 3e-320}} << true << 1 << any;
    QTest::newRow("huge angles") << Curve{{0, 1e300, kMax}, {1, 2, 3}} << false << 1 << any;
}

// Data the calculation does not produce in ordinary use: whatever it holds, nothing
// non-finite reaches the painter, the derived range is usable, and the curve breaks at the
// points without a finite position.
void TestDiffractionView::degenerateData() {
    QFETCH(Curve, curve);
    QFETCH(bool, logScale);
    QFETCH(int, pieces);
    QFETCH(Scale, expected);
    ChCoord coord;
    kspaceFrame(coord);
    RecordingDevice dev(800, 600);
    dev.limit = 1e5;
    record(dev, coord, curve, logScale, true);
    QCOMPARE(dev.badCoordinates, 0);
    QVERIFY(usableScale(coord));
    if (!std::isnan(expected.x0)) {
        XRD_COMPARE_CLOSE(coord.scaleX0, expected.x0, 1e-12);
        XRD_COMPARE_CLOSE(coord.scaleX1, expected.x1, 1e-12);
        XRD_COMPARE_CLOSE(coord.scaleY0, expected.y0, 1e-12);
        XRD_COMPARE_CLOSE(coord.scaleY1, expected.y1, 1e-12);
    }
    QCOMPARE(dev.polylinesOf(green).size(), pieces);
    QVERIFY(dev.lines.size() >= 2); // the derived range always gets a grid

    QImage image = whiteImage(800, 600);
    ChCoord again;
    kspaceFrame(again);
    QPainter p(&image);
    paint(p, again, curve, logScale, true);
    p.end();
    QVERIFY(isColour(image, 400, 12, grey)); // top edge of the frame
}

void TestDiffractionView::degenerateScale_data() {
    QTest::addColumn<Scale>("scale");
    QTest::addColumn<bool>("logScale");
    QTest::addColumn<bool>("curveVisible");
    QTest::newRow("1e-300 wide") << Scale{20, 0, 20 + 1e-14, 1e4} << false << true;
    QTest::newRow("1e-300 wide at zero") << Scale{0, 0, 1e-300, 1e4} << false << false;
    QTest::newRow("1e-300 high") << Scale{0, 100, 40, 100 + 1e-300} << false << false;
    QTest::newRow("1e300 wide") << Scale{-1e300, -1e300, 1e300, 1e300} << false << true;
    QTest::newRow("largest doubles") << Scale{-kMax, -kMax, kMax, kMax} << true << true;
    QTest::newRow("zero extent") << Scale{5, 5, 5, 5} << false << true;
    QTest::newRow("NaN") << Scale{kNaN, 0, 1, kNaN} << true << false;
    QTest::newRow("infinite") << Scale{-kInf, 0, kInf, 1} << false << false;
    QTest::newRow("step lost in rounding") << Scale{1e17, 0, 1e17 + 16, 10} << false << false;
    // A window 2e-11 degrees wide on the segment between two points 0.01 degrees apart: its
    // ends map some 10^11 pixels away, and the piece of line between them must still show.
    const Curve c = peakCurve();
    const double x = c.theta[2000] + 0.3 * (c.theta[2001] - c.theta[2000]);
    const double y = c.intensity[2000] + 0.3 * (c.intensity[2001] - c.intensity[2000]);
    QTest::newRow("points far beyond int range")
        << Scale{x - 1e-11, y - 1e-8, x + 1e-11, y + 1e-8} << false << true;
    QTest::newRow("inverted") << Scale{40, 5, 0, 0} << true << true;
}

// Scales a user can zoom into (or that the frame holds before a range is derived): no hang,
// no non-finite or far-away coordinate, a bounded number of grid lines, and the frame kept.
void TestDiffractionView::degenerateScale() {
    QFETCH(Scale, scale);
    QFETCH(bool, logScale);
    QFETCH(bool, curveVisible);
    const Curve c = peakCurve();
    ChCoord coord;
    kspaceFrame(coord);
    coord.setScale(scale.x0, scale.y0, scale.x1, scale.y1);
    RecordingDevice dev(800, 600);
    dev.limit = 1e5;
    record(dev, coord, c, logScale, false);
    QCOMPARE(dev.badCoordinates, 0);
    QVERIFY(dev.lines.size() <= 2 * 200);
    // The frame, and the two title boxes where the plot has room for them.
    QVERIFY(dev.rects.size() == 1 || dev.rects.size() == 3);
    if (!curveVisible)
        return;
    QVERIFY(!dev.polylinesOf(green).isEmpty());
}

QTEST_MAIN(TestDiffractionView)
#include "tst_diffractionview.moc"
