#include "analysis/rsmroad.h"
#include "structure/config.h"

#include <QtTest>

#include <cmath>

// The map road on the synthetic maps of tools/rsm_synth.py: each spot named by the layer of
// the structure that made it, with that layer's composition and relaxation; a map measured
// with a zero error brought back by the alignment; the table and the gridded map whole.
class TestRsmRoad : public QObject {
    Q_OBJECT

    static AreaMap map(const char* name) {
        const AreaMapReadResult r =
            readAreaMapFile(QStringLiteral(XRD_TEST_DATA_DIR "/rsm/") + name);
        if (!r.ok)
            qFatal("%s", qPrintable(r.error));
        return r.map;
    }

private slots:
    // Shifts of the angles (a zero error of the goniometer) and the structure or none: the
    // spots keep their numbers.
    void layers_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<double>("omegaShift");
        QTest::addColumn<double>("twoThetaShift");
        QTest::addColumn<bool>("withStructure");
        QTest::newRow("exit") << "ingaas224-exit.xrdml" << 0.0 << 0.0 << true;
        QTest::newRow("incidence") << "ingaas224-incidence.xrdml" << 0.0 << 0.0 << true;
        QTest::newRow("exit, zero error") << "ingaas224-exit.xrdml" << 0.05 << -0.02 << true;
        QTest::newRow("incidence, no structure")
            << "ingaas224-incidence.ras" << -0.03 << 0.01 << false;
    }

    void layers() {
        QFETCH(QString, file);
        QFETCH(double, omegaShift);
        QFETCH(double, twoThetaShift);
        QFETCH(bool, withStructure);
        AreaMap m = map(qPrintable(file));
        for (double& w : m.x)
            w += omegaShift;
        for (double& t : m.z)
            t += twoThetaShift;
        Config config;
        QVERIFY(config.load(QStringLiteral(XRD_TEST_DATA_DIR "/rsm/ingaas224-structure.txt")));
        QVERIFY(config.valid);
        const RsmAnalysis a = analyseMap(m, withStructure ? &config : nullptr);
        QVERIFY2(a.ok, qPrintable(a.failure));
        QCOMPARE(a.substrateName, QStringLiteral("GaAs"));
        QCOMPARE(a.aSubstrate, 5.6535);
        QCOMPARE(a.h * 100 + a.k * 10 + a.l, 224);
        QCOMPARE(a.grazing, file.contains(QLatin1String("incidence")) ? -1.0 : 1.0);
        QCOMPARE(std::fabs(a.geometry.omegaOffset + omegaShift) < 0.003, true);
        QCOMPARE(std::fabs(a.geometry.twoThetaOffset + twoThetaShift) < 0.003, true);
        QCOMPARE(a.spots.size(), 4);
        QCOMPARE(a.log.size(), 2 + 4 + (withStructure ? 0 : 1)); // read, aligned, spots
        const struct {
            const char* label;
            double x, r;
        } truth[] = {{"substrate", 0, 0},
                     {"layer 1", 0.05, 0},
                     {"layer 2", 0.10, 0.5},
                     {"layer 3", 0.15, 1.0}};
        for (const auto& t : truth) {
            int at = a.labels.indexOf(QLatin1String(t.label));
            if (!withStructure) // without one, the spots are told apart by their Qz
                for (int s = 0; s < a.spots.size(); ++s)
                    if (std::fabs(a.numbers[s].composition - t.x) < 0.01)
                        at = s;
            QVERIFY2(at >= 0, t.label);
            const SpotNumbers& n = a.numbers[at];
            QVERIFY2(std::fabs(n.composition - t.x) < 0.002,
                     qPrintable(QString::number(n.composition)));
            if (t.x > 0)
                QVERIFY2(std::fabs(n.relaxation - t.r) < 0.01,
                         qPrintable(QString::number(n.relaxation)));
            QVERIFY(n.sComposition > 0 && n.sComposition < 0.005);
        }
        // Each layer drawn where the model puts it: its spot lies within 0.001 1/Å.
        if (withStructure) {
            QCOMPARE(a.layers.size(), 3);
            for (const LayerMark& mark : a.layers) {
                const int s = a.labels.indexOf(QStringLiteral("layer %1").arg(mark.layer));
                QVERIFY(std::hypot(a.spots[s].qx - mark.qxRelaxed, a.spots[s].qz - mark.qzRelaxed) <
                        0.001);
            }
        }
        // A click beside layer 2's spot picks that spot.
        const int two = withStructure ? a.labels.indexOf(QStringLiteral("layer 2")) : -1;
        if (two >= 0) {
            const QString line = spotAtLine(a, a.spots[two].qx + 0.001, a.spots[two].qz - 0.001);
            const QRegularExpressionMatch x =
                QRegularExpression(QStringLiteral("^Spot \\(picked\\): .* x \\(In\\) ([0-9.]+) ± "))
                    .match(line);
            QVERIFY2(x.hasMatch() && std::fabs(x.captured(1).toDouble() - 0.10) < 0.002,
                     qPrintable(line));
        }
    }

    void files() {
        const RsmAnalysis a = analyseMap(map("ingaas224-exit.xrdml"), nullptr);
        const QList<QByteArray> table = spotTable(a).split('\n');
        QCOMPARE(table.size(), a.spots.size() + 2); // header, spots, final newline
        QVERIFY(table.first().startsWith("# spot\tlabel\tQx"));
        for (int i = 1; i <= a.spots.size(); ++i)
            QCOMPARE(table[i].split('\t').size(), 15);
        const QList<QByteArray> grid = gridText(a.grid).split('\n');
        QCOMPARE(grid.size(), a.grid.nx * a.grid.nz + 2);
        int empty = 0;
        double sum = 0;
        for (int i = 1; i + 1 < grid.size(); ++i) {
            const QList<QByteArray> f = grid[i].split('\t');
            QCOMPARE(f.size(), 4);
            if (f[2] == "nan") {
                QCOMPARE(f[3], QByteArray("0"));
                ++empty;
            } else {
                sum += f[2].toDouble() * f[3].toInt();
            }
        }
        double total = 0;
        for (const double v : a.map.intensity)
            total += v;
        QVERIFY(empty > 0); // the corners beyond the measured lines
        QVERIFY(std::fabs(sum - total) < 1e-6 * total);
    }

    void refusesNoise() {
        AreaMap flat;
        flat.fileName = QStringLiteral("flat");
        flat.x = {30, 30.1, 30.2, 30.3};
        flat.z = {60, 60.2, 60.4, 60.6};
        flat.intensity = {1, 1, 1, 1};
        flat.lineStarts = {0};
        const RsmAnalysis a = analyseMap(flat, nullptr);
        QVERIFY(!a.ok);
        QCOMPARE(a.failure, QStringLiteral("Map [flat]: no spot stands out of the background."));
    }
};

QTEST_MAIN(TestRsmRoad)
#include "tst_rsmroad.moc"
