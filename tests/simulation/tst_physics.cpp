#include "simulation/anomalous.h"
#include "simulation/curve.h"
#include "simulation/dynamical.h"
#include "simulation/elastic.h"
#include "simulation/expansion.h"
#include "simulation/kinematical.h"
#include "simulation/physicsstack.h"
#include "simulation/resultarrays.h"
#include "simulation/susceptibility.h"
#include "structure/config.h"

#include "tests/common/exact.h"

#include <QFile>
#include <QTextStream>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

namespace {

constexpr double kCuKAlpha1 = 1.5405929; // Å
constexpr double kDegree = 3.141592653589793 / 180;

Layer layer(int monolayers, double x, double y) {
    Layer l;
    l.defined = true;
    l.monolayers = monolayers;
    l.inFraction = l.endInFraction = l.startInFraction = x;
    l.asFraction = l.endAsFraction = l.startAsFraction = y;
    return l;
}

// A structure without a file: Config is a QObject, so it is filled in place.
void setUp(Config& c, double xs, double ys, const QVector<Layer>& layers, int repeat = 1,
           bool withSubstrate = true) {
    c.wavelength = kCuKAlpha1;
    c.k = Config::twoPi / kCuKAlpha1;
    c.substrate = layer(1, xs, ys);
    c.withSubstrate = withSubstrate;
    c.layers = layers;
    c.repeat = repeat;
    c.valid = true;
}

QVector<double> range(double from, double to, double step) {
    QVector<double> theta;
    for (double t = from; t <= to + step / 2; t += step)
        theta.append(t);
    return theta;
}

double braggAngle(double a, int l = 4) {
    return std::asin(l * kCuKAlpha1 / (2 * a)) / kDegree;
}

// Peak height, centre of the half-maximum points (linear interpolation), full width at half
// maximum and trapezoidal integral of a curve within [lo, hi]; the width is 0 where a
// half-maximum point lies outside the window.
struct Peak {
    double height = 0, centre = 0, width = 0, integral = 0;
};

Peak measure(const QVector<double>& t, const QVector<double>& r, double lo, double hi) {
    Peak p;
    int first = -1, last = -1, top = -1;
    for (int i = 0; i < t.size(); ++i) {
        if (t[i] < lo || t[i] > hi)
            continue;
        first = first < 0 ? i : first;
        if (last >= 0)
            p.integral += 0.5 * (r[i] + r[last]) * (t[i] - t[last]);
        last = i;
        if (top < 0 || r[i] > r[top])
            top = i;
    }
    if (top < 0)
        return p;
    p.height = r[top];
    const double half = p.height / 2;
    int a = top, b = top;
    while (a > first && r[a] > half)
        --a;
    while (b < last && r[b] > half)
        ++b;
    if (r[a] > half || r[b] > half)
        return p;
    const double left = t[a] + (half - r[a]) * (t[a + 1] - t[a]) / (r[a + 1] - r[a]);
    const double right = t[b - 1] + (half - r[b - 1]) * (t[b] - t[b - 1]) / (r[b] - r[b - 1]);
    p.centre = (left + right) / 2;
    p.width = right - left;
    return p;
}

} // namespace

class TestPhysics : public QObject {
    Q_OBJECT

private slots:
    void elasticStrain_data() {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<double>("aSubstrate");
        QTest::addColumn<double>("ratio");
        QTest::addColumn<double>("height");
        // 2 C12 / C11 from the binaries' constants (GPa), 2 * 53.4 / 119.0 and so on; on
        // their own lattice a monolayer is half the lattice constant.
        QTest::newRow("GaAs") << 0.0 << 1.0 << 5.6535 << 0.8974789915966387 << 2.82675;
        QTest::newRow("InAs") << 1.0 << 1.0 << 6.0585 << 1.0887290167865707 << 3.02925;
        QTest::newRow("InP") << 1.0 << 0.0 << 5.869 << 1.1097922848664687 << 2.9345;
        QTest::newRow("GaP") << 0.0 << 0.0 << 5.4505 << 0.8825622775800712 << 2.72525;
        // xrayutilities' PseudomorphicMaterial (relaxation 0, these C11 and C12) gives
        // c = 5.730907484407486 Å.
        QTest::newRow("In0.1Ga0.9As on GaAs")
            << 0.1 << 1.0 << 5.6535 << (0.9 * 106.8 + 0.1 * 90.8) / (0.9 * 119.0 + 0.1 * 83.4)
            << 2.865453742203743;
        // By hand: weights 0.18 / 0.42 / 0.28 / 0.12 give C11 = 101.616, C12 = 51.828 (C11
        // and C12 are interpolated, not their ratio), a = 5.85958 and
        // a_perp = a + 1.0200756 (a - 5.869) = 5.8499709 Å.
        QTest::newRow("In0.7Ga0.3As0.6P0.4 on InP")
            << 0.7 << 0.6 << 5.869 << 103.656 / 101.616 << 2.924985444;
    }

    void elasticStrain() {
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(double, aSubstrate);
        QFETCH(double, ratio);
        QFETCH(double, height);
        XRD_COMPARE_CLOSE(strainRatio(x, y), ratio, 1e-13);
        XRD_COMPARE_CLOSE(elasticMonolayerHeight(x, y, aSubstrate), height, 1e-9);
    }

    void dispersion_data() {
        QTest::addColumn<int>("z");
        QTest::addColumn<double>("f1");
        QTest::addColumn<double>("f2");
        // f' and f'' at Cu K alpha 1 (8.0478 keV) from xrayutilities' own element tables,
        // an independent compilation.
        QTest::newRow("Ga") << 31 << -1.282 << 0.796;
        QTest::newRow("As") << 33 << -0.917 << 1.034;
        QTest::newRow("In") << 49 << 0.088 << 5.092;
        QTest::newRow("P") << 15 << 0.299 << 0.440;
    }

    void dispersion() {
        QFETCH(int, z);
        QFETCH(double, f1);
        QFETCH(double, f2);
        double g1 = 0, g2 = 0;
        QString error;
        QVERIFY(anomalousFactors(z, photonEnergyKeV(kCuKAlpha1), g1, g2, &error));
        QVERIFY(error.isEmpty());
        QVERIFY2(std::fabs(g1 - f1) < 0.05, qPrintable(QString::number(g1)));
        QVERIFY2(std::fabs(g2 - f2) < 0.05, qPrintable(QString::number(g2)));
    }

    void dispersionOutOfRange_data() {
        QTest::addColumn<double>("wavelength");
        QTest::newRow("1 mm (1e-5 keV)") << 1e7;
        QTest::newRow("1e-5 Å (1.2 GeV)") << 1e-5;
        QTest::newRow("zero") << 0.0;
        QTest::newRow("negative") << -1.5;
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN();
    }

    void dispersionOutOfRange() {
        QFETCH(double, wavelength);
        ElementDispersion d;
        QString error;
        QVERIFY(!elementDispersion(wavelength, d, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(d.inF2, 0.0);
        Config c;
        setUp(c, 0, 1, {layer(10, 0.1, 1)});
        c.wavelength = wavelength;
        const PhysicsStack stack = buildPhysicsStack(c);
        QVERIFY(!stack.error.isEmpty());
        QVERIFY(dynamicalReflectivity(stack, 4, {30.0}).isEmpty());
        QVERIFY(kinematicalReflectivity(stack, {30.0}).isEmpty());
        QVERIFY(dynamicalDefaultGrid(stack, 4).isEmpty());
    }

    // Against xrayutilities 1.7.4 (tools/reference/make_reference.py): its 4-tie-point
    // DynamicalModel and, for a single layer's peak, its KinematicalModel.
    void referenceCurves_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("lo");
        QTest::addColumn<double>("hi");
        QTest::addColumn<bool>("dynamical");
        const QString layer500 = "ingaas-500nm-on-gaas", layer2um = "ingaas-2um-on-inp",
                      sl = "superlattice-10x-ingaas-inp";
        QTest::newRow("500 nm: layer") << layer500 << 32.45 << 32.60 << true;
        QTest::newRow("500 nm: layer, kinematical") << layer500 << 32.45 << 32.60 << false;
        QTest::newRow("500 nm: substrate") << layer500 << 33.015 << 33.04 << true;
        QTest::newRow("2 um: substrate") << layer2um << 31.664 << 31.674 << true;
        QTest::newRow("2 um: layer") << layer2um << 31.676 << 31.684 << true;
        QTest::newRow("superlattice: satellite -3") << sl << 31.364 << 31.404 << true;
        QTest::newRow("superlattice: zero order") << sl << 31.54 << 31.58 << true;
        QTest::newRow("superlattice: satellite +1") << sl << 31.60 << 31.64 << true;
        QTest::newRow("superlattice: substrate") << sl << 31.664 << 31.674 << true;
    }

    void referenceCurves() {
        QFETCH(QString, name);
        QFETCH(double, lo);
        QFETCH(double, hi);
        QFETCH(bool, dynamical);
        const QString base = QStringLiteral(XRD_TEST_DATA_DIR "/reference/") + name;
        Config c;
        QVERIFY(c.load(base + ".txt") && c.valid);
        QFile file(base + "-ref.dat");
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QVector<double> theta, reference;
        QTextStream in(&file);
        while (!in.atEnd()) {
            const QStringList cols = in.readLine().split('\t');
            if (cols.size() == 3 && !cols[0].startsWith('#')) {
                theta.append(cols[0].toDouble());
                reference.append(cols[dynamical ? 1 : 2].toDouble());
            }
        }
        QVERIFY(theta.size() > 1000);
        const PhysicsStack stack = buildPhysicsStack(c);
        const QVector<double> mine = dynamical ? dynamicalReflectivity(stack, 4, theta)
                                               : kinematicalReflectivity(stack, theta);
        const Peak a = measure(theta, mine, lo, hi);
        const Peak b = measure(theta, reference, lo, hi);
        QVERIFY(b.width > 0 && a.width > 0);
        QVERIFY2(std::fabs(a.centre - b.centre) <= 0.001, qPrintable(QString::number(a.centre)));
        XRD_COMPARE_CLOSE(a.height, b.height, 0.05);
        XRD_COMPARE_CLOSE(a.integral, b.integral, 0.05);
        XRD_COMPARE_CLOSE(a.width, b.width, 0.05);
    }

    // Kinematical theory holds while a layer is thin against its extinction length (about
    // 1.5 um for (004) of GaAs); In0.1Ga0.9As on GaAs, 2.8655 Å per monolayer.
    void kinematicalAgreesForThinLayers_data() {
        QTest::addColumn<int>("monolayers");
        QTest::addColumn<bool>("agrees");
        QTest::newRow("50 nm") << 175 << true;
        QTest::newRow("100 nm") << 350 << true;
        QTest::newRow("300 nm") << 1047 << true;
        QTest::newRow("2 um") << 6980 << false;
    }

    void kinematicalAgreesForThinLayers() {
        QFETCH(int, monolayers);
        QFETCH(bool, agrees);
        Config c;
        setUp(c, 0, 1, {layer(monolayers, 0.1, 1)});
        const PhysicsStack stack = buildPhysicsStack(c);
        const double thetaB = braggAngle(5.6535);
        const QVector<double> theta = range(thetaB - 1.0, thetaB - 0.2, 0.0005);
        const double kin = measure(theta, kinematicalReflectivity(stack, theta), 0, 90).height;
        const double dyn = measure(theta, dynamicalReflectivity(stack, 4, theta), 0, 90).height;
        QCOMPARE(std::fabs(kin / dyn - 1) < 0.05, agrees);
        if (!agrees)
            QVERIFY(kin / dyn > 1.4); // no extinction: the kinematical peak grows as N^2
    }

    // With the basic model's strain rule, no f' and f'', no chi0 and sigma polarisation the
    // kinematical model is the basic sum over the same planes, in units of r_e lambda /
    // (A sin theta) per electron.
    void basicLimit_data() {
        QTest::addColumn<int>("repeat");
        QTest::newRow("graded superlattice") << 10;
        QTest::newRow("substrate alone") << 0;
    }

    void basicLimit() {
        QFETCH(int, repeat);
        Config c;
        Layer well = layer(20, 0.532, 1);
        well.startShape = well.endShape = Linear;
        well.startWidth = well.endWidth = 3;
        well.startInFraction = well.endInFraction = 1;
        well.startAsFraction = well.endAsFraction = 0;
        setUp(c, 1, 0, {well, layer(40, 1, 0)}, repeat, repeat == 0);
        ResultArrays basic;
        expandLayers(c, basic);
        computeCurve(c, basic);
        PhysicsOptions off;
        off.elasticStrain = off.anomalous = off.meanSusceptibility = off.polarisation = false;
        const PhysicsStack stack = buildPhysicsStack(c, off);
        const QVector<double> kin = kinematicalReflectivity(stack, basic.theta);
        QCOMPARE(kin.size(), basic.theta.size());
        const double area = 5.869 * 5.869 / 2;
        const double largest = *std::max_element(basic.intensity.begin(), basic.intensity.end());
        for (int i = 0; i < kin.size(); ++i) {
            const double unit =
                kClassicalElectronRadius * kCuKAlpha1 / (area * std::sin(basic.theta[i] * kDegree));
            const double electrons = kin[i] / (unit * unit);
            const double scale = repeat > 0 ? largest : basic.intensity[i];
            QVERIFY2(std::fabs(electrons - basic.intensity[i]) <= 1e-9 * scale,
                     qPrintable(QString("theta %1: %2 vs %3")
                                    .arg(basic.theta[i])
                                    .arg(electrons)
                                    .arg(basic.intensity[i])));
        }
    }

    // Finite everywhere and never above 1, also without absorption (total reflection), for
    // very thick layers, a million periods, other reflections and angles outside 0..90.
    void bounded_data() {
        QTest::addColumn<int>("monolayers");
        QTest::addColumn<int>("repeat");
        QTest::addColumn<int>("reflection");
        QTest::addColumn<bool>("lossless");
        QTest::newRow("500 nm, lossless") << 1745 << 1 << 4 << true;
        QTest::newRow("100 um") << 349000 << 1 << 4 << false;
        QTest::newRow("100 um, lossless") << 349000 << 1 << 4 << true;
        QTest::newRow("1e6 periods of 2 monolayers") << 1 << 1000000 << 4 << false;
        QTest::newRow("(002)") << 1745 << 1 << 2 << false;
        QTest::newRow("(006)") << 1745 << 1 << 6 << false;
    }

    void bounded() {
        QFETCH(int, monolayers);
        QFETCH(int, repeat);
        QFETCH(int, reflection);
        QFETCH(bool, lossless);
        Config c;
        setUp(c, 0, 1, {layer(monolayers, 0.1, 1), layer(1, 0, 1)}, repeat);
        PhysicsOptions options;
        options.anomalous = options.meanSusceptibility = !lossless;
        const PhysicsStack stack = buildPhysicsStack(c, options);
        const double thetaB = braggAngle(5.6535, reflection);
        QVector<double> theta = range(thetaB - 1.5, thetaB + 0.5, 0.0003);
        theta << 0 << -5 << 90 << 95 << 1e-300 << 89.99999 << std::nan("");
        const QVector<double> dyn = dynamicalReflectivity(stack, reflection, theta);
        const QVector<double> kin = kinematicalReflectivity(stack, theta);
        QCOMPARE(dyn.size(), theta.size());
        QCOMPARE(kin.size(), theta.size());
        for (int i = 0; i < theta.size(); ++i) {
            QVERIFY2(dyn[i] >= 0 && dyn[i] <= 1, qPrintable(QString::number(theta[i])));
            QVERIFY(std::isfinite(kin[i]) && kin[i] >= 0);
        }
        QCOMPARE(dyn[theta.size() - 1], 0.0); // NaN
        QCOMPARE(dyn[theta.size() - 6], 0.0); // -5 degrees
    }

    // Without absorption a semi-infinite crystal reflects everything over its Darwin width,
    // 2 |chi_h| / sin 2theta_B for sigma polarisation.
    void losslessDarwinPlateau() {
        Config c;
        setUp(c, 0, 1, {});
        PhysicsOptions options;
        options.anomalous = options.meanSusceptibility = options.polarisation = false;
        const PhysicsStack stack = buildPhysicsStack(c, options);
        const double thetaB = braggAngle(5.6535);
        const double step = 1e-5;
        const QVector<double> theta = range(thetaB - 0.01, thetaB + 0.01, step);
        const QVector<double> r = dynamicalReflectivity(stack, 4, theta);
        const int total =
            int(std::count_if(r.begin(), r.end(), [](double v) { return v > 0.9999; }));
        const double darwin = substrateDarwinWidth(stack, 4);
        QVERIFY(darwin > 0.002 && darwin < 0.003); // about 8 arc seconds
        QVERIFY2(std::fabs(total * step - darwin) < 3 * step, qPrintable(QString::number(total)));
    }

    // The same stack as one period of eight layers or as four periods of two.
    void repeatEqualsExplicitPeriods() {
        Config one, four;
        const Layer a = layer(37, 0.53, 1), b = layer(51, 1, 0);
        setUp(one, 1, 0, {a, b, a, b, a, b, a, b}, 1);
        setUp(four, 1, 0, {a, b}, 4);
        const double thetaB = braggAngle(5.869);
        const QVector<double> theta = range(thetaB - 1.5, thetaB + 1.5, 0.001);
        const PhysicsStack s1 = buildPhysicsStack(one), s4 = buildPhysicsStack(four);
        const QVector<double> d1 = dynamicalReflectivity(s1, 4, theta);
        const QVector<double> d4 = dynamicalReflectivity(s4, 4, theta);
        const QVector<double> k1 = kinematicalReflectivity(s1, theta);
        const QVector<double> k4 = kinematicalReflectivity(s4, theta);
        for (int i = 0; i < theta.size(); ++i) {
            XRD_COMPARE_CLOSE(d4[i], d1[i], 1e-9);
            XRD_COMPARE_CLOSE(k4[i], k1[i], 1e-9);
        }
    }

    // A layer of the substrate's own material changes nothing, however thick; a strained
    // layer thick enough to absorb everything is its own semi-infinite crystal (doubling it
    // changes little; near the edges of total reflection one wavefield is absorbed far less,
    // so the convergence is slowest there).
    void thickLayers() {
        Config bare, covered, thick, thicker;
        setUp(bare, 0, 1, {});
        setUp(covered, 0, 1, {layer(70000, 0, 1)});
        setUp(thick, 0, 1, {layer(350000, 0.1, 1)}, 1, false);
        setUp(thicker, 0, 1, {layer(700000, 0.1, 1)}, 1, false);
        const double thetaB = braggAngle(5.6535);
        const QVector<double> theta = range(thetaB - 1.5, thetaB + 1.5, 0.002);
        const QVector<double> r0 = dynamicalReflectivity(buildPhysicsStack(bare), 4, theta);
        const QVector<double> r1 = dynamicalReflectivity(buildPhysicsStack(covered), 4, theta);
        const QVector<double> r2 = dynamicalReflectivity(buildPhysicsStack(thick), 4, theta);
        const QVector<double> r3 = dynamicalReflectivity(buildPhysicsStack(thicker), 4, theta);
        const double peak = *std::max_element(r2.begin(), r2.end());
        QVERIFY(peak > 0.5);
        for (int i = 0; i < theta.size(); ++i) {
            XRD_COMPARE_CLOSE(r1[i], r0[i], 1e-7);
            QVERIFY(std::fabs(r3[i] - r2[i]) < 1e-3 * peak);
        }
    }

    void defaultGrid_data() {
        QTest::addColumn<double>("xs");
        QTest::addColumn<double>("ys");
        QTest::newRow("GaAs") << 0.0 << 1.0;
        QTest::newRow("InP") << 1.0 << 0.0;
    }

    void defaultGrid() {
        QFETCH(double, xs);
        QFETCH(double, ys);
        Config c;
        setUp(c, xs, ys, {layer(3500, xs, ys)});
        const PhysicsStack stack = buildPhysicsStack(c);
        const QVector<double> grid = dynamicalDefaultGrid(stack, 4);
        const double thetaB = braggAngle(stack.aSubstrate);
        QVERIFY(std::fabs(grid.first() - (thetaB - 1.5)) < 1e-9);
        QVERIFY(grid.last() > thetaB + 1.5 - 0.0004 && grid.last() <= thetaB + 1.5);
        const double step = grid[1] - grid[0];
        QVERIFY(step <= 0.0004 && step <= substrateDarwinWidth(stack, 4) / 6);
        // The 1 um stack's fringes, lambda / (2 D cos theta_B), at six points or more.
        const double fringe = kCuKAlpha1 / (2 * stackThickness(stack) * std::cos(thetaB * kDegree));
        QVERIFY(step <= fringe / kDegree / 6);
    }

    void profileElastic() {
        Config c;
        setUp(c, 0, 1, {layer(3, 0.1, 1), layer(2, 0, 1)});
        ResultArrays basic, same, elastic;
        expandLayers(c, basic);
        PhysicsOptions off;
        off.elasticStrain = false;
        expandLayersElastic(c, same, off);
        QCOMPARE(same.depth, basic.depth);
        QCOMPARE(same.asProfile, basic.asProfile);
        expandLayersElastic(c, elastic);
        QCOMPARE(elastic.inProfile, basic.inProfile);
        XRD_COMPARE_CLOSE(elastic.depth[3], 3 * 2.865453742203743, 1e-12); // xrayutilities
        XRD_COMPARE_CLOSE(elastic.depth[5] - elastic.depth[3], 5.6535, 1e-12);
        const PhysicsStack stack = buildPhysicsStack(c); // two runs of monolayers
        QCOMPARE(stack.period.size(), 2);
        XRD_COMPARE_CLOSE(stackThickness(stack), elastic.depth.last(), 1e-12);
    }

    void cancelAndThreads() {
        Config c;
        setUp(c, 1, 0, {layer(20, 0.53, 1), layer(40, 1, 0)}, 10);
        const PhysicsStack stack = buildPhysicsStack(c);
        const QVector<double> theta = dynamicalDefaultGrid(stack, 4);
        const std::atomic<bool> cancelled{true};
        QVERIFY(dynamicalReflectivity(stack, 4, theta, &cancelled).isEmpty());
        QVERIFY(kinematicalReflectivity(stack, theta, &cancelled).isEmpty());
        // Several threads on one stack give the serial result.
        const QVector<double> serial = dynamicalReflectivity(stack, 4, theta);
        QVector<double> parallel[2];
        std::thread t0([&] { parallel[0] = dynamicalReflectivity(stack, 4, theta); });
        std::thread t1([&] { parallel[1] = dynamicalReflectivity(stack, 4, theta); });
        t0.join();
        t1.join();
        QCOMPARE(parallel[0], serial);
        QCOMPARE(parallel[1], serial);
    }
};

QTEST_GUILESS_MAIN(TestPhysics)
#include "tst_physics.moc"
