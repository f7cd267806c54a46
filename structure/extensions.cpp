#include "structure/extensions.h"

#include "structure/config.h"
#include "structure/fittargets.h"
#include "structure/linetokens.h"
#include "structure/material.h"
#include "structure/structuretext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

// A file is free to repeat a malformed line millions of times; the list of complaints, and
// the list of fit parameters that every FIT line is matched against, stay this short.
constexpr int kMaxListedProblems = 50;
constexpr int kMaxFits = 256;

QString tr(const char* text) {
    return QCoreApplication::translate("StructureExtensions", text);
}

// Reads a statement's arguments and files its complaints. The complaint texts carry the
// file as %1 and the line number as %2; all placeholders are filled in one pass, so a "%"
// in a file name cannot be mistaken for one.
class Statement {
public:
    Statement(StructureExtensions& ext, LineTokens& tokens, const QString& fileName,
              qint64 lineNumber)
        : ext_(ext), tokens_(tokens), fileName_(fileName), lineNumber_(lineNumber) {}

    QString next() { return tokens_.next(); }

    // A number, strictly: a missing token or one that is not entirely a number fails. NaN
    // and infinity convert; the caller decides about them.
    bool number(double& value) {
        bool ok = false;
        value = next().toDouble(&ok);
        return ok;
    }

    bool integer(int& value) {
        bool ok = false;
        value = next().toInt(&ok, 10);
        return ok;
    }

    void complain(const char* text, const QString& detail = QString()) {
        complained_ = true;
        const QString line = QString::number(lineNumber_);
        if (ext_.problems.size() > kMaxListedProblems)
            return;
        if (ext_.problems.size() == kMaxListedProblems) {
            ext_.problems << tr("Ignored [%1] from line %2 on: more malformed lines, not listed.")
                                 .arg(fileName_, line);
            return;
        }
        ext_.problems << (detail.isNull() ? tr(text).arg(fileName_, line)
                                          : tr(text).arg(fileName_, line, detail));
    }

    int lineNumber() const { return int(qMin<qint64>(lineNumber_, INT_MAX)); }
    bool complained() const { return complained_; }

private:
    StructureExtensions& ext_;
    LineTokens& tokens_;
    const QString& fileName_;
    const qint64 lineNumber_;
    bool complained_ = false;
};

// The key under which a MEASURED line takes the place of an earlier one: its reflection as
// written, or none when it takes the structure's.
bool sameSlot(const MeasuredSpec& a, const MeasuredSpec& b) {
    return a.reflectionGiven == b.reflectionGiven &&
           (!a.reflectionGiven || a.reflection == b.reflection);
}

void readMeasured(StructureExtensions& ext, Statement& s) {
    MeasuredSpec spec;
    spec.file = s.next();
    spec.lineNumber = s.lineNumber();
    if (spec.file.isEmpty()) {
        s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                     "Ignored [%1] line %2: MEASURED needs the name of a file."));
        return;
    }
    QStringList words;
    for (QString word = s.next(); !word.isEmpty(); word = s.next())
        words << word;
    QString problem;
    if (!readMeasuredChoices(words, spec, problem)) {
        s.complain(QT_TRANSLATE_NOOP("StructureExtensions", "Ignored [%1] line %2: MEASURED %3."),
                   problem);
        return;
    }
    ext.lastMeasured = -1;
    int slot = 0;
    for (MeasuredSpec& old : ext.measured) {
        if (sameSlot(old, spec)) {
            old = spec;
            ext.lastMeasured = slot;
            break;
        }
        ++slot;
    }
    if (ext.lastMeasured < 0) {
        ext.measured.append(spec);
        ext.lastMeasured = int(ext.measured.size()) - 1;
    }
    ext.measuredFile = ext.measured.first().file;
    ext.measuredTwoTheta = ext.measured.first().axis == MeasuredSpec::TwoTheta;
}

void readModel(StructureExtensions& ext, Statement& s) {
    const QString word = s.next().toLower();
    if (modelKindOf(word, ext.model))
        return;
    s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                 "Ignored [%1] line %2: MODEL must be basic, kinematical or "
                                 "dynamical, not \"%3\"."),
               word);
}

// REFLECTION l, the symmetric (00l), or REFLECTION h k l.
void readReflection(StructureExtensions& ext, Statement& s) {
    int first = 0;
    if (!s.integer(first)) {
        s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                     "Ignored [%1] line %2: REFLECTION must be a positive even "
                                     "integer, such as 4 for the (004) reflection."));
        return;
    }
    const QString second = s.next();
    if (second.isEmpty()) {
        if (first <= 0 || first % 2 != 0) {
            s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                         "Ignored [%1] line %2: REFLECTION must be a positive "
                                         "even integer, such as 4 for the (004) reflection."));
            return;
        }
        ext.reflection.h = 0;
        ext.reflection.k = 0;
        ext.reflection.l = first;
        return;
    }
    bool okK = false;
    const int k = second.toInt(&okK, 10);
    int l = 0;
    const bool okL = s.integer(l);
    // The Miller indices of a zinc-blende reflection are all even or all odd (the face-centred
    // lattice), and the planes must face the surface (l > 0) for a Bragg reflection.
    const bool sameParity =
        okK && okL && (first % 2 == 0) == (k % 2 == 0) && (k % 2 == 0) == (l % 2 == 0);
    // Compared without std::abs, which has no value for the smallest int.
    const bool small = first >= -100 && first <= 100 && k >= -100 && k <= 100 && l <= 100;
    if (!okK || !okL || !s.next().isEmpty() || l <= 0 || !sameParity || !small) {
        s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                     "Ignored [%1] line %2: REFLECTION h k l needs three integers "
                                     "up to 100, all even or all odd, with l above 0, such as "
                                     "2 2 4."));
        return;
    }
    ext.reflection.h = first;
    ext.reflection.k = k;
    ext.reflection.l = l;
}

void readGeometry(StructureExtensions& ext, Statement& s) {
    const QString word = s.next().toLower();
    if (word == QLatin1String("incidence")) {
        ext.reflection.grazing = Reflection::Incidence;
    } else if (word == QLatin1String("exit")) {
        ext.reflection.grazing = Reflection::Exit;
    } else {
        s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                     "Ignored [%1] line %2: GEOMETRY must be incidence (grazing "
                                     "incidence) or exit (grazing exit), not \"%3\"."),
                   word);
    }
}

// RELAXATION i r: layer i relaxed by the fraction r, 0 to 1.
void readRelaxation(StructureExtensions& ext, Statement& s) {
    int layer = 0;
    double r = 0;
    if (!s.integer(layer) || layer < 1 || layer > StructureExtensions::maxFitLayers) {
        s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                     "Ignored [%1] line %2: RELAXATION needs the number of the "
                                     "layer, counted from 1 in file order."));
        return;
    }
    if (!s.number(r) || !(r >= 0 && r <= 1)) {
        s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                     "Ignored [%1] line %2: RELAXATION %3 needs a fraction from 0 "
                                     "(coherent) to 1 (fully relaxed)."),
                   QString::number(layer));
        return;
    }
    for (LayerRelaxation& old : ext.relaxations) {
        if (old.layer == layer) {
            old = {layer, r, s.lineNumber()};
            return;
        }
    }
    ext.relaxations.append({layer, r, s.lineNumber()});
}

// FIT LAYER i N|X|Y min max, or FIT OFFSET|RESOLUTION|SCALE|BACKGROUND min max.
void readFit(StructureExtensions& ext, Statement& s) {
    FitParameter p;
    p.lineNumber = s.lineNumber();
    const QString target = s.next().toUpper();
    const FitTarget* found = nullptr;
    if (target == QLatin1String("LAYER")) {
        if (!s.integer(p.layer) || p.layer < 1) {
            s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                         "Ignored [%1] line %2: FIT LAYER needs the number of "
                                         "the layer, counted from 1 in file order."));
            return;
        }
        const QString written = s.next();
        const QString which = written.toUpper();
        found = findFitTarget(which, true);
        Element e = Element::Ga;
        // An element's symbol names its fraction (N stays the thickness).
        const bool element = !found && elementOfSymbolAnyCase(written, e);
        if (element) {
            found = &fitTarget(elementGroup(e) == 5 ? FitParameter::AsFraction
                                                    : FitParameter::InFraction);
            p.element = int(e);
            p.text = QStringLiteral("LAYER %1 %2").arg(p.layer).arg(elementSymbol(e));
        }
        if (!found) {
            s.complain(
                QT_TRANSLATE_NOOP("StructureExtensions", "Ignored [%1] line %2: FIT LAYER %3."),
                QStringLiteral("%1 needs %2").arg(p.layer).arg(layerTargetList()));
            return;
        }
        if (!element)
            p.text = QStringLiteral("LAYER %1 %2").arg(p.layer).arg(which);
    } else {
        found = findFitTarget(target, false);
        if (!found) {
            s.complain(
                QT_TRANSLATE_NOOP("StructureExtensions", "Ignored [%1] line %2: FIT needs %3."),
                fitTargetList());
            return;
        }
        p.text = target;
    }
    p.target = found->target;
    if (!s.number(p.min) || !s.number(p.max)) {
        s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                     "Ignored [%1] line %2: FIT %3 needs two numbers, the lower "
                                     "and the upper bound."),
                   p.text);
        return;
    }
    for (FitParameter& old : ext.fits) {
        if (old.target == p.target && old.layer == p.layer && old.element == p.element) {
            old = p;
            return;
        }
    }
    if (ext.fits.size() >= kMaxFits) {
        s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                     "Ignored [%1] line %2: more than %3 FIT targets."),
                   QString::number(kMaxFits));
        return;
    }
    ext.fits.append(p);
}

// FITOPTIONS [SEED n] [POPULATION n] [GENERATIONS n] [SECONDS s]: at least one pair, each
// word at most once, in any order. A line with any fault is ignored whole.
void readFitOptions(StructureExtensions& ext, Statement& s) {
    FitSearchOptions o = ext.fitOptions;
    QStringList seen;
    for (QString word = s.next().toUpper(); !word.isEmpty(); word = s.next().toUpper()) {
        if (seen.contains(word)) {
            s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                         "Ignored [%1] line %2: FITOPTIONS names %3 twice."),
                       word);
            return;
        }
        seen << word;
        const QString value = s.next();
        bool ok = false;
        if (word == QLatin1String("SEED")) {
            o.seed = value.toUInt(&ok, 10);
            o.seedGiven = ok;
        } else if (word == QLatin1String("POPULATION")) {
            o.population = value.toInt(&ok, 10);
            ok = ok && o.population >= FitSearchOptions::minPopulation &&
                 o.population <= FitSearchOptions::maxPopulation;
        } else if (word == QLatin1String("GENERATIONS")) {
            o.generations = value.toInt(&ok, 10);
            ok = ok && o.generations >= 1 && o.generations <= FitSearchOptions::maxGenerations;
        } else if (word == QLatin1String("SECONDS")) {
            o.seconds = value.toDouble(&ok);
            ok = ok && o.seconds > 0 && o.seconds <= FitSearchOptions::maxSeconds;
        } else {
            s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                         "Ignored [%1] line %2: FITOPTIONS takes SEED, "
                                         "POPULATION, GENERATIONS and SECONDS, not \"%3\"."),
                       word);
            return;
        }
        if (!ok) {
            QString need = QStringLiteral("a positive number of seconds, at most 1e9");
            if (word == QLatin1String("SEED"))
                need = QStringLiteral("a whole number from 0 to 4294967295");
            else if (word == QLatin1String("POPULATION"))
                need = QStringLiteral("a whole number from %1 to %2")
                           .arg(FitSearchOptions::minPopulation)
                           .arg(FitSearchOptions::maxPopulation);
            else if (word == QLatin1String("GENERATIONS"))
                need = QStringLiteral("a whole number from 1 to %1")
                           .arg(FitSearchOptions::maxGenerations);
            s.complain(
                QT_TRANSLATE_NOOP("StructureExtensions", "Ignored [%1] line %2: FITOPTIONS %3."),
                QStringLiteral("%1 needs %2, not \"%3\"").arg(word, need, value));
            return;
        }
    }
    if (seen.isEmpty()) {
        s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                     "Ignored [%1] line %2: FITOPTIONS needs at least one of "
                                     "SEED n, POPULATION n, GENERATIONS n, SECONDS s."));
        return;
    }
    ext.fitOptions = o;
}

} // namespace

QString fitOptionsLine(const FitSearchOptions& options) {
    QString line = QStringLiteral("FITOPTIONS");
    if (options.seedGiven)
        line += QStringLiteral(" SEED %1").arg(options.seed);
    if (options.population > 0)
        line += QStringLiteral(" POPULATION %1").arg(options.population);
    if (options.generations > 0)
        line += QStringLiteral(" GENERATIONS %1").arg(options.generations);
    if (options.seconds > 0)
        line += QStringLiteral(" SECONDS %1").arg(options.seconds, 0, 'g', 10);
    return line;
}

void setFitOptionsLine(StructureText& text, const FitSearchOptions& options) {
    const QString statement = fitOptionsLine(options);
    text.setStatementLine(QStringLiteral("FITOPTIONS"),
                          statement == QLatin1String("FITOPTIONS") ? QString() : statement);
}

QByteArray withFitOptionsLine(const QByteArray& bytes, const FitSearchOptions& options) {
    StructureText text(bytes);
    if (!text.exact())
        return QByteArray();
    setFitOptionsLine(text, options);
    return text.bytes();
}

bool readMeasuredChoices(const QStringList& words, MeasuredSpec& spec, QString& problem) {
    const auto integer = [&words](int i, int& value) {
        bool ok = false;
        value = i < words.size() ? words[i].toInt(&ok, 10) : 0;
        return ok;
    };
    bool axisGiven = false, scanGiven = false, geometryGiven = false;
    for (int i = 0; i < words.size(); ++i) {
        const QString word = words[i].toUpper();
        const bool twoTheta = word == QLatin1String("2THETA");
        if (twoTheta || word == QLatin1String("OMEGA")) {
            if (axisGiven) {
                problem = tr("names the axis twice");
                return false;
            }
            axisGiven = true;
            spec.axis = twoTheta ? MeasuredSpec::TwoTheta : MeasuredSpec::Omega;
        } else if (word == QLatin1String("SCAN")) {
            if (scanGiven || !integer(i + 1, spec.scanNumber) || spec.scanNumber < 1) {
                problem = tr("SCAN needs the number of one scan of the file, counted from 1");
                return false;
            }
            scanGiven = true;
            ++i;
        } else if (word == QLatin1String("WINDOW")) {
            bool okFrom = false, okTo = false;
            if (i + 2 < words.size()) {
                spec.from = words[i + 1].toDouble(&okFrom);
                spec.to = words[i + 2].toDouble(&okTo);
            }
            if (spec.windowGiven || !okFrom || !okTo || !std::isfinite(spec.from) ||
                !std::isfinite(spec.to) || !(spec.from < spec.to)) {
                problem = tr("WINDOW needs two angles in degrees, the lower first");
                return false;
            }
            spec.windowGiven = true;
            i += 2;
        } else if (word == QLatin1String("REFLECTION")) {
            int index[3] = {0, 0, 0};
            int count = 0;
            while (count < 3 && integer(i + 1 + count, index[count]))
                ++count;
            if (count == 1) {
                index[2] = index[0];
                index[0] = 0;
            }
            const bool allEven = index[0] % 2 == 0 && index[1] % 2 == 0 && index[2] % 2 == 0;
            const bool allOdd = index[0] % 2 != 0 && index[1] % 2 != 0 && index[2] % 2 != 0;
            if (spec.reflectionGiven || (count != 1 && count != 3) || index[2] <= 0 ||
                (!allEven && !allOdd) || std::abs(index[0]) > 99 || std::abs(index[1]) > 99 ||
                index[2] > 99) {
                problem = tr("REFLECTION needs h k l (l above 0; all even or all odd, as the "
                             "zincblende lattice reflects) or an even l for (00l)");
                return false;
            }
            spec.reflectionGiven = true;
            spec.reflection.h = index[0];
            spec.reflection.k = index[1];
            spec.reflection.l = index[2];
            i += count;
        } else if (word == QLatin1String("GEOMETRY")) {
            const QString side = i + 1 < words.size() ? words[i + 1].toLower() : QString();
            if (geometryGiven ||
                (side != QLatin1String("incidence") && side != QLatin1String("exit"))) {
                problem = tr("GEOMETRY must be incidence or exit");
                return false;
            }
            geometryGiven = true;
            spec.reflection.grazing =
                side == QLatin1String("exit") ? Reflection::Exit : Reflection::Incidence;
            ++i;
        } else {
            problem = tr("does not know \"%1\" after the file name (2theta, omega, SCAN n, "
                         "WINDOW from to, REFLECTION h k l, GEOMETRY incidence|exit)")
                          .arg(words[i]);
            return false;
        }
    }
    if (geometryGiven && (!spec.reflectionGiven || spec.reflection.symmetric())) {
        problem = tr("GEOMETRY belongs to an asymmetric REFLECTION (h or k not 0)");
        return false;
    }
    if (spec.reflectionGiven && !spec.reflection.symmetric() && !geometryGiven) {
        problem = tr("REFLECTION %1 %2 %3 is asymmetric: GEOMETRY incidence or exit must say "
                     "on which side the beam grazes")
                      .arg(spec.reflection.h)
                      .arg(spec.reflection.k)
                      .arg(spec.reflection.l);
        return false;
    }
    return true;
}

QString measuredChoicesText(const MeasuredSpec& spec) {
    QStringList words;
    if (spec.axis != MeasuredSpec::AnyAxis)
        words << QLatin1String(spec.axis == MeasuredSpec::TwoTheta ? "2theta" : "omega");
    if (spec.scanNumber > 0)
        words << QStringLiteral("SCAN %1").arg(spec.scanNumber);
    if (spec.windowGiven)
        words << QStringLiteral("WINDOW %1 %2")
                     .arg(QString::number(spec.from, 'g', 17), QString::number(spec.to, 'g', 17));
    if (spec.reflectionGiven) {
        const Reflection& r = spec.reflection;
        words << QStringLiteral("REFLECTION %1 %2 %3").arg(r.h).arg(r.k).arg(r.l);
        if (!r.symmetric())
            words << QLatin1String(r.grazing == Reflection::Exit ? "GEOMETRY exit"
                                                                 : "GEOMETRY incidence");
    }
    return words.join(QLatin1Char(' '));
}

QString reflectionText(const Reflection& r) {
    const bool wide = std::abs(r.h) > 9 || std::abs(r.k) > 9 || std::abs(r.l) > 9 || r.h < 0 ||
                      r.k < 0 || r.l < 0;
    QString indices = wide ? QStringLiteral("(%1 %2 %3)").arg(r.h).arg(r.k).arg(r.l)
                           : QStringLiteral("(%1%2%3)").arg(r.h).arg(r.k).arg(r.l);
    if (r.symmetric())
        return indices;
    return indices +
           QLatin1String(r.grazing == Reflection::Exit ? " grazing exit" : " grazing incidence");
}

QString modelName(ModelKind kind) {
    switch (kind) {
    case ModelKind::Kinematical:
        return QStringLiteral("kinematical");
    case ModelKind::Dynamical:
        return QStringLiteral("dynamical");
    case ModelKind::Basic:
        break;
    }
    return QStringLiteral("basic");
}

bool modelKindOf(const QString& word, ModelKind& kind) {
    for (const ModelKind k : {ModelKind::Basic, ModelKind::Kinematical, ModelKind::Dynamical}) {
        if (word == modelName(k)) {
            kind = k;
            return true;
        }
    }
    return false;
}

bool isModelName(const QString& word) {
    ModelKind kind = ModelKind::Basic;
    return modelKindOf(word, kind);
}

QString measuredPath(const Structure& config) {
    return measuredPath(config, config.ext.measuredFile);
}

QString measuredPath(const Structure& config, const QString& name) {
    if (name.isEmpty())
        return QString();
    if (QFileInfo(name).isAbsolute())
        return QDir::cleanPath(name);
    return QDir::cleanPath(QFileInfo(config.fileName).absoluteDir().absoluteFilePath(name));
}

ExtensionRead readExtensionStatement(StructureExtensions& ext, const QString& keyword,
                                     LineTokens& tokens, const QString& fileName,
                                     qint64 lineNumber) {
    Statement s(ext, tokens, fileName, lineNumber);
    double value = 0;
    if (keyword == QLatin1String("MEASURED")) {
        readMeasured(ext, s);
    } else if (keyword == QLatin1String("RESOLUTION")) {
        if (s.number(value) && value > 0 && std::isfinite(value))
            ext.resolution = value;
        else
            s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                         "Ignored [%1] line %2: RESOLUTION must be a positive "
                                         "width (FWHM) in degrees."));
    } else if (keyword == QLatin1String("OFFSET")) {
        if (s.number(value) && std::isfinite(value))
            ext.offset = value;
        else
            s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                         "Ignored [%1] line %2: OFFSET must be a number of "
                                         "degrees."));
    } else if (keyword == QLatin1String("SCALE")) {
        if (s.number(value) && value > 0 && std::isfinite(value)) {
            ext.scale = value;
            ext.scaleGiven = true;
        } else {
            s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                         "Ignored [%1] line %2: SCALE must be a positive number."));
        }
    } else if (keyword == QLatin1String("BACKGROUND")) {
        if (s.number(value) && std::isfinite(value)) {
            ext.background = value;
            ext.backgroundGiven = true;
        } else {
            s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                         "Ignored [%1] line %2: BACKGROUND must be a number of "
                                         "counts per second."));
        }
    } else if (keyword == QLatin1String("MODEL")) {
        readModel(ext, s);
    } else if (keyword == QLatin1String("REFLECTION")) {
        readReflection(ext, s);
    } else if (keyword == QLatin1String("GEOMETRY")) {
        readGeometry(ext, s);
    } else if (keyword == QLatin1String("RELAXATION")) {
        readRelaxation(ext, s);
    } else if (keyword == QLatin1String("FIT")) {
        readFit(ext, s);
    } else if (keyword == QLatin1String("FITOPTIONS")) {
        readFitOptions(ext, s);
    } else {
        return ExtensionRead::NotExtension;
    }
    return s.complained() ? ExtensionRead::Ignored : ExtensionRead::Taken;
}

void noteWrittenNeighbours(StructureExtensions& ext, int index, const WrittenNeighbours& w) {
    if (index < StructureExtensions::maxFitLayers)
        ext.written.append(w);
    else if (index == StructureExtensions::maxFitLayers)
        ext.written = QVector<WrittenNeighbours>();
}

void finishExtensions(StructureExtensions& ext, const QString& fileName, int layerCount) {
    if (layerCount >= 0) {
        for (int i = ext.relaxations.size() - 1; i >= 0; --i) {
            const LayerRelaxation& r = ext.relaxations.at(i);
            if (r.layer <= layerCount)
                continue;
            if (ext.problems.size() < kMaxListedProblems)
                ext.problems << tr("Ignored [%1] line %2: RELAXATION names layer %3, but the "
                                   "last LAYER line is layer %4.")
                                    .arg(fileName, QString::number(r.lineNumber),
                                         QString::number(r.layer), QString::number(layerCount));
            ext.relaxations.remove(i);
        }
    }
    for (MeasuredSpec& spec : ext.measured)
        if (!spec.reflectionGiven)
            spec.reflection = ext.reflection;
    for (int i = 1; i < ext.measured.size(); ++i) {
        for (int j = 0; j < i; ++j) {
            if (ext.measured[i].reflection != ext.measured[j].reflection)
                continue;
            if (ext.problems.size() < kMaxListedProblems)
                ext.problems << tr("Ignored [%1] line %2: MEASURED names a second scan at %3 "
                                   "(line %4 names one); one scan per reflection.")
                                    .arg(fileName, QString::number(ext.measured[i].lineNumber),
                                         reflectionText(ext.measured[i].reflection),
                                         QString::number(ext.measured[j].lineNumber));
            ext.measured.remove(i--);
            break;
        }
    }
    for (const FitParameter& p : qAsConst(ext.fits)) {
        if (p.target == FitParameter::InFraction || p.target == FitParameter::AsFraction)
            return;
    }
    ext.written = QVector<WrittenNeighbours>();
}

double layerRelaxation(const StructureExtensions& ext, int index) {
    for (const LayerRelaxation& r : ext.relaxations) {
        if (r.layer == index + 1)
            return r.fraction;
    }
    return 0.0;
}

void setLayerRelaxation(StructureExtensions& ext, int index, double fraction) {
    for (LayerRelaxation& r : ext.relaxations) {
        if (r.layer == index + 1) {
            r.fraction = fraction;
            return;
        }
    }
    ext.relaxations.append({index + 1, fraction, 0});
}

bool anyRelaxation(const StructureExtensions& ext) {
    for (const LayerRelaxation& r : ext.relaxations) {
        if (r.fraction != 0)
            return true;
    }
    return false;
}
