#include "simulation/anglemodel.h"

#include "simulation/curve.h"
#include "simulation/expansion.h"
#include "simulation/grid.h"
#include "simulation/materials.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"
#include "structure/constants.h"

#include <cmath>

BasicAngleModel::BasicAngleModel(const Structure& base, const QVector<double>& q,
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

bool BasicAngleModel::intensities(const Structure& structure, std::vector<double>& out,
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

QVector<double> anchoredQGrid(double qLow, double qHigh, double dq, int maxPoints) {
    QVector<double> grid;
    if (!(qLow >= 0 && qHigh >= qLow && dq > 0 && std::isfinite(qHigh) && std::isfinite(dq)))
        return grid;
    const double first = std::floor(qLow / dq);
    const double count = std::ceil(qHigh / dq) - first + 1;
    if (!(count >= 1 && count <= maxPoints))
        return grid;
    grid.reserve(int(count));
    double q = first * dq;
    for (int i = 0; i < int(count); ++i, q += dq)
        grid.append(q);
    return grid;
}
