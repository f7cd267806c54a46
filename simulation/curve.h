#pragma once

#include <QVector>
#include <QtGlobal>

#include <complex>

class Config;
struct ResultArrays;

// Never more curve points than this, whatever the caller checked before: a guard against a
// grid that would not end (infinite wavenumber) or fill the memory.
constexpr qint64 kHardPointCap = 50'000'000;

// The scattering-vector grid of a period of thickness D (Å) and wavenumber k (1/Å): from
// q0 = 2π/D (the first thickness fringe of one period) in steps of q0/10, accumulated by
// repeated addition, up to 2k. Empty when D is not a positive finite thickness (a negative
// step would never reach 2k) or when 2k < q0. At most maxPoints values.
QVector<double> curveGrid(double periodThickness, double k, qint64 maxPoints = kHardPointCap);

// The number of grid points for D and k, estimated without building the grid (exact up to
// the rounding of the accumulated steps); 0 where curveGrid is empty, and a value above any
// limit where the grid would be absurdly large.
double estimatedPointCount(double periodThickness, double k);

// Dirichlet kernel K_n(phi) = sum over j < n of e^(i j phi), evaluated stably near the
// multiples of 2π where the closed form is 0/0. 0 for n < 1.
std::complex<double> dirichletKernel(double phi, double n);

// The diffraction curve of the structure whose depth profile is in `results` (depth,
// inProfile, asProfile as expandLayers leaves them): fills theta (degrees), q (1/Å) and
// intensity. The sum over monolayers and periods collapses runs of identical monolayers
// and the periods into Dirichlet kernels and advances the phases of graded material by a
// recurrence over q; it agrees with computeCurveDirect to rounding.
void computeCurve(const Config& config, ResultArrays& results);

// The literal kinematical sum over every plane of every period, one complex exponential
// per plane and point: the reference for tests and benchmarks, far too slow for thick
// stacks.
void computeCurveDirect(const Config& config, ResultArrays& results);

// Number of distinct terms per curve point that computeCurve sums for this profile: runs of
// identical monolayers count once.
qint64 curveTermCount(const QVector<double>& depth, const QVector<double>& inProfile,
                      const QVector<double>& asProfile);

// Cost of one curve point of computeCurve, in units of the cost of one single-monolayer term
// (about 0.75 ns on a 2020s desktop core). Measured: a run of several monolayers costs about
// five such terms, the rest of a point (factors, period kernel, substrate) about 400.
double curveCostPerPoint(const QVector<double>& depth, const QVector<double>& inProfile,
                         const QVector<double>& asProfile);
