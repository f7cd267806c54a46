#include "simulation/kinematical.h"

#include "simulation/layersum.h"
#include "simulation/physicsstack.h"
#include "simulation/susceptibility.h"
#include "structure/constants.h"

#include <cmath>
#include <complex>
#include <vector>

namespace {

using Complex = std::complex<double>;

// Points between two looks at the cancel flag.
constexpr int kCancelStride = 64;

// e^(i phi) - 1 for complex phi = v + i u without the cancellation of e^(i phi) - 1 near the
// multiples of 2 pi, where the kinematical sums have their peaks: with the half-angle
// sine s and cosine c of v,
//   e^(-u) (cos v + i sin v) - 1 = expm1(-u) (1 - 2 s^2) - 2 s^2 + i e^(-u) 2 s c.
// The C library reduces the argument of sin and cos exactly, so s keeps its relative
// precision near the multiples of pi; one sine-cosine pair serves the whole value.
Complex expm1I(Complex phi) {
    const double half = 0.5 * phi.real();
    const double s = std::sin(half);
    const double c = std::cos(half);
    const double em1 = std::expm1(-phi.imag());
    const double s2 = 2 * s * s;
    return {em1 * (1 - s2) - s2, (em1 + 1) * (2 * s * c)};
}

// Re phi reduced to [-pi, pi] by whole turns, which leave e^(i phi) as it is.
Complex reduceTurns(Complex phi) {
    return {reduceTwoPi(phi.real()), phi.imag()};
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

// A slab kind: composition, monolayer height, number of monolayers and chi0; the slabs of
// a period that share all of them (the graded edges of repeated layers) share one
// evaluation per point.
struct SlabKind {
    double x, y, h, n;
    Complex chi0;
};

// What a kind contributes at one point: the amplitude of its monolayers seen from its top,
// and e^(i n phi) for the material below it, with n phi.
struct KindTerms {
    Complex amplitude;
    Complex phase;
    Complex phi;
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

    std::vector<SlabKind> kinds;
    std::vector<int> kindOf; // top slab first
    if (stack.repeat >= 1) {
        for (auto it = stack.period.crbegin(); it != stack.period.crend(); ++it) {
            const Slab& s = *it;
            std::size_t kind = 0;
            while (kind < kinds.size() &&
                   !(kinds[kind].x == s.x && kinds[kind].y == s.y && kinds[kind].n == s.monolayers))
                ++kind;
            if (kind == kinds.size()) {
                const Complex chi0 = withChi0 ? meanSusceptibility(s.x, s.y, s.monolayerHeight, aS,
                                                                   lambda, stack.dispersion)
                                              : 0.0;
                kinds.push_back({s.x, s.y, s.monolayerHeight, double(s.monolayers), chi0});
            }
            kindOf.push_back(int(kind));
        }
    }
    const Complex chi0Substrate =
        withChi0 ? meanSusceptibility(stack.xs, stack.ys, aS / 2, aS, lambda, stack.dispersion)
                 : 0.0;
    // Area per atom of one (001) plane: two atoms of each kind per aS x aS face.
    const double siteArea = aS * aS / 2;

    std::vector<KindTerms> terms(kinds.size());
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

        for (std::size_t j = 0; j < kinds.size(); ++j) {
            const SlabKind& s = kinds[j];
            // Inside the slab the scattering vector is q + k chi0 / sin(theta).
            const Complex phi = (q + k * s.chi0 / g) * s.h;
            Complex phiM1;
            const Complex monolayer = monolayerAmplitude(f, s.x, s.y, phi, phiM1);
            // Reduced by whole turns, so that near a peak (phi close to a multiple of 2 pi)
            // the numerator and the denominator of the geometric sum see the same small
            // remainder instead of independent rounding errors.
            const Complex slabPhi = s.n * reduceTurns(phi);
            const Complex slabM1 = s.n == 1 ? phiM1 : expm1I(slabPhi);
            terms[j] = {monolayer * geometricSum(s.n, slabM1, phiM1), slabM1 + 1.0, slabPhi};
        }

        // Layers, from the surface down: `above` is e^(i sum psi t) over the material between
        // the surface and the top of the current slab, `periodPhi` the sum itself.
        Complex period = 0.0;
        Complex above = 1.0;
        Complex periodPhi = 0.0;
        for (int kind : kindOf) {
            const KindTerms& t = terms[std::size_t(kind)];
            period += above * t.amplitude;
            above *= t.phase;
            periodPhi += t.phi;
        }
        // All periods: sum over m < M of e^(i m Phi).
        Complex amplitude = 0.0;
        Complex belowStack = 1.0;
        if (!kindOf.empty()) {
            periodPhi = reduceTurns(periodPhi);
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
            const Complex denominator = std::norm(phiM1) < 1e-30 ? Complex(1e-15) : phiM1;
            amplitude += belowStack * monolayer * (-1.0 / denominator);
        }
        const double cos2 = std::cos(2 * theta);
        const double polarisation = stack.options.polarisation ? (1 + cos2 * cos2) / 2 : 1.0;
        const double scale = kClassicalElectronRadius * lambda / (siteArea * g);
        const double intensity = std::norm(amplitude) * (scale * scale) * polarisation;
        out.append(std::isfinite(intensity) ? intensity : 0.0);
    }
    return out;
}
