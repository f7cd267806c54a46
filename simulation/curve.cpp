#include "simulation/curve.h"

#include "simulation/materials.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"
#include "structure/constants.h"

#include <cmath>

namespace {

// Fills theta and q for the grid and reserves the intensities.
void startCurve(const Structure& config, ResultArrays& results) {
    const double period = results.depth.isEmpty() ? 0.0 : results.depth.last();
    results.q = curveGrid(period, config.k);
    results.theta.clear();
    results.intensity.clear();
    results.theta.reserve(results.q.size());
    results.intensity.reserve(results.q.size());
    for (double q : results.q)
        results.theta.append(braggAngle(q, config.k));
}

double magnitude(std::complex<double> a) {
    return std::hypot(a.real(), a.imag());
}

} // namespace

ElementFactors elementFactors(double s) {
    const double t = temperatureFactor(s);
    return {scatteringFactor(RowIn, s) * t, scatteringFactor(RowGa, s) * t,
            scatteringFactor(RowAs, s) * t, scatteringFactor(RowP, s) * t};
}

std::complex<double> substrateAmplitude(double q, double aS, double fIII, double fV,
                                        double damping) {
    const double h = (aS + (aS - aS)) * 0.25;
    const std::complex<double> e1 = std::exp(std::complex<double>(0.0, q * h));
    const std::complex<double> e2 = std::exp(std::complex<double>(0.0, 2 * q * h));
    const std::complex<double> ratio = damping > 0 ? e2 * std::exp(-damping) : e2;
    return (fV * e1 + fIII * e2) / (1.0 - ratio);
}

bool computeCurve(const Structure& config, ResultArrays& results, const SumControl& control) {
    return computeCurve(config, results,
                        findRuns(results.depth, results.inProfile, results.asProfile), control);
}

bool computeCurve(const Structure& config, ResultArrays& results,
                  const std::vector<MonolayerRun>& runs, const SumControl& control) {
    clearAvxUpperState();
    startCurve(config, results);
    const QVector<double>& q = results.q;
    std::vector<ElementFactors> f(std::size_t(q.size()));
    for (int i = 0; i < q.size(); ++i)
        f[std::size_t(i)] = elementFactors(q[i] / kFourPi);

    const LayerSum sum(results.depth, results.inProfile, results.asProfile, config.repeat, runs);
    std::vector<std::complex<double>> layers;
    if (!sum.amplitudes(q, f, layers, control))
        return false;

    const double aS = latticeConstant(config.substrate.inFraction, config.substrate.asFraction);
    const double xs = config.substrate.inFraction;
    const double ys = config.substrate.asFraction;
    results.intensity.resize(q.size());
    for (int i = 0; i < q.size(); ++i) {
        const ElementFactors& fi = f[std::size_t(i)];
        double substrate = 0.0;
        if (config.withSubstrate) {
            const double fIII = (1 - xs) * fi.ga + xs * fi.in;
            const double fV = (1 - ys) * fi.p + ys * fi.as;
            substrate = magnitude(substrateAmplitude(q[i], aS, fIII, fV));
        }
        const double amplitude = substrate + magnitude(layers[std::size_t(i)]);
        results.intensity[i] = amplitude * amplitude;
    }
    return true;
}

void computeCurveDirect(const Structure& config, ResultArrays& results) {
    clearAvxUpperState();
    startCurve(config, results);

    const QVector<double>& depth = results.depth;
    const QVector<double>& inProfile = results.inProfile;
    const QVector<double>& asProfile = results.asProfile;
    const double period = depth.isEmpty() ? 0.0 : depth.last();
    const double aS = latticeConstant(config.substrate.inFraction, config.substrate.asFraction);
    const double xs = config.substrate.inFraction;
    const double ys = config.substrate.asFraction;
    const int layers = int(depth.size()) - 1;

    for (double q : results.q) {
        const double s = q / kFourPi;
        std::complex<double> a(0.0, 0.0);
        double offset = 0.0;
        for (int m = 0; m < config.repeat; ++m) {
            for (int n = 0; n < layers; ++n) {
                const double zIII = depth[n] + offset;
                const double zV = (depth[n] + depth[n + 1]) * 0.5 + offset;
                const std::complex<double> term =
                    groupVFactor(asProfile[n], s) * std::exp(std::complex<double>(0.0, q * zV)) +
                    groupIIIFactor(inProfile[n], s) * std::exp(std::complex<double>(0.0, q * zIII));
                a = a + term;
            }
            offset = offset + period;
        }
        double substrate = 0.0;
        if (config.withSubstrate)
            substrate =
                magnitude(substrateAmplitude(q, aS, groupIIIFactor(xs, s), groupVFactor(ys, s)));
        const double amplitude = substrate + std::hypot(a.real(), a.imag());
        results.intensity.append(amplitude * amplitude);
    }
}
