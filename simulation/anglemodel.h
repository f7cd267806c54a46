#pragma once

#include "simulation/layersum.h"

#include <QVector>

#include <vector>

struct Structure;

// The basic model's curve at a fixed list of scattering vectors, for comparing a structure with a
// measured scan: everything that depends only on the angles and the substrate (scattering
// vectors, element factors, the substrate's amplitude) is computed once, so every structure
// evaluated on the list costs one pass of the summation engine over its runs.
//
// The substrate's closed form is a pole at its own Bragg positions, where the intensity falls
// as 1/δ² and no convolution with an instrument function can tame it. Here its geometric
// series is damped by e^(-damping) per monolayer (kSubstrateDamping by default), comparable
// to the extinction of a (004) reflection, which gives the substrate peak a finite width.
class BasicAngleModel {
public:
    static constexpr double kSubstrateDamping = 3e-4;

    // Scattering-vector lengths q (1/Å); the substrate and wavelength are taken from `base`.
    // Stretches of equal q steps are the fast case of the engine (uniformQGrid).
    BasicAngleModel(const Structure& base, const QVector<double>& q,
                    double substrateDamping = kSubstrateDamping);

    const QVector<double>& q() const { return q_; }

    // Intensities of `structure` (same substrate and wavelength as the base) at every angle.
    // False when cancelled or when the structure's profile is not finite.
    bool intensities(const Structure& structure, std::vector<double>& out,
                     const SumControl& control = {}) const;

private:
    QVector<double> q_;
    std::vector<ElementFactors> factors_;
    std::vector<double> substrate_; // magnitude of the substrate's amplitude
};

// The multiples of dq (1/Å) from the largest one not above qLow to the smallest one not below
// qHigh, accumulated by repeated addition so that the engine advances the phases with one
// multiplier. Grids of the same dq share their points wherever they overlap, so a model
// interpolated from them does not depend on how far the range reaches. Empty when the range
// or the step is not finite and positive, or when it would take more than maxPoints.
QVector<double> anchoredQGrid(double qLow, double qHigh, double dq, int maxPoints = 2'000'000);
