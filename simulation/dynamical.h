#pragma once

#include <QVector>

#include <atomic>

struct PhysicsStack;
struct Reflection;

// Two-beam dynamical diffraction for the symmetric (00l) reflection of the stack, l even
// (4 by default), for an unpolarised beam: the mean of the sigma and pi reflectivities
// (sigma only when the stack's options switch polarisation off).
//
// Each slab is a uniform strained crystal with its own susceptibilities chi0 and chi_h
// (susceptibility.h) and its own Bragg angle. In it the ratio X = D_h / D_0 of the
// diffracted to the incident amplitude obeys the Takagi-Taupin equation of the symmetric
// Bragg case,
//   dX/dz = -i (k C chi_h / (2 sin theta)) (X^2 - 2 eta X + 1),
//   eta = (alpha - 2 chi0) / (2 C chi_h),  alpha = 4 sin(theta) (sin(theta_B) - sin(theta)),
// z the depth. The usual deviation 4 sin(theta_B) (sin(theta_B) - sin(theta)) (from
// |k0 + h|^2 - k^2) gives the diffracted wave a phase rate off by sin(theta_B) / sin(theta),
// which moves the satellites of a superlattice 0.4 degrees from its Bragg peak by 0.003
// degrees; this alpha, equal to it at the Bragg angle, makes the rate of a free diffracted
// wave exact, and the curves agree with the four-wave theory of xrayutilities to 1e-4 at
// every peak. The solution across a slab of thickness t is a Moebius map of X (a 2 x 2
// matrix):
//   X_top = ((c - i eta S) X_bottom + i S) / (-i S X_bottom + c + i eta S),
//   c = cos(s T), S = sin(s T) / s, s^2 = eta^2 - 1, T = pi C chi_h t / (lambda sin theta),
// entire functions of s^2 (no branch to choose). The semi-infinite substrate starts the
// recursion with the fixed point of its map that has |X| <= 1; the periods reuse the
// product of one period's matrices, raised to the number of periods by repeated squaring.
// Each slab holds whole monolayers, each a whole number of (00l) plane spacings, so X passes
// unchanged from one slab to the next. The reflectivity is |X|^2 at the surface, never above 1.
//
// Returns the reflectivity at each Bragg angle of `thetaDegrees` (angles outside
// 0 < theta < 90 degrees give 0). Empty when the stack carries an error, `reflection` is not
// an even number of at least 2, or `cancel` was set during the calculation. Re-entrant.
QVector<double> dynamicalReflectivity(const PhysicsStack& stack, int reflection,
                                      const QVector<double>& thetaDegrees,
                                      const std::atomic<bool>* cancel = nullptr);

// Full width in degrees of the substrate's range of total reflection (|eta| <= 1, the
// Darwin width) for sigma polarisation: 2 |chi_h| / sin(2 theta_B). 0 when the reflection
// cannot be reached at the stack's wavelength or the stack carries an error.
double substrateDarwinWidth(const PhysicsStack& stack, int reflection);

// The default angles of a dynamical curve: the substrate's Bragg angle of (00l) +/- 1.5
// degrees in equal steps small enough for a sixth of the substrate's Darwin width, a sixth
// of the finest thickness fringe (that of the whole stack) and 0.0004 degrees, but no more
// than 200,001 points. Empty when the reflection cannot be reached at the wavelength.
QVector<double> dynamicalDefaultGrid(const PhysicsStack& stack, int reflection);

// ---- any reflection (h k l) ---------------------------------------------------------------
//
// An asymmetric reflection (h or k not 0) is computed in the asymmetric Bragg case. Each slab
// has its own reciprocal lattice vector from its in-plane and perpendicular lattices (its
// own plane spacing of (hkl) and its own inclination of the planes to the surface), its own
// chi_h and chi_-h of (hkl) with their phases, and the incident beam meets the surface at the
// glancing angle omega of the scan point: omega = theta - phi at grazing incidence, theta +
// phi at grazing exit, phi the substrate's inclination of the (hkl) planes and theta half
// the scattering angle 2theta of the omega-2theta scan. The diffracted beam of each slab is
// the one the surface lets out (its component along the surface is that of k0 + h), at the
// glancing angle `out`; the two beams' sines give the asymmetry factor b = -sin(in) /
// sin(out) and the absorption path lengths (chi0 enters as chi0 (1 / sin(in) + 1 / sin(out))
// / 2). The ratio X obeys the equation of the symmetric case for Y = X / (sqrt(|b|) rho),
// rho^2 = chi_h / chi_-h, and the reflectivity is |X|^2 sin(out) / sin(in) at the surface.
// Slabs of different in-plane lattices (relaxed layers) have diffracted beams of different
// directions: each such beam is followed on its own, through the slabs of its in-plane
// lattice with their diffraction and through the others with absorption along its own exit
// angle only, and the reflectivity is the sum of their powers, each with its own sin(out).
// Where the diffracted beam of some slab would run below the surface (near grazing exit,
// where no beam leaves the crystal) the curve is 0.
// A symmetric reflection goes to the (00l) functions above, unchanged.
QVector<double> dynamicalReflectivity(const PhysicsStack& stack, const Reflection& reflection,
                                      const QVector<double>& thetaDegrees,
                                      const std::atomic<bool>* cancel = nullptr);
QVector<double> dynamicalDefaultGrid(const PhysicsStack& stack, const Reflection& reflection);

// The inclination in degrees of the (hkl) planes to the (001) surface of a cubic crystal.
double substrateInclination(const Reflection& reflection);
// The substrate's Bragg angle of (hkl) in degrees, NaN when the wavelength cannot reach it.
double substrateBraggAngle(const PhysicsStack& stack, const Reflection& reflection);
// The glancing angles in degrees of the incident and the exit beam to the surface at the
// scan angle theta (degrees), for the substrate's planes: theta -/+ phi (grazing
// incidence / exit) and theta +/- phi.
void beamAngles(double thetaDegrees, const Reflection& reflection, double& incidence, double& exit);
