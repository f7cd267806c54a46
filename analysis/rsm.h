#pragma once

// Reciprocal-space maps: Q from the angles of a coplanar measurement, a map gridded onto a
// regular mesh, the spots found on it, and each spot's lattice, relaxation and composition.
// Q is in 1/Å (2π/d); x lies in the surface, in the scattering plane, z along the surface
// normal. Angles in degrees.

#include "measured/areamap.h"
#include "structure/material.h"

#include <QString>
#include <QVector>

#include <cmath>
#include <functional>
#include <limits>

// How measured angles become the lattice's Q. omegaOffset and twoThetaOffset are added to the
// measured angles (as the OFFSET of a 1-D scan is added to its angles); the miscut, the tilt
// of the lattice planes from the surface in the scattering plane, turns Q from the surface's
// frame into the lattice's: omega counts from the lattice plane, omega - miscut.
struct RsmGeometry {
    double wavelength = 1.5405929; // Å, Cu Kα1
    double omegaOffset = 0.0;
    double twoThetaOffset = 0.0;
    double miscut = 0.0;
};

// Qx = k (cos(2θ - ω) - cos ω), Qz = k (sin ω + sin(2θ - ω)), k = 2π/λ, with the corrections
// of `geometry`. Grazing incidence (ω < θ) gives Qx < 0, grazing exit (ω > θ) Qx > 0.
void anglesToQ(double omega, double twoTheta, const RsmGeometry& geometry, double& qx, double& qz);
// The inverse: the measured angles at which (qx, qz) is seen; false when no angle reaches it.
bool qToAngles(double qx, double qz, const RsmGeometry& geometry, double& omega, double& twoTheta);

// The map's points in Q: angles are converted, a map in Q is taken as it is.
void mapToQ(const AreaMap& map, const RsmGeometry& geometry, QVector<double>& qx,
            QVector<double>& qz);

// A regular mesh of nx by nz cells over [x0, x1] × [z0, z1]: cell centres at x0 + i dx with
// dx = (x1 - x0) / (nx - 1) (the edges' cells reach half a step beyond the range), as
// xrayutilities' Gridder2D lays its mesh. Each cell holds the sum and the number of the
// points that fell in it; its value is their mean, NaN for a cell no point reached.
struct MapGrid {
    int nx = 0, nz = 0;
    double x0 = 0, x1 = 0, z0 = 0, z1 = 0;
    QVector<double> sum; // nx * nz, row-major in z: index j * nx + i
    QVector<int> count;  // points per cell
    double dx() const { return nx > 1 ? (x1 - x0) / (nx - 1) : 1.0; }
    double dz() const { return nz > 1 ? (z1 - z0) / (nz - 1) : 1.0; }
    double xAt(int i) const { return x0 + i * dx(); }
    double zAt(int j) const { return z0 + j * dz(); }
    double value(int i, int j) const {
        const int c = count[j * nx + i];
        return c > 0 ? sum[j * nx + i] / c : std::numeric_limits<double>::quiet_NaN();
    }
    bool filled(int i, int j) const { return count[j * nx + i] > 0; }
};

// Grids the points onto an nx × nz mesh spanning their range (at least 2 × 2 and at most
// 4000 × 4000 cells; a range of zero width is widened by one unit). Points beyond an
// explicit range are left out (as Gridder2D leaves them), and so are non-finite ones.
MapGrid gridMap(const QVector<double>& x, const QVector<double>& z,
                const QVector<double>& intensity, int nx, int nz);
MapGrid gridMap(const QVector<double>& x, const QVector<double>& z,
                const QVector<double>& intensity, int nx, int nz, double x0, double x1, double z0,
                double z1);

// A spot on the grid: its centre refined as the intensity-weighted centroid of the cells
// above half its peak around the maximum, with the standard error of that centroid and the
// mesh's own step (dx/√12) added in quadrature as 1σ.
struct MapSpot {
    double qx = 0, qz = 0;   // 1/Å
    double sqx = 0, sqz = 0; // 1σ, 1/Å
    double peak = 0;         // counts per second of the highest cell
    double fwhmX = 0, fwhmZ = 0;
    int cells = 0; // cells in the centroid
};

// Local maxima of the grid at least `minFraction` of the highest cell (and above the median
// of the filled cells times 3), strongest first, at most maxSpots; maxima closer than
// `minSeparation` cells to a stronger one are the same spot.
QVector<MapSpot> findSpots(const MapGrid& grid, int maxSpots = 12, double minFraction = 1e-4,
                           int minSeparation = 3);

// The spot nearest to (qx, qz) in units of the grid's cells, refined; false when the grid
// holds no filled cell there.
bool spotNear(const MapGrid& grid, double qx, double qz, MapSpot& spot);

// A cubic alloy of one free fraction c: its bulk lattice constant and the strain ratio
// 2 C12 / C11 of a (001) layer, as functions of c.
struct AlloyLine {
    QString name;     // the system, "Ga In / P As", for tables
    QString fraction; // what c is: "x (In)"
    std::function<double(double)> latticeConstant;
    std::function<double(double)> strainRatio;
};

// The alloy of a material system with the fraction of its mixed sublattice free: x of a
// system with two group-III (or two group-IV) elements, with y held at `y` (x = y for a
// diamond alloy); else y, with x held at `x`. InGaAs (the basic system, y = 1) gives x (In),
// SiGe gives x (Ge), GaAsSb gives y (Sb).
AlloyLine alloyLine(const MaterialSystem& system, double x, double y);

// What a spot says of its layer at reflection (h k l) on a substrate of lattice constant
// aSubstrate: a∥ = 2π √(h²+k²) / |Qx|, a⊥ = 2π l / Qz; the composition c at which the alloy's
// bulk lattice a0(c) equals (a⊥ + R a∥) / (1 + R), R = 2 C12 / C11 at c; relaxation
// (a∥ - aS) / (a0 - aS). Each with 1σ from the spot's; NaN where it is undefined (a
// composition outside -0.5..1.5, a relaxation of a layer matched to the substrate).
struct SpotNumbers {
    double qx = 0, qz = 0, sqx = 0, sqz = 0;
    double aParallel = 0, sParallel = 0;
    double aPerpendicular = 0, sPerpendicular = 0;
    double aBulk = 0;
    double composition = 0, sComposition = 0;
    double relaxation = 0, sRelaxation = 0;
};
SpotNumbers spotNumbers(const MapSpot& spot, int h, int k, int l, double aSubstrate,
                        const AlloyLine& alloy);

// Where a layer of bulk lattice a0 (strain ratio R) relaxed by r on a substrate aS appears:
// a∥ = aS + r (a0 - aS), a⊥ = a0 - R (a∥ - a0), as Q of reflection (h k l), with Qx's sign
// of the grazing side (+1 exit, -1 incidence).
void layerQ(double a0, double ratio, double aSubstrate, double r, int h, int k, int l, double sign,
            double& qx, double& qz);
