#include "structure/fitparameters.h"

#include "structure/config.h"
#include "structure/fittargets.h"

#include <QCoreApplication>
#include <QVarLengthArray>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("FitParameters", text);
}

QString number(double value) {
    return QString::number(value, 'g', 6);
}

bool isLayerTarget(FitParameter::Target target) {
    return fitTarget(target).layer;
}

// The layers next to layer j (0-based) in the stack, -1 where the substrate, the surface or
// the layer itself is there: a period repeated more than once closes on itself.
int layerBefore(int j, int count, bool cyclic) {
    const int before = j > 0 ? j - 1 : (cyclic ? count - 1 : -1);
    return before == j ? -1 : before;
}

int layerAfter(int j, int count, bool cyclic) {
    const int after = j + 1 < count ? j + 1 : (cyclic ? 0 : -1);
    return after == j ? -1 : after;
}

// The start value of one parameter, NaN for a layer that is not there.
double startValue(const Structure& config, const FitParameter& p) {
    if (isLayerTarget(p.target) && (p.layer < 1 || p.layer > config.layers.size()))
        return std::numeric_limits<double>::quiet_NaN();
    return fitTarget(p.target).read(config, p.layer - 1, p);
}

// What is wrong with the range of one FIT line, or empty.
QString rangeProblem(const FitParameter& p) {
    if (!std::isfinite(p.min) || !std::isfinite(p.max))
        return tr("a bound is not a finite number");
    if (p.min > p.max)
        return tr("the lower bound %1 lies above the upper bound %2")
            .arg(number(p.min), number(p.max));
    const FitTarget& t = fitTarget(p.target);
    if (p.min < t.lowest || (t.lowestExcluded && p.min <= t.lowest) || p.max > t.highest)
        return tr(t.rangeRule);
    // The search draws its points from the range: its width must be a number too.
    if (!std::isfinite(p.max - p.min))
        return tr("the range from %1 to %2 is too wide to search")
            .arg(number(p.min), number(p.max));
    constexpr std::int32_t kLargestWhole = std::numeric_limits<std::int32_t>::max();
    if (t.integer && p.max > double(kLargestWhole))
        return tr("the upper bound %1 lies above %2, the largest whole number a layer holds")
            .arg(number(p.max), QString::number(kLargestWhole));
    return QString();
}

// Recomputes the stored boundary compositions of a layer from its own composition and the
// written neighbour compositions, with the reader's arithmetic.
void averageBoundaries(Layer& l, const WrittenNeighbours& w) {
    l.endInFraction = (w.endIn + l.inFraction) * 0.5;
    l.endAsFraction = (w.endAs + l.asFraction) * 0.5;
    l.startInFraction = (w.startIn + l.inFraction) * 0.5;
    l.startAsFraction = (w.startAs + l.asFraction) * 0.5;
    if (l.system.diamond()) { // one fraction on both sublattices
        l.endAsFraction = l.endInFraction;
        l.startAsFraction = l.startInFraction;
    }
}

} // namespace

QString fitProblem(const Structure& config) {
    return fitProblems(config).value(0);
}

QStringList fitProblems(const Structure& config) {
    if (!config.valid)
        return {tr("No fit: [%1] holds no valid structure.").arg(config.fileName)};
    const int count = config.layers.size();
    if (!config.ext.fits.isEmpty() && count > StructureExtensions::maxFitLayers)
        return {tr("No fit: [%1] has %2 LAYER lines; a fit works on at most %3.")
                    .arg(config.fileName, QString::number(count),
                         QString::number(StructureExtensions::maxFitLayers))};
    QStringList problems;
    for (const FitParameter& p : config.ext.fits) {
        const QString line = QString::number(p.lineNumber);
        if (isLayerTarget(p.target) && (p.layer < 1 || p.layer > count)) {
            problems << tr("No fit: [%1] line %2: FIT %3 names layer %4, but the last LAYER "
                           "line is layer %5.")
                            .arg(config.fileName, line, p.text, QString::number(p.layer),
                                 QString::number(count));
            continue;
        }
        QString element = isLayerTarget(p.target)
                              ? elementTargetProblem(config.layers.at(p.layer - 1), p)
                              : QString();
        for (const FitParameter& q : config.ext.fits) {
            if (&q == &p)
                break;
            if (element.isEmpty() && fitTarget(p.target).composition && q.target == p.target &&
                q.layer == p.layer)
                element = tr("it moves the fraction FIT %1 moves").arg(q.text);
        }
        if (!element.isEmpty()) {
            problems << tr("No fit: [%1] line %2: FIT %3: %4.")
                            .arg(config.fileName, line, p.text, element);
            continue;
        }
        const QString range = rangeProblem(p);
        if (!range.isEmpty()) {
            problems << tr("No fit: [%1] line %2: FIT %3: %4.")
                            .arg(config.fileName, line, p.text, range);
            continue;
        }
        const double start = startValue(config, p);
        if (!(start >= p.min && start <= p.max))
            problems << tr("No fit: [%1] line %2: FIT %3: the start value %4 lies outside %5 "
                           "to %6.")
                            .arg(config.fileName, line, p.text, number(start), number(p.min),
                                 number(p.max));
    }
    return problems;
}

std::vector<double> fitStartValues(const Structure& config) {
    std::vector<double> values;
    values.reserve(size_t(config.ext.fits.size()));
    for (const FitParameter& p : config.ext.fits)
        values.push_back(startValue(config, p));
    return values;
}

void applyFitValues(const Structure& base, const std::vector<double>& values, Structure& out) {
    out = base;
    const QVector<FitParameter>& fits = base.ext.fits;
    if (values.size() != size_t(fits.size())) {
        out.valid = false;
        return;
    }
    const int count = base.layers.size();
    const bool cyclic = base.repeat > 1;
    const bool haveWritten = base.ext.written.size() == count;
    Layer* layers = nullptr;
    WrittenNeighbours* written = nullptr;
    QVarLengthArray<int, 32> touched; // layers whose boundary averages need recomputing

    for (size_t k = 0; k < values.size(); ++k) {
        const FitParameter& p = fits.at(int(k));
        if (!std::isfinite(values[k]) ||
            (isLayerTarget(p.target) && (p.layer < 1 || p.layer > count))) {
            out.valid = false;
            continue;
        }
        // The stored X or Y of a fraction counted from the other end ("FIT LAYER 2 Ga" of
        // AlGaAs).
        const double v = isLayerTarget(p.target) && countsFromOtherEnd(base.layers[p.layer - 1], p)
                             ? 1 - values[k]
                             : values[k];
        if (isLayerTarget(p.target) && !layers)
            layers = out.layers.data(); // the copy's own list from here on
        const FitTarget& target = fitTarget(p.target);
        if (!target.composition) {
            target.apply(out, p.layer - 1, v);
            continue;
        }
        if (!haveWritten) {
            out.valid = false; // the written neighbours were not kept: not from a load
            continue;
        }
        if (!written)
            written = out.ext.written.data();
        const int i = p.layer - 1;
        const bool in = p.target == FitParameter::InFraction;
        const double old = in ? base.layers[i].inFraction : base.layers[i].asFraction;
        target.apply(out, i, v);
        touched.append(i);
        // The base's written values decide, so that neither the order of the FIT lines nor a
        // neighbour's own fit matters.
        const auto follow = [&](int j, WrittenNeighbours::Present bit,
                                double WrittenNeighbours::*field) {
            if (j < 0)
                return;
            const WrittenNeighbours& was = base.ext.written.at(j);
            // A neighbour of another system writes the fraction of other elements.
            if ((was.present & bit) && was.*field == old &&
                base.layers[j].system == base.layers[i].system) {
                written[j].*field = v;
                touched.append(j);
            }
        };
        const int before = layerBefore(i, count, cyclic);
        const int after = layerAfter(i, count, cyclic);
        if (in) {
            follow(before, WrittenNeighbours::EndIn, &WrittenNeighbours::endIn);
            follow(after, WrittenNeighbours::StartIn, &WrittenNeighbours::startIn);
            if (base.layers[i].system.diamond()) { // the one fraction of both sublattices
                follow(before, WrittenNeighbours::EndAs, &WrittenNeighbours::endAs);
                follow(after, WrittenNeighbours::StartAs, &WrittenNeighbours::startAs);
            }
        } else {
            follow(before, WrittenNeighbours::EndAs, &WrittenNeighbours::endAs);
            follow(after, WrittenNeighbours::StartAs, &WrittenNeighbours::startAs);
        }
    }
    for (const int j : touched)
        averageBoundaries(layers[j], written[j]);
}
