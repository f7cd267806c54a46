#include "analysis/instrument.h"
#include "analysis/peaks.h"
#include "measured/readers.h"

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
    void tooFew_data();
    void tooFew();
    void noiseOnly();
    void realScan();
    void zerothOrder_data();
    void zerothOrder();
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
    // Three periods of 254.6 Å: broad satellites with a weak maximum halfway between each
    // pair (the fringes of the whole stack), which must not be taken for satellites.
    const QVector<Block> three = {{70, 0.0195, 1.08}, {110, 0.0, 1.0}};
    QTest::newRow("3 periods, clean") << three << 3 << 0.0;
    QTest::newRow("3 periods, noisy") << three << 3 << 1.0;
    QTest::newRow("3 periods, few counts") << three << 3 << 0.2;
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

    const PeakAnalysis a = analysePeaks(theta, intensity, kWavelength, substrate);
    QVERIFY2(std::fabs(a.substrate.theta - substrate) < 0.003,
             qPrintable(QString::number(a.substrate.theta)));
    // Right within 1 % and within twice its stated uncertainty, which is informative (< 2 %).
    QVERIFY2(std::fabs(a.period.value / period - 1.0) < 0.01 &&
                 std::fabs(a.period.value - period) <= 2.0 * a.period.sigma &&
                 a.period.sigma < 0.02 * period,
             qPrintable(QString("period %1 ± %2, expected %3")
                            .arg(a.period.value)
                            .arg(a.period.sigma)
                            .arg(period)));
    QVERIFY(!a.thickness.known() && !a.thickness.why.isEmpty());
    QVERIFY(a.satelliteOrder.size() >= 3);
    QVERIFY(a.satelliteOrder.contains(-1) && a.satelliteOrder.contains(1));
    QVERIFY(!a.satelliteOrder.contains(0) || !std::isfinite(a.main.theta) ||
            a.satelliteTheta[a.satelliteOrder.indexOf(0)] == a.main.theta);
    // With three periods the strongest satellite need not be the zeroth order (the envelope
    // of one period decides), which the curve alone cannot tell; the zeroth order and the
    // satellites' places are checked for many periods only.
    if (periods < 5)
        return;
    QVERIFY2(std::fabs(a.mismatch.value / mismatch - 1.0) < 0.01,
             qPrintable(QString("mismatch %1, expected %2").arg(a.mismatch.value).arg(mismatch)));
    for (int i = 0; i < a.satelliteOrder.size(); ++i) {
        const double s = std::sin(braggAngle(period / planes) * kDegree) +
                         a.satelliteOrder[i] * kWavelength / (2.0 * period);
        QVERIFY2(std::fabs(std::sin(a.satelliteTheta[i] * kDegree) - s) <
                     0.05 * kWavelength / (2 * period),
                 qPrintable(
                     QString("order %1 at %2").arg(a.satelliteOrder[i]).arg(a.satelliteTheta[i])));
    }
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
    const PeakAnalysis a = analysePeaks(theta, intensity, kWavelength, substrate);
    QVERIFY2(std::fabs(a.substrate.theta - substrate) < 0.003,
             qPrintable(QString::number(a.substrate.theta)));
    QVERIFY2(std::fabs(a.main.theta - braggAngle(kSubstrateD * (1 + layer.strain))) < 0.003,
             qPrintable(QString::number(a.main.theta)));
    QVERIFY2(std::fabs(a.mismatch.value / layer.strain - 1.0) < 0.01,
             qPrintable(QString("mismatch %1").arg(a.mismatch.value)));
    if (thicknessExpected) {
        const double thickness = layer.planes * kSubstrateD * (1.0 + layer.strain);
        QVERIFY2(std::fabs(a.thickness.value / thickness - 1.0) < 0.02 &&
                     std::fabs(a.thickness.value - thickness) <= 2.0 * a.thickness.sigma,
                 qPrintable(QString("thickness %1 ± %4, expected %2 from %3 fringes")
                                .arg(a.thickness.value)
                                .arg(thickness)
                                .arg(a.fringesUsed)
                                .arg(a.thickness.sigma)));
        QVERIFY(a.fringesUsed >= 4);
    }
    QVERIFY(a.satelliteOrder.isEmpty());
    QVERIFY(!a.period.known() && !a.period.why.isEmpty());
}

void TestPeaks::tooFew_data() {
    QTest::addColumn<QVector<Block>>("blocks");
    QTest::addColumn<int>("periods");
    QTest::addColumn<double>("from"); // scan range, degrees from the substrate's Bragg angle
    QTest::addColumn<double>("to");
    QTest::addColumn<QString>("periodWhy");    // part of the reason, empty when determined
    QTest::addColumn<QString>("thicknessWhy"); // the same; "*" when either will do
    // 425.7 Å: fringes every 0.124°, so three on the low side of the layer peak (0.149° below
    // the substrate's) and none on the other.
    const QVector<Block> layer = {{300, 0.004, 1.0}};
    QTest::newRow("three fringes in range") << layer << 1 << -0.62 << -0.09 << "stand"
                                            << "needs four";
    // A period of 45.4 Å puts the satellites 1.16° apart: only orders 0 and +1 in range.
    const QVector<Block> compressive = {{12, 0.008, 1.1}, {20, 0.0, 1.0}};
    QTest::newRow("orders 0 and +1") << compressive << 25 << -0.5 << 1.3 << "needs three orders"
                                     << "*";
    // The whole range, six fringes and more on each side: determined (the rows above are not
    // for lack of anything else).
    QTest::newRow("enough fringes") << layer << 1 << -1.2 << 0.6 << "equal spacings"
                                    << "";
}

void TestPeaks::tooFew() {
    QFETCH(QVector<Block>, blocks);
    QFETCH(int, periods);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(QString, periodWhy);
    QFETCH(QString, thicknessWhy);
    const double substrate = braggAngle(kSubstrateD);
    const QVector<double> theta = grid(substrate + from, substrate + to, 0.002);
    const QVector<double> intensity = synthetic(theta, blocks, periods, 1e5, 2.0);
    const double covered = from < 0 && to > 0 ? substrate : qQNaN();
    const PeakAnalysis a = analysePeaks(theta, intensity, kWavelength, covered);
    QVERIFY(std::isfinite(a.main.theta));
    QVERIFY2(a.period.known() == periodWhy.isEmpty() && a.period.why.contains(periodWhy),
             qPrintable(a.period.why));
    if (!periodWhy.isEmpty())
        QVERIFY(a.satelliteOrder.isEmpty() && std::isnan(a.period.sigma));
    if (thicknessWhy != QLatin1String("*"))
        QVERIFY2(a.thickness.known() == thicknessWhy.isEmpty() &&
                     a.thickness.why.contains(thicknessWhy),
                 qPrintable(a.thickness.why));
}

// Counting noise on a flat background is no peak at all, let alone a series.
void TestPeaks::noiseOnly() {
    for (unsigned seed : {1U, 2U, 3U}) {
        std::mt19937 rng(seed);
        std::poisson_distribution<long> counts(3.0);
        const QVector<double> theta = grid(32.0, 34.0, 0.002);
        QVector<double> intensity;
        for (int i = 0; i < theta.size(); ++i)
            intensity << double(counts(rng));
        const PeakAnalysis a = analysePeaks(theta, intensity, kWavelength, 33.0);
        QVERIFY2(!a.period.known() && !a.thickness.known(),
                 qPrintable(a.period.why + "; " + a.thickness.why));
    }
}

// The real scan of a GaAsP layer on GaAs (004) in tests/data: a peer's fit gives 53.5 nm and
// GaAs(0.637)P(0.363), whose perpendicular mismatch is -0.0247 (Vegard's law between GaAs,
// 5.65325 Å, and GaP, 5.4505 Å, times 1 + 2 C12/C11 = 1.896 from the tabulated elastic
// constants of the two, interpolated).
void TestPeaks::realScan() {
    const ScanReadResult read =
        readScanFile(QStringLiteral(XRD_TEST_DATA_DIR "/measured/gaasp-on-gaas-004.x00"));
    QVERIFY2(read.ok, qPrintable(read.error));
    const double substrate = std::asin(1.54056 / (2.0 * 5.65325 / 4.0)) / kDegree;
    const PeakAnalysis a = analysePeaks(read.scan.theta, read.scan.intensity, 1.54056, substrate);
    QVERIFY2(std::fabs(a.substrate.theta - substrate) < 0.01,
             qPrintable(QString::number(a.substrate.theta)));
    QVERIFY2(std::fabs(a.mismatch.value + 0.0247) < 0.0005,
             qPrintable(QString::number(a.mismatch.value)));
    QVERIFY2(a.fringesUsed >= 4 &&
                 std::fabs(a.thickness.value - 535.0) <= 2.0 * a.thickness.sigma &&
                 a.thickness.sigma < 25.0,
             qPrintable(QString("%1 ± %2 Å from %3 fringes; %4")
                            .arg(a.thickness.value)
                            .arg(a.thickness.sigma)
                            .arg(a.fringesUsed)
                            .arg(a.thickness.why)));
    QVERIFY2(!a.period.known() && a.satelliteOrder.isEmpty(), qPrintable(a.period.why));
}

void TestPeaks::brokenInput() {
    const QVector<double> nan(5, qQNaN());
    for (const auto& [theta, intensity] :
         {std::pair<QVector<double>, QVector<double>>{{}, {}},
          {{1, 2, 3}, {0, 0, 0}},
          {nan, nan},
          {{33, 32, 31, 30, 29}, {1, 5, 100, 5, 1}},
          {{30, 30.1, 30.2, 30.3, 30.4}, {1, 1e300, -4, qInf(), 3}}}) {
        const PeakAnalysis a = analysePeaks(theta, intensity, kWavelength, 30.2);
        QVERIFY(!a.period.known() && !a.thickness.known());
        for (const Peak& p : a.peaks)
            QVERIFY(std::isfinite(p.theta) && std::isfinite(p.intensity));
    }
    // Positions are refined between the points: a parabola in log intensity, found exactly.
    QVector<double> theta, intensity;
    for (int i = 0; i < 41; ++i) {
        theta.push_back(30.0 + 0.01 * i);
        intensity.push_back(std::pow(10.0, 5.0 - 200.0 * std::pow(theta.back() - 30.2037, 2)));
    }
    const PeakAnalysis a = analysePeaks(theta, intensity, kWavelength, 30.2, {0.25, 0.0});
    QCOMPARE(a.peaks.size(), 1);
    QVERIFY(std::fabs(a.substrate.theta - 30.2037) < 1e-9);
}

QTEST_GUILESS_MAIN(TestPeaks)
#include "tst_peaks.moc"

// Superlattices whose +1 or -1 satellite is stronger than the zeroth order (short, strained
// periods), and the real 3-period InGaAs/GaAs scan, whose structure's mean mismatch is 0.0101
// (25 ML of In 0.2577 and 64 ML of GaAs) while its strongest satellite gives 0.0046. Told the
// mean mismatch, the analysis takes the satellite nearest it for the zeroth order; left to the
// curve alone it gives the right mismatch or none ("zeroth order not determined"), never a
// satellite's.
void TestPeaks::zerothOrder_data() {
    QTest::addColumn<QVector<Block>>("blocks"); // empty: the real scan
    QTest::addColumn<int>("periods");
    QTest::addColumn<double>("mean");
    QTest::addColumn<bool>("told");
    const QVector<Block> strained = {{70, 0.0195, 1.08}, {110, 0.0, 1.0}};
    const auto meanOf = [](const QVector<Block>& blocks) {
        double height = 0, planes = 0;
        for (const Block& b : blocks) {
            height += b.planes * (1.0 + b.strain);
            planes += b.planes;
        }
        return height / planes - 1.0;
    };
    for (bool told : {true, false}) {
        const char* how = told ? "told" : "alone";
        QTest::addRow("3 strained periods, %s", how) << strained << 3 << meanOf(strained) << told;
        QTest::addRow("real InGaAs/GaAs, %s", how) << QVector<Block>() << 3 << 0.0101 << told;
    }
}

void TestPeaks::zerothOrder() {
    QFETCH(QVector<Block>, blocks);
    QFETCH(int, periods);
    QFETCH(double, mean);
    QFETCH(bool, told);
    QVector<double> theta, intensity;
    double wavelength = kWavelength;
    if (blocks.isEmpty()) {
        const ScanReadResult read =
            readScanFile(QStringLiteral(XRD_TEST_DATA_DIR "/measured/ingaas-gaas-sl-004.x00"));
        QVERIFY2(read.ok, qPrintable(read.error));
        theta = read.scan.theta;
        intensity = read.scan.intensity;
        wavelength = 1.54056;
    } else {
        theta = grid(braggAngle(kSubstrateD) - 3.0, braggAngle(kSubstrateD) + 2.0, 0.002);
        intensity = synthetic(theta, blocks, periods, 1e5, 1.0);
    }
    const double substrate = std::asin(wavelength / (2.0 * kSubstrateD)) / kDegree;
    PeakOptions options;
    if (told)
        options.meanMismatch = mean;
    const PeakAnalysis a = analysePeaks(theta, intensity, wavelength, substrate, options);
    QVERIFY2(a.period.known(), qPrintable(a.period.why));
    // The strongest satellite is not the zeroth order here: its mismatch is a satellite's.
    QVERIFY2(std::fabs(a.strongestMismatch.value - mean) > 0.002,
             qPrintable(QString::number(a.strongestMismatch.value)));
    const QString shown =
        QStringLiteral("%1 (%2), mean %3").arg(a.mismatch.value).arg(a.mismatch.why).arg(mean);
    if (told || a.mismatch.known()) {
        QVERIFY2(std::fabs(a.mismatch.value - mean) < 0.0015, qPrintable(shown));
        QCOMPARE(a.main.theta, a.satelliteTheta[a.satelliteOrder.indexOf(0)]);
    } else {
        QVERIFY2(a.mismatch.why.startsWith("zeroth order not determined"), qPrintable(shown));
        QVERIFY(!std::isfinite(a.main.theta));
    }
}
