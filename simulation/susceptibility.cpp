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

std::complex<double> meanSusceptibility(double x, double y, double monolayerHeight,
                                        double aSubstrate, double wavelength,
                                        const ElementDispersion& dispersion) {
    const ComplexElementFactors f0 = complexElementFactors(dispersion, 0.0);
    const std::complex<double> cell = 4.0 * (groupIIISite(f0, x) + groupVSite(f0, y));
    return -susceptibilityScale(monolayerHeight, aSubstrate, wavelength) * cell;
}

Susceptibility susceptibility(double x, double y, double monolayerHeight, double aSubstrate,
                              double wavelength, int reflection,
                              const ElementDispersion& dispersion, bool withChi0) {
    Susceptibility out;
    const double c = 2 * monolayerHeight;
    const double sB = reflection / (2 * c);
    const ComplexElementFactors fh = complexElementFactors(dispersion, sB);
    // e^(-i pi l / 2) of the group-V atom at c/4: +1 for l = 4, 8, ..., -1 for l = 2, 6, ...
    const double sign = (reflection / 2) % 2 == 0 ? 1.0 : -1.0;
    const std::complex<double> cellH = 4.0 * (groupIIISite(fh, x) + sign * groupVSite(fh, y));
    out.chiH = -susceptibilityScale(monolayerHeight, aSubstrate, wavelength) * cellH;
    if (withChi0)
        out.chi0 = meanSusceptibility(x, y, monolayerHeight, aSubstrate, wavelength, dispersion);
    out.braggSine = sB * wavelength;
    return out;
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
    GeneralSusceptibility out;
    const double d = planeSpacing(aParallel, 2 * monolayerHeight, h, k, l);
    const double s = 1 / (2 * d);
    const ComplexElementFactors f = complexElementFactors(dispersion, s);
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
        out.chi0 = meanSusceptibility(x, y, monolayerHeight, aParallel, wavelength, dispersion);
    out.braggSine = s * wavelength;
    return out;
}
