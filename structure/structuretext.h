#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// A structure file's text, edited in place one token at a time: every byte that an edit does
// not name (comments, spacing, quotes, line ends, the encoding) stays as it was. Tokens and
// lines are found as the reader finds them. Valid UTF-8 (with or without a byte-order mark)
// is edited as UTF-8, anything else byte for byte as Latin-1. Qt Core only; writing the
// result to the disk is the caller's (atomically, as every file of this program).
class StructureText {
public:
    explicit StructureText(const QByteArray& bytes);

    // The edited file, in its own encoding.
    QByteArray bytes() const;

    // LAYER lines, in file order.
    int layerCount() const { return layerLines_.size(); }
    // Argument `position` (1 to 11: n x y, then shape, width, x, y at the end and at the
    // start) of LAYER line `layer` (0-based) as written; empty when it is left out.
    QString layerArgument(int layer, int position) const;
    // Replaces that argument with `token`. Arguments left out before it are written as a
    // missing one reads ("A" for a shape, 0 for a number). False when there is no such line
    // or position, or `token` is empty or holds white space, a quote or a "#".
    bool setLayerArgument(int layer, int position, const QString& token);
    // The same with a number in its shortest exact form; false for a number that is not
    // finite.
    bool setLayerNumber(int layer, int position, double value);

    // A FIT line's target as the reader names it: "LAYER 2 X", "OFFSET".
    struct Fit {
        QString target;
        double min = 0;
        double max = 0;
    };
    // The FIT lines that the reader takes, in file order (a target given again appears
    // again; its last line counts).
    QVector<Fit> fits() const;
    // The values of the last FIT line of `target`; false when it has none.
    bool fit(const QString& target, Fit& out) const;
    // Writes `min` and `max` into the last FIT line of `target` (only the bounds that differ
    // from what it says), or adds "FIT target min max" behind the last FIT line (at the end
    // when there is none). False for a bound that is not finite or a malformed target.
    bool setFit(const QString& target, double min, double max);
    // Removes every FIT line of `target` (with its line end); returns how many.
    int removeFit(const QString& target);

    // Writes `value` into the last line of an instrument statement (OFFSET, RESOLUTION,
    // SCALE or BACKGROUND), or adds such a line at the end. False for a value that is not
    // finite.
    bool setStatement(const QString& keyword, double value);

    // Positions of the LAYER arguments.
    enum Position {
        Monolayers = 1,
        InFraction,
        AsFraction,
        EndShape,
        EndWidth,
        EndIn,
        EndAs,
        StartShape,
        StartWidth,
        StartIn,
        StartAs,
        LastPosition = StartAs
    };

private:
    struct Line {
        int start = 0;
        int length = 0;
        int endLength = 0;
    };
    QString realLine(int i) const { return text_.mid(lines_[i].start, lines_[i].length); }
    // The line as the reader tokenizes it: in a file that is not UTF-8 (which a UTF-8 reader
    // decodes to replacement characters) every non-ASCII character stands for a letter.
    QString lineText(int i) const;
    void split();
    // Replaces line `i`'s text (its line end stays) and finds the lines again.
    void replaceLine(int i, const QString& line);
    // Inserts a whole line (with the file's line end) before line `before` (at the end when
    // it is the line count).
    void insertLine(int before, const QString& line);
    QString eol() const;

    QString text_;
    bool utf8_ = true;
    bool bom_ = false;
    QVector<Line> lines_;
    QVector<int> layerLines_; // line index of each LAYER line
};

// `value` in the fewest digits that read back as the same double ("0.25", "1e-05", "20").
QString shortestNumber(double value);

// The canonical FIT target text of a layer value ("LAYER 2 X") and of an instrument value
// ("OFFSET").
QString layerFitTarget(int layer, QChar which);
