// The seams of the model object: the factory, the FIT table read back through a fitted file,
// and a structure copied to another thread.
#include "simulation/calculation.h"
#include "simulation/model.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"
#include "structure/fitparameters.h"
#include "structure/fittargets.h"
#include "structure/fittedfile.h"

#include "tests/common/testfiles.h"
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

class TestModel : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes) {
        return xrdtest::writeTestFile(dir_, name, bytes);
    }

private slots:
    // The contract every model keeps, one row per kind the statement reader knows: it says
    // its own name, the digits its files carry and the unit of its curve (the basic model's
    // intensity is in arbitrary units, the realistic models give a reflectivity); its curve of
    // a small structure is finite; a structure beyond the limits is refused with a line
    // naming the file and the reason; and the height of a monolayer by hand: half the
    // perpendicular lattice constant of InAs strained to GaAs, a_perp = a + 2 C12 / C11
    // (a - a_S) with Vegard's lattice constants (GaAs 5.6535, InAs 6.0585 Å); the basic rule
    // takes 2 C12 / C11 = 1, the realistic models InAs's 2 x 45.4 / 83.4.
    void everyModel_data() {
        QTest::addColumn<QString>("word");
        QTest::addColumn<int>("digits");
        QTest::addColumn<int>("unit");
        QTest::addColumn<double>("inAsHeight");
        QTest::addColumn<QString>("text");
        const int arbitrary = int(IntensityUnit::Arbitrary);
        const int reflectivity = int(IntensityUnit::Reflectivity);
        QTest::newRow("basic") << "basic" << 6 << arbitrary << 3.23175 << "100 ML (32.32 nm)";
        QTest::newRow("kinematical")
            << "kinematical" << 10 << reflectivity << 3.2497175 << "100 ML (32.50 nm)";
        QTest::newRow("dynamical")
            << "dynamical" << 10 << reflectivity << 3.2497175 << "100 ML (32.50 nm)";
    }
    void everyModel() {
        QFETCH(QString, word);
        QFETCH(int, digits);
        QFETCH(int, unit);
        QFETCH(double, inAsHeight);
        QFETCH(QString, text);
        ModelKind kind = ModelKind::Basic;
        QVERIFY(modelKindOf(word, kind));
        const std::unique_ptr<Model> model = makeModel(kind);
        QVERIFY(model);
        QCOMPARE(model->name(), word);
        QCOMPARE(model->fileDigits(), digits);
        QCOMPARE(int(model->intensityUnit()), unit);

        Structure onGaAs;
        onGaAs.substrate.asFraction = 1;
        for (const auto& [x, height] : {std::pair(0.0, 2.82675), std::pair(1.0, inAsHeight)}) {
            const double h = model->monolayerHeight(onGaAs, x, 1.0);
            QVERIFY2(std::fabs(h - height) < 1e-5, qPrintable(QString::number(h, 'g', 10)));
        }
        QCOMPARE(thicknessText(100, model->monolayerHeight(onGaAs, 1.0, 1.0)), text);

        const QByteArray head = "MODEL " + word.toLatin1() + "\nWAVELENGTH 1.5406\nSUBSTRATE 1 0\n";
        Config c;
        QVERIFY(c.load(write(word + "-small.txt", head + "LAYER 40 0.53 1\nREPEAT 2\n")) &&
                c.valid);
        const Calculation small(c);
        QVERIFY2(small.refusal().isEmpty(), qPrintable(small.refusal()));
        ResultArrays r;
        QVERIFY(small.compute(r));
        QVERIFY(r.theta.size() > 100 && r.intensity.size() == r.theta.size());
        for (int i = 0; i < r.theta.size(); ++i)
            QVERIFY2(std::isfinite(r.theta[i]) && std::isfinite(r.intensity[i]) &&
                         r.intensity[i] >= 0,
                     qPrintable(QString::number(i)));

        const QString path =
            write(word + "-refused.txt", head + "LAYER 600000 0 1\nLAYER 600000 1 1\n");
        QVERIFY(c.load(path) && c.valid);
        QCOMPARE(Calculation(c).refusal(),
                 QStringLiteral("Refused [%1]: 1200000 monolayers in one period exceed the limit "
                                "of 1000000.")
                     .arg(path));
    }
    void unknownKindIsRefused() {
        const auto unknown = static_cast<ModelKind>(17);
        QVERIFY(!makeModel(unknown));
        Config c;
        QVERIFY(c.load(write("u.txt", "SUBSTRATE 1 0\nLAYER 10 0.5 1\n")) && c.valid);
        c.ext.model = unknown;
        const Calculation calculation(c);
        QVERIFY(!calculation.refusal().isEmpty());
        ResultArrays r;
        QVERIFY(!calculation.compute(r));
    }

    // Each FIT target goes through the whole road of its table entry: read by the grammar,
    // moved by applyFitValues, written into the fitted file and loaded back with the value
    // in the right place (a thickness as a whole number of monolayers).
    void fitTargetRoundTrip_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("readBack");
        QTest::newRow("LAYER 2 N") << "FIT LAYER 2 N 10 90" << 47.4 << 47.0;
        QTest::newRow("LAYER 2 X") << "FIT LAYER 2 X 0 1" << 0.4375 << 0.4375;
        QTest::newRow("LAYER 1 Y") << "FIT layer 1 y 0 1" << 0.8125 << 0.8125;
        QTest::newRow("OFFSET") << "FIT OFFSET -0.1 0.1" << -0.0125 << -0.0125;
        QTest::newRow("RESOLUTION") << "FIT RESOLUTION 0.001 0.01" << 0.0045 << 0.0045;
        QTest::newRow("SCALE") << "FIT SCALE 0.5 4" << 2.25 << 2.25;
        QTest::newRow("BACKGROUND") << "FIT BACKGROUND 0 9" << 3.5 << 3.5;
    }
    void fitTargetRoundTrip() {
        QFETCH(QString, line);
        QFETCH(double, value);
        QFETCH(double, readBack);
        const QByteArray text = "WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 20 0.53 1\n"
                                "LAYER 40 1 0\nREPEAT 3\nSCALE 1\nBACKGROUND 1\n" +
                                line.toUtf8() + "\n";
        Config c;
        QVERIFY(c.load(write("fit.txt", text)) && c.valid);
        QCOMPARE(c.ext.fits.size(), 1);
        QVERIFY2(fitProblem(c).isEmpty(), qPrintable(fitProblem(c)));
        const FitTarget& target = fitTarget(c.ext.fits[0].target);
        QCOMPARE(target.integer, line.contains(QLatin1String(" N ")));

        Structure moved;
        applyFitValues(c, {value}, moved);
        QVERIFY(moved.valid);
        QCOMPARE(fitStartValues(moved), std::vector<double>{readBack});

        const QString fitted =
            fittedStructureText(QString::fromUtf8(text), c, {{value, 0.1, false}}, 1.0, 0.5);
        QVERIFY(!fitted.isEmpty());
        Config again;
        QVERIFY(again.load(write("fitted.txt", fitted.toUtf8())) && again.valid);
        QCOMPARE(fitStartValues(again), std::vector<double>{readBack});
        QVERIFY2(fitted.contains(QStringLiteral("# fitted %1: ").arg(c.ext.fits[0].text)),
                 qPrintable(fitted));
    }

    // A copy of a loaded structure computes on another thread while the loader reads another
    // file, and gives the curve the original gave.
    void copiedStructureOnAnotherThread_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::newRow("basic") << QByteArray("basic");
        QTest::newRow("kinematical") << QByteArray("kinematical");
        QTest::newRow("dynamical") << QByteArray("dynamical");
    }
    void copiedStructureOnAnotherThread() {
        QFETCH(QByteArray, model);
        Config c;
        QVERIFY(c.load(write("a.txt", "WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 20 0.53 1\n"
                                      "LAYER 40 1 0\nREPEAT 5\nMODEL " +
                                          model + "\n")));
        ResultArrays before;
        QVERIFY(Calculation(c).compute(before));
        const Structure copy = c;
        ResultArrays onThread;
        bool ok = false;
        std::thread worker([&] { ok = Calculation(copy).compute(onThread); });
        QVERIFY(c.load(write("b.txt", "SUBSTRATE 0 1\nLAYER 3 0.2 1\nREPEAT 2\n")));
        worker.join();
        QVERIFY(ok);
        QVERIFY(!before.intensity.isEmpty());
        QCOMPARE(onThread.intensity, before.intensity);
        QCOMPARE(onThread.theta, before.theta);
        QCOMPARE(copy.fileName, QFileInfo(dir_.filePath("a.txt")).filePath());
    }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
