#include "structure/fittargets.h"

#include "structure/config.h"

#include <cmath>
#include <cstdint>
#include <limits>

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

const std::vector<FitTarget> kTargets = {
    {FitParameter::Thickness, "N", true, false, true, "ML", 0, false, kNoLimit,
     "a thickness cannot be negative",
     [](const Structure& s, int i, const FitParameter&) {
         return double(s.layers.at(i).monolayers);
     },
     [](Structure& s, int i, double v) { s.layers[i].monolayers = monolayersOf(v); }},
    {FitParameter::InFraction, "X", true, true, false, "", 0, false, 1,
     "a fraction must stay within 0 to 1",
     [](const Structure& s, int i, const FitParameter&) { return s.layers.at(i).inFraction; },
     [](Structure& s, int i, double v) { s.layers[i].inFraction = v; }},
    {FitParameter::AsFraction, "Y", true, true, false, "", 0, false, 1,
     "a fraction must stay within 0 to 1",
     [](const Structure& s, int i, const FitParameter&) { return s.layers.at(i).asFraction; },
     [](Structure& s, int i, double v) { s.layers[i].asFraction = v; }},
    {FitParameter::Relaxation, "R", true, false, false, "", 0, false, 1,
     "a relaxation must stay within 0 to 1",
     [](const Structure& s, int i, const FitParameter&) { return layerRelaxation(s.ext, i); },
     [](Structure& s, int i, double v) { setLayerRelaxation(s.ext, i, v); }},
    {FitParameter::Resolution, "RESOLUTION", false, false, false, "deg", 0, true, kNoLimit,
     "the resolution must stay above 0",
     [](const Structure& s, int, const FitParameter&) { return s.ext.resolution; },
     [](Structure& s, int, double v) { s.ext.resolution = v; }},
    {FitParameter::Offset, "OFFSET", false, false, false, "deg", -kNoLimit, false, kNoLimit, "",
     [](const Structure& s, int, const FitParameter&) { return s.ext.offset; },
     [](Structure& s, int, double v) { s.ext.offset = v; }},
    {FitParameter::Scale, "SCALE", false, false, false, "", 0, true, kNoLimit,
     "the scale must stay above 0",
     [](const Structure& s, int, const FitParameter& p) {
         return s.ext.scaleGiven ? s.ext.scale : 0.5 * (p.min + p.max);
     },
     [](Structure& s, int, double v) {
         s.ext.scale = v;
         s.ext.scaleGiven = true;
     }},
    {FitParameter::Background, "BACKGROUND", false, false, false, "cps", -kNoLimit, false, kNoLimit,
     "",
     [](const Structure& s, int, const FitParameter& p) {
         return s.ext.backgroundGiven ? s.ext.background : 0.5 * (p.min + p.max);
     },
     [](Structure& s, int, double v) {
         s.ext.background = v;
         s.ext.backgroundGiven = true;
     }},
};

} // namespace

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
