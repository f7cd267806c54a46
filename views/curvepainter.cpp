#include "curvepainter.h"

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
// line, v the one along it; c lies between pu and ou). The result is the mean of pv and ov
// weighted by the distances of c from the other end. Each weight is formed from halved
// differences, which cannot overflow even for ends near the largest double, and a far end
// gets a small but accurate weight: the crossing near a visible end keeps the precision of
// that end instead of inheriting the rounding error of the far one.
double crossing(double pu, double pv, double ou, double ov, double c) {
    const double span = 0.5 * ou - 0.5 * pu;
    if (span == 0.0)
        return pv;
    const double wp = (0.5 * ou - 0.5 * c) / span;
    const double wo = (0.5 * c - 0.5 * pu) / span;
    return saturated(pv * wp + ov * wo);
}

struct IndexedY {
    qint64 index;
    double y;
};

} // namespace

CurvePainter::CurvePainter(QPainter& painter, const QRectF& pixelArea, Detail detail)
    : painter(painter), detail(detail) {
    const QRectF area = pixelArea.normalized();
    left = area.left() - kReach;
    right = area.right() + kReach;
    top = area.top() - kReach;
    bottom = area.bottom() + kReach;
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
        if (y < lowY) {
            lowY = y;
            lowIndex = index;
        }
        if (y > highY) {
            highY = y;
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
    lowIndex = highIndex = 0;
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
    IndexedY kept[6];
    int count = 0;
    kept[count++] = {0, firstY};
    if (n > 1)
        kept[count++] = {1, secondY};
    kept[count++] = {lowIndex, lowY};
    kept[count++] = {highIndex, highY};
    if (n > 1)
        kept[count++] = {n - 2, beforeLastY};
    kept[count++] = {n - 1, lastY};
    std::sort(kept, kept + count,
              [](const IndexedY& a, const IndexedY& b) { return a.index < b.index; });
    for (int i = 0; i < count; ++i) {
        if (i > 0 && kept[i].index == kept[i - 1].index)
            continue;
        clipAndAppend(QPointF(columnX, kept[i].y));
    }
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

void CurvePainter::flushPiece() {
    if (piece.isEmpty())
        return;
    painter.drawPolyline(piece.constData(), piece.size());
    drawn += piece.size();
    piece.clear();
}
