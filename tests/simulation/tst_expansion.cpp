#include "simulation/expansion.h"
#include "simulation/materials.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"

#include "tests/common/exact.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

Layer record(int n, double x, GradingShape endShape, double endWidth, double endX,
             GradingShape startShape, double startWidth, double startX) {
    Layer l;
    l.defined = true;
    l.monolayers = n;
    l.inFraction = x;
    l.asFraction = 1;
    l.endShape = endShape;
    l.endWidth = endWidth;
    l.endInFraction = endX;
    l.endAsFraction = 1;
    l.startShape = startShape;
    l.startWidth = startWidth;
    l.startInFraction = startX;
    l.startAsFraction = 1;
    return l;
}

// Config is a QObject and cannot be copied, so the structure is filled in place.
void fill(Config& c, const QVector<Layer>& layers, double xs = 0, double ys = 1) {
    c.substrate.defined = true;
    c.substrate.inFraction = xs;
    c.substrate.asFraction = ys;
    c.layers = layers;
    c.valid = true;
}

} // namespace

Q_DECLARE_METATYPE(Layer)

class TestExpansion : public QObject {
    Q_OBJECT

private slots:
    // In fraction of every monolayer of one record.
    void gradedValue_data() {
        QTest::addColumn<Layer>("layer");
        QTest::addColumn<QVector<double>>("expected");

        QTest::newRow("abrupt") << record(4, 0.5, Abrupt, 0, 0.1, Abrupt, 0, 0.1)
                                << QVector<double>{0.5, 0.5, 0.5, 0.5};
        // d = 4, 3, 2, 1 for the last four monolayers.
        QTest::newRow("linear end zone")
            << record(10, 0.5, Linear, 4, 0.1, Abrupt, 0, 0)
            << QVector<double>{0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.4, 0.3, 0.2};
        QTest::newRow("parabolic start zone")
            << record(10, 0.5, Abrupt, 0, 0, Parabolic, 2, 0.1)
            << QVector<double>{0.1, 0.4, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
        QTest::newRow("sine start zone") << record(4, 1.0, Abrupt, 0, 0, Sine, 2, 0.0)
                                         << QVector<double>{0.0, std::sin(M_PI / 4), 1.0, 1.0};
        QTest::newRow("parabolic end zone") << record(4, 1.0, Parabolic, 2, 0.0, Abrupt, 0, 0)
                                            << QVector<double>{1.0, 1.0, 1.0, 0.75};
        QTest::newRow("sine end zone") << record(3, 1.0, Sine, 2, 0.0, Abrupt, 0, 0)
                                       << QVector<double>{1.0, 1.0, std::sin(M_PI / 4)};
        // Both zones cover every monolayer: the start zone wins, even where it is abrupt.
        QTest::newRow("start zone wins")
            << record(3, 0.6, Linear, 3, 0.0, Linear, 3, 0.0) << QVector<double>{0.0, 0.2, 0.4};
        QTest::newRow("abrupt start zone wins over end zone")
            << record(2, 0.6, Linear, 2, 0.0, Abrupt, 2, 0.0) << QVector<double>{0.6, 0.6};
        QTest::newRow("unknown shape code is abrupt")
            << record(2, 0.6, GradingShape(7), 5, 0.0, Abrupt, 0, 0.0) << QVector<double>{0.6, 0.6};
        QTest::newRow("fractional widths") << record(4, 1.0, Linear, 1.5, 0.0, Linear, 1.5, 0.0)
                                           << QVector<double>{0.0, 1.0 / 1.5, 1.0, 1.0 / 1.5};
    }

    void gradedValue() {
        QFETCH(Layer, layer);
        QFETCH(QVector<double>, expected);
        QCOMPARE(expected.size(), layer.monolayers);
        for (int j = 0; j < layer.monolayers; ++j)
            XRD_COMPARE_CLOSE(::gradedValue(layer.inFraction, layer.endInFraction,
                                            layer.startInFraction, layer, j),
                              expected[j], 1e-15);
    }

    void uniformLayerProfile() {
        // Three monolayers of In0.2Ga0.8As on GaAs: depth 0, h, 2h, 3h by repeated addition.
        Config c;
        fill(c, {record(3, 0.2, Abrupt, 0, 0, Abrupt, 0, 0)});
        ResultArrays r;
        expandLayers(c, r);
        const double h = monolayerHeight(latticeConstant(0.2, 1), latticeConstant(0, 1));
        QCOMPARE(r.depth.size(), 4);
        XRD_COMPARE_EXACT(r.depth[0], 0.0);
        XRD_COMPARE_EXACT(r.depth[1], h);
        XRD_COMPARE_EXACT(r.depth[2], h + h);
        XRD_COMPARE_EXACT(r.depth[3], h + h + h);
        QCOMPARE(r.inProfile, QVector<double>(4, 0.2));
        QCOMPARE(r.asProfile, QVector<double>(4, 1.0));
    }

    void latticeMatchedHeight() {
        Config c;
        fill(c, {record(1, 0, Abrupt, 0, 0, Abrupt, 0, 0)});
        ResultArrays r;
        expandLayers(c, r);
        XRD_COMPARE_EXACT(r.depth.last(), 2.82675);
    }

    void closingEntryAndEmptyRecords() {
        // Records of zero or negative thickness add nothing; the closing entry repeats the
        // first monolayer of the first record, graded as monolayer 0.
        Config c;
        fill(c, {record(3, 0.5, Abrupt, 0, 0, Linear, 2, 0.1),
                 record(0, 0.9, Linear, 2, 0.3, Abrupt, 0, 0),
                 record(-4, 0.9, Abrupt, 0, 0, Abrupt, 0, 0),
                 record(2, 0.7, Abrupt, 0, 0, Abrupt, 0, 0)});
        ResultArrays r;
        expandLayers(c, r);
        QCOMPARE(r.depth.size(), 6);
        QCOMPARE(r.inProfile.size(), 6);
        QCOMPARE(r.asProfile.size(), 6);
        XRD_COMPARE_EXACT(r.inProfile.first(), 0.1);
        XRD_COMPARE_EXACT(r.inProfile.last(), r.inProfile.first());
        XRD_COMPARE_EXACT(r.asProfile.last(), r.asProfile.first());
        XRD_COMPARE_EXACT(r.inProfile[3], 0.7);
        QVERIFY(r.theta.isEmpty() && r.q.isEmpty() && r.intensity.isEmpty());
    }

    void emptyFirstRecordGivesNoNaN_data() {
        QTest::addColumn<int>("shape");
        QTest::newRow("linear") << int(Linear);
        QTest::newRow("parabolic") << int(Parabolic);
        QTest::newRow("sine") << int(Sine);
    }

    void emptyFirstRecordGivesNoNaN() {
        // The closing entry of a first record without monolayers has d = 0; a zero-width
        // end zone must not apply there (it would divide 0 by 0).
        QFETCH(int, shape);
        Config c;
        fill(c, {record(0, 0.5, GradingShape(shape), 0, 0.1, Abrupt, 0, 0),
                 record(2, 0.3, Abrupt, 0, 0, Abrupt, 0, 0)});
        ResultArrays r;
        expandLayers(c, r);
        QCOMPARE(r.depth.size(), 3);
        XRD_COMPARE_EXACT(r.inProfile.last(), 0.5);
        for (double v : r.inProfile + r.asProfile + r.depth)
            QVERIFY(std::isfinite(v));
    }

    void refillReplacesOldProfile() {
        ResultArrays r;
        Config thick;
        Config thin;
        fill(thick, {record(50, 0.2, Abrupt, 0, 0, Abrupt, 0, 0)});
        fill(thin, {record(2, 0.2, Abrupt, 0, 0, Abrupt, 0, 0)});
        expandLayers(thick, r);
        expandLayers(thin, r);
        QCOMPARE(r.depth.size(), 3);
    }

    void readFromFileExample() {
        // The expansion of a loaded file: period thickness of the worked superlattice.
        QTemporaryDir dir;
        const QString path = dir.filePath("s.txt");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("SUBSTRATE 1 0\nLAYER 20 0.53 1 L 2 1 0 L 2 1 0\nLAYER 40 1 0\n");
        f.close();
        Config c;
        QVERIFY(c.load(path));
        ResultArrays r;
        expandLayers(c, r);
        QCOMPARE(r.depth.size(), 61);
        // Monolayers 0, 1 graded from 0.765 (start) and 18, 19 towards 0.765 (end).
        XRD_COMPARE_EXACT(r.inProfile[0], 0.765);
        XRD_COMPARE_CLOSE(r.inProfile[1], 0.6475, 1e-15);
        XRD_COMPARE_EXACT(r.inProfile[2], 0.53);
        XRD_COMPARE_CLOSE(r.inProfile[19], 0.6475, 1e-15);
        XRD_COMPARE_EXACT(r.inProfile[20], 1.0);
        // InP monolayers on InP are aS / 2 high.
        XRD_COMPARE_CLOSE(r.depth[60] - r.depth[59], 5.869 / 2, 1e-12);
    }
};

QTEST_GUILESS_MAIN(TestExpansion)
#include "tst_expansion.moc"
