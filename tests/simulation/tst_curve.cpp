#include "simulation/anglemodel.h"
#include "simulation/curve.h"
#include "simulation/expansion.h"
#include "simulation/materials.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"

#include "tests/common/exact.h"

#include <QtTest>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>

namespace {

Layer uniform(int n, double x, double y) {
    Layer l;
    l.defined = true;
    l.monolayers = n;
    l.inFraction = l.endInFraction = l.startInFraction = x;
    l.asFraction = l.endAsFraction = l.startAsFraction = y;
    return l;
}

// The few values of a structure these cases vary, applied to a loader as a file would.
struct Sample {
    double wavelength;
    double xs;
    double ys;
    QVector<Layer> layers;
    int repeat;
    bool withSubstrate;

    void applyTo(Config& c) const {
        c.wavelength = wavelength;
        c.k = kTwoPi / wavelength;
        c.substrate = uniform(1, xs, ys);
        c.withSubstrate = withSubstrate;
        c.layers = layers;
        c.repeat = repeat;
        c.valid = true;
    }
};

Sample structure(double wavelength, double xs, double ys, const QVector<Layer>& layers, int repeat,
                 bool withSubstrate = true) {
    return {wavelength, xs, ys, layers, repeat, withSubstrate};
}

// Expands the structure's profile into `r` and returns the configuration in `c`.
void expand(const Sample& s, Config& c, ResultArrays& r) {
    s.applyTo(c);
    expandLayers(c, r);
}

struct Curves {
    ResultArrays fast;
    ResultArrays direct;
};

Curves bothCurves(const Sample& s) {
    Config c;
    s.applyTo(c);
    Curves out;
    expandLayers(c, out.fast);
    out.direct = out.fast;
    computeCurve(c, out.fast);
    computeCurveDirect(c, out.direct);
    return out;
}

// The fast sum must agree with the literal one to rounding: within 1e-12 of the largest
// intensity everywhere, and within 1e-9 relative wherever the intensity is above 1e-6 of the
// largest. The substrate term is computed identically by both, so even its spikes agree.
QString compareCurves(const Curves& c) {
    if (c.fast.q.size() != c.direct.q.size())
        return QString("point counts differ: %1 vs %2").arg(c.fast.q.size()).arg(c.direct.q.size());
    double largest = 0;
    for (double v : c.direct.intensity)
        if (std::isfinite(v))
            largest = std::max(largest, v);
    for (int i = 0; i < c.fast.q.size(); ++i) {
        if (!xrdtest::sameDouble(c.fast.q[i], c.direct.q[i]) ||
            !xrdtest::sameDouble(c.fast.theta[i], c.direct.theta[i]))
            return QString("grid differs at point %1").arg(i);
        const double a = c.fast.intensity[i];
        const double b = c.direct.intensity[i];
        if (!std::isfinite(b)) {
            if (!xrdtest::sameDouble(a, b))
                return QString("point %1: %2 where the direct sum gives %3").arg(i).arg(a).arg(b);
            continue;
        }
        const double diff = std::fabs(a - b);
        if (!(diff <= 1e-12 * largest))
            return QString("point %1 (q %2): %3 vs %4, %5 of the largest")
                .arg(i)
                .arg(c.fast.q[i], 0, 'g', 17)
                .arg(a, 0, 'g', 17)
                .arg(b, 0, 'g', 17)
                .arg(diff / largest);
        if (b > 1e-6 * largest && !(diff <= 1e-9 * b))
            return QString("point %1 (q %2): %3 vs %4, relative %5")
                .arg(i)
                .arg(c.fast.q[i], 0, 'g', 17)
                .arg(a, 0, 'g', 17)
                .arg(b, 0, 'g', 17)
                .arg(diff / b);
    }
    return QString();
}

// A random period: 1 to 6 layers with random thickness, composition and gradings.
Sample randomStructure(std::mt19937& rng, int maxTerms) {
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    std::uniform_int_distribution<int> layerCount(1, 6);
    std::uniform_int_distribution<int> shape(0, 3);
    std::uniform_real_distribution<double> width(0.0, 6.0);
    const int repeats[] = {1, 7, 10, 20};
    const int repeat = repeats[std::uniform_int_distribution<int>(0, 3)(rng)];
    const int layers = layerCount(rng);
    const int perLayer = std::max(1, maxTerms / (repeat * layers));
    std::uniform_int_distribution<int> thickness(1, perLayer);

    QVector<Layer> list;
    for (int i = 0; i < layers; ++i) {
        Layer l = uniform(thickness(rng), fraction(rng), fraction(rng));
        l.endShape = GradingShape(shape(rng));
        l.startShape = GradingShape(shape(rng));
        l.endWidth = std::floor(width(rng) * 2) / 2;
        l.startWidth = std::floor(width(rng) * 2) / 2;
        l.endInFraction = (fraction(rng) + l.inFraction) * 0.5;
        l.endAsFraction = (fraction(rng) + l.asFraction) * 0.5;
        l.startInFraction = (fraction(rng) + l.inFraction) * 0.5;
        l.startAsFraction = (fraction(rng) + l.asFraction) * 0.5;
        list.append(l);
    }
    const bool matched = fraction(rng) < 0.3;
    const double xs = matched ? list[0].inFraction : fraction(rng);
    const double ys = matched ? list[0].asFraction : fraction(rng);
    return structure(1.0 + 2.0 * fraction(rng), xs, ys, list, repeat, fraction(rng) < 0.8);
}

} // namespace

Q_DECLARE_METATYPE(Sample)

class TestCurve : public QObject {
    Q_OBJECT

private slots:
    // The model at chosen scattering vectors is the full curve's model: on a slice of the
    // full grid it gives the same intensities (to rounding: its phase recurrence starts from
    // other seeds), and at the substrate's (002)/(004) poles the damped closed form.
    void modelAtChosenQ_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("superlattice")
            << QStringLiteral(XRD_EXAMPLES_DIR "/ingaas-inp-superlattice.txt");
        QTest::newRow("laser") << QStringLiteral(XRD_BENCH_DATA_DIR "/laser-10000.txt");
    }
    void modelAtChosenQ() {
        QFETCH(QString, file);
        Config c;
        QVERIFY(c.load(file) && c.valid);
        ResultArrays full;
        expandLayers(c, full);
        computeCurve(c, full);
        const int from = full.q.size() / 3;
        const QVector<double> slice = full.q.mid(from, 1400);
        std::vector<double> model;
        QVERIFY(BasicAngleModel(c, slice, 0.0).intensities(c, model));
        for (int i = 0; i < slice.size(); ++i)
            QVERIFY2(std::fabs(model[std::size_t(i)] - full.intensity[from + i]) <=
                         1e-9 * full.intensity[from + i],
                     qPrintable(QString::number(i)));

        const double aS = latticeConstant(c.substrate.inFraction, c.substrate.asFraction);
        for (int n : {1, 2}) { // 2 q aS/4 = 2π n
            const double q = 4 * M_PI * n / aS;
            const double s = q / (4 * M_PI), eps = BasicAngleModel::kSubstrateDamping;
            const std::complex<double> e1 = std::polar(1.0, q * aS / 4);
            const double expected = std::abs(groupVFactor(c.substrate.asFraction, s) * e1 +
                                             groupIIIFactor(c.substrate.inFraction, s) * e1 * e1) /
                                    (1 - std::exp(-eps));
            c.repeat = 0; // the substrate alone
            QVERIFY(BasicAngleModel(c, {q}).intensities(c, model));
            QVERIFY(std::fabs(std::sqrt(model[0]) / expected - 1) < 1e-6);
        }
    }

    // Any number of threads sums the same blocks from the same exact seeds, so the curve is
    // the same to the bit; a split inside a block of the phase recurrence would not be.
    void threadsGiveTheSameBits_data() {
        QTest::addColumn<QString>("file");
        for (const char* f : {"laser-10000.txt", "superlattice-200x10-10.txt",
                              "graded-buffer-3500.txt", "superlattice-10x20-40.txt"})
            QTest::newRow(f) << QStringLiteral(XRD_BENCH_DATA_DIR "/") + f;
    }
    void threadsGiveTheSameBits() {
        QFETCH(QString, file);
        Config c;
        QVERIFY(c.load(file) && c.valid);
        ResultArrays one;
        expandLayers(c, one);
        QVERIFY(computeCurve(c, one));
        for (int threads : {2, 3, 7}) {
            ResultArrays many;
            expandLayers(c, many);
            SumControl control;
            control.threads = threads;
            QVERIFY(computeCurve(c, many, control));
            QCOMPARE(many.intensity.size(), one.intensity.size());
            QVERIFY(std::memcmp(many.intensity.constData(), one.intensity.constData(),
                                sizeof(double) * std::size_t(one.intensity.size())) == 0);
        }
    }

    void gridIsAccumulatedByRepeatedAddition() {
        // A period of 100 monolayers of GaAs: q0 = 2π/D, step q0/10, last q not above 2k.
        const double d = 282.675;
        const double k = kTwoPi / 1.5406;
        const QVector<double> grid = curveGrid(d, k);
        const double q0 = kTwoPi / d;
        const double step = q0 / 10;
        QVERIFY(grid.size() > 1000);
        XRD_COMPARE_EXACT(grid.first(), q0);
        QVERIFY(grid.last() <= 2 * k);
        QVERIFY(grid.last() + step > 2 * k);
        QCOMPARE(double(grid.size()), estimatedPointCount(d, k));
        // Each point is the previous one plus the step, with its rounding; multiplying the
        // step out gives different digits somewhere on a grid this long.
        int differsFromProduct = 0;
        for (int i = 1; i < grid.size(); ++i) {
            XRD_COMPARE_EXACT(grid[i], grid[i - 1] + step);
            differsFromProduct += grid[i] != q0 + i * step;
        }
        QVERIFY(differsFromProduct > 0);
    }

    void degenerateGrids_data() {
        QTest::addColumn<double>("period");
        QTest::addColumn<double>("k");
        QTest::addColumn<int>("points");
        const double k = kTwoPi / 1.5406;
        QTest::newRow("zero period") << 0.0 << k << 0;
        QTest::newRow("negative period") << -1.24 << k << 0;
        QTest::newRow("NaN period") << std::nan("") << k << 0;
        QTest::newRow("infinite period") << HUGE_VAL << k << 0;
        QTest::newRow("wavelength above twice the period") << 2.82675 << kTwoPi / 6.0 << 0;
        QTest::newRow("single point") << 10.0 << (kTwoPi / 10.0) * 0.5 * 1.01 << 1;
        QTest::newRow("NaN wavenumber") << 10.0 << std::nan("") << 0;
    }

    void degenerateGrids() {
        QFETCH(double, period);
        QFETCH(double, k);
        QFETCH(int, points);
        QCOMPARE(curveGrid(period, k).size(), points);
        QCOMPARE(estimatedPointCount(period, k), double(points));
    }

    void absurdGridsStopAtTheCap() {
        // An infinite wavenumber (a denormal wavelength) or a period so thick that the step
        // vanishes against q must not loop for ever.
        QCOMPARE(curveGrid(10.0, HUGE_VAL, 1000).size(), 1000);
        QCOMPARE(curveGrid(1e300, 4.0, 1000).size(), 1000);
        QVERIFY(estimatedPointCount(10.0, HUGE_VAL) > 1e300);
    }

    void kernelNearMultiplesOfTwoPi_data() {
        QTest::addColumn<double>("phi");
        QTest::addColumn<double>("n");
        for (double n : {2.0, 7.0, 20.0, 1000.0, 123457.0}) {
            for (int m : {0, 1, 3, 1000, 40000}) {
                for (double offset : {0.0, 1e-15, -3e-12, 1e-8, -1e-5, 1e-2, 0.7}) {
                    const double phi = m * kTwoPi + offset;
                    QTest::addRow("n=%g m=%d d=%g", n, m, offset) << phi << n;
                }
            }
        }
    }

    void kernelNearMultiplesOfTwoPi() {
        // Reference: the sum itself in long double, with the phase reduced in long double.
        QFETCH(double, phi);
        QFETCH(double, n);
        const long double twoPi = 6.283185307179586476925286766559L;
        const long double r = std::remainder((long double)phi, twoPi);
        std::complex<long double> sum = 0;
        for (long j = 0; j < long(n); ++j)
            sum += std::polar(1.0L, (long double)j * r);
        const std::complex<double> k = dirichletKernel(phi, n);
        // The phase itself is only known to an ulp of phi; its error grows along the sum.
        const double tolerance = 4e-16 * n * (1.0 + std::fabs(phi) * n);
        QVERIFY2(std::abs(std::complex<long double>(k) - sum) <= tolerance,
                 qPrintable(QString("K = %1%2i, reference %3%4i")
                                .arg(k.real(), 0, 'g', 17)
                                .arg(k.imag(), 0, 'g', 17, QLatin1Char('+'))
                                .arg(double(sum.real()), 0, 'g', 17)
                                .arg(double(sum.imag()), 0, 'g', 17)));
    }

    void kernelEdgeCases() {
        XRD_COMPARE_EXACT(dirichletKernel(1.234, 1).real(), 1.0);
        XRD_COMPARE_EXACT(dirichletKernel(1.234, 0).real(), 0.0);
        XRD_COMPARE_EXACT(dirichletKernel(1.234, -5).real(), 0.0);
        XRD_COMPARE_EXACT(dirichletKernel(0.0, 20).real(), 20.0);
        XRD_COMPARE_EXACT(dirichletKernel(0.0, 20).imag(), 0.0);
    }

    void oneMonolayerTwoPlanes() {
        // Without substrate and with one period, one GaAs monolayer scatters from a Ga plane
        // at 0 and an As plane at h/2: |fV e^(i q h/2) + fIII|^2.
        const Sample s = structure(1.5406, 0, 1, {uniform(1, 0, 1)}, 1, false);
        const Curves curves = bothCurves(s);
        const double h = 2.82675;
        const double k = kTwoPi / 1.5406;
        QVERIFY(curves.direct.q.size() > 10);
        for (int i = 0; i < curves.direct.q.size(); ++i) {
            const double q = curves.direct.q[i];
            const double s = q / (4 * M_PI);
            const double fIII = groupIIIFactor(0, s);
            const double fV = groupVFactor(1, s);
            const double expected = fIII * fIII + fV * fV + 2 * fIII * fV * std::cos(q * h / 2);
            XRD_COMPARE_CLOSE(curves.direct.intensity[i], expected, 1e-12);
            XRD_COMPARE_CLOSE(curves.fast.intensity[i], expected, 1e-12);
        }
        XRD_COMPARE_CLOSE(curves.direct.theta.first(), std::asin(M_PI / (h * k)) * 180 / M_PI,
                          1e-14);
    }

    void thetaNeverExceedsNinety() {
        Config c;
        ResultArrays r;
        expand(structure(1.5406, 0, 1, {uniform(7, 0.1, 1)}, 3), c, r);
        computeCurve(c, r);
        QVERIFY(!r.theta.isEmpty());
        for (double t : r.theta)
            QVERIFY(t > 0 && t <= 90);
        QVERIFY(r.theta.last() > 80);
    }

    void repeatChangesTermsNotPoints() {
        ResultArrays one;
        ResultArrays two;
        const QVector<Layer> period{uniform(10, 0.2, 1), uniform(10, 0, 1)};
        Config c1;
        Config c2;
        expand(structure(1.5406, 0, 1, period, 10, false), c1, one);
        expand(structure(1.5406, 0, 1, period, 20, false), c2, two);
        computeCurve(c1, one);
        computeCurve(c2, two);
        QCOMPARE(one.q.size(), two.q.size());
        // At a superlattice Bragg position (q D = 2π n) the amplitude grows with the number
        // of periods, so the intensity quadruples.
        const double d = one.depth.last();
        for (int i = 0; i < one.q.size(); i += 10) {
            XRD_COMPARE_EXACT(one.q[i], two.q[i]);
            if (one.intensity[i] > 1e-3)
                XRD_COMPARE_CLOSE(two.intensity[i] / one.intensity[i], 4.0, 1e-6);
        }
        QVERIFY(std::fabs(one.q[10] * d - 2 * kTwoPi) < 1e-9);
    }

    void substrateOnly() {
        // withSubstrate false: the intensity is |A_L|^2; with it, sqrt(I) grows by |A_S|.
        const QVector<Layer> layers{uniform(30, 0.2, 1)};
        ResultArrays without;
        ResultArrays with;
        Config a;
        Config b;
        expand(structure(1.5406, 0, 1, layers, 1, false), a, without);
        expand(structure(1.5406, 0, 1, layers, 1, true), b, with);
        computeCurveDirect(a, without);
        computeCurveDirect(b, with);
        for (int i = 0; i < with.q.size(); ++i)
            QVERIFY(with.intensity[i] >= without.intensity[i]);
    }

    void gaasPeakPosition() {
        // GaAs on GaAs: the strongest reflection is (004), at sin(theta) = 2 lambda / a.
        Config c;
        ResultArrays r;
        expand(structure(1.5406, 0, 1, {uniform(200, 0, 1)}, 1), c, r);
        computeCurve(c, r);
        int best = 0;
        for (int i = 0; i < r.intensity.size(); ++i)
            if (std::isfinite(r.intensity[i]) && r.intensity[i] > r.intensity[best])
                best = i;
        const double expected = std::asin(2 * 1.5406 / 5.6535) * 180 / M_PI;
        QVERIFY2(std::fabs(r.theta[best] - expected) < 0.02,
                 qPrintable(QString("peak at %1, expected %2").arg(r.theta[best]).arg(expected)));
    }

    void splitLayerGivesSameCurve() {
        // One layer of 40 monolayers and the same material as 25 + 15 are one structure.
        Config whole;
        Config split;
        ResultArrays a;
        ResultArrays b;
        expand(structure(1.5406, 1, 0, {uniform(40, 0.3, 0.7)}, 3), whole, a);
        expand(structure(1.5406, 1, 0, {uniform(25, 0.3, 0.7), uniform(15, 0.3, 0.7)}, 3), split,
               b);
        QCOMPARE(a.depth, b.depth);
        computeCurve(whole, a);
        computeCurve(split, b);
        QCOMPARE(a.q.size(), b.q.size());
        for (int i = 0; i < a.q.size(); ++i)
            XRD_COMPARE_EXACT(a.intensity[i], b.intensity[i]);
    }

    void fastAgreesWithDirect_data() {
        QTest::addColumn<Sample>("structure");
        auto add = [](const char* name, const Sample& s) { QTest::newRow(name) << s; };
        add("lattice-matched superlattice",
            structure(1.5406, 1, 0, {uniform(20, 0.532, 1), uniform(40, 1, 0)}, 10));
        add("strained single layer", structure(1.5406, 0, 1, {uniform(100, 0.2, 1)}, 1));
        add("lattice-matched homoepitaxy", structure(1.5406, 0, 1, {uniform(50, 0, 1)}, 7));
        // Uniform layers whose depth crosses 256, 512 and 1024 Å: the accumulated step
        // changes there, which splits the runs.
        add("uniform layer across powers of two",
            structure(1.5406, 0, 1, {uniform(420, 0.05, 1)}, 1));
        add("repeat 20 of a thick period",
            structure(2.5, 1, 0, {uniform(30, 0.7, 0.6), uniform(3, 1, 0)}, 20));
        Layer graded = uniform(60, 0.6, 0.9);
        graded.startShape = Linear;
        graded.startWidth = 60;
        graded.startInFraction = 0.1;
        add("fully graded layer", structure(1.5406, 0, 1, {graded}, 1));
        add("no layer contribution (repeat 0)", structure(1.5406, 0, 1, {uniform(30, 0.2, 1)}, 0));
        add("negative repeat", structure(1.5406, 0, 1, {uniform(30, 0.2, 1)}, -3));
        add("out-of-range compositions",
            structure(1.5406, 0, 1, {uniform(12, 1.4, -0.2), uniform(9, -0.1, 1.2)}, 4));

        std::mt19937 rng(20261207);
        for (int i = 0; i < 24; ++i) {
            QTest::addRow("random %d", i) << randomStructure(rng, 500);
        }
    }

    void fastAgreesWithDirect() {
        QFETCH(Sample, structure);
        const Curves curves = bothCurves(structure);
        const QString problem = compareCurves(curves);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    void termCountCollapsesRuns() {
        Config c;
        ResultArrays r;
        expand(structure(1.5406, 0, 1, {uniform(100, 0.2, 1), uniform(50, 0, 1)}, 1), c, r);
        const qint64 terms = curveTermCount(r.depth, r.inProfile, r.asProfile);
        // Two layers, each split at most where its depth crosses a power of two.
        QVERIFY(terms >= 2 && terms <= 12);
    }
};

QTEST_GUILESS_MAIN(TestCurve)
#include "tst_curve.moc"
