#pragma once

#include "curvepainter.h"

#include <QVector>

class ChCoord;
class QPainter;

// Draws the diffraction curve: a grey frame, tick grids on both axes at the steps niceTicks
// chooses, labelled with their values (on the logarithmic scale the y labels are base-10
// exponents), and the curve in green. The frame's pixel area must be set. While neverDraw is
// set the scale is derived from the data (theta from -2 to the largest angle + 2; the
// intensity from -5 % to 105 % of its maximum, or on the logarithmic scale the span of its
// logarithms widened by 5 % on both sides) and neverDraw is cleared; otherwise the user's
// zoom is kept. An empty curve draws nothing and leaves neverDraw as it is.
//
// Values without a finite position (a NaN or infinite intensity, and on the logarithmic
// scale an intensity of zero or below) break the curve, and the derived ranges use finite
// values only; a range that would still be empty or overflow falls back to the span of the
// values, then to a unit range around them, then to 0..1. The curve goes through
// drawDataCurve: Detail::Reduced (the default) hands the painter only each pixel column's
// decisive points, Detail::AllPoints every point (same pixels; for tests and benchmarks).
void drawDiffraction(QPainter& p, ChCoord& coord, const QVector<double>& theta,
                     const QVector<double>& intensity, bool logScale, bool& neverDraw,
                     CurvePainter::Detail detail = CurvePainter::Detail::Reduced);
