#include "simulation/curve.h"
#include "simulation/expansion.h"
#include "simulation/materials.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"

#include "tests/common/testfiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

// Curves of simple stacks against results worked by hand: the closed forms of a uniform
// layer and of the substrate, and the Bragg angle of a strained layer.
class TestClosedForms : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    // Loads a structure file with `text` and expands its profile into `r`.
    bool load(const QByteArray& text, Config& c, ResultArrays& r) {
        if (!c.load(xrdtest::writeTestFile(dir_, "s.txt", text)) || !c.valid)
            return false;
        expandLayers(c, r);
        return true;
    }

private slots:
    void uniformLayerOnSubstrate_data() {
        QTest::addColumn<QByteArray>("structure");
        QTest::addColumn<double>("aS");  // substrate lattice constant, Å
        QTest::addColumn<double>("h");   // layer monolayer height (2a - aS) / 2, Å
        QTest::addColumn<int>("planes"); // monolayers in all periods together
        // a = 0.8 * 5.6535 + 0.2 * 6.0585 = 5.7345 for In0.2Ga0.8As; 6.0585 for InAs; the
        // quaternary In0.3Ga0.7As0.6P0.4 has 0.42 * 5.6535 + 0.18 * 6.0585 + 0.12 * 5.869 +
        // 0.28 * 5.4505 = 5.69542, In0.5Ga0.5As0.5P0.5 the mean of the four, 5.757875.
        QTest::newRow("GaAs on GaAs")
            << QByteArray("SUBSTRATE 0 1\nLAYER 10 0 1\nREPEAT 1") << 5.6535 << 2.82675 << 10;
        QTest::newRow("In0.2Ga0.8As on GaAs, 2 x 25")
            << QByteArray("SUBSTRATE 0 1\nLAYER 25 0.2 1\nREPEAT 2") << 5.6535 << 2.90775 << 50;
        QTest::newRow("InAs on InP, 3 x 5")
            << QByteArray("SUBSTRATE 1 0\nLAYER 5 1 1\nREPEAT 3") << 5.869 << 3.124 << 15;
        QTest::newRow("quaternary, substrate switched off")
            << QByteArray("SUBSTRATE 0.3 0.6 1\nLAYER 8 0.5 0.5\nREPEAT 4") << 5.69542 << 2.910165
            << 32;
        // No layer contribution: the substrate's closed form alone.
        QTest::newRow("GaAs substrate only")
            << QByteArray("SUBSTRATE 0 1\nLAYER 30 0.2 1\nREPEAT 0") << 5.6535 << 2.90775 << 0;
        QTest::newRow("quaternary substrate only")
            << QByteArray("SUBSTRATE 0.3 0.6\nLAYER 12 0.3 0.6\nREPEAT -2") << 5.69542 << 2.84771
            << 0;
    }

    void uniformLayerOnSubstrate() {
        // With u = q aS / 4 the substrate's series (fV e^(iu) + fIII e^(2iu)) / (1 - e^(2iu))
        // has the magnitude |fIII + fV e^(iu)| / (2 |sin u|); a uniform stack of K monolayers
        // of height h has |fIII + fV e^(iv)| |sin(K v) / sin v| with v = q h / 2. Both are
        // added as magnitudes and squared, by the fast and by the literal sum.
        QFETCH(QByteArray, structure);
        QFETCH(double, aS);
        QFETCH(double, h);
        QFETCH(int, planes);
        Config c;
        ResultArrays fast;
        QVERIFY(load("WAVELENGTH 1.5406\n" + structure, c, fast));
        const double x = c.layers[0].inFraction;
        const double y = c.layers[0].asFraction;
        ResultArrays direct = fast;
        computeCurve(c, fast);
        computeCurveDirect(c, direct);
        QVERIFY(fast.q.size() > 100);
        auto magnitude = [](double fIII, double fV, double phase) {
            return std::sqrt(fIII * fIII + fV * fV + 2 * fIII * fV * std::cos(phase));
        };
        int compared = 0;
        for (int i = 0; i < fast.q.size(); ++i) {
            const double q = fast.q[i];
            const double s = q / (4 * M_PI);
            const double u = q * aS / 4;
            // The grid meets the layer's reflections (v a multiple of pi) all but exactly;
            // reduced, the ratio of sines stays accurate there.
            const double v = q * h / 2;
            const double w = std::remainder(v, M_PI);
            // At the substrate's reflections its series diverges; the rounding of u decides
            // the value there.
            if (c.withSubstrate && std::fabs(std::sin(u)) < 1e-5)
                continue;
            ++compared;
            const double xs = c.substrate.inFraction;
            const double ys = c.substrate.asFraction;
            const double substrate =
                c.withSubstrate ? magnitude(groupIIIFactor(xs, s), groupVFactor(ys, s), u) /
                                      (2 * std::fabs(std::sin(u)))
                                : 0.0;
            const double layer = magnitude(groupIIIFactor(x, s), groupVFactor(y, s), v) *
                                 (w == 0 ? planes : std::fabs(std::sin(planes * w) / std::sin(w)));
            const double expected = (substrate + layer) * (substrate + layer);
            // Rounding: relative where the terms add up, absolute where they cancel (1e-12 of
            // the sum of the terms' magnitudes, at most 100 electrons a monolayer).
            const double slack = 1e-12 * (planes + 1) * 100;
            const double tolerance = 1e-9 * expected + 2 * (substrate + layer + slack) * slack;
            for (const ResultArrays* r : {&fast, &direct})
                QVERIFY2(std::fabs(r->intensity[i] - expected) <= tolerance,
                         qPrintable(QString("q %1: %2, expected %3")
                                        .arg(q, 0, 'g', 10)
                                        .arg(r->intensity[i], 0, 'g', 12)
                                        .arg(expected, 0, 'g', 12)));
        }
        QVERIFY(compared > fast.q.size() - 10);
    }

    void strainedLayerPeak_data() {
        QTest::addColumn<QByteArray>("structure");
        QTest::addColumn<double>("aPerp"); // 2a - aS: 2 C12 / C11 taken as 1
        // 2 * 5.7345 - 5.6535; GaAs0.8P0.2: 2 * (0.8 * 5.6535 + 0.2 * 5.4505) - 5.6535;
        // In0.6Ga0.4As: 2 * (0.4 * 5.6535 + 0.6 * 6.0585) - 5.869.
        QTest::newRow("compressive In0.2Ga0.8As on GaAs")
            << QByteArray("SUBSTRATE 0 1\nLAYER 2000 0.2 1") << 5.8155;
        QTest::newRow("tensile GaAs0.8P0.2 on GaAs")
            << QByteArray("SUBSTRATE 0 1\nLAYER 2000 0 0.8") << 5.5723;
        QTest::newRow("compressive In0.6Ga0.4As on InP")
            << QByteArray("SUBSTRATE 1 0\nLAYER 2000 0.6 1") << 5.924;
    }

    void strainedLayerPeak() {
        // The (004) reflection of a thick pseudomorphic layer lies at q = 8 pi / aPerp, and
        // the curve's maximum within 0.015/Å of it (14 fringes; the substrate's peak is
        // further away) is within one grid step of it.
        QFETCH(QByteArray, structure);
        QFETCH(double, aPerp);
        Config c;
        ResultArrays r;
        QVERIFY(load("WAVELENGTH 1.5406\nREPEAT 1\n" + structure, c, r));
        computeCurve(c, r);
        const double bragg = 8 * M_PI / aPerp;
        int best = -1;
        for (int i = 0; i < r.q.size(); ++i)
            if (std::fabs(r.q[i] - bragg) < 0.015 &&
                (best < 0 || r.intensity[i] > r.intensity[best]))
                best = i;
        QVERIFY(best > 0);
        const double step = r.q[best] - r.q[best - 1];
        QVERIFY2(std::fabs(r.q[best] - bragg) <= step,
                 qPrintable(QString("maximum at q %1, expected %2").arg(r.q[best]).arg(bragg)));
        const double theta = std::asin(2 * 1.5406 / aPerp) * 180 / M_PI;
        QVERIFY(std::fabs(r.theta[best] - theta) < 0.01);
    }

    void fastSumAcrossPowersOfTwo_data() {
        QTest::addColumn<QByteArray>("structure");
        // Hundreds of identical monolayers whose accumulated depth passes 4, 8, ... 1024 Å:
        // the depth step, as computed, changes by an ulp at each power of two. (Thousands
        // would make the literal sum take minutes.)
        QTest::newRow("420 GaAs") << QByteArray("SUBSTRATE 0 1 1\nLAYER 420 0 1");
        QTest::newRow("360 In0.05Ga0.95As") << QByteArray("SUBSTRATE 0 1 1\nLAYER 360 0.05 1");
    }

    void fastSumAcrossPowersOfTwo() {
        // The fast sum agrees with the literal one to rounding: its amplitude within 5e-13 of
        // the sum of the magnitudes of all terms (measured: below 6e-14). A run that kept one
        // depth step past such a change would put the planes up to 1e-11 Å off their
        // accumulated depths, an error of 1.3e-12 and more.
        QFETCH(QByteArray, structure);
        Config c;
        ResultArrays fast;
        QVERIFY(load("WAVELENGTH 1.5406\nREPEAT 1\n" + structure, c, fast));
        QVERIFY(fast.depth.last() > 1024);
        ResultArrays direct = fast;
        computeCurve(c, fast);
        computeCurveDirect(c, direct);
        const double x = c.layers[0].inFraction;
        double worst = 0;
        for (int i = 0; i < fast.q.size(); ++i) {
            const double s = fast.q[i] / (4 * M_PI);
            const double terms =
                c.layers[0].monolayers * (groupIIIFactor(x, s) + groupVFactor(1, s));
            const double error = std::sqrt(fast.intensity[i]) - std::sqrt(direct.intensity[i]);
            worst = std::max(worst, std::fabs(error) / terms);
        }
        QVERIFY2(worst < 5e-13, qPrintable(QString("amplitudes differ by %1").arg(worst)));
    }
};

QTEST_GUILESS_MAIN(TestClosedForms)
#include "tst_closedforms.moc"
