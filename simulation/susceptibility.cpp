#include "simulation/susceptibility.h"

#include "simulation/materials.h"
#include "structure/constants.h"

#include <cmath>

namespace {

// r_e lambda^2 / (pi V) of a cell aSubstrate x aSubstrate x 2h: the factor that turns a
// structure factor into a susceptibility, chi_g = -r_e lambda^2 F_g / (pi V) (the standard
// relation of dynamical theory, e.g. Authier, Dynamical Theory of X-ray Diffraction).
double susceptibilityScale(double monolayerHeight, double aSubstrate, double wavelength) {
    const double volume = aSubstrate * aSubstrate * 2 * monolayerHeight;
    return kClassicalElectronRadius * wavelength * wavelength / (kPi * volume);
}

} // namespace

ComplexElementFactors complexElementFactors(const ElementDispersion& d, double s) {
    const double t = temperatureFactor(s);
    using C = std::complex<double>;
    return {C(scatteringFactor(RowGa, s) + d.gaF1, -d.gaF2) * t,
            C(scatteringFactor(RowIn, s) + d.inF1, -d.inF2) * t,
            C(scatteringFactor(RowAs, s) + d.asF1, -d.asF2) * t,
            C(scatteringFactor(RowP, s) + d.pF1, -d.pF2) * t};
}

ComplexElementFactors complexElementFactors(const ElementDispersion& d, double s,
                                            const MaterialSystem& m) {
    const double t = temperatureFactor(s);
    using C = std::complex<double>;
    const auto factor = [&](Element e) {
        const int i = int(e);
        return C(scatteringFactor(scattererRow(e), s) + d.f1[i], -d.f2[i]) * t;
    };
    return {factor(m.a0), factor(m.a1), factor(m.b1), factor(m.b0)};
}

namespace {

// The formulas below for the factors of one system: `factors`(s) gives them at s.
template <typename Factors>
std::complex<double> meanWith(const Factors& factors, double x, double y, double monolayerHeight,
                              double aSubstrate, double wavelength) {
    const ComplexElementFactors f0 = factors(0.0);
    const std::complex<double> cell = 4.0 * (groupIIISite(f0, x) + groupVSite(f0, y));
    return -susceptibilityScale(monolayerHeight, aSubstrate, wavelength) * cell;
}

template <typename Factors>
Susceptibility symmetricWith(const Factors& factors, double x, double y, double monolayerHeight,
                             double aSubstrate, double wavelength, int reflection, bool withChi0) {
    Susceptibility out;
    const double c = 2 * monolayerHeight;
    const double sB = reflection / (2 * c);
    const ComplexElementFactors fh = factors(sB);
    // e^(-i pi l / 2) of the group-V atom at c/4: +1 for l = 4, 8, ..., -1 for l = 2, 6, ...
    const double sign = (reflection / 2) % 2 == 0 ? 1.0 : -1.0;
    const std::complex<double> cellH = 4.0 * (groupIIISite(fh, x) + sign * groupVSite(fh, y));
    out.chiH = -susceptibilityScale(monolayerHeight, aSubstrate, wavelength) * cellH;
    if (withChi0)
        out.chi0 = meanWith(factors, x, y, monolayerHeight, aSubstrate, wavelength);
    out.braggSine = sB * wavelength;
    return out;
}

template <typename Factors>
GeneralSusceptibility generalWith(const Factors& factors, double x, double y,
                                  double monolayerHeight, double aParallel, double wavelength,
                                  int h, int k, int l, bool withChi0) {
    GeneralSusceptibility out;
    const double d = planeSpacing(aParallel, 2 * monolayerHeight, h, k, l);
    const double s = 1 / (2 * d);
    const ComplexElementFactors f = factors(s);
    // e^(-i pi n / 2) for n = h + k + l: 1, -i, -1, i.
    const int quarter = (((h + k + l) % 4) + 4) % 4;
    static constexpr double kRe[4] = {1, 0, -1, 0};
    static constexpr double kIm[4] = {0, -1, 0, 1};
    const std::complex<double> phase(kRe[quarter], kIm[quarter]);
    const std::complex<double> fIII = groupIIISite(f, x);
    const std::complex<double> fV = groupVSite(f, y);
    const double scale = susceptibilityScale(monolayerHeight, aParallel, wavelength);
    out.chiH = -scale * 4.0 * (fIII + phase * fV);
    out.chiMinusH = -scale * 4.0 * (fIII + std::conj(phase) * fV);
    if (withChi0)
        out.chi0 = meanWith(factors, x, y, monolayerHeight, aParallel, wavelength);
    out.braggSine = s * wavelength;
    return out;
}

} // namespace

std::complex<double> meanSusceptibility(double x, double y, double monolayerHeight,
                                        double aSubstrate, double wavelength,
                                        const ElementDispersion& dispersion) {
    return meanWith([&](double s) { return complexElementFactors(dispersion, s); }, x, y,
                    monolayerHeight, aSubstrate, wavelength);
}

std::complex<double> meanSusceptibility(const MaterialSystem& system, double x, double y,
                                        double monolayerHeight, double aSubstrate,
                                        double wavelength, const ElementDispersion& dispersion) {
    return meanWith([&](double s) { return complexElementFactors(dispersion, s, system); }, x, y,
                    monolayerHeight, aSubstrate, wavelength);
}

Susceptibility susceptibility(double x, double y, double monolayerHeight, double aSubstrate,
                              double wavelength, int reflection,
                              const ElementDispersion& dispersion, bool withChi0) {
    return symmetricWith([&](double s) { return complexElementFactors(dispersion, s); }, x, y,
                         monolayerHeight, aSubstrate, wavelength, reflection, withChi0);
}

Susceptibility susceptibility(const MaterialSystem& system, double x, double y,
                              double monolayerHeight, double aSubstrate, double wavelength,
                              int reflection, const ElementDispersion& dispersion, bool withChi0) {
    return symmetricWith([&](double s) { return complexElementFactors(dispersion, s, system); }, x,
                         y, monolayerHeight, aSubstrate, wavelength, reflection, withChi0);
}

double planeSpacing(double aParallel, double aPerpendicular, int h, int k, int l) {
    const double inPlane = double(h * h + k * k) / (aParallel * aParallel);
    const double perpendicular = double(l * l) / (aPerpendicular * aPerpendicular);
    return 1 / std::sqrt(inPlane + perpendicular);
}

GeneralSusceptibility reflectionSusceptibility(double x, double y, double monolayerHeight,
                                               double aParallel, double wavelength, int h, int k,
                                               int l, const ElementDispersion& dispersion,
                                               bool withChi0) {
    return generalWith([&](double s) { return complexElementFactors(dispersion, s); }, x, y,
                       monolayerHeight, aParallel, wavelength, h, k, l, withChi0);
}

GeneralSusceptibility reflectionSusceptibility(const MaterialSystem& system, double x, double y,
                                               double monolayerHeight, double aParallel,
                                               double wavelength, int h, int k, int l,
                                               const ElementDispersion& dispersion, bool withChi0) {
    return generalWith([&](double s) { return complexElementFactors(dispersion, s, system); }, x, y,
                       monolayerHeight, aParallel, wavelength, h, k, l, withChi0);
}
