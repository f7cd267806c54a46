#pragma once

#include "views/niceticks.h"
#include "views/plotrange.h"

#include <Qt>

#include <cmath>
#include <initializer_list>
#include <limits>

class ChCoord;
class QPainter;

// Helpers shared by the composition and diffraction views: usable axis ranges, safe pixel
// conversions, the fast axis mapping and the bounded tick loop. Internal to the views (and
// their tests).
namespace viewsupport {

// How far outside the pixel area anything is drawn, in pixels: curve segments are clipped
// there (CurvePainter), and grid lines and labels beyond it are skipped, so their positions
// are never converted to int. Far enough that no clipped end or joint can show, near enough
// that the painter's fixed-point rasteriser (16.16 bits in the cosmetic line stroker) never
// overflows for any real screen.
constexpr double kReach = 8192.0;

// Axis labels of both views: the x labels centred under their tick, the y labels right-aligned
// and vertically centred on theirs, each fitted to its box but never above kMaxLabelPoints.
constexpr int kCentred = Qt::AlignCenter;                        // 132
constexpr int kRightCentred = Qt::AlignRight | Qt::AlignVCenter; // 130
constexpr double kMaxLabelPoints = 15.0;

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
// label box height k and width of the left margin m, all whole pixels. Labels are centred
// half a box height below the plot rectangle and in the middle of the left margin, both
// halves cut to whole pixels.
struct LabelSizes {
    int h = 0;
    int k = 0;
    int m = 0;
    int halfK() const { return k / 2; }
    int halfM() const { return m / 2; }
};
LabelSizes labelSizes(const ChCoord& coord);

// Outlines the plot rectangle with the painter's pen (one QRect through drawRects).
void outlinePlot(QPainter& p, const ChCoord& coord);

// A label box width as given, limited to twice the reach: wider boxes are off-screen anyway
// and the font size of a capped label does not depend on the box width once it is this wide.
double boundedLabelWidth(double w);

// The frame's data-to-pixel mapping of one axis with its factor computed once, for curves of
// many points (ChCoord recomputes the factor, a division, on every call). For every value it
// returns exactly what ChCoord::toPixX (toPixY) returns: the documented mapping plot edge +
// (value - scale edge) x factor, evaluated the same way and saturating at the largest double
// as the frame does; wherever that formula does not apply (a scale or plot of no extent, a
// non-finite value) it asks the frame itself.
class AxisMap {
public:
    static AxisMap xOf(const ChCoord& coord);
    static AxisMap yOf(const ChCoord& coord);

    double operator()(double v) const {
        if (direct) {
            const double r = directValue(v);
            if (std::fabs(r) <= std::numeric_limits<double>::max())
                return r;
            if (std::isinf(r))
                return std::copysign(std::numeric_limits<double>::max(), r);
        }
        return viaFrame(v);
    }

    // Whether the plain formula applies; then direct(v) is the mapping of any finite v whose
    // result is finite.
    bool isDirect() const { return direct; }
    double directValue(double v) const { return p0 + (v - s0) * k; }

private:
    AxisMap(const ChCoord& coord, bool xAxis, double s0, double s1, double p0, double p1);
    double viaFrame(double v) const;

    const ChCoord& coord;
    bool xAxis;
    bool direct = false;
    double s0 = 0, p0 = 0, k = 0;
};

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
