#include "views/niceticks.h"

#include <cmath>
#include <limits>

TickRange niceTicks(double low, double high) {
    const double r = high - low;
    const double e = std::pow(10.0, std::floor(std::log10(r)));
    // r / e lies in [1, 10) for any positive finite r, but rounding of pow and log10 can
    // push it to 10, and an empty, reversed or infinite range makes it 0, negative, huge or
    // NaN. Only a value known to fit is converted to int; every other case gets step 0.
    const double ratio = r / e;
    const int k = (ratio >= 0.0 && ratio < 100.0) ? static_cast<int>(ratio) : 0;

    double factor = 0.0;
    if (k == 1 || k == 2)
        factor = 0.2;
    else if (k == 3 || k == 4)
        factor = 0.5;
    else if (k >= 5 && k <= 7)
        factor = 1.0;
    else if (k == 8 || k == 9)
        factor = 2.0;

    TickRange t;
    t.tickStep = e * factor;
    if (!(t.tickStep > 0.0) || !std::isfinite(t.tickStep) || !std::isfinite(low) ||
        !std::isfinite(high)) {
        // 0/0 in the formulas below would give the same NaN; written out so that no
        // division by zero is ever evaluated.
        t.tickStep = 0.0;
        t.firstTick = std::numeric_limits<double>::quiet_NaN();
        t.lastTick = std::numeric_limits<double>::quiet_NaN();
        return t;
    }

    t.firstTick = std::floor(low / t.tickStep) * t.tickStep;
    if (low > t.firstTick)
        t.firstTick += t.tickStep;
    t.lastTick = std::ceil(high / t.tickStep) * t.tickStep;
    if (high < t.lastTick)
        t.lastTick -= t.tickStep;
    return t;
}
