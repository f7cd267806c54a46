#include "analysis/rsm.h"

#include <QtTest>

#include <cmath>

// Reciprocal-space maps: Q of hand-worked angles in both grazing geometries, the mesh as
// xrayutilities' Gridder2D lays it, and the spots of the synthetic maps of tools/rsm_synth.py
// (InGaAs on GaAs at (224)) against the layers they were made from.
namespace {

// Cu Kα1 of the synthetic maps; GaAs (224): d = a/√24, sin θ = λ / 2d, the plane tilted by
// ψ = atan(√8 / 4) from the surface; Q = 2π √8 / a in the plane, 2π 4 / a along the normal.
constexpr double kLambda = 1.5405929;
constexpr double kGaAs = 5.6535;
constexpr double kTheta = 41.87379661558175;
constexpr double kPsi = 35.264389682754654;
constexpr double kQx = 3.1434565760384654;
constexpr double kQz = 4.4455189225644896;

RsmGeometry cuKa1() {
    RsmGeometry g;
    g.wavelength = kLambda;
    return g;
}

// The layers of the synthetic maps: In fraction, relaxation, and Qx, Qz at (224) exit as the
// generator computed them (its own Vegard and elastic arithmetic in Python).
struct Truth {
    double x, r, qx, qz;
};
const Truth kLayers[] = {{0.0, 0.0, 3.143457, 4.445519},
                         {0.05, 0.0, 3.143457, 4.415402},
                         {0.10, 0.5, 3.132237, 4.399640},
                         {0.15, 1.0, 3.110037, 4.398257}};

} // namespace

class TestRsm : public QObject {
    Q_OBJECT

private slots:
    void angles_data() {
        QTest::addColumn<double>("omega");
        QTest::addColumn<double>("twoTheta");
        QTest::addColumn<double>("omegaOffset");
        QTest::addColumn<double>("twoThetaOffset");
        QTest::addColumn<double>("miscut");
        QTest::addColumn<double>("qx");
        QTest::addColumn<double>("qz");
        QTest::newRow("(004) symmetric")
            << 33.02500570764123 << 66.05001141528246 << 0.0 << 0.0 << 0.0 << 0.0 << kQz;
        QTest::newRow("(224) exit")
            << kTheta + kPsi << 2 * kTheta << 0.0 << 0.0 << 0.0 << kQx << kQz;
        QTest::newRow("(224) incidence")
            << kTheta - kPsi << 2 * kTheta << 0.0 << 0.0 << 0.0 << -kQx << kQz;
        // Measured 0.1° low in omega, 0.04° high in 2theta: the offsets bring it back.
        QTest::newRow("(224) exit, offsets")
            << kTheta + kPsi - 0.1 << 2 * kTheta + 0.04 << 0.1 << -0.04 << 0.0 << kQx << kQz;
        // Planes tilted 0.5° by a miscut: omega is that much larger at the same Q.
        QTest::newRow("(224) incidence, miscut")
            << kTheta - kPsi + 0.5 << 2 * kTheta << 0.0 << 0.0 << 0.5 << -kQx << kQz;
    }

    void angles() {
        QFETCH(double, omega);
        QFETCH(double, twoTheta);
        QFETCH(double, omegaOffset);
        QFETCH(double, twoThetaOffset);
        QFETCH(double, miscut);
        QFETCH(double, qx);
        QFETCH(double, qz);
        RsmGeometry g = cuKa1();
        g.omegaOffset = omegaOffset;
        g.twoThetaOffset = twoThetaOffset;
        g.miscut = miscut;
        double x = 0, z = 0;
        anglesToQ(omega, twoTheta, g, x, z);
        QVERIFY2(std::fabs(x - qx) < 1e-9 && std::fabs(z - qz) < 1e-9,
                 qPrintable(QStringLiteral("%1 %2").arg(x, 0, 'g', 12).arg(z, 0, 'g', 12)));
        double w = 0, t = 0;
        QVERIFY(qToAngles(qx, qz, g, w, t));
        QVERIFY(std::fabs(w - omega) < 1e-9 && std::fabs(t - twoTheta) < 1e-9);
    }

    void unreachable() {
        double w = 0, t = 0;
        QVERIFY(!qToAngles(0, 2 * (2 * M_PI / kLambda) * 1.001, cuKa1(), w, t));
        QVERIFY(!qToAngles(0, 0, cuKa1(), w, t));
    }

    // Cells centred on a linear mesh over the points' range, each the mean of its points;
    // a cell no point reached is empty (NaN), not zero.
    void grid() {
        const QVector<double> x{0, 0.24, 0.26, 1.0, 0.5, 0.5};
        const QVector<double> z{0, 0, 0, 1.0, 0.74, 0.76};
        const QVector<double> v{1, 2, 4, 8, 16, 32};
        const MapGrid g = gridMap(x, z, v, 3, 3);
        QCOMPARE(g.xAt(1), 0.5);
        const double sums[9] = {3, 4, 0, 0, 16, 0, 0, 32, 8};
        const int counts[9] = {2, 1, 0, 0, 1, 0, 0, 1, 1};
        for (int c = 0; c < 9; ++c) {
            QCOMPARE(g.sum[c], sums[c]);
            QCOMPARE(g.count[c], counts[c]);
            QCOMPARE(std::isnan(g.value(c % 3, c / 3)), counts[c] == 0);
        }
        QCOMPARE(g.value(0, 0), 1.5);
        // An explicit range leaves out the points beyond it, as Gridder2D does.
        const MapGrid part = gridMap(x, z, v, 2, 2, 0.0, 0.5, 0.0, 0.5);
        QCOMPARE(part.sum, (QVector<double>{3, 4, 0, 0}));
    }

    // Exact Q of each layer back to its composition and relaxation.
    void numbers_data() {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("r");
        QTest::addColumn<double>("qx");
        QTest::addColumn<double>("qz");
        for (const Truth& t : kLayers) {
            QTest::addRow("x %g r %g exit", t.x, t.r) << t.x << t.r << t.qx << t.qz;
            QTest::addRow("x %g r %g incidence", t.x, t.r) << t.x << t.r << -t.qx << t.qz;
        }
    }

    void numbers() {
        QFETCH(double, x);
        QFETCH(double, r);
        QFETCH(double, qx);
        QFETCH(double, qz);
        MapSpot spot;
        spot.qx = qx;
        spot.qz = qz;
        spot.sqx = spot.sqz = 1e-4;
        const SpotNumbers n =
            spotNumbers(spot, 2, 2, 4, kGaAs, alloyLine(MaterialSystem(), 0.0, 1.0));
        QVERIFY2(std::fabs(n.composition - x) < 2e-5, qPrintable(QString::number(n.composition)));
        if (x > 0)
            QVERIFY2(std::fabs(n.relaxation - r) < 2e-3, qPrintable(QString::number(n.relaxation)));
        else
            QVERIFY(std::isnan(n.relaxation));
        QVERIFY(n.sComposition > 0 && n.sComposition < 1e-3);
        // The layer's own Q from its composition and relaxation, both sides.
        double lx = 0, lz = 0;
        layerQ(latticeConstantOf(x), strainRatioOf(x), kGaAs, r, 2, 2, 4, qx > 0 ? 1 : -1, lx, lz);
        QVERIFY(std::fabs(lx - qx) < 1e-6 && std::fabs(lz - qz) < 1e-6);
    }

    // The synthetic maps, each format and both geometries: every layer's spot found, at its Q,
    // with its composition within 0.002 and its relaxation within 0.01.
    void synthetic_data() {
        QTest::addColumn<QString>("file");
        for (const char* name :
             {"exit.xrdml", "exit.ras", "exit.txt", "incidence.xrdml", "incidence.ras"})
            QTest::newRow(name) << QStringLiteral(XRD_TEST_DATA_DIR "/rsm/ingaas224-") + name;
    }

    void synthetic() {
        QFETCH(QString, file);
        const AreaMapReadResult read = readAreaMapFile(file);
        QVERIFY2(read.ok, qPrintable(read.error));
        RsmGeometry g = cuKa1();
        QVector<double> qx, qz;
        mapToQ(read.map, g, qx, qz);
        const MapGrid grid = gridMap(qx, qz, read.map.intensity, 80, 100);
        const QVector<MapSpot> spots = findSpots(grid);
        const double sign = file.contains(QLatin1String("incidence")) ? -1 : 1;
        for (const Truth& t : kLayers) {
            const MapSpot* found = nullptr;
            for (const MapSpot& s : spots)
                if (std::hypot(s.qx - sign * t.qx, s.qz - t.qz) < 0.002)
                    found = &s;
            QVERIFY2(found, qPrintable(QStringLiteral("no spot at x %1").arg(t.x)));
            QVERIFY2(std::fabs(found->qx - sign * t.qx) < 3e-4 &&
                         std::fabs(found->qz - t.qz) < 3e-4,
                     qPrintable(QStringLiteral("%1 %2").arg(found->qx).arg(found->qz)));
            const SpotNumbers n =
                spotNumbers(*found, 2, 2, 4, kGaAs, alloyLine(MaterialSystem(), 0.0, 1.0));
            QVERIFY2(std::fabs(n.composition - t.x) < 0.002,
                     qPrintable(QStringLiteral("x %1 for %2").arg(n.composition).arg(t.x)));
            if (t.x > 0)
                QVERIFY2(std::fabs(n.relaxation - t.r) < 0.01,
                         qPrintable(QStringLiteral("r %1 for %2").arg(n.relaxation).arg(t.r)));
        }
    }

private:
    static double latticeConstantOf(double x) {
        return alloyLine(MaterialSystem(), 0.0, 1.0).latticeConstant(x);
    }
    static double strainRatioOf(double x) {
        return alloyLine(MaterialSystem(), 0.0, 1.0).strainRatio(x);
    }
};

QTEST_MAIN(TestRsm)
#include "tst_rsm.moc"
