#include "plot/chcoord.h"
#include "plot/dispa.h"
#include "plot/mousec.h"
#include "tests/common/exact.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QWheelEvent>
#include <QtTest>

#include <climits>
#include <cmath>
#include <limits>

namespace {

// The plot of a 600 x 400 display with the initial margins: x 60..570, y 360 (bottom)..20.
constexpr int kWidth = 600;
constexpr int kHeight = 400;

// Gives the display its size and the frame what a repaint and a view would give it: the
// area, the margins and a scale. Later repaints apply the margins again, as a view does.
void prepare(DispA& d, double x0, double y0, double x1, double y1, int w = kWidth,
             int h = kHeight) {
    d.resize(w, h);
    d.coord.setArea(0, h, w, 0);
    d.coord.applyMargins();
    d.coord.setScale(x0, y0, x1, y1);
    QObject::connect(&d, &DispA::drawImage1, &d.coord, [&d](QPainter*) { d.coord.applyMargins(); });
}

void sendMouse(QWidget* w, QEvent::Type type, QPointF pos, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QMouseEvent e(type, pos, pos, button, buttons, mods);
    QApplication::sendEvent(w, &e);
}

void move(QWidget* w, QPointF pos, Qt::KeyboardModifiers mods = Qt::NoModifier,
          Qt::MouseButtons buttons = Qt::NoButton) {
    sendMouse(w, QEvent::MouseMove, pos, Qt::NoButton, buttons, mods);
}

void press(QWidget* w, QPointF pos, Qt::MouseButton b, Qt::KeyboardModifiers mods = {}) {
    sendMouse(w, QEvent::MouseButtonPress, pos, b, b, mods);
}

void release(QWidget* w, QPointF pos, Qt::MouseButton b, Qt::KeyboardModifiers mods = {}) {
    sendMouse(w, QEvent::MouseButtonRelease, pos, b, Qt::NoButton, mods);
}

void wheel(QWidget* w, QPoint angle, Qt::KeyboardModifiers mods = Qt::NoModifier,
           Qt::MouseButtons buttons = Qt::NoButton) {
    // The event's own position is deliberately away from the recorded cursor: the zoom must
    // be anchored at the last recorded position.
    const QPointF pos(1, 1);
    QWheelEvent e(pos, pos, QPoint(), angle, buttons, mods, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

struct Scale {
    double x0, y0, x1, y1;
};

Scale scaleOf(const ChCoord& c) {
    return {c.scaleX0, c.scaleY0, c.scaleX1, c.scaleY1};
}

void compareScale(const ChCoord& c, const Scale& s) {
    XRD_COMPARE_EXACT(c.scaleX0, s.x0);
    XRD_COMPARE_EXACT(c.scaleY0, s.y0);
    XRD_COMPARE_EXACT(c.scaleX1, s.x1);
    XRD_COMPARE_EXACT(c.scaleY1, s.y1);
}

// Every scale a gesture leaves must be finite with nonzero extent on both axes, and the
// mappings must give finite pixels for it.
void verifyUsable(const ChCoord& c) {
    QVERIFY(std::isfinite(c.scaleX0) && std::isfinite(c.scaleX1));
    QVERIFY(std::isfinite(c.scaleY0) && std::isfinite(c.scaleY1));
    QVERIFY(std::isfinite(c.scaleX1 - c.scaleX0) && c.scaleX1 != c.scaleX0);
    QVERIFY(std::isfinite(c.scaleY1 - c.scaleY0) && c.scaleY1 != c.scaleY0);
    // Both ends of the range still map onto the edges of the plot rectangle.
    QVERIFY(std::fabs(c.toPixX(c.scaleX1) - c.plotX1) < 1e-3);
    QVERIFY(std::fabs(c.toPixY(c.scaleY1) - c.plotY1) < 1e-3);
    QVERIFY(std::isfinite(c.lenPixX(1.0)));
}

} // namespace

// Runs a checking helper and leaves the test function when it failed.
#define CHECK(...)                                                                                 \
    do {                                                                                           \
        __VA_ARGS__;                                                                               \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class TestChCoord : public QObject {
    Q_OBJECT
private slots:
    void relayRecordsPressAndRelease();
    void relayRoundsPositions();
    void relayEmitsAfterRecording();
    void doubleClickRecordsNothing();
    void wheelStep_data();
    void wheelStep();

    void connectMouse();
    void margins_data();
    void margins();
    void setAreaDropsMargins();
    void nowPosReportsData_data();
    void nowPosReportsData();
    void leftDragPans();
    void dragModifiers_data();
    void dragModifiers();
    void altMotionIsNotRecorded();
    void otherButtonsDoNotPan();
    void rubberBand_data();
    void rubberBand();
    void rubberBandIgnored_data();
    void rubberBandIgnored();
    void pressAndDoubleClickOnlyUpdate();
    void wheelRegions_data();
    void wheelRegions();
    void wheelOutAndInReturns();
    void manyWheelSteps_data();
    void manyWheelSteps();
    void hugePans_data();
    void hugePans();
    void clearedScaleMapsToMiddle();
    void zeroSizedPlotIgnoresGestures();
    void mappingsSaturate();
};

void TestChCoord::relayRecordsPressAndRelease() {
    DispA d;
    prepare(d, 0, 0, 10, 10);
    move(&d, QPointF(5, 5));
    QTest::mousePress(&d, Qt::LeftButton, Qt::ShiftModifier, QPoint(10, 20));
    QCOMPARE(d.mouse.prevX, 5);
    QCOMPARE(d.mouse.prevY, 5);
    QCOMPARE(d.mouse.curX, 10);
    QCOMPARE(d.mouse.curY, 20);
    QCOMPARE(d.mouse.pressX, 10);
    QCOMPARE(d.mouse.pressY, 20);
    QVERIFY(d.mouse.pressed);
    QCOMPARE(d.mouse.pressButton, int(Qt::LeftButton));
    QCOMPARE(d.mouse.pressModifiers, int(Qt::ShiftModifier));

    // The release records neither its button nor its modifiers.
    QTest::mouseRelease(&d, Qt::RightButton, Qt::ControlModifier, QPoint(30, 40));
    QCOMPARE(d.mouse.prevX, 10);
    QCOMPARE(d.mouse.prevY, 20);
    QCOMPARE(d.mouse.curX, 30);
    QCOMPARE(d.mouse.curY, 40);
    QCOMPARE(d.mouse.releaseX, 30);
    QCOMPARE(d.mouse.releaseY, 40);
    QCOMPARE(d.mouse.pressX, 10);
    QCOMPARE(d.mouse.pressY, 20);
    QVERIFY(!d.mouse.pressed);
    QCOMPARE(d.mouse.pressButton, int(Qt::LeftButton));
    QCOMPARE(d.mouse.pressModifiers, int(Qt::ShiftModifier));
}

void TestChCoord::relayRoundsPositions() {
    DispA d;
    prepare(d, 0, 0, 10, 10);
    move(&d, QPointF(10.5, -2.5));
    QCOMPARE(d.mouse.curX, 11);
    QCOMPARE(d.mouse.curY, -2);
    press(&d, QPointF(-3.5, 7.49), Qt::LeftButton);
    QCOMPARE(d.mouse.pressX, -3);
    QCOMPARE(d.mouse.pressY, 7);
    release(&d, QPointF(4.5, 8.51), Qt::LeftButton);
    QCOMPARE(d.mouse.releaseX, 5);
    QCOMPARE(d.mouse.releaseY, 9);
}

void TestChCoord::relayEmitsAfterRecording() {
    MouseC m;
    QVector<int> seen;
    QObject::connect(&m, &MouseC::mMoved, [&] { seen << m.curX << m.prevX; });
    QObject::connect(&m, &MouseC::mPressed, [&] { seen << m.pressX << int(m.pressed); });
    QObject::connect(&m, &MouseC::mReleased, [&] { seen << m.releaseX << int(m.pressed); });
    QMouseEvent mv(QEvent::MouseMove, QPointF(7, 1), QPointF(7, 1), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
    QMouseEvent pr(QEvent::MouseButtonPress, QPointF(8, 1), QPointF(8, 1), Qt::LeftButton,
                   Qt::LeftButton, Qt::NoModifier);
    QMouseEvent re(QEvent::MouseButtonRelease, QPointF(9, 1), QPointF(9, 1), Qt::LeftButton,
                   Qt::NoButton, Qt::NoModifier);
    m.relayMove(&mv);
    m.relayPress(&pr);
    m.relayRelease(&re);
    QCOMPARE(seen, (QVector<int>{7, 0, 8, 1, 9, 0}));
}

void TestChCoord::doubleClickRecordsNothing() {
    DispA d;
    prepare(d, 0, 0, 10, 10);
    move(&d, QPointF(3, 4));
    press(&d, QPointF(10, 20), Qt::RightButton, Qt::ControlModifier);
    release(&d, QPointF(30, 40), Qt::RightButton);
    const MouseC& m = d.mouse;
    const QVector<int> before{m.prevX,   m.prevY,       m.curX,          m.curY,
                              m.pressX,  m.pressY,      m.releaseX,      m.releaseY,
                              m.pressed, m.pressButton, m.pressModifiers};
    QSignalSpy spy(&d.mouse, &MouseC::mDClicked);
    sendMouse(&d, QEvent::MouseButtonDblClick, QPointF(100, 200), Qt::LeftButton, Qt::LeftButton,
              Qt::AltModifier);
    QCOMPARE(spy.count(), 1);
    const QVector<int> after{m.prevX,   m.prevY,       m.curX,          m.curY,
                             m.pressX,  m.pressY,      m.releaseX,      m.releaseY,
                             m.pressed, m.pressButton, m.pressModifiers};
    QCOMPARE(after, before);
}

void TestChCoord::wheelStep_data() {
    QTest::addColumn<QPoint>("angle");
    QTest::addColumn<int>("step");
    QTest::newRow("one notch") << QPoint(0, 120) << 1;
    QTest::newRow("one notch back") << QPoint(0, -120) << -1;
    QTest::newRow("119") << QPoint(0, 119) << 0;
    QTest::newRow("-60") << QPoint(0, -60) << 0;
    QTest::newRow("0") << QPoint(0, 0) << 0;
    QTest::newRow("-121") << QPoint(0, -121) << -1;
    QTest::newRow("240") << QPoint(0, 240) << 2;
    QTest::newRow("-359") << QPoint(0, -359) << -2;
    QTest::newRow("horizontal wheel") << QPoint(-240, 0) << -2;
    QTest::newRow("x larger") << QPoint(130, -120) << 1;
    QTest::newRow("y larger") << QPoint(60, -130) << -1;
    QTest::newRow("tie takes y") << QPoint(-240, 240) << 2;
    QTest::newRow("extreme") << QPoint(0, INT_MIN) << int(INT_MIN * 0.125 / 15.0);
}

void TestChCoord::wheelStep() {
    QFETCH(QPoint, angle);
    QFETCH(int, step);
    DispA d;
    prepare(d, 0, 0, 10, 10);
    QSignalSpy spy(&d.mouse, &MouseC::wheelMoved);
    wheel(&d, angle);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), step);
}

void TestChCoord::connectMouse() {
    ChCoord c;
    MouseC m;
    QVERIFY(c.connectMouse(&m));
    QCOMPARE(c.mouse, &m);
    // The five connections reach the slots: a wheel turn of the relay zooms the frame.
    c.setArea(0, 400, 600, 0);
    c.setScale(0, 0, 10, 10);
    QSignalSpy updated(&c, &ChCoord::updated);
    emit m.mMoved();
    emit m.mPressed();
    emit m.mReleased();
    emit m.mDClicked();
    emit m.wheelMoved(1);
    QCOMPARE(updated.count(), 5);
    QVERIFY(c.scaleX1 - c.scaleX0 < 10);

    // The display made its own connections in its constructor.
    DispA d;
    QCOMPARE(d.coord.mouse, &d.mouse);

    // Without a relay no connection can be made, and the result says so.
    ChCoord lone;
    for (int i = 0; i < 5; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("QObject::connect"));
    QVERIFY(!lone.connectMouse(nullptr));
}

void TestChCoord::margins_data() {
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<double>("top");
    QTest::addColumn<double>("bottom");
    QTest::addColumn<double>("left");
    QTest::addColumn<double>("right");
    QTest::addColumn<double>("plotX0");
    QTest::addColumn<double>("plotX1");
    QTest::addColumn<double>("plotY0");
    QTest::addColumn<double>("plotY1");
    QTest::newRow("600x400") << 600.0 << 400.0 << 0.05 << 0.1 << 0.1 << 0.05 << 60.0 << 570.0
                             << 360.0 << 20.0;
    QTest::newRow("KSpace margins")
        << 600.0 << 400.0 << 0.02 << 0.05 << 0.1 << 0.05 << 60.0 << 570.0 << 380.0 << 8.0;
    QTest::newRow("width 333") << 333.0 << 400.0 << 0.05 << 0.1 << 0.1 << 0.05 << 33.0 << 317.0
                               << 360.0 << 20.0;
    QTest::newRow("height 199") << 600.0 << 199.0 << 0.05 << 0.1 << 0.1 << 0.05 << 60.0 << 570.0
                                << 180.0 << 9.0;
    // A product beyond the 32-bit range saturates instead of being converted.
    QTest::newRow("huge area") << 1e12 << 400.0 << 0.05 << 0.1 << 0.1 << 0.05 << double(INT_MAX)
                               << 1e12 - INT_MAX << 360.0 << 20.0;
    QTest::newRow("NaN margin") << 600.0 << 400.0 << 0.05 << 0.1 << qQNaN() << 0.05 << 0.0 << 570.0
                                << 360.0 << 20.0;
    QTest::newRow("infinite margin") << 600.0 << 400.0 << 0.05 << 0.1 << 0.1 << -qInf() << 60.0
                                     << 600.0 - INT_MIN << 360.0 << 20.0;
}

void TestChCoord::margins() {
    QFETCH(double, width);
    QFETCH(double, height);
    ChCoord c;
    QFETCH(double, top);
    QFETCH(double, bottom);
    QFETCH(double, left);
    QFETCH(double, right);
    c.marginTop = top;
    c.marginBottom = bottom;
    c.marginLeft = left;
    c.marginRight = right;
    c.setArea(0, height, width, 0);
    c.applyMargins();
    QTEST(c.plotX0, "plotX0");
    QTEST(c.plotX1, "plotX1");
    QTEST(c.plotY0, "plotY0");
    QTEST(c.plotY1, "plotY1");
    QCOMPARE(c.winX0, 0.0);
    QCOMPARE(c.winX1, width);
    QCOMPARE(c.winY0, height);
    QCOMPARE(c.winY1, 0.0);
}

void TestChCoord::setAreaDropsMargins() {
    ChCoord c;
    c.setArea(5, 400, 605, 0);
    c.applyMargins();
    QCOMPARE(c.plotX0, 65.0);
    c.setArea(5, 400, 605, 0);
    QCOMPARE(c.plotX0, 5.0);
    QCOMPARE(c.plotX1, 605.0);
    QCOMPARE(c.plotY0, 400.0);
    QCOMPARE(c.plotY1, 0.0);
}

void TestChCoord::nowPosReportsData_data() {
    QTest::addColumn<QPointF>("pos");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::newRow("lower left corner") << QPointF(60, 360) << 0.0 << 0.0;
    QTest::newRow("upper right corner") << QPointF(570, 20) << 10.0 << 20.0;
    QTest::newRow("inside") << QPointF(111, 190) << 1.0 << 10.0;
    QTest::newRow("extrapolated") << QPointF(9, 394) << -1.0 << -2.0;
}

void TestChCoord::nowPosReportsData() {
    QFETCH(QPointF, pos);
    DispA d;
    prepare(d, 0, 0, 10, 20);
    QSignalSpy spy(&d.coord, &ChCoord::nowPos);
    move(&d, pos);
    QCOMPARE(spy.count(), 1);
    QFETCH(double, x);
    QFETCH(double, y);
    XRD_COMPARE_CLOSE(spy.at(0).at(0).toDouble(), x, 1e-12);
    XRD_COMPARE_CLOSE(spy.at(0).at(1).toDouble(), y, 1e-12);
}

void TestChCoord::leftDragPans() {
    DispA d;
    prepare(d, 0, 0, 10, 10);
    QSignalSpy updated(&d.coord, &ChCoord::updated);
    QTest::mousePress(&d, Qt::LeftButton, Qt::NoModifier, QPoint(300, 200));
    move(&d, QPointF(351, 200), Qt::NoModifier, Qt::LeftButton);
    XRD_COMPARE_CLOSE(d.coord.scaleX0, -1.0, 1e-12);
    XRD_COMPARE_CLOSE(d.coord.scaleX1, 9.0, 1e-12);
    XRD_COMPARE_EXACT(d.coord.scaleY0, 0.0);
    XRD_COMPARE_EXACT(d.coord.scaleY1, 10.0);
    // 34 pixels down over the 340-pixel-high plot: the data point follows the hand, so the
    // range moves up by one.
    move(&d, QPointF(351, 234), Qt::NoModifier, Qt::LeftButton);
    XRD_COMPARE_CLOSE(d.coord.scaleY0, 1.0, 1e-12);
    XRD_COMPARE_CLOSE(d.coord.scaleY1, 11.0, 1e-12);
    XRD_COMPARE_CLOSE(d.coord.scaleX0, -1.0, 1e-12);
    QTest::mouseRelease(&d, Qt::LeftButton, Qt::NoModifier, QPoint(351, 234));
    // After the release the motion no longer pans.
    const Scale s = scaleOf(d.coord);
    move(&d, QPointF(100, 100));
    CHECK(compareScale(d.coord, s));
    QCOMPARE(updated.count(), 5);
}

void TestChCoord::dragModifiers_data() {
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("pans");
    QTest::newRow("none") << int(Qt::NoModifier) << true;
    QTest::newRow("Shift") << int(Qt::ShiftModifier) << false;
    QTest::newRow("Control") << int(Qt::ControlModifier) << false;
    QTest::newRow("Alt") << int(Qt::AltModifier) << false;
    QTest::newRow("Control+Meta") << int(Qt::ControlModifier | Qt::MetaModifier) << false;
    QTest::newRow("Meta") << int(Qt::MetaModifier) << true;
    QTest::newRow("Keypad") << int(Qt::KeypadModifier) << true;
}

// The modifiers held at the press decide; the motions themselves carry none, since the
// display drops every motion with Alt held.
void TestChCoord::dragModifiers() {
    QFETCH(int, modifiers);
    QFETCH(bool, pans);
    DispA d;
    prepare(d, 0, 0, 10, 10);
    QSignalSpy nowPos(&d.coord, &ChCoord::nowPos);
    QSignalSpy updated(&d.coord, &ChCoord::updated);
    QTest::mousePress(&d, Qt::LeftButton, Qt::KeyboardModifiers(modifiers), QPoint(300, 200));
    move(&d, QPointF(351, 200), Qt::NoModifier, Qt::LeftButton);
    move(&d, QPointF(402, 200), Qt::NoModifier, Qt::LeftButton);
    QCOMPARE(nowPos.count(), 2);
    QCOMPARE(updated.count(), 3);
    if (pans) {
        XRD_COMPARE_CLOSE(d.coord.scaleX0, -2.0, 1e-12);
        XRD_COMPARE_CLOSE(d.coord.scaleX1, 8.0, 1e-12);
    } else {
        CHECK(compareScale(d.coord, {0, 0, 10, 10}));
    }
}

// Motion with Alt held is dropped by the display, so the next plain motion pans by its
// distance from the last motion recorded before.
void TestChCoord::altMotionIsNotRecorded() {
    DispA d;
    prepare(d, 0, 0, 10, 10);
    QTest::mousePress(&d, Qt::LeftButton, Qt::NoModifier, QPoint(300, 200));
    QSignalSpy nowPos(&d.coord, &ChCoord::nowPos);
    move(&d, QPointF(400, 150), Qt::AltModifier, Qt::LeftButton);
    QCOMPARE(nowPos.count(), 0);
    QCOMPARE(d.mouse.curX, 300);
    CHECK(compareScale(d.coord, {0, 0, 10, 10}));
    move(&d, QPointF(351, 200), Qt::NoModifier, Qt::LeftButton);
    QCOMPARE(d.mouse.prevX, 300);
    XRD_COMPARE_CLOSE(d.coord.scaleX0, -1.0, 1e-12);
    XRD_COMPARE_EXACT(d.coord.scaleY0, 0.0);
}

void TestChCoord::otherButtonsDoNotPan() {
    for (const Qt::MouseButton b : {Qt::RightButton, Qt::MiddleButton}) {
        DispA d;
        prepare(d, 0, 0, 10, 10);
        QTest::mousePress(&d, b, Qt::NoModifier, QPoint(300, 200));
        move(&d, QPointF(351, 250), Qt::NoModifier, b);
        CHECK(compareScale(d.coord, {0, 0, 10, 10}));
        if (b == Qt::MiddleButton) {
            QTest::mouseRelease(&d, b, Qt::NoModifier, QPoint(351, 250));
            CHECK(compareScale(d.coord, {0, 0, 10, 10}));
        }
    }
}

void TestChCoord::rubberBand_data() {
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<double>("y0");
    QTest::addColumn<double>("y1");
    // Pixel x 111 and 519 are data 1 and 9; pixel y 54 and 326 are data 9 and 1.
    QTest::newRow("upper left to lower right") << QPoint(111, 54) << QPoint(519, 326) << 1.0 << 9.0;
    QTest::newRow("lower right to upper left") << QPoint(519, 326) << QPoint(111, 54) << 1.0 << 9.0;
    QTest::newRow("lower left to upper right") << QPoint(111, 326) << QPoint(519, 54) << 9.0 << 1.0;
    QTest::newRow("upper right to lower left") << QPoint(519, 54) << QPoint(111, 326) << 9.0 << 1.0;
}

void TestChCoord::rubberBand() {
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    DispA d;
    prepare(d, 0, 0, 10, 10);
    QSignalSpy updated(&d.coord, &ChCoord::updated);
    QTest::mousePress(&d, Qt::RightButton, Qt::NoModifier, from);
    move(&d, QPointF(to + QPoint(3, 3)), Qt::NoModifier, Qt::RightButton);
    QTest::mouseRelease(&d, Qt::RightButton, Qt::NoModifier, to);
    QCOMPARE(updated.count(), 3);
    XRD_COMPARE_CLOSE(d.coord.scaleX0, 1.0, 1e-12);
    XRD_COMPARE_CLOSE(d.coord.scaleX1, 9.0, 1e-12);
    QFETCH(double, y0);
    QFETCH(double, y1);
    XRD_COMPARE_CLOSE(d.coord.scaleY0, y0, 1e-12);
    XRD_COMPARE_CLOSE(d.coord.scaleY1, y1, 1e-12);
}

void TestChCoord::rubberBandIgnored_data() {
    QTest::addColumn<int>("pressButton");
    QTest::addColumn<int>("releaseButton");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    const QPoint a(111, 54);
    const QPoint b(519, 326);
    const int right = Qt::RightButton;
    QTest::newRow("right click") << right << right << 0 << a << a;
    QTest::newRow("same x") << right << right << 0 << a << QPoint(111, 326);
    QTest::newRow("same y") << right << right << 0 << a << QPoint(519, 54);
    QTest::newRow("Shift") << right << right << int(Qt::ShiftModifier) << a << b;
    QTest::newRow("Control") << right << right << int(Qt::ControlModifier) << a << b;
    QTest::newRow("Alt") << right << right << int(Qt::AltModifier) << a << b;
    QTest::newRow("left press, right release") << int(Qt::LeftButton) << right << 0 << a << a;
    QTest::newRow("left press, right release, moved")
        << int(Qt::LeftButton) << right << 0 << b << b;
    QTest::newRow("middle") << int(Qt::MiddleButton) << int(Qt::MiddleButton) << 0 << a << b;
}

// None of these zooms; updated() is still emitted by the release.
void TestChCoord::rubberBandIgnored() {
    QFETCH(int, pressButton);
    QFETCH(int, releaseButton);
    QFETCH(int, modifiers);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    DispA d;
    prepare(d, 0, 0, 10, 10);
    QSignalSpy updated(&d.coord, &ChCoord::updated);
    press(&d, from, Qt::MouseButton(pressButton), Qt::KeyboardModifiers(modifiers));
    // The press position stays recorded; the release point differs by its own position only.
    release(&d, to, Qt::MouseButton(releaseButton));
    QCOMPARE(updated.count(), 2);
    CHECK(compareScale(d.coord, {0, 0, 10, 10}));
}

void TestChCoord::pressAndDoubleClickOnlyUpdate() {
    DispA d;
    prepare(d, 0, 0, 10, 10);
    QSignalSpy updated(&d.coord, &ChCoord::updated);
    QSignalSpy nowPos(&d.coord, &ChCoord::nowPos);
    press(&d, QPointF(200, 200), Qt::LeftButton);
    sendMouse(&d, QEvent::MouseButtonDblClick, QPointF(200, 200), Qt::LeftButton, Qt::LeftButton);
    sendMouse(&d, QEvent::MouseButtonDblClick, QPointF(250, 100), Qt::RightButton, Qt::RightButton);
    QCOMPARE(updated.count(), 3);
    QCOMPARE(nowPos.count(), 0);
    CHECK(compareScale(d.coord, {0, 0, 10, 10}));
    QSignalSpy newVLines(&d.coord, &ChCoord::newVLines);
    d.coord.clearScale();
    QCOMPARE(updated.count(), 3);
    QCOMPARE(newVLines.count(), 0);
}

void TestChCoord::wheelRegions_data() {
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<int>("delta");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("zoomX");
    QTest::addColumn<bool>("zoomY");
    // Edge bands: x < 111 or x > 519, y < 54 or y > 326.
    const int none = Qt::NoModifier;
    QTest::newRow("middle, in") << QPoint(300, 200) << 120 << none << true << true;
    QTest::newRow("middle, out") << QPoint(300, 200) << -120 << none << true << true;
    QTest::newRow("middle, step 0") << QPoint(300, 200) << 60 << none << true << true;
    QTest::newRow("left margin, out") << QPoint(30, 200) << -120 << none << false << true;
    QTest::newRow("left band") << QPoint(110, 200) << 120 << none << false << true;
    QTest::newRow("right band") << QPoint(520, 200) << 120 << none << false << true;
    QTest::newRow("bottom margin") << QPoint(300, 390) << 120 << none << true << false;
    QTest::newRow("top band") << QPoint(300, 53) << -240 << none << true << false;
    QTest::newRow("lower left corner") << QPoint(30, 390) << 120 << none << true << true;
    QTest::newRow("upper right corner") << QPoint(590, 10) << -120 << none << true << true;
    QTest::newRow("just inside") << QPoint(111, 54) << 120 << none << true << true;
    QTest::newRow("with Control") << QPoint(300, 200) << 120 << int(Qt::ControlModifier) << true
                                  << true;
}

void TestChCoord::wheelRegions() {
    QFETCH(QPoint, cursor);
    QFETCH(int, delta);
    QFETCH(int, modifiers);
    QFETCH(bool, zoomX);
    QFETCH(bool, zoomY);
    DispA d;
    prepare(d, 0, 0, 10, 10);
    QSignalSpy nowPos(&d.coord, &ChCoord::nowPos);
    move(&d, cursor);
    QCOMPARE(nowPos.count(), 1);
    const double anchorX = nowPos.at(0).at(0).toDouble();
    const double anchorY = nowPos.at(0).at(1).toDouble();
    QSignalSpy updated(&d.coord, &ChCoord::updated);
    wheel(&d, QPoint(0, delta), Qt::KeyboardModifiers(modifiers), Qt::LeftButton);
    QCOMPARE(updated.count(), 1);
    const double f = delta * 0.125 / 15 <= -1 ? 1.1 : 1 / 1.1;
    if (zoomX) {
        XRD_COMPARE_CLOSE(d.coord.scaleX1 - d.coord.scaleX0, 10 * f, 1e-12);
        XRD_COMPARE_CLOSE(d.coord.toPixX(anchorX), double(cursor.x()), 1e-12);
    } else {
        XRD_COMPARE_EXACT(d.coord.scaleX0, 0.0);
        XRD_COMPARE_EXACT(d.coord.scaleX1, 10.0);
    }
    if (zoomY) {
        XRD_COMPARE_CLOSE(d.coord.scaleY1 - d.coord.scaleY0, 10 * f, 1e-12);
        XRD_COMPARE_CLOSE(d.coord.toPixY(anchorY), double(cursor.y()), 1e-12);
    } else {
        XRD_COMPARE_EXACT(d.coord.scaleY0, 0.0);
        XRD_COMPARE_EXACT(d.coord.scaleY1, 10.0);
    }
}

void TestChCoord::wheelOutAndInReturns() {
    DispA d;
    prepare(d, -3, 2, 7, 5);
    move(&d, QPointF(200, 300));
    wheel(&d, QPoint(0, -120));
    wheel(&d, QPoint(0, 120));
    XRD_COMPARE_CLOSE(d.coord.scaleX0, -3.0, 1e-14);
    XRD_COMPARE_CLOSE(d.coord.scaleX1, 7.0, 1e-14);
    XRD_COMPARE_CLOSE(d.coord.scaleY0, 2.0, 1e-14);
    XRD_COMPARE_CLOSE(d.coord.scaleY1, 5.0, 1e-14);
}

void TestChCoord::manyWheelSteps_data() {
    QTest::addColumn<double>("x0");
    QTest::addColumn<double>("x1");
    QTest::addColumn<QPoint>("cursor");
    QTest::newRow("0..10, middle") << 0.0 << 10.0 << QPoint(300, 200);
    QTest::newRow("about the origin") << -5.0 << 5.0 << QPoint(315, 190);
    QTest::newRow("large offset") << 1e8 << 1e8 + 10 << QPoint(300, 200);
    QTest::newRow("tiny values") << 1e-200 << 3e-200 << QPoint(400, 100);
    QTest::newRow("huge values") << -1e200 << 1e200 << QPoint(200, 300);
    QTest::newRow("inverted") << 10.0 << -10.0 << QPoint(300, 200);
    QTest::newRow("outside the widget") << 0.0 << 10.0 << QPoint(-200000, 900000);
}

// Thousands of steps in either direction always leave a usable scale; the zoom stops at
// the limits instead of collapsing the range or overflowing, and can be undone from there.
void TestChCoord::manyWheelSteps() {
    QFETCH(double, x0);
    QFETCH(double, x1);
    QFETCH(QPoint, cursor);
    DispA d;
    prepare(d, x0, x0, x1, x1);
    move(&d, cursor);
    for (const int delta : {120, -120, 120}) {
        // Step until the scale no longer changes: some thousand steps take any start to a
        // limit (1.1^20000 spans 800 decades).
        int steps = 0;
        bool stopped = false;
        while (!stopped && steps < 20000) {
            const Scale s = scaleOf(d.coord);
            wheel(&d, QPoint(0, delta));
            ++steps;
            const Scale t = scaleOf(d.coord);
            stopped = t.x0 == s.x0 && t.x1 == s.x1 && t.y0 == s.y0 && t.y1 == s.y1;
            if (steps % 250 == 0 || stopped)
                CHECK(verifyUsable(d.coord));
        }
        QVERIFY2(stopped,
                 qPrintable(QString("delta %1: no limit after %2 steps").arg(delta).arg(steps)));
        QVERIFY(steps > 50);
        // A step back changes the scale again.
        const Scale limit = scaleOf(d.coord);
        wheel(&d, QPoint(0, -delta));
        QVERIFY(d.coord.scaleX1 - d.coord.scaleX0 != limit.x1 - limit.x0);
        QVERIFY(d.coord.scaleY1 - d.coord.scaleY0 != limit.y1 - limit.y0);
        CHECK(verifyUsable(d.coord));
    }
}

void TestChCoord::hugePans_data() {
    QTest::addColumn<double>("s0");
    QTest::addColumn<double>("s1");
    QTest::addColumn<int>("dragPixels");
    QTest::addColumn<int>("drags");
    QTest::addColumn<int>("backPixels"); // a drag that must still pan afterwards, 0 for none
    QTest::newRow("0..1, far") << 0.0 << 1.0 << 2000000000 << 500 << -50;
    QTest::newRow("at the resolution limit") << 1.99e12 << 1.99e12 + 2 << -2000000000 << 2000 << 50;
    QTest::newRow("huge range, far") << -1e249 << 1e249 << 2000000000 << 50 << 50;
    QTest::newRow("near overflow, outward") << 1e307 << 1.5e307 << -51 << 50 << 50;
    QTest::newRow("near overflow, far") << 1e307 << 1.5e307 << 2000000000 << 50 << 50;
    // Panning across zero until the range is centred there; beyond that the magnitude of
    // an already huge range may not grow, so it stays.
    QTest::newRow("near overflow, inward") << 1e307 << 1.5e307 << 51 << 50 << 0;
}

// Drags far beyond the widget (pixel positions up to a billion) or of ranges near the limits
// of double never leave a non-finite scale or one of zero extent.
void TestChCoord::hugePans() {
    QFETCH(double, s0);
    QFETCH(double, s1);
    QFETCH(int, dragPixels);
    QFETCH(int, drags);
    QFETCH(int, backPixels);
    DispA d;
    prepare(d, s0, s0, s1, s1);
    const bool far = std::abs(dragPixels) > 1000;
    const double from = far ? (dragPixels > 0 ? -1e9 : 1e9) : 300.0 - dragPixels;
    const double to = from + dragPixels;
    for (int i = 0; i < drags; ++i) {
        move(&d, QPointF(from, from));
        press(&d, QPointF(from, from), Qt::LeftButton);
        move(&d, QPointF(to, to), Qt::NoModifier, Qt::LeftButton);
        release(&d, QPointF(to, to), Qt::LeftButton);
        CHECK(verifyUsable(d.coord));
    }
    if (backPixels != 0) {
        const Scale s = scaleOf(d.coord);
        press(&d, QPointF(300, 200), Qt::LeftButton);
        move(&d, QPointF(300 + backPixels, 200), Qt::NoModifier, Qt::LeftButton);
        QVERIFY(d.coord.scaleX0 != s.x0);
        CHECK(verifyUsable(d.coord));
    }
}

// After clearScale the scale has no extent: the mappings put everything in the middle of the
// plot rectangle and every gesture leaves the scale as it is.
void TestChCoord::clearedScaleMapsToMiddle() {
    DispA d;
    prepare(d, 0, 0, 10, 10);
    QSignalSpy updated(&d.coord, &ChCoord::updated);
    d.coord.clearScale();
    QCOMPARE(updated.count(), 0);
    CHECK(compareScale(d.coord, {0, 0, 0, 0}));
    XRD_COMPARE_EXACT(d.coord.toPixX(3), 315.0);
    XRD_COMPARE_EXACT(d.coord.toPixY(-7), 190.0);
    XRD_COMPARE_EXACT(d.coord.lenPixX(5), 0.0);
    QSignalSpy nowPos(&d.coord, &ChCoord::nowPos);
    move(&d, QPointF(100, 100));
    press(&d, QPointF(100, 100), Qt::LeftButton);
    move(&d, QPointF(200, 300), Qt::NoModifier, Qt::LeftButton);
    release(&d, QPointF(200, 300), Qt::LeftButton);
    press(&d, QPointF(100, 100), Qt::RightButton);
    release(&d, QPointF(300, 300), Qt::RightButton);
    wheel(&d, QPoint(0, 120));
    wheel(&d, QPoint(0, -120));
    CHECK(compareScale(d.coord, {0, 0, 0, 0}));
    QCOMPARE(nowPos.count(), 2);
    for (const QList<QVariant>& args : nowPos) {
        XRD_COMPARE_EXACT(args.at(0).toDouble(), 0.0);
        XRD_COMPARE_EXACT(args.at(1).toDouble(), 0.0);
    }
}

// A widget of size 0 gives a plot rectangle without extent: mappings stay finite and the
// mouse changes nothing.
void TestChCoord::zeroSizedPlotIgnoresGestures() {
    DispA d;
    prepare(d, 0, 2, 10, 4, 0, 0);
    QCOMPARE(d.coord.plotX1, d.coord.plotX0);
    XRD_COMPARE_EXACT(d.coord.toPixX(1e300), 0.0);
    XRD_COMPARE_EXACT(d.coord.toPixY(-5), 0.0);
    XRD_COMPARE_EXACT(d.coord.lenPixX(3), 0.0);
    QSignalSpy nowPos(&d.coord, &ChCoord::nowPos);
    move(&d, QPointF(5, 5));
    press(&d, QPointF(5, 5), Qt::LeftButton);
    move(&d, QPointF(60, 70), Qt::NoModifier, Qt::LeftButton);
    release(&d, QPointF(60, 70), Qt::LeftButton);
    press(&d, QPointF(-10, -10), Qt::RightButton);
    release(&d, QPointF(30, 40), Qt::RightButton);
    wheel(&d, QPoint(0, 120));
    wheel(&d, QPoint(0, -120));
    CHECK(compareScale(d.coord, {0, 2, 10, 4}));
    QCOMPARE(nowPos.count(), 2);
    for (const QList<QVariant>& args : nowPos) {
        QVERIFY(std::isfinite(args.at(0).toDouble()));
        QVERIFY(std::isfinite(args.at(1).toDouble()));
    }
}

void TestChCoord::mappingsSaturate() {
    ChCoord c;
    c.setArea(0, 400, 600, 0);
    c.applyMargins();
    c.setScale(0, 0, 10, 10);
    XRD_COMPARE_EXACT(c.toPixX(1), 111.0);
    XRD_COMPARE_EXACT(c.toPixY(1), 326.0);
    XRD_COMPARE_EXACT(c.lenPixX(-2), -102.0);
    // A scale far narrower than a pixel maps distant values to the largest finite doubles.
    c.setScale(0, 0, 1e-300, 1e-300);
    XRD_COMPARE_EXACT(c.toPixX(1e300), std::numeric_limits<double>::max());
    XRD_COMPARE_EXACT(c.toPixX(-1e300), -std::numeric_limits<double>::max());
    XRD_COMPARE_EXACT(c.toPixY(1e300), -std::numeric_limits<double>::max());
    XRD_COMPARE_EXACT(c.lenPixX(-1e300), -std::numeric_limits<double>::max());
    // So narrow that the pixel factor itself overflows: treated as no extent.
    c.setScale(0, 0, 1e-320, 1e-320);
    XRD_COMPARE_EXACT(c.toPixX(1), 315.0);
    XRD_COMPARE_EXACT(c.lenPixX(1), 0.0);
    // Inverted and far-apart ends still map linearly.
    c.setScale(10, 10, 0, 0);
    XRD_COMPARE_EXACT(c.toPixX(10), 60.0);
    XRD_COMPARE_EXACT(c.toPixX(0), 570.0);
    c.setScale(-1e308, 0, 1e308, 10);
    QVERIFY(std::isfinite(c.toPixX(0)));
}

QTEST_MAIN(TestChCoord)
#include "tst_chcoord.moc"
