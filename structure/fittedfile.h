#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <vector>

struct Structure;

// One fitted parameter, in the order of the FIT lines: its value, its standard uncertainty and
// whether the fit left it at a bound of its range.
struct FittedValue {
    double value;
    double sigma;
    bool atBound;
    // For a thickness: nm per monolayer, so the header gives it in nm too; 0 otherwise.
    double nmPerUnit = 0.0;
};

// How a fit was run, for the header of its file, so that it can be run again and compared:
// written after the model line as
//   # seed: N
//   # evaluations: N
//   # generations: N
//   # fit time: SECONDS s
//   # program: NAME VERSION
struct FitRecord {
    unsigned seed = 1;
    long evaluations = 0;
    int generations = 0;
    double seconds = 0.0;
    QString program; // name and version, e.g. "xrdsim 0.1.0"
    // What the fit warns of: one "# fit warning: TEXT" line each, after the "# fitted" lines.
    QStringList warnings;
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
                            double agreementAfter, const FitRecord* record = nullptr);

// The same on the file's bytes, in the file's own encoding: text that is valid UTF-8 (a
// byte-order mark kept) is read and written as UTF-8, anything else byte for byte as
// Latin-1, so that every line the fit does not change (comments in any 8-bit encoding
// included) comes out exactly as it went in. Empty when fittedStructureText refuses.
QByteArray fittedStructureBytes(const QByteArray& originalBytes, const Structure& original,
                                const std::vector<FittedValue>& values, double agreementBefore,
                                double agreementAfter, const FitRecord* record = nullptr);

// What the header of a fitted file says (as fittedStructureText writes it), for a report of
// the file opened later. `present` is false when the text starts with no such header.
struct FittedHeader {
    struct Row {
        QString target; // as in its FIT line
        double value = 0.0, sigma = 0.0;
        bool atBound = false;
        double nm = 0.0; // a thickness's value in nm, 0 otherwise
    };
    bool present = false;
    double agreementBefore = 0.0, agreementAfter = 0.0;
    unsigned seed = 0;
    long evaluations = 0;
    int generations = 0;
    double seconds = 0.0;
    QVector<Row> rows;
    QStringList warnings;
};
FittedHeader readFittedHeader(const QByteArray& bytes);
