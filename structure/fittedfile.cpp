#include "structure/fittedfile.h"

#include "structure/config.h"
#include "structure/fitparameters.h"
#include "structure/fittargets.h"
#include "structure/material.h"
#include "structure/structuretext.h"

#include <QMap>
#include <QRegularExpression>
#include <QVector>

#include <cmath>

namespace {

QString number(double value) {
    return QString::number(value, 'g', 6);
}

bool sameNumber(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// A formula token that names (x, y) in `system`.
bool sameFormula(const QString& token, const MaterialSystem& system, double x, double y) {
    Material m;
    QString problem;
    MaterialSystem common;
    if (!parseFormula(token, m, problem) || !commonSystem(m.system, system, common) ||
        common != system)
        return false;
    const Material in = inSystem(m, system);
    return sameNumber(in.x, x) && sameNumber(in.y, y);
}

// The same for a LAYER line that names its materials by formula: "LAYER n FORMULA es ew EF ss
// sw SF".
bool formulaLineMatches(const StructureText& text, int j, const Layer& l,
                        const WrittenNeighbours* w) {
    const auto token = [&](int p) { return text.layerArgument(j, p); };
    if (token(1).toInt(nullptr, 10) != l.monolayers ||
        !sameFormula(token(2), l.system, l.inFraction, l.asFraction))
        return false;
    return !w || (((w->present & WrittenNeighbours::EndIn) == 0 ||
                   sameFormula(token(5), l.system, w->endIn, w->endAs)) &&
                  ((w->present & WrittenNeighbours::StartIn) == 0 ||
                   sameFormula(token(8), l.system, w->startIn, w->startAs)));
}

// LAYER line `j` still says what the loader read from it: the file did not change in between.
bool layerLineMatches(const StructureText& text, int j, const Layer& l,
                      const WrittenNeighbours* w) {
    if (l.formula)
        return formulaLineMatches(text, j, l, w);
    const auto token = [&](int p) { return text.layerArgument(j, p); };
    if (token(1).toInt(nullptr, 10) != l.monolayers ||
        !sameNumber(token(2).toDouble(), l.inFraction) ||
        !sameNumber(token(3).toDouble(), l.asFraction))
        return false;
    return !w || (sameNumber(token(6).toDouble(), w->endIn) &&
                  sameNumber(token(7).toDouble(), w->endAs) &&
                  sameNumber(token(10).toDouble(), w->startIn) &&
                  sameNumber(token(11).toDouble(), w->startAs));
}

// The fit moved a number of the LAYER line: its own or a neighbour composition.
bool layerMoved(const Layer& was, const Layer& now, const WrittenNeighbours* wasW,
                const WrittenNeighbours* nowW) {
    if (was.monolayers != now.monolayers || !sameNumber(was.inFraction, now.inFraction) ||
        !sameNumber(was.asFraction, now.asFraction))
        return true;
    return wasW && nowW &&
           !(sameNumber(wasW->endIn, nowW->endIn) && sameNumber(wasW->endAs, nowW->endAs) &&
             sameNumber(wasW->startIn, nowW->startIn) && sameNumber(wasW->startAs, nowW->startAs));
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
    if (line.startsWith(QLatin1String("# fit warning: ")))
        return true;
    static const QRegularExpression record(
        QStringLiteral("^# (seed: \\d+|evaluations: \\d+|generations: \\d+|"
                       "fit time: [0-9.e+-]+ s|program: xrdsim\\S* \\S+)$"));
    return record.match(line).hasMatch();
}

// Writes the fitted values and the header into `text`; false to refuse.
bool writeFitted(StructureText& text, const Structure& original,
                 const std::vector<FittedValue>& values, double agreementBefore,
                 double agreementAfter, const FitRecord* record) {
    const QVector<FitParameter>& fits = original.ext.fits;
    if (!text.exact() || !std::isfinite(agreementBefore) || !std::isfinite(agreementAfter) ||
        values.size() != size_t(fits.size()))
        return false;
    std::vector<double> plain;
    plain.reserve(values.size());
    for (const FittedValue& v : values) {
        if (!std::isfinite(v.value) || !std::isfinite(v.sigma))
            return false;
        plain.push_back(v.value);
    }
    Structure fitted;
    applyFitValues(original, plain, fitted);
    if (!fitted.valid)
        return false;

    const QString eol = text.lineEnd();
    // The header of an earlier fit goes; the new one takes its place.
    while (text.lineCount() > 0 && isHeaderLine(text.line(0)))
        text.removeLine(0);
    if (text.layerCount() != original.layers.size() + original.ignoredLayers)
        return false;

    const bool haveWritten = original.ext.written.size() == original.layers.size() &&
                             fitted.ext.written.size() == fitted.layers.size();
    for (int j = 0; j < original.layers.size(); ++j) {
        const WrittenNeighbours* wasW = haveWritten ? &original.ext.written.at(j) : nullptr;
        const WrittenNeighbours* nowW = haveWritten ? &fitted.ext.written.at(j) : nullptr;
        if (layerMoved(original.layers.at(j), fitted.layers.at(j), wasW, nowW) &&
            !layerLineMatches(text, j, original.layers.at(j), wasW))
            return false;
    }
    // Each value through its row: thicknesses as integers, every other number with 6
    // significant digits; the values of a statement of their own restated.
    const auto written = [](const FitTarget& t, double v) {
        return t.integer ? QString::number(qint64(v)) : number(v);
    };
    if (!writeFitValues(text, original, fitted, written, true))
        return false;

    QStringList header;
    header << QStringLiteral("# agreement before: ") + number(agreementBefore);
    header << QStringLiteral("# agreement after: ") + number(agreementAfter);
    header << QStringLiteral("# model: ") + modelName(original.ext.model);
    if (record) {
        header << QStringLiteral("# seed: %1").arg(record->seed);
        header << QStringLiteral("# evaluations: %1").arg(record->evaluations);
        header << QStringLiteral("# generations: %1").arg(record->generations);
        header << QStringLiteral("# fit time: %1 s").arg(record->seconds, 0, 'f', 3);
        if (!record->program.isEmpty())
            header << QStringLiteral("# program: ") + record->program;
    }
    for (int k = 0; k < fits.size(); ++k) {
        const FitParameter& p = fits[k];
        const QString value =
            fitTarget(p.target).integer
                ? QString::number(fitTarget(p.target).read(fitted, p.layer - 1, p), 'f', 0)
                : number(values[size_t(k)].value);
        QString line = QStringLiteral("# fitted %1: %2 \u00b1 %3")
                           .arg(p.text, value, QString::number(values[size_t(k)].sigma, 'g', 2));
        const double nm = values[size_t(k)].nmPerUnit;
        if (nm > 0 && std::isfinite(nm))
            line += QStringLiteral(" (%1 \u00b1 %2 nm)")
                        .arg(value.toDouble() * nm, 0, 'f', 2)
                        .arg(values[size_t(k)].sigma * nm, 0, 'f', 2);
        if (values[size_t(k)].atBound)
            line += QStringLiteral(" at bound");
        header << line;
    }
    if (record)
        for (const QString& w : record->warnings)
            header << QStringLiteral("# fit warning: ") +
                          QString(w).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    for (int k = 0; k < header.size(); ++k)
        text.insertLine(k, header[k], eol);
    return true;
}

} // namespace

QString fittedStructureText(const QString& originalText, const Structure& original,
                            const std::vector<FittedValue>& values, double agreementBefore,
                            double agreementAfter, const FitRecord* record) {
    StructureText text(originalText.toUtf8());
    if (!writeFitted(text, original, values, agreementBefore, agreementAfter, record))
        return QString();
    return text.text();
}

QByteArray fittedStructureBytes(const QByteArray& originalBytes, const Structure& original,
                                const std::vector<FittedValue>& values, double agreementBefore,
                                double agreementAfter, const FitRecord* record) {
    StructureText text(originalBytes);
    if (!writeFitted(text, original, values, agreementBefore, agreementAfter, record))
        return QByteArray();
    return text.bytes();
}

FittedHeader readFittedHeader(const QByteArray& bytes) {
    FittedHeader h;
    const StructureText text(bytes);
    static const QRegularExpression fitted(QStringLiteral(
        "^# fitted (.+): (\\S+) \u00b1 (\\S+)(?: \\((\\S+) \u00b1 \\S+ nm\\))?( at bound)?$"));
    bool before = false, after = false;
    for (int i = 0; i < text.lineCount(); ++i) {
        const QString line = text.line(i);
        if (!isHeaderLine(line))
            break;
        const QString value = line.mid(line.indexOf(QLatin1String(": ")) + 2);
        if (line.startsWith(QLatin1String("# agreement before: ")))
            h.agreementBefore = value.toDouble(&before);
        else if (line.startsWith(QLatin1String("# agreement after: ")))
            h.agreementAfter = value.toDouble(&after);
        else if (line.startsWith(QLatin1String("# seed: ")))
            h.seed = value.toUInt();
        else if (line.startsWith(QLatin1String("# evaluations: ")))
            h.evaluations = value.toLong();
        else if (line.startsWith(QLatin1String("# generations: ")))
            h.generations = value.toInt();
        else if (line.startsWith(QLatin1String("# fit time: ")))
            h.seconds = value.chopped(2).toDouble();
        else if (line.startsWith(QLatin1String("# fit warning: ")))
            h.warnings << value;
        else if (const QRegularExpressionMatch m = fitted.match(line); m.hasMatch()) {
            FittedHeader::Row r;
            r.target = m.captured(1);
            bool okValue = false, okSigma = false;
            r.value = m.captured(2).toDouble(&okValue);
            r.sigma = m.captured(3).toDouble(&okSigma);
            r.nm = m.captured(4).toDouble();
            r.atBound = !m.captured(5).isEmpty();
            if (okValue && okSigma && std::isfinite(r.value) && std::isfinite(r.sigma))
                h.rows << r;
        }
    }
    h.present = before && after && std::isfinite(h.agreementBefore) &&
                std::isfinite(h.agreementAfter) && !h.rows.isEmpty();
    return h;
}
