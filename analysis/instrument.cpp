#include "instrument.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kLn10 = 2.302585092994045684;
// FWHM / sigma of a Gaussian: 2 sqrt(2 ln 2).
constexpr double kFwhmPerSigma = 2.354820045030949382;
// The kernel reaches this many standard deviations either side (exp(-12.5) = 4e-6).
constexpr double kKernelReach = 5.0;

// One value of the convolved fine grid. The weights are w[|k|] for the offsets -half..half;
// near the ends of the grid they are renormalised over the points that exist.
double convolvedAt(const double* f, int n, int i, const std::vector<double>& w, int half,
                   double totalWeight) {
    if (half == 0)
        return f[i];
    const int lo = std::max(0, i - half);
    const int hi = std::min(n - 1, i + half);
    double s = 0.0;
    double weight = totalWeight;
    if (lo == i - half && hi == i + half) {
        s = w[0] * f[i];
        for (int k = 1; k <= half; ++k)
            s += w[k] * (f[i - k] + f[i + k]);
    } else {
        weight = 0.0;
        for (int j = lo; j <= hi; ++j) {
            const double wk = w[std::abs(j - i)];
            s += wk * f[j];
            weight += wk;
        }
    }
    double value = s / weight;
    if (!std::isfinite(value)) {
        // Finite values whose partial sums overflowed: the same average on values scaled
        // down by 2^-64 cannot overflow, and the result is clamped to the finite range.
        s = 0.0;
        weight = 0.0;
        for (int j = lo; j <= hi; ++j) {
            const double wk = w[std::abs(j - i)];
            s += wk * std::ldexp(f[j], -64);
            weight += wk;
        }
        const double scaled = s / weight;
        const double limit = std::ldexp(std::numeric_limits<double>::max(), -64);
        value = std::fabs(scaled) >= limit
                    ? std::copysign(std::numeric_limits<double>::max(), scaled)
                    : std::ldexp(scaled, 64);
    }
    return value;
}

struct Residual {
    double cost = 0.0;
    double jtj[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
    double jtr[2] = {0.0, 0.0};
};

// Points that count: log10 of the positive measurements and the curve beside them.
struct LogData {
    std::vector<double> logMeasured;
    std::vector<double> curve;
};

// Sum of squared log residuals at scale s, background b, and the Gauss-Newton terms for
// the derivatives by ln s (column 0, when fitScale) and ln b (column 1, when fitBackground).
Residual evaluate(const LogData& d, double s, double b) {
    Residual r;
    const double floorLog = std::log10(kModelFloor);
    const std::size_t n = d.curve.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double sc = s * d.curve[i];
        const double model = sc + b;
        double y = floorLog;
        double js = 0.0;
        double jb = 0.0;
        if (model > kModelFloor) {
            y = std::log10(model);
            const double inv = 1.0 / (model * kLn10);
            js = sc * inv;
            jb = b * inv;
        }
        const double e = d.logMeasured[i] - y;
        r.cost += e * e;
        r.jtj[0][0] += js * js;
        r.jtj[0][1] += js * jb;
        r.jtj[1][1] += jb * jb;
        r.jtr[0] += js * e;
        r.jtr[1] += jb * e;
    }
    r.jtj[1][0] = r.jtj[0][1];
    return r;
}

} // namespace

QVector<double> convolveResolution(double theta0, double step, const QVector<double>& fine,
                                   double fwhm, const QVector<double>& thetaOut) {
    QVector<double> out(thetaOut.size(), 0.0);
    const int n = fine.size();
    if (n == 0 || !(step > 0.0) || !std::isfinite(step) || !std::isfinite(theta0))
        return out;

    std::vector<double> w(1, 1.0);
    int half = 0;
    double totalWeight = 1.0;
    if (fwhm > 0.0 && std::isfinite(fwhm)) {
        const double sigmaSteps = fwhm / kFwhmPerSigma / step;
        const double reach = std::ceil(kKernelReach * sigmaSteps);
        half = reach < double(n - 1) ? int(reach) : n - 1;
        w.resize(std::size_t(half) + 1);
        totalWeight = w[0];
        for (int k = 1; k <= half; ++k) {
            const double x = k / sigmaSteps;
            w[std::size_t(k)] = std::exp(-0.5 * x * x);
            totalWeight += 2.0 * w[std::size_t(k)];
        }
    }

    const double* f = fine.constData();
    // Ascending outputs mostly reuse the fine points of the previous one.
    int cachedIndex[2] = {-1, -1};
    double cachedValue[2] = {0.0, 0.0};
    auto at = [&](int i) {
        for (int c = 0; c < 2; ++c)
            if (cachedIndex[c] == i)
                return cachedValue[c];
        const double v = convolvedAt(f, n, i, w, half, totalWeight);
        const int slot = cachedIndex[0] == i - 1 ? 1 : 0;
        cachedIndex[slot] = i;
        cachedValue[slot] = v;
        return v;
    };

    for (int o = 0; o < thetaOut.size(); ++o) {
        double u = (thetaOut[o] - theta0) / step;
        if (!(u > 0.0)) // also NaN
            u = 0.0;
        if (u >= double(n - 1)) {
            out[o] = at(n - 1);
            continue;
        }
        const int i = int(u);
        const double frac = u - i;
        const double a = at(i);
        out[o] = frac > 0.0 ? a + frac * (at(i + 1) - a) : a;
        if (!std::isfinite(out[o])) // a and at(i+1) of opposite sign near the limits
            out[o] = (1.0 - frac) * a + frac * at(i + 1);
    }
    return out;
}

double fineStepFor(double fwhm, double maxStep, double minStep) {
    double step = maxStep;
    if (fwhm > 0.0 && std::isfinite(fwhm))
        step = std::min(step, fwhm / 5.0);
    return std::max(step, minStep);
}

ScaleBackground solveScaleBackground(const QVector<double>& measured, const QVector<double>& curve,
                                     std::optional<double> fixedScale,
                                     std::optional<double> fixedBackground) {
    ScaleBackground result;
    result.scale = fixedScale.value_or(1.0);
    result.background = fixedBackground.value_or(0.0);
    if (fixedScale && fixedBackground)
        return result;

    LogData d;
    const int n = std::min(measured.size(), curve.size());
    d.logMeasured.reserve(std::size_t(n));
    d.curve.reserve(std::size_t(n));
    double curveMax = 0.0;
    double logMax = -std::numeric_limits<double>::infinity();
    for (int i = 0; i < n; ++i) {
        const double m = measured[i];
        const double c = curve[i];
        if (m > 0.0 && std::isfinite(m) && std::isfinite(c)) {
            const double l = std::log10(m);
            d.logMeasured.push_back(l);
            d.curve.push_back(c);
            curveMax = std::max(curveMax, c);
            logMax = std::max(logMax, l);
        }
    }
    if (d.curve.empty())
        return result;

    const bool fitScale = !fixedScale;
    const bool fitBackground = !fixedBackground;
    double meanLog = 0.0;
    for (double l : d.logMeasured)
        meanLog += l;
    meanLog /= double(d.logMeasured.size());

    if (!(curveMax > 0.0)) {
        // Nothing for a scale to act on: a flat model, best at the geometric mean.
        if (fitBackground)
            result.background = std::pow(10.0, meanLog);
        return result;
    }

    // Start: the background at the lowest tenth of the measurement, the scale matching the
    // highest point to the curve's maximum.
    std::vector<double> sorted = d.logMeasured;
    auto tenth = sorted.begin() + std::ptrdiff_t(sorted.size() / 10);
    std::nth_element(sorted.begin(), tenth, sorted.end());
    const double lowLevel = std::pow(10.0, *tenth);
    const double highLevel = std::pow(10.0, logMax);
    if (fitBackground)
        result.background = lowLevel;
    if (fitScale)
        result.scale = std::max(highLevel - result.background, 1e-3 * highLevel) / curveMax;

    // Gauss-Newton in p = (ln s, ln b), free components only, halving steps that do not
    // lower the cost. The limits keep s * curveMax and b finite and positive.
    const double lnScaleMax = std::log(1e300 / curveMax);
    const double lnMin = std::log(1e-300);
    const double lnBackgroundMax = std::log(1e300);
    double p[2] = {std::log(result.scale), std::log(std::max(result.background, 1e-300))};
    auto scaleOf = [&](const double* q) { return fitScale ? std::exp(q[0]) : result.scale; };
    auto backgroundOf = [&](const double* q) {
        return fitBackground ? std::exp(q[1]) : result.background;
    };
    Residual current = evaluate(d, scaleOf(p), backgroundOf(p));
    for (int iteration = 0; iteration < 100; ++iteration) {
        double delta[2] = {0.0, 0.0};
        const double a = current.jtj[0][0], b = current.jtj[0][1], c = current.jtj[1][1];
        if (fitScale && fitBackground) {
            const double damp = 1e-12 * (a + c);
            const double det = (a + damp) * (c + damp) - b * b;
            if (!(det > 0.0))
                break;
            delta[0] = ((c + damp) * current.jtr[0] - b * current.jtr[1]) / det;
            delta[1] = ((a + damp) * current.jtr[1] - b * current.jtr[0]) / det;
        } else if (fitScale) {
            if (!(a > 0.0))
                break;
            delta[0] = current.jtr[0] / a;
        } else {
            if (!(c > 0.0))
                break;
            delta[1] = current.jtr[1] / c;
        }
        bool improved = false;
        for (int halving = 0; halving < 40 && !improved; ++halving) {
            double q[2] = {std::clamp(p[0] + delta[0], lnMin, lnScaleMax),
                           std::clamp(p[1] + delta[1], lnMin, lnBackgroundMax)};
            const Residual trial = evaluate(d, scaleOf(q), backgroundOf(q));
            if (trial.cost < current.cost) {
                improved = true;
                const double gain = current.cost - trial.cost;
                p[0] = q[0];
                p[1] = q[1];
                current = trial;
                if (gain <= 1e-13 * current.cost + 1e-300)
                    iteration = 100; // converged
            } else {
                delta[0] *= 0.5;
                delta[1] *= 0.5;
            }
        }
        if (!improved)
            break;
    }
    if (fitScale)
        result.scale = std::exp(p[0]);
    if (fitBackground) {
        result.background = std::exp(p[1]);
        // No background at all: the scale then has a closed form, the mean of
        // log10 m - log10 c over the points where the curve is positive.
        double scaleAtZero = result.scale;
        if (fitScale) {
            double sum = 0.0;
            int count = 0;
            for (std::size_t i = 0; i < d.curve.size(); ++i)
                if (d.curve[i] > 0.0) {
                    sum += d.logMeasured[i] - std::log10(d.curve[i]);
                    ++count;
                }
            scaleAtZero = std::pow(10.0, sum / count);
        }
        if (std::isfinite(scaleAtZero) && scaleAtZero > 0.0 &&
            evaluate(d, scaleAtZero, 0.0).cost <= current.cost) {
            result.scale = scaleAtZero;
            result.background = 0.0;
        }
    }
    return result;
}

std::vector<double> logResiduals(const QVector<double>& measured, const QVector<double>& model,
                                 double countingTime) {
    std::vector<double> r;
    const int n = std::min(measured.size(), model.size());
    r.reserve(std::size_t(n));
    const bool weighted = countingTime > 0.0 && std::isfinite(countingTime);
    for (int i = 0; i < n; ++i) {
        const double m = measured[i];
        if (!(m > 0.0) || !std::isfinite(m))
            continue;
        const double y = model[i] > kModelFloor ? model[i] : kModelFloor;
        double e = std::log10(m) - std::log10(std::min(y, std::numeric_limits<double>::max()));
        if (weighted)
            e *= kLn10 * std::sqrt(m * countingTime);
        r.push_back(e);
    }
    return r;
}

namespace {

double meanSquare(const std::vector<double>& r) {
    if (r.empty())
        return 0.0;
    double s = 0.0;
    for (double e : r)
        s += e * e;
    return s / double(r.size());
}

} // namespace

double agreement(const QVector<double>& measured, const QVector<double>& model) {
    return meanSquare(logResiduals(measured, model, 0.0));
}

double weightedAgreement(const QVector<double>& measured, const QVector<double>& model,
                         double countingTime) {
    return meanSquare(logResiduals(measured, model, countingTime));
}
