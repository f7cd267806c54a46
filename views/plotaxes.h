#pragma once

#include "simulation/intensityunit.h"

#include <QString>
#include <QVector>

#include <limits>

class ChCoord;
class QPainter;
class QRectF;

// How the axes of the diffraction plot are titled and labelled. The data stay in degrees;
// with deltaTheta the angle axis is labelled in arcseconds from `reference` (the substrate
// peak), at steps chosen for arcseconds.
struct DiffractionAxes {
    IntensityUnit unit = IntensityUnit::Arbitrary;
    bool deltaTheta = false;
    double reference = std::numeric_limits<double>::quiet_NaN(); // degrees
    // Whether the angle axis is shown relative to the reference (a finite one is needed).
    bool relative() const;
};

constexpr double kArcsecPerDegree = 3600.0;

// The angle of the highest finite value of a curve (NaN when there is none): the substrate
// peak of a scan or of a curve whose substrate reflection is its strongest.
double highestPeakAngle(const QVector<double>& theta, const QVector<double>& values);

// The axes with the reference filled in when a relative angle axis is asked for without one:
// the angle of the curve's highest value.
DiffractionAxes withReference(DiffractionAxes axes, const QVector<double>& theta,
                              const QVector<double>& values);

// A label of the logarithmic intensity axis, whose scale is the base-10 exponent: "10" with
// the exponent as superscript digits for a whole exponent ("10²", "10⁻³"), else the value
// to three significant figures, plainly from 0.01 to 1000 ("31.6") and beyond as a mantissa
// times a power of ten ("3.16×10³"). NaN and infinities give an empty text.
QString powerOfTenLabel(double exponent);

// A tick label of the intensity axis: the value as 'g' 6 on the linear scale, powerOfTenLabel
// on the logarithmic one.
QString intensityLabel(double v, bool logScale);

// The axis titles: "θ (°)" or "Δθ (arcsec)"; "counts/s", "reflectivity" or
// "intensity (arb. units)".
QString angleTitle(const DiffractionAxes& axes);
QString intensityTitle(IntensityUnit unit);

// The box for a text `height` pixels high (its font fitted to the height as the tick labels
// are, at most 15 points) and as wide as the text needs, at most maxWidth: its left edge at
// x, or its right edge with anchorRight. Empty when there is no room.
QRectF textBox(QPainter& p, double x, double top, double height, double maxWidth,
               const QString& text, bool anchorRight);

// Draws the text centred on the box, filled white with a grey outline, so that no grid
// line or curve runs through it. An empty box draws nothing.
void drawTextBox(QPainter& p, const QRectF& box, const QString& text);

// The plot rectangle with ordered edges in whole pixels, including the frame's own lines;
// what the curves are clipped to.
QRectF frameRect(const ChCoord& coord);
