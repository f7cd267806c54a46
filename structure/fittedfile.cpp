#include "structure/fittedfile.h"

#include "structure/config.h"
#include "structure/fitparameters.h"
#include "structure/fittargets.h"
#include "structure/linetokens.h"

#include <QMap>
#include <QRegularExpression>
#include <QTextCodec>
#include <QVector>

#include <cmath>

namespace {

// One line of the text: where it starts, its length and the length of its line end (0 for a
// last line without one). Lines end where the reader ends them: at CR LF, LF or a lone CR.
struct LineSpan {
    int start = 0;
    int length = 0;
    int endLength = 0;
};

QVector<LineSpan> splitLines(const QString& text, int from) {
    QVector<LineSpan> lines;
    int start = from;
    for (int i = from; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            continue;
        const bool crlf =
            c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n');
        lines.append({start, i - start, crlf ? 2 : 1});
        i += crlf ? 1 : 0;
        start = i + 1;
    }
    if (start < text.size())
        lines.append({start, int(text.size()) - start, 0});
    return lines;
}

// The upper-cased keyword of a line as the reader takes it, or empty.
QString keywordOf(const QString& line) {
    LineTokens tokens(line, LineTokens::commentStart(line));
    int start = 0;
    int length = 0;
    tokens.nextSpan(start, length);
    if (length == 0 || length > 10)
        return QString();
    return line.mid(start, length).toUpper();
}

QString number(double value) {
    return QString::number(value, 'g', 6);
}

// The argument tokens of a statement line: their spans, and where a further token would go.
struct Arguments {
    QVector<QPair<int, int>> spans; // start and length of each argument present
    int end = 0;                    // behind the last token, keyword included
    bool unclosed = false;          // the last token opened a quote the line never closes
};

Arguments argumentsOf(const QString& line, int wanted) {
    const int stop = LineTokens::commentStart(line);
    LineTokens tokens(line, stop);
    Arguments args;
    int start = 0;
    int length = 0;
    tokens.nextSpan(start, length); // the keyword
    args.end = tokens.position();
    for (int k = 0; k < wanted; ++k) {
        tokens.nextSpan(start, length);
        if (start == stop && length == 0 && !tokens.lastUnclosed())
            break;
        args.spans.append({start, length});
        args.end = tokens.position();
        args.unclosed = tokens.lastUnclosed();
    }
    return args;
}

// The line with the arguments at the given positions (1-based) replaced. Positions beyond
// the tokens present are appended, with the value a missing token reads as for every position
// between: "A" for a grading shape (LAYER arguments 4 and 8 only), 0 for a number.
QString withArguments(const QString& line, const QMap<int, QString>& changes, bool layerLine) {
    if (changes.isEmpty())
        return line;
    const int last = changes.lastKey();
    const Arguments args = argumentsOf(line, last);
    QString out = line;
    QString appended;
    for (int p = args.spans.size() + 1; p <= last; ++p) {
        const bool shape = layerLine && (p == 4 || p == 8);
        appended +=
            QLatin1Char(' ') + changes.value(p, shape ? QStringLiteral("A") : QStringLiteral("0"));
    }
    if (!appended.isEmpty())
        out.insert(args.end, (args.unclosed ? QStringLiteral("\"") : QString()) + appended);
    // From the right, so that the earlier spans keep their places.
    for (int p = qMin(last, args.spans.size()); p >= 1; --p) {
        if (changes.contains(p))
            out.replace(args.spans[p - 1].first, args.spans[p - 1].second, changes.value(p));
    }
    return out;
}

bool sameNumber(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// The line still says what the loader read from it: the file did not change in between.
bool layerLineMatches(const QString& line, const Layer& l, const WrittenNeighbours* w) {
    const Arguments args = argumentsOf(line, 11);
    const auto token = [&](int p) {
        return p <= args.spans.size() ? line.mid(args.spans[p - 1].first, args.spans[p - 1].second)
                                      : QString();
    };
    if (token(1).toInt(nullptr, 10) != l.monolayers ||
        !sameNumber(token(2).toDouble(), l.inFraction) ||
        !sameNumber(token(3).toDouble(), l.asFraction))
        return false;
    return !w || (sameNumber(token(6).toDouble(), w->endIn) &&
                  sameNumber(token(7).toDouble(), w->endAs) &&
                  sameNumber(token(10).toDouble(), w->startIn) &&
                  sameNumber(token(11).toDouble(), w->startAs));
}

// The numbers of a LAYER line that the fit changed, by argument position.
QMap<int, QString> layerChanges(const Layer& was, const Layer& now, const WrittenNeighbours* wasW,
                                const WrittenNeighbours* nowW) {
    QMap<int, QString> changes;
    if (was.monolayers != now.monolayers)
        changes.insert(1, QString::number(now.monolayers));
    if (!sameNumber(was.inFraction, now.inFraction))
        changes.insert(2, number(now.inFraction));
    if (!sameNumber(was.asFraction, now.asFraction))
        changes.insert(3, number(now.asFraction));
    if (wasW && nowW) {
        const QPair<int, double WrittenNeighbours::*> fields[] = {
            {6, &WrittenNeighbours::endIn},
            {7, &WrittenNeighbours::endAs},
            {10, &WrittenNeighbours::startIn},
            {11, &WrittenNeighbours::startAs}};
        for (const auto& f : fields) {
            if (!sameNumber(wasW->*f.second, nowW->*f.second))
                changes.insert(f.first, number(nowW->*f.second));
        }
    }
    return changes;
}

// The lines this writer puts at the top, so that an old header is replaced, not stacked. A
// comment of the user's own at the top of the file does not look like them.
bool isHeaderLine(const QString& line) {
    if (line.startsWith(QLatin1String("# agreement before: ")) ||
        line.startsWith(QLatin1String("# agreement after: ")))
        return true;
    if (line.startsWith(QLatin1String("# fitted ")) && line.contains(QStringLiteral(": ")) &&
        line.contains(QStringLiteral(" \u00b1 ")))
        return true;
    if (line.startsWith(QLatin1String("# model: ")) &&
        isModelName(line.mid(int(qstrlen("# model: ")))))
        return true;
    static const QRegularExpression record(
        QStringLiteral("^# (seed: \\d+|evaluations: \\d+|generations: \\d+|"
                       "fit time: [0-9.e+-]+ s|program: xrdsim\\S* \\S+)$"));
    return record.match(line).hasMatch();
}

} // namespace

QString fittedStructureText(const QString& originalText, const Structure& original,
                            const std::vector<FittedValue>& values, double agreementBefore,
                            double agreementAfter, const FitRecord* record) {
    const QVector<FitParameter>& fits = original.ext.fits;
    if (!std::isfinite(agreementBefore) || !std::isfinite(agreementAfter) ||
        values.size() != size_t(fits.size()))
        return QString();
    std::vector<double> plain;
    plain.reserve(values.size());
    for (const FittedValue& v : values) {
        if (!std::isfinite(v.value) || !std::isfinite(v.sigma))
            return QString();
        plain.push_back(v.value);
    }
    Structure fitted;
    applyFitValues(original, plain, fitted);
    if (!fitted.valid)
        return QString();

    // A byte-order mark is no part of the first line; the caller chooses the encoding.
    const int from = originalText.startsWith(QChar(0xFEFF)) ? 1 : 0;
    const QVector<LineSpan> lines = splitLines(originalText, from);
    QString eol = QStringLiteral("\n");
    for (const LineSpan& l : lines) {
        if (l.endLength > 0) {
            eol = originalText.mid(l.start + l.length, l.endLength);
            break;
        }
    }
    int first = 0;
    while (first < lines.size() &&
           isHeaderLine(originalText.mid(lines[first].start, lines[first].length)))
        ++first;

    // The last line of each instrument statement: the one whose value the reader kept.
    std::vector<const FitTarget*> instrument;
    for (const FitTarget& t : fitTargets()) {
        if (!t.layer)
            instrument.push_back(&t);
    }
    const auto kinds = instrument.size();
    std::vector<int> lastInstrumentLine(kinds, -1);
    qint64 layerLines = 0;
    for (int i = first; i < lines.size(); ++i) {
        const QString keyword = keywordOf(originalText.mid(lines[i].start, lines[i].length));
        if (keyword == QLatin1String("LAYER"))
            ++layerLines;
        for (std::size_t t = 0; t < kinds; ++t) {
            if (keyword == QLatin1String(instrument[t]->word))
                lastInstrumentLine[t] = i;
        }
    }
    if (layerLines != original.layers.size() + original.ignoredLayers)
        return QString();

    // A fitted relaxation goes into the RELAXATION line of its layer that the reader kept (the
    // last one), or into a new line at the end.
    QMap<int, QString> relaxationValues; // layer (1-based) -> value
    for (const FitParameter& p : fits) {
        if (p.target == FitParameter::Relaxation)
            relaxationValues.insert(p.layer,
                                    number(fitTarget(p.target).read(fitted, p.layer - 1, p)));
    }
    QMap<int, int> relaxationLine; // layer -> line index
    if (!relaxationValues.isEmpty()) {
        for (int i = first; i < lines.size(); ++i) {
            const QString line = originalText.mid(lines[i].start, lines[i].length);
            if (keywordOf(line) != QLatin1String("RELAXATION"))
                continue;
            LineTokens tokens(line, LineTokens::commentStart(line));
            tokens.next();
            bool ok = false;
            const int layer = tokens.next().toInt(&ok, 10);
            if (ok && relaxationValues.contains(layer))
                relaxationLine.insert(layer, i);
        }
    }

    const bool haveWritten = original.ext.written.size() == original.layers.size() &&
                             fitted.ext.written.size() == fitted.layers.size();
    std::vector<QMap<int, QString>> instrumentChanges(kinds);
    std::vector<bool> fittedInstrument(kinds, false);
    for (const FitParameter& p : fits) {
        for (std::size_t t = 0; t < kinds; ++t) {
            if (p.target == instrument[t]->target) {
                fittedInstrument[t] = true;
                instrumentChanges[t].insert(1, number(instrument[t]->read(fitted, 0, p)));
            }
        }
    }

    QString out;
    out.reserve(originalText.size() + 256);
    out += QStringLiteral("# agreement before: ") + number(agreementBefore) + eol;
    out += QStringLiteral("# agreement after: ") + number(agreementAfter) + eol;
    out += QStringLiteral("# model: ") + modelName(original.ext.model) + eol;
    if (record) {
        out += QStringLiteral("# seed: %1").arg(record->seed) + eol;
        out += QStringLiteral("# evaluations: %1").arg(record->evaluations) + eol;
        out += QStringLiteral("# generations: %1").arg(record->generations) + eol;
        out += QStringLiteral("# fit time: %1 s").arg(record->seconds, 0, 'f', 3) + eol;
        if (!record->program.isEmpty())
            out += QStringLiteral("# program: ") + record->program + eol;
    }
    for (int k = 0; k < fits.size(); ++k) {
        const FitParameter& p = fits[k];
        const QString value =
            fitTarget(p.target).integer
                ? QString::number(fitTarget(p.target).read(fitted, p.layer - 1, p), 'f', 0)
                : number(values[size_t(k)].value);
        out += QStringLiteral("# fitted %1: %2 \u00b1 %3")
                   .arg(p.text, value, QString::number(values[size_t(k)].sigma, 'g', 2));
        const double nm = values[size_t(k)].nmPerUnit;
        if (nm > 0 && std::isfinite(nm))
            out += QStringLiteral(" (%1 \u00b1 %2 nm)")
                       .arg(value.toDouble() * nm, 0, 'f', 2)
                       .arg(values[size_t(k)].sigma * nm, 0, 'f', 2);
        if (values[size_t(k)].atBound)
            out += QStringLiteral(" at bound");
        out += eol;
    }

    int layer = 0;
    for (int i = first; i < lines.size(); ++i) {
        const LineSpan& span = lines[i];
        QString line = originalText.mid(span.start, span.length);
        if (keywordOf(line) == QLatin1String("LAYER")) {
            const int j = layer++;
            if (j < original.layers.size()) {
                const WrittenNeighbours* wasW = haveWritten ? &original.ext.written.at(j) : nullptr;
                const WrittenNeighbours* nowW = haveWritten ? &fitted.ext.written.at(j) : nullptr;
                const QMap<int, QString> changes =
                    layerChanges(original.layers.at(j), fitted.layers.at(j), wasW, nowW);
                if (!changes.isEmpty()) {
                    if (!layerLineMatches(line, original.layers.at(j), wasW))
                        return QString();
                    line = withArguments(line, changes, true);
                }
            }
        }
        for (std::size_t t = 0; t < kinds; ++t) {
            if (fittedInstrument[t] && lastInstrumentLine[t] == i)
                line = withArguments(line, instrumentChanges[t], false);
        }
        for (auto r = relaxationLine.constBegin(); r != relaxationLine.constEnd(); ++r) {
            if (r.value() == i)
                line = withArguments(line, {{2, relaxationValues.value(r.key())}}, false);
        }
        out += line;
        out += originalText.midRef(span.start + span.length, span.endLength);
    }
    bool needsEol = !lines.isEmpty() && lines.last().endLength == 0 && lines.size() > first;
    for (std::size_t t = 0; t < kinds; ++t) {
        if (!fittedInstrument[t] || lastInstrumentLine[t] >= 0)
            continue;
        if (needsEol)
            out += eol;
        needsEol = false;
        out += QLatin1String(instrument[t]->word) + QLatin1Char(' ') +
               instrumentChanges[t].value(1) + eol;
    }
    for (auto r = relaxationValues.constBegin(); r != relaxationValues.constEnd(); ++r) {
        if (relaxationLine.contains(r.key()))
            continue;
        if (needsEol)
            out += eol;
        needsEol = false;
        out += QStringLiteral("RELAXATION %1 %2").arg(r.key()).arg(r.value()) + eol;
    }
    return out;
}

QByteArray fittedStructureBytes(const QByteArray& originalBytes, const Structure& original,
                                const std::vector<FittedValue>& values, double agreementBefore,
                                double agreementAfter, const FitRecord* record) {
    QTextCodec* utf8 = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString decoded =
        utf8->toUnicode(originalBytes.constData(), originalBytes.size(), &state);
    const bool isUtf8 = state.invalidChars == 0 && state.remainingChars == 0;
    const QByteArray bom("\xEF\xBB\xBF");
    const bool hasBom = isUtf8 && originalBytes.startsWith(bom);
    const QString text = isUtf8 ? decoded : QString::fromLatin1(originalBytes);
    const QString out =
        fittedStructureText(hasBom ? text.mid(text.startsWith(QChar(0xFEFF)) ? 1 : 0) : text,
                            original, values, agreementBefore, agreementAfter, record);
    if (out.isEmpty())
        return QByteArray();
    return isUtf8 ? (hasBom ? bom : QByteArray()) + out.toUtf8() : out.toLatin1();
}
