#include "simulation/physicsstack.h"

#include "simulation/elastic.h"
#include "simulation/expansion.h"
#include "simulation/materials.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"

#include <cmath>
#include <limits>
#include <vector>

namespace {

// Compositions of monolayer j of a record, as the expansion computes them.
void gradedComposition(const Layer& l, int j, double& x, double& y) {
    x = gradedValue(l.inFraction, l.endInFraction, l.startInFraction, l, j);
    y = gradedValue(l.asFraction, l.endAsFraction, l.startAsFraction, l, j);
}

// "In 0.1 As 1" in the basic system, as always; the formula in any other.
QString compositionText(const MaterialSystem& system, double x, double y) {
    if (isBasicSystem(system))
        return QStringLiteral("In %1 As %2").arg(x).arg(y);
    return formulaText(system, x, y);
}

} // namespace

double strainedMonolayerHeight(double x, double y, double aSubstrate,
                               const PhysicsOptions& options) {
    if (options.elasticStrain)
        return elasticMonolayerHeight(x, y, aSubstrate);
    return monolayerHeight(latticeConstant(x, y), aSubstrate);
}

double strainedMonolayerHeight(const MaterialSystem& system, double x, double y, double aSubstrate,
                               const PhysicsOptions& options) {
    if (options.elasticStrain)
        return elasticMonolayerHeight(system, x, y, aSubstrate);
    return monolayerHeight(latticeConstant(system, x, y), aSubstrate);
}

double relaxedInPlane(double aBelow, double aBulk, double r) {
    return aBelow + r * (aBulk - aBelow);
}

PhysicsStack buildPhysicsStack(const Structure& config, const PhysicsOptions& options) {
    PhysicsStack stack;
    stack.wavelength = config.wavelength;
    stack.xs = config.substrate.inFraction;
    stack.ys = config.substrate.asFraction;
    stack.substrateSystem = config.substrate.system;
    stack.aSubstrate = latticeConstant(stack.substrateSystem, stack.xs, stack.ys);
    stack.withSubstrate = config.withSubstrate;
    stack.repeat = config.repeat;
    stack.options = options;

    if (!(config.wavelength > 0) || !std::isfinite(config.wavelength)) {
        stack.error =
            QStringLiteral("the wavelength %1 Å is not a positive length").arg(config.wavelength);
        return stack;
    }
    if (!(stack.aSubstrate > 0) || !std::isfinite(stack.aSubstrate)) {
        stack.error = QStringLiteral("the substrate's lattice constant %1 Å is not a "
                                     "positive length")
                          .arg(stack.aSubstrate);
        return stack;
    }
    unsigned elements = systemElements(stack.substrateSystem);
    for (const Layer& l : config.layers)
        elements |= systemElements(l.system);
    if (options.anomalous &&
        !elementDispersion(config.wavelength, stack.dispersion, &stack.error, elements))
        return stack;

    const bool relaxed = anyRelaxation(config.ext);
    double aBelow = stack.aSubstrate; // the in-plane lattice the next layer grows on
    for (int i = 0; i < config.layers.size(); ++i) {
        const Layer& l = config.layers.at(i);
        const double r = relaxed ? layerRelaxation(config.ext, i) : 0.0;
        const double aRef = aBelow;
        for (int j = 0; j < l.monolayers; ++j) {
            double x = 0.0;
            double y = 0.0;
            gradedComposition(l, j, x, y);
            const double aPar =
                r != 0 ? relaxedInPlane(aRef, latticeConstant(l.system, x, y), r) : aRef;
            aBelow = aPar;
            if (!stack.period.isEmpty()) {
                Slab& last = stack.period.last();
                if (last.x == x && last.y == y && last.aParallel == aPar &&
                    last.system == l.system && last.monolayers < std::numeric_limits<int>::max()) {
                    ++last.monolayers;
                    continue;
                }
            }
            const double h = strainedMonolayerHeight(l.system, x, y, aPar, options);
            // A composition far outside 0..1 can extrapolate C11 or the lattice constant
            // through zero; such a layer has no meaning and would poison every sum.
            if (!(h > 0) || !std::isfinite(h)) {
                stack.error = QStringLiteral("%1 gives a monolayer height of %2 Å")
                                  .arg(compositionText(l.system, x, y))
                                  .arg(h);
                stack.period.clear();
                return stack;
            }
            if (!(aPar > 0) || !std::isfinite(aPar)) {
                stack.error = QStringLiteral("%1 gives an in-plane lattice constant of %2 Å")
                                  .arg(compositionText(l.system, x, y))
                                  .arg(aPar);
                stack.period.clear();
                return stack;
            }
            stack.period.append({l.system, x, y, h, 1, aPar});
        }
    }
    return stack;
}

void expandLayersElastic(const Structure& config, ResultArrays& profile,
                         const PhysicsOptions& options) {
    if (!anyRelaxation(config.ext)) {
        expandLayers(config, profile, [&options](const Layer& l, double x, double y, double aS) {
            return strainedMonolayerHeight(l.system, x, y, aS, options);
        });
        return;
    }
    // The expansion asks for the monolayers in stack order; each takes the in-plane lattice
    // of its layer's relaxation (buildPhysicsStack).
    std::vector<double> inPlane;
    double aBelow = latticeConstant(config.substrate.system, config.substrate.inFraction,
                                    config.substrate.asFraction);
    for (int i = 0; i < config.layers.size(); ++i) {
        const Layer& l = config.layers.at(i);
        const double r = layerRelaxation(config.ext, i);
        const double aRef = aBelow;
        for (int j = 0; j < l.monolayers; ++j) {
            double x = 0.0;
            double y = 0.0;
            gradedComposition(l, j, x, y);
            aBelow = r != 0 ? relaxedInPlane(aRef, latticeConstant(l.system, x, y), r) : aRef;
            inPlane.push_back(aBelow);
        }
    }
    std::size_t next = 0;
    expandLayers(config, profile, [&](const Layer& l, double x, double y, double aS) {
        const double aPar = next < inPlane.size() ? inPlane[next] : aS;
        ++next;
        return strainedMonolayerHeight(l.system, x, y, aPar, options);
    });
}

double stackThickness(const PhysicsStack& stack) {
    if (stack.repeat < 1)
        return 0.0;
    double period = 0.0;
    for (const Slab& s : stack.period)
        period += s.monolayers * s.monolayerHeight;
    return period * stack.repeat;
}
