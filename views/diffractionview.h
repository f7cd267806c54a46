#pragma once

#include "views/curvepainter.h"
#include "views/plotaxes.h"
#include "views/plotrange.h"

#include <QVector>

#include <functional>
#include <initializer_list>
#include <optional>

class ChCoord;
class QPainter;

// The diffraction plot runs closer to the top and bottom edges of its display than the
// frame's defaults: sets marginTop 0.02 and marginBottom 0.05.
void setDiffractionMargins(ChCoord& coord);

// The ranges the diffraction view shows when it derives them from a curve: theta from -2 to
// the largest angle + 2; the intensity from -5 % to 105 % of its maximum, or on the
// logarithmic scale the span of its logarithms widened by 5 % on both sides. Only finite
// values count (on the logarithmic scale only positive ones); a range that would still be
// empty or overflow falls back to the span of the values, then to a unit range around them,
// then to 0..1. Nothing for an empty curve (no angles).
// With `window` (a realistic model's curve, computed around its reflection) the angle axis
// spans the curve's angles widened by 2 % on both sides instead.
std::optional<PlotRange> diffractionRange(const QVector<double>& theta,
                                          const QVector<double>& intensity, bool logScale,
                                          bool window = false);

// Several curves whose values share one axis.
using Curves = std::initializer_list<std::reference_wrapper<const QVector<double>>>;

// The intensity axis as diffractionRange derives it, over the values of all the curves
// together (each value counts as if it were one curve's).
AxisRange intensityRange(Curves intensity, bool logScale);

namespace viewsupport {
struct LabelSizes;
}

// The frame of the diffraction plot as it stands (plot rectangle and scale set by the
// caller), in grey: the outline, tick grids on both axes at the steps niceTicks chooses,
// labelled with their values (on the logarithmic scale as powers of ten; with a relative
// angle axis in arcseconds from the reference). Label sizes come from the frame unless
// given. Shared with the overlay of a measured scan.
void drawDiffractionAxes(QPainter& p, const ChCoord& coord, bool logScale,
                         const DiffractionAxes& axes,
                         const viewsupport::LabelSizes* sizes = nullptr);

// The two axis titles on white boxes in the plot's corners (the angle at the bottom right,
// the intensity at the top left), where the derived ranges leave 5 % free; drawn over the
// curves. Left out when the plot is too small for them.
void drawDiffractionTitles(QPainter& p, const ChCoord& coord, const DiffractionAxes& axes,
                           const viewsupport::LabelSizes* sizes = nullptr);

// Draws the diffraction curve into the frame as it stands (plot rectangle and scale set by
// the caller): drawDiffractionAxes, then the curve in green. An empty curve draws nothing.
//
// Values without a finite position (a NaN or infinite intensity, and on the logarithmic
// scale an intensity of zero or below) break the curve. The curve goes through
// drawDataCurve: Detail::Reduced (the default) hands the painter only each pixel column's
// decisive points, Detail::AllPoints every point (same pixels; for tests and benchmarks).
void drawDiffraction(QPainter& p, const ChCoord& coord, const QVector<double>& theta,
                     const QVector<double>& intensity, bool logScale,
                     CurvePainter::Detail detail = CurvePainter::Detail::Reduced,
                     const DiffractionAxes& axes = DiffractionAxes());
