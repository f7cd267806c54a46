#pragma once

#include "plot/chcoord.h"
#include "plot/mousec.h"

#include <QColor>
#include <QFrame>

class QPainter;

// The surface one plot is drawn on. Each repaint fills it, gives the frame the widget's size
// and hands the painter to whoever draws (drawImage1, then drawImage2); mouse and wheel
// events go through the relay to the frame, which pans and zooms. Owned by its parent widget.
class DispA : public QFrame {
    Q_OBJECT
public:
    explicit DispA(QWidget* parent = nullptr);
    ~DispA() override;

    ChCoord coord;
    MouseC mouse;
    QColor background;

signals:
    void drawImage1(QPainter* p);
    void drawImage2(QPainter* p);
    void mouseMoved0();
    void mousePressed0();
    void mouseReleased0();
    void mouseDoubleClicked0();
    void wheelMoved0();

private slots:
    void paintEvent(QPaintEvent* p) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
};
