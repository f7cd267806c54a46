#include "renderplots.h"

#include "overlayview.h"
#include "resultarrays.h"
#include "viewtesthelpers.h"

#include <QRegularExpression>
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

// A scan of the curve's peak from 31 to 32.4 degrees, counted 20 % high on every other point.
OverlayData scanOf(const ResultArrays& r) {
    OverlayData d;
    for (int i = 0; i < r.theta.size(); ++i) {
        if (r.theta[i] < 31.0 || r.theta[i] > 32.4)
            continue;
        d.theta.append(r.theta[i]);
        d.model.append(r.intensity[i]);
        d.measured.append(r.intensity[i] * (i % 2 ? 1.2 : 1.0));
    }
    d.measuredPeaks = {31.7};
    d.modelPeaks = {31.7};
    return d;
}

const QColor measuredBlue(40, 90, 220);
const QColor modelRed(220, 0, 0);

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
    void overlayReplacesTheLowerPlot();
    void exportWritesTheFormatOfTheSuffix_data();
    void exportWritesTheFormatOfTheSuffix();
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

// With a scan the lower plot shows the measurement and the model instead of the full curve;
// the upper plot stays as it was, and an overlay without a scan changes nothing.
void TestRenderPlots::overlayReplacesTheLowerPlot() {
    const ResultArrays r = sampleResult();
    const OverlayData scan = scanOf(r);
    const QImage plain = renderPlots(r, true, QSize(400, 300));
    const QImage overlaid = renderPlots(r, true, QSize(400, 300), &scan);
    const QRect bottom(0, 300, 400, 300);
    QCOMPARE(overlaid.copy(0, 0, 400, 300), plain.copy(0, 0, 400, 300));
    QCOMPARE(pixelsOf(overlaid, bottom, green), 0);
    QVERIFY(pixelsOf(overlaid, bottom, measuredBlue) > 200);
    QVERIFY(pixelsOf(overlaid, bottom, modelRed) > 200);
    const OverlayData noScan;
    QCOMPARE(renderPlots(r, true, QSize(400, 300), &noScan), plain);
}

void TestRenderPlots::exportWritesTheFormatOfTheSuffix_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("diffractionOnly");
    QTest::addColumn<bool>("svg");
    QTest::newRow("png, both") << "both.png" << false << false;
    QTest::newRow("png, diffraction") << "curve.png" << true << false;
    QTest::newRow("other suffix is png") << "plots.image" << false << false;
    QTest::newRow("svg, both") << "both.svg" << false << true;
    QTest::newRow("SVG, diffraction") << "curve.SVG" << true << true;
}

// PNG: the image renderPlots draws (or its lower half alone). SVG: a drawing the SVG renderer
// accepts, of the same size, that shows the model's red and the measurement's blue.
void TestRenderPlots::exportWritesTheFormatOfTheSuffix() {
    QFETCH(QString, name);
    QFETCH(bool, diffractionOnly);
    QFETCH(bool, svg);
    const ResultArrays r = sampleResult();
    const OverlayData scan = scanOf(r);
    const QString path = dir.filePath(name);
    QVERIFY(exportPlots(path, r, true, QSize(400, 300), &scan, diffractionOnly));
    const QSize size(400, diffractionOnly ? 300 : 600);
    const QImage drawn = renderPlots(r, true, QSize(400, 300), &scan);
    const QImage expected = diffractionOnly ? drawn.copy(0, 300, 400, 300) : drawn;
    if (!svg) {
        QImage image;
        QVERIFY(image.load(path, "PNG"));
        QCOMPARE(image.convertToFormat(QImage::Format_RGB32), expected);
        return;
    }
    QSvgRenderer renderer(path);
    QVERIFY(renderer.isValid());
    QCOMPARE(renderer.viewBox(), QRect(QPoint(0, 0), size));
    // Its page is the plots' size in CSS pixels (1/96 inch): 400 px = 105.833 mm.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QRegularExpressionMatch page =
        QRegularExpression(R"(<svg width="([0-9.]+)mm" height="([0-9.]+)mm")")
            .match(QString::fromUtf8(file.readAll()));
    QVERIFY(page.hasMatch());
    QVERIFY(std::fabs(page.captured(1).toDouble() - 400 * 25.4 / 96) < 1e-3);
    QVERIFY(std::fabs(page.captured(2).toDouble() - size.height() * 25.4 / 96) < 1e-3);
    QImage image = whiteImage(size.width(), size.height());
    QPainter p(&image);
    renderer.render(&p);
    p.end();
    // The SVG renderer smooths the lines, so their colours are mixed with the white around.
    const auto count = [&](const QRect& area, auto tinted) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += tinted(QColor(image.pixel(x, y)));
        return n;
    };
    const auto reddish = [](const QColor& c) {
        return c.red() - std::max(c.green(), c.blue()) > 60;
    };
    const auto bluish = [](const QColor& c) {
        return c.blue() - std::max(c.red(), c.green()) > 60;
    };
    const QRect lower(0, size.height() - 300, 400, 300);
    QVERIFY(count(lower, reddish) > 100);
    QVERIFY(count(lower, bluish) > 100);
    if (!diffractionOnly) // the As and In profiles
        QVERIFY(count(QRect(0, 0, 400, 300), reddish) > 100);
}

void TestRenderPlots::exportFailures() {
    const ResultArrays r = sampleResult();
    const QString missing = dir.filePath("no-such-folder/plots.png");
    QVERIFY(!exportPlots(missing, r, false, QSize(200, 100), nullptr, false));
    QVERIFY(!exportPlots(dir.filePath("no-such-folder/plots.svg"), r, false, QSize(200, 100),
                         nullptr, true));
    QVERIFY(!QFile::exists(missing));
    QVERIFY(!exportPlots(dir.filePath("empty.png"), r, false, QSize(0, 100), nullptr, false));
    QVERIFY(!QFile::exists(dir.filePath("empty.png")));
}

QTEST_MAIN(TestRenderPlots)
#include "tst_renderplots.moc"
