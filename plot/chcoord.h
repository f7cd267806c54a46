#pragma once

#include <QObject>

class MouseC;

// The coordinate frame of one plot: the widget's pixel area, the plot rectangle inside its
// margins, and the data range (scale) shown there. Maps data to pixels for the views and
// turns recorded mouse input into pan and zoom. Held by value by DispA.
class ChCoord : public QObject {
    Q_OBJECT
public:
    ChCoord();
    ~ChCoord() override;

    // Remembers the relay and connects its five signals to the slots of the same name.
    // Returns true when all five connections were made.
    bool connectMouse(MouseC* m);

    // Corners in the order (x0, y0, x1, y1); setArea also resets the plot rectangle to the
    // area, so margins must be applied again afterwards.
    void setArea(double x0, double y0, double x1, double y1);
    void applyMargins();
    void setScale(double x0, double y0, double x1, double y1);

    // Data to pixels, linear on each axis (an inverted scale mirrors the axis). When the
    // scale or the plot rectangle has no extent on an axis (after clearScale, for instance),
    // toPixX/toPixY give the middle of the plot rectangle and lenPixX gives 0; a value too
    // far out to be represented saturates at the largest finite double of its sign. For
    // finite fields and input the result is never NaN or infinite.
    double toPixX(double x) const;
    double toPixY(double y) const;
    double lenPixX(double dx) const;

    MouseC* mouse = nullptr;
    double winX0 = 0; // pixel area; winY0 is the bottom (widget height), winY1 the top (0)
    double winX1 = 1;
    double winY0 = 0;
    double winY1 = 1;
    double plotX0 = 0; // pixel position of scaleX0 (left edge of the plot rectangle)
    double plotX1 = 1;
    double plotY0 = 0; // pixel position of scaleY0 (bottom edge)
    double plotY1 = 1;
    double scaleX0 = 0; // data range shown in the plot rectangle
    double scaleX1 = 1;
    double scaleY0 = 0;
    double scaleY1 = 1;
    double zoomEdge = 0.1; // wheel-zoom edge band, fraction of the plot width (height)
    double marginLeft = 0.1;
    double marginRight = 0.05;
    double marginTop = 0.05;
    double marginBottom = 0.1;
    int textRows = 20;      // plot height / textRows = height of one line of label text
    double textFill = 0.85; // share of that line height given to a label box

signals:
    void updated();
    void nowPos(double x, double y);
    void newVLines();

    // The mouse slots never leave a scale that is non-finite or of zero extent: a gesture
    // (pan, rubber band, wheel step) that would is ignored on the axis concerned, and zooming
    // stops at a range of about 1e-12 of its values' magnitude (at least 1e-280) and at
    // values of magnitude 1e250. A plot rectangle without extent turns every gesture off.
public slots:
    void clearScale();
    void mMoved();
    void mPressed();
    void mReleased();
    void mDClicked();
    void wheelMoved(int step);

private:
    double dataX(double px) const;
    double dataY(double py) const;
    bool nearXEdge(double px) const;
    bool nearYEdge(double py) const;
};
