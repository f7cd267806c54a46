#include "simulation/kinematical.h"

#include "simulation/dynamical.h"
#include "simulation/layersum.h"
#include "simulation/materials.h"
#include "simulation/physicsstack.h"
#include "simulation/susceptibility.h"
#include "structure/constants.h"
#include "structure/extensions.h"

#include <algorithm>
#include <array>
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
// `lateral` multiplies the group-V plane: the phase of its offset along the surface in an
// asymmetric reflection.
Complex monolayerAmplitude(const ComplexElementFactors& f, double x, double y, Complex phi,
                           Complex& phiM1) {
    const Complex halfM1 = expm1I(0.5 * phi);
    const Complex halfPhase = halfM1 + 1.0;
    // e^(i phi) - 1 = (e^(i phi/2) - 1)(e^(i phi/2) + 1), precise near the peaks.
    phiM1 = halfM1 * (halfPhase + 1.0);
    return groupVSite(f, y) * halfPhase + groupIIISite(f, x) * (phiM1 + 1.0);
}

Complex monolayerAmplitude(const ComplexElementFactors& f, double x, double y, Complex phi,
                           Complex lateral, Complex& phiM1) {
    const Complex halfM1 = expm1I(0.5 * phi);
    const Complex halfPhase = halfM1 + 1.0;
    phiM1 = halfM1 * (halfPhase + 1.0);
    return groupVSite(f, y) * lateral * halfPhase + groupIIISite(f, x) * (phiM1 + 1.0);
}

// A slab kind: composition, monolayer height, number of monolayers and chi0; the slabs of
// a period that share all of them (the graded edges of repeated layers) share one
// evaluation per point.
struct SlabKind {
    double x, y, h, n;
    Complex chi0;
    double aParallel;
    double area; // (aSubstrate / aParallel)^2: a relaxed layer's atoms per substrate area
    double hx;   // asymmetric reflections: the in-plane component of h over k, signed
    int system;  // index into the model's Systems
};

// The material systems of a stack (the substrate's first) and their scattering factors at
// one point; a stack of the basic format's alloy alone has one. Each element's factor is
// computed once per point, however many systems share it.
class Systems {
public:
    explicit Systems(const PhysicsStack& stack) : dispersion_(stack.dispersion) {
        index(stack.substrateSystem);
    }
    int index(const MaterialSystem& m) {
        for (std::size_t i = 0; i < systems_.size(); ++i) {
            if (systems_[i] == m)
                return int(i);
        }
        systems_.push_back(m);
        factors_.emplace_back();
        basicOnly_ = basicOnly_ && isBasicSystem(m);
        for (Element e : {m.a0, m.a1, m.b0, m.b1}) {
            if (std::find(elements_.begin(), elements_.end(), e) == elements_.end())
                elements_.push_back(e);
        }
        return int(systems_.size() - 1);
    }
    // The factors of every system at s = sin(theta) / lambda.
    void at(double s) {
        if (basicOnly_) {
            factors_[0] = complexElementFactors(dispersion_, s);
            return;
        }
        const double t = temperatureFactor(s);
        for (Element e : elements_) {
            const int i = int(e);
            element_[std::size_t(i)] =
                Complex(scatteringFactor(scattererRow(e), s) + dispersion_.f1[i],
                        -dispersion_.f2[i]) *
                t;
        }
        for (std::size_t i = 0; i < systems_.size(); ++i) {
            const MaterialSystem& m = systems_[i];
            factors_[i] = {element_[std::size_t(m.a0)], element_[std::size_t(m.a1)],
                           element_[std::size_t(m.b1)], element_[std::size_t(m.b0)]};
        }
    }
    const ComplexElementFactors& operator[](int i) const { return factors_[std::size_t(i)]; }
    const MaterialSystem& system(int i) const { return systems_[std::size_t(i)]; }

private:
    const ElementDispersion& dispersion_;
    std::vector<MaterialSystem> systems_;
    std::vector<ComplexElementFactors> factors_;
    std::vector<Element> elements_;
    std::array<Complex, kElementCount> element_{};
    bool basicOnly_ = true;
};

// chi0 of a layer of system m.
Complex meanChi0(const MaterialSystem& m, double x, double y, double h, double aParallel,
                 double lambda, const ElementDispersion& d) {
    return isBasicSystem(m) ? meanSusceptibility(x, y, h, aParallel, lambda, d)
                            : meanSusceptibility(m, x, y, h, aParallel, lambda, d);
}

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
    Systems systems(stack);
    std::vector<int> kindOf; // top slab first
    if (stack.repeat >= 1) {
        for (auto it = stack.period.crbegin(); it != stack.period.crend(); ++it) {
            const Slab& s = *it;
            std::size_t kind = 0;
            while (kind < kinds.size() &&
                   !(kinds[kind].x == s.x && kinds[kind].y == s.y &&
                     kinds[kind].n == s.monolayers && kinds[kind].aParallel == s.aParallel &&
                     systems.system(kinds[kind].system) == s.system))
                ++kind;
            if (kind == kinds.size()) {
                const Complex chi0 = withChi0 ? meanChi0(s.system, s.x, s.y, s.monolayerHeight,
                                                         s.aParallel, lambda, stack.dispersion)
                                              : 0.0;
                const double ratio = aS / s.aParallel;
                kinds.push_back({s.x, s.y, s.monolayerHeight, double(s.monolayers), chi0,
                                 s.aParallel, ratio * ratio, 0.0, systems.index(s.system)});
            }
            kindOf.push_back(int(kind));
        }
    }
    const Complex chi0Substrate = withChi0 ? meanChi0(stack.substrateSystem, stack.xs, stack.ys,
                                                      aS / 2, aS, lambda, stack.dispersion)
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
        systems.at(g / lambda);

        for (std::size_t j = 0; j < kinds.size(); ++j) {
            const SlabKind& s = kinds[j];
            // Inside the slab the scattering vector is q + k chi0 / sin(theta).
            const Complex phi = (q + k * s.chi0 / g) * s.h;
            Complex phiM1;
            Complex monolayer = monolayerAmplitude(systems[s.system], s.x, s.y, phi, phiM1);
            if (s.area != 1.0)
                monolayer *= s.area;
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
            const Complex monolayer =
                monolayerAmplitude(systems[0], stack.xs, stack.ys, phi, phiM1);
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

QVector<double> kinematicalReflectivity(const PhysicsStack& stack, const Reflection& reflection,
                                        const QVector<double>& thetaDegrees,
                                        const std::atomic<bool>* cancel) {
    if (reflection.symmetric())
        return kinematicalReflectivity(stack, thetaDegrees, cancel);
    QVector<double> out;
    if (!stack.error.isEmpty() || reflection.l < 1)
        return out;
    const double lambda = stack.wavelength;
    const double k = kTwoPi / lambda;
    const double aS = stack.aSubstrate;
    const bool withChi0 = stack.options.meanSusceptibility;
    const double side = reflection.grazing == Reflection::Incidence ? -1.0 : 1.0;
    const double inPlane =
        std::sqrt(double(reflection.h * reflection.h + reflection.k * reflection.k));
    // A monolayer is a lattice translation with half a cell along the surface: its planes
    // add pi h to the phase; the group-V plane sits a quarter cell along both in-plane axes.
    const double lateralTurn = kPi * reflection.h;
    const Complex lateralV = std::polar(1.0, 0.5 * kPi * reflection.k);

    std::vector<SlabKind> kinds;
    Systems systems(stack);
    std::vector<int> kindOf; // top slab first
    if (stack.repeat >= 1) {
        for (auto it = stack.period.crbegin(); it != stack.period.crend(); ++it) {
            const Slab& s = *it;
            std::size_t kind = 0;
            while (kind < kinds.size() &&
                   !(kinds[kind].x == s.x && kinds[kind].y == s.y &&
                     kinds[kind].n == s.monolayers && kinds[kind].aParallel == s.aParallel &&
                     systems.system(kinds[kind].system) == s.system))
                ++kind;
            if (kind == kinds.size()) {
                const Complex chi0 = withChi0 ? meanChi0(s.system, s.x, s.y, s.monolayerHeight,
                                                         s.aParallel, lambda, stack.dispersion)
                                              : 0.0;
                const double ratio = aS / s.aParallel;
                kinds.push_back({s.x, s.y, s.monolayerHeight, double(s.monolayers), chi0,
                                 s.aParallel, ratio * ratio, side * lambda * inPlane / s.aParallel,
                                 systems.index(s.system)});
            }
            kindOf.push_back(int(kind));
        }
    }
    const Complex chi0Substrate = withChi0 ? meanChi0(stack.substrateSystem, stack.xs, stack.ys,
                                                      aS / 2, aS, lambda, stack.dispersion)
                                           : 0.0;
    const double hxSubstrate = side * lambda * inPlane / aS;
    const double siteArea = aS * aS / 2;

    std::vector<KindTerms> terms(kinds.size());
    out.reserve(thetaDegrees.size());
    for (int i = 0; i < thetaDegrees.size(); ++i) {
        if (cancel && i % kCancelStride == 0 && cancel->load(std::memory_order_relaxed))
            return {};
        double incidence = 0;
        double exit = 0;
        beamAngles(thetaDegrees[i], reflection, incidence, exit);
        const double theta = thetaDegrees[i] / kDegreesPerRadian;
        const double omega = incidence / kDegreesPerRadian;
        if (!(theta > 0 && theta < kHalfPi && omega > 0 && omega < kPi)) {
            out.append(0.0);
            continue;
        }
        const double g = std::sin(theta);
        const double g0 = std::sin(omega);
        const double c0 = std::cos(omega);
        systems.at(g / lambda);

        // The exit sine of the beam whose component along the surface is that of k0 + h of
        // a slab (lateral momentum kept by a laterally infinite layer); false when none leaves.
        auto exitSine = [c0](double hx, double& v) {
            const double px = c0 + hx;
            const double v2 = 1 - px * px;
            v = v2 > 0 ? std::sqrt(v2) : 0.0;
            return v2 > 0;
        };
        // Phase per monolayer of height h: the normal component k (g0 + v) of the scattering
        // vector, corrected for refraction and absorption on both paths, plus the lateral turn.
        auto monolayerPhase = [&](double h, Complex chi0, double v) {
            return (k * (g0 + v) + 0.5 * k * chi0 * (1 / g0 + 1 / v)) * h + lateralTurn;
        };

        bool leaves = true;
        for (std::size_t j = 0; j < kinds.size() && leaves; ++j) {
            const SlabKind& s = kinds[j];
            double v = 0;
            leaves = exitSine(s.hx, v);
            if (!leaves)
                break;
            const Complex phi = monolayerPhase(s.h, s.chi0, v);
            Complex phiM1;
            Complex monolayer =
                monolayerAmplitude(systems[s.system], s.x, s.y, phi, lateralV, phiM1);
            if (s.area != 1.0)
                monolayer *= s.area;
            const Complex slabPhi = s.n * reduceTurns(phi);
            const Complex slabM1 = s.n == 1 ? phiM1 : expm1I(slabPhi);
            terms[j] = {monolayer * geometricSum(s.n, slabM1, phiM1), slabM1 + 1.0, slabPhi};
        }
        double vSubstrate = 0;
        leaves = leaves && exitSine(hxSubstrate, vSubstrate);
        if (!leaves) {
            out.append(0.0);
            continue;
        }

        Complex period = 0.0;
        Complex above = 1.0;
        Complex periodPhi = 0.0;
        for (int kind : kindOf) {
            const KindTerms& t = terms[std::size_t(kind)];
            period += above * t.amplitude;
            above *= t.phase;
            periodPhi += t.phi;
        }
        Complex amplitude = 0.0;
        Complex belowStack = 1.0;
        if (!kindOf.empty()) {
            periodPhi = reduceTurns(periodPhi);
            const Complex stackM1 = expm1I(double(stack.repeat) * periodPhi);
            amplitude = period * geometricSum(stack.repeat, stackM1, expm1I(periodPhi));
            belowStack = stackM1 + 1.0;
        }
        if (stack.withSubstrate) {
            const Complex phi = monolayerPhase(aS / 2, chi0Substrate, vSubstrate);
            Complex phiM1;
            const Complex monolayer =
                monolayerAmplitude(systems[0], stack.xs, stack.ys, phi, lateralV, phiM1);
            const Complex denominator = std::norm(phiM1) < 1e-30 ? Complex(1e-15) : phiM1;
            amplitude += belowStack * monolayer * (-1.0 / denominator);
        }
        const double cos2 = std::cos(2 * theta);
        const double polarisation = stack.options.polarisation ? (1 + cos2 * cos2) / 2 : 1.0;
        // Amplitude over sin(out), power through the surface times sin(out) / sin(in).
        const double scale2 = kClassicalElectronRadius * lambda / siteArea *
                              kClassicalElectronRadius * lambda / siteArea / (g0 * vSubstrate);
        const double intensity = std::norm(amplitude) * scale2 * polarisation;
        out.append(std::isfinite(intensity) ? intensity : 0.0);
    }
    return out;
}
