#include "views/compositionview.h"

#include "plot/chcoord.h"
#include "simulation/expansion.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"
#include "tests/views/recordingdevice.h"
#include "tests/views/viewtesthelpers.h"

#include "tests/common/exact.h"

#include <QDir>
#include <QPainter>
#include <QtTest>

#include <cmath>
#include <limits>
#include <optional>
#include <tuple>

using namespace viewtest;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A profile of n monolayers of 2.9 Å with flat compositions, plus the closing entry.
ResultArrays flatProfile(int n, double in, double as) {
    ResultArrays r;
    for (int i = 0; i <= n; ++i) {
        r.depth.append(2.9 * i);
        r.inProfile.append(in);
        r.asProfile.append(as);
    }
    return r;
}

ResultArrays profile(QVector<double> depth, QVector<double> in, QVector<double> as) {
    ResultArrays r;
    r.depth = depth;
    r.inProfile = in;
    r.asProfile = as;
    return r;
}

struct Scale {
    double x0, y0, x1, y1;
};

// A paint of the window that derives the ranges: margins, the view's range, then the view.
void drawDerived(QPainter& p, ChCoord& coord, const ResultArrays& r) {
    coord.applyMargins();
    if (const std::optional<PlotRange> range = compositionRange(r))
        showRange(coord, *range);
    drawComposition(p, coord, r);
}

// A paint that keeps the frame's scale (the user's zoom).
void drawKept(QPainter& p, ChCoord& coord, const ResultArrays& r) {
    coord.applyMargins();
    drawComposition(p, coord, r);
}

} // namespace

Q_DECLARE_METATYPE(ResultArrays)
Q_DECLARE_METATYPE(Scale)

// The composition view on a 600 x 400 display (plot rectangle 60..570 x 360..20), checked
// through the drawing calls it makes and the pixels they give.
class TestCompositionView : public QObject {
    Q_OBJECT
private slots:
    void emptyProfileDrawsNothing();
    void oneMonolayerDrawingCalls();
    void oneMonolayerPixels();
    void defaultScalePutsThePeriodAcrossThePlot();
    void boundaryLineAtDepthZeroAfterZoom();
    void zoomedThickStackDrawsOnlyWhatShows();
    void derivedRange_data();
    void derivedRange();
    void labelsNeverExceed15Points_data();
    void labelsNeverExceed15Points();
    void curvesLieOnWholePixels();
    void degenerateInput_data();
    void degenerateInput();
    void shortcutsKeepEveryPixel_data();
    void shortcutsKeepEveryPixel();
};

void TestCompositionView::emptyProfileDrawsNothing() {
    ChCoord coord;
    displayFrame(coord, 600, 400);
    RecordingDevice dev(600, 400);
    {
        QPainter p(&dev);
        drawKept(p, coord, ResultArrays());
    }
    QVERIFY(dev.lines.isEmpty() && dev.rects.isEmpty() && dev.polylines.isEmpty() &&
            dev.texts.isEmpty());
}

// One monolayer: a boundary at depth 0 labelled "0", eleven grid lines labelled 0 to 1, the
// frame, and a two-point curve each.
void TestCompositionView::oneMonolayerDrawingCalls() {
    ChCoord coord;
    displayFrame(coord, 600, 400);
    RecordingDevice dev(600, 400);
    {
        QPainter p(&dev);
        drawDerived(p, coord, flatProfile(1, 0.25, 0.75));
    }
    // The frame, then the legend's white box.
    QCOMPARE(dev.rects.size(), 2);
    QCOMPARE(dev.rects[0], QRectF(60, 360, 510, -340));

    const QVector<RecordingDevice::Line> lines = dev.linesOf(grey);
    QCOMPARE(lines.size(), 12);
    QCOMPARE(lines[0].line, QLineF(60, 360, 60, 20));
    // Grid at trunc(toPixY(v)) for v = 0, 0.1, ... 1 over the scale -0.1..1.1.
    for (int i = 0; i < 11; ++i) {
        const int y = static_cast<int>(360 - (0.1 * i + 0.1) * 340 / 1.2 + 1e-9);
        QVERIFY2(std::fabs(lines[1 + i].line.y1() - y) <= 1, qPrintable(QString::number(i)));
        QCOMPARE(lines[1 + i].line.y1(), lines[1 + i].line.y2());
        QCOMPARE(lines[1 + i].line.x1(), 60.0);
        QCOMPARE(lines[1 + i].line.x2(), 570.0);
    }

    // The boundary's index and its depth in nm, what the two rows count, the grid, the legend.
    const QStringList expectedTexts = {"0",
                                       "0",
                                       "ML",
                                       "nm",
                                       "0",
                                       "0.1",
                                       "0.2",
                                       "0.3",
                                       "0.4",
                                       "0.5",
                                       "0.6",
                                       "0.7",
                                       "0.8",
                                       "0.9",
                                       "1",
                                       "In on group III",
                                       "As on group V"};
    QCOMPARE(textsOf(dev), expectedTexts);
    for (const RecordingDevice::Text& t : dev.texts)
        QCOMPARE(t.colour, grey);

    const QVector<RecordingDevice::Polyline> in = dev.polylinesOf(blue);
    const QVector<RecordingDevice::Polyline> as = dev.polylinesOf(red);
    QCOMPARE(in.size(), 1);
    QCOMPARE(as.size(), 1);
    QCOMPARE(in[0].penWidth, 2.0);
    QCOMPARE(as[0].penWidth, 2.0);
    // toPixY(0.25) = 360 - 0.35 * 340 / 1.2 = 260.83, toPixY(0.75) = 119.17, truncated.
    QCOMPARE(in[0].points, QPolygonF(QVector<QPointF>{{60, 260}, {570, 260}}));
    QCOMPARE(as[0].points, QPolygonF(QVector<QPointF>{{60, 119}, {570, 119}}));
    QCOMPARE(dev.otherCalls, 0);
    QCOMPARE(dev.badCoordinates, 0);
}

void TestCompositionView::oneMonolayerPixels() {
    ChCoord coord;
    displayFrame(coord, 600, 400);
    QImage image = whiteImage(600, 400);
    {
        QPainter p(&image);
        drawDerived(p, coord, flatProfile(1, 0.25, 0.75));
    }
    // Boundary line (and frame) on the plot's left edge, frame on the right edge.
    QVERIFY(isColour(image, 60, 200, grey));
    QVERIFY(isColour(image, 570, 200, grey));
    QVERIFY(isColour(image, 300, 200, Qt::white));
    // The 2-pixel curves straddle their rows; nothing blue or red far from them.
    QVERIFY(columnHas(image, 300, 259, 261, blue));
    QVERIFY(columnHas(image, 300, 118, 120, red));
    // (The legend's samples lie above composition 1.1, rows 20 to 40.)
    QVERIFY(!columnHas(image, 300, 41, 250, blue));
    QVERIFY(!columnHas(image, 300, 270, 359, blue));
    QVERIFY(!columnHas(image, 300, 41, 110, red));
    QVERIFY(!columnHas(image, 300, 128, 359, red));
    // Grid line at composition 0.5: toPixY(0.5) = 190 (189 should the sum of tenths fall short).
    QVERIFY(columnHas(image, 105, 189, 190, grey));
    // Labels (antialiased text) in the margins: the "0.5" left of its grid line, the
    // boundary's "0" under the plot's left edge, nothing in the margin's empty corner.
    QVERIFY(nonWhitePixels(image, QRect(0, 180, 55, 20)) > 5);
    QVERIFY(nonWhitePixels(image, QRect(50, 362, 20, 16)) > 5);
    QCOMPARE(nonWhitePixels(image, QRect(200, 380, 100, 20)), 0);
}

// Depth 0 on plotX0, the period thickness on plotX1, one line per monolayer but none for the
// closing entry.
void TestCompositionView::defaultScalePutsThePeriodAcrossThePlot() {
    ChCoord coord;
    displayFrame(coord, 600, 400);
    RecordingDevice dev(600, 400);
    const ResultArrays r = flatProfile(50, 0.5, 0.5);
    {
        QPainter p(&dev);
        drawDerived(p, coord, r);
    }
    XRD_COMPARE_EXACT(coord.scaleX0, 0.0);
    XRD_COMPARE_EXACT(coord.scaleX1, r.depth.last());
    XRD_COMPARE_EXACT(coord.scaleY0, -0.1);
    XRD_COMPARE_EXACT(coord.scaleY1, 1.1);
    XRD_COMPARE_EXACT(coord.toPixX(0.0), coord.plotX0);
    XRD_COMPARE_EXACT(coord.toPixX(r.depth.last()), coord.plotX1);
    const QVector<RecordingDevice::Line> lines = dev.linesOf(grey);
    QCOMPARE(lines.size(), 50 + 11);
    QCOMPARE(lines[0].line.x1(), 60.0);
    QCOMPARE(lines[49].line.x1(), std::trunc(coord.toPixX(r.depth[49])));
    QVERIFY(lines[49].line.x1() < 570);
    // 10 pixels a monolayer: labels every ten monolayers, the depth in nm under each.
    QStringList texts;
    for (const RecordingDevice::Text& t : dev.texts)
        texts << t.text;
    for (const char* label : {"0", "10", "20", "30", "40"})
        QVERIFY2(texts.contains(QString(label)), label);
    for (const char* label : {"3", "9", "11", "49"})
        QVERIFY2(!texts.contains(QString(label)), label);
}

// After a zoom that puts depth 0 in the middle the boundary line is drawn there.
void TestCompositionView::boundaryLineAtDepthZeroAfterZoom() {
    ChCoord coord;
    displayFrame(coord, 600, 400);
    coord.setScale(-3, -0.1, 3, 1.1);
    QImage image = whiteImage(600, 400);
    {
        QPainter p(&image);
        drawKept(p, coord, flatProfile(1, 0.25, 0.75));
    }
    QVERIFY(isColour(image, 315, 200, grey)); // toPixX(0) = 60 + 3 * 510 / 6
    QVERIFY(!isColour(image, 200, 200, grey));
    QVERIFY(columnHas(image, 400, 259, 261, blue));
    QVERIFY(!columnHas(image, 250, 259, 261, blue)); // the curve starts at depth 0
}

// Zoomed into ten monolayers of a 3000-monolayer stack, only the boundaries on or near the
// widget get a line and a label; the thousands beyond its sides cost nothing.
void TestCompositionView::zoomedThickStackDrawsOnlyWhatShows() {
    RecordingDevice device(400, 300);
    ChCoord coord;
    displayFrame(coord, 400, 300);
    coord.setScale(2.9 * 1000, -0.1, 2.9 * 1010, 1.1);
    {
        QPainter p(&device);
        drawKept(p, coord, flatProfile(3000, 0.2, 0.8));
    }
    QStringList labels;
    for (const RecordingDevice::Text& t : device.texts)
        labels << t.text;
    // Monolayers 1000 to 1010 start inside the plot, 36 pixels apart: every second one gets
    // its label (four label heights of room each).
    for (int i = 1000; i <= 1010; ++i)
        QCOMPARE(labels.contains(QString::number(i)), i % 2 == 0);
    // The widget (0 .. 400 px) shows about 15 monolayers of 36 px each, plus the grid labels.
    QVERIFY2(labels.size() < 40, qPrintable(QString::number(labels.size())));
    QVERIFY(device.linesOf(grey).size() < 40);
    for (const RecordingDevice::Line& l : device.linesOf(grey))
        QVERIFY(l.line.x1() >= -1 && l.line.x1() <= 401);
}

void TestCompositionView::derivedRange_data() {
    QTest::addColumn<ResultArrays>("r");
    QTest::addColumn<bool>("hasRange");
    QTest::addColumn<Scale>("expected");
    const Scale none{0, 0, 0, 0};
    QTest::newRow("10 monolayers of 2.9 A")
        << flatProfile(10, 0.3, 0.6) << true << Scale{0, -0.1, 29, 1.1};
    QTest::newRow("empty profile") << ResultArrays() << false << none;
    // Closing depths that give no usable range fall back to the span of the finite depths
    // with 0, then to 0..1.
    QTest::newRow("negative period") << profile({0, -2, -4}, {0.1, 0.2, 0.3}, {0.5, 0.5, 0.5})
                                     << true << Scale{-4, -0.1, 0, 1.1};
    QTest::newRow("NaN closing depth") << profile({0, 3, kNaN}, {0.1, 0.2, 0.3}, {0.5, 0.5, 0.5})
                                       << true << Scale{0, -0.1, 3, 1.1};
    QTest::newRow("period of zero")
        << profile({0, 0}, {0.5, 0.5}, {0.5, 0.5}) << true << Scale{0, -0.1, 1, 1.1};
}

void TestCompositionView::derivedRange() {
    QFETCH(ResultArrays, r);
    QFETCH(bool, hasRange);
    QFETCH(Scale, expected);
    const std::optional<PlotRange> range = compositionRange(r);
    QCOMPARE(range.has_value(), hasRange);
    if (!range)
        return;
    XRD_COMPARE_CLOSE(range->x.lo, expected.x0, 1e-12);
    XRD_COMPARE_CLOSE(range->y.lo, expected.y0, 1e-12);
    XRD_COMPARE_CLOSE(range->x.hi, expected.x1, 1e-12);
    XRD_COMPARE_CLOSE(range->y.hi, expected.y1, 1e-12);
}

void TestCompositionView::labelsNeverExceed15Points_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("monolayers");
    QTest::addColumn<bool>("capReached");
    QTest::newRow("large display, wide monolayers") << 2400 << 1600 << 3 << true;
    QTest::newRow("ordinary display") << 600 << 400 << 20 << false;
    QTest::newRow("many thin monolayers") << 600 << 400 << 400 << false;
}

// Labels are fitted to their boxes but never above 15 points; a large display reaches the cap.
void TestCompositionView::labelsNeverExceed15Points() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, monolayers);
    QFETCH(bool, capReached);
    ChCoord coord;
    displayFrame(coord, width, height);
    RecordingDevice dev(width, height);
    {
        QPainter p(&dev);
        drawDerived(p, coord, flatProfile(monolayers, 0.3, 0.6));
    }
    // At most about twenty index labels (each with its depth), whatever the monolayer count,
    // beside the eleven grid labels, the two row captions and the legend.
    QVERIFY2(dev.texts.size() <= 2 * std::min(monolayers, 20) + 15,
             qPrintable(QString::number(dev.texts.size())));
    double largest = 0;
    double smallest = 1e9;
    for (const RecordingDevice::Text& t : dev.texts) {
        QVERIFY2(t.pointSize <= 15.0, qPrintable(t.text + ": " + QString::number(t.pointSize)));
        largest = std::max(largest, t.pointSize);
        smallest = std::min(smallest, t.pointSize);
    }
    if (capReached)
        QCOMPARE(largest, 15.0);
    else
        QVERIFY(largest < 15.0);
    // Even at 1.3 pixels a monolayer no label shrinks to an unreadable size.
    QVERIFY2(smallest >= 5.0, qPrintable(QString::number(smallest)));
}

// Every curve point is a whole pixel (the curve moves in one-pixel steps).
void TestCompositionView::curvesLieOnWholePixels() {
    ResultArrays r;
    for (int i = 0; i <= 300; ++i) {
        r.depth.append(2.93 * i);
        r.inProfile.append(0.5 + 0.4 * std::sin(i * 0.05));
        r.asProfile.append(0.5 + 0.4 * std::cos(i * 0.07));
    }
    ChCoord coord;
    displayFrame(coord, 700, 450);
    RecordingDevice dev(700, 450);
    {
        QPainter p(&dev);
        drawDerived(p, coord, r);
    }
    QCOMPARE(dev.polylines.size(), 2);
    for (const RecordingDevice::Polyline& line : dev.polylines) {
        QVERIFY(line.points.size() > 100);
        for (const QPointF& q : line.points) {
            QCOMPARE(q.x(), std::trunc(q.x()));
            QCOMPARE(q.y(), std::trunc(q.y()));
        }
    }
}

void TestCompositionView::degenerateInput_data() {
    QTest::addColumn<ResultArrays>("r");
    QTest::addColumn<bool>("derive");
    QTest::addColumn<Scale>("scale"); // the user's scale, when not derived
    const Scale none{0, 0, 1, 1};
    QTest::newRow("NaN depth") << profile({0, kNaN, 6, 9}, {0.5, 0.5, 0.5, 0.5},
                                          {0.2, 0.2, 0.2, 0.2})
                               << true << none;
    QTest::newRow("NaN and infinite compositions")
        << profile({0, 3, 6}, {kNaN, 0.5, kNaN}, {0.5, kInf, -kInf}) << true << none;
    QTest::newRow("period of zero") << profile({0, 0}, {0.5, 0.5}, {0.5, 0.5}) << true << none;
    QTest::newRow("negative period")
        << profile({0, -2, -4}, {0.1, 0.2, 0.3}, {0.5, 0.5, 0.5}) << true << none;
    QTest::newRow("one entry") << profile({0}, {0.5}, {0.5}) << true << none;
    QTest::newRow("NaN closing depth")
        << profile({0, 3, kNaN}, {0.1, 0.2, 0.3}, {0.5, 0.5, 0.5}) << true << none;
    QTest::newRow("infinite closing depth")
        << profile({0, 3, kInf}, {0.1, 0.2, 0.3}, {0.5, 0.5, 0.5}) << true << none;
    QTest::newRow("all depths NaN")
        << profile({kNaN, kNaN}, {0.1, 0.2}, {0.5, 0.5}) << true << none;
    QTest::newRow("huge depths") << profile({0, 1e300, std::numeric_limits<double>::max()},
                                            {0.1, 0.2, 0.3}, {0.5, 0.5, 0.5})
                                 << true << none;
    QTest::newRow("shorter composition vectors") << profile({0, 3, 6}, {0.1}, {}) << true << none;
    const ResultArrays ordinary = flatProfile(5, 0.3, 0.6);
    QTest::newRow("zoom 1e-300 wide") << ordinary << false << Scale{0, -0.1, 1e-300, 1.1};
    QTest::newRow("zoom 1e-300 high") << ordinary << false << Scale{0, 0.3, 14.5, 0.3 + 1e-300};
    QTest::newRow("zoom 1e300 wide") << ordinary << false << Scale{-1e300, -1e300, 1e300, 1e300};
    QTest::newRow("scale of zero extent") << ordinary << false << Scale{5, 0.5, 5, 0.5};
    QTest::newRow("depths mapping beyond int range")
        << profile({0, 1e10, 2e10, 3e10}, {0.1, 0.9, 0.1, 0.9}, {0.9, 0.1, 0.9, 0.1}) << false
        << Scale{0, -0.1, 1, 1.1};
    QTest::newRow("NaN scale") << ordinary << false << Scale{kNaN, kNaN, 1, 1};
}

// Nothing non-finite or far outside the widget reaches the painter, derived ranges are
// usable, and the picture still gets its frame.
void TestCompositionView::degenerateInput() {
    QFETCH(ResultArrays, r);
    QFETCH(bool, derive);
    QFETCH(Scale, scale);
    ChCoord coord;
    displayFrame(coord, 600, 400);
    if (!derive)
        coord.setScale(scale.x0, scale.y0, scale.x1, scale.y1);
    RecordingDevice dev(600, 400);
    dev.limit = 1e5;
    {
        QPainter p(&dev);
        if (derive)
            drawDerived(p, coord, r);
        else
            drawKept(p, coord, r);
    }
    QCOMPARE(dev.badCoordinates, 0);
    // The frame, and the legend's box where the plot has room for it.
    QVERIFY(dev.rects.size() == 1 || dev.rects.size() == 2);
    if (derive)
        QVERIFY(usableScale(coord));

    // The same into pixels (under the sanitizers this is where a bad conversion would show).
    ChCoord again;
    displayFrame(again, 600, 400);
    if (!derive)
        again.setScale(scale.x0, scale.y0, scale.x1, scale.y1);
    QImage image = whiteImage(600, 400);
    QPainter p(&image);
    if (derive)
        drawDerived(p, again, r);
    else
        drawKept(p, again, r);
    p.end();
    QVERIFY(isColour(image, 300, 20, grey)); // top edge of the frame
}

// The bundled examples and the benchmark stacks on the window's plot, a large display and a
// wide strip, whole and zoomed about the middle down to labels of a pixel or two.
void TestCompositionView::shortcutsKeepEveryPixel_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("zoom");
    for (const QFileInfo& f : QDir(XRD_EXAMPLES_DIR).entryInfoList({"*.txt"}) +
                                  QDir(XRD_BENCH_DATA_DIR).entryInfoList({"*.txt"})) {
        for (const auto& [w, h, zoom] : {std::tuple{780, 140, 1.0},
                                         {780, 140, 10.0},
                                         {1600, 400, 1.0},
                                         {2560, 300, 1.0},
                                         {1600, 400, 30.0},
                                         {600, 400, 200.0}})
            QTest::addRow("%s %dx%d x%g", qPrintable(f.baseName()), w, h, zoom)
                << f.filePath() << QSize(w, h) << zoom;
    }
}

// Drawn as the program draws it (repeated boundary lines and labels too small for a pixel
// left out) and with everything drawn, the picture is the same.
void TestCompositionView::shortcutsKeepEveryPixel() {
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(double, zoom);
    Config config;
    QVERIFY(config.load(file) && config.valid);
    ResultArrays r;
    expandLayers(config, r);
    const double mid = 0.5 * r.depth.last(), half = mid / zoom;
    QImage images[2];
    for (auto detail : {CurvePainter::Detail::Reduced, CurvePainter::Detail::AllPoints}) {
        ChCoord coord;
        displayFrame(coord, size.width(), size.height());
        coord.applyMargins();
        coord.setScale(mid - half, -0.1, mid + half, 1.1);
        QImage& image = images[int(detail)] = whiteImage(size.width(), size.height());
        QPainter p(&image);
        drawComposition(p, std::as_const(coord), r, detail);
    }
    QCOMPARE(images[0], images[1]);
}

QTEST_MAIN(TestCompositionView)
#include "tst_compositionview.moc"
