#pragma once

#include <QPointF>
#include <QRectF>
#include <QVector>

class QPainter;

// One point of a pixel column: its place among the column's points (counted in curve order
// from any origin) and its pixel row. An index below 0 marks a role no point fills.
struct ColumnPoint {
    qint64 index = -1;
    double y = 0;
};

// The points of one pixel column that decide which pixels it gets (see CurvePainter). Rows
// are pixel y values, so the lowest row is the one nearest the top; a run is a stretch of
// consecutive points on the same row.
struct ColumnRoles {
    ColumnPoint first;
    ColumnPoint second;     // not filled in a column of one point
    ColumnPoint beforeLast; // the second-to-last point; not filled in a column of one point
    ColumnPoint last;
    ColumnPoint lowest;     // the first point on the lowest row
    ColumnPoint secondRun;  // the first point on another row than the first point's
    ColumnPoint highest;    // the first point on the highest row after the starting run
    ColumnPoint endBefore1; // the last point of the run before the final run
    ColumnPoint endBefore2; // the last point of the run before that
};

// The points a reduced column hands to the painter: every filled role, in curve order, a
// point that fills several roles once. Returns how many were written to `kept` (1 to 9).
int keptColumnPoints(const ColumnRoles& roles, ColumnPoint (&kept)[9]);

// Sends one curve of whole-pixel points to a painter, with the painter's current pen, as
// polylines. The owner (a view) feeds the points in curve order and lets it go out of scope
// (or calls finish()) to draw what is still pending.
//
// Two things happen on the way:
// - Column reduction (Detail::Reduced): of consecutive points that share a pixel column only
//   those reach the painter that decide which pixels the column gets, in their original
//   order. Qt's cosmetic line stroker draws each segment from its own ends plus a state left
//   by the segment before (its direction and last pixel: a reversal adds a cap pixel, a
//   repeated first pixel is dropped, a gap is filled), and a zero-length segment changes
//   nothing once a vertical segment has been drawn. Inside a column every segment is
//   vertical, so the pixels between the column's lowest and highest point are always drawn,
//   the lowest point itself too, and the highest point exactly when the curve turns there
//   at a point that is neither at the column's start nor at its end. What depends on the
//   neighbouring columns is fixed by the first two points, the first point of another
//   height, and the last three heights (the last two points and the ends of the two runs of
//   equal height before the final one). So the kept points are: the first, the second, the
//   first of another height than the first, the first lowest, the first highest after the
//   column's starting run, the ends of the two runs before the final run, the second-to-last
//   and the last: at most nine per column, so a curve of a million points costs the painter
//   a few thousand. (First, lowest, highest and last alone cover the same pixels in
//   principle, but turn caps and joints at the column's ends then differ by a pixel here
//   and there.) Wide pens, whose strokes are outlines with joins, keep their pixels too;
//   the tests compare both kinds pixel by pixel. ColumnRoles and keptColumnPoints above hold
//   this choice, for drawDataCurve too.
// - Clipping: segments are clipped to the plot's pixel area widened by viewsupport::kReach on
//   every side, so no coordinate far outside the widget (a deep zoom maps distant points to
//   pixel values beyond the int range) reaches the painter. Clipping moves an end along its
//   own line, so the part of a segment inside the widget keeps its direction; only ends and
//   joints at least kReach pixels outside the widget change. The crossing is computed from
//   the end nearer to the edge, so it is exact to rounding as long as one end is near the
//   widget or both lie within some 10^13 pixels; for two ends near the largest double it is
//   only guaranteed to be finite. On an SVG generator, which ignores the painter's clip,
//   segments are clipped to the clip's bounding rectangle instead (without the reach).
// A point with a non-finite coordinate breaks the curve: the polyline ends at the point
// before it and starts again at the point after it. A lone point between two breaks draws
// nothing, as a one-point polyline does in QPainter.
class CurvePainter {
public:
    enum class Detail { Reduced, AllPoints };

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

    // The pixel column being collected (reduction only). Indices count the column's points;
    // a run is a stretch of consecutive points of equal height.
    struct Run {
        double y = 0;
        qint64 lastIndex = 0;
    };
    bool columnOpen = false;
    double columnX = 0;
    qint64 columnCount = 0;
    double firstY = 0, secondY = 0, beforeLastY = 0, lastY = 0;
    double lowY = 0;
    qint64 lowIndex = 0;
    double highY = 0;
    qint64 highIndex = -1; // first highest point after the starting run; -1 while none
    int runCount = 0;      // up to 3 is enough to know
    Run runBefore2, runBefore1, runNow;
    double secondRunY = 0; // first point of the second run
    qint64 secondRunIndex = 0;

    // The clipping stage: the previous point and the polyline being built.
    bool havePrevious = false;
    QPointF previous;
    QVector<QPointF> piece;
    qint64 drawn = 0;
};
