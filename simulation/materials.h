#pragma once

#include "structure/material.h"

// Material model of the zincblende alloy In(x)Ga(1-x)As(y)P(1-y): x is the In fraction on
// the group-III sites, y the As fraction on the group-V sites. Pure functions; lengths in Å,
// the scattering variable s = sin(theta)/lambda in 1/Å, scattering factors in electrons.

// Table rows of scatteringFactor.
enum ScattererRow : int {
    RowP = 0,
    RowAs = 1,
    RowIn = 2,
    RowGa = 3,
    RowAl = 4,
    Row65Electrons = 5,
    RowN = 6,
    RowSb = 7,
    RowSi = 8,
    RowGe = 9,
    RowC = 10,
};
constexpr int kScattererRows = 11;

// The table row of an element.
int scattererRow(Element e);
// Its atomic number (for xraylib).
int atomicNumber(Element e);

// Cubic lattice constant in Å, Vegard's rule on both sublattices (no bowing, no clamping).
double latticeConstant(double x, double y);

// Atomic scattering factor of table row `index` at s, without temperature factor.
// An index outside the table (0..kScattererRows - 1) gives 0.
double scatteringFactor(int index, double s);

// Isotropic Debye-Waller factor exp(-B s²) with B = 0.45 Å².
double temperatureFactor(double s);

// Mean scattering factor of a group-III site (In x, Ga 1-x), temperature factor included.
double groupIIIFactor(double x, double s);

// Mean scattering factor of a group-V site (As y, P 1-y), temperature factor included.
double groupVFactor(double y, double s);

// Height in Å of one monolayer of cubic lattice constant a grown pseudomorphically on a
// substrate of lattice constant aSubstrate.
double monolayerHeight(double a, double aSubstrate);

// ---- every cubic material (material.h) --------------------------------------------------

// The data of one binary (or of a group-IV element, whose "binary" with itself is the
// diamond crystal): cubic lattice constant at 300 K, elastic constants C11 and C12, and where
// they come from.
struct BinaryData {
    Element a;      // group-III (or group-IV) element
    Element b;      // group-V element (or the same group-IV one)
    double lattice; // Å
    double c11;     // GPa
    double c12;     // GPa
    const char* source;
};
// Every row of the table: the twelve zinc-blende III-V binaries and Si, Ge, C.
const BinaryData* binaryTable(int& count);

// Lattice constant (Å) and elastic constants (GPa) of the binary of group-III element a and
// group-V element b, or of the diamond crystal a = b; for two different group-IV elements the
// mean of the two, which makes the bilinear rule below Vegard's rule of a diamond alloy
// (y = x).
double binaryLattice(Element a, Element b);
double binaryC11(Element a, Element b);
double binaryC12(Element a, Element b);

// Cubic lattice constant of (system, x, y): the four binaries of the system weighted
// bilinearly (Vegard's rule on both sublattices, no bowing). For the basic system this is
// latticeConstant(x, y) to the last bit.
double latticeConstant(const MaterialSystem& system, double x, double y);
