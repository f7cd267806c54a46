#pragma once

#include <QVector>

#include <limits>

// Peak analysis of a diffraction curve, measured or simulated: the substrate peak, the layer
// (or zeroth-order superlattice) peak, the satellites of a superlattice with its period, the
// perpendicular mismatch, and the thickness of a single layer from its fringes. Angles are
// Bragg angles theta in degrees; lengths in Å.

struct Peak {
    double theta = std::numeric_limits<double>::quiet_NaN();     // refined position
    double intensity = std::numeric_limits<double>::quiet_NaN(); // lightly smoothed, at theta
    double prominence = 0.0; // decades of smoothed log intensity above the higher base
};

struct PeakOptions {
    // Maxima standing less than this far (decades, in the smoothed log intensity) above the
    // higher of their two bases are noise.
    double minProminence = 0.25;
    // Standard deviation (points) of the Gaussian that smooths log10 intensity before peaks
    // are looked for; 0 leaves the data as they are.
    double smoothingPoints = 1.0;
};

struct PeakAnalysis {
    Peak substrate; // the maximum nearest the substrate's own Bragg angle
    Peak main;      // the strongest other maximum: the layer peak or the zeroth order
    // Satellites of a superlattice, the zeroth order included (order 0); orders count up with
    // theta. Empty for a single layer or when no series was found.
    QVector<double> satelliteTheta;
    QVector<int> satelliteOrder;
    // Superlattice period from a straight-line fit of sin(theta) over the satellite orders:
    // period = wavelength / (2 * slope).
    double period = std::numeric_limits<double>::quiet_NaN();
    // Perpendicular mismatch of the main peak to the substrate, sin(theta_S) / sin(theta_0) - 1,
    // as a fraction (positive for a larger lattice spacing than the substrate's).
    double mismatch = std::numeric_limits<double>::quiet_NaN();
    // Single layer: thickness wavelength / (2 * mean fringe spacing in sin(theta)), from the
    // consecutive fringes beside the layer peak whose spacings agree with their median.
    double thickness = std::numeric_limits<double>::quiet_NaN();
    int fringesUsed = 0; // spacings averaged for the thickness
    QVector<Peak> peaks; // every maximum that passed the prominence test, by theta

    // The angles to mark on a plot: the substrate, the main peak and the satellites found.
    QVector<double> markedAngles() const {
        QVector<double> angles{substrate.theta, main.theta};
        angles += satelliteTheta;
        return angles;
    }
};

// theta ascending (points out of order or not finite are skipped), intensity in counts per
// second or any linear unit (values <= 0 are floored below the smallest positive one),
// wavelength in Å, substrateBragg the Bragg angle of the substrate's reflection in range.
// Fields are NaN (or empty) where they were not found; nothing here throws or divides by
// zero whatever the data.
PeakAnalysis analysePeaks(const QVector<double>& theta, const QVector<double>& intensity,
                          double wavelength, double substrateBragg, bool superlattice,
                          const PeakOptions& options = {});
