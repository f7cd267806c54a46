#pragma once

#include <QStringList>

#include <vector>

struct Structure;
struct MeasuredScan;

// Starts of a fit read from the measurement's own peaks, before any model is computed: the
// substrate peak gives the angle offset; the layer peak (or a superlattice's zeroth order) the
// mean perpendicular mismatch, hence the composition of the layer whose composition is free;
// the satellites the period, hence the thickness of a free layer of the period; the fringes of
// a single layer its thickness. Where these leave one composition and two thicknesses of a
// period open (the mean mismatch and the period fix only two of the three), the starts spread
// along the composition's range with the thicknesses that keep both.
struct PeakStart {
    // Full parameter vectors in the order of the FIT lines, inside their bounds, best founded
    // first; empty when the peaks fix nothing the FIT lines free.
    std::vector<std::vector<double>> starts;
    // The mean square residual that the noise of the scan alone leaves (in the units of the
    // fit's residuals: log10 intensity, or standard deviations for a weighted fit); 0 unknown.
    double noiseFloor = 0.0;
    // Every free thickness and composition of the FIT lines came from the peaks (at most one
    // composition free); otherwise the starts hold their file values there, and a fit should
    // not take a start for its answer however well it refines.
    bool complete = false;
    QStringList notes; // what was taken from which peak, for the log
};

// `values` are the start values of the FIT lines (fitStartValues); `weighted` as the fit's
// residuals are. Nothing here throws or takes long, whatever the scan.
PeakStart peakStart(const Structure& base, const MeasuredScan& scan,
                    const std::vector<double>& values, bool weighted);

// The noise floor of log10 intensities alone: the mean square point-to-point noise of the
// positive points, from the median of their squared second differences (robust against the
// curve's own shape). 0 when there are fewer than 8 positive points.
double logNoiseFloor(const std::vector<double>& intensity);
