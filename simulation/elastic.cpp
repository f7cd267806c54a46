#include "simulation/elastic.h"

#include "simulation/materials.h"

namespace {

// The binaries' constants in GPa at 300 K, in the order GaAs, InAs, InP, GaP of
// latticeConstant: the rows of the binary table in materials.cpp, kept here for the basic
// format's own fast path.
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

ElasticConstants elasticConstants(const MaterialSystem& m, double x, double y) {
    if (isBasicSystem(m))
        return elasticConstants(x, y);
    return {bilinear(binaryC11(m.a0, m.b1), binaryC11(m.a1, m.b1), binaryC11(m.a1, m.b0),
                     binaryC11(m.a0, m.b0), x, y),
            bilinear(binaryC12(m.a0, m.b1), binaryC12(m.a1, m.b1), binaryC12(m.a1, m.b0),
                     binaryC12(m.a0, m.b0), x, y)};
}

double strainRatio(const MaterialSystem& system, double x, double y) {
    const ElasticConstants c = elasticConstants(system, x, y);
    return 2 * c.c12 / c.c11;
}

double elasticMonolayerHeight(const MaterialSystem& system, double x, double y, double aSubstrate) {
    if (isBasicSystem(system))
        return elasticMonolayerHeight(x, y, aSubstrate);
    return perpendicularLatticeConstant(latticeConstant(system, x, y), aSubstrate,
                                        strainRatio(system, x, y)) *
           0.5;
}
