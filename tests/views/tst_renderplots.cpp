#include "views/renderplots.h"

#include "simulation/resultarrays.h"
#include "tests/views/viewtesthelpers.h"
#include "views/overlayview.h"

#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace viewtest;

namespace {

// A 40-monolayer period with a graded In step, and a curve with a peak and fringes.
ResultArrays sampleResult() {
    ResultArrays r;
    for (int i = 0; i <= 40; ++i) {
        r.depth.append(2.93 * i);
        r.inProfile.append(i < 20 ? 0.53 : 1.0);
        r.asProfile.append(i < 20 ? 1.0 : 0.0);
    }
    for (int i = 0; i < 3000; ++i) {
        const double t = 0.02 * i;
        const double u = (t - 31.7) / 0.05;
        r.theta.append(t);
        r.q.append(t);
        r.intensity.append(5.0 + 1e5 / (1.0 + u * u) + 50.0 * std::pow(std::sin(t * 20), 2));
    }
    return r;
}

// The curve from 31 to 32.4 degrees as model, and 20 % higher on every other point as
// measurement.
OverlayData scanOf(const ResultArrays& r) {
    const QVector<double> part = r.intensity.mid(1550, 71);
    OverlayData d{r.theta.mid(1550, 71), part, part, {31.7}, {31.7}};
    for (int i = 0; i < d.measured.size(); i += 2)
        d.measured[i] *= 1.2;
    return d;
}

} // namespace

class TestRenderPlots : public QObject {
    Q_OBJECT
private slots:
    void compositionAboveDiffraction();
    void logScaleChangesOnlyTheLowerPlot();
    void emptySizeGivesNullImage();
    void emptyResultGivesWhitePlots();
    void overlayReplacesTheLowerPlot();
    void exportBySuffix_data();
    void exportBySuffix();
    void exportFailures();

private:
    QTemporaryDir dir;
};

void TestRenderPlots::compositionAboveDiffraction() {
    const QImage image = renderPlots(sampleResult(), true, QSize(640, 360));
    QCOMPARE(image.size(), QSize(640, 720));
    const QRect top(0, 0, 640, 360);
    const QRect bottom(0, 360, 640, 360);
    QVERIFY(pixelsOf(image, top, blue) > 500);
    QVERIFY(pixelsOf(image, top, red) > 500);
    QCOMPARE(pixelsOf(image, top, green), 0);
    QVERIFY(pixelsOf(image, bottom, green) > 500);
    QCOMPARE(pixelsOf(image, bottom, blue), 0);
    QCOMPARE(pixelsOf(image, bottom, red), 0);
    // Each plot has its own frame: the composition's from x 64, y 324 up to 18, the
    // diffraction's (margins 0.02 and 0.05) from y 360 + 342 up to 360 + 7.
    QVERIFY(isColour(image, 64, 170, grey));
    QVERIFY(isColour(image, 300, 18, grey));
    QVERIFY(isColour(image, 300, 360 + 7, grey));
    QVERIFY(isColour(image, 64, 360 + 200, grey));
    QVERIFY(isColour(image, 2, 2, Qt::white));
    QVERIFY(isColour(image, 2, 362, Qt::white));
}

void TestRenderPlots::logScaleChangesOnlyTheLowerPlot() {
    const ResultArrays r = sampleResult();
    const QImage logImage = renderPlots(r, true, QSize(400, 300));
    const QImage linearImage = renderPlots(r, false, QSize(400, 300));
    QCOMPARE(logImage.copy(0, 0, 400, 300), linearImage.copy(0, 0, 400, 300));
    QVERIFY(logImage.copy(0, 300, 400, 300) != linearImage.copy(0, 300, 400, 300));
}

void TestRenderPlots::emptySizeGivesNullImage() {
    QVERIFY(renderPlots(sampleResult(), false, QSize(0, 300)).isNull());
    QVERIFY(renderPlots(sampleResult(), false, QSize(-5, -5)).isNull());
}

void TestRenderPlots::emptyResultGivesWhitePlots() {
    const QImage image = renderPlots(ResultArrays(), false, QSize(200, 100));
    QCOMPARE(image.size(), QSize(200, 200));
    QCOMPARE(nonWhitePixels(image, image.rect()), 0);
}

// The upper plot stays; the lower one shows measurement and model, not the full curve; an
// overlay without a scan changes nothing.
void TestRenderPlots::overlayReplacesTheLowerPlot() {
    const ResultArrays r = sampleResult();
    const OverlayData scan = scanOf(r), noScan;
    const QImage plain = renderPlots(r, true, QSize(400, 300));
    const QImage overlaid = renderPlots(r, true, QSize(400, 300), &scan);
    QCOMPARE(overlaid.copy(0, 0, 400, 300), plain.copy(0, 0, 400, 300));
    QCOMPARE(pixelsOf(overlaid, QRect(0, 300, 400, 300), green), 0);
    QVERIFY(pixelsOf(overlaid, QRect(0, 300, 400, 300), QColor(40, 90, 220)) > 200);
    QVERIFY(pixelsOf(overlaid, QRect(0, 300, 400, 300), QColor(220, 0, 0)) > 200);
    QCOMPARE(renderPlots(r, true, QSize(400, 300), &noScan), plain);
}

void TestRenderPlots::exportBySuffix_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("diffractionOnly");
    QTest::newRow("png, both") << "both.png" << false;
    QTest::newRow("other suffix, diffraction") << "curve.image" << true;
    QTest::newRow("svg, both") << "both.svg" << false;
    QTest::newRow("SVG, diffraction") << "curve.SVG" << true;
}

// PNG: renderPlots' image (or its lower half). SVG: a drawing the SVG renderer accepts, of the
// plots' size in CSS pixels (1/96 inch: 400 px = 105.833 mm), with the curves' colours.
void TestRenderPlots::exportBySuffix() {
    QFETCH(QString, name);
    QFETCH(bool, diffractionOnly);
    const ResultArrays r = sampleResult();
    const OverlayData scan = scanOf(r);
    const QString path = dir.filePath(name);
    QVERIFY(exportPlots(path, r, true, QSize(400, 300), &scan, diffractionOnly));
    const QImage drawn = renderPlots(r, true, QSize(400, 300), &scan);
    if (!name.endsWith("svg", Qt::CaseInsensitive)) {
        const QImage png(path, "PNG");
        QCOMPARE(png.convertToFormat(QImage::Format_RGB32),
                 diffractionOnly ? drawn.copy(0, 300, 400, 300) : drawn);
        return;
    }
    QVERIFY(QSvgRenderer(path).isValid());
    QCOMPARE(QSvgRenderer(path).viewBox(), QRect(0, 0, 400, diffractionOnly ? 300 : 600));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains(diffractionOnly ? R"(width="105.833mm" height="79.375mm")"
                                          : R"(width="105.833mm" height="158.75mm")"));
    QVERIFY(text.contains(R"(stroke="#dc0000")") && text.contains(R"(stroke="#285adc")"));
    QCOMPARE(text.contains(R"(stroke="#0000ff")"), !diffractionOnly); // the In profile
}

// No folder, no file; an empty size writes nothing.
void TestRenderPlots::exportFailures() {
    const ResultArrays r = sampleResult();
    QVERIFY(!exportPlots(dir.filePath("none/p.png"), r, false, QSize(200, 100), nullptr, false));
    QVERIFY(!exportPlots(dir.filePath("none/p.svg"), r, false, QSize(200, 100), nullptr, true));
    QVERIFY(!exportPlots(dir.filePath("empty.svg"), r, false, QSize(0, 100), nullptr, false));
    QVERIFY(!QFile::exists(dir.filePath("empty.svg")));
}

QTEST_MAIN(TestRenderPlots)
#include "tst_renderplots.moc"
