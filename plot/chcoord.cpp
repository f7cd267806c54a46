#include "plot/chcoord.h"

#include "plot/mousec.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace {

// Limits that keep every scale the mouse produces usable by the mappings. Zooming in stops
// while the shown range is still at least a trillionth of the magnitude of its end values
// (thousands of representable doubles across the plot) and at least kMinRange; zooming out
// and panning stop before the end values pass kMaxMagnitude, which leaves headroom of some
// fifty decades for pixel offsets far outside the plot rectangle before anything overflows.
constexpr double kMinRelativeRange = 1e-12;
constexpr double kMinRange = 1e-280;
constexpr double kMaxMagnitude = 1e250;

// The mean of a and b without overflow for values near the largest double.
double middle(double a, double b) {
    return a * 0.5 + b * 0.5;
}

double finiteOr(double v, double fallback) {
    return std::isfinite(v) ? v : fallback;
}

// Keeps a mapped value finite: an overflow saturates at the largest double of its sign, an
// undefined result (only possible from non-finite fields) becomes the fallback.
double saturate(double v, double fallback) {
    if (std::isnan(v))
        return fallback;
    if (std::isinf(v))
        return std::copysign(std::numeric_limits<double>::max(), v);
    return v;
}

// Conversion to a 32-bit int toward zero, saturating where the plain conversion would be
// undefined (NaN gives 0, values beyond the int range the nearest bound).
int truncToInt(double v) {
    if (std::isnan(v))
        return 0;
    if (v >= 2147483648.0)
        return INT_MAX;
    if (v <= -2147483649.0)
        return INT_MIN;
    return static_cast<int>(v);
}

bool hasExtent(double a, double b) {
    const double d = b - a;
    return d != 0.0 && std::isfinite(d);
}

double magnitude(double a, double b) {
    return std::max(std::fabs(a), std::fabs(b));
}

// Extent of [a, b] in units of the smallest extent the mouse may produce; below 1 the range
// is too narrow to be resolved well by doubles.
double resolution(double a, double b) {
    return std::fabs(b - a) / std::max(kMinRange, kMinRelativeRange * magnitude(a, b));
}

// Whether a gesture may replace the range [oldA, oldB] of one axis by [a, b]. The new range
// must be finite with nonzero extent; beyond that a gesture never takes a range further
// outside the limits above, so a range the view set outside them can still be brought back.
bool acceptableChange(double a, double b, double oldA, double oldB) {
    if (!std::isfinite(a) || !std::isfinite(b) || !hasExtent(a, b))
        return false;
    const double q = resolution(a, b);
    if (q < 1.0 && !(q >= resolution(oldA, oldB)))
        return false;
    const double m = magnitude(a, b);
    if (m > kMaxMagnitude && !(m <= magnitude(oldA, oldB)))
        return false;
    return true;
}

// Replaces the range [s0, s1] of one axis by [a, b] when a gesture may (acceptableChange).
void applyRange(double a, double b, double& s0, double& s1) {
    if (acceptableChange(a, b, s0, s1)) {
        s0 = a;
        s1 = b;
    }
}

// Data to pixels along one axis. When the scale or the plot rectangle has no extent (after
// clearScale, or before a view has set a scale), the factor is undefined and every value is
// drawn at the middle of the plot rectangle, so callers are never handed NaN or infinity.
double toPixel(double v, double s0, double s1, double p0, double p1) {
    const double mid = finiteOr(middle(p0, p1), 0.0);
    if (!hasExtent(s0, s1))
        return mid;
    const double k = (p1 - p0) / (s1 - s0);
    if (k == 0.0 || !std::isfinite(k))
        return mid;
    return saturate(p0 + (v - s0) * k, mid);
}

// Pixels to data along one axis, for the mouse slots. Without a pixel extent every position
// reads as the middle of the scale, so a gesture there moves nothing.
double toData(double p, double p0, double p1, double s0, double s1) {
    const double mid = finiteOr(middle(s0, s1), 0.0);
    if (!hasExtent(p0, p1))
        return mid;
    return saturate(s0 + (p - p0) * ((s1 - s0) / (p1 - p0)), mid);
}

// Whether p lies within the fraction `edge` of the width of [a, b] from either end; anything
// outside the interval counts as inside the band of its side.
bool nearEdge(double p, double a, double b, double edge) {
    const double w = std::fabs(b - a) * edge;
    if (b > a)
        return p < a + w || p > b - w;
    return p < b + w || p > a - w;
}

} // namespace

ChCoord::ChCoord() = default;

ChCoord::~ChCoord() = default;

bool ChCoord::connectMouse(MouseC* m) {
    mouse = m;
    bool ok = true;
    ok = static_cast<bool>(connect(m, SIGNAL(mMoved()), this, SLOT(mMoved()))) && ok;
    ok = static_cast<bool>(connect(m, SIGNAL(mPressed()), this, SLOT(mPressed()))) && ok;
    ok = static_cast<bool>(connect(m, SIGNAL(mReleased()), this, SLOT(mReleased()))) && ok;
    ok = static_cast<bool>(connect(m, SIGNAL(mDClicked()), this, SLOT(mDClicked()))) && ok;
    ok = static_cast<bool>(connect(m, SIGNAL(wheelMoved(int)), this, SLOT(wheelMoved(int)))) && ok;
    return ok;
}

void ChCoord::setArea(double x0, double y0, double x1, double y1) {
    winX0 = x0;
    winY0 = y0;
    winX1 = x1;
    winY1 = y1;
    plotX0 = x0;
    plotY0 = y0;
    plotX1 = x1;
    plotY1 = y1;
}

// Each margin is the product truncated to whole pixels, so the plot rectangle lies on whole
// pixels when the area does. H is negative for a display (winY0 is the bottom), which makes
// the bottom margin move plotY0 up and the top margin move plotY1 down.
void ChCoord::applyMargins() {
    const double w = winX1 - winX0;
    const double h = winY1 - winY0;
    plotX0 = winX0 + truncToInt(marginLeft * w);
    plotX1 = winX1 - truncToInt(w * marginRight);
    plotY0 = winY0 + truncToInt(marginBottom * h);
    plotY1 = winY1 - truncToInt(h * marginTop);
}

void ChCoord::setScale(double x0, double y0, double x1, double y1) {
    scaleX0 = x0;
    scaleY0 = y0;
    scaleX1 = x1;
    scaleY1 = y1;
}

double ChCoord::toPixX(double x) const {
    return toPixel(x, scaleX0, scaleX1, plotX0, plotX1);
}

double ChCoord::toPixY(double y) const {
    return toPixel(y, scaleY0, scaleY1, plotY0, plotY1);
}

// A signed data distance in pixels; 0 when the scale or the plot rectangle has no extent.
double ChCoord::lenPixX(double dx) const {
    if (!hasExtent(scaleX0, scaleX1))
        return 0.0;
    const double k = (plotX1 - plotX0) / (scaleX1 - scaleX0);
    if (!std::isfinite(k))
        return 0.0;
    return saturate(k * dx, 0.0);
}

double ChCoord::dataX(double px) const {
    return toData(px, plotX0, plotX1, scaleX0, scaleX1);
}

double ChCoord::dataY(double py) const {
    return toData(py, plotY0, plotY1, scaleY0, scaleY1);
}

bool ChCoord::nearXEdge(double px) const {
    return nearEdge(px, plotX0, plotX1, zoomEdge);
}

bool ChCoord::nearYEdge(double py) const {
    return nearEdge(py, plotY0, plotY1, zoomEdge);
}

void ChCoord::clearScale() {
    scaleX0 = 0;
    scaleX1 = 0;
    scaleY0 = 0;
    scaleY1 = 0;
}

// Reports the data position under the cursor; a left-button drag started without Shift,
// Control or Alt shifts the scale so that the data point under the previous position comes
// under the current one.
void ChCoord::mMoved() {
    const double x = dataX(mouse->curX);
    const double y = dataY(mouse->curY);
    emit nowPos(x, y);
    const int blocking = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    if (mouse->pressed && mouse->pressButton == Qt::LeftButton &&
        (mouse->pressModifiers & blocking) == 0) {
        if (hasExtent(plotX0, plotX1)) {
            const double dx = dataX(mouse->prevX) - x;
            const double x0 = scaleX0 + dx;
            const double x1 = scaleX1 + dx;
            applyRange(x0, x1, scaleX0, scaleX1);
        }
        if (hasExtent(plotY0, plotY1)) {
            const double dy = dataY(mouse->prevY) - y;
            const double y0 = scaleY0 + dy;
            const double y1 = scaleY1 + dy;
            applyRange(y0, y1, scaleY0, scaleY1);
        }
    }
    emit updated();
}

void ChCoord::mPressed() {
    emit updated();
}

// Zooms to the rectangle dragged with the right button. The x range runs from the left to
// the right end of the band; the y range takes the left end's y as its top, so a band whose
// left end is the lower one turns the plot upside down. A band without width or height (a
// plain right click) would leave a scale of zero extent and is ignored, as is one too narrow
// for the resolution limits.
void ChCoord::mReleased() {
    const int blocking = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    if (mouse->pressButton == Qt::RightButton && (mouse->pressModifiers & blocking) == 0 &&
        hasExtent(plotX0, plotX1) && hasExtent(plotY0, plotY1)) {
        const bool pressIsLeft = mouse->pressX <= mouse->releaseX;
        const int leftX = pressIsLeft ? mouse->pressX : mouse->releaseX;
        const int leftY = pressIsLeft ? mouse->pressY : mouse->releaseY;
        const int rightX = pressIsLeft ? mouse->releaseX : mouse->pressX;
        const int rightY = pressIsLeft ? mouse->releaseY : mouse->pressY;
        const double x0 = dataX(leftX);
        const double x1 = dataX(rightX);
        const double y1 = dataY(leftY);
        const double y0 = dataY(rightY);
        if (acceptableChange(x0, x1, scaleX0, scaleX1) &&
            acceptableChange(y0, y1, scaleY0, scaleY1)) {
            setScale(x0, y0, x1, y1);
        }
    }
    emit updated();
}

void ChCoord::mDClicked() {
    emit updated();
}

// Zooms about the data point under the last recorded cursor position: out by 1.1 for a
// negative step, otherwise in by 1/1.1; only the sign of the step counts. Over the band along
// the left or right edge (the y labels) only y is zoomed, over the top or bottom band only x,
// elsewhere and in the corners both. An axis whose step would leave the resolution limits,
// or that has no pixel extent, keeps its range.
void ChCoord::wheelMoved(int step) {
    const double f = step < 0 ? 1.1 : 1.0 / 1.1;
    const bool ex = nearXEdge(mouse->curX);
    const bool ey = nearYEdge(mouse->curY);
    if ((ey || !ex) && hasExtent(plotX0, plotX1)) {
        const double ax = dataX(mouse->curX);
        const double x0 = ax + (scaleX0 - ax) * f;
        const double x1 = ax + (scaleX1 - ax) * f;
        applyRange(x0, x1, scaleX0, scaleX1);
    }
    if ((ex || !ey) && hasExtent(plotY0, plotY1)) {
        const double ay = dataY(mouse->curY);
        const double y0 = ay + (scaleY0 - ay) * f;
        const double y1 = ay + (scaleY1 - ay) * f;
        applyRange(y0, y1, scaleY0, scaleY1);
    }
    emit updated();
}
