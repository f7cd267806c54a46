#include "views/curvepainter.h"

#include "views/viewsupport.h"

#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int kLeft = 1;
constexpr int kRight = 2;
constexpr int kTop = 4;
constexpr int kBottom = 8;

double saturated(double v) {
    const double big = std::numeric_limits<double>::max();
    return std::min(big, std::max(-big, v));
}

// Where the segment from p to o crosses the line u = c (u is the coordinate across that
// line, v the one along it; c lies between pu and ou). The result starts from the end
// nearer to the line, so the crossing keeps the precision of a visible end instead of
// inheriting the rounding error of a far one, and equals both ends' v exactly when they
// share it (a clipped vertical curve segment stays on its pixel column). Differences are
// formed from halved values and the step is added in two halves, so nothing overflows even
// for ends near the largest double.
double crossing(double pu, double pv, double ou, double ov, double c) {
    if (pv == ov)
        return pv;
    if (std::fabs(c - ou) < std::fabs(c - pu)) {
        std::swap(pu, ou);
        std::swap(pv, ov);
    }
    const double span = 0.5 * ou - 0.5 * pu;
    if (span == 0.0)
        return pv;
    const double t = (0.5 * c - 0.5 * pu) / span;
    const double halfStep = (0.5 * ov - 0.5 * pv) * t;
    return saturated(pv + halfStep + halfStep);
}

} // namespace

int keptColumnPoints(const ColumnRoles& roles, ColumnPoint (&kept)[9]) {
    int count = 0;
    for (const ColumnPoint& p :
         {roles.first, roles.second, roles.beforeLast, roles.last, roles.lowest, roles.secondRun,
          roles.highest, roles.endBefore1, roles.endBefore2}) {
        if (p.index >= 0)
            kept[count++] = p;
    }
    std::sort(kept, kept + count,
              [](const ColumnPoint& a, const ColumnPoint& b) { return a.index < b.index; });
    const ColumnPoint* end =
        std::unique(kept, kept + count,
                    [](const ColumnPoint& a, const ColumnPoint& b) { return a.index == b.index; });
    return static_cast<int>(end - kept);
}

CurvePainter::CurvePainter(QPainter& painter, const QRectF& pixelArea, Detail detail)
    : painter(painter), detail(detail) {
    QRectF area = pixelArea.normalized();
    double reach = viewsupport::kReach;
    // The SVG generator does not honour a clip set on the painter; for it the clip is applied
    // here, to the geometry. (Raster engines clip exactly themselves: cutting segments short
    // here would move their pixels inside the clip by rounding.)
    if (painter.hasClipping() && painter.paintEngine() &&
        painter.paintEngine()->type() == QPaintEngine::SVG) {
        const QRectF clip = painter.clipBoundingRect().normalized();
        if (std::isfinite(clip.left()) && std::isfinite(clip.right()) &&
            std::isfinite(clip.top()) && std::isfinite(clip.bottom()) && clip.width() > 0.0 &&
            clip.height() > 0.0) {
            area = clip;
            reach = 0.0;
        }
    }
    using viewsupport::kReach;
    left = area.left() - reach;
    right = area.right() + reach;
    top = area.top() - reach;
    bottom = area.bottom() + reach;
    if (!(std::isfinite(left) && std::isfinite(right) && std::isfinite(top) &&
          std::isfinite(bottom))) {
        left = top = -kReach;
        right = bottom = kReach;
    }
}

CurvePainter::~CurvePainter() {
    finish();
}

void CurvePainter::addPoint(double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) {
        breakLine();
        return;
    }
    if (detail == Detail::AllPoints) {
        clipAndAppend(QPointF(x, y));
        return;
    }
    if (columnOpen && x == columnX) {
        const qint64 index = columnCount++;
        if (index == 1)
            secondY = y;
        if (y != runNow.y) {
            runBefore2 = runBefore1;
            runBefore1 = runNow;
            if (runCount == 1) {
                secondRunY = y;
                secondRunIndex = index;
            }
            runCount = std::min(runCount + 1, 3);
            runNow.y = y;
        }
        runNow.lastIndex = index;
        if (y < lowY) {
            lowY = y;
            lowIndex = index;
        }
        // The highest point counts only after the starting run: a turn there draws it.
        if (y > highY) {
            highY = y;
            highIndex = runCount > 1 ? index : -1;
        } else if (y == highY && highIndex < 0 && runCount > 1) {
            highIndex = index;
        }
        beforeLastY = lastY;
        lastY = y;
        return;
    }
    flushColumn();
    columnOpen = true;
    columnX = x;
    columnCount = 1;
    firstY = lowY = highY = lastY = y;
    lowIndex = 0;
    highIndex = -1;
    runCount = 1;
    runNow = Run{y, 0};
}

void CurvePainter::breakLine() {
    flushColumn();
    flushPiece();
    havePrevious = false;
}

void CurvePainter::finish() {
    breakLine();
}

// Hands on the kept points of the finished column in their original order; a point that
// plays several roles (the first may also be the lowest) goes out once.
void CurvePainter::flushColumn() {
    if (!columnOpen)
        return;
    columnOpen = false;
    const qint64 n = columnCount;
    ColumnRoles roles;
    roles.first = {0, firstY};
    if (n > 1) {
        roles.second = {1, secondY};
        roles.beforeLast = {n - 2, beforeLastY};
    }
    roles.last = {n - 1, lastY};
    roles.lowest = {lowIndex, lowY};
    if (highIndex >= 0)
        roles.highest = {highIndex, highY};
    if (runCount > 1) {
        roles.secondRun = {secondRunIndex, secondRunY};
        roles.endBefore1 = {runBefore1.lastIndex, runBefore1.y};
    }
    if (runCount > 2)
        roles.endBefore2 = {runBefore2.lastIndex, runBefore2.y};
    ColumnPoint kept[9];
    const int count = keptColumnPoints(roles, kept);
    for (int i = 0; i < count; ++i)
        clipAndAppend(QPointF(columnX, kept[i].y));
}

int CurvePainter::outcode(const QPointF& q) const {
    int code = 0;
    if (q.x() < left)
        code |= kLeft;
    else if (q.x() > right)
        code |= kRight;
    if (q.y() < top)
        code |= kTop;
    else if (q.y() > bottom)
        code |= kBottom;
    return code;
}

// Cohen-Sutherland: an end outside the rectangle is moved to the crossing with one of the
// edges it lies beyond until both ends are inside (true) or both lie beyond the same edge
// (false). Each move puts the end exactly on an edge, so four moves per end suffice; the
// bound only guards against rounding that would keep an end just outside.
bool CurvePainter::clipSegment(QPointF& a, QPointF& b) const {
    int codeA = outcode(a);
    int codeB = outcode(b);
    for (int step = 0; step < 8; ++step) {
        if ((codeA | codeB) == 0)
            return true;
        if ((codeA & codeB) != 0)
            return false;
        const bool moveA = codeA != 0;
        QPointF& p = moveA ? a : b;
        const QPointF& o = moveA ? b : a;
        const int code = moveA ? codeA : codeB;
        if (code & (kLeft | kRight)) {
            const double edge = (code & kLeft) ? left : right;
            p = QPointF(edge, crossing(p.x(), p.y(), o.x(), o.y(), edge));
        } else {
            const double edge = (code & kTop) ? top : bottom;
            p = QPointF(crossing(p.y(), p.x(), o.y(), o.x(), edge), edge);
        }
        (moveA ? codeA : codeB) = outcode(p);
    }
    return false;
}

// Builds the polyline piece by piece: a piece ends where the curve leaves the clip rectangle
// and a new one starts where it comes back. While the previous point is inside, the piece
// ends with it, so a segment that starts inside simply continues the piece.
void CurvePainter::clipAndAppend(const QPointF& q) {
    const bool qInside = outcode(q) == 0;
    if (!havePrevious) {
        havePrevious = true;
        previous = q;
        if (qInside)
            piece.append(q);
        return;
    }
    const bool previousInside = outcode(previous) == 0;
    if (previousInside && qInside) {
        piece.append(q);
    } else {
        QPointF a = previous;
        QPointF b = q;
        if (clipSegment(a, b)) {
            if (!previousInside) {
                flushPiece();
                piece.append(a);
            }
            piece.append(b);
            if (!qInside)
                flushPiece();
        }
    }
    previous = q;
}

// A piece of a single point (an isolated finite point between breaks) draws nothing in
// QPainter and is dropped here.
void CurvePainter::flushPiece() {
    if (piece.size() > 1) {
        painter.drawPolyline(piece.constData(), piece.size());
        drawn += piece.size();
    }
    piece.clear();
}
