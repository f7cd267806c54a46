#include "structure/extensions.h"

#include "structure/config.h"
#include "structure/fittargets.h"
#include "structure/linetokens.h"

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

void readReflection(StructureExtensions& ext, Statement& s) {
    int l = 0;
    if (!s.integer(l) || l <= 0 || l % 2 != 0) {
        s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                     "Ignored [%1] line %2: REFLECTION must be a positive even "
                                     "integer, such as 4 for the (004) reflection."));
        return;
    }
    ext.reflection.l = l;
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
        const QString which = s.next().toUpper();
        found = findFitTarget(which, true);
        if (!found) {
            s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                         "Ignored [%1] line %2: FIT LAYER %3 needs N (thickness), "
                                         "X (In fraction) or Y (As fraction)."),
                       QString::number(p.layer));
            return;
        }
        p.text = QStringLiteral("LAYER %1 %2").arg(p.layer).arg(which);
    } else {
        found = findFitTarget(target, false);
        if (!found) {
            s.complain(QT_TRANSLATE_NOOP("StructureExtensions",
                                         "Ignored [%1] line %2: FIT needs LAYER i N, LAYER i X, "
                                         "LAYER i Y, OFFSET, RESOLUTION, SCALE or BACKGROUND."));
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
        if (old.target == p.target && old.layer == p.layer) {
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

} // namespace

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
    } else if (keyword == QLatin1String("FIT")) {
        readFit(ext, s);
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

void finishExtensions(StructureExtensions& ext, const QString& fileName) {
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
    finishExtensions(ext);
}

void finishExtensions(StructureExtensions& ext) {
    for (const FitParameter& p : qAsConst(ext.fits)) {
        if (p.target == FitParameter::InFraction || p.target == FitParameter::AsFraction)
            return;
    }
    ext.written = QVector<WrittenNeighbours>();
}
