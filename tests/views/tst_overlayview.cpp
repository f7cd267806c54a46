#include "overlayview.h"

#include "chcoord.h"
#include "diffractionview.h"
#include "recordingdevice.h"
#include "viewtesthelpers.h"

#include "../common/exact.h"

#include <QPainter>
#include <QtTest>

#include <cmath>
#include <limits>
#include <optional>

using namespace viewtest;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const QColor measuredBlue(40, 90, 220);
const QColor modelRed(220, 0, 0);

// A layer peak at 31.5 degrees and the substrate at 31.67 over 601 points from 31 to 32.2;
// the measurement counted nothing on every seventh point.
OverlayData scanOfTwoPeaks() {
    OverlayData d;
    for (int i = 0; i <= 600; ++i) {
        const double t = 31.0 + 0.002 * i;
        const double layer = (t - 31.5) / 0.01;
        const double substrate = (t - 31.67) / 0.004;
        const double model = 2.0 + 3e3 / (1 + layer * layer) + 1e5 / (1 + substrate * substrate);
        d.theta.append(t);
        d.model.append(model);
        d.measured.append(i % 7 == 3 ? 0.0 : model * (i % 2 ? 1.3 : 0.8));
    }
    d.measuredPeaks = {31.67, 31.5};
    d.modelPeaks = {31.67, 31.5};
    return d;
}

OverlayData overlay(QVector<double> theta, QVector<double> measured, QVector<double> model,
                    QVector<double> peaks = {}) {
    return OverlayData{theta, measured, model, peaks, peaks};
}

// The frame of the diffraction display with the overlay's derived range.
void derivedFrame(ChCoord& coord, const OverlayData& d, bool logScale, int w, int h) {
    setDiffractionMargins(coord);
    displayFrame(coord, w, h);
    coord.applyMargins();
    if (const std::optional<PlotRange> r = overlayRange(d, logScale))
        showRange(coord, *r);
}

int pixelsOf(const QImage& image, const QRect& area, const QColor& c) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += isColour(image, x, y, c);
    return n;
}

} // namespace

Q_DECLARE_METATYPE(OverlayData)

class TestOverlayView : public QObject {
    Q_OBJECT
private slots:
    void derivedRange_data();
    void derivedRange();
    void curvesTicksAndLegendInPlace_data();
    void curvesTicksAndLegendInPlace();
    void logLabelsAreExponents();
    void emptyScanDrawsNothing();
    void hostileData_data();
    void hostileData();
};

void TestOverlayView::derivedRange_data() {
    QTest::addColumn<OverlayData>("d");
    QTest::addColumn<bool>("logScale");
    QTest::addColumn<QRectF>("expected"); // x0, y0 as the corner, x1 - x0 and y1 - y0 as size
    // Angles 30..34: pad 2 % of 4 = 0.08. Values 1..1e4 over both curves: logarithms 0..4,
    // pad 0.2; linear -5 % .. 105 % of 1e4.
    const OverlayData plain = overlay({30, 31, 32, 34}, {10, 0, 1000, 100}, {1, 50, 200, 1e4});
    QTest::newRow("log, zero skipped") << plain << true << QRectF(29.92, -0.2, 4.16, 4.4);
    QTest::newRow("linear") << plain << false << QRectF(29.92, -500, 4.16, 11000);
    // Only the positive finite values have logarithms: 100..1000, so 2..3 with pad 0.05.
    const OverlayData holes = overlay({kNaN, 10, 20}, {0, 0, 100}, {-5, 1000, kNaN}, {kInf, kNaN});
    QTest::newRow("log, zeros, negatives, NaN") << holes << true << QRectF(9.8, 1.95, 10.4, 1.1);
    QTest::newRow("linear, NaN angle") << holes << false << QRectF(9.8, -50, 10.4, 1100);
    // A single point: a unit range around the angle and around log10(100) = 2.
    const OverlayData single = overlay({31.5}, {100}, {100});
    QTest::newRow("single point, log") << single << true << QRectF(31, 1.5, 1, 1);
    QTest::newRow("single point, linear") << single << false << QRectF(31, -5, 1, 110);
    // Nothing counted anywhere and no model: no logarithm at all, so 0..1.
    QTest::newRow("all zero, log")
        << overlay({1, 2}, {0, 0}, {0, 0}) << true << QRectF(0.98, 0, 1.04, 1);
    QTest::newRow("no scan") << OverlayData() << true << QRectF();
}

void TestOverlayView::derivedRange() {
    QFETCH(OverlayData, d);
    QFETCH(bool, logScale);
    QFETCH(QRectF, expected);
    const std::optional<PlotRange> r = overlayRange(d, logScale);
    QCOMPARE(r.has_value(), !expected.isNull());
    if (!r)
        return;
    XRD_COMPARE_CLOSE(r->x.lo, expected.left(), 1e-12);
    XRD_COMPARE_CLOSE(r->x.hi, expected.right(), 1e-12);
    XRD_COMPARE_CLOSE(r->y.lo, expected.top(), 1e-12);
    XRD_COMPARE_CLOSE(r->y.hi, expected.bottom(), 1e-12);
}

void TestOverlayView::curvesTicksAndLegendInPlace_data() {
    QTest::addColumn<bool>("logScale");
    QTest::newRow("log") << true;
    QTest::newRow("linear") << false;
}

// On a 600 x 400 display (plot rectangle 60..570 x 380..8): both curves in their colours
// inside the plot and nowhere else, the model's substrate peak where the mapping puts it, a
// tick above it, and the legend's samples in the top right corner.
void TestOverlayView::curvesTicksAndLegendInPlace() {
    QFETCH(bool, logScale);
    const OverlayData d = scanOfTwoPeaks();
    ChCoord coord;
    derivedFrame(coord, d, logScale, 600, 400);
    QImage image = whiteImage(600, 400);
    {
        QPainter p(&image);
        drawOverlay(p, coord, d, logScale);
    }
    const QRect plot(61, 9, 509, 371); // inside the frame's outline
    QVERIFY(pixelsOf(image, plot, measuredBlue) > 300);
    QVERIFY(pixelsOf(image, plot, modelRed) > 300);
    QCOMPARE(pixelsOf(image, image.rect(), measuredBlue), pixelsOf(image, plot, measuredBlue));
    QCOMPARE(pixelsOf(image, image.rect(), modelRed), pixelsOf(image, plot, modelRed));
    QCOMPARE(pixelsOf(image, image.rect(), green), 0);

    // The model's top at 31.67 degrees: 1e5 + 2 + the layer's tail (3e3 / 290).
    const double top = 1e5 + 2 + 3e3 / (1 + 17 * 17);
    const int x = int(coord.toPixX(31.67));
    const int y = int(coord.toPixY(logScale ? std::log10(top) : top));
    QVERIFY(columnHas(image, x, y - 1, y + 1, modelRed) ||
            columnHas(image, x + 1, y - 1, y + 1, modelRed));
    // Its tick: ten red pixels in that column ending 6 above the peak (or at the top edge).
    const int tickBottom = std::max(9 + 10, y - 6);
    QVERIFY(columnHas(image, x, tickBottom - 9, tickBottom, modelRed));
    // The legend: a red and a blue sample in the top right corner, none in the top left.
    QVERIFY(pixelsOf(image, QRect(420, 9, 150, 40), modelRed) >= 20);
    QVERIFY(pixelsOf(image, QRect(420, 9, 150, 40), measuredBlue) >= 20);
    QCOMPARE(pixelsOf(image, QRect(61, 9, 150, 40), modelRed), 0);
}

// On the logarithmic scale the y labels are the exponents: values 1..1e4 give 0 to 4.
void TestOverlayView::logLabelsAreExponents() {
    const OverlayData d = overlay({30, 31, 32, 34}, {10, 0, 1000, 100}, {1, 50, 200, 1e4});
    ChCoord coord;
    derivedFrame(coord, d, true, 600, 400);
    RecordingDevice dev(600, 400);
    {
        QPainter p(&dev);
        drawOverlay(p, coord, d, true);
    }
    const QStringList texts = textsOf(dev);
    for (const char* label : {"0", "1", "2", "3", "4", "measured", "model"})
        QVERIFY2(texts.contains(label), qPrintable(texts.join(' ')));
    QVERIFY(!texts.contains("10000"));
}

void TestOverlayView::emptyScanDrawsNothing() {
    ChCoord coord;
    derivedFrame(coord, scanOfTwoPeaks(), true, 300, 200);
    RecordingDevice dev(300, 200);
    {
        QPainter p(&dev);
        drawOverlay(p, coord, OverlayData(), true);
    }
    QVERIFY(dev.lines.isEmpty() && dev.rects.isEmpty() && dev.polylines.isEmpty() &&
            dev.texts.isEmpty());
}

void TestOverlayView::hostileData_data() {
    QTest::addColumn<OverlayData>("d");
    QTest::addColumn<bool>("logScale");
    QTest::addColumn<QRectF>("scale"); // the user's zoom; a null rectangle: derived
    const QVector<double> hostile = {kNaN, 0, kInf, -kInf, -3, 1e308, 1e-308};
    const OverlayData wild =
        overlay({1, 2, 3, 4, 5, 6, 7}, hostile, hostile, {kNaN, kInf, -kInf, 4, 1e300});
    QTest::newRow("NaN, inf, zeros, log") << wild << true << QRectF();
    QTest::newRow("NaN, inf, zeros, linear") << wild << false << QRectF();
    QTest::newRow("all zero, log")
        << overlay({1, 2, 3}, {0, 0, 0}, {0, 0, 0}, {2}) << true << QRectF();
    QTest::newRow("single point") << overlay({31.5}, {100}, {100}, {31.5}) << true << QRectF();
    QTest::newRow("angles all NaN")
        << overlay({kNaN, kNaN}, {1, 2}, {1, 2}, {1}) << true << QRectF();
    QTest::newRow("angles at the ends of the doubles")
        << overlay({-1e308, 1e308}, {1, 2}, {2, 1}, {0}) << false << QRectF();
    QTest::newRow("curves shorter than the angles")
        << overlay({1, 2, 3, 4}, {5}, {}, {2, 3}) << true << QRectF();
    const OverlayData peaks = scanOfTwoPeaks();
    QTest::newRow("zoom 1e-300 wide") << peaks << true << QRectF(31.67, 0, 1e-300, 5);
    QTest::newRow("zoom 1e300 wide, high")
        << peaks << false << QRectF(-1e300, -1e300, 2e300, 2e300);
    QTest::newRow("zoom into the tick") << peaks << true << QRectF(31.6699, 4.99, 2e-4, 0.02);
}

// Nothing non-finite or far outside the widget reaches the painter, and the frame is drawn.
void TestOverlayView::hostileData() {
    QFETCH(OverlayData, d);
    QFETCH(bool, logScale);
    QFETCH(QRectF, scale);
    for (int round = 0; round < 2; ++round) {
        ChCoord coord;
        derivedFrame(coord, d, logScale, 600, 400);
        if (!scale.isNull())
            coord.setScale(scale.left(), scale.top(), scale.right(), scale.bottom());
        QVERIFY(usableScale(coord) || !scale.isNull());
        if (round == 0) {
            RecordingDevice dev(600, 400);
            dev.limit = 1e5;
            {
                QPainter p(&dev);
                drawOverlay(p, coord, d, logScale);
            }
            QCOMPARE(dev.badCoordinates, 0);
            QCOMPARE(dev.rects.size(), 1);
            QCOMPARE(dev.otherCalls, 0);
        } else { // into pixels, where the sanitizers would see a bad conversion
            QImage image = whiteImage(600, 400);
            QPainter p(&image);
            drawOverlay(p, coord, d, logScale);
            p.end();
            QVERIFY(isColour(image, 300, 8, grey)); // top edge of the frame
        }
    }
}

QTEST_MAIN(TestOverlayView)
#include "tst_overlayview.moc"
