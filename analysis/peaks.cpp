#include "analysis/peaks.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double kDegree = 0.017453292519943295769;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The substrate peak is the highest maximum this close (degrees) to the substrate's Bragg
// angle, or failing any, the highest within kSubstrateSearch.
constexpr double kSubstrateWindow = 0.02;
constexpr double kSubstrateSearch = 0.3;
// A series member may sit this far (a fraction of the spacing) from its place in the series.
constexpr double kTolerance = 0.2;
// A maximum off the series that comes within this many decades of the last member's height
// contradicts the series: it is as much a part of the pattern as the members.
constexpr double kComparable = 0.7;
// The places of satellites and fringes are those of an ideal stack seen kinematically; the
// substrate's tail, the resolution and the dynamical effects move real ones by a few per cent
// of a spacing. Each place is taken as uncertain by at least this fraction of the spacing.
constexpr double kModelSpread = 0.04;
// Satellites stand this many standard deviations of the noise above their surroundings: the
// highest of many maxima of pure noise reach 4 or 5.
constexpr double kSatelliteSignificance = 6.0;
// Members of a series lie on its line to within this fraction of a spacing (root mean square).
constexpr double kEvenSpacing = 0.1;
// A maximum standing out this far (decades) is a clear peak, a candidate for the layer or
// zeroth-order peak.
constexpr double kClearPeak = 0.3;
// The strongest satellite is the zeroth order, by the curve alone, when it stands this many
// decades above both neighbouring orders: the envelope of one period peaks there. (The real
// 3-period InGaAs/GaAs scan's +1 order stands 0.8 decades above its neighbours.)
constexpr double kEnvelopeDecades = 1.0;
// Satellites stand at least this many widths of the zeroth order apart.
constexpr double kSatelliteWidths = 2.5;
// Series spacings are at least this many scan steps, so that neighbours are resolved.
constexpr double kMinSpacingSteps = 6.0;
// Points on either side of a point that its local noise is estimated from.
constexpr int kNoiseHalfWindow = 25;
// At most this many maxima (the most prominent) propose spacings for a series.
constexpr int kMaxProposers = 150;

// Positions of the side maxima of sinc^2(pi u): the roots of tan x = x over pi. Beyond the
// table, u_k = (k + 1/2) - 1 / (pi^2 (k + 1/2)).
constexpr std::array<double, 10> kSincMaxima = {1.430297, 2.459024, 3.470890, 4.477409, 5.481537,
                                                6.484387, 7.486464, 8.488047, 9.489296, 10.490309};

double sincMaximum(int k) {
    if (k < int(kSincMaxima.size()))
        return kSincMaxima[std::size_t(k)];
    const double h = k + 1.5;
    return h - 1.0 / (M_PI * M_PI * h);
}

QString tr(const char* text, int n = -1) {
    return QCoreApplication::translate("Peaks", text, nullptr, n);
}

struct Curve {
    std::vector<double> theta;
    std::vector<double> s;     // sin(theta)
    std::vector<double> raw;   // log10 intensity
    std::vector<double> y;     // smoothed log10 intensity
    std::vector<double> noise; // standard deviation of raw, locally
    double smoothing = 1.0;    // standard deviation of y over that of raw, for white noise
    double step = 0.0;         // median step of theta
};

struct Candidate {
    int index = 0;
    double theta = 0.0;
    double sigma = 0.0; // of theta, degrees
    double s = 0.0;
    double sigmaS = 0.0; // of sin(theta)
    double logIntensity = 0.0;
    double prominence = 0.0;
    double width = 0.0;           // full width at half maximum, in sin(theta)
    double isolation = kInfinity; // distance in sin(theta) to the nearest higher point
    double curvature = 0.0;       // -d2(log10 intensity)/d(theta)^2 at the top, per degree^2
    double noise = 0.0;           // standard deviation of the smoothed curve's noise there
};

double median(std::vector<double> v) {
    if (v.empty())
        return kNaN;
    const auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

void smooth(Curve& c, double sigma) {
    const int m = int(c.raw.size());
    if (!(sigma > 0.0) || !std::isfinite(sigma) || m < 2) {
        c.y = c.raw;
        return;
    }
    const int half = int(std::min(std::ceil(3.0 * sigma), double(m - 1)));
    std::vector<double> w(std::size_t(half) + 1);
    double total = 0.0;
    for (int k = 0; k <= half; ++k) {
        w[std::size_t(k)] = std::exp(-0.5 * (k / sigma) * (k / sigma));
        total += (k == 0 ? 1.0 : 2.0) * w[std::size_t(k)];
    }
    double squares = 0.0;
    for (int k = 0; k <= half; ++k)
        squares += (k == 0 ? 1.0 : 2.0) * w[std::size_t(k)] * w[std::size_t(k)];
    c.smoothing = std::sqrt(squares) / total;
    c.y.resize(c.raw.size());
    for (int i = 0; i < m; ++i) {
        double sum = 0.0;
        double weight = 0.0;
        for (int j = std::max(0, i - half); j <= std::min(m - 1, i + half); ++j) {
            sum += w[std::size_t(std::abs(j - i))] * c.raw[std::size_t(j)];
            weight += w[std::size_t(std::abs(j - i))];
        }
        c.y[std::size_t(i)] = sum / weight;
    }
}

// The local noise of the raw log intensity, from the mean absolute second difference around
// each point (the counts of a weak scan take few values, so a median would often be zero),
// estimated in blocks of points to keep the work linear.
void estimateNoise(Curve& c) {
    const int m = int(c.raw.size());
    c.noise.assign(c.raw.size(), 0.0);
    if (m < 3)
        return;
    std::vector<double> second(c.raw.size(), 0.0);
    for (int i = 1; i + 1 < m; ++i)
        second[std::size_t(i)] = std::fabs(
            c.raw[std::size_t(i)] - 0.5 * (c.raw[std::size_t(i - 1)] + c.raw[std::size_t(i + 1)]));
    second.front() = second[1];
    second.back() = second[std::size_t(m - 2)];
    // For white noise the second difference has 1.5 times the variance, and the mean absolute
    // value of a normal variable is sqrt(2 / pi) of its standard deviation.
    const double scale = std::sqrt(M_PI / 2.0) / std::sqrt(1.5);
    constexpr int kBlock = 16;
    for (int start = 0; start < m; start += kBlock) {
        const int centre = std::min(m - 1, start + kBlock / 2);
        const int from = std::max(0, centre - kNoiseHalfWindow);
        const int to = std::min(m, centre + kNoiseHalfWindow + 1);
        double sum = 0.0;
        for (int i = from; i < to; ++i)
            sum += second[std::size_t(i)];
        const double sigma = scale * sum / (to - from);
        for (int i = start; i < std::min(m, start + kBlock); ++i)
            c.noise[std::size_t(i)] = sigma;
    }
}

Curve prepare(const QVector<double>& theta, const QVector<double>& intensity,
              const PeakOptions& options) {
    Curve c;
    const int n = std::min(theta.size(), intensity.size());
    double minPositive = kInfinity;
    for (int i = 0; i < n; ++i)
        if (intensity[i] > 0.0 && std::isfinite(intensity[i]))
            minPositive = std::min(minPositive, intensity[i]);
    if (!std::isfinite(minPositive))
        return c;
    // The logarithm of the intensity plus a fifth of the lowest decile (at least the
    // smallest positive intensity): the few counts of the background and zero counts no
    // longer make holes a decade deep, whose edges would look like peaks; peaks well above
    // the background keep their shape.
    std::vector<double> sorted;
    for (int i = 0; i < n; ++i)
        if (std::isfinite(intensity[i]))
            sorted.push_back(std::max(intensity[i], 0.0));
    const auto decile = sorted.begin() + std::ptrdiff_t(sorted.size() / 10);
    std::nth_element(sorted.begin(), decile, sorted.end());
    const double offset = std::max(minPositive, 0.2 * *decile);
    for (int i = 0; i < n; ++i) {
        const double t = theta[i];
        if (!std::isfinite(t) || std::fabs(t) > 90.0 || !std::isfinite(intensity[i]))
            continue;
        if (!c.theta.empty() && !(t > c.theta.back()))
            continue;
        c.theta.push_back(t);
        c.s.push_back(std::sin(t * kDegree));
        c.raw.push_back(std::log10(std::max(intensity[i], 0.0) + offset));
    }
    if (c.theta.size() < 2)
        return c;
    std::vector<double> steps;
    for (std::size_t i = 1; i < c.theta.size(); ++i)
        steps.push_back(c.theta[i] - c.theta[i - 1]);
    c.step = median(steps);
    smooth(c, options.smoothingPoints);
    estimateNoise(c);
    return c;
}

// For every point, the nearest strictly higher point on one side (-1 if none) and the
// minimum between them (the point included; the whole side when there is none): one pass
// with a stack of descending values.
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

// Solves the 3x3 system a x = b by Cramer's rule; false when it is singular.
bool solve3(const double a[3][3], const double b[3], double x[3]) {
    auto det = [](const double m[3][3]) {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
               m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    };
    const double d = det(a);
    if (!(std::fabs(d) > 0.0) || !std::isfinite(d))
        return false;
    for (int col = 0; col < 3; ++col) {
        double m[3][3];
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k)
                m[r][k] = k == col ? b[r] : a[r][k];
        x[col] = det(m) / d;
    }
    return true;
}

// The position of the maximum at point k and its standard uncertainty: a least-squares
// parabola through the raw log intensity of the peak's top (down to a drop of at most 0.3
// decades), its covariance from the scatter about it or from the local noise, whichever is
// larger. Falls back to the parabola through the smoothed point and its neighbours.
void refine(const Curve& c, std::size_t k, Candidate& p) {
    const double drop = std::clamp(0.5 * p.prominence, 0.02, 0.3);
    const int m = int(c.y.size());
    int lo = int(k);
    int hi = int(k);
    while (lo > 0 && int(k) - lo < 40 && c.y[std::size_t(lo - 1)] >= c.y[k] - drop)
        --lo;
    while (hi + 1 < m && hi - int(k) < 40 && c.y[std::size_t(hi + 1)] >= c.y[k] - drop)
        ++hi;
    lo = std::max(0, std::min(lo, int(k) - 1));
    hi = std::min(m - 1, std::max(hi, int(k) + 1));
    const double t0 = c.theta[k];
    // Centred and scaled abscissa keeps the normal equations well conditioned.
    const double h = std::max(c.theta[std::size_t(hi)] - c.theta[std::size_t(lo)], 1e-12);
    double a[3][3] = {};
    double b[3] = {};
    for (int i = lo; i <= hi; ++i) {
        const double u = (c.theta[std::size_t(i)] - t0) / h;
        const double basis[3] = {1.0, u, u * u};
        for (int r = 0; r < 3; ++r) {
            for (int q = 0; q < 3; ++q)
                a[r][q] += basis[r] * basis[q];
            b[r] += basis[r] * c.raw[std::size_t(i)];
        }
    }
    double x[3];
    const int points = hi - lo + 1;
    bool ok = solve3(a, b, x) && x[2] < 0.0;
    double vertex = ok ? -x[1] / (2.0 * x[2]) : 0.0;
    ok = ok && std::isfinite(vertex) && vertex * h >= c.theta[std::size_t(lo)] - t0 &&
         vertex * h <= c.theta[std::size_t(hi)] - t0;
    if (ok) {
        double rss = 0.0;
        for (int i = lo; i <= hi; ++i) {
            const double u = (c.theta[std::size_t(i)] - t0) / h;
            const double r = c.raw[std::size_t(i)] - (x[0] + x[1] * u + x[2] * u * u);
            rss += r * r;
        }
        double variance = c.noise[k] * c.noise[k];
        if (points > 3)
            variance = std::max(variance, rss / (points - 3));
        // Covariance of (x1, x2): variance times the inverse of the normal matrix.
        double inv[3][3];
        bool invertible = true;
        for (int col = 0; col < 3 && invertible; ++col) {
            const double e[3] = {col == 0 ? 1.0 : 0.0, col == 1 ? 1.0 : 0.0, col == 2 ? 1.0 : 0.0};
            double column[3];
            invertible = solve3(a, e, column);
            for (int r = 0; r < 3; ++r)
                inv[r][col] = column[r];
        }
        const double g1 = -1.0 / (2.0 * x[2]);
        const double g2 = x[1] / (2.0 * x[2] * x[2]);
        const double var =
            invertible
                ? variance * (g1 * g1 * inv[1][1] + 2 * g1 * g2 * inv[1][2] + g2 * g2 * inv[2][2])
                : kNaN;
        p.theta = t0 + vertex * h;
        p.sigma = std::sqrt(std::max(var, 0.0)) * h;
        if (!std::isfinite(p.sigma))
            p.sigma = 0.5 * c.step;
        p.logIntensity = x[0] + x[1] * vertex + x[2] * vertex * vertex;
        p.curvature = -2.0 * x[2] / (h * h);
    } else {
        const double h0 = c.theta[k - 1] - c.theta[k];
        const double h2 = c.theta[k + 1] - c.theta[k];
        const double d0 = c.y[k - 1] - c.y[k];
        const double d2 = c.y[k + 1] - c.y[k];
        const double qa = (h0 * d2 - h2 * d0) / (h0 * h2 * (h2 - h0));
        const double qb = (d0 * h2 * h2 - d2 * h0 * h0) / (h0 * h2 * (h2 - h0));
        double u = 0.0;
        if (qa < 0.0 && std::isfinite(qa) && std::isfinite(qb))
            u = std::clamp(-qb / (2.0 * qa), h0, h2);
        p.theta = c.theta[k] + u;
        p.sigma = 0.5 * c.step;
        p.logIntensity = c.y[k] + std::max(0.0, qb * u + qa * u * u);
        p.curvature = std::isfinite(qa) ? -2.0 * qa : 0.0;
    }
    // Sampled on a grid, a position is never known better than a twentieth of a step.
    p.sigma = std::max(p.sigma, 0.05 * c.step);
    if (!std::isfinite(p.logIntensity))
        p.logIntensity = c.y[k];
    p.s = std::sin(p.theta * kDegree);
    p.sigmaS = std::cos(p.theta * kDegree) * p.sigma * kDegree;
}

// The full width at half maximum, in sin(theta), of the maximum at point k of the smoothed
// curve: twice the narrower half, so that a shoulder on one side does not widen it.
double fullWidth(const Curve& c, int k) {
    const double half = c.y[std::size_t(k)] - std::log10(2.0);
    const int n = int(c.y.size());
    int lo = k;
    int hi = k;
    while (lo > 0 && c.y[std::size_t(lo)] > half)
        --lo;
    while (hi + 1 < n && c.y[std::size_t(hi)] > half)
        ++hi;
    const double left = c.s[std::size_t(k)] - c.s[std::size_t(lo)];
    const double right = c.s[std::size_t(hi)] - c.s[std::size_t(k)];
    return 2.0 * std::min(left, right);
}

// The maxima of the smoothed curve that stand above the noise, by theta.
std::vector<Candidate> findMaxima(const Curve& c, const PeakOptions& options) {
    std::vector<Candidate> found;
    const int n = int(c.y.size());
    if (n < 3)
        return found;
    std::vector<int> leftHigher, rightHigher;
    std::vector<double> leftBase, rightBase;
    nearestHigher(c.y, true, leftHigher, leftBase);
    nearestHigher(c.y, false, rightHigher, rightBase);
    const double floor = std::isfinite(options.minProminence) ? options.minProminence : 0.0;
    const double times = std::isfinite(options.significance) ? options.significance : 0.0;
    for (int i = 1; i + 1 < n; ++i) {
        const std::size_t k = std::size_t(i);
        if (!(c.y[k] > c.y[k - 1] && c.y[k] >= c.y[k + 1]))
            continue;
        const double prominence = c.y[k] - std::max(leftBase[k], rightBase[k]);
        if (!(prominence >= std::max(floor, times * c.noise[k] * c.smoothing)))
            continue;
        Candidate p;
        p.index = i;
        p.prominence = prominence;
        p.noise = c.noise[k] * c.smoothing;
        refine(c, k, p);
        p.width = fullWidth(c, i);
        if (leftHigher[k] >= 0)
            p.isolation = c.s[k] - c.s[std::size_t(leftHigher[k])];
        if (rightHigher[k] >= 0)
            p.isolation = std::min(p.isolation, c.s[std::size_t(rightHigher[k])] - c.s[k]);
        found.push_back(p);
    }
    return found;
}

Peak toPeak(const Candidate& c) {
    Peak p;
    p.theta = c.theta;
    p.sigma = c.sigma;
    p.intensity = std::pow(10.0, std::min(c.logIntensity, 300.0));
    p.prominence = c.prominence;
    return p;
}

// The factor that turns a standard deviation estimated from `dof` degrees of freedom into a
// 68 % interval: Student's t quantile at 0.8413.
double studentFactor(int dof) {
    constexpr std::array<double, 10> table = {1.837, 1.321, 1.197, 1.142, 1.111,
                                              1.091, 1.077, 1.067, 1.059, 1.053};
    if (dof < 1)
        return kInfinity;
    if (dof <= int(table.size()))
        return table[std::size_t(dof - 1)];
    return 1.0 + 0.53 / dof;
}

// Least-squares line y = a + b x; b, and its standard uncertainty from the scatter about the
// line (widened by Student's factor for the few points) or from the points' own
// uncertainties, whichever is larger.
struct Line {
    double slope = kNaN;
    double slopeSigma = kNaN;
    double intercept = kNaN;
    double rms = kNaN; // of the residuals
};

Line fitLine(const std::vector<double>& x, const std::vector<double>& y,
             const std::vector<double>& sigma) {
    Line line;
    const std::size_t n = x.size();
    if (n < 3)
        return line;
    double mx = 0.0, my = 0.0, ms = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        mx += x[i];
        my += y[i];
        ms += sigma[i] * sigma[i];
    }
    mx /= double(n);
    my /= double(n);
    ms /= double(n);
    double sxy = 0.0, sxx = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
    }
    if (!(sxx > 0.0))
        return line;
    line.slope = sxy / sxx;
    line.intercept = my - line.slope * mx;
    double rss = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = y[i] - line.intercept - line.slope * x[i];
        rss += r * r;
    }
    line.rms = std::sqrt(rss / double(n));
    const double t = studentFactor(int(n) - 2);
    line.slopeSigma = std::sqrt(std::max(t * t * rss / double(n - 2), ms) / sxx);
    return line;
}

// A series of maxima at places centre + side * spacing * position(k), k = 0, 1, ..., on
// both sides of a centre maximum: the satellites of a superlattice (position k + 1) or the
// fringes beside a layer peak (the side maxima of sinc^2).
struct Series {
    double spacing = 0.0;
    std::vector<int> members; // indices into the maxima
    std::vector<int> sides;   // -1 or +1
    std::vector<int> ks;      // place on that side, from 0
    int conflicts = 0;        // maxima off the series as high as its members
    int gaps = 0;             // places left empty between members
};

struct SeriesRules {
    double (*position)(int k) = nullptr;
    // Teeth before the first member on a side that may stay empty (a first fringe lost in
    // the layer peak's flank).
    int leadingGaps = 0;
    // Does the series stop at the substrate peak (fringes) or merely skip the places it
    // hides (satellites)?
    bool stopAtSubstrate = false;
};

double satellitePosition(int k) {
    return k + 1.0;
}

Series followSeries(const std::vector<Candidate>& maxima, int centre, double sSubstrate,
                    double spacing, const SeriesRules& rules) {
    Series series;
    series.spacing = spacing;
    const double tolerance = kTolerance * spacing;
    const double s0 = maxima[std::size_t(centre)].s;
    const double sMin = maxima.front().s - spacing;
    const double sMax = maxima.back().s + spacing;
    for (int side : {-1, 1}) {
        double lastLog = maxima[std::size_t(centre)].logIntensity;
        int found = 0;
        for (int k = 0; k < 100000; ++k) {
            const double tooth = s0 + side * spacing * rules.position(k);
            if (tooth < sMin || tooth > sMax)
                break;
            if (std::isfinite(sSubstrate)) {
                if (std::fabs(tooth - sSubstrate) < 0.5 * spacing)
                    continue;
                if (rules.stopAtSubstrate && side * (sSubstrate - s0) > 0.0 &&
                    side * (tooth - sSubstrate) > 0.0)
                    break;
            }
            // The highest maximum between this place and its neighbours' (theirs excluded).
            const double lo = tooth - spacing + tolerance;
            const double hi = tooth + spacing - tolerance;
            auto first = std::lower_bound(maxima.begin(), maxima.end(), lo,
                                          [](const Candidate& p, double v) { return p.s < v; });
            const Candidate* best = nullptr;
            for (auto it = first; it != maxima.end() && it->s <= hi; ++it) {
                if (it - maxima.begin() == centre)
                    continue;
                if (std::isfinite(sSubstrate) && std::fabs(it->s - sSubstrate) < tolerance)
                    continue;
                if (!best || it->logIntensity > best->logIntensity)
                    best = &*it;
            }
            if (!best) {
                if (found == 0 && k < rules.leadingGaps)
                    continue;
                break;
            }
            if (std::fabs(best->s - tooth) <= tolerance) {
                series.members.push_back(int(best - maxima.data()));
                series.sides.push_back(side);
                series.ks.push_back(k);
                lastLog = best->logIntensity;
                ++found;
                continue;
            }
            if (best->logIntensity > lastLog - kComparable)
                ++series.conflicts;
            break;
        }
    }
    return series;
}

// The satellites s0 + n * spacing around the zeroth order at s0. A satellite stands out over
// at least half a spacing (the nearest higher point is no closer): the weaker maxima between
// satellites, the fringes of the whole stack, do not, and neither does a satellite taken as
// the first order of a series of twice the spacing. At each place the highest such maximum
// within the tolerance; two places in a row left empty end the series on their side (places
// the substrate peak hides do not count). Such maxima off the places, inside the series, contradict
// it.
Series followSatellites(const std::vector<Candidate>& maxima, int centre, double sSubstrate,
                        double spacing) {
    Series series;
    series.spacing = spacing;
    const double tolerance = kTolerance * spacing;
    const double s0 = maxima[std::size_t(centre)].s;
    const double sMin = maxima.front().s - tolerance;
    const double sMax = maxima.back().s + tolerance;
    auto standsOut = [&](const Candidate& p) {
        return p.isolation >= 0.5 * spacing && p.prominence >= kSatelliteSignificance * p.noise;
    };
    double low = s0;
    double high = s0;
    for (int side : {-1, 1}) {
        int missing = 0;
        for (int k = 0; k < 100000; ++k) {
            const double tooth = s0 + side * spacing * (k + 1);
            if (tooth < sMin || tooth > sMax)
                break;
            if (std::isfinite(sSubstrate) && std::fabs(tooth - sSubstrate) < 0.5 * spacing)
                continue;
            auto first = std::lower_bound(maxima.begin(), maxima.end(), tooth - tolerance,
                                          [](const Candidate& p, double v) { return p.s < v; });
            const Candidate* best = nullptr;
            for (auto it = first; it != maxima.end() && it->s <= tooth + tolerance; ++it)
                if (standsOut(*it) && (!best || it->logIntensity > best->logIntensity))
                    best = &*it;
            if (!best) {
                // One order may be missing (the envelope of a period can vanish there), not
                // two in a row.
                if (++missing > 1)
                    break;
                continue;
            }
            series.gaps += missing;
            missing = 0;
            series.members.push_back(int(best - maxima.data()));
            series.sides.push_back(side);
            series.ks.push_back(k);
            low = std::min(low, best->s);
            high = std::max(high, best->s);
        }
    }
    for (int i = 0; i < int(maxima.size()); ++i) {
        const Candidate& p = maxima[std::size_t(i)];
        if (i == centre || p.s <= low || p.s >= high || !standsOut(p))
            continue;
        if (std::find(series.members.begin(), series.members.end(), i) != series.members.end())
            continue;
        const double offset = (p.s - s0) / spacing;
        if (std::fabs(offset - std::round(offset)) * spacing > tolerance)
            ++series.conflicts;
    }
    return series;
}

// Spacings that would put some maximum at a place of a series around the centre.
std::vector<double> proposedSpacings(const std::vector<Candidate>& maxima, int centre,
                                     double minSpacing, double (*position)(int), int places) {
    std::vector<const Candidate*> proposers;
    for (const Candidate& p : maxima)
        if (&p != &maxima[std::size_t(centre)])
            proposers.push_back(&p);
    if (int(proposers.size()) > kMaxProposers) {
        std::partial_sort(
            proposers.begin(), proposers.begin() + kMaxProposers, proposers.end(),
            [](const Candidate* a, const Candidate* b) { return a->prominence > b->prominence; });
        proposers.resize(kMaxProposers);
    }
    std::vector<double> spacings;
    for (const Candidate* p : proposers) {
        const double distance = std::fabs(p->s - maxima[std::size_t(centre)].s);
        for (int k = 0; k < places; ++k) {
            const double d = distance / position(k);
            if (d >= minSpacing && std::isfinite(d))
                spacings.push_back(d);
        }
    }
    return spacings;
}

QString orderList(const std::vector<int>& orders) {
    QStringList parts;
    for (int o : orders)
        parts << (o > 0 ? QStringLiteral("+%1").arg(o) : QString::number(o));
    return parts.join(QStringLiteral(", "));
}

void findSatellites(const std::vector<Candidate>& maxima, int centre, double sSubstrate,
                    double minSpacing, double wavelength, PeakAnalysis& result) {
    // The satellites of a superlattice of N periods stand N / 0.886 widths of the zeroth
    // order apart (its width and theirs are those of the whole stack); the fringes beside a
    // single layer's peak stand about 1.1 to 1.6 of its widths apart. Three periods at least
    // make a superlattice here.
    minSpacing = std::max(minSpacing, kSatelliteWidths * maxima[std::size_t(centre)].width);
    const std::vector<double> spacings =
        proposedSpacings(maxima, centre, minSpacing, satellitePosition, 3);
    // The series that explains the most orders, each order it leaves empty counting against
    // it, without contradiction: a finer one takes the weak maxima between the satellites
    // for satellites too and leaves its places empty, a coarser one leaves out satellites
    // that stand out as far as its own members. Among equals the coarsest.
    Series best;
    Series bestPair;
    int bestScore = 0;
    for (double d : spacings) {
        Series s = followSatellites(maxima, centre, sSubstrate, d);
        // A maximum off the series standing out as far as its members counts twice against
        // it; more than one for every three members rules it out.
        if (s.members.empty() || 3 * s.conflicts > int(s.members.size()))
            continue;
        const int score = int(s.members.size()) - s.gaps - 2 * s.conflicts;
        if (s.members.size() >= 2 &&
            (score > bestScore || (score == bestScore && d > best.spacing)))
            best = s, bestScore = score;
        if (s.members.size() == 1 && s.conflicts == 0 && d > bestPair.spacing)
            bestPair = s;
    }
    if (best.members.empty()) {
        if (!bestPair.members.empty())
            result.period.why =
                tr("only one satellite (order %1) stands out beside the zeroth order; a period "
                   "needs three orders")
                    .arg(orderList({bestPair.sides[0] * (bestPair.ks[0] + 1)}));
        else
            result.period.why = tr("no maxima stand out at equal spacings around the layer or "
                                   "zeroth-order peak");
        return;
    }
    // Once more with the spacing of the line through the members (more orders may join).
    auto lineOf = [&](const Series& s) {
        // By order: the zeroth and the members.
        std::vector<std::pair<int, const Candidate*>> byOrder{{0, &maxima[std::size_t(centre)]}};
        for (std::size_t i = 0; i < s.members.size(); ++i)
            byOrder.emplace_back(s.sides[i] * (s.ks[i] + 1), &maxima[std::size_t(s.members[i])]);
        std::sort(byOrder.begin(), byOrder.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<double> x, y, sigma;
        for (std::size_t i = 0; i < byOrder.size(); ++i) {
            const Candidate& p = *byOrder[i].second;
            // Each satellite is the interference function of the stack times the envelope
            // of one period; a sloping envelope pulls the maximum off its place by
            // slope / curvature (both of log intensity). The envelope's slope is that of the
            // satellites' own heights, from the neighbouring orders; a quarter of the shift
            // joins the uncertainty.
            const Candidate* before = i > 0 ? byOrder[i - 1].second : nullptr;
            const Candidate* after = i + 1 < byOrder.size() ? byOrder[i + 1].second : nullptr;
            const Candidate* a = before ? before : &p;
            const Candidate* b = after ? after : &p;
            double theta = p.theta;
            double sigmaTheta = p.sigma;
            if (a != b && p.curvature > 0.0) {
                const double slope = (b->logIntensity - a->logIntensity) / (b->theta - a->theta);
                const double shift = slope / p.curvature;
                const double spacingTheta =
                    std::fabs(b->theta - a->theta) / (a == &p || b == &p ? 1.0 : 2.0);
                if (std::isfinite(shift) && std::fabs(shift) < 0.25 * spacingTheta) {
                    theta -= shift;
                    sigmaTheta = std::hypot(sigmaTheta, 0.25 * shift);
                }
            }
            x.push_back(byOrder[i].first);
            y.push_back(std::sin(theta * kDegree));
            sigma.push_back(std::max(std::cos(theta * kDegree) * sigmaTheta * kDegree,
                                     kModelSpread * s.spacing));
        }
        return fitLine(x, y, sigma);
    };
    Line line = lineOf(best);
    if (line.slope > minSpacing) {
        Series again = followSatellites(maxima, centre, sSubstrate, line.slope);
        if (again.conflicts <= best.conflicts && again.members.size() >= best.members.size()) {
            best = again;
            line = lineOf(best);
        }
    }
    // Satellites lie on their line to a few per cent of a spacing; maxima that fall in the
    // tolerance of a series by chance scatter over a tenth and more.
    if (!(line.slope > 0.0) || !(line.rms <= kEvenSpacing * line.slope)) {
        result.period.why = tr("the maxima around the zeroth order are not evenly spaced");
        return;
    }
    std::vector<std::pair<int, double>> series{{0, maxima[std::size_t(centre)].theta}};
    for (std::size_t i = 0; i < best.members.size(); ++i)
        series.emplace_back(best.sides[i] * (best.ks[i] + 1),
                            maxima[std::size_t(best.members[i])].theta);
    std::sort(series.begin(), series.end());
    for (const auto& [order, theta] : series) {
        result.satelliteOrder.push_back(order);
        result.satelliteTheta.push_back(theta);
    }
    result.period.value = wavelength / (2.0 * line.slope);
    result.period.sigma = result.period.value * line.slopeSigma / line.slope;
}

void findFringes(const std::vector<Candidate>& maxima, int centre, double sSubstrate,
                 double minSpacing, double wavelength, PeakAnalysis& result) {
    const SeriesRules rules{sincMaximum, 1, true};
    const std::vector<double> spacings =
        proposedSpacings(maxima, centre, minSpacing, sincMaximum, 6);
    // The series with the most fringes, each contradiction counting against it twice.
    Series best;
    int bestScore = std::numeric_limits<int>::min();
    for (double d : spacings) {
        Series s = followSeries(maxima, centre, sSubstrate, d, rules);
        const int score = int(s.members.size()) - 2 * s.conflicts;
        if (score > bestScore || (score == bestScore && d > best.spacing)) {
            best = s;
            bestScore = score;
        }
    }
    // The places of the fringes: sin(theta) = centre + side * spacing * u_k, a straight line
    // in side * u_k whose slope is the spacing.
    auto lineOf = [&](const Series& s) {
        std::vector<double> x, y, sigma;
        for (std::size_t i = 0; i < s.members.size(); ++i) {
            x.push_back(s.sides[i] * sincMaximum(s.ks[i]));
            y.push_back(maxima[std::size_t(s.members[i])].s);
            sigma.push_back(
                std::max(maxima[std::size_t(s.members[i])].sigmaS, kModelSpread * s.spacing));
        }
        return fitLine(x, y, sigma);
    };
    constexpr int kNeeded = 4;
    if (int(best.members.size()) >= kNeeded) {
        const Line line = lineOf(best);
        if (line.slope > minSpacing) {
            Series again = followSeries(maxima, centre, sSubstrate, line.slope, rules);
            if (again.members.size() >= best.members.size() && again.conflicts <= best.conflicts)
                best = again;
        }
    }
    const int used = int(best.members.size());
    if (used < kNeeded) {
        result.thickness.why =
            used == 0 ? tr("no fringes stand above the noise beside the layer peak")
                      : tr("only %n fringe(s) stand above the noise beside the layer peak; a "
                           "thickness needs four",
                           used);
        return;
    }
    const Line line = lineOf(best);
    if (!(line.slope > 0.0) || !(line.rms <= kEvenSpacing * line.slope)) {
        result.thickness.why = tr("the fringes found are not evenly spaced");
        return;
    }
    result.fringesUsed = used;
    result.thickness.value = wavelength / (2.0 * line.slope);
    result.thickness.sigma = result.thickness.value * line.slopeSigma / line.slope;
}

} // namespace

// Perpendicular mismatch of a peak to the substrate's, with its uncertainty.
Figure mismatchOf(const Candidate& l, const Candidate& s) {
    Figure f;
    f.value = s.s / l.s - 1.0;
    const double bySubstrate = std::cos(s.theta * kDegree) / l.s * s.sigma * kDegree;
    const double byLayer = s.s * std::cos(l.theta * kDegree) / (l.s * l.s) * l.sigma * kDegree;
    f.sigma = std::hypot(bySubstrate, byLayer);
    return f;
}

// Which satellite is the zeroth order: the one nearest the structure's mean mismatch when it is
// known; by the curve alone the strongest only where the envelope decides it. The orders are
// renumbered from it, and the main peak and the mismatch are its own; when it is not
// determined, neither are they.
void chooseZerothOrder(const std::vector<Candidate>& maxima, int main, const Candidate& substrate,
                       bool haveSubstrate, double meanMismatch, PeakAnalysis& result) {
    const auto candidateAt = [&](double theta) -> const Candidate* {
        for (const Candidate& c : maxima)
            if (c.theta == theta)
                return &c;
        return nullptr;
    };
    int zeroth = -1; // index into the satellites
    if (std::isfinite(meanMismatch) && haveSubstrate) {
        double nearest = kInfinity;
        for (int i = 0; i < result.satelliteTheta.size(); ++i) {
            const Candidate* c = candidateAt(result.satelliteTheta[i]);
            const double miss = c ? std::fabs(substrate.s / c->s - 1.0 - meanMismatch) : kInfinity;
            if (miss < nearest) {
                nearest = miss;
                zeroth = i;
            }
        }
    } else {
        const int strongest = result.satelliteOrder.indexOf(0);
        double neighbours = -kInfinity;
        for (int i = 0; i < result.satelliteOrder.size(); ++i)
            if (std::abs(result.satelliteOrder[i]) == 1)
                if (const Candidate* c = candidateAt(result.satelliteTheta[i]))
                    neighbours = std::max(neighbours, c->logIntensity);
        if (strongest >= 0 &&
            maxima[std::size_t(main)].logIntensity - neighbours >= kEnvelopeDecades)
            zeroth = strongest;
    }
    const Candidate* chosen = zeroth >= 0 ? candidateAt(result.satelliteTheta[zeroth]) : nullptr;
    if (!chosen) {
        const QString why = tr("zeroth order not determined: the strongest satellite need not be "
                               "the zeroth order (compare the scan with a structure)");
        result.main = Peak();
        result.mainWhy = why;
        result.mismatch = Figure();
        result.mismatch.why = why;
        return;
    }
    const int shift = result.satelliteOrder[zeroth];
    for (int& order : result.satelliteOrder)
        order -= shift;
    result.main = toPeak(*chosen);
    if (haveSubstrate)
        result.mismatch = mismatchOf(*chosen, substrate);
}

PeakAnalysis analysePeaks(const QVector<double>& theta, const QVector<double>& intensity,
                          double wavelength, double substrateBragg, const PeakOptions& options) {
    PeakAnalysis result;
    const Curve c = prepare(theta, intensity, options);
    std::vector<Candidate> maxima = findMaxima(c, options);
    for (const Candidate& p : maxima)
        result.peaks.push_back(toPeak(p));
    {
        std::vector<double> noise;
        for (double v : c.noise)
            noise.push_back(v * c.smoothing);
        result.noise = noise.empty() ? 0.0 : median(noise);
    }
    const QString noPeaks = tr("no maxima stand above the noise");

    // The substrate.
    int substrate = -1;
    if (!std::isfinite(substrateBragg)) {
        result.substrateWhy = tr("the curve covers no reflection of the substrate");
    } else {
        for (double window : {kSubstrateWindow, kSubstrateSearch}) {
            for (int i = 0; i < int(maxima.size()); ++i)
                if (std::fabs(maxima[std::size_t(i)].theta - substrateBragg) <= window &&
                    (substrate < 0 || maxima[std::size_t(i)].logIntensity >
                                          maxima[std::size_t(substrate)].logIntensity))
                    substrate = i;
            if (substrate >= 0)
                break;
        }
        if (substrate >= 0)
            result.substrate = toPeak(maxima[std::size_t(substrate)]);
        else
            result.substrateWhy = tr("no maximum stands above the noise within %1° of the "
                                     "substrate's Bragg angle %2°")
                                      .arg(kSubstrateSearch)
                                      .arg(substrateBragg, 0, 'f', 4);
    }
    const double sSubstrate = substrate >= 0 ? maxima[std::size_t(substrate)].s : kNaN;
    const Candidate substratePeak = substrate >= 0 ? maxima[std::size_t(substrate)] : Candidate{};
    if (substrate >= 0)
        maxima.erase(maxima.begin() + substrate);

    // The layer or zeroth-order peak.
    // The highest that stands out clearly (a satellite or fringe on the flank of the
    // substrate peak may be higher without standing out), or failing any, the highest.
    int main = -1;
    for (double least : {kClearPeak, 0.0}) {
        for (int i = 0; i < int(maxima.size()); ++i)
            if (maxima[std::size_t(i)].prominence >= least &&
                (main < 0 ||
                 maxima[std::size_t(i)].logIntensity > maxima[std::size_t(main)].logIntensity))
                main = i;
        if (main >= 0)
            break;
    }
    const QString noMain = maxima.empty() && substrate < 0
                               ? noPeaks
                               : tr("no maximum other than the substrate's stands above the noise");
    if (main >= 0)
        result.main = toPeak(maxima[std::size_t(main)]);
    else
        result.mainWhy = noMain;

    if (main >= 0 && substrate >= 0) {
        const Candidate& l = maxima[std::size_t(main)];
        const Candidate& s = substratePeak;
        result.mismatch.value = s.s / l.s - 1.0;
        const double bySubstrate = std::cos(s.theta * kDegree) / l.s * s.sigma * kDegree;
        const double byLayer = s.s * std::cos(l.theta * kDegree) / (l.s * l.s) * l.sigma * kDegree;
        result.mismatch.sigma = std::hypot(bySubstrate, byLayer);
        result.strongestMismatch = result.mismatch;
    } else {
        result.mismatch.why = main < 0 ? noMain : result.substrateWhy;
    }

    const bool lengthsKnown = wavelength > 0.0 && std::isfinite(wavelength);
    if (!lengthsKnown || main < 0) {
        const QString why = main < 0 ? noMain : tr("no wavelength");
        result.period.why = why;
        result.thickness.why = why;
        return result;
    }
    const double minSpacing =
        kMinSpacingSteps * c.step * kDegree * std::cos(maxima[std::size_t(main)].theta * kDegree);
    findSatellites(maxima, main, sSubstrate, minSpacing, wavelength, result);
    if (result.period.known()) {
        result.thickness.why = tr("the curve shows the satellites of a superlattice, not the "
                                  "fringes of a single layer");
        chooseZerothOrder(maxima, main, substratePeak, substrate >= 0, options.meanMismatch,
                          result);
    } else
        findFringes(maxima, main, sSubstrate, minSpacing, wavelength, result);
    return result;
}
