#include "simulation/dynamical.h"

#include "simulation/physicsstack.h"
#include "simulation/susceptibility.h"
#include "structure/constants.h"
#include "structure/extensions.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <vector>

namespace {

using Complex = std::complex<double>;

constexpr int kCancelStride = 32;

// Below this |s T|^2 the slab functions come from their Taylor series in w = (s T)^2,
// which needs no square root and no trigonometry: the graded monolayers and every thin slab.
// Eight terms leave a truncation error below 0.5^8 / 16! = 2e-16.
constexpr double kSeriesBelow = 0.5;

// Principal square root, without the library's care for infinities and for values near
// the overflow threshold: here |w| stays far below 1e150 (a slab of 2^31 monolayers at
// theta = 0.1 degrees gives about 1e30), and a NaN from an absurd angle is caught at the end.
Complex principalSqrt(Complex w) {
    const double a = w.real();
    const double b = w.imag();
    const double r = std::sqrt(0.5 * (std::sqrt(a * a + b * b) + std::fabs(a)));
    if (r == 0)
        return 0.0;
    if (a >= 0)
        return {r, 0.5 * b / r};
    return {0.5 * std::fabs(b) / r, std::copysign(r, b)};
}

// 1 / ((2n)(2n - 1)) and 1 / ((2n + 1)(2n)), the ratios of successive Taylor terms.
constexpr double kCosine[8] = {0,        1.0 / 2,  1.0 / 12,  1.0 / 30,
                               1.0 / 56, 1.0 / 90, 1.0 / 132, 1.0 / 182};
constexpr double kSine[8] = {0,        1.0 / 6,   1.0 / 20,  1.0 / 42,
                             1.0 / 72, 1.0 / 110, 1.0 / 156, 1.0 / 210};

// Two complex numbers side by side, lane 0 for sigma and lane 1 for pi polarisation, real
// parts together and imaginary parts together: each operation below is a loop over the two
// lanes, which the compiler turns into single instructions on pairs of doubles. Both
// polarisations thus share one pass through the stack.
struct Pair {
    double re[2];
    double im[2];
};

inline Pair operator+(const Pair& x, const Pair& y) {
    Pair r;
    for (int l = 0; l < 2; ++l) {
        r.re[l] = x.re[l] + y.re[l];
        r.im[l] = x.im[l] + y.im[l];
    }
    return r;
}

inline Pair operator*(const Pair& x, const Pair& y) {
    Pair r;
    for (int l = 0; l < 2; ++l) {
        r.re[l] = x.re[l] * y.re[l] - x.im[l] * y.im[l];
        r.im[l] = x.re[l] * y.im[l] + x.im[l] * y.re[l];
    }
    return r;
}

inline Pair pair(Complex lane0, Complex lane1) {
    return {{lane0.real(), lane1.real()}, {lane0.imag(), lane1.imag()}};
}

// A 2 x 2 complex matrix acting on X as the Moebius map X -> (a X + b) / (c X + d), one
// per lane. Any non-zero multiple acts alike, which lets products be rescaled freely.
struct Moebius {
    Pair a, b, c, d;
};

Moebius multiply(const Moebius& m, const Moebius& n) {
    return {m.a * n.a + m.b * n.c, m.a * n.b + m.b * n.d, m.c * n.a + m.d * n.c,
            m.c * n.b + m.d * n.d};
}

// Brings the entries near 1: long products and powers would otherwise overflow or
// underflow (a thick absorbing slab grows its entries by e^(mu t)).
inline void normalise(Moebius& m) {
    for (int l = 0; l < 2; ++l) {
        const double largest = std::max(std::max(std::fabs(m.a.re[l]) + std::fabs(m.a.im[l]),
                                                 std::fabs(m.b.re[l]) + std::fabs(m.b.im[l])),
                                        std::max(std::fabs(m.c.re[l]) + std::fabs(m.c.im[l]),
                                                 std::fabs(m.d.re[l]) + std::fabs(m.d.im[l])));
        const double scale =
            largest > 0 && largest < std::numeric_limits<double>::infinity() ? 1 / largest : 1;
        for (Pair* p : {&m.a, &m.b, &m.c, &m.d}) {
            p->re[l] *= scale;
            p->im[l] *= scale;
        }
    }
}

// The entries stay near 1 and |X| <= 1, so the division needs none of the rescaling that
// the library's complex division does against overflow.
Pair mapRatio(const Moebius& m, const Pair& x) {
    const Pair num = m.a * x + m.b;
    const Pair den = m.c * x + m.d;
    Pair r;
    for (int l = 0; l < 2; ++l) {
        const double inverse = 1 / (den.re[l] * den.re[l] + den.im[l] * den.im[l]);
        r.re[l] = (num.re[l] * den.re[l] + num.im[l] * den.im[l]) * inverse;
        r.im[l] = (num.im[l] * den.re[l] - num.re[l] * den.im[l]) * inverse;
    }
    return r;
}

// m^n for n >= 1 by repeated squaring.
Moebius power(Moebius m, unsigned n) {
    while ((n & 1u) == 0) {
        m = multiply(m, m);
        normalise(m);
        n >>= 1;
    }
    Moebius result = m;
    n >>= 1;
    while (n > 0) {
        m = multiply(m, m);
        normalise(m);
        if (n & 1u) {
            result = multiply(m, result);
            normalise(result);
        }
        n >>= 1;
    }
    return result;
}

// The maps of one uniform slab for both polarisations, from `tEta` = T eta (the same for
// both) and `tSigma` = T for C = 1; `cPi` is C of the pi lane. With w = (s T)^2 =
// (T eta)^2 - T^2, c = cos(sqrt w) and sinc = sin(sqrt w) / sqrt w (see dynamical.h):
//   [[c - i (T eta) sinc, i T sinc], [-i T sinc, c + i (T eta) sinc]].
// In the trigonometric branch both c and sinc are multiplied by e^(-|Im sqrt w|), the same
// factor for every entry of a lane, so that a thick absorbing slab cannot overflow.
Moebius slabMap(Complex tEta, Complex tSigma, double cPi) {
    const Complex t[2] = {tSigma, cPi * tSigma};
    const Complex eta2 = tEta * tEta;
    const Complex w[2] = {eta2 - t[0] * t[0], eta2 - t[1] * t[1]};
    const double size = std::max(std::norm(w[0]), std::norm(w[1]));
    Pair c;
    Pair sinc;
    if (size < kSeriesBelow * kSeriesBelow) {
        // cos(z) = sum (-w)^n / (2n)!, sin(z)/z = sum (-w)^n / (2n+1)!, by Horner's rule
        // from the last term that matters: |w|^n / (2n)! stays below 1e-16 with n = 8 up to
        // |w| = 0.5, n = 6 up to 0.05 and n = 4 up to 0.002 (about 4e-16 there).
        const int terms = size < 4e-6 ? 4 : size < 2.5e-3 ? 6 : 8;
        const Pair minusW = pair(-w[0], -w[1]);
        c = {{1, 1}, {0, 0}};
        sinc = c;
        for (int n = terms - 1; n >= 1; --n) {
            const Pair cw = minusW * c;
            const Pair sw = minusW * sinc;
            for (int l = 0; l < 2; ++l) {
                c.re[l] = 1 + cw.re[l] * kCosine[n];
                c.im[l] = cw.im[l] * kCosine[n];
                sinc.re[l] = 1 + sw.re[l] * kSine[n];
                sinc.im[l] = sw.im[l] * kSine[n];
            }
        }
    } else {
        for (int l = 0; l < 2; ++l) {
            const Complex z = principalSqrt(w[l]);
            const double im = z.imag();
            // cos(a + ib) = cos a cosh b - i sin a sinh b, sin(a + ib) = sin a cosh b +
            // i cos a sinh b; cosh and sinh scaled by e^(-|b|).
            const double e = std::exp(-2 * std::fabs(im));
            const double ch = 0.5 * (1 + e);
            const double sh = std::copysign(0.5 * (1 - e), im);
            const double sinA = std::sin(z.real());
            const double cosA = std::cos(z.real());
            const Complex sincL = Complex(sinA * ch, cosA * sh) * std::conj(z) / std::norm(z);
            c.re[l] = cosA * ch;
            c.im[l] = -sinA * sh;
            sinc.re[l] = sincL.real();
            sinc.im[l] = sincL.imag();
        }
    }
    // i T sinc and i (T eta) sinc.
    const Pair iT = pair(Complex(-t[0].imag(), t[0].real()), Complex(-t[1].imag(), t[1].real()));
    const Pair iTEta = pair(Complex(-tEta.imag(), tEta.real()), Complex(-tEta.imag(), tEta.real()));
    const Pair iS = iT * sinc;
    const Pair iEtaS = iTEta * sinc;
    Moebius m;
    for (int l = 0; l < 2; ++l) {
        m.a.re[l] = c.re[l] - iEtaS.re[l];
        m.a.im[l] = c.im[l] - iEtaS.im[l];
        m.d.re[l] = c.re[l] + iEtaS.re[l];
        m.d.im[l] = c.im[l] + iEtaS.im[l];
        m.b.re[l] = iS.re[l];
        m.b.im[l] = iS.im[l];
        m.c.re[l] = -iS.re[l];
        m.c.im[l] = -iS.im[l];
    }
    return m;
}

// What a slab keeps between points: its susceptibilities, sin(theta_B) and thickness.
struct SlabOptics {
    Complex chi0;
    Complex chiH;
    double braggSine;
    double thickness; // Å
};

SlabOptics slabOptics(const MaterialSystem& system, double x, double y, double h, double n,
                      double aParallel, const PhysicsStack& stack, int reflection) {
    const Susceptibility chi =
        isBasicSystem(system)
            ? susceptibility(x, y, h, aParallel, stack.wavelength, reflection, stack.dispersion,
                             stack.options.meanSusceptibility)
            : susceptibility(system, x, y, h, aParallel, stack.wavelength, reflection,
                             stack.dispersion, stack.options.meanSusceptibility);
    return {chi.chi0, chi.chiH, chi.braggSine, n * h};
}

// The angle-dependent parts of one slab at sin(theta) = g: T eta (independent of the
// polarisation factor C) and T for C = 1.
void slabParameters(const SlabOptics& s, double g, double lambda, Complex& tEta, Complex& tSigma) {
    const double alpha = 4 * g * (s.braggSine - g);
    const double common = kPi * s.thickness / (lambda * g);
    tEta = (0.5 * common) * (alpha - 2.0 * s.chi0);
    tSigma = common * s.chiH;
}

// The fixed point with |X| <= 1 of the semi-infinite substrate: X = eta +/- sqrt(eta^2 - 1),
// the two roots multiplying to 1.
Complex substrateRatio(const SlabOptics& s, double g, double cFactor) {
    const double alpha = 4 * g * (s.braggSine - g);
    const Complex cChi = cFactor * s.chiH;
    if (cChi == 0.0)
        return 0.0;
    const Complex eta = (alpha - 2.0 * s.chi0) / (2.0 * cChi);
    const Complex root = principalSqrt(eta * eta - 1.0);
    const Complex plus = eta + root;
    const Complex minus = eta - root;
    return std::norm(plus) <= std::norm(minus) ? plus : minus;
}

bool validReflection(int reflection) {
    return reflection >= 2 && reflection % 2 == 0;
}

// ---- the asymmetric Bragg case ---------------------------------------------------------

// One slab kind of an asymmetric reflection: its susceptibilities and the components of its
// own reciprocal lattice vector in units of k, in the plane of incidence (signed for the
// geometry) and along the outward normal.
struct AsymmetricSlab {
    Complex chi0;
    Complex chiTilde; // sqrt(chi_h chi_-h), the branch that makes chi_-h rho = chiTilde
    Complex rho;      // sqrt(chi_h / chi_-h)
    double hx;
    double hz;
    double thickness; // Å
};

AsymmetricSlab asymmetricSlab(const MaterialSystem& system, double x, double y, double h, double n,
                              double aParallel, const PhysicsStack& stack, const Reflection& r) {
    const GeneralSusceptibility chi =
        isBasicSystem(system)
            ? reflectionSusceptibility(x, y, h, aParallel, stack.wavelength, r.h, r.k, r.l,
                                       stack.dispersion, stack.options.meanSusceptibility)
            : reflectionSusceptibility(system, x, y, h, aParallel, stack.wavelength, r.h, r.k, r.l,
                                       stack.dispersion, stack.options.meanSusceptibility);
    AsymmetricSlab out;
    out.chi0 = chi.chi0;
    out.rho = chi.chiMinusH != 0.0 ? principalSqrt(chi.chiH / chi.chiMinusH) : Complex(1.0);
    out.chiTilde = chi.chiMinusH * out.rho;
    const double side = r.grazing == Reflection::Incidence ? -1.0 : 1.0;
    out.hx = side * stack.wavelength * std::sqrt(double(r.h * r.h + r.k * r.k)) / aParallel;
    out.hz = stack.wavelength * r.l / (2 * h);
    out.thickness = n * h;
    return out;
}

// The angle-dependent parts of one slab for an incident beam at glancing angle `in` to the
// surface (sine g0, cosine c0): false when the diffracted beam of this slab cannot leave
// the surface. With the exit sine v of the beam k0 + h that the surface lets out and u the
// outward normal component of k0 + h (both over k), the deviation from the slab's Bragg
// condition is 2 v (u - v), exact for the phase rate of a free diffracted wave as in the
// symmetric case, and
//   T eta = (pi t / (2 lambda)) (2 (u - v) - chi0 (1 / g0 + 1 / v)),
//   T = pi t chiTilde / (lambda sqrt(g0 v)),
// the equation of the symmetric case for Y = X / lambdaX, lambdaX = sqrt(g0 / v) rho.
struct AsymmetricPoint {
    Complex tEta;
    Complex tSigma;
    Complex scale; // lambdaX
    double exitSine;
};

bool asymmetricPoint(const AsymmetricSlab& s, double g0, double c0, double lambda,
                     AsymmetricPoint& p) {
    const double px = c0 + s.hx;
    const double v2 = 1 - px * px;
    const double u = s.hz - g0;
    if (!(v2 > 0) || !(u > 0))
        return false;
    const double v = std::sqrt(v2);
    const double common = kPi * s.thickness / lambda;
    p.tEta = (0.5 * common) * (2 * (u - v) - s.chi0 * (1 / g0 + 1 / v));
    p.tSigma = common * s.chiTilde / std::sqrt(g0 * v);
    p.scale = std::sqrt(g0 / v) * s.rho;
    p.exitSine = v;
    return true;
}

// The map of a slab that does not diffract a wave of exit sine v (its own reciprocal vector
// has another component along the surface): the ratio of that wave to the incident beam
// only loses the absorption along both paths, T eta = -(pi t / (2 lambda)) chi0 (1 / g0 +
// 1 / v), T = 0.
Moebius passingMap(const AsymmetricSlab& s, double g0, double v, double lambda, double cPi) {
    const Complex tEta = -(0.5 * kPi * s.thickness / lambda) * s.chi0 * (1 / g0 + 1 / v);
    return slabMap(tEta, 0.0, cPi);
}

// The fixed point with |Y| <= 1 of the substrate's map, as X = lambdaX Y.
Complex asymmetricSubstrateRatio(const AsymmetricSlab& s, double g0, double c0, double lambda,
                                 double cFactor) {
    AsymmetricSlab unit = s;
    unit.thickness = 1;
    AsymmetricPoint p;
    if (!asymmetricPoint(unit, g0, c0, lambda, p))
        return 0.0;
    const Complex cT = cFactor * p.tSigma;
    if (cT == 0.0)
        return 0.0;
    const Complex eta = p.tEta / cT;
    const Complex root = principalSqrt(eta * eta - 1.0);
    const Complex plus = eta + root;
    const Complex minus = eta - root;
    return p.scale * (std::norm(plus) <= std::norm(minus) ? plus : minus);
}

// The map of X = lambdaX Y from the map of Y: b times lambdaX, c divided by it.
void scaleMap(Moebius& m, Complex scale) {
    const Pair s = pair(scale, scale);
    const Complex inverse = 1.0 / scale;
    const Pair si = pair(inverse, inverse);
    m.b = m.b * s;
    m.c = m.c * si;
}

} // namespace

double substrateInclination(const Reflection& r) {
    return std::atan2(std::sqrt(double(r.h * r.h + r.k * r.k)), double(r.l)) * kDegreesPerRadian;
}

double substrateBraggAngle(const PhysicsStack& stack, const Reflection& r) {
    const double n2 = double(r.h * r.h + r.k * r.k + r.l * r.l);
    const double sine = stack.wavelength * std::sqrt(n2) / (2 * stack.aSubstrate);
    if (!(sine > 0 && sine < 1))
        return std::numeric_limits<double>::quiet_NaN();
    return std::asin(sine) * kDegreesPerRadian;
}

void beamAngles(double thetaDegrees, const Reflection& r, double& incidence, double& exit) {
    const double phi = substrateInclination(r);
    const double sign = r.grazing == Reflection::Incidence ? -1.0 : 1.0;
    incidence = thetaDegrees + sign * phi;
    exit = thetaDegrees - sign * phi;
}

QVector<double> dynamicalReflectivity(const PhysicsStack& stack, const Reflection& reflection,
                                      const QVector<double>& thetaDegrees,
                                      const std::atomic<bool>* cancel) {
    if (reflection.symmetric())
        return dynamicalReflectivity(stack, reflection.l, thetaDegrees, cancel);
    QVector<double> out;
    if (!stack.error.isEmpty() || reflection.l < 1)
        return out;
    const double lambda = stack.wavelength;
    const double aS = stack.aSubstrate;

    std::vector<AsymmetricSlab> kinds;
    std::vector<const Slab*> kindSlab;
    std::vector<int> kindOf;
    if (stack.repeat >= 1) {
        for (const Slab& s : stack.period) {
            std::size_t kind = 0;
            while (kind < kindSlab.size() &&
                   !(kindSlab[kind]->x == s.x && kindSlab[kind]->y == s.y &&
                     kindSlab[kind]->system == s.system &&
                     kindSlab[kind]->monolayers == s.monolayers &&
                     kindSlab[kind]->aParallel == s.aParallel))
                ++kind;
            if (kind == kindSlab.size()) {
                kindSlab.push_back(&s);
                kinds.push_back(asymmetricSlab(s.system, s.x, s.y, s.monolayerHeight, s.monolayers,
                                               s.aParallel, stack, reflection));
            }
            kindOf.push_back(int(kind));
        }
    }
    const AsymmetricSlab substrate =
        asymmetricSlab(stack.substrateSystem, stack.xs, stack.ys, aS / 2, 0, aS, stack, reflection);
    // Slabs of one in-plane lattice parameter share the diffracted beam k0 + h: one wave per
    // parameter, the substrate's first. A slab of another parameter does not diffract a wave
    // (k0 + h differs along the surface), which crosses it at its own exit angle.
    std::vector<double> waveA = {aS};
    std::vector<int> waveOf(kinds.size());
    std::vector<int> waveKind; // a slab kind of each wave, -1 for the substrate
    waveKind.push_back(-1);
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        const double a = kindSlab[k]->aParallel;
        std::size_t w = 0;
        while (w < waveA.size() && waveA[w] != a)
            ++w;
        if (w == waveA.size()) {
            waveA.push_back(a);
            waveKind.push_back(int(k));
        }
        waveOf[k] = int(w);
    }
    const unsigned periods = stack.repeat >= 1 ? unsigned(stack.repeat) : 0u;
    const bool usePower = periods > 1 && !kindOf.empty();
    const bool unpolarised = stack.options.polarisation;

    std::vector<AsymmetricPoint> points(kinds.size());
    std::vector<Moebius> maps(kinds.size());
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
        const double g0 = std::sin(omega);
        const double c0 = std::cos(omega);
        const double cPi = unpolarised ? std::cos(2 * theta) : 1.0;
        bool leaves = true;
        for (std::size_t k = 0; k < kinds.size() && leaves; ++k) {
            leaves = asymmetricPoint(kinds[k], g0, c0, lambda, points[k]);
            if (leaves) {
                maps[k] = slabMap(points[k].tEta, points[k].tSigma, cPi);
                scaleMap(maps[k], points[k].scale);
            }
        }
        AsymmetricPoint top;
        AsymmetricSlab unit = substrate;
        unit.thickness = 1;
        leaves = leaves && asymmetricPoint(unit, g0, c0, lambda, top);
        if (!leaves) {
            // Some diffracted beam runs below the surface: none leaves it (see dynamical.h).
            out.append(0.0);
            continue;
        }
        const Pair substrateRatio =
            stack.withSubstrate ? pair(asymmetricSubstrateRatio(substrate, g0, c0, lambda, 1.0),
                                       asymmetricSubstrateRatio(substrate, g0, c0, lambda, cPi))
                                : Pair{{0, 0}, {0, 0}};
        double r = 0;
        for (std::size_t w = 0; w < waveA.size(); ++w) {
            const double v =
                waveKind[w] < 0 ? top.exitSine : points[std::size_t(waveKind[w])].exitSine;
            if (waveA.size() > 1) {
                for (std::size_t k = 0; k < kinds.size(); ++k) {
                    if (waveOf[k] == int(w)) {
                        maps[k] = slabMap(points[k].tEta, points[k].tSigma, cPi);
                        scaleMap(maps[k], points[k].scale);
                    } else {
                        maps[k] = passingMap(kinds[k], g0, v, lambda, cPi);
                    }
                }
            }
            Pair x = w == 0 ? substrateRatio : Pair{{0, 0}, {0, 0}};
            if (usePower) {
                Moebius period = maps[std::size_t(kindOf[0])];
                for (std::size_t j = 1; j < kindOf.size(); ++j) {
                    period = multiply(maps[std::size_t(kindOf[j])], period);
                    if (j % 8 == 0)
                        normalise(period);
                }
                normalise(period);
                x = mapRatio(power(period, periods), x);
            } else {
                for (int kind : kindOf)
                    x = mapRatio(maps[std::size_t(kind)], x);
            }
            // The reflectivity is the ratio of the beams' power through the surface: |X|^2
            // times the exit sine over the incidence sine, summed over the waves, which
            // leave at different angles and do not interfere.
            const double toPower = v / g0;
            const double sigma = (x.re[0] * x.re[0] + x.im[0] * x.im[0]) * toPower;
            const double pi = (x.re[1] * x.re[1] + x.im[1] * x.im[1]) * toPower;
            r += unpolarised ? 0.5 * (sigma + pi) : sigma;
        }
        out.append(r <= 1.0 ? r : (r > 1.0 ? 1.0 : 0.0));
    }
    return out;
}

QVector<double> dynamicalDefaultGrid(const PhysicsStack& stack, const Reflection& reflection) {
    if (reflection.symmetric())
        return dynamicalDefaultGrid(stack, reflection.l);
    QVector<double> grid;
    if (!stack.error.isEmpty() || reflection.l < 1)
        return grid;
    const double thetaB = substrateBraggAngle(stack, reflection);
    if (!std::isfinite(thetaB))
        return grid;
    constexpr double halfRange = 1.5;
    constexpr int maxPoints = 200001;
    double step = 0.0004;
    const GeneralSusceptibility chi =
        reflectionSusceptibility(stack.substrateSystem, stack.xs, stack.ys, stack.aSubstrate / 2,
                                 stack.aSubstrate, stack.wavelength, reflection.h, reflection.k,
                                 reflection.l, stack.dispersion, stack.options.meanSusceptibility);
    // The Darwin width of an asymmetric reflection: the symmetric one over sqrt|b|, narrowest
    // at grazing exit.
    double incidence = 0;
    double exit = 0;
    beamAngles(thetaB, reflection, incidence, exit);
    const double gIn = std::sin(incidence / kDegreesPerRadian);
    const double gOut = std::sin(exit / kDegreesPerRadian);
    if (gIn > 0 && gOut > 0) {
        const double darwin = 2 * std::sqrt(std::abs(chi.chiH * chi.chiMinusH)) /
                              std::sin(2 * thetaB / kDegreesPerRadian) * std::sqrt(gOut / gIn) *
                              kDegreesPerRadian;
        if (darwin > 0)
            step = std::min(step, darwin / 6);
    }
    const double thickness = stackThickness(stack);
    if (thickness > 0 && gIn > 0 && gOut > 0) {
        // Thickness fringes of a stack of thickness D lie lambda / (D (sin in + sin out))
        // apart in the incidence angle.
        const double fringe = stack.wavelength / (thickness * (gIn + gOut));
        step = std::min(step, fringe * kDegreesPerRadian / 6);
    }
    step = std::max(step, 2 * halfRange / (maxPoints - 1));
    const int count = int(std::floor(2 * halfRange / step + 1e-9)) + 1;
    grid.reserve(count);
    const double start = thetaB - halfRange;
    for (int n = 0; n < count; ++n)
        grid.append(start + n * step);
    return grid;
}

QVector<double> dynamicalReflectivity(const PhysicsStack& stack, int reflection,
                                      const QVector<double>& thetaDegrees,
                                      const std::atomic<bool>* cancel) {
    QVector<double> out;
    if (!stack.error.isEmpty() || !validReflection(reflection))
        return out;
    const double lambda = stack.wavelength;
    const double aS = stack.aSubstrate;

    // Slabs of the same composition and thickness (the graded edges of repeated layers)
    // share one map per point: `kinds` holds each once, `kindOf` the kind of every slab.
    std::vector<SlabOptics> kinds;
    std::vector<const Slab*> kindSlab;
    std::vector<int> kindOf;
    if (stack.repeat >= 1) {
        for (const Slab& s : stack.period) {
            std::size_t kind = 0;
            while (kind < kindSlab.size() &&
                   !(kindSlab[kind]->x == s.x && kindSlab[kind]->y == s.y &&
                     kindSlab[kind]->system == s.system &&
                     kindSlab[kind]->monolayers == s.monolayers &&
                     kindSlab[kind]->aParallel == s.aParallel))
                ++kind;
            if (kind == kindSlab.size()) {
                kindSlab.push_back(&s);
                kinds.push_back(slabOptics(s.system, s.x, s.y, s.monolayerHeight, s.monolayers,
                                           s.aParallel, stack, reflection));
            }
            kindOf.push_back(int(kind));
        }
    }
    const SlabOptics substrate =
        slabOptics(stack.substrateSystem, stack.xs, stack.ys, aS / 2, 0, aS, stack, reflection);
    const unsigned periods = stack.repeat >= 1 ? unsigned(stack.repeat) : 0u;
    const bool usePower = periods > 1 && !kindOf.empty();
    const bool unpolarised = stack.options.polarisation;

    std::vector<Complex> tEta(kinds.size());
    std::vector<Complex> tSigma(kinds.size());
    std::vector<Moebius> maps(kinds.size());
    out.reserve(thetaDegrees.size());
    for (int i = 0; i < thetaDegrees.size(); ++i) {
        if (cancel && i % kCancelStride == 0 && cancel->load(std::memory_order_relaxed))
            return {};
        const double theta = thetaDegrees[i] / kDegreesPerRadian;
        if (!(theta > 0 && theta < kHalfPi)) {
            out.append(0.0);
            continue;
        }
        const double g = std::sin(theta);
        // C of the pi lane, cos 2 theta; without polarisation both lanes are sigma.
        const double cPi = unpolarised ? std::cos(2 * theta) : 1.0;
        for (std::size_t k = 0; k < kinds.size(); ++k) {
            slabParameters(kinds[k], g, lambda, tEta[k], tSigma[k]);
            maps[k] = slabMap(tEta[k], tSigma[k], cPi);
        }
        Pair x = {{0, 0}, {0, 0}};
        if (stack.withSubstrate)
            x = pair(substrateRatio(substrate, g, 1.0), substrateRatio(substrate, g, cPi));
        if (usePower) {
            Moebius period = maps[std::size_t(kindOf[0])];
            for (std::size_t j = 1; j < kindOf.size(); ++j) {
                period = multiply(maps[std::size_t(kindOf[j])], period);
                if (j % 8 == 0)
                    normalise(period);
            }
            normalise(period);
            x = mapRatio(power(period, periods), x);
        } else {
            for (int kind : kindOf)
                x = mapRatio(maps[std::size_t(kind)], x);
        }
        const double sigma = x.re[0] * x.re[0] + x.im[0] * x.im[0];
        const double pi = x.re[1] * x.re[1] + x.im[1] * x.im[1];
        const double r = unpolarised ? 0.5 * (sigma + pi) : sigma;
        // With absorption |X| < 1 holds exactly; rounding can lift a lossless total
        // reflection a few ulps above 1, and a NaN would only come from a 0/0 at a pole
        // no physical X reaches.
        out.append(r <= 1.0 ? r : (r > 1.0 ? 1.0 : 0.0));
    }
    return out;
}

double substrateDarwinWidth(const PhysicsStack& stack, int reflection) {
    if (!stack.error.isEmpty() || !validReflection(reflection))
        return 0.0;
    const SlabOptics s = slabOptics(stack.substrateSystem, stack.xs, stack.ys, stack.aSubstrate / 2,
                                    0, stack.aSubstrate, stack, reflection);
    if (!(s.braggSine < 1))
        return 0.0;
    const double thetaB = std::asin(s.braggSine);
    return 2 * std::abs(s.chiH) / std::sin(2 * thetaB) * kDegreesPerRadian;
}

QVector<double> dynamicalDefaultGrid(const PhysicsStack& stack, int reflection) {
    QVector<double> grid;
    if (!stack.error.isEmpty() || !validReflection(reflection))
        return grid;
    const double sinB = reflection * stack.wavelength / (2 * stack.aSubstrate);
    if (!(sinB > 0 && sinB < 1))
        return grid;
    const double thetaB = std::asin(sinB) * kDegreesPerRadian;
    constexpr double halfRange = 1.5;
    constexpr int maxPoints = 200001;
    double step = 0.0004;
    const double darwin = substrateDarwinWidth(stack, reflection);
    if (darwin > 0)
        step = std::min(step, darwin / 6);
    // Thickness fringes of a stack of thickness D are lambda / (2 D cos theta) apart.
    const double thickness = stackThickness(stack);
    if (thickness > 0) {
        const double fringe =
            stack.wavelength / (2 * thickness * std::cos(thetaB / kDegreesPerRadian));
        step = std::min(step, fringe * kDegreesPerRadian / 6);
    }
    step = std::max(step, 2 * halfRange / (maxPoints - 1));
    const int count = int(std::floor(2 * halfRange / step + 1e-9)) + 1;
    grid.reserve(count);
    const double start = thetaB - halfRange;
    for (int n = 0; n < count; ++n)
        grid.append(start + n * step);
    return grid;
}
