// Several measured scans of one structure, one per reflection: the names of their -meas
// files, the refusal of results that would overwrite one of them, the road that compares each
// at its own reflection, and a fit whose cost is the mean of the scans' agreement figures.

#include "analysis/comparison.h"
#include "analysis/fitroad.h"
#include "analysis/scanroad.h"
#include "measured/measuredscan.h"
#include "simulation/calculation.h"
#include "simulation/outputguard.h"
#include "simulation/resultarrays.h"
#include "simulation/resultfiles.h"
#include "structure/config.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <random>

class TestMultiScan : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(dir_.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(name));
        return f.fileName();
    }

    // The model of `structure` at (00l), scale 1, no background, 0.003° resolution, times
    // `factor`, at `points` angles from `low` to `high`, as a two-column text scan; with a
    // `seed`, counted for a second per point on 1 count per second of background with Poisson
    // noise.
    QString synthesize(const QString& structure, int l, double low, double high, int points,
                       double factor, const QString& name, unsigned seed = 0) {
        Reflection r;
        r.l = l;
        return synthesize(structure, r, low, high, points, factor, name, seed);
    }
    QString synthesize(const QString& structure, const Reflection& r, double low, double high,
                       int points, double factor, const QString& name, unsigned seed) {
        Config c;
        if (!c.load(structure) || !c.valid)
            qFatal("bad structure");
        c.ext.reflection = r;
        MeasuredScan scan;
        for (int i = 0; i < points; ++i) {
            scan.theta << low + (high - low) * i / (points - 1);
            scan.intensity << 1.0;
        }
        const ScanComparison comparison(c, scan, 0, 0, 0.003, 0.003);
        InstrumentSettings unit;
        unit.scale = 1.0;
        unit.background = 0.0;
        ModelAtScan m;
        if (!comparison.evaluate(c, unit, m))
            qFatal("no model");
        QByteArray text;
        std::mt19937 random(seed);
        for (int i = 0; i < points; ++i) {
            double value = factor * m.model[i];
            if (seed != 0)
                value = double(std::poisson_distribution<long>(value + 1.0)(random));
            text += QByteArray::number(scan.theta[i], 'g', 12) + ' ' +
                    QByteArray::number(value, 'g', 12) + '\n';
        }
        return write(name, text);
    }

    // In0.6Ga0.4As, 200 monolayers, on InP; its (004) and (002) ranges at Cu K-alpha1.
    static QByteArray truth() {
        return "WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 200 0.6 1\nREPEAT 1\nMODEL dynamical\n";
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    // The names are the documented rule, worked out by hand for each kind of index.
    void measTags_data() {
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("k");
        QTest::addColumn<int>("l");
        QTest::addColumn<bool>("exit");
        QTest::addColumn<QString>("tag");
        QTest::newRow("(002)") << 0 << 0 << 2 << false << "meas-002";
        QTest::newRow("(224) exit") << 2 << 2 << 4 << true << "meas-224-exit";
        QTest::newRow("(115) incidence") << 1 << 1 << 5 << false << "meas-115-incidence";
        QTest::newRow("(0 0 12)") << 0 << 0 << 12 << false << "meas-0_0_12";
        QTest::newRow("(-2 2 4) incidence") << -2 << 2 << 4 << false << "meas-m2_2_4-incidence";
        QTest::newRow("(10 0 10) exit") << 10 << 0 << 10 << true << "meas-10_0_10-exit";
        QTest::newRow("(1 -1 11) exit") << 1 << -1 << 11 << true << "meas-1_m1_11-exit";
    }
    void measTags() {
        QFETCH(int, h);
        QFETCH(int, k);
        QFETCH(int, l);
        QFETCH(bool, exit);
        Reflection r;
        r.h = h;
        r.k = k;
        r.l = l;
        r.grazing = exit ? Reflection::Exit : Reflection::Incidence;
        QTEST(measuredResultTag(r), "tag");
    }

    // What a structure with several MEASURED lines reads and writes: the first scan keeps
    // NAME-meas.EXT; a scan named like another scan's -meas file refuses the structure.
    void resultsAndClashes_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QStringList>("inputs");  // file names
        QTest::addColumn<QStringList>("results"); // the -meas files
        QTest::addColumn<QString>("refused");     // the result refused, or empty
        QTest::newRow("one plain scan") << QByteArray("MEASURED a.xy\n") << QStringList{"a.xy"}
                                        << QStringList{"s-meas.txt"} << QString();
        QTest::newRow("three reflections")
            << QByteArray("MEASURED a.xy\nMEASURED b.xy REFLECTION 2 2 4 GEOMETRY exit\n"
                          "MEASURED c.xy REFLECTION 2\n")
            << QStringList{"a.xy", "b.xy", "c.xy"}
            << QStringList{"s-meas.txt", "s-meas-224-exit.txt", "s-meas-002.txt"} << QString();
        QTest::newRow("the first scan is a later scan's result")
            << QByteArray("MEASURED s-meas-002.txt\nMEASURED c.xy REFLECTION 2\n")
            << QStringList{"s-meas-002.txt", "c.xy"} << QStringList{"s-meas.txt", "s-meas-002.txt"}
            << "s-meas-002.txt";
        QTest::newRow("a second scan named like the first one's result")
            << QByteArray("MEASURED a.xy\nMEASURED s-meas.txt REFLECTION 2\n")
            << QStringList{"a.xy", "s-meas.txt"} << QStringList{"s-meas.txt", "s-meas-002.txt"}
            << "s-meas.txt";
    }
    void resultsAndClashes() {
        QFETCH(QByteArray, lines);
        QFETCH(QStringList, inputs);
        QFETCH(QStringList, results);
        QFETCH(QString, refused);
        Config c;
        const QString structure = write("s.txt", "SUBSTRATE 1 0\nLAYER 10 0.5 1\n" + lines);
        QVERIFY(c.load(structure) && c.valid);
        QStringList inputNames;
        for (const QString& p : scanPathsFor(c))
            inputNames << QFileInfo(p).fileName();
        QCOMPARE(inputNames, inputs);
        QStringList meas;
        for (const QString& p : resultPaths(structure, QString(), measTagsFor(c), false, false))
            if (p.contains("-meas"))
                meas << QFileInfo(p).fileName();
        QCOMPARE(meas, results);
        const QStringList lines2 =
            refuseClashes({{structure, QStringList{structure} + scanPathsFor(c),
                            resultPaths(structure, QString(), measTagsFor(c), false, true)}})
                .value(0);
        if (refused.isEmpty()) {
            QVERIFY2(lines2.isEmpty(), qPrintable(lines2.join('\n')));
        } else {
            QVERIFY(!lines2.isEmpty());
            const QString path = dir_.filePath(refused);
            QCOMPARE(lines2.first(), QStringLiteral("Can't write [%1]: it is [%1], which this run "
                                                    "reads.")
                                         .arg(path));
            QCOMPARE(lines2.last(), QStringLiteral("[%1] was not computed.").arg(structure));
        }
    }

    // The road compares each scan at its own reflection: a scan made from the model at (002)
    // agrees with the (002) model to rounding, and the log and the -meas files say which is
    // which.
    void roadComparesEachAtItsReflection() {
        const QString t = write("truth-road.txt", truth());
        const QString s004 = synthesize(t, 4, 31.0, 32.4, 300, 1.0, "road-004.txt");
        const QString s002 = synthesize(t, 2, 14.6, 15.5, 200, 1.0, "road-002.txt");
        Config c;
        const QString file =
            write("road.txt", truth() + "SCALE 1\nBACKGROUND 0\nMEASURED " + s004.toUtf8() +
                                  "\nMEASURED " + s002.toUtf8() + " REFLECTION 2\n");
        QVERIFY(c.load(file) && c.valid);
        LoadedStructure loaded = loadStructure(c, file);
        QCOMPARE(loaded.status, LoadedStructure::Ready);
        ResultArrays results;
        const RoadOutcome road = runRoad(*loaded.calculation, results, CalculationHooks());
        QCOMPARE(road.scans.size(), 2);
        QVERIFY(road.scansWritten());
        for (const ScanOutcome& s : road.scans)
            QVERIFY2(s.model.agreement < 1e-12, qPrintable(QString::number(s.model.agreement)));
        QCOMPARE(QFileInfo(road.scans[0].measFile).fileName(), QStringLiteral("road-meas.txt"));
        QCOMPARE(QFileInfo(road.scans[1].measFile).fileName(), QStringLiteral("road-meas-002.txt"));
        QVERIFY(road.scan.log.contains(QStringLiteral("Scan 1 of 2: [%1] at (004).").arg(s004)));
        QVERIFY(road.scan.log.contains(QStringLiteral("Scan 2 of 2: [%1] at (002).").arg(s002)));
        QFile meas(road.scans[1].measFile);
        QVERIFY(meas.open(QIODevice::ReadOnly));
        QVERIFY(meas.readAll().contains("\n# reflection: (002)\n"));
    }

    // The cost is the mean of the scans' figures, each scan weighing the same: a scan that is
    // the model and one that is ten times the model (one decade at every point, with the
    // scale held at 1) cost (0 + 1) / 2 = 0.5, although the second has three times the points
    // (a mean over points would give 0.75).
    void costIsTheMeanOfTheScans() {
        const QString t = write("truth-mean.txt", truth());
        const QString s004 = synthesize(t, 4, 31.0, 32.4, 300, 1.0, "mean-004.txt");
        const QString s002 = synthesize(t, 2, 14.6, 15.5, 900, 10.0, "mean-002.txt");
        Config c;
        QVERIFY(c.load(write("mean.txt", truth() + "SCALE 1\nBACKGROUND 0\nMEASURED " +
                                             s004.toUtf8() + "\nMEASURED " + s002.toUtf8() +
                                             " REFLECTION 2\nFIT LAYER 1 N 200 200\n")));
        const StructureFit fit(c, FitSettings());
        QVERIFY2(fit.problem().isEmpty(), qPrintable(fit.problem()));
        QCOMPARE(fit.scanCount(), 2);
        const FitReport report = fit.run();
        QVERIFY2(report.ok, qPrintable(report.log.join('\n')));
        QVERIFY2(std::fabs(report.agreementBefore - 0.5) < 1e-9,
                 qPrintable(QString::number(report.agreementBefore, 'g', 12)));
        QVERIFY(report.log.contains(
            QStringLiteral("Fit of [%1] to 2 scans: the cost is the mean of their agreement "
                           "figures.")
                .arg(c.fileName)));
    }

    // Scans at (004) and (002) of a known layer with counting noise (peaks of 10^5 and 10^4
    // counts per second), fitted together from wrong starts within wide bounds, give back its
    // thickness and composition: within one monolayer and 0.002 in x.
    void twoScansRecoverTheLayer_data() {
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("from N 210, x 0.575") << QByteArray("LAYER 210 0.575 1\n");
        QTest::newRow("from N 170, x 0.65") << QByteArray("LAYER 170 0.65 1\n");
    }
    void twoScansRecoverTheLayer() {
        QFETCH(QByteArray, start);
        const QString t = write("truth-fit.txt", truth());
        const QString s004 = synthesize(t, 4, 31.0, 32.4, 700, 1e5, "fit-004.txt", 11);
        const QString s002 = synthesize(t, 2, 14.6, 15.5, 450, 1e4, "fit-002.txt", 12);
        Config c;
        QVERIFY(c.load(write("fit.txt", "WAVELENGTH 1.5406\nSUBSTRATE 1 0\n" + start +
                                            "REPEAT 1\nMODEL dynamical\nMEASURED " + s004.toUtf8() +
                                            "\nMEASURED " + s002.toUtf8() +
                                            " REFLECTION 2\nFIT LAYER 1 N 140 280\n"
                                            "FIT LAYER 1 X 0.45 0.7\n")));
        QElapsedTimer clock;
        clock.start();
        const FitReport report = StructureFit(c, FitSettings()).run();
        QVERIFY2(report.ok, qPrintable(report.log.join('\n')));
        qInfo("two-scan fit: N %g, x %.5f (truth 200, 0.6), agreement %g, %lld ms",
              report.rows[0].value, report.rows[1].value, report.agreementAfter, clock.elapsed());
        QVERIFY(std::fabs(report.rows[0].value - 200) <= 1.0);
        QVERIFY(std::fabs(report.rows[1].value - 0.6) <= 0.002);
    }

    // A half-relaxed In0.1Ga0.9As layer on GaAs: its (004) peak alone cannot tell composition
    // from relaxation, its (224) peak at grazing incidence sees the in-plane lattice as well.
    // Fitted from both, with noise, from starts on either side.
    void compositionAndRelaxationFromTwoReflections_data() {
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("from x 0.07, r 0.3") << QByteArray("LAYER 800 0.07 1\nRELAXATION 1 0.3\n");
        QTest::newRow("from x 0.13, r 0.75") << QByteArray("LAYER 800 0.13 1\nRELAXATION 1 0.75\n");
    }
    void compositionAndRelaxationFromTwoReflections() {
        QFETCH(QByteArray, start);
        const QByteArray head = "WAVELENGTH 1.5405929\nSUBSTRATE 0 1\n";
        const QByteArray tail = "REPEAT 1\nMODEL dynamical\n";
        const QString t =
            write("relaxed-truth.txt", head + "LAYER 800 0.1 1\nRELAXATION 1 0.5\n" + tail);
        Reflection r224;
        r224.h = r224.k = 2;
        r224.l = 4;
        Reflection r004;
        const QString s004 = synthesize(t, r004, 32.3, 33.3, 500, 1e5, "relaxed-004.txt", 21);
        const QString s224 = synthesize(t, r224, 40.9, 42.1, 600, 1e4, "relaxed-224.txt", 22);
        Config c;
        QVERIFY(c.load(
            write("relaxed-fit.txt", head + start + tail + "MEASURED " + s004.toUtf8() +
                                         "\nMEASURED " + s224.toUtf8() +
                                         " REFLECTION 2 2 4 GEOMETRY incidence\n"
                                         "FIT LAYER 1 X 0.05 0.15\nFIT LAYER 1 R 0.2 0.8\n")));
        QVERIFY2(c.valid && c.ext.problems.isEmpty(), qPrintable(c.ext.problems.join('\n')));
        const FitReport report = StructureFit(c, FitSettings()).run();
        QVERIFY2(report.ok, qPrintable(report.log.join('\n')));
        qInfo("relaxed layer from (004) + (224): x %.5f, r %.4f (truth 0.1, 0.5)",
              report.rows[0].value, report.rows[1].value);
        QVERIFY(std::fabs(report.rows[0].value - 0.1) <= 0.002);
        QVERIFY(std::fabs(report.rows[1].value - 0.5) <= 0.02);
    }
};

QTEST_MAIN(TestMultiScan)
#include "tst_multiscan.moc"
