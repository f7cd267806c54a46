#pragma once

#include <QObject>

class QMouseEvent;
class QWheelEvent;

// Records the mouse input of one plot widget and announces each event with a signal; the
// coordinate frame reads the recorded state when the signal arrives. Held by value by DispA.
class MouseC : public QObject {
    Q_OBJECT
public:
    MouseC();
    ~MouseC() override;

    void relayMove(QMouseEvent* e);
    void relayPress(QMouseEvent* e);
    void relayRelease(QMouseEvent* e);
    void relayDoubleClick(QMouseEvent* e);
    void relayWheel(QWheelEvent* e);

    // Widget pixel positions, rounded to whole pixels (halves toward positive infinity).
    int prevX = 0; // current position before the latest move, press or release
    int prevY = 0;
    int curX = 0; // position of the latest move, press or release
    int curY = 0;
    int pressX = 0;
    int pressY = 0;
    int releaseX = 0;
    int releaseY = 0;
    bool pressed = false;   // from a press until the next release
    int pressButton = 0;    // Qt::MouseButton of the latest press
    int pressModifiers = 0; // Qt::KeyboardModifiers held at the latest press

signals:
    void mMoved();
    void mPressed();
    void mReleased();
    void mDClicked();
    void wheelMoved(int step);
};
