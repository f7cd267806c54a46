#include "analysis/instrument.h"
#include "analysis/resolution.h"

#include <QtTest>

#include <cmath>
#include <random>

namespace {

constexpr double kFwhmPerSigma = 2.3548200450309493; // 2 sqrt(2 ln 2)

QVector<double> gridFrom(double theta0, double step, int n) {
    QVector<double> t(n);
    for (int i = 0; i < n; ++i)
        t[i] = theta0 + i * step;
    return t;
}

// A diffraction-like curve: a sharp substrate peak, a weaker layer peak, tails six decades
// below the top.
QVector<double> peakCurve(int n) {
    QVector<double> c(n);
    for (int i = 0; i < n; ++i) {
        const double x = (i - 0.6 * n) / 4.0;
        const double y = (i - 0.3 * n) / 25.0;
        c[i] = 1.0 / (1.0 + x * x) + 0.05 * std::exp(-0.5 * y * y) + 1e-6;
    }
    return c;
}

} // namespace

class TestInstrument : public QObject {
    Q_OBJECT
private slots:
    void deltaAndBoxAgainstGaussian_data();
    void deltaAndBoxAgainstGaussian();
    void smoothInTheShift_data();
    void smoothInTheShift();
    void edgesKeepAConstant();
    void finiteForExtremeInput();
    void recommendedStepResolvesTheKernel();
    void scaleBackgroundRecovered_data();
    void scaleBackgroundRecovered();
    void degenerateScaleBackground();
    void agreementByHand();
};

void TestInstrument::deltaAndBoxAgainstGaussian_data() {
    QTest::addColumn<double>("fwhm");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("boxHalfWidth"); // 0: a delta of unit area
    // Of the peak: the box's edge sampled at fwhm/5 is a midpoint rule off by (step/sigma)^2/100.
    QTest::addColumn<double>("tolerance");
    QTest::newRow("delta, fwhm/5 grid") << 0.01 << 0.002 << 0 << 1e-5;
    QTest::newRow("delta, fwhm/12 grid") << 0.006 << 0.0005 << 0 << 1e-5;
    QTest::newRow("box 21 points") << 0.01 << 0.001 << 10 << 1e-3;
    QTest::newRow("box wider than kernel") << 0.004 << 0.0008 << 40 << 3e-3;
}

void TestInstrument::deltaAndBoxAgainstGaussian() {
    QFETCH(double, fwhm);
    QFETCH(double, step);
    QFETCH(int, boxHalfWidth);
    QFETCH(double, tolerance);
    const int n = 801, centre = 400;
    const double theta0 = 30.0;
    QVector<double> fine(n, 0.0);
    for (int i = centre - boxHalfWidth; i <= centre + boxHalfWidth; ++i)
        fine[i] = boxHalfWidth == 0 ? 1.0 / step : 1.0; // unit area, or unit height
    const QVector<double> thetaOut = gridFrom(theta0 + 300 * step, step, 201);
    const QVector<double> out = convolveResolution(theta0, step, fine, fwhm, thetaOut);
    const double sigma = fwhm / kFwhmPerSigma;
    const double c = theta0 + centre * step;
    for (int k = 0; k < thetaOut.size(); ++k) {
        const double x = thetaOut[k] - c;
        double expected;
        if (boxHalfWidth == 0) {
            expected = std::exp(-0.5 * x * x / (sigma * sigma)) / (sigma * std::sqrt(2 * M_PI));
        } else {
            const double a = (boxHalfWidth + 0.5) * step; // the box's edges on the grid
            expected = 0.5 * (std::erf((x + a) / (sigma * M_SQRT2)) -
                              std::erf((x - a) / (sigma * M_SQRT2)));
        }
        const double peak = boxHalfWidth == 0 ? 1.0 / (sigma * std::sqrt(2 * M_PI)) : 1.0;
        QVERIFY2(std::fabs(out[k] - expected) < tolerance * peak,
                 qPrintable(QString("x=%1: %2 vs %3").arg(x).arg(out[k]).arg(expected)));
    }
}

void TestInstrument::smoothInTheShift_data() {
    QTest::addColumn<double>("fwhm"); // 0: interpolation alone
    QTest::newRow("no resolution") << 0.0;
    QTest::newRow("resolution 0.01") << 0.01;
}

void TestInstrument::smoothInTheShift() {
    // A Gaussian peak 20 fine steps wide (sigma), its convolution with a Gaussian of the
    // resolution another Gaussian of sigma sqrt(s^2 + r^2): at every fine point on its flanks
    // the slope of the output in the angle is the same just left and just right of the point
    // (straight lines between points would jump there by f'' times the step, about a tenth of
    // the largest slope), and on the flanks equal to the analytic slope within 1 % of the
    // largest.
    QFETCH(double, fwhm);
    const double step = 0.001, theta0 = 30.0, centre = 30.3, width = 0.02;
    QVector<double> fine(601);
    for (int i = 0; i < fine.size(); ++i)
        fine[i] = std::exp(-0.5 * std::pow((theta0 + i * step - centre) / width, 2));
    const double r = fwhm / kFwhmPerSigma;
    const double s = std::sqrt(width * width + r * r);
    const double height = width / s; // the area is kept
    auto slope = [&](double t) {
        const double x = t - centre;
        return -height * x / (s * s) * std::exp(-0.5 * x * x / (s * s));
    };
    const double h = 1e-6 * step;
    QVector<double> at;
    for (int i = 260; i <= 340; i += 3)
        for (double d : {-h, 0.0, h})
            at << theta0 + i * step + d;
    const QVector<double> out = convolveResolution(theta0, step, fine, fwhm, at);
    const double largest = height / s * std::exp(-0.5);
    for (int k = 0; k + 2 < out.size(); k += 3) {
        const double left = (out[k + 1] - out[k]) / h;
        const double right = (out[k + 2] - out[k + 1]) / h;
        const QString where = QString::number(at[k + 1] - centre);
        QVERIFY2(std::fabs(left - right) < 1e-3 * largest,
                 qPrintable(where + QString(": %1 vs %2").arg(left).arg(right)));
        // The monotone slopes flatten within a few steps of the top (by design: no
        // overshoot); on the flanks they are the curve's.
        if (std::fabs(at[k + 1] - centre) < 0.01)
            continue;
        QVERIFY2(std::fabs(right - slope(at[k + 1])) < 1e-2 * largest,
                 qPrintable(where + QString(": %1 vs %2").arg(right).arg(slope(at[k + 1]))));
    }
}

void TestInstrument::edgesKeepAConstant() {
    const QVector<double> fine(50, 7.5);
    // Outputs before, across and after the grid, at and between its points.
    const QVector<double> out =
        convolveResolution(10.0, 0.01, fine, 0.08, {9.0, 10.0, 10.003, 10.2, 10.4875, 10.49, 11.0});
    for (double v : out)
        QCOMPARE(v, 7.5);
}

void TestInstrument::finiteForExtremeInput() {
    QVector<double> fine(40);
    for (int i = 0; i < fine.size(); ++i)
        fine[i] = (i % 3 == 0 ? -1.0 : 1.0) * 1.7e308;
    const QVector<double> thetaOut = {qQNaN(), -1e300, 0.0, 0.05, 0.0999, 0.2, 1e300};
    for (double fwhm : {0.0, 0.01, 0.5, 1e300}) {
        const QVector<double> out = convolveResolution(0.0, 0.0025, fine, fwhm, thetaOut);
        QCOMPARE(out.size(), thetaOut.size());
        for (double v : out)
            QVERIFY(std::isfinite(v));
    }
    QCOMPARE(convolveResolution(0.0, 0.0, fine, 0.01, {1.0}), QVector<double>({0.0}));
    QCOMPARE(convolveResolution(0.0, 0.1, {}, 0.01, {1.0}), QVector<double>({0.0}));
}

void TestInstrument::recommendedStepResolvesTheKernel() {
    // A Lorentzian as wide as the resolution, convolved on the grid a comparison chooses for
    // the measurement's step and on a grid fifty times finer, sampled at the measured angles:
    // the same curve but for the interpolation between fine points (under 2 %).
    const double fwhm = 0.01;
    const double step = Resolution(fwhm).fineStep(0.0013);
    auto lorentz = [](double t) { return 1.0 / (1.0 + std::pow((t - 33.0) / 0.005, 2)); };
    auto convolvedOn = [&](double s, const QVector<double>& out) {
        const int n = int(std::lround(1.0 / s)) + 1;
        QVector<double> fine(n);
        for (int i = 0; i < n; ++i)
            fine[i] = lorentz(32.5 + i * s);
        return convolveResolution(32.5, s, fine, fwhm, out);
    };
    const QVector<double> thetaOut = gridFrom(32.9, 0.0013, 150);
    const QVector<double> coarse = convolvedOn(step, thetaOut);
    const QVector<double> reference = convolvedOn(step / 50, thetaOut);
    for (int k = 0; k < thetaOut.size(); ++k)
        QVERIFY2(
            std::fabs(coarse[k] - reference[k]) < 2e-2 * reference[k],
            qPrintable(QString("%1: %2 vs %3").arg(thetaOut[k]).arg(coarse[k]).arg(reference[k])));
}

void TestInstrument::scaleBackgroundRecovered_data() {
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("background");
    QTest::addColumn<bool>("fixScale");
    QTest::addColumn<bool>("fixBackground");
    QTest::addColumn<double>("countingTime"); // 0: no noise
    // Relative. Least squares on the logarithms of Poisson counts are biased low by about
    // 1/(2 ln 10 counts) decades, and zero counts drop out: a few per cent at 5 to 20 counts.
    // At 5 counts a point and a tail of the curve as low as the background, -20 % here.
    QTest::addColumn<double>("scaleTolerance");
    QTest::addColumn<double>("backgroundTolerance");
    QTest::newRow("both free, exact") << 3.0e5 << 2.0 << false << false << 0.0 << 1e-6 << 1e-6;
    QTest::newRow("scale only, exact") << 4.2e4 << 0.5 << false << true << 0.0 << 1e-8 << 0.0;
    QTest::newRow("background only, exact") << 1.0e5 << 3.3 << true << false << 0.0 << 0.0 << 1e-8;
    QTest::newRow("no background, exact") << 2.5e5 << 0.0 << false << false << 0.0 << 1e-8 << 0.0;
    QTest::newRow("both free, Poisson 10 s")
        << 3.0e5 << 2.0 << false << false << 10.0 << 0.02 << 0.06;
    QTest::newRow("both free, Poisson 1 s")
        << 1.0e6 << 5.0 << false << false << 1.0 << 0.05 << 0.25;
}

void TestInstrument::scaleBackgroundRecovered() {
    QFETCH(double, scale);
    QFETCH(double, background);
    QFETCH(bool, fixScale);
    QFETCH(bool, fixBackground);
    QFETCH(double, countingTime);
    QFETCH(double, scaleTolerance);
    QFETCH(double, backgroundTolerance);
    const QVector<double> curve = peakCurve(1400);
    QVector<double> measured(curve.size());
    std::mt19937 rng(11);
    for (int i = 0; i < curve.size(); ++i) {
        const double rate = scale * curve[i] + background;
        if (countingTime > 0.0) {
            std::poisson_distribution<long> counts(rate * countingTime);
            measured[i] = double(counts(rng)) / countingTime;
        } else {
            measured[i] = rate;
        }
    }
    const ScaleBackground sb = solveScaleBackground(
        measured, curve, fixScale ? std::optional<double>(scale) : std::nullopt,
        fixBackground ? std::optional<double>(background) : std::nullopt);
    QVERIFY2(std::fabs(sb.scale - scale) <= scaleTolerance * scale,
             qPrintable(QString::number(sb.scale, 'g', 12)));
    QVERIFY2(std::fabs(sb.background - background) <= backgroundTolerance * background,
             qPrintable(QString::number(sb.background, 'g', 12)));
    // And it is the minimum: no better at the truth nor a per cent away either side.
    auto cost = [&](double s, double b) {
        QVector<double> model(curve.size());
        for (int i = 0; i < curve.size(); ++i)
            model[i] = s * curve[i] + b;
        return agreement(measured, model);
    };
    const double found = cost(sb.scale, sb.background);
    QVERIFY(std::fabs(sb.agreement - found) <= 1e-12 * found + 1e-20);
    QVERIFY(found <= cost(scale, background) + 1e-15);
    for (double f : {0.99, 1.01}) {
        QVERIFY(fixScale || found <= cost(f * sb.scale, sb.background));
        QVERIFY(fixBackground || found <= cost(sb.scale, f * sb.background));
    }
}

void TestInstrument::degenerateScaleBackground() {
    const QVector<double> measured = {4.0, 16.0, 0.0, -3.0, 64.0};
    // An all-zero curve: the background is the geometric mean of the positive measurements.
    ScaleBackground sb = solveScaleBackground(measured, QVector<double>(5, 0.0));
    QCOMPARE(sb.background, 16.0);
    QCOMPARE(sb.scale, 1.0);
    // Nothing measured: the defaults.
    sb = solveScaleBackground(QVector<double>(5, 0.0), {1, 2, 3, 4, 5});
    QCOMPARE(sb.scale, 1.0);
    QCOMPARE(sb.background, 0.0);
    // A flat measurement against a peaked curve with zeros: finite, and the model it gives
    // reproduces the measurement to within a hundredth of a decade.
    const QVector<double> flat(200, 40.0);
    QVector<double> curve = peakCurve(200);
    for (int i = 0; i < 200; i += 7)
        curve[i] = 0.0;
    sb = solveScaleBackground(flat, curve);
    QVERIFY(std::isfinite(sb.scale) && sb.scale > 0.0);
    QVERIFY(std::isfinite(sb.background) && sb.background >= 0.0);
    QVector<double> model(200);
    for (int i = 0; i < 200; ++i)
        model[i] = sb.scale * curve[i] + sb.background;
    QVERIFY2(agreement(flat, model) < 1e-4, qPrintable(QString::number(agreement(flat, model))));
}

void TestInstrument::agreementByHand() {
    // Points with measured <= 0 do not count; a zero model is floored at 1e-12.
    const QVector<double> measured = {10.0, 100.0, 0.0, -5.0, 1000.0};
    const QVector<double> model = {100.0, 100.0, 7.0, 7.0, 0.0};
    // (1 - 2)^2 + 0 + (3 + 12)^2 over 3 points.
    QCOMPARE(agreement(measured, model), 226.0 / 3.0);
    // Weighted by 1/sigma^2 = (ln 10)^2 * counts, 2 s counting: counts 20, 200, 2000.
    // (ln 10)^2 * (1 * 20 + 0 + 225 * 2000) / 3
    const std::vector<double> weighted = logResiduals(measured, model, 2.0);
    double chiSquare = 0;
    for (double r : weighted)
        chiSquare += r * r / double(weighted.size());
    QVERIFY(qFuzzyCompare(chiSquare, 795320.06255916311));
    QCOMPARE(agreement({}, {}), 0.0);
    QCOMPARE(logResiduals(measured, model).size(), std::size_t(3));
}

QTEST_GUILESS_MAIN(TestInstrument)
#include "tst_instrument.moc"
