#include "anglemodel.h"

#include "config.h"
#include "constants.h"
#include "curve.h"
#include "expansion.h"
#include "grid.h"
#include "materials.h"
#include "resultarrays.h"

#include <cmath>

BasicAngleModel::BasicAngleModel(const Config& base, const QVector<double>& q,
                                 double substrateDamping)
    : q_(q) {
    const double xs = base.substrate.inFraction;
    const double ys = base.substrate.asFraction;
    const double aS = latticeConstant(xs, ys);
    factors_.resize(std::size_t(q.size()));
    substrate_.assign(std::size_t(q.size()), 0.0);
    for (int i = 0; i < q.size(); ++i) {
        const ElementFactors f = elementFactors(q[i] / kFourPi);
        factors_[std::size_t(i)] = f;
        if (base.withSubstrate) {
            const double fIII = (1 - xs) * f.ga + xs * f.in;
            const double fV = (1 - ys) * f.p + ys * f.as;
            const std::complex<double> a = substrateAmplitude(q[i], aS, fIII, fV, substrateDamping);
            substrate_[std::size_t(i)] = std::hypot(a.real(), a.imag());
        }
    }
}

bool BasicAngleModel::intensities(const Config& structure, std::vector<double>& out,
                                  const SumControl& control) const {
    ResultArrays profile;
    expandLayers(structure, profile);
    if (!std::isfinite(profile.depth.last()) || profile.depth.last() < 0)
        return false;
    const LayerSum sum(profile.depth, profile.inProfile, profile.asProfile, structure.repeat);
    std::vector<std::complex<double>> layers;
    if (!sum.amplitudes(q_, factors_, layers, control))
        return false;
    out.resize(layers.size());
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const double amplitude = substrate_[i] + std::hypot(layers[i].real(), layers[i].imag());
        out[i] = amplitude * amplitude;
    }
    return true;
}

QVector<double> uniformQGrid(double thetaLow, double thetaHigh, double maxThetaStep, double k,
                             int maxPoints) {
    QVector<double> grid;
    if (!(thetaLow >= 0 && thetaHigh <= 90 && thetaLow <= thetaHigh && maxThetaStep > 0 &&
          std::isfinite(k) && k > 0))
        return grid;
    const double q0 = scatteringVector(thetaLow, k);
    const double q1 = scatteringVector(thetaHigh, k);
    // dq = 2k cos(theta) dtheta: the angle step is widest where the cosine is smallest.
    const double dq =
        2 * k * std::cos(thetaHigh / kDegreesPerRadian) * maxThetaStep / kDegreesPerRadian;
    const double steps = std::ceil((q1 - q0) / dq);
    if (!(steps >= 0) || steps + 1 > maxPoints)
        return grid;
    const int n = int(steps) + 1;
    grid.reserve(n);
    const double step = n > 1 ? (q1 - q0) / (n - 1) : 0.0;
    // Accumulated by repeated addition, so that every step is the same double and the engine
    // advances the phases by one multiplier throughout.
    double q = q0;
    for (int i = 0; i < n; ++i, q += step)
        grid.append(q);
    return grid;
}
