#pragma once

#include "structure/extensions.h"

#include <QString>

#include <vector>

struct Structure;

// What a FIT line can move, declared once: the grammar, the problem builder, the start values,
// the fitted-file writer and the printed table all read this table.
struct FitTarget {
    FitParameter::Target target;
    // The word of the FIT line: after "FIT LAYER i" for a layer's value ("N", "X", "Y"),
    // after "FIT" for an instrument value, which is also the statement that sets it in a file
    // ("OFFSET").
    const char* word;
    bool layer;       // a value of one layer (FIT LAYER i ...)
    bool composition; // a layer's In or As fraction, which the written neighbours follow
    bool integer;     // searched and written as a whole number
    const char* unit; // for the printed table: "ML", "" (a fraction), "deg", "cps"
    // The allowed range: values below `lowest` (or equal to it when `lowestExcluded`) or above
    // `highest` are refused, with `rangeRule` as the reason.
    double lowest;
    bool lowestExcluded;
    double highest;
    const char* rangeRule;
    // The value in a structure (layer: the 0-based layer index; ignored otherwise). For SCALE
    // and BACKGROUND without their statement the fit starts in the middle of the FIT range.
    double (*read)(const Structure& s, int layer, const FitParameter& p);
    // Puts a value into a structure. Compositions are put by the caller, which also moves the
    // neighbours written equal to them.
    void (*apply)(Structure& s, int layer, double value);
};

// Every target, the instrument values in the order their statements are appended to a fitted
// file that lacks them.
const std::vector<FitTarget>& fitTargets();
const FitTarget& fitTarget(FitParameter::Target target);
// The target a FIT line names by `word` (upper case), or null.
const FitTarget* findFitTarget(const QString& word, bool layer);
