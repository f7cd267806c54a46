#pragma once

#include <QString>
#include <QVector>

#include <cmath>
#include <limits>

// Peak analysis of a diffraction curve, measured or simulated: the substrate peak, the layer
// (or zeroth-order superlattice) peak, the satellites of a superlattice with its period, the
// perpendicular mismatch, and the thickness of a single layer from its fringes. Every figure
// comes with its standard uncertainty, or with the reason it could not be determined; only
// the curve itself decides what it shows (the substrate's Bragg angle only says where to look
// for the substrate peak). Angles are Bragg angles theta in degrees; lengths in Å.

struct Peak {
    double theta = std::numeric_limits<double>::quiet_NaN();     // refined position
    double sigma = std::numeric_limits<double>::quiet_NaN();     // its standard uncertainty
    double intensity = std::numeric_limits<double>::quiet_NaN(); // lightly smoothed, at theta
    double prominence = 0.0; // decades of smoothed log intensity above the higher base
};

// A figure with its standard uncertainty; when it could not be determined, value and sigma
// are NaN and `why` says what the curve lacks.
struct Figure {
    double value = std::numeric_limits<double>::quiet_NaN();
    double sigma = std::numeric_limits<double>::quiet_NaN();
    QString why;
    bool known() const { return std::isfinite(value); }
};

struct PeakOptions {
    // Maxima standing less than this far (decades, in the smoothed log intensity) above the
    // higher of their two bases are never counted, however quiet the curve.
    double minProminence = 0.1;
    // Standard deviation (points) of the Gaussian that smooths log10 intensity before peaks
    // are looked for; 0 leaves the data as they are.
    double smoothingPoints = 2.0;
    // A maximum stands above the noise when its prominence reaches this many standard
    // deviations of the smoothed curve's local noise (estimated from the point-to-point
    // scatter of the data).
    double significance = 3.5;
    // The mean perpendicular mismatch of the structure's period (mean monolayer height over
    // the substrate's, less 1), when a structure is known: a superlattice's zeroth order is
    // then the satellite nearest it. NaN: the curve alone decides, and only where the
    // satellites' envelope does (the strongest stands a decade above both its
    // neighbours); otherwise the zeroth order, and the mismatch, are not determined.
    double meanMismatch = std::numeric_limits<double>::quiet_NaN();
};

struct PeakAnalysis {
    Peak substrate;       // the highest maximum near the substrate's Bragg angle
    QString substrateWhy; // why there is none
    // The layer peak, or a superlattice's zeroth order (not determined: NaN, with mainWhy);
    // without satellites the strongest maximum other than the substrate's.
    Peak main;
    QString mainWhy;
    // Satellites of a superlattice, the zeroth order included (order 0); orders count up with
    // theta. Empty unless a series of at least three orders was found. When the zeroth order
    // is not determined, order 0 is the strongest satellite.
    QVector<double> satelliteTheta;
    QVector<int> satelliteOrder;
    // Superlattice period from a least-squares line of sin(theta) over the satellite orders:
    // period = wavelength / (2 * slope), Å.
    Figure period;
    // Perpendicular mismatch of the main peak to the substrate, exactly
    // sin(theta_S) / sin(theta_L) - 1 = d_L / d_S - 1, as a fraction (positive for a larger
    // lattice spacing than the substrate's).
    Figure mismatch;
    // The same of the strongest maximum other than the substrate's, whatever satellite it is
    // (where a fit may start from, trying its neighbours too).
    Figure strongestMismatch;
    // Single layer: thickness wavelength / (2 * fringe spacing in sin(theta)), Å, from a
    // least-squares fit of the fringe positions beside the layer peak.
    Figure thickness;
    int fringesUsed = 0; // fringe positions in that fit
    double noise = 0.0;  // median noise of the smoothed log10 intensity, decades
    QVector<Peak> peaks; // every maximum that stands above the noise, by theta

    // The angles to mark on a plot: the substrate, the main peak and the satellites found.
    QVector<double> markedAngles() const {
        QVector<double> angles;
        for (double t : {substrate.theta, main.theta})
            if (std::isfinite(t))
                angles << t;
        for (double t : satelliteTheta)
            if (std::isfinite(t) && !angles.contains(t))
                angles << t;
        return angles;
    }
};

// theta ascending (points out of order or not finite are skipped), intensity in counts per
// second or any linear unit (values <= 0 are floored below the smallest positive one),
// wavelength in Å, substrateBragg the Bragg angle of the substrate's reflection in range (NaN
// when the curve covers none). Nothing here throws, divides by zero or takes long, whatever
// the data.
PeakAnalysis analysePeaks(const QVector<double>& theta, const QVector<double>& intensity,
                          double wavelength, double substrateBragg,
                          const PeakOptions& options = {});
