#pragma once

#include <QVector>

#include <optional>
#include <vector>

// The instrument between the diffraction model and a measured omega-2theta scan: the
// angular resolution (a Gaussian), the scale of the detector and its background, and the
// agreement figure on logarithmic intensities. Plain arrays only; angles in degrees.

// Model values at or below zero count as this many counts per second wherever a logarithm
// is taken, so the agreement stays finite where the model has no intensity at all: a
// point measured at 1 cps against a zero model then costs (0 - (-12))^2 = 144.
constexpr double kModelFloor = 1e-12;

// The model given on the uniform grid theta0 + i*step (i < fine.size()), convolved with a
// normalised Gaussian of full width at half maximum `fwhm`, sampled at `thetaOut` (any
// order and spacing) by a monotone cubic between fine points (continuous in value and slope,
// so the outputs move smoothly as the angles shift, and never beyond the two fine values
// either side). The kernel reaches
// 5 standard deviations either side and is renormalised where it meets the ends of the
// grid, so a constant stays constant; outputs beyond the grid take the value at its
// nearest end. fwhm <= 0 (or not finite) means no convolution: plain interpolation. Cost
// about thetaOut.size() * 2 * kernel points. Finite for any finite input; an empty grid,
// or a step that is not positive and finite, gives zeros.
QVector<double> convolveResolution(double theta0, double step, const QVector<double>& fine,
                                   double fwhm, const QVector<double>& thetaOut);

struct ScaleBackground {
    double scale = 1.0;      // counts per second per unit of the curve; > 0
    double background = 0.0; // counts per second; >= 0
    // agreement(measured, scale * curve + background), which the solution costs nothing
    // extra to give (to rounding: the logarithms are taken in another order).
    double agreement = 0.0;
};

// Model = scale * curve + background. Whichever of the two is not fixed is found by least
// squares on log10 intensities over the points with measured > 0, minimising
// sum (log10 m_i - log10 max(S c_i + B, kModelFloor))^2 with S > 0, B >= 0 (Gauss-Newton in
// ln S and ln B with step halving; a background at its lower limit is returned as 0 when
// that is no worse). Degenerate cases return finite values: no measured point above zero
// leaves the defaults (scale 1, background 0) or the fixed values; an all-zero curve makes
// the scale undetermined (returned as given, or 1) and the background the geometric mean of
// the measurement. Fixed values that break the constraints are used as given.
ScaleBackground solveScaleBackground(const QVector<double>& measured, const QVector<double>& curve,
                                     std::optional<double> fixedScale = std::nullopt,
                                     std::optional<double> fixedBackground = std::nullopt);

// Mean over the points with measured > 0 (negative or zero measurements are left out) of
// (log10 measured - log10 max(model, kModelFloor))^2. 0 when no point counts.
double agreement(const QVector<double>& measured, const QVector<double>& model);

// The residuals themselves, one per point with measured > 0 in order (what the fit
// minimises): log10 measured - log10 max(model, kModelFloor), divided by the counting
// sigma above when countingTime > 0. Mismatched sizes compare the common leading points.
std::vector<double> logResiduals(const QVector<double>& measured, const QVector<double>& model,
                                 double countingTime = 0.0);
