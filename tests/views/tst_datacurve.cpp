#include "plot/chcoord.h"
#include "tests/views/recordingdevice.h"
#include "tests/views/testcurves.h"
#include "views/curvepainter.h"
#include "views/datacurve.h"
#include "views/viewsupport.h"

#include "tests/common/exact.h"

#include <QPainter>
#include <QtTest>

#include <cmath>
#include <limits>
#include <random>

using testcurves::Curve;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();

struct Scale {
    double x0, y0, x1, y1;
};

// An 800 x 600 display frame with the given scale.
void frame(ChCoord& coord, const Scale& s) {
    coord.setArea(0, 600, 800, 0);
    coord.applyMargins();
    coord.setScale(s.x0, s.y0, s.x1, s.y1);
}

// What the view's curve was before the reduction: every point through the frame's own
// mappings into a column-reducing curve painter.
QVector<RecordingDevice::Polyline> everyPointReduced(const ChCoord& coord, const Curve& c,
                                                     bool logY) {
    RecordingDevice dev(800, 600);
    {
        QPainter p(&dev);
        CurvePainter curve(p, QRectF(0, 0, 800, 600), CurvePainter::Detail::Reduced);
        for (int i = 0; i < c.theta.size(); ++i) {
            const double v = logY ? std::log10(c.intensity[i]) : c.intensity[i];
            if (!std::isfinite(c.theta[i]) || !std::isfinite(v)) {
                curve.breakLine();
                continue;
            }
            curve.addPoint(std::trunc(coord.toPixX(c.theta[i])), std::trunc(coord.toPixY(v)));
        }
    }
    return dev.polylines;
}

QVector<RecordingDevice::Polyline> dataCurve(const ChCoord& coord, const Curve& c, bool logY,
                                             CurvePainter::Detail detail) {
    RecordingDevice dev(800, 600);
    {
        QPainter p(&dev);
        drawDataCurve(p, coord, c.theta, c.intensity, logY, detail);
    }
    return dev.polylines;
}

QString describe(const QVector<RecordingDevice::Polyline>& lines) {
    int points = 0;
    for (const auto& l : lines)
        points += l.points.size();
    return QStringLiteral("%1 polylines, %2 points").arg(lines.size()).arg(points);
}

bool samePolylines(const QVector<RecordingDevice::Polyline>& a,
                   const QVector<RecordingDevice::Polyline>& b) {
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].points != b[i].points)
            return false;
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(Scale)
Q_DECLARE_METATYPE(Curve)

// The diffraction curve's fast path: the decisive points of every pixel column found from
// the data, without mapping every point, must be exactly those the column reduction keeps
// when it sees every mapped point.
class TestDataCurve : public QObject {
    Q_OBJECT
private slots:
    void sameDecisivePointsAsEveryPointReduced_data();
    void sameDecisivePointsAsEveryPointReduced();
    void pointsWithoutPositionBreakTheCurve();
    void axisMapEqualsTheFrame_data();
    void axisMapEqualsTheFrame();
};

void TestDataCurve::sameDecisivePointsAsEveryPointReduced_data() {
    QTest::addColumn<Curve>("curve");
    QTest::addColumn<bool>("logY");
    QTest::addColumn<Scale>("scale");
    const Curve peaks = testcurves::lorentzianPeaks(200000);
    const Curve noise = testcurves::randomNoise(200000, 3);
    const Curve walk = testcurves::randomWalk(200000, 4);
    const Curve back = testcurves::backAndForth(100000);
    Curve steps = testcurves::randomNoise(60000, 9);
    for (double& v : steps.intensity)
        v = std::round(std::log10(v)) * 100 + 1; // long runs on the same few rows
    const struct {
        const char* name;
        Curve curve;
    } curves[] = {{"peaks", peaks},
                  {"noise", noise},
                  {"walk", walk},
                  {"back and forth", back},
                  {"steps", steps}};
    for (const auto& c : curves) {
        QTest::newRow(qPrintable(QStringLiteral("%1, log").arg(c.name)))
            << c.curve << true << Scale{-2, -0.5, 92, 7.5};
        QTest::newRow(qPrintable(QStringLiteral("%1, log, inverted").arg(c.name)))
            << c.curve << true << Scale{-2, 7.5, 92, -0.5};
        QTest::newRow(qPrintable(QStringLiteral("%1, log, rows beyond the reach").arg(c.name)))
            << c.curve << true << Scale{-2, 3.0, 92, 3.05};
        QTest::newRow(qPrintable(QStringLiteral("%1, linear").arg(c.name)))
            << c.curve << false << Scale{-2, -1e5, 92, 2.1e6};
        QTest::newRow(qPrintable(QStringLiteral("%1, linear, mirrored x").arg(c.name)))
            << c.curve << false << Scale{92, -10, -2, 400};
    }
}

// Views whose points all lie within the horizontal quiet margin, where the fast path skips
// nothing: the polylines handed to the painter are identical, point for point.
void TestDataCurve::sameDecisivePointsAsEveryPointReduced() {
    QFETCH(Curve, curve);
    QFETCH(bool, logY);
    QFETCH(Scale, scale);
    ChCoord coord;
    frame(coord, scale);
    const auto expected = everyPointReduced(coord, curve, logY);
    const auto actual = dataCurve(coord, curve, logY, CurvePainter::Detail::Reduced);
    QVERIFY2(samePolylines(actual, expected),
             qPrintable(describe(actual) + " instead of " + describe(expected)));
    QVERIFY(!expected.isEmpty());
}

// Zero, negative, NaN and infinite values and NaN angles end the polyline before them; the
// linear scale keeps zero and negative values.
void TestDataCurve::pointsWithoutPositionBreakTheCurve() {
    const Curve c{{1, 2, 3, 4, 5, 6, 7, 8, kNaN, 10, 11},
                  {10, 20, 0, 30, 40, -1, 50, kInf, 60, kNaN, 70}};
    ChCoord coord;
    frame(coord, Scale{0, -5, 12, 100});
    for (CurvePainter::Detail detail :
         {CurvePainter::Detail::Reduced, CurvePainter::Detail::AllPoints}) {
        const auto logLines = dataCurve(coord, c, true, detail);
        // log: pieces {1,2}, {4,5}, {7}; lone points draw nothing.
        QCOMPARE(logLines.size(), 2);
        QCOMPARE(logLines[0].points.size(), 2);
        QCOMPARE(logLines[1].points.size(), 2);
        const auto linearLines = dataCurve(coord, c, false, detail);
        // linear: {1..7}; 8 (infinite), 9 (NaN angle) and 10 (NaN value) break; 11 alone.
        QCOMPARE(linearLines.size(), 1);
        QCOMPARE(linearLines[0].points.size(), 7);
    }
}

void TestDataCurve::axisMapEqualsTheFrame_data() {
    QTest::addColumn<Scale>("scale");
    QTest::newRow("ordinary") << Scale{-2, -0.3, 92, 6.3};
    QTest::newRow("inverted") << Scale{92, 6.3, -2, -0.3};
    QTest::newRow("narrow") << Scale{31.7, 1e4, 31.7 + 1e-9, 1e4 + 1e-7};
    QTest::newRow("huge") << Scale{-1e300, -1e250, 1e300, 1e250};
    QTest::newRow("zero extent") << Scale{5, 5, 5, 5};
    QTest::newRow("denormal extent") << Scale{0, 0, 1e-320, 4e-321};
    QTest::newRow("NaN") << Scale{kNaN, 0, 1, kNaN};
    QTest::newRow("infinite") << Scale{-kInf, 0, kInf, kMax};
}

// The fast mapping must give the frame's own result bit for bit, for any value, or the
// reduced curve would differ from the one the view draws point by point.
void TestDataCurve::axisMapEqualsTheFrame() {
    QFETCH(Scale, scale);
    ChCoord coord;
    frame(coord, scale);
    const viewsupport::AxisMap mapX = viewsupport::AxisMap::xOf(coord);
    const viewsupport::AxisMap mapY = viewsupport::AxisMap::yOf(coord);
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    QVector<double> values = {0, -0.0, 1, -2, 31.7, 1e300, -1e300, kMax, -kMax, kInf, -kInf, kNaN};
    for (int i = 0; i < 2000; ++i)
        values.append(unit(rng) * std::pow(10.0, 40.0 * unit(rng)));
    for (double v : values) {
        XRD_COMPARE_EXACT(mapX(v), coord.toPixX(v));
        XRD_COMPARE_EXACT(mapY(v), coord.toPixY(v));
    }
}

QTEST_MAIN(TestDataCurve)
#include "tst_datacurve.moc"
