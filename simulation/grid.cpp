#include "simulation/grid.h"

#include "structure/constants.h"

#include <algorithm>
#include <cmath>
#include <limits>

QVector<double> curveGrid(double periodThickness, double k, qint64 maxPoints) {
    QVector<double> grid;
    const double d = periodThickness;
    if (!(d > 0) || !std::isfinite(d))
        return grid;
    const double q0 = kTwoPi / d;
    const double step = q0 / 10;
    const double qmax = 2 * k;
    if (!(qmax >= q0) || !(step > 0))
        return grid;
    const double estimate = estimatedPointCount(d, k);
    grid.reserve(int(std::min<double>(std::min<double>(estimate + 2, double(maxPoints)),
                                      double(kHardPointCap))));
    // Accumulated by repeated addition: q0 + i * step would change the printed digits.
    double q = q0;
    do {
        grid.append(q);
        q = q + step;
    } while (qmax >= q && grid.size() < maxPoints && grid.size() < kHardPointCap);
    return grid;
}

double estimatedPointCount(double periodThickness, double k) {
    const double d = periodThickness;
    if (!(d > 0) || !std::isfinite(d))
        return 0;
    const double q0 = kTwoPi / d;
    const double qmax = 2 * k;
    if (!(qmax >= q0))
        return 0;
    const double count = std::floor(10 * (qmax - q0) / q0) + 1;
    return std::isfinite(count) ? count : std::numeric_limits<double>::max();
}

double braggAngle(double q, double k) {
    return std::asin((q * 0.5) / k) / kPi * 180;
}

double scatteringVector(double thetaDegrees, double k) {
    return 2 * k * std::sin(thetaDegrees / kDegreesPerRadian);
}
