#pragma once

#include "simulation/grid.h"
#include "simulation/layersum.h"

#include <complex>

struct Structure;
struct ResultArrays;

// The basic model: the kinematical sum over every plane of the stack with real scattering
// factors, plus a semi-infinite substrate in closed form, combined by adding magnitudes.

// Element factors of the basic model at s = sin(theta)/lambda: Cromer-Mann f0 times the
// temperature factor, so (1 - x) * ga + x * in gives the digits of groupIIIFactor.
ElementFactors elementFactors(double s);

// Amplitude of the semi-infinite substrate of lattice constant aS at q: the closed form of
// the geometric series over its monolayers, the group-V plane at aS/4 and the group-III plane
// at aS/2 above each monolayer's start. With damping > 0 every monolayer deeper is weaker by
// e^(-damping), which keeps the amplitude finite at the substrate's Bragg positions.
std::complex<double> substrateAmplitude(double q, double aS, double fIII, double fV,
                                        double damping = 0.0);

// The diffraction curve of the structure whose depth profile is in `results` (depth,
// inProfile, asProfile as expandLayers leaves them): fills theta (degrees), q (1/Å) and
// intensity over the grid of curveGrid, by the fast sum. It agrees with computeCurveDirect to
// rounding, and gives the same bits for any thread count. False when cancelled (the curve
// vectors are then incomplete).
bool computeCurve(const Structure& config, ResultArrays& results, const SumControl& control = {});

// Same, with the runs of the profile already found.
bool computeCurve(const Structure& config, ResultArrays& results,
                  const std::vector<MonolayerRun>& runs, const SumControl& control);

// The literal kinematical sum over every plane of every period, one complex exponential
// per plane and point: the reference for tests and benchmarks, far too slow for thick
// stacks.
void computeCurveDirect(const Structure& config, ResultArrays& results);
