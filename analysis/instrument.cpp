#include "analysis/instrument.h"

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

// log10 through the natural logarithm: glibc's log is several times faster than its log10,
// and the two agree to within an ulp or two.
inline double fastLog10(double x) {
    return std::log(x) * (1.0 / kLn10);
}

// The slope at a point between intervals of slopes d0 and d1 (per fine step) that keeps a
// cubic Hermite interpolant monotone (Fritsch and Butland): zero at an extremum, otherwise
// the harmonic mean, which never exceeds three times the smaller slope.
inline double monotoneSlope(double d0, double d1) {
    if (!(d0 * d1 > 0.0))
        return 0.0;
    return 2.0 * d0 * d1 / (d0 + d1);
}

// Between fine values b (at 0) and c (at 1), with their neighbours a (at -1) and d (at 2)
// where they exist: the monotone piecewise cubic Hermite interpolant at t in (0, 1). Its
// value and first derivative are continuous across the fine points, so a model sampled at
// angles that shift (an offset being fitted) changes smoothly, without the kinks of straight
// lines between the points; it never leaves the range of b and c, so a positive curve stays
// positive. A one-sided slope at the ends of the grid.
inline double monotoneCubic(double a, double b, double c, double d, bool haveA, bool haveD,
                            double t) {
    const double db = c - b;
    if (!std::isfinite(db)) // b and c of opposite sign near the limits
        return (1.0 - t) * b + t * c;
    const double mb = haveA ? monotoneSlope(b - a, db) : db;
    const double mc = haveD ? monotoneSlope(db, d - c) : db;
    const double t2 = t * t;
    const double t3 = t2 * t;
    const double h00 = 2.0 * t3 - 3.0 * t2 + 1.0;
    const double h10 = t3 - 2.0 * t2 + t;
    const double h01 = 1.0 - h00;
    const double h11 = t3 - t2;
    const double v = h00 * b + h01 * c + h10 * mb + h11 * mc;
    return std::isfinite(v) ? v : (1.0 - t) * b + t * c;
}

struct Residual {
    double cost = 0.0;
    double jtj[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
    double jtr[2] = {0.0, 0.0};
};

// Points that count: log10 of the positive measurements and the curve beside them.
struct LogData {
    std::vector<double> measured;
    std::vector<double> logMeasured;
    std::vector<double> curve;
};

// Sum of squared log residuals at scale s, background b, and the Gauss-Newton terms for
// the derivatives by ln s (column 0) and ln b (column 1).
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
            y = fastLog10(model);
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
    // The fine positions of the outputs; beyond the grid they take its nearest end.
    auto position = [&](double theta) {
        const double u = (theta - theta0) / step;
        return u > 0.0 ? std::min(u, double(n - 1)) : 0.0; // NaN too goes to 0
    };
    // Each output needs the fine points i - 1 .. i + 2 around it for the cubic.
    int first = n - 1, last = 0;
    for (double t : thetaOut) {
        const int i = int(position(t));
        first = std::min(first, std::max(i - 1, 0));
        last = std::max(last, std::min(i + 2, n - 1));
    }
    // Outputs dense on the grid (the usual case): convolve the span they need in one sweep,
    // offset by offset, which vectorises. Sparse outputs: each needed point on its own.
    std::vector<double> dense;
    const bool sweep = !thetaOut.isEmpty() && last - first < 4 * thetaOut.size() + 64;
    if (sweep) {
        dense.assign(std::size_t(last - first + 1), 0.0);
        const int innerFirst = std::max(first, half);
        const int innerLast = std::min(last, n - 1 - half);
        if (innerFirst <= innerLast) {
            double* d = dense.data() + (innerFirst - first);
            const int count = innerLast - innerFirst + 1;
            const double* centre = f + innerFirst;
            for (int j = 0; j < count; ++j)
                d[j] = w[0] * centre[j];
            for (int k = 1; k <= half; ++k) {
                const double wk = w[std::size_t(k)];
                const double* below = centre - k;
                const double* above = centre + k;
                for (int j = 0; j < count; ++j)
                    d[j] += wk * (below[j] + above[j]);
            }
            for (int j = 0; j < count; ++j) {
                d[j] /= totalWeight;
                if (!std::isfinite(d[j]))
                    d[j] = convolvedAt(f, n, innerFirst + j, w, half, totalWeight);
            }
        }
        for (int i = first; i <= last; ++i)
            if (i < innerFirst || i > innerLast)
                dense[std::size_t(i - first)] = convolvedAt(f, n, i, w, half, totalWeight);
    }
    // Otherwise ascending outputs mostly reuse the fine points of the previous one.
    int cachedIndex[4] = {-1, -1, -1, -1};
    double cachedValue[4] = {0.0, 0.0, 0.0, 0.0};
    auto at = [&](int i) {
        if (sweep)
            return dense[std::size_t(i - first)];
        const int slot = i & 3;
        if (cachedIndex[slot] != i) {
            cachedIndex[slot] = i;
            cachedValue[slot] = convolvedAt(f, n, i, w, half, totalWeight);
        }
        return cachedValue[slot];
    };

    double* po = out.data();
    for (int o = 0; o < thetaOut.size(); ++o) {
        const double u = position(thetaOut[o]);
        const int i = int(u);
        const double frac = u - i;
        const double a = at(i);
        if (!(frac > 0.0) || i + 1 >= n) {
            po[o] = a;
            continue;
        }
        const double b = at(i + 1);
        po[o] = monotoneCubic(i > 0 ? at(i - 1) : a, a, b, i + 2 < n ? at(i + 2) : b, i > 0,
                              i + 2 < n, frac);
    }
    return out;
}

namespace {

// The agreement of scale * curve + background with the measurement, in one pass.
double scaledAgreement(const QVector<double>& measured, const QVector<double>& curve,
                       const ScaleBackground& sb) {
    double sum = 0.0;
    long count = 0;
    const int n = std::min(measured.size(), curve.size());
    for (int i = 0; i < n; ++i) {
        const double m = measured[i];
        if (!(m > 0.0) || !std::isfinite(m))
            continue;
        const double model = sb.scale * curve[i] + sb.background;
        const double y =
            model > kModelFloor ? std::min(model, std::numeric_limits<double>::max()) : kModelFloor;
        const double e = fastLog10(m) - fastLog10(y);
        sum += e * e;
        ++count;
    }
    return count > 0 ? sum / double(count) : 0.0;
}

} // namespace

ScaleBackground solveScaleBackground(const QVector<double>& measured, const QVector<double>& curve,
                                     std::optional<double> fixedScale,
                                     std::optional<double> fixedBackground) {
    ScaleBackground result;
    result.scale = fixedScale.value_or(1.0);
    result.background = fixedBackground.value_or(0.0);
    if (fixedScale && fixedBackground) {
        result.agreement = scaledAgreement(measured, curve, result);
        return result;
    }

    LogData d;
    const int n = std::min(measured.size(), curve.size());
    d.logMeasured.reserve(std::size_t(n));
    d.curve.reserve(std::size_t(n));
    double curveMax = 0.0;
    double curveMinPositive = std::numeric_limits<double>::max();
    double logMax = -std::numeric_limits<double>::infinity();
    double logMin = std::numeric_limits<double>::infinity();
    for (int i = 0; i < n; ++i) {
        const double m = measured[i];
        const double c = curve[i];
        if (m > 0.0 && std::isfinite(m) && std::isfinite(c)) {
            const double l = fastLog10(m);
            d.measured.push_back(m);
            d.logMeasured.push_back(l);
            d.curve.push_back(c);
            curveMax = std::max(curveMax, c);
            if (c > 0.0)
                curveMinPositive = std::min(curveMinPositive, c);
            logMax = std::max(logMax, l);
            logMin = std::min(logMin, l);
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
        result.agreement = scaledAgreement(measured, curve, result);
        return result;
    }

    // Start: least squares on relative differences, sum ((m - s c - b) / m)^2, linear in s
    // and b (one pass, no logarithm) and close to the logarithmic problem wherever the model
    // is near the data.
    double cc = 0.0, c1 = 0.0, w1 = 0.0, cm = 0.0, m1 = 0.0;
    for (std::size_t i = 0; i < d.curve.size(); ++i) {
        const double inv = 1.0 / d.measured[i];
        const double c = d.curve[i] * inv;
        cc += c * c;
        c1 += c * inv;
        w1 += inv * inv;
        cm += c;
        m1 += inv;
    }
    if (fitScale && fitBackground) {
        const double det = cc * w1 - c1 * c1;
        result.scale = (cm * w1 - m1 * c1) / det;
        result.background = (cc * m1 - c1 * cm) / det;
    } else if (fitScale) {
        result.scale = (cm - result.background * c1) / cc;
    } else {
        result.background = (m1 - result.scale * c1) / w1;
    }
    // Where that gives no positive background (noise in the weakest points easily does):
    // the smallest measurement; no positive scale: the highest point matched to the curve's
    // maximum.
    const double highLevel = std::pow(10.0, logMax);
    if (fitBackground && !(result.background > 0.0 && std::isfinite(result.background)))
        result.background = std::pow(10.0, logMin);
    if (fitScale && !(result.scale > 0.0 && std::isfinite(result.scale)))
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
        // A background a billionth of the weakest model point is none: see below.
        if (fitBackground && std::exp(p[1]) < 1e-9 * scaleOf(p) * curveMinPositive)
            break;
        // Converged: the step would change s and b by less than a part in 10^7 (Gauss-Newton
        // converges quadratically on exact data, so the error left is far smaller), or lower
        // the cost by less than its rounding.
        if (std::fabs(delta[0]) < 1e-7 && std::fabs(delta[1]) < 1e-7)
            break;
        if (delta[0] * current.jtr[0] + delta[1] * current.jtr[1] <= 1e-14 * current.cost)
            break;
        bool improved = false;
        for (int halving = 0; halving < 12 && !improved; ++halving) {
            double q[2] = {std::clamp(p[0] + delta[0], lnMin, lnScaleMax),
                           std::clamp(p[1] + delta[1], lnMin, lnBackgroundMax)};
            const Residual trial = evaluate(d, scaleOf(q), backgroundOf(q));
            if (trial.cost < current.cost) {
                improved = true;
                const double gain = current.cost - trial.cost;
                p[0] = q[0];
                p[1] = q[1];
                current = trial;
                if (gain <= 1e-15 * current.cost)
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
    result.agreement = current.cost / double(d.curve.size());
    if (fitBackground) {
        result.background = std::exp(p[1]);
        // No background at all (tried when the one found is below a thousandth of the
        // weakest model point): the scale then has a closed form, the mean of
        // log10 m - log10 c over the points where the curve is positive.
        if (result.background < 1e-3 * result.scale * curveMinPositive) {
            double scaleAtZero = result.scale;
            if (fitScale) {
                double sum = 0.0;
                int count = 0;
                for (std::size_t i = 0; i < d.curve.size(); ++i)
                    if (d.curve[i] > 0.0) {
                        sum += d.logMeasured[i] - fastLog10(d.curve[i]);
                        ++count;
                    }
                scaleAtZero = std::pow(10.0, sum / count);
            }
            const double costAtZero = std::isfinite(scaleAtZero) && scaleAtZero > 0.0
                                          ? evaluate(d, scaleAtZero, 0.0).cost
                                          : std::numeric_limits<double>::infinity();
            if (costAtZero <= current.cost * (1.0 + 1e-9) + 1e-24 * double(d.curve.size())) {
                result.scale = scaleAtZero;
                result.background = 0.0;
                result.agreement = costAtZero / double(d.curve.size());
            }
        }
    }
    return result;
}

namespace {

// Calls f(e) for the residual of every point with measured > 0, in order.
template <typename F>
void forEachResidual(const QVector<double>& measured, const QVector<double>& model,
                     double countingTime, const F& f) {
    const int n = std::min(measured.size(), model.size());
    const bool weighted = countingTime > 0.0 && std::isfinite(countingTime);
    for (int i = 0; i < n; ++i) {
        const double m = measured[i];
        if (!(m > 0.0) || !std::isfinite(m))
            continue;
        const double y = model[i] > kModelFloor
                             ? std::min(model[i], std::numeric_limits<double>::max())
                             : kModelFloor;
        // One logarithm of the ratio, two where the ratio would leave the normal range.
        const double ratio = m / y;
        double e = std::isnormal(ratio) ? fastLog10(ratio) : fastLog10(m) - fastLog10(y);
        if (weighted)
            e *= kLn10 * std::sqrt(m * countingTime);
        f(e);
    }
}

double meanSquare(const QVector<double>& measured, const QVector<double>& model,
                  double countingTime) {
    double sum = 0.0;
    long count = 0;
    forEachResidual(measured, model, countingTime, [&](double e) {
        sum += e * e;
        ++count;
    });
    return count > 0 ? sum / double(count) : 0.0;
}

} // namespace

std::vector<double> logResiduals(const QVector<double>& measured, const QVector<double>& model,
                                 double countingTime) {
    std::vector<double> r;
    r.reserve(std::size_t(std::min(measured.size(), model.size())));
    forEachResidual(measured, model, countingTime, [&](double e) { r.push_back(e); });
    return r;
}

double agreement(const QVector<double>& measured, const QVector<double>& model) {
    return meanSquare(measured, model, 0.0);
}
