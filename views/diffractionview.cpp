#include "views/diffractionview.h"

#include "plot/chcoord.h"
#include "plot/drawtext.h"
#include "views/datacurve.h"
#include "views/viewsupport.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cmath>
#include <utility>

using namespace viewsupport;

namespace {

// Largest and smallest of the values that pass `accept`; found = false when none does.
struct Extremes {
    double low = 1e300;
    double high = -1e300;
    bool found = false;
};

template <class Accept> Extremes extremes(Curves curves, Accept accept) {
    Extremes e;
    for (const QVector<double>& values : curves) {
        for (double v : values) {
            if (!accept(v))
                continue;
            e.found = true;
            e.low = std::min(e.low, v);
            e.high = std::max(e.high, v);
        }
    }
    return e;
}

bool isFiniteValue(double v) {
    return std::isfinite(v);
}

// From -2 to 2 beyond the largest angle. Should no angle exceed -4, the range would be
// reversed; it then spans the finite angles with the same 2-degree pads instead. A curve
// computed in a window around a reflection spans that window widened by 2 % on both sides,
// as a measured scan does; from 0 it would be a line at the plot's edge.
AxisRange thetaRange(const QVector<double>& theta, bool window) {
    const Extremes t = extremes({theta}, isFiniteValue);
    if (!t.found)
        return AxisRange{-2.0, 2.0};
    if (window) {
        const double pad = 0.02 * (t.high - t.low);
        return firstUsable(
            {AxisRange{t.low - pad, t.high + pad}, AxisRange{t.low - 2.0, t.high + 2.0}});
    }
    return firstUsable({AxisRange{-2.0, t.high + 2.0}, AxisRange{t.low - 2.0, t.high + 2.0},
                        AxisRange{-2.0, 2.0}});
}

// Linear: -5 % to 105 % of the largest finite intensity. When that is not positive (a curve
// of zeros or of negative values) the span of the finite values widened by 5 % is shown
// (without the widening should it overflow), and a flat curve gets a unit range around its
// value.
AxisRange linearRange(Curves intensity) {
    const Extremes e = extremes(intensity, isFiniteValue);
    if (!e.found)
        return AxisRange{0.0, 1.0};
    const double pad = (e.high - e.low) * 0.05;
    return firstUsable({AxisRange{-0.05 * e.high, 1.05 * e.high},
                        AxisRange{e.low - pad, e.high + pad}, AxisRange{e.low, e.high},
                        unitRangeAround(e.high)});
}

// Logarithmic: the span of the base-10 logarithms of the positive finite intensities (the
// only ones that have a finite logarithm), widened by 5 % of that span on both sides.
AxisRange logRange(Curves intensity) {
    const Extremes e = extremes(intensity, [](double v) { return std::isfinite(v) && v > 0.0; });
    if (!e.found)
        return AxisRange{0.0, 1.0};
    const double top = std::log10(e.high);
    const double bottom = std::log10(e.low);
    const double pad = (top - bottom) * 0.05;
    return firstUsable({AxisRange{bottom - pad, top + pad}, unitRangeAround(top)});
}

} // namespace

void setDiffractionMargins(ChCoord& coord) {
    coord.marginTop = 0.02;
    coord.marginBottom = 0.05;
}

AxisRange intensityRange(Curves intensity, bool logScale) {
    return logScale ? logRange(intensity) : linearRange(intensity);
}

std::optional<PlotRange> diffractionRange(const QVector<double>& theta,
                                          const QVector<double>& intensity, bool logScale,
                                          bool window) {
    if (theta.isEmpty())
        return std::nullopt;
    return PlotRange{thetaRange(theta, window), intensityRange({intensity}, logScale)};
}

void drawDiffractionAxes(QPainter& p, const ChCoord& coord, bool logScale,
                         const DiffractionAxes& axes, const LabelSizes* sizes) {
    const LabelSizes s = sizes ? *sizes : labelSizes(coord);
    const Reach reach(coord);

    DrawText text;
    const QFont font;
    p.setPen(QColor(128, 128, 128));
    outlinePlot(p, coord);

    // Angle grid: a line per tick, its value centred under it in a box one step wide. A
    // relative axis gets its ticks in arcseconds from the reference.
    const bool relative = axes.relative();
    const double origin = relative ? axes.reference : 0.0;
    const double unit = relative ? kArcsecPerDegree : 1.0;
    const TickRange xTicks =
        niceTicks((coord.scaleX0 - origin) * unit, (coord.scaleX1 - origin) * unit);
    const double xLabelWidth = boundedLabelWidth(coord.lenPixX(xTicks.tickStep / unit));
    const double xLabelY = coord.plotY0 + std::abs(s.h) - s.halfK();
    const int bottomY = pixelInt(coord.plotY0);
    const int topY = pixelInt(coord.plotY1);
    forEachTick(xTicks, [&](double v) {
        const double x = coord.toPixX(origin + v / unit);
        if (!reach.containsX(x))
            return;
        p.drawLine(pixelInt(x), bottomY, pixelInt(x), topY);
        text.fitText(&p, text.centeredRect(x, xLabelY, xLabelWidth, s.k), font, kCentred, 1,
                     QString::number(v, 'g', 6), kMaxLabelPoints);
    });

    // Intensity grid (powers of ten on the logarithmic scale), labels in the left margin.
    const TickRange yTicks = niceTicks(coord.scaleY0, coord.scaleY1);
    const int leftX = pixelInt(coord.plotX0);
    const int rightX = pixelInt(coord.plotX1);
    forEachTick(yTicks, [&](double v) {
        const double y = coord.toPixY(v);
        if (!reach.containsY(y))
            return;
        p.drawLine(leftX, pixelInt(y), rightX, pixelInt(y));
        text.fitText(&p, text.centeredRect(s.halfM(), y, 0.9 * s.m, s.k), font, kRightCentred, 1,
                     intensityLabel(v, logScale), kMaxLabelPoints);
    });
}

void drawDiffractionTitles(QPainter& p, const ChCoord& coord, const DiffractionAxes& axes,
                           const LabelSizes* sizes) {
    const LabelSizes s = sizes ? *sizes : labelSizes(coord);
    // Axis titles, one label height high, in the corners the derived ranges keep clear.
    const QRectF frame = frameRect(coord);
    const double height = s.k + 2.0;
    if (!(frame.height() > 4.0 * height) || !std::isfinite(frame.width()))
        return;
    const double maxWidth = 0.45 * frame.width();
    drawTextBox(p,
                textBox(p, frame.right() - 2.0, frame.bottom() - 2.0 - height, height, maxWidth,
                        angleTitle(axes), true),
                angleTitle(axes));
    drawTextBox(p,
                textBox(p, frame.left() + 2.0, frame.top() + 2.0, height, maxWidth,
                        intensityTitle(axes.unit), false),
                intensityTitle(axes.unit));
}

void drawDiffraction(QPainter& p, const ChCoord& coord, const QVector<double>& theta,
                     const QVector<double>& intensity, bool logScale, CurvePainter::Detail detail,
                     const DiffractionAxes& axes) {
    if (theta.isEmpty())
        return;
    const DiffractionAxes resolved = withReference(axes, theta, intensity);
    drawDiffractionAxes(p, coord, logScale, resolved);
    p.setPen(QColor(0, 200, 0));
    p.save();
    p.setClipRect(frameRect(coord));
    drawDataCurve(p, coord, theta, intensity, logScale, detail);
    p.restore();
    drawDiffractionTitles(p, coord, resolved);
}
