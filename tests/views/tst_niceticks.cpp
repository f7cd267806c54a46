#include "views/niceticks.h"

#include "tests/common/exact.h"

#include <QtTest>

#include <cmath>
#include <limits>

// niceTicks: the step is 0.2, 0.5, 1 or 2 times the power of ten below the range width, the
// ticks are the multiples of the step inside the range, and ranges without a grid give NaN
// ticks so that a "v <= lastTick" loop never runs.
class TestNiceTicks : public QObject {
    Q_OBJECT
private slots:
    void ranges_data();
    void ranges();
    void noGrid_data();
    void noGrid();
    void ticksLieInsideTheRange_data();
    void ticksLieInsideTheRange();
};

void TestNiceTicks::ranges_data() {
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("last");
    QTest::newRow("-2..36") << -2.0 << 36.0 << 5.0 << 0.0 << 35.0;
    QTest::newRow("-1.2..5.3") << -1.2 << 5.3 << 1.0 << -1.0 << 5.0;
    QTest::newRow("0..1") << 0.0 << 1.0 << 0.2 << 0.0 << 1.0;
    // k = 1, 2: step 0.2 e; 3, 4: 0.5 e; 5..7: e; 8, 9: 2 e.
    QTest::newRow("width 2") << 0.0 << 2.0 << 0.2 << 0.0 << 2.0;
    QTest::newRow("width 3") << 0.0 << 3.0 << 0.5 << 0.0 << 3.0;
    QTest::newRow("width 4.9") << 0.1 << 5.0 << 0.5 << 0.5 << 5.0;
    QTest::newRow("width 7") << 10.0 << 17.0 << 1.0 << 10.0 << 17.0;
    QTest::newRow("width 8") << 0.0 << 8.0 << 2.0 << 0.0 << 8.0;
    QTest::newRow("width 95") << -5.0 << 90.0 << 20.0 << 0.0 << 80.0;
    QTest::newRow("log span") << -0.5 << 9.5 << 2.0 << 0.0 << 8.0;
    QTest::newRow("negative") << -36.0 << 2.0 << 5.0 << -35.0 << 0.0;
    QTest::newRow("tiny") << 1e-300 << 3e-300 << 2e-301 << 1e-300 << 3e-300;
}

// Steps and ticks are products of powers of ten and rounded quotients, so they are compared
// to 1e-12 relative; the step examples of the view are exact to that.
void TestNiceTicks::ranges() {
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(double, step);
    QFETCH(double, first);
    QFETCH(double, last);
    const TickRange t = niceTicks(low, high);
    XRD_COMPARE_CLOSE(t.tickStep, step, 1e-12);
    QVERIFY2(std::fabs(t.firstTick - first) <= 1e-9 * step,
             qPrintable(QString::number(t.firstTick, 'g', 17)));
    QVERIFY2(std::fabs(t.lastTick - last) <= 1e-9 * step,
             qPrintable(QString::number(t.lastTick, 'g', 17)));
}

void TestNiceTicks::noGrid_data() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double big = std::numeric_limits<double>::max();
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("empty") << 3.0 << 3.0;
    QTest::newRow("empty at 0") << 0.0 << 0.0;
    QTest::newRow("reversed") << 5.0 << 1.0;
    QTest::newRow("NaN low") << nan << 1.0;
    QTest::newRow("NaN high") << 0.0 << nan;
    QTest::newRow("infinite high") << 0.0 << inf;
    QTest::newRow("infinite both") << -inf << inf;
    QTest::newRow("width overflows") << -big << big;
    QTest::newRow("width below pow's range") << 0.0 << 5e-324;
}

void TestNiceTicks::noGrid() {
    QFETCH(double, low);
    QFETCH(double, high);
    const TickRange t = niceTicks(low, high);
    XRD_COMPARE_EXACT(t.tickStep, 0.0);
    QVERIFY(std::isnan(t.firstTick));
    QVERIFY(std::isnan(t.lastTick));
    QVERIFY(!(t.firstTick <= t.lastTick));
}

// Whatever the range, the first tick is the smallest multiple of the step not below low and
// the last the largest not above high; there are at most about 50 of them.
void TestNiceTicks::ticksLieInsideTheRange_data() {
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("degrees") << -2.0 << 62.3;
    QTest::newRow("just below a decade") << 0.0 << 9.999999;
    QTest::newRow("just a decade") << 0.0 << 10.0;
    QTest::newRow("zoomed") << 31.4159 << 31.4161;
    QTest::newRow("huge") << -3e250 << 7e250;
    QTest::newRow("far from zero") << 1e9 << 1e9 + 0.7;
    QTest::newRow("denormal") << 0.0 << 3e-310;
}

void TestNiceTicks::ticksLieInsideTheRange() {
    QFETCH(double, low);
    QFETCH(double, high);
    const TickRange t = niceTicks(low, high);
    QVERIFY(t.tickStep > 0);
    QVERIFY(t.firstTick >= low);
    QVERIFY(t.firstTick - t.tickStep < low);
    QVERIFY(t.lastTick <= high);
    QVERIFY(t.lastTick + t.tickStep > high);
    const double count = (t.lastTick - t.firstTick) / t.tickStep;
    QVERIFY2(count >= 0 && count <= 50, qPrintable(QString::number(count)));
}

QTEST_APPLESS_MAIN(TestNiceTicks)
#include "tst_niceticks.moc"
