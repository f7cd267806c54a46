#include "simulation/dynamical.h"
#include "simulation/kinematical.h"
#include "simulation/model.h"
#include "simulation/physicsstack.h"
#include "simulation/resultarrays.h"
#include "simulation/susceptibility.h"
#include "structure/config.h"

#include <QtTest>

#include <cmath>

// Relaxed layers and asymmetric reflections against values worked by hand: the lattices from
// Vegard's law and the binaries' C11 and C12 (a_par = a_below + r (a - a_below),
// a_perp = a + 2 C12 / C11 (a - a_par)), the (hkl) geometry from Bragg's law and the
// inclination of the planes.

namespace {

constexpr double kCuKAlpha1 = 1.5405929; // Å

Layer layer(int monolayers, double x, double y) {
    Layer l;
    l.defined = true;
    l.monolayers = monolayers;
    l.inFraction = l.endInFraction = l.startInFraction = x;
    l.asFraction = l.endAsFraction = l.startAsFraction = y;
    return l;
}

void setUp(Config& c, double xs, double ys, const QVector<Layer>& layers) {
    c.wavelength = kCuKAlpha1;
    c.k = Config::twoPi / kCuKAlpha1;
    c.substrate = layer(1, xs, ys);
    c.withSubstrate = true;
    c.layers = layers;
    c.repeat = 1;
    c.valid = true;
    c.fileName = QStringLiteral("s.txt");
}

QVector<double> range(double from, double to, double step) {
    QVector<double> theta;
    for (int i = 0; from + i * step <= to + step / 2; ++i)
        theta.append(from + i * step);
    return theta;
}

// The angle of the highest point of `r` within [lo, hi], refined by a parabola through it and
// its neighbours.
double peakAt(const QVector<double>& t, const QVector<double>& r, double lo, double hi) {
    int top = -1;
    for (int i = 1; i + 1 < t.size(); ++i) {
        if (t[i] >= lo && t[i] <= hi && (top < 0 || r[i] > r[top]))
            top = i;
    }
    if (top < 0)
        return std::nan("");
    const double a = r[top - 1], b = r[top], c = r[top + 1];
    const double denominator = a - 2 * b + c;
    const double shift = denominator != 0 ? 0.5 * (a - c) / denominator : 0.0;
    return t[top] + shift * (t[1] - t[0]);
}

Reflection reflection(int h, int k, int l, Reflection::Grazing g = Reflection::Incidence) {
    Reflection r;
    r.h = h;
    r.k = k;
    r.l = l;
    r.grazing = g;
    return r;
}

} // namespace

class TestRelaxation : public QObject {
    Q_OBJECT

private slots:
    // One layer of 10 monolayers on a substrate; hand values of its in-plane and
    // perpendicular lattice constants.
    void lattices_data() {
        QTest::addColumn<double>("xs");
        QTest::addColumn<double>("ys");
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<double>("r");
        QTest::addColumn<double>("aPar");
        QTest::addColumn<double>("aPerp");
        const auto row = [](const char* name, double xs, double ys, double x, double y, double r,
                            double aPar, double aPerp) {
            QTest::newRow(name) << xs << ys << x << y << r << aPar << aPerp;
        };
        row("GaAs on InP, coherent", 1, 0, 0, 1, 0, 5.869, 5.4600932773);
        row("GaAs on InP, 25 %", 1, 0, 0, 1, 0.25, 5.815125, 5.5084449580);
        row("GaAs on InP, relaxed", 1, 0, 0, 1, 1, 5.6535, 5.6535);
        row("InAs on GaAs, coherent", 0, 1, 1, 1, 0, 5.6535, 6.4994352518);
        row("InAs on GaAs, 25 %", 0, 1, 1, 1, 0.25, 5.75475, 6.3892014388);
        row("InAs on GaAs, relaxed", 0, 1, 1, 1, 1, 6.0585, 6.0585);
        row("InP on GaAs, coherent", 0, 1, 1, 0, 0, 5.6535, 6.1081602374);
        row("InP on GaAs, 25 %", 0, 1, 1, 0, 0.25, 5.707375, 6.0483701780);
        row("GaP on GaAs, coherent", 0, 1, 0, 0, 0, 5.6535, 5.2713398577);
        row("GaP on GaAs, 25 %", 0, 1, 0, 0, 0.25, 5.60275, 5.3161298932);
        row("GaP on GaAs, relaxed", 0, 1, 0, 0, 1, 5.4505, 5.4505);
        row("In0.7 As0.6 on InP, coherent", 1, 0, 0.7, 0.6, 0, 5.869, 5.8499708880);
        row("In0.7 As0.6 on InP, 25 %", 1, 0, 0.7, 0.6, 0.25, 5.866645, 5.8523731660);
        row("In0.7 As0.6 on InP, relaxed", 1, 0, 0.7, 0.6, 1, 5.85958, 5.85958);
    }

    void lattices() {
        QFETCH(double, xs);
        QFETCH(double, ys);
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(double, r);
        QFETCH(double, aPar);
        QFETCH(double, aPerp);
        Config c;
        setUp(c, xs, ys, {layer(10, x, y)});
        c.ext.relaxations = {{1, r, 3}};
        const PhysicsStack stack = buildPhysicsStack(c);
        QVERIFY(stack.error.isEmpty());
        QCOMPARE(stack.period.size(), 1);
        QVERIFY2(std::fabs(stack.period[0].aParallel - aPar) < 1e-9,
                 qPrintable(QString::number(stack.period[0].aParallel, 'g', 12)));
        QVERIFY2(std::fabs(2 * stack.period[0].monolayerHeight - aPerp) < 1e-9,
                 qPrintable(QString::number(2 * stack.period[0].monolayerHeight, 'g', 12)));
        // The depth profile takes the same heights.
        ResultArrays profile;
        expandLayersElastic(c, profile);
        QVERIFY(std::fabs(profile.depth.last() - 10 * aPerp / 2) < 1e-8);
    }

    // Each layer grows on the top of the one below: In0.1Ga0.9As half relaxed on GaAs, GaAs
    // half relaxed on it (a_par 5.67375, then 5.663625), and a third layer that is coherent
    // with the second; a graded layer relaxes monolayer by monolayer from the same start.
    void carriedUpTheStack() {
        Config c;
        Layer graded = layer(4, 0.2, 1);
        graded.startInFraction = 0.0;
        graded.startWidth = 4; // linear from In 0 towards 0.2 over the layer
        graded.startShape = Linear;
        setUp(c, 0, 1, {layer(10, 0.1, 1), layer(10, 0, 1), layer(10, 0.05, 1), graded});
        c.ext.relaxations = {{1, 0.5, 3}, {2, 0.5, 4}, {4, 1, 5}};
        const PhysicsStack stack = buildPhysicsStack(c);
        QVERIFY(stack.error.isEmpty());
        QVERIFY(stack.period.size() >= 4);
        QVERIFY(std::fabs(stack.period[0].aParallel - 5.67375) < 1e-12);
        QVERIFY(std::fabs(2 * stack.period[0].monolayerHeight - 5.712453742204) < 1e-9);
        QVERIFY(std::fabs(stack.period[1].aParallel - 5.663625) < 1e-12);
        QVERIFY(std::fabs(2 * stack.period[1].monolayerHeight - 5.644413025210) < 1e-9);
        QVERIFY(std::fabs(stack.period[2].aParallel - 5.663625) < 1e-12);
        // A fully relaxed graded layer takes each monolayer's own bulk lattice.
        for (int i = 3; i < stack.period.size(); ++i) {
            const Slab& s = stack.period[i];
            const double bulk = 5.6535 * (1 - s.x) + 6.0585 * s.x;
            QVERIFY(std::fabs(s.aParallel - bulk) < 1e-12);
            QVERIFY(std::fabs(2 * s.monolayerHeight - bulk) < 1e-12);
        }
    }

    // A RELAXATION of 0 changes no bit of either model's curve or of the profile.
    void coherentIsUnchanged_data() {
        QTest::addColumn<int>("model");
        QTest::newRow("kinematical") << 0;
        QTest::newRow("dynamical (004)") << 1;
        QTest::newRow("dynamical (224) exit") << 2;
    }

    void coherentIsUnchanged() {
        QFETCH(int, model);
        Config plain, zero;
        setUp(plain, 0, 1, {layer(300, 0.12, 1), layer(40, 0.3, 0.8)});
        setUp(zero, 0, 1, {layer(300, 0.12, 1), layer(40, 0.3, 0.8)});
        zero.ext.relaxations = {{1, 0.0, 3}, {2, 0.0, 4}};
        const PhysicsStack a = buildPhysicsStack(plain);
        const PhysicsStack b = buildPhysicsStack(zero);
        const QVector<double> theta = range(31.5, 34.5, 0.002);
        const Reflection r = reflection(2, 2, 4, Reflection::Exit);
        QVector<double> ca, cb;
        if (model == 0) {
            ca = kinematicalReflectivity(a, theta);
            cb = kinematicalReflectivity(b, theta);
        } else if (model == 1) {
            ca = dynamicalReflectivity(a, 4, theta);
            cb = dynamicalReflectivity(b, 4, theta);
        } else {
            const QVector<double> t = range(41.0, 42.5, 0.002);
            ca = dynamicalReflectivity(a, r, t);
            cb = dynamicalReflectivity(b, r, t);
        }
        QVERIFY(!ca.isEmpty());
        QVERIFY(ca == cb);
        ResultArrays pa, pb;
        expandLayersElastic(plain, pa);
        expandLayersElastic(zero, pb);
        QVERIFY(pa.depth == pb.depth);
    }

    // Plane spacing, Bragg angle, inclination and the beams' angles of the substrate's (hkl)
    // at Cu K alpha1: GaAs (224) d = a / sqrt(24) = 1.1540159 Å, theta_B = 41.873797 degrees,
    // phi = atan(sqrt(8) / 4) = 35.264390 degrees, so the incident beam meets the surface at
    // 6.609407 degrees and the exit beam leaves at 77.138186 at grazing incidence (and the
    // other way round at grazing exit); GaAs (115): phi = atan(sqrt(2) / 5) = 15.793169,
    // theta_B = asin(1.5405929 sqrt(27) / (2 5.6535)) = 45.070984.
    void geometry_data() {
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("k");
        QTest::addColumn<int>("l");
        QTest::addColumn<bool>("exit");
        QTest::addColumn<double>("d");
        QTest::addColumn<double>("thetaB");
        QTest::addColumn<double>("phi");
        QTest::addColumn<double>("incidence");
        QTest::addColumn<double>("exitAngle");
        QTest::newRow("GaAs (224) grazing incidence")
            << 2 << 2 << 4 << false << 1.154015855 << 41.873797 << 35.264390 << 6.609407
            << 77.138186;
        QTest::newRow("GaAs (224) grazing exit") << 2 << 2 << 4 << true << 1.154015855 << 41.873797
                                                 << 35.264390 << 77.138186 << 6.609407;
        QTest::newRow("GaAs (115) grazing incidence")
            << 1 << 1 << 5 << false << 1.0880166 << 45.070984 << 15.793169 << 29.277814
            << 60.864153;
        QTest::newRow("GaAs (004)")
            << 0 << 0 << 4 << false << 1.413375 << 33.025008 << 0.0 << 33.025008 << 33.025008;
    }

    void geometry() {
        QFETCH(int, h);
        QFETCH(int, k);
        QFETCH(int, l);
        QFETCH(bool, exit);
        QFETCH(double, d);
        QFETCH(double, thetaB);
        QFETCH(double, phi);
        QFETCH(double, incidence);
        QFETCH(double, exitAngle);
        const Reflection r = reflection(h, k, l, exit ? Reflection::Exit : Reflection::Incidence);
        QVERIFY(std::fabs(planeSpacing(5.6535, 5.6535, h, k, l) - d) < 1e-6);
        Config c;
        setUp(c, 0, 1, {layer(1, 0, 1)});
        const PhysicsStack stack = buildPhysicsStack(c);
        QVERIFY(std::fabs(substrateBraggAngle(stack, r) - thetaB) < 1e-5);
        QVERIFY(std::fabs(substrateInclination(r) - phi) < 1e-5);
        double in = 0, out = 0;
        beamAngles(thetaB, r, in, out);
        QVERIFY(std::fabs(in - incidence) < 1e-5);
        QVERIFY(std::fabs(out - exitAngle) < 1e-5);
    }

    // The (224) spacing of a strained layer uses both lattices: In0.1Ga0.9As coherent on
    // GaAs, a_par 5.6535, a_perp 5.7309067: d = 1 / sqrt(8 / a_par^2 + 16 / a_perp^2).
    void strainedSpacing() {
        const double d = planeSpacing(5.6535, 5.730906655, 2, 2, 4);
        QVERIFY(std::fabs(d - 1.1644777) < 1e-6);
    }

    // A thick In0.1Ga0.9As layer (3500 monolayers, 1 um) on GaAs: the distance of its peak
    // from the substrate's in the omega-2theta scan, against Bragg's law with the hand
    // lattices. Symmetric: theta_B(layer) - theta_B(substrate). Asymmetric: the layer
    // diffracts where the incident beam meets its own planes at its Bragg angle, omega =
    // theta_B - phi_layer (grazing incidence) or theta_B + phi_layer (exit), which the scan
    // shows at omega +/- phi of the substrate.
    void layerPeaks_data() {
        QTest::addColumn<double>("r");
        QTest::addColumn<int>("geometry"); // 0 (004), 1 (224) incidence, 2 (224) exit
        QTest::addColumn<double>("splitting");
        const double s004 = 33.025008, s224 = 41.873797;
        QTest::newRow("coherent (004)") << 0.0 << 0 << 32.52337 - s004;
        QTest::newRow("coherent (224) incidence") << 0.0 << 1 << 41.04588 - s224;
        QTest::newRow("coherent (224) exit") << 0.0 << 2 << 41.78213 - s224;
        QTest::newRow("half (004)") << 0.5 << 0 << 32.64147 - s004;
        QTest::newRow("half (224) incidence") << 0.5 << 1 << 41.27708 - s224;
        QTest::newRow("half (224) exit") << 0.5 << 2 << 41.64474 - s224;
        QTest::newRow("relaxed (004)") << 1.0 << 0 << 32.76050 - s004;
        QTest::newRow("relaxed (224) incidence") << 1.0 << 1 << 41.50951 - s224;
        QTest::newRow("relaxed (224) exit") << 1.0 << 2 << 41.50951 - s224;
    }

    void layerPeaks() {
        QFETCH(double, r);
        QFETCH(int, geometry);
        QFETCH(double, splitting);
        Config c;
        setUp(c, 0, 1, {layer(3500, 0.1, 1)});
        c.ext.relaxations = {{1, r, 3}};
        const PhysicsStack stack = buildPhysicsStack(c);
        const double substrate = geometry == 0 ? 33.025008 : 41.873797;
        const QVector<double> theta = range(substrate - 0.9, substrate + 0.1, 0.0005);
        const Reflection refl =
            geometry == 0
                ? reflection(0, 0, 4)
                : reflection(2, 2, 4, geometry == 1 ? Reflection::Incidence : Reflection::Exit);
        for (int model = 0; model < 2; ++model) {
            const QVector<double> curve = model == 0 ? dynamicalReflectivity(stack, refl, theta)
                                                     : kinematicalReflectivity(stack, refl, theta);
            QCOMPARE(curve.size(), theta.size());
            const double sub = peakAt(theta, curve, substrate - 0.02, substrate + 0.02);
            const double lay =
                peakAt(theta, curve, substrate + splitting - 0.02, substrate + splitting + 0.02);
            QVERIFY2(std::fabs(lay - sub - splitting) < 0.002,
                     qPrintable(QString("model %1: %2 instead of %3")
                                    .arg(model)
                                    .arg(lay - sub, 0, 'f', 5)
                                    .arg(splitting, 0, 'f', 5)));
        }
    }

    // The asymmetric dynamical curve of a bare substrate: its Darwin width in omega goes as
    // 1 / sqrt|b|, |b| = sin(in) / sin(out), so the plateau at grazing incidence is wider than
    // at grazing exit by sin(77.14) / sin(6.61) = 8.47 for GaAs (224) at Cu K alpha1.
    void substrateWidths() {
        Config c;
        setUp(c, 0, 1, {layer(1, 0, 1)});
        c.withSubstrate = true;
        PhysicsStack stack = buildPhysicsStack(c);
        stack.repeat = 0; // the substrate alone
        const QVector<double> theta = range(41.80, 41.98, 0.00005);
        const auto width = [&](Reflection::Grazing g) {
            const QVector<double> curve =
                dynamicalReflectivity(stack, reflection(2, 2, 4, g), theta);
            double top = 0;
            for (double v : curve)
                top = std::max(top, v);
            int count = 0;
            for (double v : curve)
                count += v > top / 2 ? 1 : 0;
            return count * 0.00005;
        };
        const double wIn = width(Reflection::Incidence);
        const double wOut = width(Reflection::Exit);
        const double b = std::sin(77.138186 * M_PI / 180) / std::sin(6.609407 * M_PI / 180);
        QVERIFY2(std::fabs(wIn / wOut / b - 1) < 0.15,
                 qPrintable(QString("%1 / %2 vs b %3").arg(wIn).arg(wOut).arg(b)));
    }

    // The substrate's (224) peak under 1 um of relaxed In0.1Ga0.9As, which does not diffract
    // at the substrate's angle: the substrate's diffracted beam keeps its own direction through
    // the layer, so the peak is the bare substrate's times the layer's absorption along the
    // substrate's own two beams, exp(-mu t (1 / sin(in) + 1 / sin(out))), in = theta + phi
    // and out = theta - phi at grazing exit (swapped at grazing incidence), mu = 2 pi
    // Im(chi0) / lambda of the layer, whatever the layer's own exit angle.
    void substrateUnderRelaxedLayer_data() {
        QTest::addColumn<double>("r");
        QTest::addColumn<int>("grazing"); // 0 incidence, 1 exit
        QTest::newRow("half relaxed, grazing exit") << 0.5 << 1;
        QTest::newRow("relaxed, grazing exit") << 1.0 << 1;
        QTest::newRow("relaxed, grazing incidence") << 1.0 << 0;
    }

    void substrateUnderRelaxedLayer() {
        QFETCH(double, r);
        QFETCH(int, grazing);
        const Reflection refl =
            reflection(2, 2, 4, grazing == 1 ? Reflection::Exit : Reflection::Incidence);
        const double substrate = 41.873797;
        const QVector<double> theta = range(substrate - 0.02, substrate + 0.03, 0.00002);
        const auto highest = [&](const PhysicsStack& stack) {
            double top = 0;
            for (double v : dynamicalReflectivity(stack, refl, theta))
                top = std::max(top, v);
            return top;
        };
        Config c;
        setUp(c, 0, 1, {layer(3500, 0.1, 1)});
        c.ext.relaxations = {{1, r, 3}};
        const PhysicsStack layered = buildPhysicsStack(c);
        QCOMPARE(layered.period.size(), 1);
        PhysicsStack bare = layered;
        bare.repeat = 0;
        const Slab& s = layered.period.first();
        const double mu = 2 * M_PI *
                          std::fabs(meanSusceptibility(s.x, s.y, s.monolayerHeight, s.aParallel,
                                                       kCuKAlpha1, layered.dispersion)
                                        .imag()) /
                          kCuKAlpha1;
        const double phi = std::atan(std::sqrt(8.0) / 4);
        const double t = s.monolayers * s.monolayerHeight;
        const double path =
            1 / std::sin(substrate * M_PI / 180 + phi) + 1 / std::sin(substrate * M_PI / 180 - phi);
        const double expected = highest(bare) * std::exp(-mu * t * path);
        const double got = highest(layered);
        QVERIFY2(std::fabs(got / expected - 1) < 0.02,
                 qPrintable(QString("%1 instead of %2").arg(got).arg(expected)));
    }

    // Refusals: the basic model with a relaxed layer, a reflection beyond the wavelength, and
    // a geometry whose beam would enter or leave below the surface.
    void refusals_data() {
        QTest::addColumn<int>("model");
        QTest::addColumn<double>("wavelength");
        QTest::addColumn<QVector<int>>("hkl");
        QTest::addColumn<double>("r");
        QTest::addColumn<QString>("says");
        QTest::newRow("basic with relaxation")
            << 0 << kCuKAlpha1 << QVector<int>{0, 0, 4} << 0.3 << "RELAXATION";
        QTest::newRow("(446) beyond Cu K alpha")
            << 2 << kCuKAlpha1 << QVector<int>{4, 4, 6} << 0.0 << "cannot be reached";
        // sin theta_B of (224) at 1.2 Å is 0.52, below sin 35.26 = 0.577: the incident beam
        // would come from inside the crystal.
        QTest::newRow("(224) grazing incidence at 1.2 Å")
            << 2 << 1.2 << QVector<int>{2, 2, 4} << 0.0 << "incident beam";
        QTest::newRow("(224) kinematical at 1.2 Å")
            << 1 << 1.2 << QVector<int>{2, 2, 4} << 0.0 << "incident beam";
    }

    void refusals() {
        QFETCH(int, model);
        QFETCH(double, wavelength);
        QFETCH(QVector<int>, hkl);
        QFETCH(double, r);
        QFETCH(QString, says);
        Config c;
        setUp(c, 0, 1, {layer(100, 0.1, 1)});
        c.wavelength = wavelength;
        c.k = Config::twoPi / wavelength;
        c.ext.reflection = reflection(hkl[0], hkl[1], hkl[2]);
        c.ext.relaxations = {{1, r, 3}};
        const auto m = makeModel(model == 0   ? ModelKind::Basic
                                 : model == 1 ? ModelKind::Kinematical
                                              : ModelKind::Dynamical);
        ResultArrays profile;
        m->expandProfile(c, profile);
        QString refusal;
        QVERIFY(!m->plan(c, profile, AngleRange(), refusal));
        QVERIFY2(refusal.startsWith("Refused [s.txt]: ") && refusal.contains(says),
                 qPrintable(refusal));
        QVERIFY(!refusal.contains('\n'));
    }

    // Near grazing exit the exit beam of the scan's lowest angles runs into the surface: the
    // curve is 0 there and finite everywhere.
    void noBeamBelowTheSurface() {
        Config c;
        setUp(c, 0, 1, {layer(200, 0.1, 1)});
        const PhysicsStack stack = buildPhysicsStack(c);
        // theta - phi below 0 for theta < 35.264 degrees.
        const QVector<double> theta = range(35.0, 35.6, 0.01);
        for (const QVector<double>& curve :
             {dynamicalReflectivity(stack, reflection(2, 2, 4, Reflection::Exit), theta),
              kinematicalReflectivity(stack, reflection(2, 2, 4, Reflection::Exit), theta)}) {
            QCOMPARE(curve.size(), theta.size());
            for (int i = 0; i < theta.size(); ++i) {
                QVERIFY(std::isfinite(curve[i]) && curve[i] >= 0);
                if (theta[i] < 35.26)
                    QCOMPARE(curve[i], 0.0);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestRelaxation)
#include "tst_relaxation.moc"
