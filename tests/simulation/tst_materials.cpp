#include "simulation/materials.h"

#include "tests/common/exact.h"

#include <QtTest>

#include <cmath>

class TestMaterials : public QObject {
    Q_OBJECT

private slots:
    void latticeConstant_data() {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<double>("expected");
        // End members (Å) and the quaternary midpoint, the mean of the four.
        QTest::newRow("GaAs") << 0.0 << 1.0 << 5.6535;
        QTest::newRow("InAs") << 1.0 << 1.0 << 6.0585;
        QTest::newRow("InP") << 1.0 << 0.0 << 5.869;
        QTest::newRow("GaP") << 0.0 << 0.0 << 5.4505;
        QTest::newRow("midpoint") << 0.5 << 0.5 << 5.757875;
        // In0.532Ga0.468As is lattice-matched to InP within 4e-5 Å.
        QTest::newRow("InGaAs on InP") << 0.532 << 1.0 << 5.86896;
        // Outside 0..1 the rule extrapolates linearly instead of clamping.
        QTest::newRow("x = 2 extrapolates") << 2.0 << 1.0 << 6.4635;
    }

    void latticeConstant() {
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(double, expected);
        XRD_COMPARE_CLOSE(::latticeConstant(x, y), expected, 1e-12);
    }

    void scatteringFactorAtZero_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<double>("electrons");
        // At s = 0 a factor is the sum of its amplitudes and c: close to the element's
        // number of electrons.
        QTest::newRow("P") << int(RowP) << 14.9993;
        QTest::newRow("As") << int(RowAs) << 32.9826;
        QTest::newRow("In") << int(RowIn) << 48.9955;
        QTest::newRow("Ga") << int(RowGa) << 30.9763;
        QTest::newRow("65-electron ion") << int(Row65Electrons) << 64.99732;
    }

    void scatteringFactorAtZero() {
        QFETCH(int, row);
        QFETCH(double, electrons);
        XRD_COMPARE_CLOSE(scatteringFactor(row, 0.0), electrons, 1e-12);
    }

    void scatteringFactorFallsWithAngle() {
        // The form factor decreases monotonically with s for every tabulated element.
        for (int row = 0; row < 6; ++row) {
            double previous = scatteringFactor(row, 0.0);
            for (double s = 0.05; s < 1.5; s += 0.05) {
                const double f = scatteringFactor(row, s);
                QVERIFY2(f < previous, qPrintable(QString("row %1 at s %2").arg(row).arg(s)));
                previous = f;
            }
        }
        QCOMPARE(scatteringFactor(kScattererRows, 0.1), 0.0);
        QCOMPARE(scatteringFactor(-1, 0.1), 0.0);
    }

    void sublatticeFactorsAtTheirEnds() {
        for (double s : {0.0, 0.13, 0.4, 1.1}) {
            const double t = std::exp(-0.45 * s * s);
            XRD_COMPARE_CLOSE(groupIIIFactor(0, s), scatteringFactor(RowGa, s) * t, 1e-15);
            XRD_COMPARE_CLOSE(groupIIIFactor(1, s), scatteringFactor(RowIn, s) * t, 1e-15);
            XRD_COMPARE_CLOSE(groupVFactor(0, s), scatteringFactor(RowP, s) * t, 1e-15);
            XRD_COMPARE_CLOSE(groupVFactor(1, s), scatteringFactor(RowAs, s) * t, 1e-15);
            // Virtual crystal: linear in the fraction.
            XRD_COMPARE_CLOSE(groupIIIFactor(0.25, s),
                              0.75 * groupIIIFactor(0, s) + 0.25 * groupIIIFactor(1, s), 1e-14);
        }
        XRD_COMPARE_CLOSE(temperatureFactor(1.0), std::exp(-0.45), 1e-15);
    }

    void monolayerHeight() {
        XRD_COMPARE_EXACT(::monolayerHeight(5.6535, 5.6535), 2.82675);
        // A larger lattice constant than the substrate's: compressive strain stretches the
        // layer along the growth direction by the mismatch again.
        const double a = ::latticeConstant(0.2, 1.0);
        XRD_COMPARE_CLOSE(::monolayerHeight(a, 5.6535), a / 2 + (a - 5.6535) / 2, 1e-15);
    }
};

QTEST_GUILESS_MAIN(TestMaterials)
#include "tst_materials.moc"
