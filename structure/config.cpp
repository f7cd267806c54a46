#include "structure/config.h"

#include "common/regularfile.h"
#include "structure/linetokens.h"
#include "structure/material.h"
#include "structure/structurefile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <climits>

namespace {

QString trNote(const char* text) {
    return QCoreApplication::translate("Config", text);
}

// A token as a note quotes it: at most 40 characters, unprintable ones replaced, so that a
// binary file or a line of a million characters gives a readable note.
QString quoted(const QString& token) {
    constexpr int kShown = 40;
    QString shown = token.left(kShown);
    for (QChar& c : shown) {
        if (!c.isPrint())
            c = QChar::ReplacementCharacter;
    }
    if (token.size() > kShown)
        shown += QChar(0x2026);
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

// A token of digits with an optional sign: a whole number, though perhaps too large.
bool isWholeNumber(const QString& token) {
    int i = token.startsWith(QLatin1Char('-')) || token.startsWith(QLatin1Char('+')) ? 1 : 0;
    if (i >= token.size())
        return false;
    for (; i < token.size(); ++i) {
        if (!token.at(i).isDigit())
            return false;
    }
    return true;
}

// What the reader assumed on one line: the parts of its note, in argument order. Each
// check converts the token exactly as the statement tables say, so the values stored do not
// depend on whether anything is noted.
class LineNotes {
public:
    // Beyond the notes a file may log, a line's faults are only counted, not worded.
    explicit LineNotes(bool wording) : wording_(wording) {}

    bool isEmpty() const { return count_ == 0; }
    QString text() const { return parts_.join(QLatin1String("; ")); }
    // `part` returns the text of one fault.
    template <typename Part> void add(const Part& part) {
        ++count_;
        if (wording_)
            parts_ << part();
    }

    // Locale-independent; a token that is not entirely a number reads as 0 (a number beyond
    // the range of a double as infinity). `needed`: whether a missing token is noted.
    double real(const QString& token, const char* name, bool needed) {
        if (token.isEmpty()) {
            if (needed)
                add([&] { return trNote("%1 missing, read as 0").arg(trNote(name)); });
            return 0.0;
        }
        bool ok = false;
        const double value = token.toDouble(&ok);
        if (!ok)
            add([&] {
                return trNote("%1 %2 is not a number, read as %3")
                    .arg(trNote(name), quoted(token), QString::number(value));
            });
        return value;
    }

    // A real that is a fraction of In or As, noted also when it lies outside 0 to 1.
    double fraction(const QString& token, const char* name, bool needed) {
        const int before = count_;
        const double value = real(token, name, needed);
        if (count_ == before && !token.isEmpty() && !(value >= 0.0 && value <= 1.0))
            add([&] {
                return trNote("%1 %2 is outside 0 to 1, kept")
                    .arg(trNote(name), QString::number(value));
            });
        return value;
    }

    // Base 10 with an optional sign; anything else reads as 0. A count below 1 is kept.
    std::int32_t count(const QString& token, const char* name, const char* unit) {
        if (token.isEmpty()) {
            add([&] { return trNote("%1 missing, read as 0").arg(trNote(name)); });
            return 0;
        }
        bool ok = false;
        const std::int32_t value = token.toInt(&ok, 10);
        if (!ok && isWholeNumber(token))
            add([&] {
                return trNote("%1 %2 is too large, read as 0").arg(trNote(name), quoted(token));
            });
        else if (!ok)
            add([&] {
                return trNote("%1 %2 is not a whole number of %3, read as 0")
                    .arg(trNote(name), quoted(token), trNote(unit));
            });
        else if (value < 1)
            add([&] {
                return trNote("%1 %2 is below 1, kept").arg(trNote(name), QString::number(value));
            });
        return value;
    }

    // A grading shape letter; an empty token is the abrupt default.
    GradingShape shape(const QString& token, const char* name);

    // Tokens behind the last argument of a statement.
    void surplus(LineTokens& tokens) {
        const QString token = tokens.next();
        if (!token.isEmpty())
            add([&] { return trNote("%1 and what follows ignored").arg(quoted(token)); });
    }

private:
    const bool wording_;
    int count_ = 0;
    QStringList parts_;
};

// Notes whether a neighbour composition of a LAYER line was written.
double toNeighbour(double value, const QString& token, WrittenNeighbours& w,
                   WrittenNeighbours::Present bit) {
    if (!token.isEmpty())
        w.present |= bit;
    return value;
}

GradingShape toShape(const QString& token) {
    const QString upper = token.toUpper();
    if (upper.isEmpty())
        return Abrupt;
    switch (upper.at(0).unicode()) {
    case 'L':
        return Linear;
    case 'P':
        return Parabolic;
    case 'H':
        return Sine;
    default:
        return Abrupt;
    }
}

GradingShape LineNotes::shape(const QString& token, const char* name) {
    const GradingShape shape = toShape(token);
    if (shape == Abrupt && !token.isEmpty() && token.at(0).toUpper() != QLatin1Char('A'))
        add([&] {
            return trNote("%1 %2 is none of A, L, P and H, read as abrupt")
                .arg(trNote(name), quoted(token));
        });
    return shape;
}

// Notes that a statement replaces the one of line `earlier` (0: there was none).
void noteReplaced(LineNotes& notes, const QString& statement, qint64 earlier) {
    if (earlier > 0)
        notes.add([&] {
            return trNote("replaces the %1 of line %2 (only the last one counts)")
                .arg(statement, QString::number(earlier));
        });
}

// The statements of which only the last one in a file counts.
bool onlyLastCounts(const QString& keyword) {
    static const QStringList keywords{QStringLiteral("MEASURED"),   QStringLiteral("RESOLUTION"),
                                      QStringLiteral("OFFSET"),     QStringLiteral("SCALE"),
                                      QStringLiteral("BACKGROUND"), QStringLiteral("MODEL"),
                                      QStringLiteral("REFLECTION"), QStringLiteral("GEOMETRY")};
    return keywords.contains(keyword);
}

// The system the reader keeps for a material: the basic format's own where it holds every
// element of `system` (so that "GaAs" is the basic "0 1"), `system` itself otherwise.
MaterialSystem readerSystem(const MaterialSystem& system) {
    MaterialSystem basic;
    MaterialSystem united;
    if (commonSystem(system, MaterialSystem(), united) && united == basic)
        return basic;
    return system;
}

// Reads formula `token` of a LAYER or SUBSTRATE line; the refusal line's reason otherwise.
QString readFormula(const QString& token, Material& m) {
    QString problem;
    if (parseFormula(token, m, problem))
        return QString();
    return trNote("formula %1: %2").arg(quoted(token), problem);
}

// A LAYER line whose composition is a formula: "LAYER n FORMULA [shape width FORMULA [shape
// width FORMULA]]", the grading arguments as in the basic form but with one formula in place
// of each pair of fractions. Fills `l` (in one system for the layer and both neighbours) and
// `w`; returns the reason for refusing the line, empty when it is read.
QString readFormulaLayer(const QString& formula, LineTokens& tokens, LineNotes& notes, Layer& l,
                         WrittenNeighbours& w) {
    Material own;
    QString refusal = readFormula(formula, own);
    if (!refusal.isEmpty())
        return refusal;
    Material beyond[2] = {own, own};
    bool given[2] = {false, false};
    for (int side = 0; side < 2; ++side) {
        const char* shapeName = side == 0 ? QT_TRANSLATE_NOOP("Config", "end shape")
                                          : QT_TRANSLATE_NOOP("Config", "start shape");
        const char* widthName = side == 0 ? QT_TRANSLATE_NOOP("Config", "end grading width")
                                          : QT_TRANSLATE_NOOP("Config", "start grading width");
        const GradingShape shape = notes.shape(tokens.next(), shapeName);
        const bool graded = shape != Abrupt;
        const double width = notes.real(tokens.next(), widthName, graded);
        const QString token = tokens.next();
        if (!token.isEmpty()) {
            refusal = readFormula(token, beyond[side]);
            if (!refusal.isEmpty())
                return refusal;
            given[side] = true;
        } else if (graded) {
            notes.add([&] {
                return trNote("%1 missing, read as the layer's own")
                    .arg(side == 0 ? trNote("formula beyond the end")
                                   : trNote("formula beyond the start"));
            });
        }
        (side == 0 ? l.endShape : l.startShape) = shape;
        (side == 0 ? l.endWidth : l.startWidth) = width;
    }
    notes.surplus(tokens);
    MaterialSystem system;
    if (!commonSystem(own.system, beyond[0].system, system) ||
        !commonSystem(system, beyond[1].system, system))
        return trNote("a grading joins materials of one system, with at most two elements on "
                      "each sublattice: %1 cannot be graded to %2")
            .arg(formulaText(own.system, own.x, own.y),
                 formulaText(given[0] ? beyond[0].system : beyond[1].system,
                             given[0] ? beyond[0].x : beyond[1].x,
                             given[0] ? beyond[0].y : beyond[1].y));
    system = readerSystem(system);
    own = inSystem(own, system);
    const Material end = inSystem(beyond[0], system);
    const Material start = inSystem(beyond[1], system);
    l.system = system;
    l.formula = true;
    l.inFraction = own.x;
    l.asFraction = own.y;
    w.endIn = end.x;
    w.endAs = end.y;
    w.startIn = start.x;
    w.startAs = start.y;
    if (given[0])
        w.present |= WrittenNeighbours::EndIn | WrittenNeighbours::EndAs;
    if (given[1])
        w.present |= WrittenNeighbours::StartIn | WrittenNeighbours::StartAs;
    return QString();
}

} // namespace

Config::Config() = default;

Config::~Config() = default;

void Config::reset() {
    const QString name = fileName;
    static_cast<Structure&>(*this) = Structure();
    fileName = name;
}

bool Config::load(const QString& name) {
    reset();
    QFile file;
    if (!openRegularFile(file, name)) {
        emit log(tr("Can't open [%1].").arg(name));
        return false;
    }
    return loadFrom(name, file);
}

bool Config::load(const StructureFile& file) {
    reset();
    if (!file.isRead()) {
        emit log(tr("Can't open [%1].").arg(file.path()));
        return false;
    }
    QByteArray bytes = file.bytes(); // shared, not copied
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return loadFrom(file.path(), buffer);
}

bool Config::loadFrom(const QString& name, QIODevice& file) {
    emit log(tr("Loading [%1].").arg(name));
    fileName = name;
    lastGiven_.clear();
    refusal_.clear();
    readFrom(file);
    file.close();
    if (notedLines > maxNotes)
        emit log(tr("Note [%1]: \u2026 and %2 more notes.")
                     .arg(fileName, QString::number(notedLines - maxNotes)));

    if (!refusal_.isEmpty()) {
        // A material the reader cannot take: no structure rather than a wrong one.
        emit log(refusal_);
        reset();
    } else if (wavelength > 0 && substrate.defined && !layers.isEmpty()) {
        valid = true;
        finishExtensions(ext, fileName, layers.size());
    } else {
        reset();
    }
    return true;
}

void Config::readFrom(QIODevice& file) {
    // The stream decodes with the system locale unless a byte-order mark names a Unicode
    // encoding. The file is opened in binary mode, and lines end where splitLines ends them
    // (a lone CR included, which text mode would silently delete, gluing "1\r0" into 10).
    QTextStream in(&file);
    constexpr int kChunk = 1 << 16;
    qint64 lineNumber = 0; // a file of more than 2^31 empty lines is only a few GB
    QString pending;
    int scanned = 0; // `pending` holds no line end before this
    for (;;) {
        pending += in.read(kChunk);
        const bool final = in.atEnd();
        int start = 0;
        for (int i = scanned; i < pending.size(); ++i) {
            const int end = lineEndAt(pending, i, final);
            if (end < 0)
                break; // a CR at the end of what was read: an LF may follow
            if (end == 0)
                continue;
            handleLine(pending.mid(start, i - start), ++lineNumber);
            i += end - 1;
            start = i + 1;
        }
        pending.remove(0, start);
        scanned = std::max(0, int(pending.size()) - 1);
        if (final)
            break;
    }
    if (!pending.isEmpty())
        handleLine(pending, ++lineNumber);
}

void Config::handleLine(const QString& line, qint64 lineNumber) {
    LineTokens tokens(line, LineTokens::commentStart(line));

    int start = 0;
    int length = 0;
    const QString keyword = tokens.nextKeyword(&start, &length);
    if (length == 0)
        return;
    LineNotes notes(notedLines < maxNotes);

    if (keyword == QLatin1String("WAVELENGTH")) {
        wavelength = notes.real(tokens.next(), QT_TRANSLATE_NOOP("Config", "wavelength"), true);
        wavelengthGiven = true;
        k = twoPi / wavelength;
        notes.surplus(tokens);
        noteReplaced(notes, keyword, given(keyword, lineNumber));
    } else if (keyword == QLatin1String("SUBSTRATE")) {
        // "SUBSTRATE x y [switch]" or "SUBSTRATE FORMULA [switch]".
        const QString first = tokens.next();
        Material material;
        if (looksLikeFormula(first)) {
            const QString refusal = readFormula(first, material);
            if (!refusal.isEmpty()) {
                refuse(lineNumber, refusal);
                return;
            }
            const MaterialSystem system = readerSystem(material.system);
            material = inSystem(material, system);
        } else {
            material.x = notes.fraction(first, QT_TRANSLATE_NOOP("Config", "In fraction"), true);
            material.y =
                notes.fraction(tokens.next(), QT_TRANSLATE_NOOP("Config", "As fraction"), true);
        }
        const double x = material.x;
        const double y = material.y;
        const QString switchToken = tokens.next();
        bool isInteger = false;
        const std::int32_t without = switchToken.toInt(&isInteger, 10);
        if (!switchToken.isEmpty() && (!isInteger || (without != 0 && without != 1)))
            notes.add([&] {
                return tr("substrate switch %1 is neither 0 nor 1, read as 0 (the substrate's "
                          "own scattering stays in)")
                    .arg(quoted(switchToken));
            });
        notes.surplus(tokens);
        Layer s;
        s.defined = true;
        s.monolayers = 1;
        s.inFraction = s.endInFraction = s.startInFraction = x;
        s.asFraction = s.endAsFraction = s.startAsFraction = y;
        s.system = material.system;
        substrate = s;
        withSubstrate = without != 1;
        noteReplaced(notes, keyword, given(keyword, lineNumber));
    } else if (keyword == QLatin1String("LAYER")) {
        if (layers.size() >= maxLayers) {
            ++ignoredLayers;
            return;
        }
        Layer l;
        l.defined = true;
        l.monolayers = notes.count(tokens.next(), QT_TRANSLATE_NOOP("Config", "thickness"),
                                   QT_TRANSLATE_NOOP("Config", "monolayers"));
        const QString first = tokens.next();
        if (looksLikeFormula(first)) {
            WrittenNeighbours w;
            const QString refusal = readFormulaLayer(first, tokens, notes, l, w);
            if (!refusal.isEmpty()) {
                refuse(lineNumber, refusal);
                return;
            }
            l.endInFraction = (w.endIn + l.inFraction) * 0.5;
            l.endAsFraction = (w.endAs + l.asFraction) * 0.5;
            l.startInFraction = (w.startIn + l.inFraction) * 0.5;
            l.startAsFraction = (w.startAs + l.asFraction) * 0.5;
            layers.append(l);
            noteWrittenNeighbours(ext, layers.size() - 1, w);
            if (!notes.isEmpty())
                note(lineNumber, notes.text());
            return;
        }
        l.inFraction = notes.fraction(first, QT_TRANSLATE_NOOP("Config", "In fraction"), true);
        l.asFraction =
            notes.fraction(tokens.next(), QT_TRANSLATE_NOOP("Config", "As fraction"), true);
        // The grading arguments may be left out behind an abrupt boundary; a graded one
        // needs its width and the composition beyond it.
        WrittenNeighbours w;
        l.endShape = notes.shape(tokens.next(), QT_TRANSLATE_NOOP("Config", "end shape"));
        const bool endGraded = l.endShape != Abrupt;
        l.endWidth =
            notes.real(tokens.next(), QT_TRANSLATE_NOOP("Config", "end grading width"), endGraded);
        QString token = tokens.next();
        w.endIn = toNeighbour(
            notes.fraction(token, QT_TRANSLATE_NOOP("Config", "In fraction beyond the end"),
                           endGraded),
            token, w, WrittenNeighbours::EndIn);
        token = tokens.next();
        w.endAs = toNeighbour(
            notes.fraction(token, QT_TRANSLATE_NOOP("Config", "As fraction beyond the end"),
                           endGraded),
            token, w, WrittenNeighbours::EndAs);
        l.startShape = notes.shape(tokens.next(), QT_TRANSLATE_NOOP("Config", "start shape"));
        const bool startGraded = l.startShape != Abrupt;
        l.startWidth = notes.real(tokens.next(), QT_TRANSLATE_NOOP("Config", "start grading width"),
                                  startGraded);
        token = tokens.next();
        w.startIn = toNeighbour(
            notes.fraction(token, QT_TRANSLATE_NOOP("Config", "In fraction beyond the start"),
                           startGraded),
            token, w, WrittenNeighbours::StartIn);
        token = tokens.next();
        w.startAs = toNeighbour(
            notes.fraction(token, QT_TRANSLATE_NOOP("Config", "As fraction beyond the start"),
                           startGraded),
            token, w, WrittenNeighbours::StartAs);
        notes.surplus(tokens);
        // Boundary compositions are the mean of the layer's own and its neighbour's.
        l.endInFraction = (w.endIn + l.inFraction) * 0.5;
        l.endAsFraction = (w.endAs + l.asFraction) * 0.5;
        l.startInFraction = (w.startIn + l.inFraction) * 0.5;
        l.startAsFraction = (w.startAs + l.asFraction) * 0.5;
        layers.append(l);
        noteWrittenNeighbours(ext, layers.size() - 1, w);
    } else if (keyword == QLatin1String("REPEAT")) {
        repeat = notes.count(tokens.next(), QT_TRANSLATE_NOOP("Config", "REPEAT"),
                             QT_TRANSLATE_NOOP("Config", "periods"));
        notes.surplus(tokens);
        noteReplaced(notes, keyword, given(keyword, lineNumber));
    } else {
        const int fits = ext.fits.size();
        switch (keyword.isEmpty()
                    ? ExtensionRead::NotExtension
                    : readExtensionStatement(ext, keyword, tokens, fileName, lineNumber)) {
        case ExtensionRead::NotExtension:
            notes.add([&] {
                return tr("unknown keyword %1, line skipped").arg(quoted(line.mid(start, length)));
            });
            break;
        case ExtensionRead::Taken:
            if (keyword == QLatin1String("MEASURED") && ext.lastMeasured >= 0) {
                // One MEASURED line counts per reflection named (or left to REFLECTION).
                const MeasuredSpec& spec = ext.measured[ext.lastMeasured];
                const QString statement = spec.reflectionGiven ? keyword + QStringLiteral(" for ") +
                                                                     reflectionText(spec.reflection)
                                                               : keyword;
                noteReplaced(notes, statement, given(statement, lineNumber));
            } else if (onlyLastCounts(keyword)) {
                noteReplaced(notes, keyword, given(keyword, lineNumber));
            } else if (keyword == QLatin1String("FIT") && ext.fits.size() == fits) {
                // A FIT line for a target named before takes the earlier one's place.
                for (const FitParameter& p : qAsConst(ext.fits)) {
                    if (p.lineNumber == std::min<qint64>(lineNumber, INT_MAX))
                        noteReplaced(notes, QStringLiteral("FIT ") + p.text,
                                     given(QStringLiteral("FIT ") + p.text, lineNumber));
                }
            } else if (keyword == QLatin1String("FIT")) {
                given(QStringLiteral("FIT ") + ext.fits.last().text, lineNumber);
            }
            break;
        case ExtensionRead::Ignored:
            break;
        }
    }
    if (!notes.isEmpty())
        note(lineNumber, notes.text());
}

qint64 Config::given(const QString& statement, qint64 lineNumber) {
    qint64& last = lastGiven_[statement];
    const qint64 earlier = last;
    last = lineNumber;
    return earlier;
}

void Config::refuse(qint64 lineNumber, const QString& reason) {
    if (refusal_.isEmpty())
        refusal_ =
            tr("Refused [%1] line %2: %3.").arg(fileName, QString::number(lineNumber), reason);
}

void Config::note(qint64 lineNumber, const QString& text) {
    if (++notedLines <= maxNotes)
        emit log(tr("Note [%1] line %2: %3.").arg(fileName, QString::number(lineNumber), text));
}
