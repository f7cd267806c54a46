#include "plot/dispa.h"
#include "plot/drawtext.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QWheelEvent>
#include <QtTest>

#include <cmath>

namespace {

const QColor kWhite(255, 255, 255);

QImage blankImage(int w, int h, QColor fill = kWhite) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(fill);
    return img;
}

// Paints the widget alone into an image filled with `fill` beforehand, without the window
// background, so every pixel that is not `fill` afterwards comes from the widget's own paint.
QImage paintWidget(QWidget& w, QColor fill = Qt::black) {
    QImage img = blankImage(w.width(), w.height(), fill);
    w.render(&img, QPoint(), QRegion(), QWidget::RenderFlags());
    return img;
}

// The smallest rectangle holding every pixel that is not white (an empty one if none).
QRect inkBox(const QImage& img) {
    QRect box;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if (img.pixelColor(x, y) != kWhite)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// What QPainter::drawText itself draws with `font` into `rect`: the reference that the
// drawing by DrawText is compared with.
QRect referenceInk(QSize size, const QRectF& rect, const QFont& font, int flags,
                   const QString& text) {
    QImage img = blankImage(size.width(), size.height());
    QPainter p(&img);
    p.setFont(font);
    p.drawText(rect, flags, text);
    p.end();
    return inkBox(img);
}

QFont sized(const QFont& f, double points) {
    QFont g(f);
    g.setPointSizeF(points);
    return g;
}

// The text's box at 10 points as the painter measures it, the scale DrawText fits by.
QRectF measuredAt10(QSize size, const QFont& font, int flags, const QString& text) {
    QImage img = blankImage(size.width(), size.height());
    QPainter p(&img);
    p.setFont(sized(font, 10));
    return p.boundingRect(QRectF(0, 0, 5000, 5000), flags, text);
}

void sendMouse(QWidget* w, QEvent::Type type, QPointF pos, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QMouseEvent e(type, pos, pos, button, buttons, mods);
    QApplication::sendEvent(w, &e);
}

// Collects the Qt warnings about rejected font sizes.
QStringList fontWarnings;
void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type == QtWarningMsg && msg.contains("size"))
        fontWarnings << msg;
}

const QString kText = QStringLiteral("Label 42");
const int kCentred = Qt::AlignHCenter | Qt::AlignVCenter;

} // namespace

class TestDispADrawText : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void constructedAsStyledTrackingPanel();
    void paintSetsAreaBeforeDrawing();
    void secondDrawingGoesOnTop();
    void plainWhiteWithoutReceiver();
    void backgroundFillsWidget();
    void eventsRelayedAndSignalled_data();
    void eventsRelayedAndSignalled();
    void altMotionIgnored();

    void centeredRect_data();
    void centeredRect();
    void fitSize_data();
    void fitSize();
    void negativeRectangle();
    void modeZeroKeepsFontSize();
    void degenerateBoxes_data();
    void degenerateBoxes();
    void fontRestored_data();
    void fontRestored();

private:
    QFont font_;
};

void TestDispADrawText::initTestCase() {
    font_ = QFont(QStringLiteral("DejaVu Sans"));
    font_.setPointSizeF(12);
    // The fits below need a font that actually renders.
    QVERIFY(QFontMetricsF(font_).horizontalAdvance(kText) > 0);
}

void TestDispADrawText::constructedAsStyledTrackingPanel() {
    QWidget parent;
    DispA d(&parent);
    QCOMPARE(d.parentWidget(), &parent);
    QCOMPARE(d.frameShape(), QFrame::StyledPanel);
    QVERIFY(d.hasMouseTracking());
    QCOMPARE(d.background, QColor(255, 255, 255, 255));
    QVERIFY(!d.isWindow());
}

void TestDispADrawText::paintSetsAreaBeforeDrawing() {
    DispA d;
    d.resize(400, 300);
    d.coord.setArea(-7, -7, -7, -7);
    d.coord.marginLeft = 0.5;
    QStringList calls;
    QVector<double> seen;
    connect(&d, &DispA::drawImage1, this, [&](QPainter* p) {
        calls << "draw1";
        QVERIFY(p && p->isActive());
        const ChCoord& c = d.coord;
        seen = {c.winX0, c.winY0, c.winX1, c.winY1, c.plotX0, c.plotY0, c.plotX1, c.plotY1};
        d.coord.applyMargins();
    });
    connect(&d, &DispA::drawImage2, this, [&](QPainter*) {
        calls << "draw2";
        QCOMPARE(d.coord.plotX0, d.width() * 0.5);
    });
    paintWidget(d);
    QCOMPARE(calls, (QStringList{"draw1", "draw2"}));
    QCOMPARE(seen, (QVector<double>{0, 300, 400, 0, 0, 300, 400, 0}));

    d.resize(250, 120);
    paintWidget(d);
    QCOMPARE(calls.size(), 4);
    QCOMPARE(seen, (QVector<double>{0, 120, 250, 0, 0, 120, 250, 0}));
}

void TestDispADrawText::secondDrawingGoesOnTop() {
    DispA d;
    d.resize(100, 80);
    connect(&d, &DispA::drawImage1, this, [](QPainter* p) {
        p->fillRect(10, 10, 50, 50, Qt::red);
        p->setPen(QPen(Qt::green));
    });
    QColor penSeen;
    connect(&d, &DispA::drawImage2, this, [&](QPainter* p) {
        penSeen = p->pen().color();
        p->fillRect(40, 40, 50, 30, Qt::blue);
    });
    const QImage img = paintWidget(d);
    QCOMPARE(penSeen, QColor(Qt::green));
    QCOMPARE(img.pixelColor(20, 20), QColor(Qt::red));
    QCOMPARE(img.pixelColor(50, 50), QColor(Qt::blue)); // drawn by both, blue on top
    QCOMPARE(img.pixelColor(80, 65), QColor(Qt::blue));
    QCOMPARE(img.pixelColor(5, 5), kWhite);
    QCOMPARE(img.pixelColor(95, 75), kWhite);
}

// The styled panel is never drawn: the whole widget, border included, comes out white.
void TestDispADrawText::plainWhiteWithoutReceiver() {
    QWidget parent;
    DispA d(&parent);
    d.resize(120, 90);
    QVERIFY(d.frameWidth() >= 0);
    const QImage img = paintWidget(d, Qt::black);
    QCOMPARE(img.size(), QSize(120, 90));
    int other = 0;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x)
            other += img.pixelColor(x, y) != kWhite;
    }
    QCOMPARE(other, 0);
    QCOMPARE(img.pixelColor(0, 0), kWhite);
    QCOMPARE(img.pixelColor(119, 89), kWhite);
    QCOMPARE(img.pixelColor(0, 45), kWhite);
    QCOMPARE(img.pixelColor(60, 89), kWhite);
}

void TestDispADrawText::backgroundFillsWidget() {
    DispA d;
    d.resize(30, 20);
    d.background = QColor(10, 200, 30);
    const QImage img = paintWidget(d, Qt::black);
    QCOMPARE(img.pixelColor(0, 0), QColor(10, 200, 30));
    QCOMPARE(img.pixelColor(29, 19), QColor(10, 200, 30));
}

void TestDispADrawText::eventsRelayedAndSignalled_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("relayed");
    QTest::newRow("move, no button") << int(QEvent::MouseMove) << 0 << true;
    QTest::newRow("move, Alt") << int(QEvent::MouseMove) << int(Qt::AltModifier) << false;
    QTest::newRow("press") << int(QEvent::MouseButtonPress) << 0 << true;
    QTest::newRow("press, Alt") << int(QEvent::MouseButtonPress) << int(Qt::AltModifier) << true;
    QTest::newRow("release") << int(QEvent::MouseButtonRelease) << 0 << true;
    QTest::newRow("double click") << int(QEvent::MouseButtonDblClick) << 0 << true;
    QTest::newRow("wheel") << int(QEvent::Wheel) << 0 << true;
    QTest::newRow("wheel, Alt") << int(QEvent::Wheel) << int(Qt::AltModifier) << true;
}

// Each event goes to the relay first (the frame has reacted by the time the display's own
// signal comes), then the display's signal; every event is accepted, so none is offered to
// a parent widget, not even an ignored Alt motion.
void TestDispADrawText::eventsRelayedAndSignalled() {
    QFETCH(int, type);
    QFETCH(int, modifiers);
    QFETCH(bool, relayed);
    QWidget parent;
    DispA d(&parent);
    d.resize(200, 100);
    const Qt::KeyboardModifiers mods(modifiers);

    QSignalSpy frame(&d.coord, &ChCoord::updated);
    int frameCountAtOwnSignal = -1;
    const auto own = [&] { frameCountAtOwnSignal = frame.count(); };
    QSignalSpy moved(&d, &DispA::mouseMoved0);
    QSignalSpy pressed(&d, &DispA::mousePressed0);
    QSignalSpy released(&d, &DispA::mouseReleased0);
    QSignalSpy dclicked(&d, &DispA::mouseDoubleClicked0);
    QSignalSpy wheeled(&d, &DispA::wheelMoved0);
    connect(&d, &DispA::mouseMoved0, this, own);
    connect(&d, &DispA::mousePressed0, this, own);
    connect(&d, &DispA::mouseReleased0, this, own);
    connect(&d, &DispA::mouseDoubleClicked0, this, own);
    connect(&d, &DispA::wheelMoved0, this, own);

    const QPointF pos(33, 44);
    bool accepted = false;
    if (type == QEvent::Wheel) {
        QWheelEvent e(pos, pos, QPoint(), QPoint(0, 120), Qt::NoButton, mods, Qt::NoScrollPhase,
                      false);
        e.ignore(); // as Qt hands wheel events to each widget in turn
        QApplication::sendEvent(&d, &e);
        accepted = e.isAccepted();
    } else {
        const Qt::MouseButton b = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent e(QEvent::Type(type), pos, pos, b, b, mods);
        e.ignore();
        QApplication::sendEvent(&d, &e);
        accepted = e.isAccepted();
    }
    QVERIFY(accepted);
    const int total =
        moved.count() + pressed.count() + released.count() + dclicked.count() + wheeled.count();
    QCOMPARE(total, relayed ? 1 : 0);
    QCOMPARE(frame.count(), relayed ? 1 : 0);
    QCOMPARE(frameCountAtOwnSignal, relayed ? 1 : -1);
    if (type == QEvent::MouseMove)
        QCOMPARE(moved.count(), relayed ? 1 : 0);
    if (type == QEvent::MouseButtonPress)
        QCOMPARE(pressed.count(), 1);
    if (type == QEvent::MouseButtonRelease)
        QCOMPARE(released.count(), 1);
    if (type == QEvent::MouseButtonDblClick)
        QCOMPARE(dclicked.count(), 1);
    if (type == QEvent::Wheel)
        QCOMPARE(wheeled.count(), 1);
    const bool records = relayed && type != QEvent::Wheel && type != QEvent::MouseButtonDblClick;
    QCOMPARE(d.mouse.curX, records ? 33 : 0);
}

// A motion with Alt held neither records the position nor repaints; a plain one does both.
void TestDispADrawText::altMotionIgnored() {
    DispA d;
    d.resize(200, 150);
    int paints = 0;
    connect(&d, &DispA::drawImage1, this, [&paints](QPainter*) { ++paints; });
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QTRY_VERIFY(paints > 0); // the first paint after showing
    QTest::qWait(50);
    paints = 0;

    sendMouse(&d, QEvent::MouseMove, QPointF(40, 50), Qt::NoButton, Qt::NoButton);
    QTRY_COMPARE(paints, 1);
    paints = 0;

    sendMouse(&d, QEvent::MouseMove, QPointF(90, 100), Qt::NoButton, Qt::NoButton, Qt::AltModifier);
    QTest::qWait(100);
    QCOMPARE(paints, 0);
    QCOMPARE(d.mouse.curX, 40);
    QCOMPARE(d.mouse.curY, 50);

    sendMouse(&d, QEvent::MouseMove, QPointF(45, 52), Qt::NoButton, Qt::NoButton);
    QCOMPARE(d.mouse.prevX, 40);
    QCOMPARE(d.mouse.prevY, 50);
    QTRY_COMPARE(paints, 1);
}

void TestDispADrawText::centeredRect_data() {
    QTest::addColumn<QPointF>("centre");
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<QRectF>("expected");
    QTest::newRow("plain") << QPointF(100, 50) << QSizeF(40, 10) << QRectF(80, 45, 40, 10);
    QTest::newRow("negative extents kept")
        << QPointF(100, 50) << QSizeF(-40, -10) << QRectF(120, 55, -40, -10);
    QTest::newRow("fractional") << QPointF(0.5, -3) << QSizeF(3, 0) << QRectF(-1, -3, 3, 0);
}

void TestDispADrawText::centeredRect() {
    QFETCH(QPointF, centre);
    QFETCH(QSizeF, size);
    QFETCH(QRectF, expected);
    const DrawText dt;
    const QRectF r = dt.centeredRect(centre.x(), centre.y(), size.width(), size.height());
    QCOMPARE(r.x(), expected.x());
    QCOMPARE(r.y(), expected.y());
    QCOMPARE(r.width(), expected.width());
    QCOMPARE(r.height(), expected.height());
}

void TestDispADrawText::fitSize_data() {
    QTest::addColumn<double>("boxScaleW"); // box extent in units of the 10-point box
    QTest::addColumn<double>("boxScaleH");
    QTest::addColumn<double>("maxSize");
    QTest::addColumn<int>("flags");
    QTest::addColumn<double>("points"); // expected size
    QTest::newRow("half width") << 0.5 << 1.0 << 15.0 << kCentred << 5.0;
    QTest::newRow("half height") << 3.0 << 0.5 << 15.0 << kCentred << 5.0;
    QTest::newRow("ten-fold, capped") << 10.0 << 10.0 << 15.0 << kCentred << 15.0;
    QTest::newRow("ten-fold, no cap") << 10.0 << 10.0 << 0.0 << kCentred << 100.0;
    QTest::newRow("ten-fold, negative cap") << 10.0 << 10.0 << -1.0 << kCentred << 100.0;
    QTest::newRow("ten-fold, NaN cap") << 10.0 << 10.0 << qQNaN() << kCentred << 100.0;
    QTest::newRow("ten-fold, infinite cap") << 10.0 << 10.0 << qInf() << kCentred << 100.0;
    QTest::newRow("cap above the fit") << 2.0 << 3.0 << 50.0 << kCentred << 20.0;
    QTest::newRow("right-aligned")
        << 2.0 << 2.0 << 15.0 << int(Qt::AlignRight | Qt::AlignVCenter) << 15.0;
}

// The text is drawn exactly as QPainter draws it in the expected point size, which is derived
// from the painter's own 10-point measurement of the text.
void TestDispADrawText::fitSize() {
    QFETCH(double, boxScaleW);
    QFETCH(double, boxScaleH);
    QFETCH(double, maxSize);
    QFETCH(int, flags);
    QFETCH(double, points);
    const QSize size(900, 320);
    const QRectF b = measuredAt10(size, font_, flags, kText);
    QVERIFY(b.width() > 0 && b.height() > 0);
    const QRectF box(20, 10, b.width() * boxScaleW, b.height() * boxScaleH);
    QVERIFY(box.right() < size.width() && box.bottom() < size.height());

    QImage img = blankImage(size.width(), size.height());
    QPainter p(&img);
    DrawText dt;
    dt.fitText(&p, box, font_, flags, 1, kText, maxSize);
    p.end();
    const QRect ink = inkBox(img);
    QVERIFY(!ink.isEmpty());
    QCOMPARE(ink, referenceInk(size, box, sized(font_, points), flags, kText));
    // The comparison tells sizes apart: the text at 1.5 times the size looks different.
    QVERIFY(referenceInk(size, box, sized(font_, points * 1.5), flags, kText) != ink);
    // A fitted text stays inside its box (up to a pixel of antialiasing).
    if (points < 15 || boxScaleW >= 10)
        QVERIFY(box.adjusted(-1, -1, 1, 1).contains(QRectF(ink)));
}

// A box given with a negative width covers the same pixels as the normalised one.
void TestDispADrawText::negativeRectangle() {
    const QSize size(120, 60);
    const int flags = Qt::AlignLeft | Qt::AlignVCenter;
    QImage img = blankImage(size.width(), size.height());
    QPainter p(&img);
    DrawText dt;
    dt.fitText(&p, QRectF(50, 40, -20, -30), font_, flags, 1, kText, 0);
    p.end();
    const QRect ink = inkBox(img);
    QVERIFY(!ink.isEmpty());
    QVERIFY2(ink.left() >= 29 && ink.right() <= 50 && ink.top() >= 9 && ink.bottom() <= 40,
             qPrintable(QStringLiteral("ink at %1,%2 %3x%4")
                            .arg(ink.x())
                            .arg(ink.y())
                            .arg(ink.width())
                            .arg(ink.height())));
    QVERIFY(ink.left() <= 33); // left-aligned at x 30
    const QRectF b = measuredAt10(size, font_, flags, kText);
    const double s = 10 * std::min(20 / b.width(), 30 / b.height());
    QCOMPARE(ink, referenceInk(size, QRectF(30, 10, 20, 30), sized(font_, s), flags, kText));
}

// Any mode but 1 draws in the given font as it is, whatever the box.
void TestDispADrawText::modeZeroKeepsFontSize() {
    const QSize size(500, 200);
    const QRectF box(10, 10, 480, 180);
    for (const int mode : {0, 2, -1}) {
        QImage img = blankImage(size.width(), size.height());
        QPainter p(&img);
        DrawText dt;
        dt.fitText(&p, box, font_, kCentred, mode, kText, 15);
        p.end();
        const QRect ink = inkBox(img);
        QCOMPARE(ink, referenceInk(size, box, font_, kCentred, kText));
        QVERIFY(ink.width() < 0.5 * box.width()); // nowhere near filling the box
    }
}

void TestDispADrawText::degenerateBoxes_data() {
    QTest::addColumn<QRectF>("box");
    QTest::addColumn<bool>("drawn");
    QTest::newRow("zero width") << QRectF(100, 50, 0, 30) << true;
    QTest::newRow("zero height") << QRectF(100, 50, 80, 0) << true;
    QTest::newRow("empty") << QRectF(100, 50, 0, 0) << true;
    QTest::newRow("infinite width") << QRectF(100, 50, qInf(), 30) << false;
    QTest::newRow("NaN height") << QRectF(100, 50, 80, qQNaN()) << false;
    QTest::newRow("infinite left") << QRectF(-qInf(), 50, 80, 30) << false;
}

// A box that gives no positive finite size draws at the 10-point reference, never handing Qt
// a size it rejects; a box that is not finite draws nothing.
void TestDispADrawText::degenerateBoxes() {
    QFETCH(QRectF, box);
    QFETCH(bool, drawn);
    const QSize size(300, 120);
    QImage img = blankImage(size.width(), size.height());
    QPainter p(&img);
    DrawText dt;
    fontWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    dt.fitText(&p, box, font_, kCentred, 1, kText, 0);
    qInstallMessageHandler(previous);
    QCOMPARE(p.font().toString(), font_.toString());
    p.end();
    QCOMPARE(fontWarnings, QStringList());
    const QRect ink = inkBox(img);
    if (drawn)
        QCOMPARE(ink, referenceInk(size, box, sized(font_, 10), kCentred, kText));
    else
        QVERIFY(ink.isEmpty());
}

void TestDispADrawText::fontRestored_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<double>("maxSize");
    QTest::addColumn<QRectF>("box");
    QTest::newRow("fit") << 1 << 15.0 << QRectF(0, 0, 200, 40);
    QTest::newRow("fit, uncapped") << 1 << 0.0 << QRectF(0, 0, 200, 40);
    QTest::newRow("fit, zero box") << 1 << 15.0 << QRectF(0, 0, 0, 0);
    QTest::newRow("plain") << 0 << 15.0 << QRectF(0, 0, 200, 40);
    QTest::newRow("other mode") << 7 << 15.0 << QRectF(0, 0, 200, 40);
}

void TestDispADrawText::fontRestored() {
    QFETCH(int, mode);
    QFETCH(double, maxSize);
    QFETCH(QRectF, box);
    QImage img = blankImage(220, 60);
    QPainter p(&img);
    QFont before(QStringLiteral("DejaVu Serif"));
    before.setPixelSize(31);
    p.setFont(before);
    QFont arg(QStringLiteral("DejaVu Sans Mono"));
    arg.setPointSizeF(7.5);
    arg.setBold(true);
    DrawText dt;
    dt.fitText(&p, box, arg, kCentred, mode, kText, maxSize);
    // A painter's font is tied to its device and never compares equal to a free QFont, so
    // the description and the size are compared.
    QCOMPARE(p.font().toString(), arg.toString());
    QCOMPARE(p.font().pointSizeF(), 7.5);
    QCOMPARE(p.font().pixelSize(), -1);
    p.end();
}

QTEST_MAIN(TestDispADrawText)
#include "tst_dispa_drawtext.moc"
