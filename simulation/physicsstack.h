#pragma once

#include "simulation/anomalous.h"

#include <QString>
#include <QVector>

struct Structure;
struct ResultArrays;

// Switches of the kinematical and dynamical models. The defaults are the full physics.
// With all four off the kinematical model's layer sum is the basic model's, in units of
// r_e lambda / (A sin theta) per electron (A = aSubstrate^2 / 2); only the substrate is
// combined differently (as an amplitude here, as a magnitude in the basic model).
struct PhysicsOptions {
    bool elasticStrain = true;      // false: 2 C12 / C11 = 1, the basic model's strain rule
    bool anomalous = true;          // false: f' = f'' = 0
    bool meanSusceptibility = true; // false: chi0 = 0, no refraction and no absorption
    bool polarisation = true;       // false: sigma polarisation only (C = 1)
};

// A run of identical consecutive monolayers: In fraction x, As fraction y, the strained
// monolayer height in Å, the number of monolayers and the in-plane lattice constant in Å
// (the substrate's for a coherent layer).
struct Slab {
    MaterialSystem system; // what x and y count (the basic In and As unless a formula said)
    double x = 0.0;
    double y = 0.0;
    double monolayerHeight = 0.0;
    int monolayers = 0;
    double aParallel = 0.0;
};

// The structure as the realistic models see it: one period of slabs, first slab next to
// the substrate (depth 0 of the profile is the substrate / layer interface, the surface lies
// above the last period), repeated `repeat` times on a semi-infinite substrate. Built once
// per structure; the models only read it, so one stack can serve several threads.
struct PhysicsStack {
    double wavelength = 1.0;        // Å
    double xs = 0.0;                // substrate In fraction
    double ys = 0.0;                // substrate As fraction
    MaterialSystem substrateSystem; // what xs and ys count
    double aSubstrate = 0.0;        // Å, the in-plane lattice constant of every coherent layer
    bool withSubstrate = true;
    int repeat = 1;       // periods; below 1 no layer scatters
    QVector<Slab> period; // bottom first
    PhysicsOptions options;
    ElementDispersion dispersion; // at `wavelength`; zero when options.anomalous is false
    QString error;                // why the models cannot run on this stack; empty if they can
};

// Monolayer height in Å of the alloy (x, y) on a substrate of lattice constant aSubstrate
// under `options`: the elastic rule of elastic.h, or the basic rule (2 C12 / C11 = 1).
double strainedMonolayerHeight(double x, double y, double aSubstrate,
                               const PhysicsOptions& options);
// The same for a material of any system.
double strainedMonolayerHeight(const MaterialSystem& system, double x, double y, double aSubstrate,
                               const PhysicsOptions& options);

// The in-plane lattice constant of a layer of bulk lattice constant aBulk relaxed by the
// fraction r from aBelow, the in-plane lattice it grows on: aBelow + r (aBulk - aBelow).
double relaxedInPlane(double aBelow, double aBulk, double r);

// The stack of a loaded structure: compositions from gradedValue, in-plane lattices from the
// RELAXATION lines, heights from strainedMonolayerHeight on each monolayer's in-plane lattice, runs
// of identical consecutive monolayers (also across layer records) merged into one slab, and
// xraylib's f' and f'' at the structure's wavelength. Sets `error` when xraylib has no data at that
// wavelength or a monolayer height is not a positive finite length (a composition far outside
// 0..1).
//
// Relaxation: layer i starts from the in-plane lattice aRef at the top of the layer below it
// (the substrate's for the first), and each of its monolayers takes
// relaxedInPlane(aRef, its own bulk lattice constant, r_i); a graded layer thus follows its
// grading by the fraction r_i, and the next layer starts from its top monolayer. The periods
// of a REPEAT all take the first period's lattices (the first period grows on the substrate).
PhysicsStack buildPhysicsStack(const Structure& config, const PhysicsOptions& options = {});

// The depth profile of one period as expandLayers makes it (depth, inProfile, asProfile,
// with the closing entry), but with the heights of strainedMonolayerHeight. The curve
// vectors are not touched.
void expandLayersElastic(const Structure& config, ResultArrays& profile,
                         const PhysicsOptions& options = {});

// Total thickness in Å of all periods of the stack (0 when repeat < 1).
double stackThickness(const PhysicsStack& stack);
