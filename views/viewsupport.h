#pragma once

#include "niceticks.h"

#include <initializer_list>

class ChCoord;
class QPainter;

// Helpers shared by the composition and diffraction views: usable axis ranges, safe pixel
// conversions and the bounded tick loop. Not meant for other callers.
namespace viewsupport {

// How far outside the pixel area lines and labels are still drawn; beyond it they cannot
// show, and their positions are not converted to int. Same reach as the curves get.
constexpr double kReach = 8192.0;

// A data range of one axis, lo at the plot's left (bottom) edge.
struct AxisRange {
    double lo = 0;
    double hi = 1;
};

// A range the frame can map without dividing by zero or overflowing: both ends finite, lo
// below hi, the width finite and above 1e-280 (so that pixels per data unit stay finite for
// any plot size).
bool isUsable(const AxisRange& r);

// The first usable range of the candidates, or 0..1 when none is.
AxisRange firstUsable(std::initializer_list<AxisRange> candidates);

// A unit range centred on v (a flat curve sits in the middle of the plot).
AxisRange unitRangeAround(double v);

// Conversion toward zero to int for pixel positions. NaN gives 0 and values beyond
// +-(1 << 24) pixels saturate there, so the conversion itself is always defined.
int pixelInt(double v);

// The pixel area of the frame widened by kReach on every side.
struct Reach {
    explicit Reach(const ChCoord& coord);
    bool containsX(double x) const { return x >= left && x <= right; } // false for NaN
    bool containsY(double y) const { return y >= top && y <= bottom; }
    double left, right, top, bottom;
};

// Label layout shared by both views: row height h (negative, pixel y grows downward),
// label box height k and width of the left margin m, all whole pixels.
struct LabelSizes {
    int h = 0;
    int k = 0;
    int m = 0;
};
LabelSizes labelSizes(const ChCoord& coord);

// Outlines the plot rectangle with the painter's pen (one QRect through drawRects).
void outlinePlot(QPainter& p, const ChCoord& coord);

// A label box width as given, limited to twice the reach: wider boxes are off-screen anyway
// and the font size of a capped label does not depend on the box width once it is this wide.
double boundedLabelWidth(double w);

// Never more ticks than this on one axis: niceTicks gives at most about 50, the bound only
// stops a loop whose step is lost in the rounding of a huge tick value.
constexpr int kMaxTicks = 200;

// Calls f(v) for v = firstTick, firstTick + tickStep, ... while v <= lastTick, advancing by
// repeated addition; stops early after kMaxTicks values or when an addition no longer
// changes v.
template <class F> void forEachTick(const TickRange& t, F f) {
    double v = t.firstTick;
    for (int i = 0; i < kMaxTicks && v <= t.lastTick; ++i) {
        f(v);
        const double next = v + t.tickStep;
        if (!(next > v))
            break;
        v = next;
    }
}

} // namespace viewsupport
