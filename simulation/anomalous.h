#pragma once

#include "structure/material.h"

#include <QString>

// Anomalous (dispersion) corrections to the atomic scattering factors of Ga, In, As and P,
// from xraylib. Convention of this program: an atom scatters f0(s) + f' - i f'' electrons,
// with f'' > 0 for an absorbing atom (and waves written e^(i(k r - w t))).

// f' and f'' in electrons of the four elements of the alloy at one photon energy. All zero
// stands for "no anomalous scattering".
struct ElementDispersion {
    double gaF1 = 0.0, gaF2 = 0.0;
    double inF1 = 0.0, inF2 = 0.0;
    double asF1 = 0.0, asF2 = 0.0;
    double pF1 = 0.0, pF2 = 0.0;
    // The same for every element, indexed by Element; Ga, In, As and P always filled (equal
    // to the fields above), the others where asked for.
    double f1[kElementCount] = {};
    double f2[kElementCount] = {};
};

// Bit of element e in the mask of elementDispersion.
constexpr unsigned elementBit(Element e) {
    return 1u << unsigned(e);
}
// The elements of a system as such bits.
unsigned systemElements(const MaterialSystem& system);

// Photon energy in keV of a wavelength in Å: hc / lambda with hc = 12.398419843320026 keV Å
// (CODATA 2018).
double photonEnergyKeV(double wavelength);

// f' and f'' of element Z at `energyKeV` from xraylib (Fi and Fii; xraylib returns f'' with
// the opposite sign, which is turned here). False, with the reason in `error`, where xraylib
// has no data (an energy outside its tables, a wavelength that is not a positive number).
bool anomalousFactors(int z, double energyKeV, double& f1, double& f2, QString* error = nullptr);

// The corrections of Ga, In, As and P, and of the further elements of `elements` (bits of
// elementBit), at `wavelength` (Å). False, with the reason in `error`, where xraylib has no
// data for one of them; `out` is then all zero.
bool elementDispersion(double wavelength, ElementDispersion& out, QString* error = nullptr,
                       unsigned elements = 0);
