#pragma once

#include "views/plotaxes.h"
#include "views/plotrange.h"

#include <QRectF>

#include <QVector>

#include <optional>

class ChCoord;
class QPainter;

// A measured scan beside the model computed at its angles, as the diffraction plot overlays
// them. Filled by the window and the batch tool from their comparison with the scan.
struct OverlayData {
    QVector<double> theta;    // degrees, ascending: the measured angles with the offset applied
    QVector<double> measured; // counts per second (0 where nothing was counted)
    QVector<double> model;    // counts per second
    // Angles (degrees) to mark on the measured curve (substrate, main peak, satellites).
    QVector<double> measuredPeaks;
    QVector<double> modelPeaks; // angles (degrees) to mark on the model
};

// The ranges the overlay shows when it derives them: the span of the finite angles widened by
// 2 % on both sides (a single angle gets a unit range around it); the intensity axis as the
// diffraction view derives it, over the values of both curves together (linear: -5 % to
// 105 % of the largest; logarithmic: the span of the logarithms of the positive values,
// widened by 5 %). Nothing for an empty scan (no angles).
std::optional<PlotRange> overlayRange(const OverlayData& d, bool logScale);

// log10(measured) - log10(model) at every point; NaN where either is not a positive finite
// number (nothing was counted there), so only finite residuals are ever drawn.
QVector<double> logResiduals(const QVector<double>& measured, const QVector<double>& model);

// Takes the residual strip from the bottom of the plot rectangle (a fifth of its height, for
// plots at least 160 pixels high): moves the frame's bottom edge up above the strip and a
// row for the angle labels, and returns the strip's pixel rectangle. Nothing when the plot
// is too small, the frame unchanged.
std::optional<QRectF> reserveResidualStrip(ChCoord& coord);

// Draws the overlay into the frame as it stands (plot rectangle and scale set by the caller):
// when any residual is finite the residual strip is reserved first (the frame's plot
// rectangle then ends above it, for the mouse too); the diffraction plot's frame, grids,
// labels and titles (drawDiffractionAxes, counts per second unless told otherwise), the
// measured curve as a thin blue line (RGB 40, 90, 220), the model as a red line over it
// (RGB 220, 0, 0), both clipped to the plot rectangle, each peak as a short vertical tick in
// its curve's colour just above that curve, a legend on a white box in the top right corner
// ("measured", "model", "peaks found"), and under the plot the strip of residuals
// (logResiduals, purple) with its own grid and title. Points without a finite position (a
// value that is not finite, and on the logarithmic scale a value of zero or below, such as
// an angle where nothing was counted) break their curve; a peak at an angle that is not
// finite or lies outside the plot rectangle gets no tick. An empty scan draws nothing.
void drawOverlay(QPainter& p, ChCoord& coord, const OverlayData& d, bool logScale,
                 const DiffractionAxes& axes = DiffractionAxes{IntensityUnit::CountsPerSecond});
