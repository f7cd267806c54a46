#include "simulation/elastic.h"

#include "simulation/materials.h"

namespace {

// The binaries' constants in GPa at 300 K, in the order GaAs, InAs, InP, GaP of
// latticeConstant.
constexpr ElasticConstants kGaAs = {119.0, 53.4};
constexpr ElasticConstants kInAs = {83.4, 45.4};
constexpr ElasticConstants kInP = {101.1, 56.1};
constexpr ElasticConstants kGaP = {140.5, 62.0};

// Bilinear interpolation with the weights of latticeConstant.
double bilinear(double gaAs, double inAs, double inP, double gaP, double x, double y) {
    return gaAs * y * (1 - x) + inAs * x * y + inP * x * (1 - y) + gaP * (1 - x) * (1 - y);
}

} // namespace

ElasticConstants elasticConstants(double x, double y) {
    return {bilinear(kGaAs.c11, kInAs.c11, kInP.c11, kGaP.c11, x, y),
            bilinear(kGaAs.c12, kInAs.c12, kInP.c12, kGaP.c12, x, y)};
}

double strainRatio(double x, double y) {
    const ElasticConstants c = elasticConstants(x, y);
    return 2 * c.c12 / c.c11;
}

double perpendicularLatticeConstant(double a, double aSubstrate, double ratio) {
    return a + ratio * (a - aSubstrate);
}

double elasticMonolayerHeight(double x, double y, double aSubstrate) {
    return perpendicularLatticeConstant(latticeConstant(x, y), aSubstrate, strainRatio(x, y)) * 0.5;
}
