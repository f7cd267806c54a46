#include "structure/material.h"

#include <QCoreApplication>
#include <QStringList>

#include <array>
#include <cmath>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Material", text);
}

constexpr std::array<const char*, kElementCount> kSymbols = {"Ga", "Al", "In", "P",  "As",
                                                             "N",  "Sb", "Si", "Ge", "C"};

// Fractions of up to two elements on one sublattice, in element order.
struct Site {
    Element e[2] = {Element::Ga, Element::Ga};
    double f[2] = {0.0, 0.0};
    int count = 0;
};

// Adds element e at fraction f; false when the sublattice is full.
bool addTo(Site& site, Element e, double f) {
    for (int i = 0; i < site.count; ++i) {
        if (site.e[i] == e) {
            site.f[i] += f;
            return true;
        }
    }
    if (site.count == 2)
        return false;
    site.e[site.count] = e;
    site.f[site.count] = f;
    ++site.count;
    if (site.count == 2 && site.e[1] < site.e[0]) {
        std::swap(site.e[0], site.e[1]);
        std::swap(site.f[0], site.f[1]);
    }
    return true;
}

// The two ends and the fraction of the second of a sublattice.
void toEnds(const Site& site, Element& e0, Element& e1, double& fraction) {
    e0 = site.e[0];
    e1 = site.count == 2 ? site.e[1] : site.e[0];
    fraction = site.count == 2 ? site.f[1] : 0.0;
}

QString groupName(int group) {
    return group == 3 ? tr("group-III") : group == 5 ? tr("group-V") : tr("group-IV");
}

QString number(double v, int precision) {
    return QString::number(v, 'g', precision);
}

} // namespace

QString elementSymbol(Element e) {
    return QString::fromLatin1(kSymbols[std::size_t(e)]);
}

bool elementOfSymbol(const QString& symbol, Element& e) {
    for (std::size_t i = 0; i < kSymbols.size(); ++i) {
        if (symbol == QLatin1String(kSymbols[i])) {
            e = Element(i);
            return true;
        }
    }
    return false;
}

bool elementOfSymbolAnyCase(const QString& symbol, Element& e) {
    for (std::size_t i = 0; i < kSymbols.size(); ++i) {
        if (Element(i) != Element::N &&
            symbol.compare(QLatin1String(kSymbols[i]), Qt::CaseInsensitive) == 0) {
            e = Element(i);
            return true;
        }
    }
    return false;
}

int elementGroup(Element e) {
    switch (e) {
    case Element::Ga:
    case Element::Al:
    case Element::In:
        return 3;
    case Element::P:
    case Element::As:
    case Element::N:
    case Element::Sb:
        return 5;
    default:
        return 4;
    }
}

bool looksLikeFormula(const QString& token) {
    bool number = false;
    token.toDouble(&number);
    return !token.isEmpty() && token.at(0).isUpper() && !number;
}

bool parseFormula(const QString& text, Material& out, QString& problem) {
    Site sites[3]; // group III, group V, group IV
    bool named[kElementCount] = {};
    int i = 0;
    const int n = text.size();
    if (n == 0) {
        problem = tr("no formula");
        return false;
    }
    while (i < n) {
        if (!text.at(i).isUpper()) {
            problem = tr("%1 is not an element symbol").arg(text.mid(i, 8));
            return false;
        }
        int end = i + 1;
        while (end < n && text.at(end).isLower())
            ++end;
        const QString symbol = text.mid(i, end - i);
        Element e = Element::Ga;
        if (!elementOfSymbol(symbol, e)) {
            problem = tr("%1 is none of Al, Ga, In, N, P, As, Sb, Si, Ge, C").arg(symbol);
            return false;
        }
        if (named[int(e)]) {
            problem = tr("%1 is named twice").arg(symbol);
            return false;
        }
        named[int(e)] = true;
        i = end;
        while (end < n && (text.at(end).isDigit() || text.at(end) == QLatin1Char('.')))
            ++end;
        double f = 1.0;
        if (end > i) {
            bool ok = false;
            f = text.mid(i, end - i).toDouble(&ok);
            if (!ok || !(f >= 0.0 && f <= 1.0)) {
                problem = tr("the fraction %1 of %2 is not a number from 0 to 1")
                              .arg(text.mid(i, end - i), symbol);
                return false;
            }
        }
        i = end;
        const int group = elementGroup(e);
        Site& site = sites[group == 3 ? 0 : group == 5 ? 1 : 2];
        if (!addTo(site, e, f)) {
            problem = tr("more than two %1 elements (an alloy takes at most two per sublattice)")
                          .arg(groupName(group));
            return false;
        }
    }
    const bool fourth = sites[2].count > 0;
    if (fourth && (sites[0].count > 0 || sites[1].count > 0)) {
        problem = tr("group-IV elements do not mix with group-III and group-V ones");
        return false;
    }
    if (!fourth && (sites[0].count == 0 || sites[1].count == 0)) {
        problem = sites[0].count == 0 ? tr("no group-III element") : tr("no group-V element");
        return false;
    }
    for (int g = 0; g < 3; ++g) {
        const Site& site = sites[g];
        if (site.count == 0)
            continue;
        const double sum = site.f[0] + (site.count == 2 ? site.f[1] : 0.0);
        if (std::fabs(sum - 1.0) > 1e-9) {
            problem = tr("the %1 fractions add to %2, not 1")
                          .arg(groupName(g == 0   ? 3
                                         : g == 1 ? 5
                                                  : 4),
                               number(sum, 10));
            return false;
        }
    }
    Material m;
    if (fourth) {
        toEnds(sites[2], m.system.a0, m.system.a1, m.x);
        m.system.b0 = m.system.a0;
        m.system.b1 = m.system.a1;
        m.y = m.x;
    } else {
        toEnds(sites[0], m.system.a0, m.system.a1, m.x);
        toEnds(sites[1], m.system.b0, m.system.b1, m.y);
    }
    out = m;
    return true;
}

namespace {

// The union of the ends (e0, e1) and (f0, f1) of one sublattice in element order; false when
// it holds more than two elements.
bool unite(Element e0, Element e1, Element f0, Element f1, Element& u0, Element& u1) {
    Element all[4] = {e0, e1, f0, f1};
    Element distinct[4] = {};
    int count = 0;
    for (Element e : all) {
        bool seen = false;
        for (int i = 0; i < count; ++i)
            seen = seen || distinct[i] == e;
        if (!seen)
            distinct[count++] = e;
    }
    if (count > 2)
        return false;
    u0 = distinct[0];
    u1 = count == 2 ? distinct[1] : distinct[0];
    if (u1 < u0)
        std::swap(u0, u1);
    return true;
}

// The fraction of the later end of (u0, u1) for a sublattice with ends (e0, e1) at fraction f.
double recount(Element e0, Element e1, double f, Element u1) {
    if (e0 == e1)
        return e0 == u1 ? 1.0 : 0.0;
    return e1 == u1 ? f : 1.0 - f;
}

} // namespace

bool commonSystem(const MaterialSystem& a, const MaterialSystem& b, MaterialSystem& out) {
    if (a.diamond() != b.diamond())
        return false;
    MaterialSystem s;
    if (!unite(a.a0, a.a1, b.a0, b.a1, s.a0, s.a1) || !unite(a.b0, a.b1, b.b0, b.b1, s.b0, s.b1))
        return false;
    out = s;
    return true;
}

Material inSystem(const Material& m, const MaterialSystem& system) {
    if (m.system == system)
        return m;
    Material out;
    out.system = system;
    out.x = system.a0 == system.a1 ? 0.0 : recount(m.system.a0, m.system.a1, m.x, system.a1);
    out.y = system.b0 == system.b1 ? 0.0 : recount(m.system.b0, m.system.b1, m.y, system.b1);
    return out;
}

double elementFraction(const MaterialSystem& s, double x, double y, Element e) {
    if (elementGroup(e) == 5) {
        if (e == s.b1 && s.b0 != s.b1)
            return y;
        if (e == s.b0)
            return s.b0 == s.b1 ? 1.0 : 1.0 - y;
        return -1.0;
    }
    if (e == s.a1 && s.a0 != s.a1)
        return x;
    if (e == s.a0)
        return s.a0 == s.a1 ? 1.0 : 1.0 - x;
    return -1.0;
}

QString formulaText(const MaterialSystem& s, double x, double y, int precision) {
    QString text;
    // first, f1: the element written first and its fraction; second, f2 the other.
    const auto site = [&](Element first, double f1, Element second, double f2) {
        if (first == second) {
            text += elementSymbol(first);
            return;
        }
        if (f2 == 0.0 || f1 == 0.0) {
            text += elementSymbol(f2 == 0.0 ? first : second);
            return;
        }
        text += elementSymbol(first) + number(f1, precision);
        text += elementSymbol(second) + number(f2, precision);
    };
    // As one writes them: AlGaAs, InGaAs, GaAsSb, InGaAsP, SiGe.
    if (s.diamond()) {
        site(s.a0, 1.0 - x, s.a1, x);
        return text;
    }
    site(s.a1, x, s.a0, 1.0 - x);
    if (s.b1 == Element::As)
        site(s.b1, y, s.b0, 1.0 - y);
    else
        site(s.b0, 1.0 - y, s.b1, y);
    return text;
}

QString systemText(const MaterialSystem& s) {
    const auto site = [](Element e0, Element e1) {
        return e0 == e1 ? elementSymbol(e0)
                        : elementSymbol(e0) + QLatin1Char(' ') + elementSymbol(e1);
    };
    if (s.diamond())
        return site(s.a0, s.a1);
    return site(s.a0, s.a1) + QStringLiteral(" / ") + site(s.b0, s.b1);
}
