#pragma once

#include "structure/material.h"

// Elastic strain of a pseudomorphic (001) layer of In(x)Ga(1-x)As(y)P(1-y): the layer takes
// the substrate's lattice constant in the plane and relaxes along the growth direction as
// linear elasticity of a cubic crystal prescribes. Pure functions; lengths in Å, elastic
// constants in GPa.

struct ElasticConstants {
    double c11; // GPa
    double c12; // GPa
};

// C11 and C12 of the alloy at 300 K, each interpolated bilinearly between the four binaries
// like the lattice constant (no bowing, no clamping). Binary values: GaAs 119.0 / 53.4,
// InAs 83.4 / 45.4, InP 101.1 / 56.1, GaP 140.5 / 62.0 (C11 / C12, Vurgaftman, Meyer and
// Ram-Mohan, J. Appl. Phys. 89, 5815 (2001)).
ElasticConstants elasticConstants(double x, double y);

// The strain ratio 2 C12 / C11 of the alloy: minus the perpendicular strain per unit of
// in-plane strain of a biaxially strained (001) layer.
double strainRatio(double x, double y);

// Perpendicular lattice constant a⊥ = a + ratio (a - aSubstrate) of a layer of cubic
// lattice constant a clamped in-plane to aSubstrate (for small strains, where the in-plane
// strain is (aSubstrate - a) / a and the perpendicular one -ratio times that).
double perpendicularLatticeConstant(double a, double aSubstrate, double ratio);

// Height in Å of one monolayer (one group-III and one group-V plane) of the alloy (x, y) on a
// substrate of lattice constant aSubstrate: a⊥ / 2 with the alloy's own strain ratio.
double elasticMonolayerHeight(double x, double y, double aSubstrate);

// The same for any cubic material (materials.h): C11 and C12 interpolated bilinearly between
// the four binaries of the system with the weights of latticeConstant(system, x, y) (linear
// in the composition of a ternary or a diamond alloy; no bowing). For the basic system these
// are the functions above to the last bit.
ElasticConstants elasticConstants(const MaterialSystem& system, double x, double y);
double strainRatio(const MaterialSystem& system, double x, double y);
double elasticMonolayerHeight(const MaterialSystem& system, double x, double y, double aSubstrate);
