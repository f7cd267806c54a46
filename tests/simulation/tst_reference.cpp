#include "simulation/calculation.h"
#include "simulation/materials.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"

#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

// The non-comment lines of a file in tests/data/golden, split at white space. Those files
// and the script that made them, make_golden.py, sit together there.
QVector<QStringList> goldenRows(const char* name) {
    QFile f(QStringLiteral(XRD_TEST_DATA_DIR "/golden/") + QLatin1String(name));
    QVector<QStringList> rows;
    if (f.open(QIODevice::ReadOnly | QIODevice::Text))
        for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')))
            if (!line.startsWith(QLatin1Char('#')) && !line.trimmed().isEmpty())
                rows.append(line.simplified().split(QLatin1Char(' ')));
    return rows;
}

QStringList fileLines(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly | QIODevice::Text)
               ? QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))
               : QStringList();
}

} // namespace

// The program's output against values computed without it: the result files of a bundled
// example against an independent literal sum in 40-digit arithmetic, and the scattering
// factors against the tabulated ones.
class TestReference : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QMap<QString, QStringList> files_; // "cmp" and "dif": the lines of the result files
    QMap<QString, int> counts_;        // line counts the reference expects

private slots:
    void initTestCase() {
        for (const QStringList& row : goldenRows("ingaas-inp-superlattice.txt"))
            if (row.size() == 2)
                counts_[row[0] == QLatin1String("points") ? "dif" : "cmp"] = row[1].toInt();
        QCOMPARE(counts_.size(), 2);
        QCOMPARE(goldenRows("scattering-factors.txt").size(), 4 * 11);
        Config config;
        QVERIFY(config.load(XRD_EXAMPLES_DIR "/ingaas-inp-superlattice.txt") && config.valid);
        ResultArrays results;
        // The number of curve points goes to the debug output, for the window's console;
        // the test fails if the message never comes.
        QTest::ignoreMessage(QtDebugMsg, QByteArray::number(counts_["dif"]).constData());
        CalculationHooks hooks;
        hooks.outputDir = dir_.path();
        const CalculationOutcome out = Calculation(config).run(results, hooks);
        files_["cmp"] = fileLines(out.profileFile);
        files_["dif"] = fileLines(out.curveFile);
    }

    void exampleResultFiles_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("line");
        QTest::addColumn<QStringList>("fields");
        for (const QStringList& row : goldenRows("ingaas-inp-superlattice.txt"))
            if (row.size() == 5)
                QTest::addRow("%s line %s", qPrintable(row[0]), qPrintable(row[1]))
                    << row[0] << row[1].toInt() << QStringList(row.mid(2));
    }

    void exampleResultFiles() {
        // Line n of the profile file (depth, In, As) or of the curve file (theta, intensity,
        // q), as text; "~value" marks an intensity too near a rounding boundary for that.
        QFETCH(QString, file);
        QFETCH(int, line);
        QFETCH(QStringList, fields);
        const QStringList& lines = files_[file];
        // Every line ends with a line end, so the split leaves one empty string at the end.
        QCOMPARE(lines.size(), counts_[file] + 1);
        QVERIFY(lines.last().isEmpty());
        const QStringList actual = lines.value(line).split(QLatin1Char('\t'));
        QCOMPARE(actual.size(), 3);
        for (int i = 0; i < 3; ++i) {
            if (fields[i].startsWith(QLatin1Char('~')))
                QVERIFY2(std::fabs(actual[i].toDouble() / fields[i].mid(1).toDouble() - 1) < 6e-6,
                         qPrintable(actual[i] + " vs " + fields[i]));
            else
                QCOMPARE(actual[i], fields[i]);
        }
    }

    void scatteringFactors_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<double>("s");
        QTest::addColumn<double>("tabulated");
        const QMap<QString, int> rows{{"P", RowP}, {"As", RowAs}, {"In", RowIn}, {"Ga", RowGa}};
        for (const QStringList& r : goldenRows("scattering-factors.txt"))
            QTest::addRow("%s s=%s", qPrintable(r[0]), qPrintable(r[1]))
                << rows.value(r[0], -1) << r[1].toDouble() << r[2].toDouble();
    }

    void scatteringFactors() {
        // f0(s) of the Waasmaier & Kirfel fits (Acta Cryst. A51 (1995) 416) to International
        // Tables Vol. C Table 6.1.1.1. The four-Gaussian fit the program uses stays within
        // 0.027 electrons of them up to s = 1/Å; a width b_k mistyped by 2 % or more shows
        // as a larger difference at one of these s for almost every such typo.
        QFETCH(int, row);
        QFETCH(double, s);
        QFETCH(double, tabulated);
        QVERIFY(row >= 0);
        QVERIFY2(std::fabs(scatteringFactor(row, s) - tabulated) < 0.03,
                 qPrintable(QString::number(scatteringFactor(row, s), 'f', 4)));
    }
};

QTEST_GUILESS_MAIN(TestReference)
#include "tst_reference.moc"
