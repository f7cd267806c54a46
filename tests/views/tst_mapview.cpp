#include "plot/chcoord.h"
#include "views/mapview.h"

#include <QGuiApplication>
#include <QtTest>

#include <cmath>

// The map plot: the colour bar's range from the filled cells, the part of the cell image a
// zoomed frame shows (clipped to the frame and the grid), and the image as drawn.
class TestMapView : public QObject {
    Q_OBJECT

    // An nx × nz grid over 0..1 with the given cell values (NaN: empty).
    static MapGrid grid(int nx, int nz, const QVector<double>& values) {
        MapGrid g;
        g.nx = nx;
        g.nz = nz;
        g.x0 = g.z0 = 0;
        g.x1 = g.z1 = 1;
        g.sum = QVector<double>(nx * nz, 0);
        g.count = QVector<int>(nx * nz, 0);
        for (int c = 0; c < values.size(); ++c) {
            if (!std::isnan(values[c])) {
                g.sum[c] = 2 * values[c];
                g.count[c] = 2;
            }
        }
        return g;
    }

private slots:
    void range_data() {
        QTest::addColumn<QVector<double>>("values");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        const double e = std::nan("");
        QTest::newRow("zero and empty cells left out")
            << QVector<double>{0, 10, e, 1000} << 1.0 << 3.0;
        QTest::newRow("one positive value: a decade")
            << QVector<double>{e, 100, 0, e} << 1.0 << 2.0;
        QTest::newRow("nothing positive") << QVector<double>{0, 0, e, e} << 0.0 << 1.0;
    }

    void range() {
        QFETCH(QVector<double>, values);
        QFETCH(double, low);
        QFETCH(double, high);
        const ColourRange r = colourRange(grid(2, 2, values));
        QCOMPARE(r.low, low);
        QCOMPARE(r.high, high);
    }

    // Grid of 11 × 11 cells, 0.1 apart, spanning -0.05..1.05; a plot of 100 × 100 pixels
    // without margins.
    void clipping_data() {
        QTest::addColumn<QRectF>("scale"); // x0, z0 → x1, z1
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QRectF>("source");
        QTest::addColumn<QRectF>("target");
        QTest::newRow("whole grid, room around")
            << QRectF(QPointF(-0.45, -0.45), QPointF(1.55, 1.55)) << true << QRectF(0, 0, 11, 11)
            << QRectF(20, 25, 55, 55); // pixel y grows downward
        QTest::newRow("zoomed in")
            << QRectF(QPointF(0.25, 0.5), QPointF(0.45, 0.6)) << true
            << QRectF(QPointF(3, 4.5), QPointF(5, 5.5)) << QRectF(0, 0, 100, 100);
        QTest::newRow("beyond the grid")
            << QRectF(QPointF(2, 2), QPointF(3, 3)) << false << QRectF() << QRectF();
    }

    void clipping() {
        QFETCH(QRectF, scale);
        QFETCH(bool, visible);
        QFETCH(QRectF, source);
        QFETCH(QRectF, target);
        ChCoord coord;
        coord.marginLeft = coord.marginRight = coord.marginTop = coord.marginBottom = 0;
        coord.setArea(0, 100, 100, 0);
        coord.applyMargins();
        coord.setScale(scale.left(), scale.top(), scale.right(), scale.bottom());
        QRectF s, t;
        QCOMPARE(mapSourceRect(coord, grid(11, 11, {}), s, t), visible);
        if (!visible)
            return;
        const auto near = [](const QRectF& a, const QRectF& b) {
            return std::fabs(a.left() - b.left()) < 1e-9 && std::fabs(a.top() - b.top()) < 1e-9 &&
                   std::fabs(a.right() - b.right()) < 1e-9 &&
                   std::fabs(a.bottom() - b.bottom()) < 1e-9;
        };
        QVERIFY2(near(s, source), qPrintable(QStringLiteral("%1 %2 %3 %4")
                                                 .arg(s.left())
                                                 .arg(s.top())
                                                 .arg(s.right())
                                                 .arg(s.bottom())));
        QVERIFY2(near(t, target), qPrintable(QStringLiteral("%1 %2 %3 %4")
                                                 .arg(t.left())
                                                 .arg(t.top())
                                                 .arg(t.right())
                                                 .arg(t.bottom())));
    }

    // The cell image: the highest cell at the top of the colour bar, the lowest at its foot,
    // empty cells transparent; the rendered map shows the highest cell's colour.
    void picture() {
        MapPicture p;
        const double e = std::nan("");
        p.analysis.grid = grid(2, 2, {1, e, 10, 1000});
        p.prepare();
        QCOMPARE(p.cells.size(), QSize(2, 2));
        QCOMPARE(p.cells.pixel(0, 1), mapColour(0));       // (0, 0): value 1, lowest
        QCOMPARE(qAlpha(p.cells.pixel(1, 1)), 0);          // (1, 0): empty
        QCOMPARE(p.cells.pixel(1, 0), mapColour(1));       // (1, 1): 1000, highest
        QCOMPARE(p.cells.pixel(0, 0), mapColour(1.0 / 3)); // (0, 1): 10
        const QImage image = renderMap(p, QSize(300, 300));
        QCOMPARE(image.size(), QSize(300, 300));
        int highest = 0;
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 300; ++x)
                highest += image.pixel(x, y) == mapColour(1);
        QVERIFY(highest > 1000); // a quarter of the plot, and the top of the colour bar
        QVERIFY(renderMap(p, QSize()).isNull());
    }
};

QTEST_MAIN(TestMapView)
#include "tst_mapview.moc"
