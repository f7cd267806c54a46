#include "simulation/calculation.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"

#include "tests/common/testfiles.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestCalculation : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes) {
        return xrdtest::writeTestFile(dir_, name, bytes);
    }

    static int lineCount(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        return f.readAll().count('\n');
    }

private slots:
    void wholeSequence() {
        const QString path = write("sl.txt", "WAVELENGTH 1.5406\nSUBSTRATE 1 0\n"
                                             "LAYER 20 0.532 1 L 2 1 0 L 2 1 0\n"
                                             "LAYER 40 1 0\nREPEAT 10\n");
        Config c;
        QVERIFY(c.load(path) && c.valid);
        QVERIFY(Calculation(c).refusal().isEmpty());

        ResultArrays r;
        QStringList order;
        CalculationHooks hooks;
        hooks.profileReady = [&] {
            order << "profile";
            // The profile is complete, its file not yet written; the curve is not there.
            QCOMPARE(r.depth.size(), 61);
            QVERIFY(!QFile::exists(dir_.filePath("sl-cmp.txt")));
            QVERIFY(r.q.isEmpty());
        };
        hooks.curveReady = [&] {
            order << "curve";
            QVERIFY(QFile::exists(dir_.filePath("sl-cmp.txt")));
            QVERIFY(!QFile::exists(dir_.filePath("sl-dif.txt")));
            QVERIFY(!r.intensity.isEmpty());
        };
        const CalculationOutcome out = Calculation(c).run(r, hooks);
        QCOMPARE(order, (QStringList{"profile", "curve"}));
        QCOMPARE(out.profileFile, dir_.filePath("sl-cmp.txt"));
        QCOMPARE(out.curveFile, dir_.filePath("sl-dif.txt"));
        QVERIFY(out.profileWritten && out.curveWritten);
        QCOMPARE(lineCount(out.profileFile), 61);
        QCOMPARE(lineCount(out.curveFile), out.points);
        QCOMPARE(out.points, r.q.size());
        QCOMPARE(r.theta.size(), out.points);
        QCOMPARE(r.intensity.size(), out.points);
    }

    void emptyPeriodStillWritesBothFiles() {
        // Layers without monolayers: a period of 0 Å and no curve points, but both files.
        const QString path = write("empty.txt", "SUBSTRATE 1 0\nLAYER 0 1 0\n");
        Config c;
        QVERIFY(c.load(path) && c.valid);
        QVERIFY(Calculation(c).refusal().isEmpty());
        ResultArrays r;
        const CalculationOutcome out = Calculation(c).run(r);
        QCOMPARE(out.points, 0);
        QCOMPARE(lineCount(out.profileFile), 1);
        QCOMPARE(lineCount(out.curveFile), 0);
    }

    void outputDirectory() {
        const QString path = write("od.txt", "SUBSTRATE 0 1\nLAYER 5 0.1 1\n");
        QTemporaryDir out;
        Config c;
        QVERIFY(c.load(path));
        ResultArrays r;
        CalculationHooks hooks;
        hooks.outputDir = out.path();
        const CalculationOutcome o = Calculation(c).run(r, hooks);
        QCOMPARE(o.profileFile, QDir(out.path()).filePath("od-cmp.txt"));
        QVERIFY(QFile::exists(o.curveFile));
        QVERIFY(!QFile::exists(dir_.filePath("od-cmp.txt")));
    }

    void refusals_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("too many monolayers")
            << QByteArray("SUBSTRATE 1 0\nLAYER 2000000000 1 0\n") << "1000000";
        QTest::newRow("monolayers summed over layers")
            << QByteArray("SUBSTRATE 1 0\nLAYER 600000 1 0\nLAYER 600000 1 0\n") << "1200000";
        QTest::newRow("too many curve points")
            << QByteArray("WAVELENGTH 0.0001\nSUBSTRATE 1 0\nLAYER 20 1 0\n") << "5000000";
        QTest::newRow("negative period") << QByteArray("SUBSTRATE 1 0\nLAYER 3 -7 0\n") << "-1.2";
        QTest::newRow("NaN composition") << QByteArray("SUBSTRATE 1 0\nLAYER 3 nan 0\n") << "nan";
        QTest::newRow("infinite composition")
            << QByteArray("SUBSTRATE 1 0\nLAYER 3 1e999 0\n") << "Refused";
        QTest::newRow("NaN substrate") << QByteArray("SUBSTRATE nan 0\nLAYER 3 1 0\n") << "nan";
        QTest::newRow("huge but finite composition")
            << QByteArray("SUBSTRATE 1 0\nLAYER 3 1e300 1\n") << "curve points";
        QTest::newRow("costly graded stack")
            << QByteArray("SUBSTRATE 1 0\nLAYER 60000 1 0 A 0 0 0 L 60000 0 0\n") << "terms";
    }

    void refusals() {
        QFETCH(QByteArray, content);
        QFETCH(QString, mentions);
        const QString path = write("refused.txt", content);
        Config c;
        QVERIFY(c.load(path) && c.valid);
        const QString reason = Calculation(c).refusal();
        QVERIFY2(reason.startsWith(QString("Refused [%1]: ").arg(path)), qPrintable(reason));
        QVERIFY2(reason.contains(mentions), qPrintable(reason));
    }

    void tooManyLayerLines() {
        Config c;
        QVERIFY(c.load(write("many.txt", "SUBSTRATE 1 0\nLAYER 1 1 0\n")) && c.valid);
        c.ignoredLayers = 1; // as after more LAYER lines than the loader stores
        QVERIFY(Calculation(c).refusal().contains(QString::number(Config::maxLayers)));
    }

    void largestAcceptedStructures_data() {
        QTest::addColumn<QByteArray>("content");
        // Near each limit from below: accepted.
        QTest::newRow("laser-like stack") << QByteArray("SUBSTRATE 1 0\nLAYER 10000 1 0\n");
        QTest::newRow("graded buffer")
            << QByteArray("SUBSTRATE 0 1\nLAYER 10000 0.3 1 A 0 0 0 L 10000 0 1\n");
        QTest::newRow("million monolayers, long wavelength")
            << QByteArray("WAVELENGTH 20\nSUBSTRATE 1 0\nLAYER 1000000 1 0\n");
    }

    void largestAcceptedStructures() {
        QFETCH(QByteArray, content);
        Config c;
        QVERIFY(c.load(write("accepted.txt", content)) && c.valid);
        QVERIFY2(Calculation(c).refusal().isEmpty(), qPrintable(Calculation(c).refusal()));
    }
};

QTEST_GUILESS_MAIN(TestCalculation)
#include "tst_calculation.moc"
