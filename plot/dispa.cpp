#include "plot/dispa.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

DispA::DispA(QWidget* parent) : QFrame(parent, Qt::WindowFlags()) {
    setFrameShape(QFrame::StyledPanel);
    setAttribute(Qt::WA_MouseTracking);
    background = QColor(255, 255, 255, 255);
    const bool connected = coord.connectMouse(&mouse);
    Q_ASSERT(connected);
    Q_UNUSED(connected)
}

DispA::~DispA() = default;

// The whole widget is redrawn every time: the fill covers the styled panel too, which is
// never painted, and the owners draw the plot through the two signals.
void DispA::paintEvent(QPaintEvent* p) {
    Q_UNUSED(p)
    QPainter painter(this);
    painter.fillRect(0, 0, width(), height(), background);
    coord.setArea(0, static_cast<double>(height()), static_cast<double>(width()), 0);
    emit drawImage1(&painter);
    emit drawImage2(&painter);
    painter.end();
}

// The handlers never pass an event on: each accepts it explicitly, because Qt hands wheel
// events over ignored and would otherwise offer them to a scrollable parent as well.
void DispA::mouseMoveEvent(QMouseEvent* e) {
    e->accept();
    if (e->modifiers() & Qt::AltModifier)
        return;
    mouse.relayMove(e);
    emit mouseMoved0();
    update();
}

void DispA::mousePressEvent(QMouseEvent* e) {
    e->accept();
    mouse.relayPress(e);
    emit mousePressed0();
    update();
}

void DispA::mouseReleaseEvent(QMouseEvent* e) {
    e->accept();
    mouse.relayRelease(e);
    emit mouseReleased0();
    update();
}

void DispA::mouseDoubleClickEvent(QMouseEvent* e) {
    e->accept();
    mouse.relayDoubleClick(e);
    emit mouseDoubleClicked0();
    update();
}

void DispA::wheelEvent(QWheelEvent* e) {
    e->accept();
    mouse.relayWheel(e);
    emit wheelMoved0();
    update();
}
