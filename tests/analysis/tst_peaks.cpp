#include "instrument.h"
#include "peaks.h"

#include <QtTest>

#include <cmath>
#include <complex>
#include <random>

struct Block {
    int planes;
    double strain; // plane spacing = kSubstrateD * (1 + strain)
    double factor; // scattering factor per plane
};

Q_DECLARE_METATYPE(Block)

namespace {

constexpr double kWavelength = 1.5406;  // Cu K-alpha 1, Å
constexpr double kSubstrateD = 1.41335; // GaAs 004 plane spacing, Å
constexpr double kDegree = M_PI / 180.0;

double braggAngle(double d) {
    return std::asin(kWavelength / (2.0 * d)) / kDegree;
}

// A plain kinematical sum, plane by plane, of `periods` repetitions of the blocks, plus the
// intensity of an absorbing substrate of 3000 planes (added as intensity, so that its tail
// does not pull the peaks of a thin stack away from their Bragg angles, a real effect but
// not one a peak search can undo); blurred with a Gaussian of fwhm 0.01°, scaled to `peak`
// cps over 1 cps of background and, when countingTime > 0, given Poisson noise.
QVector<double> synthetic(const QVector<double>& theta, const QVector<Block>& blocks, int periods,
                          double peak, double countingTime) {
    const double step = theta[1] - theta[0];
    QVector<double> clean(theta.size());
    for (int k = 0; k < theta.size(); ++k) {
        const double q = 4.0 * M_PI * std::sin(theta[k] * kDegree) / kWavelength;
        std::complex<double> a = 0.0;
        for (int j = 1; j <= 3000; ++j)
            a += std::exp(-j / 600.0) * std::polar(1.0, -q * j * kSubstrateD);
        clean[k] = std::norm(a);
        a = 0.0;
        double z = 0.0;
        for (int p = 0; p < periods; ++p)
            for (const Block& b : blocks)
                for (int j = 0; j < b.planes; ++j) {
                    a += b.factor * std::polar(1.0, q * z);
                    z += kSubstrateD * (1.0 + b.strain);
                }
        clean[k] += std::norm(a);
    }
    QVector<double> blurred = convolveResolution(theta[0], step, clean, 0.01, theta);
    double top = 0.0;
    for (double v : blurred)
        top = std::max(top, v);
    std::mt19937 rng(7);
    for (double& v : blurred) {
        v = peak * v / top + 1.0;
        if (countingTime > 0.0) {
            std::poisson_distribution<long> counts(v * countingTime);
            v = double(counts(rng)) / countingTime;
        }
    }
    return blurred;
}

QVector<double> grid(double from, double to, double step) {
    QVector<double> t;
    for (int i = 0; from + i * step <= to; ++i)
        t.push_back(from + i * step);
    return t;
}

} // namespace

class TestPeaks : public QObject {
    Q_OBJECT
private slots:
    void superlattice_data();
    void superlattice();
    void singleLayer_data();
    void singleLayer();
    void brokenInput();
};

void TestPeaks::superlattice_data() {
    QTest::addColumn<QVector<Block>>("blocks");
    QTest::addColumn<int>("periods");
    QTest::addColumn<double>("countingTime");
    // InGaAs-like wells in GaAs-like barriers, compressive on average.
    const QVector<Block> compressive = {{12, 0.008, 1.1}, {20, 0.0, 1.0}};
    QTest::newRow("compressive, clean") << compressive << 25 << 0.0;
    QTest::newRow("compressive, noisy") << compressive << 25 << 2.0;
    // Strain-compensated with a small net tension and a longer period.
    const QVector<Block> tensile = {{30, 0.002, 1.05}, {40, -0.007, 0.95}};
    QTest::newRow("tensile, noisy") << tensile << 12 << 5.0;
}

void TestPeaks::superlattice() {
    QFETCH(QVector<Block>, blocks);
    QFETCH(int, periods);
    QFETCH(double, countingTime);
    double period = 0.0;
    int planes = 0;
    for (const Block& b : blocks) {
        period += b.planes * kSubstrateD * (1.0 + b.strain);
        planes += b.planes;
    }
    // The zeroth order sits at the mean plane spacing.
    const double mismatch = period / planes / kSubstrateD - 1.0;
    const double substrate = braggAngle(kSubstrateD);
    const QVector<double> theta = grid(substrate - 3.0, substrate + 3.0, 0.002);
    const QVector<double> intensity = synthetic(theta, blocks, periods, 1e5, countingTime);

    const PeakAnalysis a = analysePeaks(theta, intensity, kWavelength, substrate, true);
    QVERIFY2(std::fabs(a.substrate.theta - substrate) < 0.003,
             qPrintable(QString::number(a.substrate.theta)));
    QVERIFY2(std::fabs(a.period / period - 1.0) < 0.01,
             qPrintable(QString("period %1, expected %2").arg(a.period).arg(period)));
    QVERIFY2(std::fabs(a.mismatch / mismatch - 1.0) < 0.01,
             qPrintable(QString("mismatch %1, expected %2").arg(a.mismatch).arg(mismatch)));
    QVERIFY(a.satelliteOrder.size() >= 4);
    QVERIFY(a.satelliteOrder.contains(-1) && a.satelliteOrder.contains(1));
    for (int i = 0; i < a.satelliteOrder.size(); ++i) {
        const double s = std::sin(braggAngle(period / planes) * kDegree) +
                         a.satelliteOrder[i] * kWavelength / (2.0 * period);
        QVERIFY2(std::fabs(std::sin(a.satelliteTheta[i] * kDegree) - s) <
                     0.05 * kWavelength / (2 * period),
                 qPrintable(
                     QString("order %1 at %2").arg(a.satelliteOrder[i]).arg(a.satelliteTheta[i])));
    }
    QVERIFY(std::isnan(a.thickness));
}

void TestPeaks::singleLayer_data() {
    QTest::addColumn<Block>("layer");
    QTest::addColumn<double>("countingTime");
    QTest::addColumn<bool>("thicknessExpected");
    QTest::newRow("300 planes, clean") << Block{300, 0.004, 1.0} << 0.0 << true;
    QTest::newRow("300 planes, noisy") << Block{300, 0.004, 1.0} << 3.0 << true;
    QTest::newRow("180 planes, tensile") << Block{180, -0.006, 1.0} << 3.0 << true;
    // Thick enough to outshine the substrate: still found beside it, not taken for it.
    QTest::newRow("6000 planes outshining") << Block{6000, 0.0025, 1.0} << 0.0 << false;
}

void TestPeaks::singleLayer() {
    QFETCH(Block, layer);
    QFETCH(double, countingTime);
    QFETCH(bool, thicknessExpected);
    const double substrate = braggAngle(kSubstrateD);
    const QVector<double> theta = grid(substrate - 2.0, substrate + 1.5, 0.002);
    const QVector<double> intensity = synthetic(theta, {layer}, 1, 1e5, countingTime);
    const PeakAnalysis a = analysePeaks(theta, intensity, kWavelength, substrate, false);
    QVERIFY2(std::fabs(a.substrate.theta - substrate) < 0.003,
             qPrintable(QString::number(a.substrate.theta)));
    QVERIFY2(std::fabs(a.main.theta - braggAngle(kSubstrateD * (1 + layer.strain))) < 0.003,
             qPrintable(QString::number(a.main.theta)));
    QVERIFY2(std::fabs(a.mismatch / layer.strain - 1.0) < 0.01,
             qPrintable(QString("mismatch %1").arg(a.mismatch)));
    if (thicknessExpected) {
        const double thickness = layer.planes * kSubstrateD * (1.0 + layer.strain);
        QVERIFY2(std::fabs(a.thickness / thickness - 1.0) < 0.02,
                 qPrintable(QString("thickness %1, expected %2 from %3 fringes")
                                .arg(a.thickness)
                                .arg(thickness)
                                .arg(a.fringesUsed)));
        QVERIFY(a.fringesUsed >= 4);
    }
    QVERIFY(a.satelliteOrder.isEmpty());
}

void TestPeaks::brokenInput() {
    const QVector<double> nan(5, qQNaN());
    for (const auto& [theta, intensity] :
         {std::pair<QVector<double>, QVector<double>>{{}, {}},
          {{1, 2, 3}, {0, 0, 0}},
          {nan, nan},
          {{33, 32, 31, 30, 29}, {1, 5, 100, 5, 1}},
          {{30, 30.1, 30.2, 30.3, 30.4}, {1, 1e300, -4, qInf(), 3}}}) {
        const PeakAnalysis a = analysePeaks(theta, intensity, kWavelength, 30.2, true);
        QVERIFY(std::isnan(a.period) && std::isnan(a.thickness));
        for (const Peak& p : a.peaks)
            QVERIFY(std::isfinite(p.theta) && std::isfinite(p.intensity));
    }
    // Positions are refined between the points: a parabola in log intensity, found exactly.
    QVector<double> theta, intensity;
    for (int i = 0; i < 41; ++i) {
        theta.push_back(30.0 + 0.01 * i);
        intensity.push_back(std::pow(10.0, 5.0 - 200.0 * std::pow(theta.back() - 30.2037, 2)));
    }
    const PeakAnalysis a = analysePeaks(theta, intensity, kWavelength, 30.2, false, {0.25, 0.0});
    QCOMPARE(a.peaks.size(), 1);
    QVERIFY(std::fabs(a.substrate.theta - 30.2037) < 1e-9);
}

QTEST_GUILESS_MAIN(TestPeaks)
#include "tst_peaks.moc"
