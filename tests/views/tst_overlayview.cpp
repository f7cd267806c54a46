#include "views/overlayview.h"

#include "plot/chcoord.h"
#include "tests/views/recordingdevice.h"
#include "tests/views/viewtesthelpers.h"
#include "views/diffractionview.h"

#include "tests/common/exact.h"

#include <QPainter>
#include <QtTest>

#include <limits>

using namespace viewtest;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A layer peak at 31.5 degrees and the substrate's at 31.67, 601 points; the measurement is
// off by turns and counted nothing on every seventh point.
OverlayData twoPeaks() {
    OverlayData d{{}, {}, {}, {31.67, 31.5}, {31.67, 31.5}};
    for (int i = 0; i <= 600; ++i) {
        const double t = 31.0 + 0.002 * i, u = (t - 31.5) / 0.01, v = (t - 31.67) / 0.004;
        d.theta << t;
        d.model << 2.0 + 3e3 / (1 + u * u) + 1e5 / (1 + v * v);
        d.measured << (i % 7 == 3 ? 0.0 : d.model.last() * (i % 2 ? 1.3 : 0.8));
    }
    return d;
}

// The 600 x 400 diffraction display (plot rectangle 60..570 x 380..8), derived range.
void derivedFrame(ChCoord& coord, const OverlayData& d, bool logScale) {
    setDiffractionMargins(coord);
    displayFrame(coord, 600, 400);
    coord.applyMargins();
    if (const std::optional<PlotRange> r = overlayRange(d, logScale))
        showRange(coord, *r);
}

} // namespace

Q_DECLARE_METATYPE(OverlayData)

class TestOverlayView : public QObject {
    Q_OBJECT
private slots:
    void derivedRange_data() {
        QTest::addColumn<OverlayData>("d");
        QTest::addColumn<bool>("logScale");
        QTest::addColumn<QRectF>("expected"); // x0, y0, x1 - x0, y1 - y0; null: no range
        // Angles 30..34 padded by 2 % of 4; values 1..1e4 of both curves: logarithms 0..4
        // padded by 5 %, or linear -5 % .. 105 % of 1e4.
        const OverlayData plain{{30, 31, 32, 34}, {10, 0, 1000, 100}, {1, 50, 200, 1e4}, {}, {}};
        QTest::newRow("log, zero skipped") << plain << true << QRectF(29.92, -0.2, 4.16, 4.4);
        QTest::newRow("linear") << plain << false << QRectF(29.92, -500, 4.16, 11000);
        // Positive finite values 100..1000 only: logarithms 2..3; angles 10..20.
        const OverlayData holes{{kNaN, 10, 20}, {0, 0, 100}, {-5, 1000, kNaN}, {}, {}};
        QTest::newRow("log, holes") << holes << true << QRectF(9.8, 1.95, 10.4, 1.1);
        QTest::newRow("linear, holes") << holes << false << QRectF(9.8, -50, 10.4, 1100);
        // One point: unit ranges around 31.5 and log10(100); nothing positive: 0..1.
        QTest::newRow("one point")
            << OverlayData{{31.5}, {100}, {100}, {}, {}} << true << QRectF(31, 1.5, 1, 1);
        QTest::newRow("all zero") << OverlayData{{1, 2}, {0, 0}, {0, 0}, {}, {}} << true
                                  << QRectF(0.98, 0, 1.04, 1);
        QTest::newRow("no scan") << OverlayData() << true << QRectF();
    }
    void derivedRange() {
        QFETCH(OverlayData, d);
        QFETCH(bool, logScale);
        QFETCH(QRectF, expected);
        const std::optional<PlotRange> r = overlayRange(d, logScale);
        QCOMPARE(r.has_value(), !expected.isNull());
        if (r) {
            XRD_COMPARE_CLOSE(r->x.lo, expected.left(), 1e-12);
            XRD_COMPARE_CLOSE(r->x.hi, expected.right(), 1e-12);
            XRD_COMPARE_CLOSE(r->y.lo, expected.top(), 1e-12);
            XRD_COMPARE_CLOSE(r->y.hi, expected.bottom(), 1e-12);
        }
    }

    // Both curves in their colours inside the plot only, the model's top where the mapping
    // puts it with its tick above, the legend's samples top right.
    void colours_data() {
        QTest::addColumn<bool>("logScale");
        QTest::newRow("log") << true;
        QTest::newRow("linear") << false;
    }
    void colours() {
        QFETCH(bool, logScale);
        const QColor blue(40, 90, 220), red(220, 0, 0);
        const OverlayData d = twoPeaks();
        ChCoord coord;
        derivedFrame(coord, d, logScale);
        QImage image = whiteImage(600, 400);
        QPainter p(&image);
        drawOverlay(p, coord, d, logScale);
        p.end();
        const QRect plot(61, 9, 509, 371);
        QVERIFY(pixelsOf(image, plot, blue) > 300 && pixelsOf(image, plot, red) > 300);
        QCOMPARE(pixelsOf(image, image.rect(), blue), pixelsOf(image, plot, blue));
        QCOMPARE(pixelsOf(image, image.rect(), red), pixelsOf(image, plot, red));
        const double top = 1e5 + 2 + 3e3 / (1 + 17 * 17); // at 31.67 degrees
        const int x = int(coord.toPixX(31.67));
        const int y = int(coord.toPixY(logScale ? std::log10(top) : top));
        QVERIFY(isColour(image, x, y, red) && !isColour(image, x, y - 3, red));
        QVERIFY(columnHas(image, x, std::max(19, y - 6) - 9, std::max(19, y - 6), red));
        QVERIFY(pixelsOf(image, QRect(420, 9, 150, 40), red) >= 20);
        QVERIFY(pixelsOf(image, QRect(420, 9, 150, 40), blue) >= 20);
    }

    // Nothing non-finite or far outside the widget reaches the painter; no scan, no drawing.
    void hostileData_data() {
        QTest::addColumn<OverlayData>("d");
        QTest::addColumn<bool>("logScale");
        QTest::addColumn<QRectF>("zoom"); // null: the derived range
        const QVector<double> bad = {kNaN, 0, kInf, -kInf, -3, 1e308, 1e-308};
        const OverlayData wild{{1, 2, 3, 4, 5, 6, 7}, bad, bad, {kNaN, kInf, 4, 1e300}, {-kInf}};
        QTest::newRow("NaN, inf, zeros, log") << wild << true << QRectF();
        QTest::newRow("NaN, inf, zeros, linear") << wild << false << QRectF();
        QTest::newRow("all zero") << OverlayData{{1, 2}, {0, 0}, {0, 0}, {1}, {2}} << true
                                  << QRectF();
        QTest::newRow("one point")
            << OverlayData{{31.5}, {9}, {9}, {31.5}, {31.5}} << true << QRectF();
        QTest::newRow("angles at the ends of the doubles")
            << OverlayData{{-1e308, 1e308}, {1, 2}, {2}, {0}, {}} << false << QRectF();
        QTest::newRow("zoom 1e-300") << twoPeaks() << true << QRectF(31.67, 0, 1e-300, 5);
        QTest::newRow("zoom 1e300") << twoPeaks() << false << QRectF(-1e300, -1e300, 2e300, 2e300);
        QTest::newRow("no scan") << OverlayData{{}, {1}, {1}, {1}, {1}} << true << QRectF();
    }
    void hostileData() {
        QFETCH(OverlayData, d);
        QFETCH(bool, logScale);
        QFETCH(QRectF, zoom);
        ChCoord coord;
        derivedFrame(coord, d, logScale);
        if (!zoom.isNull())
            coord.setScale(zoom.left(), zoom.top(), zoom.right(), zoom.bottom());
        RecordingDevice dev(600, 400);
        dev.limit = 1e5;
        {
            QPainter p(&dev);
            drawOverlay(p, coord, d, logScale);
        }
        QCOMPARE(dev.badCoordinates, 0);
        // Nothing for an empty scan; else the frame first, then title, legend and strip boxes.
        if (d.theta.isEmpty())
            QCOMPARE(dev.rects.size(), 0);
        else
            QVERIFY(!dev.rects.isEmpty() && dev.rects.size() <= 6);
        QImage image = whiteImage(600, 400); // where the sanitizers see a bad conversion
        QPainter p(&image);
        drawOverlay(p, coord, d, logScale);
    }
};

QTEST_MAIN(TestOverlayView)
#include "tst_overlayview.moc"
