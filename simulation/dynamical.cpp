#include "dynamical.h"

#include "constants.h"
#include "physicsstack.h"
#include "susceptibility.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace {

using Complex = std::complex<double>;

constexpr int kCancelStride = 32;

// Below this |s T|^2 the slab functions come from their Taylor series in w = (s T)^2,
// which needs no square root and no trigonometry: the graded monolayers and every thin slab.
// Eight terms leave a truncation error below 0.5^8 / 16! = 2e-16.
constexpr double kSeriesBelow = 0.5;

// A 2 x 2 complex matrix acting on X as the Moebius map X -> (a X + b) / (c X + d). Any
// non-zero multiple acts alike, which lets products be rescaled freely.
struct Moebius {
    Complex a, b, c, d;
};

Moebius multiply(const Moebius& m, const Moebius& n) {
    Moebius p{m.a * n.a + m.b * n.c, m.a * n.b + m.b * n.d, m.c * n.a + m.d * n.c,
              m.c * n.b + m.d * n.d};
    // Keep the entries near 1: long products and powers would otherwise overflow or
    // underflow (a thick absorbing slab grows its entries by e^(mu t)).
    auto size = [](Complex z) { return std::fabs(z.real()) + std::fabs(z.imag()); };
    const double largest = std::max({size(p.a), size(p.b), size(p.c), size(p.d)});
    if (largest > 0 && std::isfinite(largest)) {
        const double scale = 1.0 / largest;
        p.a *= scale;
        p.b *= scale;
        p.c *= scale;
        p.d *= scale;
    }
    return p;
}

Complex mapRatio(const Moebius& m, Complex x) {
    return (m.a * x + m.b) / (m.c * x + m.d);
}

Moebius power(Moebius m, unsigned n) {
    Moebius result{1.0, 0.0, 0.0, 1.0};
    while (n > 0) {
        if (n & 1u)
            result = multiply(m, result);
        n >>= 1;
        if (n > 0)
            m = multiply(m, m);
    }
    return result;
}

// The map of one uniform slab from `tEta` = T eta and `t` = T (see dynamical.h):
// with w = (s T)^2 = (T eta)^2 - T^2, c = cos(sqrt w) and S = T sin(sqrt w) / sqrt w,
//   [[c - i (T eta) sinc, i T sinc], [-i T sinc, c + i (T eta) sinc]],  sinc = sin(z) / z.
// In the trigonometric branch both c and sinc are multiplied by e^(-|Im z|), the same
// factor for every entry, so that a thick absorbing slab cannot overflow.
Moebius slabMap(Complex tEta, Complex t) {
    const Complex w = tEta * tEta - t * t;
    Complex c;
    Complex sinc;
    if (std::abs(w) < kSeriesBelow) {
        // cos(z) = sum (-w)^n / (2n)!, sin(z)/z = sum (-w)^n / (2n+1)!, Horner from n = 7.
        c = 1.0;
        sinc = 1.0;
        for (int n = 7; n >= 1; --n) {
            c = 1.0 - w * c / double((2 * n) * (2 * n - 1));
            sinc = 1.0 - w * sinc / double((2 * n + 1) * (2 * n));
        }
    } else {
        const Complex z = std::sqrt(w);
        const double re = z.real();
        const double im = z.imag();
        // cos(a + ib) = cos a cosh b - i sin a sinh b, sin(a + ib) = sin a cosh b +
        // i cos a sinh b; cosh and sinh scaled by e^(-|b|).
        const double e = std::exp(-2 * std::fabs(im));
        const double ch = 0.5 * (1 + e);
        const double sh = std::copysign(0.5 * (1 - e), im);
        const double sinA = std::sin(re);
        const double cosA = std::cos(re);
        c = Complex(cosA * ch, -sinA * sh);
        sinc = Complex(sinA * ch, cosA * sh) / z;
    }
    const Complex iS = Complex(0.0, 1.0) * t * sinc;
    const Complex iEtaS = Complex(0.0, 1.0) * tEta * sinc;
    return {c - iEtaS, iS, -iS, c + iEtaS};
}

// What a slab keeps between points: its susceptibilities and thickness, and the parts of
// T eta and T that do not depend on the angle.
struct SlabOptics {
    Complex chi0;
    Complex chiH;
    double braggSine;
    double thickness; // Å
};

SlabOptics slabOptics(double x, double y, double h, double n, const PhysicsStack& stack,
                      int reflection) {
    const Susceptibility chi =
        susceptibility(x, y, h, stack.aSubstrate, stack.wavelength, reflection, stack.dispersion,
                       stack.options.meanSusceptibility);
    return {chi.chi0, chi.chiH, chi.braggSine, n * h};
}

// The angle-dependent parts of one slab at sin(theta) = g: T eta (independent of the
// polarisation factor C) and T for C = 1.
void slabParameters(const SlabOptics& s, double g, double lambda, Complex& tEta,
                    Complex& tSigma) {
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
    const Complex root = std::sqrt(eta * eta - 1.0);
    const Complex plus = eta + root;
    const Complex minus = eta - root;
    return std::abs(plus) <= std::abs(minus) ? plus : minus;
}

bool validReflection(int reflection) {
    return reflection >= 2 && reflection % 2 == 0;
}

} // namespace

QVector<double> dynamicalReflectivity(const PhysicsStack& stack, int reflection,
                                      const QVector<double>& thetaDegrees,
                                      const std::atomic<bool>* cancel) {
    QVector<double> out;
    if (!stack.error.isEmpty() || !validReflection(reflection))
        return out;
    const double lambda = stack.wavelength;
    const double aS = stack.aSubstrate;

    std::vector<SlabOptics> slabs;
    if (stack.repeat >= 1) {
        for (const Slab& s : stack.period)
            slabs.push_back(
                slabOptics(s.x, s.y, s.monolayerHeight, s.monolayers, stack, reflection));
    }
    const SlabOptics substrate = slabOptics(stack.xs, stack.ys, aS / 2, 0, stack, reflection);
    const unsigned periods = stack.repeat >= 1 ? unsigned(stack.repeat) : 0u;
    const bool usePower = periods > 1 && !slabs.empty();
    const int polarisations = stack.options.polarisation ? 2 : 1;

    std::vector<Complex> tEta(slabs.size());
    std::vector<Complex> tSigma(slabs.size());
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
        for (std::size_t j = 0; j < slabs.size(); ++j)
            slabParameters(slabs[j], g, lambda, tEta[j], tSigma[j]);

        double sum = 0.0;
        for (int p = 0; p < polarisations; ++p) {
            // Sigma: C = 1; pi: C = cos 2 theta.
            const double cFactor = p == 0 ? 1.0 : std::cos(2 * theta);
            Complex x = stack.withSubstrate ? substrateRatio(substrate, g, cFactor) : 0.0;
            if (usePower) {
                Moebius period{1.0, 0.0, 0.0, 1.0};
                for (std::size_t j = 0; j < slabs.size(); ++j)
                    period = multiply(slabMap(tEta[j], cFactor * tSigma[j]), period);
                x = mapRatio(power(period, periods), x);
            } else {
                for (std::size_t j = 0; j < slabs.size(); ++j)
                    x = mapRatio(slabMap(tEta[j], cFactor * tSigma[j]), x);
            }
            sum += std::norm(x);
        }
        const double r = sum / polarisations;
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
    const SlabOptics s = slabOptics(stack.xs, stack.ys, stack.aSubstrate / 2, 0, stack,
                                    reflection);
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
