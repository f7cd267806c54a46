#pragma once

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
};

// Cubic lattice constant in Å, Vegard's rule on both sublattices (no bowing, no clamping).
double latticeConstant(double x, double y);

// Atomic scattering factor of table row `index` (0..5) at s, without temperature factor.
// An index outside the table gives 0.
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
