#pragma once

#include "structure/layer.h"

#include <functional>

struct Structure;
struct ResultArrays;

// Composition of monolayer j (0 .. monolayers - 1) of `record` for one of the two fractions:
// x uses (inFraction, endInFraction, startInFraction), y the As counterparts. The start zone
// wins where both zones cover a monolayer.
double gradedValue(double nominal, double endTarget, double startTarget, const Layer& record,
                   int j);

// Fills depth, inProfile and asProfile of `results` with the depth profile of one period:
// one entry per monolayer plus a closing entry (the period thickness and the composition the
// next period starts with). The curve vectors are not touched.
// Each monolayer's height comes from `height`(x, y, aSubstrate); without it, the basic rule
// monolayerHeight(latticeConstant(x, y), aSubstrate).
using MonolayerHeightRule = std::function<double(double x, double y, double aSubstrate)>;
void expandLayers(const Structure& config, ResultArrays& results,
                  const MonolayerHeightRule& height = {});
// The same with a rule that also sees the monolayer's layer (its material system); without
// one, monolayerHeight(latticeConstant(system, x, y), aSubstrate).
using LayerHeightRule =
    std::function<double(const Layer& layer, double x, double y, double aSubstrate)>;
void expandLayers(const Structure& config, ResultArrays& results, const LayerHeightRule& height);
