#include "simulation/expansion.h"

#include "simulation/materials.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"
#include "structure/constants.h"

#include <cmath>
#include <limits>

namespace {

// Value of a grading zone of width w at distance u from the layer's outer edge: the target at
// the edge, the nominal value at the zone's inner edge, shaped by the zone's code. Anything but
// the three shapes leaves the nominal value.
double zoneValue(GradingShape shape, double nominal, double target, double u, double w) {
    switch (shape) {
    case Linear:
        return u * (nominal - target) / w + target;
    case Parabolic:
        return nominal + ((target - nominal) / (w * w)) * (u - w) * (u - w);
    case Sine:
        return std::sin(u * kHalfPi / w) * (nominal - target) + target;
    default:
        return nominal;
    }
}

} // namespace

double gradedValue(double nominal, double endTarget, double startTarget, const Layer& record,
                   int j) {
    // d counts monolayers from the end boundary: the last monolayer has d = 1.
    const double d = double(record.monolayers) - double(j);
    const double t1 = record.endWidth;
    const double t2 = record.startWidth;
    double value = nominal;

    // A zone of width 0 never applies. Without the explicit test, the closing entry of a
    // record with no monolayers (d = 0) would divide 0 by 0. The start zone wins where both
    // apply.
    if (t1 != 0.0 && t1 >= d)
        value = zoneValue(record.endShape, nominal, endTarget, d, t1);
    if (t2 > j)
        value = zoneValue(record.startShape, nominal, startTarget, double(j), t2);
    return value;
}

void expandLayers(const Structure& config, ResultArrays& results,
                  const MonolayerHeightRule& height) {
    if (height) {
        expandLayers(config, results, [&height](const Layer&, double x, double y, double aS) {
            return height(x, y, aS);
        });
    } else {
        expandLayers(config, results, LayerHeightRule());
    }
}

void expandLayers(const Structure& config, ResultArrays& results, const LayerHeightRule& height) {
    const double aS = latticeConstant(config.substrate.system, config.substrate.inFraction,
                                      config.substrate.asFraction);
    results.depth.clear();
    results.inProfile.clear();
    results.asProfile.clear();

    qint64 total = 0;
    for (const Layer& l : config.layers)
        total += qMax(l.monolayers, 0);
    const int size = int(qMin<qint64>(total + 1, std::numeric_limits<int>::max()));
    results.depth.reserve(size);
    results.inProfile.reserve(size);
    results.asProfile.reserve(size);

    // Depth accumulates by repeated addition; its rounding is part of the profile.
    double z = 0.0;
    for (const Layer& l : config.layers) {
        for (int j = 0; j < l.monolayers; ++j) {
            results.depth.append(z);
            const double x = gradedValue(l.inFraction, l.endInFraction, l.startInFraction, l, j);
            const double y = gradedValue(l.asFraction, l.endAsFraction, l.startAsFraction, l, j);
            results.inProfile.append(x);
            results.asProfile.append(y);
            z = z + (height ? height(l, x, y, aS)
                            : monolayerHeight(latticeConstant(l.system, x, y), aS));
        }
    }

    // The closing entry: the period thickness, and the composition of monolayer 0 of the
    // first layer, with which the next period starts.
    results.depth.append(z);
    if (config.layers.isEmpty()) {
        results.inProfile.append(0.0);
        results.asProfile.append(0.0);
        return;
    }
    const Layer& first = config.layers.first();
    results.inProfile.append(
        gradedValue(first.inFraction, first.endInFraction, first.startInFraction, first, 0));
    results.asProfile.append(
        gradedValue(first.asFraction, first.endAsFraction, first.startAsFraction, first, 0));
}
