#include "plot/mousec.h"

#include <QMouseEvent>
#include <QWheelEvent>

#include <cstdlib>

MouseC::MouseC() = default;

MouseC::~MouseC() = default;

// QMouseEvent::pos() rounds the floating-point position to the nearest pixel, halves toward
// positive infinity (qRound), which is the rounding the recorded positions promise.
void MouseC::relayMove(QMouseEvent* e) {
    prevX = curX;
    prevY = curY;
    const QPoint p = e->pos();
    curX = p.x();
    curY = p.y();
    emit mMoved();
}

void MouseC::relayPress(QMouseEvent* e) {
    prevX = curX;
    prevY = curY;
    const QPoint p = e->pos();
    pressX = curX = p.x();
    pressY = curY = p.y();
    pressed = true;
    pressButton = static_cast<int>(e->button());
    pressModifiers = static_cast<int>(e->modifiers());
    emit mPressed();
}

void MouseC::relayRelease(QMouseEvent* e) {
    prevX = curX;
    prevY = curY;
    const QPoint p = e->pos();
    releaseX = curX = p.x();
    releaseY = curY = p.y();
    pressed = false;
    emit mReleased();
}

void MouseC::relayDoubleClick(QMouseEvent* e) {
    Q_UNUSED(e)
    emit mDClicked();
}

void MouseC::relayWheel(QWheelEvent* e) {
    // The rotation along the wheel's main axis, in eighths of a degree: the horizontal
    // component when it is strictly larger in magnitude, otherwise the vertical one (the
    // rule by which Qt derives its single-axis delta from angleDelta()).
    const QPoint angle = e->angleDelta();
    // (Magnitudes compared as 64-bit values: std::abs of INT_MIN would overflow.)
    const qint64 ax = angle.x();
    const qint64 ay = angle.y();
    const int delta = std::llabs(ax) > std::llabs(ay) ? angle.x() : angle.y();
    // Whole notches of 15 degrees, truncated toward zero; |delta| / 120 always fits an int.
    const int step = static_cast<int>(delta * 0.125 / 15.0);
    emit wheelMoved(step);
}
