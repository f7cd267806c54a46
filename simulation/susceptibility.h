#pragma once

#include "simulation/anomalous.h"

#include <complex>

// X-ray optics of the alloy shared by the kinematical and the dynamical model: complex
// atomic scattering factors and the susceptibilities of a strained layer. Convention: waves
// e^(i(k r - w t)); an absorbing medium has Im chi > 0, an atom scatters
// (f0 + f' - i f'') T electrons, and a plane at depth t below the surface adds its
// scattering factor times e^(+i q t).

// Classical electron radius in Å (CODATA 2018).
constexpr double kClassicalElectronRadius = 2.8179403262e-5;

// Scattering factors (f0(s) + f' - i f'') T(s) of Ga, In, As and P at s = sin(theta) /
// lambda (1/Å): the Cromer-Mann f0 and the temperature factor T of materials.h with the
// corrections of `dispersion`.
struct ComplexElementFactors {
    std::complex<double> ga, in, as, p;
};
ComplexElementFactors complexElementFactors(const ElementDispersion& dispersion, double s);

// The factors of the four end elements of any system (material.h), from the element arrays
// of `dispersion`: `ga` holds a0's, `in` a1's, `as` b1's and `p` b0's, so that the two site
// functions below give a site's mean for the system's x and y. For the basic system these
// are the factors above.
ComplexElementFactors complexElementFactors(const ElementDispersion& dispersion, double s,
                                            const MaterialSystem& system);

// Mean factor of a group-III site with In fraction x, and of a group-V site with As
// fraction y (virtual crystal).
inline std::complex<double> groupIIISite(const ComplexElementFactors& f, double x) {
    return (1 - x) * f.ga + x * f.in;
}
inline std::complex<double> groupVSite(const ComplexElementFactors& f, double y) {
    return (1 - y) * f.p + y * f.as;
}

// Susceptibilities of a tetragonally strained zincblende layer of composition (x, y) with
// monolayer height h (Å, so c = 2h) on a substrate of lattice constant aSubstrate, for the
// symmetric (00l) reflection, l even:
//   chi_g = -(r_e lambda^2 / (pi V)) F_g, V = aSubstrate^2 c,
//   F_0 = 4 (f_III(0) + f_V(0)), F_h = 4 (f_III(s_B) + (-1)^(l/2) f_V(s_B)), s_B = l / (2c),
// with the group-III atom at the cell's origin and the group-V atom at c/4 above it, so that
// F_h = F_-h and chi_h = chi_-h. `withChi0` false leaves chi0 at 0 (no refraction, no
// absorption).
struct Susceptibility {
    std::complex<double> chi0;
    std::complex<double> chiH;
    double braggSine = 0.0; // sin(theta_B) = l lambda / (2c) of the layer's own planes
};
Susceptibility susceptibility(double x, double y, double monolayerHeight, double aSubstrate,
                              double wavelength, int reflection,
                              const ElementDispersion& dispersion, bool withChi0);

// Susceptibilities of the same layer, with in-plane lattice constant aParallel and
// perpendicular one c = 2 monolayerHeight, for any reflection (h k l) of zinc blende (all
// even or all odd): the plane spacing d of 1/d^2 = (h^2 + k^2) / aParallel^2 + l^2 / c^2,
// V = aParallel^2 c, s = 1 / (2 d), and with the group-V atom at (1/4 1/4 1/4)
//   F_h = 4 (f_III(s) + e^(-i pi (h + k + l) / 2) f_V(s)),  F_-h with the opposite phase,
// so that chi_h and chi_-h keep their phases (they differ for an odd reflection such as
// (115), where h + k + l is odd). For (00l) this is susceptibility() with chiMinusH = chiH.
struct GeneralSusceptibility {
    std::complex<double> chi0;
    std::complex<double> chiH;
    std::complex<double> chiMinusH;
    double braggSine = 0.0; // lambda / (2 d)
};
GeneralSusceptibility reflectionSusceptibility(double x, double y, double monolayerHeight,
                                               double aParallel, double wavelength, int h, int k,
                                               int l, const ElementDispersion& dispersion,
                                               bool withChi0);

// Spacing in Å of the (h k l) planes of a tetragonal cell with in-plane lattice constant
// aParallel and perpendicular one aPerpendicular.
double planeSpacing(double aParallel, double aPerpendicular, int h, int k, int l);

// Mean susceptibility chi0 alone (for the kinematical model's refraction and absorption).
std::complex<double> meanSusceptibility(double x, double y, double monolayerHeight,
                                        double aSubstrate, double wavelength,
                                        const ElementDispersion& dispersion);

// The three functions above for a material of any system: its structure factor is the
// zinc-blende one of the system's two sites; a diamond alloy (the same elements on both
// sites, y = x) thus has F = 0 at (h k l) with h + k + l = 4n + 2, such as (002) and (006),
// and 4 (1 -/+ i) f at the odd reflections.
std::complex<double> meanSusceptibility(const MaterialSystem& system, double x, double y,
                                        double monolayerHeight, double aSubstrate,
                                        double wavelength, const ElementDispersion& dispersion);
Susceptibility susceptibility(const MaterialSystem& system, double x, double y,
                              double monolayerHeight, double aSubstrate, double wavelength,
                              int reflection, const ElementDispersion& dispersion, bool withChi0);
GeneralSusceptibility reflectionSusceptibility(const MaterialSystem& system, double x, double y,
                                               double monolayerHeight, double aParallel,
                                               double wavelength, int h, int k, int l,
                                               const ElementDispersion& dispersion, bool withChi0);
