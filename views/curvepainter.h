#pragma once

#include <QPointF>
#include <QRectF>
#include <QVector>

class QPainter;

// Sends one curve of whole-pixel points to a painter, with the painter's current pen, as
// polylines. The owner (a view) feeds the points in curve order and lets it go out of scope
// (or calls finish()) to draw what is still pending.
//
// Two things happen on the way:
// - Column reduction (Detail::Reduced): of consecutive points that share a pixel column only
//   the first, the second, the lowest, the highest, the second-to-last and the last reach the
//   painter, in their original order. The first, lowest, highest and last alone cover the
//   same pixels in principle, but Qt's line stroker chooses the pixels next to a joint from
//   the neighbouring segments; keeping the second and second-to-last point leaves every
//   joint where the curve enters or leaves a column unchanged. A curve of a million points
//   then costs the painter a few thousand.
// - Clipping: segments are clipped to the plot's pixel area widened by kReach on every side,
//   so no coordinate far outside the widget (a deep zoom maps distant points to pixel values
//   beyond the int range) reaches the painter. Clipping moves an end along its own line, so
//   the part of a segment inside the widget keeps its direction; only ends and joints at
//   least kReach pixels outside the widget change.
// A point with a non-finite coordinate breaks the curve: the polyline ends at the point
// before it and starts again at the point after it.
class CurvePainter {
public:
    enum class Detail { Reduced, AllPoints };

    // How far outside the pixel area segments are kept, in pixels. Far enough that no clipped
    // end or joint can show, near enough that the painter's fixed-point rasteriser (16.16 bits
    // in the cosmetic line stroker) never overflows for any real screen.
    static constexpr double kReach = 8192.0;

    CurvePainter(QPainter& painter, const QRectF& pixelArea, Detail detail = Detail::Reduced);
    ~CurvePainter();
    CurvePainter(const CurvePainter&) = delete;
    CurvePainter& operator=(const CurvePainter&) = delete;

    // Adds the next point, in pixels; whole-pixel values keep a curve on the pixel grid.
    void addPoint(double x, double y);
    // Ends the current polyline; the next point starts a new one.
    void breakLine();
    // Draws whatever is pending; the painter may be used for other things afterwards.
    void finish();

    // Number of points handed to the painter so far (after reduction and clipping).
    qint64 pointsDrawn() const { return drawn; }

private:
    void flushColumn();
    void clipAndAppend(const QPointF& q);
    void flushPiece();
    int outcode(const QPointF& q) const;
    bool clipSegment(QPointF& a, QPointF& b) const;

    QPainter& painter;
    const Detail detail;
    double left, top, right, bottom; // clip rectangle, left < right and top < bottom

    // The pixel column being collected (reduction only). Indices count the column's points.
    bool columnOpen = false;
    double columnX = 0;
    qint64 columnCount = 0;
    double firstY = 0, secondY = 0, beforeLastY = 0, lastY = 0;
    double lowY = 0, highY = 0;
    qint64 lowIndex = 0, highIndex = 0;

    // The clipping stage: the previous point and the polyline being built.
    bool havePrevious = false;
    QPointF previous;
    QVector<QPointF> piece;
    qint64 drawn = 0;
};
