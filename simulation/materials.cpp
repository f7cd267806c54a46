#include "simulation/materials.h"

#include <cmath>

namespace {

// Cromer-Mann coefficients a1..a4, b1..b4 (Å²) and c of the International Tables; rows in
// the order of ScattererRow. Rows 4 (Al) and 5 (a 65-electron ion) are kept for
// completeness; no sublattice factor reads them.
struct CromerMann {
    double a[4];
    double b[4];
    double c;
};

constexpr CromerMann kTable[6] = {
    {{6.4345, 4.1791, 1.78, 1.4908}, {1.9067, 27.157, 0.526, 68.1645}, 1.1149},
    {{16.6723, 6.0701, 3.4313, 4.2779}, {2.6345, 0.2647, 12.9479, 47.7972}, 2.531},
    {{19.1624, 18.5596, 4.2948, 2.0396}, {0.5476, 6.3776, 25.8499, 92.8029}, 4.9391},
    {{15.2354, 6.7006, 4.3591, 2.9623}, {3.0669, 0.2412, 10.7805, 61.4135}, 1.7189},
    {{6.4202, 1.9002, 1.5936, 1.9646}, {3.0387, 0.7426, 31.5472, 85.0886}, 1.1151},
    {{26.722, 19.7748, 12.1506, 5.17379}, {1.84659, 0.13729, 8.36225, 17.8974}, 1.17613},
};

// End-member lattice constants in Å.
constexpr double kGaAs = 5.6535;
constexpr double kInAs = 6.0585;
constexpr double kInP = 5.869;
constexpr double kGaP = 5.4505;

} // namespace

double latticeConstant(double x, double y) {
    // Summed in this order; the results are compared to the last digit.
    return kGaAs * y * (1 - x) + kInAs * x * y + kInP * x * (1 - y) + kGaP * (1 - x) * (1 - y);
}

double scatteringFactor(int index, double s) {
    if (index < 0 || index >= 6)
        return 0.0;
    const CromerMann& row = kTable[index];
    const double s2 = s * s;
    double f = 0.0;
    for (int k = 0; k < 4; ++k)
        f += row.a[k] * std::exp(-row.b[k] * s2);
    return f + row.c;
}

double temperatureFactor(double s) {
    return std::exp((-0.45 * s) * s);
}

double groupIIIFactor(double x, double s) {
    const double t = temperatureFactor(s);
    return (1 - x) * (scatteringFactor(RowGa, s) * t) + x * (scatteringFactor(RowIn, s) * t);
}

double groupVFactor(double y, double s) {
    const double t = temperatureFactor(s);
    return (1 - y) * (scatteringFactor(RowP, s) * t) + y * (scatteringFactor(RowAs, s) * t);
}

double monolayerHeight(double a, double aSubstrate) {
    // A layer clamped in-plane to the substrate, with 2 C12 / C11 taken as 1: the
    // perpendicular lattice constant is 2a - aSubstrate, and a monolayer is half of it.
    return (a + (a - aSubstrate)) * 0.5;
}
