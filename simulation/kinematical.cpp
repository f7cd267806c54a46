#include "kinematical.h"

#include "constants.h"
#include "physicsstack.h"
#include "susceptibility.h"

#include <cmath>
#include <complex>
#include <vector>

namespace {

using Complex = std::complex<double>;

// Points between two looks at the cancel flag.
constexpr int kCancelStride = 64;

// e^(i phi) - 1 for complex phi = v + i u without the cancellation of e^(i phi) - 1 near the
// multiples of 2 pi, where the kinematical sums have their peaks:
//   e^(-u) (cos v + i sin v) - 1 = expm1(-u) cos v - 2 sin^2(v/2) + i e^(-u) sin v.
// v is first reduced to [-pi, pi], so sin(v/2) keeps its relative precision near the peaks.
Complex expm1I(Complex phi) {
    const double v = std::remainder(phi.real(), kTwoPi);
    const double u = -phi.imag();
    const double half = std::sin(0.5 * v);
    const double em1 = std::expm1(u);
    const double sinV = std::sin(v);
    return {em1 * std::cos(v) - 2 * half * half, (em1 + 1) * sinV};
}

// (e^(i count phi) - 1) / (e^(i phi) - 1) = sum over n < count of e^(i n phi), from both
// numerator and denominator; count where the denominator vanishes (a peak without
// absorption).
Complex geometricSum(double count, Complex countPhiM1, Complex phiM1) {
    if (phiM1 == 0.0)
        return count;
    return countPhiM1 / phiM1;
}

// One monolayer of a slab as seen from its top: the group-V plane h/2 down, the group-III
// plane h down, with phi = psi h. Also gives e^(i phi) - 1.
Complex monolayerAmplitude(const ComplexElementFactors& f, double x, double y, Complex phi,
                           Complex& phiM1) {
    const Complex halfM1 = expm1I(0.5 * phi);
    const Complex halfPhase = halfM1 + 1.0;
    // e^(i phi) - 1 = (e^(i phi/2) - 1)(e^(i phi/2) + 1), precise near the peaks.
    phiM1 = halfM1 * (halfPhase + 1.0);
    return groupVSite(f, y) * halfPhase + groupIIISite(f, x) * (phiM1 + 1.0);
}

struct SlabOptics {
    double x, y, h, n;
    Complex chi0;
};

} // namespace

QVector<double> kinematicalReflectivity(const PhysicsStack& stack,
                                        const QVector<double>& thetaDegrees,
                                        const std::atomic<bool>* cancel) {
    QVector<double> out;
    if (!stack.error.isEmpty())
        return out;
    const double lambda = stack.wavelength;
    const double k = kTwoPi / lambda;
    const double aS = stack.aSubstrate;
    const bool withChi0 = stack.options.meanSusceptibility;

    std::vector<SlabOptics> slabs;
    if (stack.repeat >= 1) {
        slabs.reserve(std::size_t(stack.period.size()));
        for (const Slab& s : stack.period) {
            const Complex chi0 =
                withChi0 ? meanSusceptibility(s.x, s.y, s.monolayerHeight, aS, lambda,
                                              stack.dispersion)
                         : 0.0;
            slabs.push_back({s.x, s.y, s.monolayerHeight, double(s.monolayers), chi0});
        }
    }
    const Complex chi0Substrate =
        withChi0 ? meanSusceptibility(stack.xs, stack.ys, aS / 2, aS, lambda, stack.dispersion)
                 : 0.0;
    // Area per atom of one (001) plane: two atoms of each kind per aS x aS face.
    const double siteArea = aS * aS / 2;

    out.reserve(thetaDegrees.size());
    for (int i = 0; i < thetaDegrees.size(); ++i) {
        if (cancel && i % kCancelStride == 0 && cancel->load(std::memory_order_relaxed))
            return {};
        const double theta = thetaDegrees[i] / kDegreesPerRadian;
        const double g = std::sin(theta);
        if (!(theta > 0 && theta < kHalfPi)) {
            out.append(0.0);
            continue;
        }
        const double q = 2 * k * g;
        const ComplexElementFactors f = complexElementFactors(stack.dispersion, g / lambda);

        // Layers, from the surface down: `above` is e^(i sum psi t) over the material between
        // the surface and the top of the current slab, `periodPhi` the sum itself.
        Complex period = 0.0;
        Complex above = 1.0;
        Complex periodPhi = 0.0;
        for (auto it = slabs.rbegin(); it != slabs.rend(); ++it) {
            const Complex phi = (q + k * it->chi0 / g) * it->h;
            Complex phiM1;
            const Complex monolayer = monolayerAmplitude(f, it->x, it->y, phi, phiM1);
            const Complex slabM1 = it->n == 1 ? phiM1 : expm1I(it->n * phi);
            period += above * monolayer * geometricSum(it->n, slabM1, phiM1);
            above *= slabM1 + 1.0;
            periodPhi += it->n * phi;
        }
        // All periods: sum over m < M of e^(i m Phi).
        Complex amplitude = 0.0;
        Complex belowStack = 1.0;
        if (!slabs.empty()) {
            const Complex stackM1 = expm1I(double(stack.repeat) * periodPhi);
            amplitude = period * geometricSum(stack.repeat, stackM1, expm1I(periodPhi));
            belowStack = stackM1 + 1.0;
        }
        if (stack.withSubstrate) {
            const Complex phi = (q + k * chi0Substrate / g) * (aS / 2);
            Complex phiM1;
            const Complex monolayer = monolayerAmplitude(f, stack.xs, stack.ys, phi, phiM1);
            // The semi-infinite series sum e^(i n phi) = -1 / (e^(i phi) - 1). Absorption
            // keeps it finite. Without absorption it has poles at the substrate's Bragg
            // positions; closer than the rounding of phi (about 1e-15) a point takes the
            // value at that distance, huge but finite.
            const Complex denominator = std::abs(phiM1) < 1e-15 ? Complex(1e-15) : phiM1;
            amplitude += belowStack * monolayer * (-1.0 / denominator);
        }
        const double cos2 = std::cos(2 * theta);
        const double polarisation = stack.options.polarisation ? (1 + cos2 * cos2) / 2 : 1.0;
        const double scale = kClassicalElectronRadius * lambda / (siteArea * g);
        const double r = std::abs(amplitude) * scale;
        const double intensity = r * r * polarisation;
        out.append(std::isfinite(intensity) ? intensity : 0.0);
    }
    return out;
}
