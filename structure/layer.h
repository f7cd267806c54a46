#pragma once

#include "structure/material.h"

#include <cstdint>

// Shape of the composition grading in one zone of a layer. The values are stored in the
// structure and compared as integers, so they are fixed.
enum GradingShape : std::int32_t {
    Abrupt = 0,
    Linear = 1,
    Parabolic = 2,
    Sine = 3,
};

// One layer of the stack, or the substrate: a plain value record filled by the structure
// reader. Compositions are fractions (In on group-III sites, As on group-V sites), widths
// and thicknesses are counted in monolayers. The end group precedes the start group, as in
// the file line.
struct Layer {
    bool defined = false;
    bool formula = false; // the LAYER line names its materials by formula
    // What the fractions count: In and As of the basic format unless the line gave a formula
    // (material.h); the neighbour compositions are in the same system.
    MaterialSystem system;
    std::int32_t monolayers = 0;
    double inFraction = 0.0;
    double asFraction = 0.0;
    double endInFraction = 0.0;
    double endAsFraction = 0.0;
    double startInFraction = 0.0;
    double startAsFraction = 0.0;
    double endWidth = 0.0;
    double startWidth = 0.0;
    GradingShape endShape = Abrupt;
    GradingShape startShape = Abrupt;
};
