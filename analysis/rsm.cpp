#include "analysis/rsm.h"

#include "simulation/elastic.h"
#include "simulation/materials.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int maxCells = 4000;

// The cell of a coordinate: the nearest centre, so that a cell reaches half a step either side.
int cellOf(double v, double v0, double step) {
    const double at = std::floor((v - v0) / step + 0.5);
    return at >= -1.0 && at <= double(maxCells) ? int(at) : -1;
}

double median(QVector<double> values) {
    if (values.isEmpty())
        return 0.0;
    const auto mid = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

} // namespace

void anglesToQ(double omega, double twoTheta, const RsmGeometry& geometry, double& qx, double& qz) {
    const double k = 2 * kPi / geometry.wavelength;
    const double w = (omega + geometry.omegaOffset - geometry.miscut) * kDegree;
    const double t = (twoTheta + geometry.twoThetaOffset) * kDegree;
    // The same by the sum-to-product rules, with three sines and cosines instead of four:
    // |Q| = 2k sin(2θ/2), tilted by 2θ/2 - ω from the normal.
    const double q = 2 * k * std::sin(t / 2);
    const double tilt = t / 2 - w;
    qx = -q * std::sin(tilt);
    qz = q * std::cos(tilt);
}

bool qToAngles(double qx, double qz, const RsmGeometry& geometry, double& omega, double& twoTheta) {
    const double k = 2 * kPi / geometry.wavelength;
    const double q = std::hypot(qx, qz);
    if (!(q > 0) || q > 2 * k)
        return false;
    const double theta = std::asin(q / (2 * k));
    // Q makes the angle atan2(qx, qz) with the normal; ω = θ + that tilt (exit side, Qx > 0).
    const double tilt = std::atan2(qx, qz);
    omega = (theta + tilt) / kDegree - geometry.omegaOffset + geometry.miscut;
    twoTheta = 2 * theta / kDegree - geometry.twoThetaOffset;
    return std::isfinite(omega) && std::isfinite(twoTheta);
}

void mapToQ(const AreaMap& map, const RsmGeometry& geometry, QVector<double>& qx,
            QVector<double>& qz) {
    if (map.space == AreaMap::Reciprocal) {
        qx = map.x;
        qz = map.z;
        return;
    }
    const int n = map.x.size();
    qx.resize(n);
    qz.resize(n);
    for (int i = 0; i < n; ++i)
        anglesToQ(map.x[i], map.z[i], geometry, qx[i], qz[i]);
}

MapGrid gridMap(const QVector<double>& x, const QVector<double>& z,
                const QVector<double>& intensity, int nx, int nz) {
    double x0 = 0, x1 = 0, z0 = 0, z1 = 0;
    if (!x.isEmpty()) {
        const auto mx = std::minmax_element(x.cbegin(), x.cend());
        const auto mz = std::minmax_element(z.cbegin(), z.cend());
        x0 = *mx.first;
        x1 = *mx.second;
        z0 = *mz.first;
        z1 = *mz.second;
    }
    return gridMap(x, z, intensity, nx, nz, x0, x1, z0, z1);
}

MapGrid gridMap(const QVector<double>& x, const QVector<double>& z,
                const QVector<double>& intensity, int nx, int nz, double x0, double x1, double z0,
                double z1) {
    MapGrid grid;
    grid.nx = std::clamp(nx, 2, maxCells);
    grid.nz = std::clamp(nz, 2, maxCells);
    const bool finite =
        std::isfinite(x0) && std::isfinite(x1) && std::isfinite(z0) && std::isfinite(z1);
    grid.x0 = finite ? x0 : 0.0;
    grid.x1 = finite ? x1 : 1.0;
    grid.z0 = finite ? z0 : 0.0;
    grid.z1 = finite ? z1 : 1.0;
    if (!(grid.x1 > grid.x0)) {
        grid.x0 -= 0.5;
        grid.x1 += 0.5;
    }
    if (!(grid.z1 > grid.z0)) {
        grid.z0 -= 0.5;
        grid.z1 += 0.5;
    }
    grid.sum = QVector<double>(grid.nx * grid.nz, 0.0);
    grid.count = QVector<int>(grid.nx * grid.nz, 0);
    const double dx = grid.dx();
    const double dz = grid.dz();
    const int n = std::min({x.size(), z.size(), intensity.size()});
    double* sum = grid.sum.data();
    int* count = grid.count.data();
    for (int p = 0; p < n; ++p) {
        if (!(x[p] >= grid.x0 && x[p] <= grid.x1 && z[p] >= grid.z0 && z[p] <= grid.z1))
            continue;
        const int i = cellOf(x[p], grid.x0, dx);
        const int j = cellOf(z[p], grid.z0, dz);
        if (i < 0 || i >= grid.nx || j < 0 || j >= grid.nz || !std::isfinite(intensity[p]))
            continue;
        sum[j * grid.nx + i] += intensity[p];
        ++count[j * grid.nx + i];
    }
    return grid;
}

namespace {

// The spot around the local maximum (i, j): the connected cells above half its value within
// 25 cells, their centroid weighted by the excess over half the peak.
MapSpot refine(const MapGrid& grid, int i0, int j0) {
    MapSpot spot;
    spot.peak = grid.value(i0, j0);
    const double half = spot.peak / 2;
    const int reach = 25;
    const int w = 2 * reach + 1;
    QVector<char> seen(w * w, 0);
    QVector<QPair<int, int>> todo{{i0, j0}};
    seen[reach * w + reach] = 1;
    double sw = 0, sw2 = 0, sx = 0, sz = 0, sxx = 0, szz = 0;
    double xLow = grid.xAt(i0), xHigh = xLow, zLow = grid.zAt(j0), zHigh = zLow;
    while (!todo.isEmpty()) {
        const auto [i, j] = todo.takeLast();
        const double weight = grid.value(i, j) - half;
        const double x = grid.xAt(i);
        const double z = grid.zAt(j);
        sw += weight;
        sw2 += weight * weight;
        sx += weight * x;
        sz += weight * z;
        sxx += weight * x * x;
        szz += weight * z * z;
        xLow = std::min(xLow, x);
        xHigh = std::max(xHigh, x);
        zLow = std::min(zLow, z);
        zHigh = std::max(zHigh, z);
        ++spot.cells;
        for (const auto& [di, dj] : {QPair<int, int>{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
            const int a = i + di;
            const int b = j + dj;
            if (a < 0 || b < 0 || a >= grid.nx || b >= grid.nz || std::abs(a - i0) > reach ||
                std::abs(b - j0) > reach)
                continue;
            char& s = seen[(b - j0 + reach) * w + (a - i0 + reach)];
            if (s || !grid.filled(a, b) || !(grid.value(a, b) > half))
                continue;
            s = 1;
            todo.append({a, b});
        }
    }
    if (!(sw > 0)) {
        spot.qx = grid.xAt(i0);
        spot.qz = grid.zAt(j0);
        spot.sqx = grid.dx() / std::sqrt(12.0);
        spot.sqz = grid.dz() / std::sqrt(12.0);
        spot.fwhmX = grid.dx();
        spot.fwhmZ = grid.dz();
        return spot;
    }
    spot.qx = sx / sw;
    spot.qz = sz / sw;
    const double effective = sw * sw / sw2;
    const double vx = std::max(0.0, sxx / sw - spot.qx * spot.qx);
    const double vz = std::max(0.0, szz / sw - spot.qz * spot.qz);
    spot.sqx = std::sqrt((vx + grid.dx() * grid.dx() / 12) / effective);
    spot.sqz = std::sqrt((vz + grid.dz() * grid.dz() / 12) / effective);
    spot.fwhmX = xHigh - xLow + grid.dx();
    spot.fwhmZ = zHigh - zLow + grid.dz();
    return spot;
}

bool isLocalMaximum(const MapGrid& grid, int i, int j) {
    const double v = grid.value(i, j);
    for (int b = std::max(0, j - 1); b <= std::min(grid.nz - 1, j + 1); ++b)
        for (int a = std::max(0, i - 1); a <= std::min(grid.nx - 1, i + 1); ++a)
            if ((a != i || b != j) && grid.filled(a, b) &&
                (grid.value(a, b) > v ||
                 (grid.value(a, b) == v && (b * grid.nx + a) < (j * grid.nx + i))))
                return false;
    return true;
}

} // namespace

QVector<MapSpot> findSpots(const MapGrid& grid, int maxSpots, double minFraction,
                           int minSeparation) {
    QVector<double> filled;
    double highest = 0;
    for (int c = 0; c < grid.count.size(); ++c) {
        if (grid.count[c] > 0) {
            filled.append(grid.sum[c] / grid.count[c]);
            highest = std::max(highest, filled.last());
        }
    }
    const double floor = std::max(highest * minFraction, 3 * median(filled));
    struct Candidate {
        double value;
        int i, j;
    };
    QVector<Candidate> candidates;
    for (int j = 0; j < grid.nz; ++j)
        for (int i = 0; i < grid.nx; ++i)
            if (grid.filled(i, j) && grid.value(i, j) > floor && grid.value(i, j) > 0 &&
                isLocalMaximum(grid, i, j))
                candidates.append({grid.value(i, j), i, j});
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.value > b.value; });
    QVector<Candidate> kept;
    QVector<MapSpot> spots;
    for (const Candidate& c : candidates) {
        if (spots.size() >= maxSpots)
            break;
        const bool near = std::any_of(kept.cbegin(), kept.cend(), [&](const Candidate& k) {
            return std::abs(k.i - c.i) < minSeparation && std::abs(k.j - c.j) < minSeparation;
        });
        if (near)
            continue;
        kept.append(c);
        spots.append(refine(grid, c.i, c.j));
    }
    return spots;
}

bool spotNear(const MapGrid& grid, double qx, double qz, MapSpot& spot) {
    int best = -1;
    double bestDistance = 0;
    for (int j = 0; j < grid.nz; ++j) {
        for (int i = 0; i < grid.nx; ++i) {
            if (!grid.filled(i, j))
                continue;
            const double d =
                std::hypot((grid.xAt(i) - qx) / grid.dx(), (grid.zAt(j) - qz) / grid.dz());
            if (best < 0 || d < bestDistance) {
                best = j * grid.nx + i;
                bestDistance = d;
            }
        }
    }
    if (best < 0)
        return false;
    int i = best % grid.nx;
    int j = best / grid.nx;
    // Uphill to the maximum the point lies on.
    for (int steps = 0; steps < grid.nx + grid.nz; ++steps) {
        int bi = i, bj = j;
        for (int b = std::max(0, j - 1); b <= std::min(grid.nz - 1, j + 1); ++b)
            for (int a = std::max(0, i - 1); a <= std::min(grid.nx - 1, i + 1); ++a)
                if (grid.filled(a, b) && grid.value(a, b) > grid.value(bi, bj)) {
                    bi = a;
                    bj = b;
                }
        if (bi == i && bj == j)
            break;
        i = bi;
        j = bj;
    }
    spot = refine(grid, i, j);
    return true;
}

AlloyLine alloyLine(const MaterialSystem& system, double x, double y) {
    AlloyLine alloy;
    const bool diamond = system.diamond();
    const bool xFree = diamond || system.a0 != system.a1;
    const Element named = xFree ? system.a1 : system.b1;
    alloy.fraction =
        QStringLiteral("%1 (%2)").arg(QLatin1String(xFree ? "x" : "y"), elementSymbol(named));
    alloy.name = systemText(system);
    if (diamond) {
        alloy.latticeConstant = [system](double c) { return latticeConstant(system, c, c); };
        alloy.strainRatio = [system](double c) { return strainRatio(system, c, c); };
    } else if (xFree) {
        alloy.latticeConstant = [system, y](double c) { return latticeConstant(system, c, y); };
        alloy.strainRatio = [system, y](double c) { return strainRatio(system, c, y); };
    } else {
        alloy.latticeConstant = [system, x](double c) { return latticeConstant(system, x, c); };
        alloy.strainRatio = [system, x](double c) { return strainRatio(system, x, c); };
    }
    return alloy;
}

namespace {

// Composition and relaxation from a∥ and a⊥; NaN where undefined.
void solve(double aPar, double aPerp, double aSubstrate, const AlloyLine& alloy, double& c,
           double& a0, double& relaxation) {
    const auto f = [&](double x) {
        const double r = alloy.strainRatio(x);
        return alloy.latticeConstant(x) - (aPerp + r * aPar) / (1 + r);
    };
    double lo = -0.5, hi = 1.5;
    double flo = f(lo);
    const double fhi = f(hi);
    c = a0 = relaxation = kNaN;
    if (!(flo * fhi <= 0) || !std::isfinite(aPar) || !std::isfinite(aPerp))
        return;
    for (int it = 0; it < 80; ++it) {
        const double mid = 0.5 * (lo + hi);
        const double fm = f(mid);
        if ((fm <= 0) == (flo <= 0)) {
            lo = mid;
            flo = fm;
        } else {
            hi = mid;
        }
    }
    c = 0.5 * (lo + hi);
    a0 = alloy.latticeConstant(c);
    // Relaxation is undefined for a layer matched to the substrate within 1e-5 relative.
    if (std::fabs(a0 - aSubstrate) > 1e-5 * aSubstrate)
        relaxation = (aPar - aSubstrate) / (a0 - aSubstrate);
}

} // namespace

SpotNumbers spotNumbers(const MapSpot& spot, int h, int k, int l, double aSubstrate,
                        const AlloyLine& alloy) {
    SpotNumbers n;
    n.qx = spot.qx;
    n.qz = spot.qz;
    n.sqx = spot.sqx;
    n.sqz = spot.sqz;
    const double inPlane = 2 * kPi * std::sqrt(double(h * h + k * k));
    const double normal = 2 * kPi * l;
    const auto parallel = [&](double qx) { return inPlane > 0 ? inPlane / std::fabs(qx) : kNaN; };
    const auto perpendicular = [&](double qz) { return normal / qz; };
    n.aParallel = parallel(spot.qx);
    n.aPerpendicular = perpendicular(spot.qz);
    n.sParallel = std::fabs(n.aParallel / spot.qx) * spot.sqx;
    n.sPerpendicular = std::fabs(n.aPerpendicular / spot.qz) * spot.sqz;
    solve(n.aParallel, n.aPerpendicular, aSubstrate, alloy, n.composition, n.aBulk, n.relaxation);
    // 1σ by the derivatives along Qx and Qz, the two taken as independent.
    const double hx = std::max(spot.sqx, 1e-7);
    const double hz = std::max(spot.sqz, 1e-7);
    double cx = 0, ax = 0, rx = 0, cz = 0, az = 0, rz = 0;
    solve(parallel(spot.qx + hx), n.aPerpendicular, aSubstrate, alloy, cx, ax, rx);
    solve(n.aParallel, perpendicular(spot.qz + hz), aSubstrate, alloy, cz, az, rz);
    n.sComposition =
        std::hypot((cx - n.composition) / hx * spot.sqx, (cz - n.composition) / hz * spot.sqz);
    n.sRelaxation =
        std::hypot((rx - n.relaxation) / hx * spot.sqx, (rz - n.relaxation) / hz * spot.sqz);
    return n;
}

void layerQ(double a0, double ratio, double aSubstrate, double r, int h, int k, int l, double sign,
            double& qx, double& qz) {
    const double aPar = aSubstrate + r * (a0 - aSubstrate);
    const double aPerp = a0 - ratio * (aPar - a0);
    qx = sign * 2 * kPi * std::sqrt(double(h * h + k * k)) / aPar;
    qz = 2 * kPi * l / aPerp;
}
