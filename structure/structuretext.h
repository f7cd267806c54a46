#pragma once

#include "structure/linetokens.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

// A structure file's text, edited in place one token at a time: every byte that an edit does
// not name (comments, spacing, quotes, line ends, the encoding) stays as it was. Lines,
// keywords and tokens are found by the reader's own rules (linetokens.h). The one lexer of
// the structure text: the table, the sliders, Fit Options and the fitted file edit through
// it, and StructureFile writes what it makes.
//
// Encodings: UTF-16 (little or big endian) with its byte-order mark, valid UTF-8 (with or
// without a mark), anything else byte for byte as Latin-1 (NUL bytes included). A text that
// does not encode back to its own bytes (UTF-32, UTF-16 of an odd length) is not exact():
// nothing may be written from it.
class StructureText {
public:
    explicit StructureText(const QByteArray& bytes = QByteArray());

    enum Encoding { Utf8, Latin1, Utf16LittleEndian, Utf16BigEndian, Unsupported };
    Encoding encoding() const { return encoding_; }
    // The unedited text encodes back to exactly the bytes it was made from.
    bool exact() const { return exact_; }

    // The edited file, in its own encoding.
    QByteArray bytes() const;
    // The text as decoded (without a byte-order mark).
    const QString& text() const { return text_; }
    // Characters that the edits so far replaced or removed, and whole lines removed: by how
    // much a write may shorten the file.
    qint64 replacedCharacters() const { return replaced_; }
    int removedLines() const { return removedLines_; }

    // The lines, as splitLines ends them.
    int lineCount() const { return lines_.size(); }
    // Line `i` as written, without its line end.
    QString line(int i) const { return text_.mid(lines_[i].start, lines_[i].length); }
    // The keyword of line `i` as the reader takes it (upper case), or empty.
    QString keyword(int i) const { return LineTokens::keywordOf(lineText(i)); }
    // The line end new lines get: the file's first one, LF in a file without any.
    QString lineEnd() const;

    // Argument `position` (1-based: the first token behind the keyword) of line `i` as
    // written; empty when it is left out.
    QString argument(int i, int position) const;
    // Replaces that argument with `token`; arguments left out before it are written as 0
    // (or, with `layerDefaults`, "A" for the grading shapes of a LAYER line). False for a
    // token that is empty or holds white space, a quote or a "#".
    bool setArgument(int i, int position, const QString& token, bool layerDefaults = false);
    // Replaces line `i`'s text (its line end stays).
    void replaceLine(int i, const QString& line);
    // Inserts a whole line (with `eol`, by default the file's line end) before line `before`
    // (at the end when it is the line count; a last line without a line end gets one first).
    void insertLine(int before, const QString& line, const QString& eol = QString());
    // Removes line `i` with its line end (a last line without one takes the one before it).
    void removeLine(int i);

    // LAYER lines, in file order.
    int layerCount() const { return layerLines_.size(); }
    // The line index of LAYER line `layer` (0-based), or -1.
    int layerLine(int layer) const {
        return layer >= 0 && layer < layerCount() ? layerLines_[layer] : -1;
    }
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

    // Writes `token` as the value of the last line of the statement `keyword` (OFFSET,
    // RESOLUTION, SCALE, BACKGROUND...), or adds "KEYWORD token" as the last line.
    bool setStatement(const QString& keyword, const QString& token);
    // The same with a number in its shortest exact form (an instrument statement only);
    // false for a value that is not finite.
    bool setStatement(const QString& keyword, double value);
    // The first argument of the last line of the statement `keyword` (its value), or empty.
    QString statementArgument(const QString& keyword) const;
    // Makes `line` the one line of the statement `keyword`: the first such line becomes it
    // (its line end kept), later ones go; without one it is added as the last line. An empty
    // `line` removes them all.
    void setStatementLine(const QString& keyword, const QString& line);
    // Writes `token` as the fraction of the RELAXATION line of layer `layer` (1-based) that
    // the reader keeps (its last), or adds "RELAXATION layer token" as the last line.
    bool setRelaxation(int layer, const QString& token);
    // The fraction of that line as written, or empty.
    QString relaxation(int layer) const;

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
    // The line as the reader tokenizes it: in a file that is not UTF-8 (which a UTF-8 reader
    // decodes to replacement characters) every non-ASCII character stands for a letter.
    QString lineText(int i) const;
    void split();
    // Replaces `length` characters at `start` and finds the lines again.
    void replace(int start, int length, const QString& with);
    int lastLine(const std::function<bool(int)>& matches) const;
    int relaxationLine(int layer) const;

    QString text_;
    Encoding encoding_ = Utf8;
    bool bom_ = false;
    bool exact_ = true;
    qint64 replaced_ = 0;
    int removedLines_ = 0;
    QVector<LineSpan> lines_;
    QVector<int> layerLines_; // line index of each LAYER line
};

// `value` in the fewest digits that read back as the same double ("0.25", "1e-05", "20").
QString shortestNumber(double value);

// The canonical FIT target text of a layer value ("LAYER 2 X") and of an instrument value
// ("OFFSET").
QString layerFitTarget(int layer, const QString& which);
