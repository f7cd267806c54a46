#include "views/viewsupport.h"

#include "plot/chcoord.h"

#include <QPainter>
#include <QRect>

#include <algorithm>
#include <cmath>

namespace viewsupport {

namespace {
constexpr double kMinWidth = 1e-280;
constexpr double kIntPixelLimit = 16777216.0; // 1 << 24
} // namespace

bool isUsable(const AxisRange& r) {
    if (!std::isfinite(r.lo) || !std::isfinite(r.hi) || !(r.lo < r.hi))
        return false;
    const double width = r.hi - r.lo;
    return std::isfinite(width) && width > kMinWidth;
}

AxisRange firstUsable(std::initializer_list<AxisRange> candidates) {
    for (const AxisRange& r : candidates) {
        if (isUsable(r))
            return r;
    }
    return AxisRange{0.0, 1.0};
}

AxisRange unitRangeAround(double v) {
    return AxisRange{v - 0.5, v + 0.5};
}

int pixelInt(double v) {
    if (std::isnan(v))
        return 0;
    return static_cast<int>(std::min(kIntPixelLimit, std::max(-kIntPixelLimit, v)));
}

Reach::Reach(const ChCoord& coord)
    : left(std::min(coord.winX0, coord.winX1) - kReach),
      right(std::max(coord.winX0, coord.winX1) + kReach),
      top(std::min(coord.winY0, coord.winY1) - kReach),
      bottom(std::max(coord.winY0, coord.winY1) + kReach) {}

// The row height comes from the plot height (negative on a display, whose y grows
// downward); a frame with no text rows gets no label height rather than a division by 0.
LabelSizes labelSizes(const ChCoord& coord) {
    LabelSizes s;
    const double rowHeight =
        coord.textRows != 0 ? (coord.plotY1 - coord.plotY0) / coord.textRows : 0.0;
    s.h = pixelInt(rowHeight);
    s.k = std::abs(pixelInt(s.h * coord.textFill));
    s.m = std::abs(pixelInt((coord.winX1 - coord.winX0) * coord.marginLeft));
    return s;
}

void outlinePlot(QPainter& p, const ChCoord& coord) {
    const QRect frame(pixelInt(coord.plotX0), pixelInt(coord.plotY0),
                      pixelInt(coord.plotX1 - coord.plotX0), pixelInt(coord.plotY1 - coord.plotY0));
    p.drawRects(&frame, 1);
}

AxisMap AxisMap::xOf(const ChCoord& coord) {
    return AxisMap(coord, true, coord.scaleX0, coord.scaleX1, coord.plotX0, coord.plotX1);
}

AxisMap AxisMap::yOf(const ChCoord& coord) {
    return AxisMap(coord, false, coord.scaleY0, coord.scaleY1, coord.plotY0, coord.plotY1);
}

AxisMap::AxisMap(const ChCoord& coord, bool xAxis, double s0, double s1, double p0, double p1)
    : coord(coord), xAxis(xAxis), s0(s0), p0(p0) {
    const double scaleExtent = s1 - s0;
    k = (p1 - p0) / scaleExtent;
    direct = scaleExtent != 0.0 && std::isfinite(scaleExtent) && k != 0.0 && std::isfinite(k) &&
             std::isfinite(p0) && std::isfinite(s0);
}

double AxisMap::viaFrame(double v) const {
    return xAxis ? coord.toPixX(v) : coord.toPixY(v);
}

double boundedLabelWidth(double w) {
    if (std::isnan(w))
        return 0.0;
    const double limit = 2.0 * kReach;
    return std::min(limit, std::max(-limit, w));
}

} // namespace viewsupport
