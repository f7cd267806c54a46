#pragma once

#include "structure/extensions.h"
#include "structure/layer.h"

#include <QString>

#include <functional>
#include <vector>

class StructureText;
struct Structure;

// What a FIT line can move, declared once: the grammar and its messages, the problem builder,
// the start values, the writers of the text (fitted file, sliders, layer table), the layer
// table's columns and the printed table all read this table.
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
    // What it is, for messages and the layer table: "thickness", "relaxation", "offset".
    const char* name;
    // The LAYER argument that holds a layer's value (StructureText::Position), or 0 when the
    // value has a statement of its own (RELAXATION i r; an instrument statement).
    int position;
    // The value's token as the text writes it (layer: 0-based), empty when it is left out.
    QString (*written)(const StructureText& text, int layer);
    // Writes `token` as the value into its place in the text: its LAYER argument, the
    // RELAXATION line of its layer or its statement (a new line when there is none).
    bool (*write)(StructureText& text, int layer, const QString& token);
};

// FIT lines that name an element ("FIT LAYER 2 Al"): whether the fitted value is 1 minus the
// stored X or Y (the element is the first of its sublattice in the layer's system), the
// value of such a line from the stored fraction, and why the line cannot fit the layer
// (empty when it can; also for Y on a diamond alloy, whose one fraction is X).
bool countsFromOtherEnd(const Layer& layer, const FitParameter& p);
double fitFraction(const Layer& layer, const FitParameter& p, double stored);
QString elementTargetProblem(const Layer& layer, const FitParameter& p);

// Every target, the instrument values in the order their statements are appended to a fitted
// file that lacks them.
const std::vector<FitTarget>& fitTargets();
const FitTarget& fitTarget(FitParameter::Target target);
// The target a FIT line names by `word` (upper case), or null.
const FitTarget* findFitTarget(const QString& word, bool layer);

// The targets of a FIT line for the grammar's messages: the layer ones ("N (thickness), X (In
// fraction), ... or R (relaxation)") and all of them ("LAYER i N, ..., OFFSET, ... or
// BACKGROUND").
QString layerTargetList();
QString fitTargetList();

// The range a new FIT line gets around the value `value`: a whole number ±20 % (at least
// one step), anything else ±0.05, both within the target's allowed range.
void defaultFitRange(const FitTarget& target, double value, double& min, double& max);

// Writes into `text`, each through its target's row, the values of the FIT lines of `before`
// that `after` (applyFitValues of it) changed, with the neighbour compositions that moved
// with a composition; with `restate`, also every unchanged value that has a statement of its
// own. `number` gives the token of a value. False when the text has no place for one.
bool writeFitValues(StructureText& text, const Structure& before, const Structure& after,
                    const std::function<QString(const FitTarget&, double)>& number,
                    bool restate = false);
