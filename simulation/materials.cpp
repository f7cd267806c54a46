#include "simulation/materials.h"

#include <cmath>

namespace {

// Cromer-Mann coefficients a1..a4, b1..b4 (Å²) and c of the International Tables for
// Crystallography Vol. C, Table 6.1.1.4 (neutral atoms); rows in the order of ScattererRow.
// Row 5 (a 65-electron ion) is kept for completeness; no material reads it.
struct CromerMann {
    double a[4];
    double b[4];
    double c;
};

constexpr CromerMann kTable[kScattererRows] = {
    {{6.4345, 4.1791, 1.78, 1.4908}, {1.9067, 27.157, 0.526, 68.1645}, 1.1149},
    {{16.6723, 6.0701, 3.4313, 4.2779}, {2.6345, 0.2647, 12.9479, 47.7972}, 2.531},
    {{19.1624, 18.5596, 4.2948, 2.0396}, {0.5476, 6.3776, 25.8499, 92.8029}, 4.9391},
    {{15.2354, 6.7006, 4.3591, 2.9623}, {3.0669, 0.2412, 10.7805, 61.4135}, 1.7189},
    {{6.4202, 1.9002, 1.5936, 1.9646}, {3.0387, 0.7426, 31.5472, 85.0886}, 1.1151},
    {{26.722, 19.7748, 12.1506, 5.17379}, {1.84659, 0.13729, 8.36225, 17.8974}, 1.17613},
    {{12.2126, 3.1322, 2.0125, 1.1663}, {0.0057, 9.8933, 28.9975, 0.5826}, -11.529},  // N
    {{19.6418, 19.0455, 5.0371, 2.6827}, {5.3034, 0.4607, 27.9074, 75.2825}, 4.5909}, // Sb
    {{6.2915, 3.0353, 1.9891, 1.541}, {2.4386, 32.3337, 0.6785, 81.6937}, 1.1407},    // Si
    {{16.0816, 6.3747, 3.7068, 3.683}, {2.8509, 0.2516, 11.4468, 54.7625}, 2.1313},   // Ge
    {{2.31, 1.02, 1.5886, 0.865}, {20.8439, 10.2075, 0.5687, 51.6512}, 0.2156},       // C
};
static_assert(sizeof(kTable) / sizeof(kTable[0]) == kScattererRows, "one row per scatterer");

// End-member lattice constants in Å (the rows of kBinaries below).
constexpr double kGaAs = 5.6535;
constexpr double kInAs = 6.0585;
constexpr double kInP = 5.869;
constexpr double kGaP = 5.4505;

// Lattice constants at 300 K and elastic constants of every binary, with their sources.
// GaAs, InAs, InP and GaP keep the values the basic format has always computed with, so that
// a formula names the same crystal as the basic format's fractions; the rest are the
// recommended values of Vurgaftman et al. (their Tables for the zinc-blende III-V compounds
// and, for the nitrides, for the zinc-blende phase). Si, Ge, C: lattice constants of the
// Handbook Series on Semiconductor Parameters, Vol. 1, ed. M. Levinshtein, S. Rumyantsev,
// M. Shur (World Scientific, 1996); elastic constants of Si from J. J. Hall, Phys. Rev. 161,
// 756 (1967), of Ge and diamond from H. J. McSkimin, P. Andreatch, J. Appl. Phys. 34, 651
// (1963) and 43, 2944 (1972).
using E = Element;
constexpr BinaryData kBinaries[] = {
    {E::Ga, E::As, kGaAs, 119.0, 53.4,
     "the basic format's value; Vurgaftman, Meyer, Ram-Mohan (2001): 5.65325 Å, 122.1, 56.6 GPa"},
    {E::In, E::As, kInAs, 83.4, 45.4,
     "the basic format's value; Vurgaftman, Meyer, Ram-Mohan (2001): 6.0583 Å, 83.29, 45.26 GPa"},
    {E::In, E::P, kInP, 101.1, 56.1,
     "the basic format's value; Vurgaftman, Meyer, Ram-Mohan (2001): 5.8697 Å, 101.1, 56.1 GPa"},
    {E::Ga, E::P, kGaP, 140.5, 62.0,
     "the basic format's value; Vurgaftman, Meyer, Ram-Mohan (2001): 5.4505 Å, 140.5, 62.03 GPa"},
    {E::Al, E::As, 5.6611, 125.0, 53.4,
     "Vurgaftman, Meyer, Ram-Mohan, J. Appl. Phys. 89, 5815 (2001)"},
    {E::Al, E::P, 5.4672, 133.0, 63.0,
     "Vurgaftman, Meyer, Ram-Mohan, J. Appl. Phys. 89, 5815 (2001)"},
    {E::Ga, E::Sb, 6.0959, 88.42, 40.26,
     "Vurgaftman, Meyer, Ram-Mohan, J. Appl. Phys. 89, 5815 (2001)"},
    {E::Al, E::Sb, 6.1355, 87.69, 43.41,
     "Vurgaftman, Meyer, Ram-Mohan, J. Appl. Phys. 89, 5815 (2001)"},
    {E::In, E::Sb, 6.4794, 68.47, 37.35,
     "Vurgaftman, Meyer, Ram-Mohan, J. Appl. Phys. 89, 5815 (2001)"},
    {E::Ga, E::N, 4.50, 293.0, 159.0,
     "Vurgaftman, Meyer, Ram-Mohan, J. Appl. Phys. 89, 5815 (2001), zinc-blende"},
    {E::Al, E::N, 4.38, 304.0, 160.0,
     "Vurgaftman, Meyer, Ram-Mohan, J. Appl. Phys. 89, 5815 (2001), zinc-blende"},
    {E::In, E::N, 4.98, 187.0, 125.0,
     "Vurgaftman, Meyer, Ram-Mohan, J. Appl. Phys. 89, 5815 (2001), zinc-blende"},
    {E::Si, E::Si, 5.431, 165.77, 63.93,
     "a: Levinshtein, Rumyantsev, Shur, Handbook Series on Semiconductor Parameters 1 (1996); C: "
     "Hall, Phys. Rev. 161, 756 (1967)"},
    {E::Ge, E::Ge, 5.658, 128.5, 48.3,
     "a: Levinshtein, Rumyantsev, Shur (1996); C: McSkimin, Andreatch, J. Appl. Phys. 34, 651 "
     "(1963)"},
    {E::C, E::C, 3.567, 1076.4, 125.2,
     "a: Levinshtein, Rumyantsev, Shur (1996); C: McSkimin, Andreatch, J. Appl. Phys. 43, 2944 "
     "(1972)"},
};
constexpr int kBinaryCount = int(sizeof(kBinaries) / sizeof(kBinaries[0]));

// The row of the binary (a, b); the first row for a pair that has none (never asked for:
// every system holds a group-III and a group-V element, or group-IV ones only).
const BinaryData& binaryRow(Element a, Element b) {
    for (const BinaryData& row : kBinaries) {
        if (row.a == a && row.b == b)
            return row;
    }
    return kBinaries[0];
}

// A value of the pair (a, b): the binary's, or for two group-IV elements the mean of the
// two crystals'.
template <typename Field> double pairValue(Element a, Element b, Field field) {
    if (elementGroup(a) == 4 && a != b)
        return 0.5 * (field(binaryRow(a, a)) + field(binaryRow(b, b)));
    return field(binaryRow(a, b));
}

} // namespace

double latticeConstant(double x, double y) {
    // Summed in this order; the results are compared to the last digit.
    return kGaAs * y * (1 - x) + kInAs * x * y + kInP * x * (1 - y) + kGaP * (1 - x) * (1 - y);
}

int scattererRow(Element e) {
    static constexpr int kRows[kElementCount] = {RowGa, RowAl, RowIn, RowP,  RowAs,
                                                 RowN,  RowSb, RowSi, RowGe, RowC};
    return kRows[int(e)];
}

int atomicNumber(Element e) {
    static constexpr int kZ[kElementCount] = {31, 13, 49, 15, 33, 7, 51, 14, 32, 6};
    return kZ[int(e)];
}

const BinaryData* binaryTable(int& count) {
    count = kBinaryCount;
    return kBinaries;
}

double binaryLattice(Element a, Element b) {
    return pairValue(a, b, [](const BinaryData& r) { return r.lattice; });
}

double binaryC11(Element a, Element b) {
    return pairValue(a, b, [](const BinaryData& r) { return r.c11; });
}

double binaryC12(Element a, Element b) {
    return pairValue(a, b, [](const BinaryData& r) { return r.c12; });
}

double latticeConstant(const MaterialSystem& m, double x, double y) {
    if (isBasicSystem(m))
        return latticeConstant(x, y);
    return binaryLattice(m.a0, m.b1) * y * (1 - x) + binaryLattice(m.a1, m.b1) * x * y +
           binaryLattice(m.a1, m.b0) * x * (1 - y) + binaryLattice(m.a0, m.b0) * (1 - x) * (1 - y);
}

double scatteringFactor(int index, double s) {
    if (index < 0 || index >= kScattererRows)
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
