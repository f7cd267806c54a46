#pragma once

#include "views/plotrange.h"

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

// Draws the overlay into the frame as it stands (plot rectangle and scale set by the caller):
// the diffraction plot's frame, grids and labels (drawDiffractionAxes), the measured curve as
// a thin blue line (RGB 40, 90, 220), the model as a red line over it (RGB 220, 0, 0), each
// peak as a short vertical tick in its curve's colour just above that curve, and a legend
// ("measured", "model") in the top right corner of the plot. Points without a finite position (a
// value that is not finite, and on the logarithmic scale a value of zero or below, such as an angle
// where nothing was counted) break their curve; a peak at an angle that is not finite or lies
// outside the plot rectangle gets no tick. An empty scan draws nothing.
void drawOverlay(QPainter& p, const ChCoord& coord, const OverlayData& d, bool logScale);
