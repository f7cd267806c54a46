#include "structure/fittargets.h"

#include "structure/config.h"
#include "structure/material.h"
#include "structure/structuretext.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

// The LAYER argument that holds the formula of a line that names its material by formula, and
// (3 and 6 further) the formulas of its graded neighbours.
constexpr int kFormulaPosition = 2;

namespace {

constexpr double kNoLimit = std::numeric_limits<double>::infinity();

// Rounds a fitted thickness without ever converting NaN or a value beyond the integer range.
std::int32_t monolayersOf(double value) {
    const double rounded = std::round(value);
    if (!(rounded > 0))
        return 0;
    if (rounded >= double(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return std::int32_t(rounded);
}

// The statements of the instrument values, for the rows' writers.
constexpr char kResolution[] = "RESOLUTION";
constexpr char kOffset[] = "OFFSET";
constexpr char kScale[] = "SCALE";
constexpr char kBackground[] = "BACKGROUND";

template <int position> QString layerToken(const StructureText& t, int layer) {
    return t.layerArgument(layer, position);
}

template <int position> bool writeLayer(StructureText& t, int layer, const QString& token) {
    return t.setLayerArgument(layer, position, token);
}

QString relaxationToken(const StructureText& t, int layer) {
    return t.relaxation(layer + 1);
}

bool writeRelaxation(StructureText& t, int layer, const QString& token) {
    return t.setRelaxation(layer + 1, token);
}

template <const char* word> QString statementToken(const StructureText& t, int) {
    return t.statementArgument(QLatin1String(word));
}

template <const char* word> bool writeStatement(StructureText& t, int, const QString& token) {
    return t.setStatement(QLatin1String(word), token);
}

// Statements of their own are appended to a text that lacks them in the order of this table:
// the instrument values first, then the relaxations.
const std::vector<FitTarget> kTargets = {
    {FitParameter::Thickness, "N", true, false, true, "ML", 0, false, kNoLimit,
     "a thickness cannot be negative",
     [](const Structure& s, int i, const FitParameter&) {
         return double(s.layers.at(i).monolayers);
     },
     [](Structure& s, int i, double v) { s.layers[i].monolayers = monolayersOf(v); }, "thickness",
     StructureText::Monolayers, layerToken<StructureText::Monolayers>,
     writeLayer<StructureText::Monolayers>},
    {FitParameter::InFraction, "X", true, true, false, "", 0, false, 1,
     "a fraction must stay within 0 to 1",
     [](const Structure& s, int i, const FitParameter& p) {
         return fitFraction(s.layers.at(i), p, s.layers.at(i).inFraction);
     },
     [](Structure& s, int i, double v) {
         s.layers[i].inFraction = v;
         if (s.layers[i].system.diamond()) // one fraction on both sublattices
             s.layers[i].asFraction = v;
     },
     "In fraction", StructureText::InFraction, layerToken<StructureText::InFraction>,
     writeLayer<StructureText::InFraction>},
    {FitParameter::AsFraction, "Y", true, true, false, "", 0, false, 1,
     "a fraction must stay within 0 to 1",
     [](const Structure& s, int i, const FitParameter& p) {
         return fitFraction(s.layers.at(i), p, s.layers.at(i).asFraction);
     },
     [](Structure& s, int i, double v) { s.layers[i].asFraction = v; }, "As fraction",
     StructureText::AsFraction, layerToken<StructureText::AsFraction>,
     writeLayer<StructureText::AsFraction>},
    {FitParameter::Resolution, kResolution, false, false, false, "deg", 0, true, kNoLimit,
     "the resolution must stay above 0",
     [](const Structure& s, int, const FitParameter&) { return s.ext.resolution; },
     [](Structure& s, int, double v) { s.ext.resolution = v; }, "resolution", 0,
     statementToken<kResolution>, writeStatement<kResolution>},
    {FitParameter::Offset, kOffset, false, false, false, "deg", -kNoLimit, false, kNoLimit, "",
     [](const Structure& s, int, const FitParameter&) { return s.ext.offset; },
     [](Structure& s, int, double v) { s.ext.offset = v; }, "offset", 0, statementToken<kOffset>,
     writeStatement<kOffset>},
    {FitParameter::Scale, kScale, false, false, false, "", 0, true, kNoLimit,
     "the scale must stay above 0",
     [](const Structure& s, int, const FitParameter& p) {
         return s.ext.scaleGiven ? s.ext.scale : 0.5 * (p.min + p.max);
     },
     [](Structure& s, int, double v) {
         s.ext.scale = v;
         s.ext.scaleGiven = true;
     },
     "scale", 0, statementToken<kScale>, writeStatement<kScale>},
    {FitParameter::Background, kBackground, false, false, false, "cps", -kNoLimit, false, kNoLimit,
     "",
     [](const Structure& s, int, const FitParameter& p) {
         return s.ext.backgroundGiven ? s.ext.background : 0.5 * (p.min + p.max);
     },
     [](Structure& s, int, double v) {
         s.ext.background = v;
         s.ext.backgroundGiven = true;
     },
     "background", 0, statementToken<kBackground>, writeStatement<kBackground>},
    {FitParameter::Relaxation, "R", true, false, false, "", 0, false, 1,
     "a relaxation must stay within 0 to 1",
     [](const Structure& s, int i, const FitParameter&) { return layerRelaxation(s.ext, i); },
     [](Structure& s, int i, double v) { setLayerRelaxation(s.ext, i, v); }, "relaxation", 0,
     relaxationToken, writeRelaxation},
};

} // namespace

bool countsFromOtherEnd(const Layer& layer, const FitParameter& p) {
    if (p.element < 0)
        return false;
    const MaterialSystem& m = layer.system;
    const Element e = Element(p.element);
    return p.target == FitParameter::AsFraction ? (e == m.b0 && m.b0 != m.b1)
                                                : (e == m.a0 && m.a0 != m.a1);
}

double fitFraction(const Layer& layer, const FitParameter& p, double stored) {
    return countsFromOtherEnd(layer, p) ? 1 - stored : stored;
}

QString elementTargetProblem(const Layer& layer, const FitParameter& p) {
    const MaterialSystem& m = layer.system;
    if (p.element < 0)
        return m.diamond() && p.target == FitParameter::AsFraction
                   ? QStringLiteral("a diamond alloy has one fraction, X")
                   : QString();
    const Element e = Element(p.element);
    const bool five = p.target == FitParameter::AsFraction;
    const Element e0 = five ? m.b0 : m.a0;
    const Element e1 = five ? m.b1 : m.a1;
    if (e0 == e1 || (e != e0 && e != e1))
        return QStringLiteral("layer %1 is %2, which has no %3 fraction to fit")
            .arg(p.layer)
            .arg(formulaText(m, layer.inFraction, layer.asFraction), elementSymbol(e));
    return QString();
}

const std::vector<FitTarget>& fitTargets() {
    return kTargets;
}

const FitTarget& fitTarget(FitParameter::Target target) {
    for (const FitTarget& t : kTargets) {
        if (t.target == target)
            return t;
    }
    return kTargets.front();
}

const FitTarget* findFitTarget(const QString& word, bool layer) {
    for (const FitTarget& t : kTargets) {
        if (t.layer == layer && word == QLatin1String(t.word))
            return &t;
    }
    return nullptr;
}

QString layerTargetList() {
    QStringList parts;
    for (const FitTarget& t : kTargets) {
        if (t.layer)
            parts << QStringLiteral("%1 (%2)").arg(QLatin1String(t.word), QLatin1String(t.name));
    }
    const QString last = parts.takeLast();
    return parts.join(QLatin1String(", ")) + QLatin1String(" or ") + last;
}

QString fitTargetList() {
    QStringList parts;
    for (const bool layer : {true, false}) {
        for (const FitTarget& t : kTargets) {
            if (t.layer == layer)
                parts << (layer ? QStringLiteral("LAYER i ") : QString()) + QLatin1String(t.word);
        }
    }
    const QString last = parts.takeLast();
    return parts.join(QLatin1String(", ")) + QLatin1String(" or ") + last;
}

void defaultFitRange(const FitTarget& t, double v, double& min, double& max) {
    constexpr double kRelativeReach = 0.2; // of a whole number
    constexpr double kReach = 0.05;        // of anything else
    if (t.integer) {
        min = std::max(1.0, std::floor(v * (1 - kRelativeReach)));
        max = std::max(min + 1, std::ceil(v * (1 + kRelativeReach)));
    } else {
        const auto rounded = [](double x) { return std::round(x / 1e-4) * 1e-4; };
        min = rounded(v - kReach);
        max = rounded(v + kReach);
    }
    min = std::max(min, t.lowest);
    max = std::min(max, t.highest);
}

bool writeFitValues(StructureText& text, const Structure& before, const Structure& after,
                    const std::function<QString(const FitTarget&, double)>& number, bool restate) {
    for (const FitTarget& t : kTargets) {
        for (const FitParameter& p : before.ext.fits) {
            if (p.target != t.target)
                continue;
            const int layer = t.layer ? p.layer - 1 : 0;
            if (t.layer &&
                (layer < 0 || layer >= before.layers.size() || layer >= after.layers.size()))
                return false;
            const double now = t.read(after, layer, p);
            const bool moved = t.read(before, layer, p) != now;
            if (moved && t.composition && after.layers.at(layer).formula) {
                // A line that names its material by formula gets the fitted formula.
                const Layer& l = after.layers.at(layer);
                if (!text.setLayerArgument(layer, kFormulaPosition,
                                           formulaText(l.system, l.inFraction, l.asFraction)))
                    return false;
                continue;
            }
            if ((moved || (restate && t.position == 0)) && !t.write(text, layer, number(t, now)))
                return false;
        }
    }
    // The neighbour compositions that followed a moved composition.
    const int count = before.layers.size();
    if (before.ext.written.size() != count || after.ext.written.size() != count)
        return true;
    const FitTarget& fraction = fitTarget(FitParameter::InFraction);
    for (int j = 0; j < count; ++j) {
        const WrittenNeighbours& a = before.ext.written.at(j);
        const WrittenNeighbours& b = after.ext.written.at(j);
        if (after.layers.at(j).formula) { // "LAYER n FORMULA es ew EF ss sw SF"
            const MaterialSystem& m = after.layers.at(j).system;
            if ((a.endIn != b.endIn || a.endAs != b.endAs) &&
                !text.setLayerArgument(j, kFormulaPosition + 3, formulaText(m, b.endIn, b.endAs)))
                return false;
            if ((a.startIn != b.startIn || a.startAs != b.startAs) &&
                !text.setLayerArgument(j, kFormulaPosition + 6,
                                       formulaText(m, b.startIn, b.startAs)))
                return false;
            continue;
        }
        const std::pair<int, double WrittenNeighbours::*> fields[] = {
            {StructureText::EndIn, &WrittenNeighbours::endIn},
            {StructureText::EndAs, &WrittenNeighbours::endAs},
            {StructureText::StartIn, &WrittenNeighbours::startIn},
            {StructureText::StartAs, &WrittenNeighbours::startAs}};
        for (const auto& f : fields) {
            if (a.*f.second != b.*f.second &&
                !text.setLayerArgument(j, f.first, number(fraction, b.*f.second)))
                return false;
        }
    }
    return true;
}
