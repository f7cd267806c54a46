#include "plot/chcoord.h"
#include "plot/dispa.h"
#include "simulation/resultarrays.h"
#include "tests/views/recordingdevice.h"
#include "tests/views/viewtesthelpers.h"
#include "views/compositionview.h"
#include "views/diffractionview.h"
#include "views/overlayview.h"
#include "views/plotaxes.h"
#include "views/plotcontrols.h"

#include <QApplication>
#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

using namespace viewtest;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// A rocking curve: a sharp substrate peak at 31.67 degrees over a layer peak at 31.4.
OverlayData scan() {
    OverlayData d;
    for (int i = 0; i <= 400; ++i) {
        const double t = 31.0 + 0.002 * i;
        d.theta.append(t);
        const double substrate = 1e5 / (1 + std::pow((t - 31.67) / 0.004, 2));
        const double layer = 3e3 / (1 + std::pow((t - 31.4) / 0.02, 2));
        d.measured.append(2 + substrate + layer);
        d.model.append(1.5 + substrate + 0.7 * layer);
    }
    d.measuredPeaks = {31.67, 31.4};
    d.modelPeaks = {31.67, 31.4};
    return d;
}

// A graded stack of n monolayers of 2.93 Å, In going from 0.1 to 0.4.
ResultArrays gradedStack(int n) {
    ResultArrays r;
    for (int i = 0; i <= n; ++i) {
        r.depth.append(2.93 * i);
        r.inProfile.append(0.1 + 0.3 * i / n);
        r.asProfile.append(0.9 - 0.2 * i / n);
    }
    return r;
}

enum class Plot { Diffraction, Overlay, Composition };

// Draws one plot as its display does, then zooms to the given share of each range about the
// centre of the data (a share below 1 zooms in), and draws again into `image`.
QRectF drawZoomed(QImage& image, Plot plot, double share) {
    ChCoord coord;
    if (plot != Plot::Composition)
        setDiffractionMargins(coord);
    displayFrame(coord, image.width(), image.height());
    coord.applyMargins();
    const OverlayData d = scan();
    const ResultArrays r = gradedStack(60);
    const PlotRange range = plot == Plot::Composition ? *compositionRange(r)
                            : plot == Plot::Overlay   ? *overlayRange(d, true)
                                                    : *diffractionRange(d.theta, d.measured, true);
    // About the layer peak (the diffraction plot's derived range starts at -2 degrees).
    const double cx = plot == Plot::Composition ? 0.5 * (range.x.lo + range.x.hi) : 31.45;
    const double cy = 0.5 * (range.y.lo + range.y.hi);
    const double hx = 0.5 * share * (range.x.hi - range.x.lo);
    const double hy = 0.5 * share * (range.y.hi - range.y.lo);
    coord.setScale(cx - hx, cy - hy, cx + hx, cy + hy);
    QPainter p(&image);
    if (plot == Plot::Composition)
        drawComposition(p, coord, r);
    else if (plot == Plot::Overlay)
        drawOverlay(p, coord, d, true);
    else
        drawDiffraction(p, coord, d.theta, d.measured, true);
    return frameRect(coord);
}

} // namespace

class TestReadablePlots : public QObject {
    Q_OBJECT
private slots:
    void curvesStayInTheirFrame_data();
    void curvesStayInTheirFrame();
    void compositionLabelsOfALongGradedStack_data();
    void compositionLabelsOfALongGradedStack();
    void residuals_data();
    void residuals();
    void legendIsOpaqueAndExplainsPeaks();
    void powersOfTen_data();
    void powersOfTen();
    void deltaThetaLabelsInArcseconds();
    void readout_data();
    void readout();
    void homeAndDoubleClickRestoreTheFullRange_data();
    void homeAndDoubleClickRestoreTheFullRange();
};

void TestReadablePlots::curvesStayInTheirFrame_data() {
    QTest::addColumn<int>("plot");
    QTest::addColumn<double>("share");
    QTest::newRow("diffraction, zoomed in 8x") << int(Plot::Diffraction) << 0.125;
    QTest::newRow("diffraction, zoomed in 50x") << int(Plot::Diffraction) << 0.02;
    QTest::newRow("overlay, zoomed in 8x") << int(Plot::Overlay) << 0.125;
    QTest::newRow("overlay, zoomed in 30x") << int(Plot::Overlay) << 1.0 / 30;
    QTest::newRow("composition, zoomed in 4x") << int(Plot::Composition) << 0.25;
    QTest::newRow("composition, zoomed in 20x") << int(Plot::Composition) << 0.05;
}

// After a zoom the curves run far beyond the plot rectangle; not one pixel of a curve colour
// may show outside the frame (over the tick labels and titles).
void TestReadablePlots::curvesStayInTheirFrame() {
    QFETCH(int, plot);
    QFETCH(double, share);
    QImage image = whiteImage(600, 400);
    const QRect frame = drawZoomed(image, Plot(plot), share).toRect();
    const QList<QColor> curveColours = {green, QColor(40, 90, 220), QColor(220, 0, 0), blue, red};
    int inside = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!curveColours.contains(QColor(image.pixel(x, y))))
                continue;
            if (frame.contains(x, y)) {
                ++inside;
                continue;
            }
            QFAIL(qPrintable(QString("curve pixel at (%1, %2) outside the frame").arg(x).arg(y)));
        }
    }
    QVERIFY(inside > 50); // the zoom still shows the curves
}

void TestReadablePlots::compositionLabelsOfALongGradedStack_data() {
    QTest::addColumn<int>("monolayers");
    QTest::addColumn<QSize>("display");
    QTest::newRow("3000 ML, ordinary display") << 3000 << QSize(600, 400);
    QTest::newRow("3000 ML, small display") << 3000 << QSize(300, 200);
    QTest::newRow("400 ML, large display") << 400 << QSize(1600, 1000);
    QTest::newRow("20000 ML") << 20000 << QSize(800, 600);
}

// The index labels of a long stack come at whole steps, far apart, never one per monolayer,
// and no smaller than the diffraction plot's labels on a display of the same size.
void TestReadablePlots::compositionLabelsOfALongGradedStack() {
    QFETCH(int, monolayers);
    QFETCH(QSize, display);
    const ResultArrays r = gradedStack(monolayers);
    ChCoord coord;
    displayFrame(coord, display.width(), display.height());
    coord.applyMargins();
    showRange(coord, *compositionRange(r));
    RecordingDevice dev(display.width(), display.height());
    {
        QPainter p(&dev);
        drawComposition(p, coord, r);
    }
    // Index labels lie in the first row under the plot.
    QVector<RecordingDevice::Text> index;
    for (const RecordingDevice::Text& t : dev.texts) {
        bool whole = false;
        t.text.toInt(&whole);
        if (whole && t.position.y() > coord.plotY0 &&
            t.position.y() < coord.plotY0 + 0.05 * display.height())
            index.append(t);
    }
    QVERIFY(index.size() >= 3);
    QVERIFY2(index.size() <= 16, qPrintable(QString::number(index.size())));
    const int step = index[1].text.toInt() - index[0].text.toInt();
    QVERIFY(step > 1);
    for (int i = 1; i < index.size(); ++i)
        QCOMPARE(index[i].text.toInt() - index[i - 1].text.toInt(), step);

    ChCoord kspace;
    setDiffractionMargins(kspace);
    displayFrame(kspace, display.width(), display.height());
    kspace.applyMargins();
    const OverlayData d = scan();
    showRange(kspace, *diffractionRange(d.theta, d.measured, false));
    RecordingDevice other(display.width(), display.height());
    {
        QPainter p(&other);
        drawDiffraction(p, kspace, d.theta, d.measured, false);
    }
    double diffractionSize = 0;
    for (const RecordingDevice::Text& t : other.texts)
        diffractionSize = std::max(diffractionSize, t.pointSize);
    for (const RecordingDevice::Text& t : index)
        QVERIFY2(t.pointSize >= 0.99 * diffractionSize,
                 qPrintable(QString("%1 < %2").arg(t.pointSize).arg(diffractionSize)));
}

void TestReadablePlots::residuals_data() {
    QTest::addColumn<QVector<double>>("measured");
    QTest::addColumn<QVector<double>>("model");
    QTest::addColumn<QVector<double>>("expected");
    QTest::newRow("decades") << QVector<double>{100, 10, 1000, 0.5} << QVector<double>{10, 10, 1, 5}
                             << QVector<double>{1, 0, 3, -1};
    QTest::newRow("nothing counted") << QVector<double>{0, 2, -3} << QVector<double>{5, 0, 1}
                                     << QVector<double>{kNaN, kNaN, kNaN};
    QTest::newRow("not finite") << QVector<double>{kNaN, kInf, 10} << QVector<double>{1, 1, kInf}
                                << QVector<double>{kNaN, kNaN, kNaN};
    QTest::newRow("extremes") << QVector<double>{1e300, 1e-300} << QVector<double>{1e-300, 1e300}
                              << QVector<double>{600, -600};
    QTest::newRow("shorter model")
        << QVector<double>{20, 30} << QVector<double>{2} << QVector<double>{1};
}

void TestReadablePlots::residuals() {
    QFETCH(QVector<double>, measured);
    QFETCH(QVector<double>, model);
    QFETCH(QVector<double>, expected);
    const QVector<double> r = logResiduals(measured, model);
    QCOMPARE(r.size(), expected.size());
    for (int i = 0; i < r.size(); ++i) {
        if (std::isnan(expected[i]))
            QVERIFY2(std::isnan(r[i]), qPrintable(QString::number(i)));
        else
            QVERIFY2(std::fabs(r[i] - expected[i]) < 1e-12, qPrintable(QString::number(r[i])));
    }
}

// The legend lies on a white box: a grid line that passes behind it stops at its edge. It
// names both curves and the peak marks.
void TestReadablePlots::legendIsOpaqueAndExplainsPeaks() {
    const OverlayData d = scan();
    ChCoord coord;
    setDiffractionMargins(coord);
    displayFrame(coord, 800, 600);
    coord.applyMargins();
    showRange(coord, *overlayRange(d, true));
    RecordingDevice dev(800, 600);
    QImage image = whiteImage(800, 600);
    {
        QPainter p(&dev);
        drawOverlay(p, coord, d, true);
    }
    displayFrame(coord, 800, 600);
    coord.applyMargins();
    {
        QPainter p(&image);
        drawOverlay(p, coord, d, true);
    }
    const QStringList texts = textsOf(dev);
    for (const char* name : {"measured", "model", "peaks found"})
        QVERIFY2(texts.contains(QString(name)), name);
    QRectF legend;
    for (const RecordingDevice::Text& t : dev.texts) {
        if (t.text != QLatin1String("peaks found"))
            continue;
        for (const QRectF& r : dev.rects) {
            if (r.normalized().contains(t.position))
                legend = r.normalized();
        }
    }
    QVERIFY(!legend.isEmpty());
    // Horizontal grid lines crossing the legend's height: white just inside its left edge.
    int crossing = 0;
    for (const RecordingDevice::Line& l : dev.linesOf(grey)) {
        const double y = l.line.y1();
        if (l.line.y2() != y || !(y > legend.top() + 1 && y < legend.bottom() - 1) ||
            l.line.x2() < legend.right())
            continue;
        ++crossing;
        QVERIFY(isColour(image, int(legend.left()) + 2, int(y), Qt::white));
        QVERIFY(isColour(image, int(legend.left()) - 3, int(y), grey)); // the line outside it
    }
    QVERIFY(crossing > 0);

    // A scan shown alone: its legend names no model.
    OverlayData alone = d;
    alone.model.clear();
    alone.modelPeaks.clear();
    RecordingDevice aloneDev(800, 600);
    {
        QPainter p(&aloneDev);
        drawOverlay(p, coord, alone, true);
    }
    const QStringList aloneTexts = textsOf(aloneDev);
    QVERIFY(aloneTexts.contains(QStringLiteral("measured")));
    QVERIFY(aloneTexts.contains(QStringLiteral("peaks found")));
    QVERIFY(!aloneTexts.contains(QStringLiteral("model")));
}

void TestReadablePlots::powersOfTen_data() {
    QTest::addColumn<double>("exponent");
    QTest::addColumn<QString>("label");
    QTest::newRow("2") << 2.0 << QString::fromUtf8("10\u00b2");
    QTest::newRow("-3") << -3.0 << QString::fromUtf8("10\u207b\u00b3");
    QTest::newRow("0") << 0.0 << QString::fromUtf8("10\u2070");
    QTest::newRow("12") << 12.0 << QString::fromUtf8("10\u00b9\u00b2");
    QTest::newRow("a sum of tenths") << 0.1 + 0.2 + 0.7 - 1e-15 << QString::fromUtf8("10\u00b9");
    QTest::newRow("half") << 0.5 << QString("3.16");
    QTest::newRow("1.5") << 1.5 << QString("31.6");
    QTest::newRow("3.5") << 3.5 << QString::fromUtf8("3.16\u00d710\u00b3");
    QTest::newRow("-2.5") << -2.5 << QString::fromUtf8("3.16\u00d710\u207b\u00b3");
    QTest::newRow("NaN") << kNaN << QString();
    QTest::newRow("infinite") << kInf << QString();
}

void TestReadablePlots::powersOfTen() {
    QFETCH(double, exponent);
    QFETCH(QString, label);
    QCOMPARE(powerOfTenLabel(exponent), label);
}

// 0.01 degree either side of the reference is 36 arcseconds: ticks every 10 from -30 to 30.
void TestReadablePlots::deltaThetaLabelsInArcseconds() {
    const OverlayData d = scan();
    ChCoord coord;
    setDiffractionMargins(coord);
    displayFrame(coord, 800, 600);
    coord.applyMargins();
    coord.setScale(31.66, 0, 31.68, 6);
    DiffractionAxes axes;
    axes.deltaTheta = true;
    axes.reference = 31.67;
    RecordingDevice dev(800, 600);
    {
        QPainter p(&dev);
        drawDiffraction(p, coord, d.theta, d.measured, true, CurvePainter::Detail::Reduced, axes);
    }
    const QStringList texts = textsOf(dev);
    QCOMPARE(texts.mid(0, 7), QString("-30 -20 -10 0 10 20 30").split(' '));
    // (The painter hands the Greek and the Latin part of the title over as separate items.)
    QVERIFY2(texts.join(QString()).endsWith(
                 QString::fromUtf8("\u0394\u03b8 (arcsec)intensity (arb. units)")),
             qPrintable(texts.join('|')));
}

void TestReadablePlots::readout_data() {
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<bool>("logScale");
    QTest::addColumn<double>("reference");
    QTest::addColumn<QStringList>("parts");
    QTest::newRow("log, 100 arcsec above")
        << 31.5 << 3.0 << true << 31.5 - 100.0 / 3600
        << QStringList{"31.5000", "100.0 arcsec", "I 1000 counts/s"};
    QTest::newRow("linear, below") << 30.0 << 250.0 << false << 30.5
                                   << QStringList{"30.0000", "-1800.0 arcsec", "I 250 counts/s"};
    QTest::newRow("no reference") << 30.0 << 2.0 << true << kNaN
                                  << QStringList{"30.0000", "I 100 counts/s"};
}

void TestReadablePlots::readout() {
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(bool, logScale);
    QFETCH(double, reference);
    QFETCH(QStringList, parts);
    ReadoutState state;
    state.drawn = true;
    state.logScale = logScale;
    state.unit = IntensityUnit::CountsPerSecond;
    state.reference = reference;
    const QString text = diffractionReadout(x, y, state);
    for (const QString& part : parts)
        QVERIFY2(text.contains(part), qPrintable(text));
    QCOMPARE(text.contains(QStringLiteral("arcsec")), std::isfinite(reference));
    state.drawn = false;
    QVERIFY(diffractionReadout(x, y, state).isEmpty());
}

void TestReadablePlots::homeAndDoubleClickRestoreTheFullRange_data() {
    QTest::addColumn<bool>("doubleClick");
    QTest::newRow("Home") << false;
    QTest::newRow("double click") << true;
}

// A display drawn as the window draws it: the range is derived while the flag is set. After a
// wheel zoom, Home (or a double click) brings back the derived range.
void TestReadablePlots::homeAndDoubleClickRestoreTheFullRange() {
    QFETCH(bool, doubleClick);
    const OverlayData d = scan();
    DispA display;
    display.resize(600, 400);
    setDiffractionMargins(display.coord);
    bool derive = true;
    connect(&display, &DispA::drawImage1, [&](QPainter* p) {
        display.coord.applyMargins();
        if (derive)
            showRange(display.coord, *diffractionRange(d.theta, d.measured, true));
        derive = false;
        drawDiffraction(*p, display.coord, d.theta, d.measured, true);
    });
    PlotControls controls(&display, PlotControls::Kind::Diffraction);
    connect(&controls, &PlotControls::resetRequested, [&] {
        derive = true;
        display.update();
    });
    QSignalSpy resets(&controls, &PlotControls::resetRequested);
    display.grab();
    const double x0 = display.coord.scaleX0;
    const double x1 = display.coord.scaleX1;
    const double y1 = display.coord.scaleY1;
    display.coord.setScale(31.6, 2, 31.7, 4); // as a zoom leaves it
    display.grab();
    QCOMPARE(display.coord.scaleX0, 31.6);
    QTest::keyClick(&display, Qt::Key_End);
    QCOMPARE(resets.count(), 0);
    if (doubleClick)
        QTest::mouseDClick(&display, Qt::LeftButton, Qt::NoModifier, QPoint(300, 200));
    else
        QTest::keyClick(&display, Qt::Key_Home);
    QCOMPARE(resets.count(), 1);
    display.grab();
    QCOMPARE(display.coord.scaleX0, x0);
    QCOMPARE(display.coord.scaleX1, x1);
    QCOMPARE(display.coord.scaleY1, y1);
}

QTEST_MAIN(TestReadablePlots)
#include "tst_readableplots.moc"
