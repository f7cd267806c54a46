#pragma once

#include <QVector>
#include <QtGlobal>

// The scattering-vector grid of the full curve and the conversion to the Bragg angle.

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

// Bragg angle in degrees (half the scattering angle) of the scattering-vector length q at
// wavenumber k.
double braggAngle(double q, double k);

// Scattering-vector length of the Bragg angle theta (degrees) at wavenumber k.
double scatteringVector(double thetaDegrees, double k);
