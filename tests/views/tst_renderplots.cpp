#include "renderplots.h"

#include "resultarrays.h"
#include "viewtesthelpers.h"

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

int pixelsOf(const QImage& image, const QRect& area, const QColor& c) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (isColour(image, x, y, c))
                ++count;
        }
    }
    return count;
}

} // namespace

class TestRenderPlots : public QObject {
    Q_OBJECT
private slots:
    void compositionAboveDiffraction();
    void logScaleChangesOnlyTheLowerPlot();
    void emptySizeGivesNullImage();
    void emptyResultGivesWhitePlots();
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

QTEST_MAIN(TestRenderPlots)
#include "tst_renderplots.moc"
