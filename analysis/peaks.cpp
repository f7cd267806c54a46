#include "peaks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double kDegree = 0.017453292519943295769;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// The substrate peak is the highest maximum this close (degrees) to the substrate's Bragg
// angle, or failing any, the nearest maximum.
constexpr double kSubstrateWindow = 0.02;

struct Curve {
    std::vector<double> theta;
    std::vector<double> s; // sin(theta)
    std::vector<double> y; // smoothed log10 intensity
};

struct Candidate {
    int index = 0;
    double theta = 0.0;
    double s = 0.0;
    double logIntensity = 0.0;
    double prominence = 0.0;
    double isolation = kInfinity; // distance in sin(theta) to the nearest higher point
};

Curve prepare(const QVector<double>& theta, const QVector<double>& intensity, double sigma) {
    Curve c;
    std::vector<double> raw;
    const int n = std::min(theta.size(), intensity.size());
    double minPositive = kInfinity;
    for (int i = 0; i < n; ++i)
        if (intensity[i] > 0.0 && std::isfinite(intensity[i]))
            minPositive = std::min(minPositive, intensity[i]);
    if (!std::isfinite(minPositive))
        return c;
    const double floorLog = std::log10(minPositive) - 1.0;
    for (int i = 0; i < n; ++i) {
        const double t = theta[i];
        if (!std::isfinite(t) || std::fabs(t) > 90.0 || !std::isfinite(intensity[i]))
            continue;
        if (!c.theta.empty() && !(t > c.theta.back()))
            continue;
        c.theta.push_back(t);
        c.s.push_back(std::sin(t * kDegree));
        raw.push_back(intensity[i] > 0.0 ? std::log10(intensity[i]) : floorLog);
    }
    const int m = int(raw.size());
    if (!(sigma > 0.0) || !std::isfinite(sigma)) {
        c.y = raw;
        return c;
    }
    const int half = int(std::min(std::ceil(3.0 * sigma), double(std::max(m - 1, 0))));
    std::vector<double> w(std::size_t(half) + 1);
    for (int k = 0; k <= half; ++k)
        w[std::size_t(k)] = std::exp(-0.5 * (k / sigma) * (k / sigma));
    c.y.resize(raw.size());
    for (int i = 0; i < m; ++i) {
        double sum = 0.0;
        double weight = 0.0;
        for (int j = std::max(0, i - half); j <= std::min(m - 1, i + half); ++j) {
            sum += w[std::size_t(std::abs(j - i))] * raw[std::size_t(j)];
            weight += w[std::size_t(std::abs(j - i))];
        }
        c.y[std::size_t(i)] = sum / weight;
    }
    return c;
}

// For every point, the nearest strictly higher point on one side (-1 if none) and the
// minimum between them (the point included): one pass with a stack of descending values.
void nearestHigher(const std::vector<double>& y, bool leftward, std::vector<int>& higher,
                   std::vector<double>& base) {
    const int n = int(y.size());
    higher.assign(y.size(), -1);
    base.assign(y.size(), 0.0);
    std::vector<std::pair<int, double>> stack; // index, minimum of its segment
    for (int step = 0; step < n; ++step) {
        const int i = leftward ? step : n - 1 - step;
        double low = y[std::size_t(i)];
        while (!stack.empty() && y[std::size_t(stack.back().first)] <= y[std::size_t(i)]) {
            low = std::min(low, stack.back().second);
            stack.pop_back();
        }
        higher[std::size_t(i)] = stack.empty() ? -1 : stack.back().first;
        base[std::size_t(i)] = low;
        stack.emplace_back(i, low);
    }
}

std::vector<Candidate> findMaxima(const Curve& c, double minProminence) {
    std::vector<Candidate> found;
    const int n = int(c.y.size());
    if (n < 3)
        return found;
    std::vector<int> leftHigher, rightHigher;
    std::vector<double> leftBase, rightBase;
    nearestHigher(c.y, true, leftHigher, leftBase);
    nearestHigher(c.y, false, rightHigher, rightBase);
    for (int i = 1; i + 1 < n; ++i) {
        const std::size_t k = std::size_t(i);
        if (!(c.y[k] > c.y[k - 1] && c.y[k] >= c.y[k + 1]))
            continue;
        const double prominence = c.y[k] - std::max(leftBase[k], rightBase[k]);
        if (!(prominence >= minProminence))
            continue;
        Candidate p;
        p.index = i;
        p.prominence = prominence;
        if (leftHigher[k] >= 0)
            p.isolation = c.s[k] - c.s[std::size_t(leftHigher[k])];
        if (rightHigher[k] >= 0)
            p.isolation = std::min(p.isolation, c.s[std::size_t(rightHigher[k])] - c.s[k]);
        // Vertex of the parabola through the maximum and its neighbours.
        const double h0 = c.theta[k - 1] - c.theta[k];
        const double h2 = c.theta[k + 1] - c.theta[k];
        const double d0 = c.y[k - 1] - c.y[k];
        const double d2 = c.y[k + 1] - c.y[k];
        const double a = (h0 * d2 - h2 * d0) / (h0 * h2 * (h2 - h0));
        const double b = (d0 * h2 * h2 - d2 * h0 * h0) / (h0 * h2 * (h2 - h0));
        double u = 0.0;
        if (a < 0.0 && std::isfinite(a) && std::isfinite(b))
            u = std::clamp(-b / (2.0 * a), h0, h2);
        p.theta = c.theta[k] + u;
        p.s = std::sin(p.theta * kDegree);
        p.logIntensity = c.y[k] + std::max(0.0, b * u + a * u * u);
        found.push_back(p);
    }
    return found;
}

Peak toPeak(const Candidate& c) {
    Peak p;
    p.theta = c.theta;
    p.intensity = std::pow(10.0, c.logIntensity);
    p.prominence = c.prominence;
    return p;
}

// Slope of the least-squares line through (x, y).
double fittedSlope(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = double(x.size());
    double mx = 0.0, my = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= n;
    my /= n;
    double sxy = 0.0, sxx = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
    }
    return sxx > 0.0 ? sxy / sxx : std::numeric_limits<double>::quiet_NaN();
}

struct Comb {
    double spacing = 0.0;
    int score = std::numeric_limits<int>::min();
    std::vector<int> orders;
    std::vector<const Candidate*> members;
};

// How well the comb s0 + n * spacing explains the dominant maxima: those whose isolation
// reaches half the spacing. Each such maximum on a tooth scores one, each off the teeth or
// each empty tooth inside the span of the found orders costs one. Teeth hidden under the
// substrate peak neither score nor cost.
Comb scoreComb(const std::vector<Candidate>& peaks, const Candidate& zeroth,
               const Candidate* substrate, double spacing, double sMin, double sMax) {
    Comb comb;
    comb.spacing = spacing;
    const double tolerance = 0.2 * spacing;
    const long lowest = long(std::ceil((sMin - zeroth.s) / spacing));
    const long highest = long(std::floor((sMax - zeroth.s) / spacing));
    if (highest - lowest > 400)
        return comb;
    int score = 0;
    std::vector<char> occupied(std::size_t(highest - lowest + 1), 0);
    for (const Candidate& p : peaks) {
        if (&p == &zeroth || &p == substrate || p.isolation < 0.5 * spacing)
            continue;
        const double offset = (p.s - zeroth.s) / spacing;
        const long order = std::lround(offset);
        if (std::fabs(offset - double(order)) * spacing <= tolerance && order >= lowest &&
            order <= highest && order != 0 && !occupied[std::size_t(order - lowest)]) {
            occupied[std::size_t(order - lowest)] = 1;
            comb.orders.push_back(int(order));
            comb.members.push_back(&p);
            ++score;
        } else {
            --score;
        }
    }
    if (comb.orders.empty())
        return comb;
    const long first =
        std::min(0L, long(*std::min_element(comb.orders.begin(), comb.orders.end())));
    const long last = std::max(0L, long(*std::max_element(comb.orders.begin(), comb.orders.end())));
    for (long order = first; order <= last; ++order) {
        if (order == 0 || occupied[std::size_t(order - lowest)])
            continue;
        const double s = zeroth.s + double(order) * spacing;
        if (substrate && std::fabs(s - substrate->s) < 0.5 * spacing)
            continue;
        --score;
    }
    comb.score = score;
    return comb;
}

void findSatellites(const std::vector<Candidate>& peaks, const Candidate& zeroth,
                    const Candidate* substrate, const Curve& c, double wavelength,
                    PeakAnalysis& result) {
    // Spacings to try: the distance from the zeroth order to every maximum that stands out
    // over at least a third of that distance (a first-order satellite would), and half of it
    // (in case the first order is missing).
    std::vector<std::pair<double, double>> standing; // isolation, distance
    for (const Candidate& p : peaks) {
        const double distance = std::fabs(p.s - zeroth.s);
        if (&p == &zeroth || &p == substrate || !(distance > 0.0) || p.isolation < distance / 3.0)
            continue;
        standing.emplace_back(p.isolation, distance);
    }
    // The hundred that stand out furthest are plenty, and keep the work bounded whatever
    // the data.
    if (standing.size() > 100) {
        std::partial_sort(standing.begin(), standing.begin() + 100, standing.end(),
                          [](const auto& a, const auto& b) { return a.first > b.first; });
        standing.resize(100);
    }
    std::vector<double> trial;
    for (const auto& [isolation, distance] : standing) {
        trial.push_back(distance);
        trial.push_back(distance / 2.0);
    }
    Comb best;
    for (double spacing : trial) {
        Comb comb = scoreComb(peaks, zeroth, substrate, spacing, c.s.front(), c.s.back());
        if (comb.orders.empty())
            continue;
        if (comb.score > best.score || (comb.score == best.score && spacing > best.spacing))
            best = comb;
    }
    if (best.orders.empty() || best.score <= 0)
        return;
    std::vector<double> orders(1, 0.0), positions(1, zeroth.s);
    std::vector<std::pair<int, double>> series(1, {0, zeroth.theta});
    for (std::size_t i = 0; i < best.orders.size(); ++i) {
        orders.push_back(best.orders[i]);
        positions.push_back(best.members[i]->s);
        series.emplace_back(best.orders[i], best.members[i]->theta);
    }
    std::sort(series.begin(), series.end());
    for (const auto& [order, theta] : series) {
        result.satelliteOrder.push_back(order);
        result.satelliteTheta.push_back(theta);
    }
    const double slope = fittedSlope(orders, positions);
    if (slope > 0.0)
        result.period = wavelength / (2.0 * slope);
}

void findFringes(const std::vector<Candidate>& peaks, const Candidate& main,
                 const Candidate* substrate, double wavelength, PeakAnalysis& result) {
    // Consecutive maxima on either side of the layer peak, up to the substrate peak.
    std::vector<double> spacings;
    const std::ptrdiff_t at = &main - peaks.data();
    for (int direction : {-1, 1}) {
        const Candidate* previous = nullptr;
        for (std::ptrdiff_t i = at + direction; i >= 0 && i < std::ptrdiff_t(peaks.size());
             i += direction) {
            const Candidate& p = peaks[std::size_t(i)];
            if (&p == substrate)
                break;
            if (previous)
                spacings.push_back(std::fabs(p.s - previous->s));
            previous = &p;
        }
    }
    if (spacings.size() < 2)
        return;
    std::vector<double> sorted = spacings;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2),
                     sorted.end());
    const double median = sorted[sorted.size() / 2];
    double sum = 0.0;
    int used = 0;
    for (double d : spacings)
        if (std::fabs(d - median) <= 0.25 * median) {
            sum += d;
            ++used;
        }
    if (used < 2 || !(sum > 0.0))
        return;
    result.fringesUsed = used;
    result.thickness = wavelength / (2.0 * sum / used);
}

} // namespace

PeakAnalysis analysePeaks(const QVector<double>& theta, const QVector<double>& intensity,
                          double wavelength, double substrateBragg, bool superlattice,
                          const PeakOptions& options) {
    PeakAnalysis result;
    const Curve c = prepare(theta, intensity, options.smoothingPoints);
    const std::vector<Candidate> peaks = findMaxima(c, options.minProminence);
    for (const Candidate& p : peaks)
        result.peaks.push_back(toPeak(p));
    if (peaks.empty())
        return result;

    const Candidate* substrate = nullptr;
    if (std::isfinite(substrateBragg)) {
        for (const Candidate& p : peaks)
            if (std::fabs(p.theta - substrateBragg) <= kSubstrateWindow &&
                (!substrate || p.logIntensity > substrate->logIntensity))
                substrate = &p;
        if (!substrate)
            for (const Candidate& p : peaks)
                if (!substrate || std::fabs(p.theta - substrateBragg) <
                                      std::fabs(substrate->theta - substrateBragg))
                    substrate = &p;
        result.substrate = toPeak(*substrate);
    }
    const Candidate* main = nullptr;
    for (const Candidate& p : peaks)
        if (&p != substrate && (!main || p.logIntensity > main->logIntensity))
            main = &p;
    if (!main)
        return result;
    result.main = toPeak(*main);
    if (substrate)
        result.mismatch = substrate->s / main->s - 1.0;

    const bool lengthsKnown = wavelength > 0.0 && std::isfinite(wavelength);
    if (!lengthsKnown)
        return result;
    if (superlattice)
        findSatellites(peaks, *main, substrate, c, wavelength, result);
    else
        findFringes(peaks, *main, substrate, wavelength, result);
    return result;
}
