#pragma once

#include <QString>

#include <vector>

struct Structure;

// One fitted parameter, in the order of the FIT lines: its value, its standard uncertainty and
// whether the fit left it at a bound of its range.
struct FittedValue {
    double value;
    double sigma;
    bool atBound;
};

// The structure file's text with the fitted values substituted: in the LAYER lines the
// thickness, the composition and the neighbour compositions that moved with it (only the
// numbers that changed, each token in its place); in the instrument lines (RESOLUTION, OFFSET,
// SCALE, BACKGROUND) the value of the last line of each fitted one, or a new line at the end
// of the text when it has none. Every other line, comment and the FIT lines stay as they were,
// with their line ends. A header comes first:
//   # agreement before: VALUE
//   # agreement after: VALUE
//   # model: NAME
//   # fitted TARGET: VALUE ± SIGMA[ at bound]     (one per parameter, TARGET as FitParameter::text)
// and replaces such a header at the top of `originalText`, so that a refitted file carries
// one. Thicknesses are written as integers, every other number with 6 significant digits (the
// same text for a composition and the neighbour compositions that follow it, so the link
// survives the next load). Loading the text gives the structure applyFitValues makes of these
// values, rounded to the written digits.
//
// Returns an empty string, to be refused by the caller, when a value, an uncertainty or an
// agreement is not finite, when `values` does not match the FIT lines of `original`, or when
// `originalText` does not hold the LAYER lines `original` was loaded from (the file changed
// in the meantime).
QString fittedStructureText(const QString& originalText, const Structure& original,
                            const std::vector<FittedValue>& values, double agreementBefore,
                            double agreementAfter);
