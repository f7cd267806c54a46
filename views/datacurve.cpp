#include "views/datacurve.h"

#include "plot/chcoord.h"
#include "views/viewsupport.h"

#include <QRectF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QRectF pixelArea(const ChCoord& coord) {
    return QRectF(QPointF(coord.winX0, coord.winY0), QPointF(coord.winX1, coord.winY1));
}

bool hasPosition(double x, double y, bool logY) {
    return std::isfinite(x) &&
           (logY ? (y > 0.0 && y < std::numeric_limits<double>::infinity()) : std::isfinite(y));
}

// The pixel row of a data value, exactly as the view computes it for every point.
class RowMap {
public:
    RowMap(const ChCoord& coord, bool logY) : mapY(viewsupport::AxisMap::yOf(coord)), logY(logY) {
        // Rows grow with the value when the frame maps larger y further down (an inverted
        // scale), and shrink with it otherwise. A degenerate mapping gives one row for every
        // value, which either orientation describes.
        const bool grows = (coord.plotY1 > coord.plotY0) == (coord.scaleY1 > coord.scaleY0);
        orientation = grows ? 1.0 : -1.0;
    }
    double row(double v) const { return std::trunc(mapY(logY ? std::log10(v) : v)); }
    // The value oriented so that rows never decrease as it grows.
    double oriented(double v) const { return orientation * v; }

private:
    const viewsupport::AxisMap mapY;
    const bool logY;
    double orientation = 1.0;
};

// Whether values lie on one given pixel row, answered from values already mapped whenever
// monotonicity allows: all values between two that hit the row hit it too, and a value
// beyond one that missed it on the same side misses it as well. Only the other values are
// mapped, and each of those widens what is known.
class RowTest {
public:
    RowTest(const RowMap& map, double row, double hitValue)
        : map(map), row(row), hitLow(map.oriented(hitValue)), hitHigh(hitLow) {}

    bool hits(double v) {
        const double j = map.oriented(v);
        if (j >= hitLow && j <= hitHigh)
            return true;
        if (j <= missBelow || j >= missAbove)
            return false;
        const double r = map.row(v);
        if (r == row) {
            hitLow = std::min(hitLow, j);
            hitHigh = std::max(hitHigh, j);
            return true;
        }
        if (r < row)
            missBelow = std::max(missBelow, j);
        else
            missAbove = std::min(missAbove, j);
        return false;
    }

private:
    const RowMap& map;
    const double row;
    double hitLow, hitHigh;
    double missBelow = -std::numeric_limits<double>::infinity();
    double missAbove = std::numeric_limits<double>::infinity();
};

// One pixel column of consecutive points [begin, end) and the first indices of its
// smallest and largest oriented values.
struct Column {
    double x = 0;
    int begin = 0;
    int end = 0;
    int lowIndex = 0;  // first smallest oriented value: the lowest row
    int highIndex = 0; // first largest: the highest row
    double low = 0;
    double high = 0;
};

// The column's decisive points (ColumnRoles), found by scanning from both ends with row
// tests instead of mapping every point, and handed on as keptColumnPoints orders them.
void emitColumn(const Column& c, const QVector<double>& y, const RowMap& map, CurvePainter& curve) {
    const int a = c.begin;
    const int last = c.end - 1;
    auto point = [&](int i) { return ColumnPoint{i, map.row(y[i])}; };
    ColumnRoles roles;
    roles.first = point(a);
    roles.last = point(last);
    if (last > a) {
        roles.second = point(a + 1);
        roles.beforeLast = point(last - 1);

        // Every scan below ends at the latest on the point its test was seeded with or on
        // the column's edge; the bounds only guard against a logarithm that is not monotonic.
        RowTest onLowestRow(map, map.row(y[c.lowIndex]), y[c.lowIndex]);
        int lowest = a;
        while (lowest < c.lowIndex && !onLowestRow.hits(y[lowest]))
            ++lowest;
        roles.lowest = point(lowest);

        RowTest onFirstRow(map, roles.first.y, y[a]);
        int secondRun = a + 1;
        while (secondRun <= last && onFirstRow.hits(y[secondRun]))
            ++secondRun;
        if (secondRun <= last) {
            roles.secondRun = point(secondRun);
            RowTest onHighestRow(map, map.row(y[c.highIndex]), y[c.highIndex]);
            int highest = secondRun;
            while (highest <= last && !onHighestRow.hits(y[highest]))
                ++highest;
            if (highest <= last)
                roles.highest = point(highest);

            // Ends of the runs before the final one, from the back.
            RowTest onLastRow(map, roles.last.y, y[last]);
            int endBefore1 = last - 1;
            while (endBefore1 > a && onLastRow.hits(y[endBefore1]))
                --endBefore1;
            roles.endBefore1 = point(endBefore1);
            RowTest onRowBefore(map, roles.endBefore1.y, y[endBefore1]);
            int endBefore2 = endBefore1 - 1;
            while (endBefore2 >= a && onRowBefore.hits(y[endBefore2]))
                --endBefore2;
            if (endBefore2 >= a)
                roles.endBefore2 = point(endBefore2);
        }
    }
    ColumnPoint kept[9];
    const int count = keptColumnPoints(roles, kept);
    for (int i = 0; i < count; ++i)
        curve.addPoint(c.x, kept[i].y);
}

// Segments whose ends both lie this far or further beyond the left (or both beyond the
// right) edge of the pixel area draw nothing, for pens up to some 16 pixels wide: Qt's line
// stroker discards them whole (keeping its state from the last segment it drew), and a
// wide pen's stroke reaches half its width beyond the line.
constexpr double kQuietMargin = 16.0;

// The reduced curve: the decisive points of every column go to a painter that only clips.
// This runs over every point, so the common case, a point in the same pixel column as the
// one before, has a tight loop that keeps its state in registers; everything else (a new
// column, a break, a point beyond the edges, a frame whose mapping needs the frame itself)
// takes the general path.
template <bool LogY>
void drawReduced(CurvePainter& curve, const ChCoord& coord, const QVector<double>& x,
                 const QVector<double>& y, int n) {
    const RowMap map(coord, LogY);
    const viewsupport::AxisMap mapX = viewsupport::AxisMap::xOf(coord);
    const bool direct = mapX.isDirect();
    const double* xs = x.constData();
    const double* ys = y.constData();
    const double leftEdge = std::min(coord.winX0, coord.winX1) - kQuietMargin;
    const double rightEdge = std::max(coord.winX0, coord.winX1) + kQuietMargin;

    Column column;
    bool open = false;
    auto closeColumn = [&]() {
        if (open)
            emitColumn(column, y, map, curve);
        open = false;
    };
    // Adds point i at pixel column px (continuing the open column when it is the point right
    // after it in the same pixel column), then every following point of the same column.
    // Returns the index after the last point taken.
    auto takeColumn = [&](int i, double px) {
        const double j0 = map.oriented(ys[i]);
        if (!open || px != column.x || column.end != i) {
            closeColumn();
            open = true;
            column.x = px;
            column.begin = i;
            column.lowIndex = column.highIndex = i;
            column.low = column.high = j0;
        }
        double low = column.low;
        double high = column.high;
        int lowIndex = column.lowIndex;
        int highIndex = column.highIndex;
        if (j0 < low) {
            low = j0;
            lowIndex = i;
        }
        if (j0 > high) {
            high = j0;
            highIndex = i;
        }
        int k = i + 1;
        if (direct) {
            // trunc(v) == px without converting v: sign * v in [from, to).
            const double sign = px < 0 ? -1.0 : 1.0;
            const double from = px == 0 ? std::nextafter(-1.0, 0.0) : std::fabs(px);
            const double to = std::fabs(px) + 1.0;
            for (; k < n; ++k) {
                const double xk = xs[k];
                const double yk = ys[k];
                const double v = sign * mapX.directValue(xk);
                if (!hasPosition(xk, yk, LogY) || !(v >= from && v < to))
                    break;
                const double j = map.oriented(yk);
                if (j < low) {
                    low = j;
                    lowIndex = k;
                }
                if (j > high) {
                    high = j;
                    highIndex = k;
                }
            }
        }
        column.end = k;
        column.low = low;
        column.high = high;
        column.lowIndex = lowIndex;
        column.highIndex = highIndex;
        return k;
    };

    // Of a run of points beyond the same side edge only the first and the last can end a
    // segment that shows; the ones between are skipped before any logarithm is taken.
    int outsideSide = 0;
    int outsideLast = -1;
    double outsideLastX = 0;
    auto takeOutsideLast = [&]() {
        if (outsideLast >= 0)
            takeColumn(outsideLast, outsideLastX);
        outsideLast = -1;
    };
    int i = 0;
    while (i < n) {
        const double px = std::trunc(mapX(xs[i]));
        if (!hasPosition(xs[i], ys[i], LogY) || !std::isfinite(px)) {
            takeOutsideLast();
            outsideSide = 0;
            closeColumn();
            curve.breakLine();
            ++i;
            continue;
        }
        const int side = px < leftEdge ? -1 : (px > rightEdge ? 1 : 0);
        if (side != 0 && side == outsideSide) {
            // Skip the rest of the run in a tight loop while the points lie clearly beyond
            // the edge (one pixel more than needed, so no truncation is required); a point
            // near the edge goes back to the general path.
            int k = i + 1;
            int lastBeyond = i;
            double lastBeyondX = px;
            if (direct) {
                const double limit = side < 0 ? leftEdge - 1.0 : rightEdge + 1.0;
                for (; k < n; ++k) {
                    const double xk = xs[k];
                    if (!hasPosition(xk, ys[k], LogY))
                        break;
                    const double v = mapX.directValue(xk);
                    if (side < 0 ? !(v < limit) : !(v > limit))
                        break;
                    lastBeyond = k;
                }
                if (lastBeyond != i)
                    lastBeyondX = std::trunc(mapX(xs[lastBeyond]));
            }
            outsideLast = lastBeyond;
            outsideLastX = lastBeyondX;
            i = k;
            continue;
        }
        takeOutsideLast();
        outsideSide = side;
        i = takeColumn(i, px);
    }
    takeOutsideLast();
    closeColumn();
}

} // namespace

void drawDataCurve(QPainter& p, const ChCoord& coord, const QVector<double>& x,
                   const QVector<double>& y, bool logY, CurvePainter::Detail detail) {
    const int n = std::min(x.size(), y.size());
    CurvePainter curve(p, pixelArea(coord), CurvePainter::Detail::AllPoints);
    if (detail == CurvePainter::Detail::Reduced) {
        if (logY)
            drawReduced<true>(curve, coord, x, y, n);
        else
            drawReduced<false>(curve, coord, x, y, n);
        return;
    }
    for (int i = 0; i < n; ++i) {
        if (!hasPosition(x[i], y[i], logY)) {
            curve.breakLine();
            continue;
        }
        curve.addPoint(std::trunc(coord.toPixX(x[i])),
                       std::trunc(coord.toPixY(logY ? std::log10(y[i]) : y[i])));
    }
}
