#pragma once

#include <QString>

#include <cstdint>

// The cubic semiconductors a layer or the substrate may be made of: zinc-blende III-V alloys
// with Ga, Al, In on the group-III sublattice and P, As, N, Sb on the group-V one, and
// diamond group-IV alloys of Si, Ge, C.
//
// A material is a system (at most two elements on each sublattice) and two fractions: x of
// the second group-III element on its sites, y of the second group-V element on its sites.
// The basic format's In(x)Ga(1-x)As(y)P(1-y) is the system Ga In / P As. A diamond alloy
// puts the same elements on both sublattices, with y equal to x.

// The order of the elements on a sublattice decides which one x (or y) counts: the later
// one. Ga before Al and In, P before As, and both before N and Sb, so that x is the Al or In
// fraction of AlGaAs and InGaAs, y the As fraction of InGaAsP and the N or Sb fraction of a
// dilute nitride or an antimonide; Si before Ge before C.
enum class Element : std::uint8_t { Ga, Al, In, P, As, N, Sb, Si, Ge, C };
constexpr int kElementCount = 10;

// Chemical symbol: "Ga", "Al", ...
QString elementSymbol(Element e);
// The element of a symbol written with its case ("Al"); false when none.
bool elementOfSymbol(const QString& symbol, Element& e);
// The same with the symbol in any case ("AL", "ge"), as a FIT line may write it; N (the
// thickness target of FIT) is not taken.
bool elementOfSymbolAnyCase(const QString& symbol, Element& e);
// Group III (Ga Al In), group V (P As N Sb) or group IV (Si Ge C).
int elementGroup(Element e);

struct MaterialSystem {
    Element a0 = Element::Ga; // x = 0
    Element a1 = Element::In; // x = 1 (a0 again on a sublattice of one element)
    Element b0 = Element::P;  // y = 0
    Element b1 = Element::As; // y = 1
    bool diamond() const { return elementGroup(a0) == 4; }
    bool operator==(const MaterialSystem& o) const {
        return a0 == o.a0 && a1 == o.a1 && b0 == o.b0 && b1 == o.b1;
    }
    bool operator!=(const MaterialSystem& o) const { return !(*this == o); }
};

// The basic format's system In(x)Ga(1-x)As(y)P(1-y).
inline bool isBasicSystem(const MaterialSystem& s) {
    return s == MaterialSystem();
}

// A material: its system and fractions.
struct Material {
    MaterialSystem system;
    double x = 0.0;
    double y = 0.0;
};

// Whether a token of a structure file is meant as a formula rather than a fraction: it starts
// with a capital letter and is not a number ("Inf" and "NaN" are numbers, as they always were).
bool looksLikeFormula(const QString& token);

// Reads a formula: element symbols, each followed by its fraction on its sublattice
// (a symbol without a number counts 1), e.g. "Al0.3Ga0.7As", "In0.52Al0.48As",
// "GaAs0.91Sb0.09", "Ga0.7In0.3N0.02As0.98", "Si0.8Ge0.2", "Ge". The fractions of each
// sublattice must add to 1 (within 1e-9) and each lie in 0..1; an element may be named once;
// at most two elements per sublattice; group IV stands alone. False with `problem` (a phrase
// without the formula) otherwise.
bool parseFormula(const QString& text, Material& out, QString& problem);

// The same materials in one system: the elements of both on each sublattice, the fractions
// recounted. False when a sublattice would hold more than two elements or the two are of
// different kinds (III-V and IV).
bool commonSystem(const MaterialSystem& a, const MaterialSystem& b, MaterialSystem& out);
// `m` expressed in `system`, which holds every element of m's (from commonSystem).
Material inSystem(const Material& m, const MaterialSystem& system);

// The fraction of element `e` in material (system, x, y) on its sublattice; -1 when the
// system does not hold it.
double elementFraction(const MaterialSystem& system, double x, double y, Element e);

// The formula of (system, x, y) with the fractions to `precision` significant digits, in
// the usual order: "Al0.3Ga0.7As", "GaAs0.9Sb0.1", "Si0.7Ge0.3", "GaAs". Elements at
// fraction 0 are left out; parseFormula reads it back.
QString formulaText(const MaterialSystem& system, double x, double y, int precision = 6);

// "Al Ga / As": the elements of a system, for messages.
QString systemText(const MaterialSystem& system);
