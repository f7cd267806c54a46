#include "analysis/rsmroad.h"

#include "simulation/elastic.h"
#include "simulation/materials.h"
#include "structure/config.h"

#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kCuKa1 = 1.5405929; // Å

QString tr(const char* text) {
    return QCoreApplication::translate("Rsm", text);
}

// The reflections a map is commonly measured at, tried when no structure names one.
struct Hkl {
    int h, k, l;
};
constexpr Hkl kCommon[] = {{0, 0, 4}, {2, 2, 4}, {1, 1, 5}, {1, 1, 3}, {0, 0, 2},
                           {0, 0, 6}, {3, 3, 5}, {0, 4, 4}, {2, 2, 2}, {4, 4, 4}};

double inPlaneQ(double a, int h, int k) {
    return 2 * kPi * std::sqrt(double(h * h + k * k)) / a;
}

Material named(const char* formula) {
    Material m;
    QString problem;
    parseFormula(QString::fromLatin1(formula), m, problem);
    return m;
}

int defaultCells(int points) {
    return std::clamp(int(std::lround(0.9 * std::sqrt(double(points)))), 40, 1000);
}

QString plusMinus(double v, double s, int decimals) {
    if (!std::isfinite(v))
        return QStringLiteral("undefined");
    return QStringLiteral("%1 ± %2").arg(v, 0, 'f', decimals).arg(s, 0, 'f', decimals);
}

} // namespace

RsmAnalysis analyseMap(AreaMap map, const Structure* structure, const RsmSettings& settings) {
    RsmAnalysis a;
    a.map = std::move(map);
    a.log << areaMapSummary(a.map) << a.map.notes;
    const bool angles = a.map.space == AreaMap::Angles;

    // The wavelength: the map's, else the structure's, else Cu Kα1.
    a.geometry.wavelength = a.map.wavelength;
    if (!(a.geometry.wavelength > 0)) {
        a.geometry.wavelength = structure ? structure->wavelength : kCuKa1;
        if (angles)
            a.log << tr("Map [%1]: no wavelength in the file; %2 Å used.")
                         .arg(a.map.fileName)
                         .arg(a.geometry.wavelength);
    }
    if (structure && angles && !settings.align)
        a.geometry.omegaOffset = structure->ext.offset;

    QVector<double> qx, qz;
    mapToQ(a.map, a.geometry, qx, qz);
    const int nx = settings.nx > 0 ? settings.nx : defaultCells(qx.size());
    const int nz = settings.nz > 0 ? settings.nz : defaultCells(qx.size());
    a.grid = gridMap(qx, qz, a.map.intensity, nx, nz);
    QVector<MapSpot> first = findSpots(a.grid, 1);
    if (first.isEmpty()) {
        a.failure = tr("Map [%1]: no spot stands out of the background.").arg(a.map.fileName);
        return a;
    }
    const MapSpot strongest = first.first();
    a.grazing = strongest.qx < 0 ? -1 : 1;

    // Substrate and reflection.
    Material substrate = named("GaAs");
    if (structure) {
        substrate.system = structure->substrate.system;
        substrate.x = structure->substrate.inFraction;
        substrate.y = structure->substrate.asFraction;
        const Reflection& r = structure->ext.reflection;
        a.h = r.h;
        a.k = r.k;
        a.l = r.l;
        a.aSubstrate = latticeConstant(substrate.system, substrate.x, substrate.y);
    } else {
        double best = 1e300;
        for (const char* formula : {"GaAs", "InP", "Si"}) {
            const Material m = named(formula);
            const double as = latticeConstant(m.system, m.x, m.y);
            for (const Hkl& c : kCommon) {
                const double d = std::hypot(std::fabs(strongest.qx) - inPlaneQ(as, c.h, c.k),
                                            strongest.qz - 2 * kPi * c.l / as);
                if (d < best) {
                    best = d;
                    substrate = m;
                    a.h = c.h;
                    a.k = c.k;
                    a.l = c.l;
                    a.aSubstrate = as;
                }
            }
        }
        if (best > 0.02 * std::hypot(strongest.qx, strongest.qz)) {
            a.failure = tr("Map [%1]: its strongest spot (Qx %2, Qz %3 1/Å) is no common "
                           "reflection of GaAs, InP or Si; give the structure.")
                            .arg(a.map.fileName)
                            .arg(strongest.qx, 0, 'f', 4)
                            .arg(strongest.qz, 0, 'f', 4);
            return a;
        }
        a.log << tr("Map [%1]: taken as the (%2%3%4) reflection of a %5 substrate.")
                     .arg(a.map.fileName)
                     .arg(a.h)
                     .arg(a.k)
                     .arg(a.l)
                     .arg(formulaText(substrate.system, substrate.x, substrate.y));
    }
    a.substrateName = formulaText(substrate.system, substrate.x, substrate.y);
    a.substrateQx = a.grazing * inPlaneQ(a.aSubstrate, a.h, a.k);
    a.substrateQz = 2 * kPi * a.l / a.aSubstrate;

    // Alignment on the substrate: the spot nearest to the substrate's place moved onto it.
    if (angles && settings.align) {
        MapSpot s;
        double wm = 0, tm = 0, wt = 0, tt = 0;
        if (spotNear(a.grid, a.substrateQx, a.substrateQz, s) &&
            qToAngles(s.qx, s.qz, a.geometry, wm, tm) &&
            qToAngles(a.substrateQx, a.substrateQz, a.geometry, wt, tt)) {
            a.geometry.omegaOffset += wt - wm;
            a.geometry.twoThetaOffset += tt - tm;
            a.log << tr("Map [%1]: aligned on the substrate's spot: ω offset %2°, 2θ offset %3°.")
                         .arg(a.map.fileName)
                         .arg(a.geometry.omegaOffset, 0, 'f', 4)
                         .arg(a.geometry.twoThetaOffset, 0, 'f', 4);
            mapToQ(a.map, a.geometry, qx, qz);
            a.grid = gridMap(qx, qz, a.map.intensity, nx, nz);
        }
    }

    // The structure's layers, coherent and relaxed, chained as the models grow them.
    if (structure) {
        double aRef = a.aSubstrate;
        const int count = std::min(int(structure->layers.size()), 200);
        for (int i = 0; i < count; ++i) {
            const Layer& layer = structure->layers[i];
            LayerMark m;
            m.layer = i + 1;
            m.system = layer.system;
            m.x = layer.inFraction;
            m.y = layer.asFraction;
            for (const LayerRelaxation& r : structure->ext.relaxations)
                if (r.layer == m.layer)
                    m.relaxation = r.fraction;
            const double a0 = latticeConstant(m.system, m.x, m.y);
            const double ratio = strainRatio(m.system, m.x, m.y);
            layerQ(a0, ratio, a.aSubstrate, 0.0, a.h, a.k, a.l, a.grazing, m.qxCoherent,
                   m.qzCoherent);
            const double aPar = aRef + m.relaxation * (a0 - aRef);
            const double aPerp = a0 - ratio * (aPar - a0);
            m.qxRelaxed = a.grazing * inPlaneQ(aPar, a.h, a.k);
            m.qzRelaxed = 2 * kPi * a.l / aPerp;
            aRef = aPar;
            if (std::isfinite(m.qxRelaxed) && std::isfinite(m.qzRelaxed) &&
                std::isfinite(m.qzCoherent))
                a.layers.append(m);
        }
    }

    // Spots, each named by the substrate or the layer whose place is nearest (within 0.005).
    a.spots = findSpots(a.grid);
    for (int s = 0; s < a.spots.size(); ++s) {
        const MapSpot& spot = a.spots[s];
        QString label;
        // Without a structure a layer is taken as InGaAs on a III-V substrate, SiGe on Si.
        Material layer = substrate.system.diamond() ? named("Si0.5Ge0.5") : named("In0.5Ga0.5As");
        double nearest = 0.005;
        if (std::hypot(spot.qx - a.substrateQx, spot.qz - a.substrateQz) < nearest) {
            label = tr("substrate");
            nearest = std::hypot(spot.qx - a.substrateQx, spot.qz - a.substrateQz);
        }
        for (const LayerMark& m : a.layers) {
            const double d = std::hypot(spot.qx - m.qxRelaxed, spot.qz - m.qzRelaxed);
            if (d < nearest) {
                nearest = d;
                label = tr("layer %1").arg(m.layer);
                layer = Material{m.system, m.x, m.y};
            }
        }
        const AlloyLine alloy = alloyLine(layer.system, layer.x, layer.y);
        a.labels << label;
        a.alloyLines << alloy;
        a.alloys << QStringLiteral("%1, %2").arg(alloy.name, alloy.fraction);
        a.numbers << spotNumbers(spot, a.h, a.k, a.l, a.aSubstrate, alloy);
        a.log << spotLine(a, s);
    }
    a.ok = true;
    return a;
}

QString spotLine(const RsmAnalysis& a, int index) {
    const SpotNumbers& n = a.numbers[index];
    const QString label = a.labels.value(index);
    return tr("Spot %1%2: Qx %3 1/Å, Qz %4 1/Å, a∥ %5 Å, a⊥ %6 Å, %7 %8, relaxation %9.")
        .arg(index + 1)
        .arg(label.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(label))
        .arg(plusMinus(n.qx, n.sqx, 5), plusMinus(n.qz, n.sqz, 5),
             plusMinus(n.aParallel, n.sParallel, 5),
             plusMinus(n.aPerpendicular, n.sPerpendicular, 5), a.alloys.value(index),
             plusMinus(n.composition, n.sComposition, 4),
             plusMinus(n.relaxation, n.sRelaxation, 3));
}

QString spotAtLine(const RsmAnalysis& a, double qx, double qz) {
    MapSpot spot;
    if (!a.ok || !spotNear(a.grid, qx, qz, spot))
        return QString();
    RsmAnalysis one;
    // The alloy of the spot the analysis found nearest, else that of the first spot.
    int nearest = 0;
    for (int s = 1; s < a.spots.size(); ++s)
        if (std::hypot(a.spots[s].qx - qx, a.spots[s].qz - qz) <
            std::hypot(a.spots[nearest].qx - qx, a.spots[nearest].qz - qz))
            nearest = s;
    const AlloyLine alloy =
        a.alloyLines.isEmpty() ? alloyLine(MaterialSystem(), 0.0, 1.0) : a.alloyLines[nearest];
    one.numbers << spotNumbers(spot, a.h, a.k, a.l, a.aSubstrate, alloy);
    one.alloys << QStringLiteral("%1, %2").arg(alloy.name, alloy.fraction);
    one.labels << tr("picked");
    QString line = spotLine(one, 0);
    return line.replace(0, 6, tr("Spot"));
}

QByteArray spotTable(const RsmAnalysis& a) {
    QByteArray out = "# spot\tlabel\tQx\tsQx\tQz\tsQz\ta_par\tsa_par\ta_perp\tsa_perp\talloy\t"
                     "fraction\tsfraction\trelaxation\tsrelaxation\n";
    QTextStream s(&out, QIODevice::WriteOnly | QIODevice::Append);
    for (int i = 0; i < a.numbers.size(); ++i) {
        const SpotNumbers& n = a.numbers[i];
        s << i + 1 << '\t' << (a.labels[i].isEmpty() ? QStringLiteral("-") : a.labels[i]);
        for (const double v : {n.qx, n.sqx, n.qz, n.sqz, n.aParallel, n.sParallel, n.aPerpendicular,
                               n.sPerpendicular})
            s << '\t' << v;
        s << '\t' << a.alloys[i];
        for (const double v : {n.composition, n.sComposition, n.relaxation, n.sRelaxation})
            s << '\t' << v;
        s << '\n';
    }
    s.flush();
    return out;
}

QByteArray gridText(const MapGrid& grid) {
    QByteArray out = "# Qx (1/A)\tQz (1/A)\tintensity (counts/s, mean of the cell)\tpoints\n";
    out.reserve(out.size() + grid.nx * grid.nz * 40);
    QTextStream s(&out, QIODevice::WriteOnly | QIODevice::Append);
    s.setRealNumberPrecision(10);
    for (int j = 0; j < grid.nz; ++j) {
        for (int i = 0; i < grid.nx; ++i) {
            s << grid.xAt(i) << '\t' << grid.zAt(j) << '\t';
            if (grid.filled(i, j))
                s << grid.value(i, j);
            else
                s << "nan";
            s << '\t' << grid.count[j * grid.nx + i] << '\n';
        }
    }
    s.flush();
    return out;
}
