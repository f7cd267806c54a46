#include "analysis/fit.h"

#include <Eigen/Dense>
#include <QElapsedTimer>
#include <pagmo/algorithm.hpp>
#include <pagmo/algorithms/gaco.hpp>
#include <pagmo/bfe.hpp>
#include <pagmo/population.hpp>
#include <pagmo/problem.hpp>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>
#include <unsupported/Eigen/LevenbergMarquardt>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <thread>

namespace {

constexpr int kDefaultGenerations = 500;
// The global search ends when the best cost has improved by less than this fraction over
// the last kPatience generations. The colony improves in jumps after long plateaus: on a
// two-layer fringe fit with two integer thicknesses, 30 generations of patience found the
// right thicknesses from 3 seeds in 10, 100 generations from 10 in 10.
constexpr double kImprovementTolerance = 1e-9;
constexpr int kPatience = 100;
// Generations the best point must stay put (within the parameters' resolution) to end the
// search. On the real GaAsP layer the colony's best reaches the final fringe in 20 to 50
// generations and then only creeps in the continuous parameters.
constexpr int kSettledGenerations = 25;
// Generations a search typically takes before its population converges, for estimates.
constexpr int kTypicalGenerations = 60;
const double kUniformSigma = 1.0 / std::sqrt(12.0);

// Everything the evaluations share; the residual callback is safe to call concurrently.
struct Context {
    std::function<std::vector<double>(const std::vector<double>&)> residuals;
    std::vector<double> base; // full parameter vector; fixed parameters keep their value
    std::vector<int> freeAt;  // full index of each searched parameter (continuous first)
    std::size_t expected = 0; // residual count at the start point; 0: not known
    const std::atomic<bool>* stop = nullptr;
    bool unequalNoise = false;
    bool hasDeadline = false;
    std::chrono::steady_clock::time_point deadline;
    mutable std::atomic<bool> timedOut{false};
    std::atomic<long> evaluations{0};
    std::unique_ptr<tbb::task_arena> arena; // null: evaluate in the calling thread

    bool stopRequested() const {
        if (stop && stop->load(std::memory_order_relaxed))
            return true;
        if (!hasDeadline)
            return false;
        if (timedOut.load(std::memory_order_relaxed))
            return true;
        if (std::chrono::steady_clock::now() < deadline)
            return false;
        timedOut.store(true, std::memory_order_relaxed);
        return true;
    }

    std::vector<double> full(const double* searched) const {
        std::vector<double> x = base;
        for (std::size_t i = 0; i < freeAt.size(); ++i)
            x[std::size_t(freeAt[i])] = searched[i];
        return x;
    }

    // Residuals at a full parameter vector; empty when the point is invalid.
    std::vector<double> residualsAt(const std::vector<double>& x) {
        evaluations.fetch_add(1, std::memory_order_relaxed);
        std::vector<double> r = residuals(x);
        if (r.empty() || (expected != 0 && r.size() != expected))
            return {};
        for (double e : r)
            if (!std::isfinite(e))
                return {};
        return r;
    }

    static double costOf(const std::vector<double>& r) {
        if (r.empty())
            return kInvalidCost;
        double s = 0.0;
        for (double e : r)
            s += e * e;
        const double cost = s / double(r.size());
        return std::isfinite(cost) ? std::min(cost, kInvalidCost) : kInvalidCost;
    }

    // Runs body(i) for i < count on the fit's threads; each i writes only its own slot, so
    // the outcome does not depend on the thread count.
    template <typename Body> void forEach(std::size_t count, const Body& body) {
        if (!arena || count < 2) {
            for (std::size_t i = 0; i < count; ++i)
                body(i);
            return;
        }
        arena->execute([&] { tbb::parallel_for(std::size_t(0), count, body); });
    }
};

// The problem as pagmo sees it: the searched parameters only, integers last.
struct SearchProblem {
    std::shared_ptr<Context> context;
    std::vector<double> lower, upper;
    std::size_t integers = 0;

    pagmo::vector_double fitness(const pagmo::vector_double& x) const {
        if (context->stopRequested())
            return {kInvalidCost};
        return {Context::costOf(context->residualsAt(context->full(x.data())))};
    }
    std::pair<pagmo::vector_double, pagmo::vector_double> get_bounds() const {
        return {lower, upper};
    }
    pagmo::vector_double::size_type get_nix() const { return integers; }
    pagmo::thread_safety get_thread_safety() const { return pagmo::thread_safety::constant; }
};

// Batch evaluation of a population on the fit's threads.
struct BatchEvaluator {
    std::shared_ptr<Context> context;

    pagmo::vector_double operator()(const pagmo::problem& p, const pagmo::vector_double& xs) const {
        const std::size_t n = p.get_nx();
        const std::size_t count = n ? xs.size() / n : 0;
        pagmo::vector_double f(count, kInvalidCost);
        const SearchProblem* search = p.extract<SearchProblem>();
        if (!search)
            return f;
        context->forEach(count, [&](std::size_t i) {
            if (!context->stopRequested())
                f[i] = Context::costOf(context->residualsAt(context->full(xs.data() + i * n)));
        });
        return f;
    }
};

// The search has settled as closely as the parameters can tell: the best point has stayed
// on the same whole number for each integer parameter, and within kConvergedSpread of the
// range for each continuous one, for the last kSettledGenerations generations. (The colony
// keeps sampling widely around its archive, so its population never collapses; the cost
// still creeps down there in the continuous parameters, which the refinement that follows
// does far more cheaply.)
bool searchSettled(const std::vector<std::vector<double>>& champions,
                   const std::vector<double>& lower, const std::vector<double>& upper,
                   std::size_t continuous) {
    if (champions.size() <= std::size_t(kSettledGenerations))
        return false;
    const std::vector<double>& now = champions.back();
    for (std::size_t g = champions.size() - 1 - std::size_t(kSettledGenerations);
         g + 1 < champions.size(); ++g)
        for (std::size_t j = 0; j < now.size(); ++j) {
            const double allowed = j < continuous ? kConvergedSpread * (upper[j] - lower[j]) : 0.5;
            if (!(std::fabs(champions[g][j] - now[j]) <= allowed))
                return false;
        }
    return true;
}

// Levenberg-Marquardt over the active continuous parameters (indices into the searched
// vector), each mapped into its bounds by x = lower + (upper - lower) (1 + sin u) / 2.
struct Refinement : Eigen::DenseFunctor<double> {
    Context* context;
    std::vector<double> searched; // the point; the active entries are overwritten
    std::vector<int> active;
    std::vector<double> lower, upper; // per active parameter
    mutable double bestCost = kInvalidCost;
    mutable std::vector<double> best;
    // The last point evaluated and its residuals: the Jacobian at a point the minimiser has
    // just evaluated (it always asks at its accepted point) reuses them.
    mutable Eigen::VectorXd lastU, lastF;

    Refinement(Context* c, std::vector<double> start, std::vector<int> activeAt,
               const std::vector<double>& lo, const std::vector<double>& hi, int residualCount)
        : DenseFunctor<double>(int(activeAt.size()), residualCount), context(c),
          searched(std::move(start)), active(std::move(activeAt)) {
        for (int k : active) {
            lower.push_back(lo[std::size_t(k)]);
            upper.push_back(hi[std::size_t(k)]);
        }
    }

    double toX(Eigen::Index j, double u) const {
        const std::size_t k = std::size_t(j);
        return lower[k] + (upper[k] - lower[k]) * 0.5 * (1.0 + std::sin(u));
    }
    Eigen::VectorXd startU() const {
        Eigen::VectorXd u(static_cast<Eigen::Index>(active.size()));
        for (std::size_t j = 0; j < active.size(); ++j) {
            const double x = searched[std::size_t(active[j])];
            const double f = std::clamp((x - lower[j]) / (upper[j] - lower[j]), 1e-6, 1.0 - 1e-6);
            u[Eigen::Index(j)] = std::asin(2.0 * f - 1.0);
        }
        return u;
    }
    std::vector<double> pointAt(const Eigen::VectorXd& u) const {
        std::vector<double> s = searched;
        for (Eigen::Index j = 0; j < u.size(); ++j)
            s[std::size_t(active[std::size_t(j)])] = toX(j, u[j]);
        return s;
    }
    // Residuals at a searched vector, an invalid point given residuals far above any valid.
    void residualsInto(const std::vector<double>& s, Eigen::Ref<Eigen::VectorXd> out) const {
        const std::vector<double> r = context->residualsAt(context->full(s.data()));
        if (r.size() != std::size_t(out.size()))
            out.setConstant(1e50);
        else
            out = Eigen::Map<const Eigen::VectorXd>(r.data(), Eigen::Index(r.size()));
    }

    int operator()(const Eigen::VectorXd& u, Eigen::VectorXd& fvec) const {
        if (context->stopRequested())
            return -1;
        if (lastU.size() == u.size() && lastU == u && lastF.size() == fvec.size()) {
            fvec = lastF;
            return 0;
        }
        const std::vector<double> s = pointAt(u);
        residualsInto(s, fvec);
        lastU = u;
        lastF = fvec;
        const double cost = fvec.squaredNorm() / double(fvec.size());
        if (cost < bestCost) {
            bestCost = cost;
            best = s;
        }
        return 0;
    }
    int df(const Eigen::VectorXd& u, Eigen::MatrixXd& fjac) const {
        if (context->stopRequested())
            return -1;
        const std::vector<double> s0 = pointAt(u);
        Eigen::VectorXd f0(values());
        if (lastU.size() == u.size() && lastU == u && lastF.size() == f0.size())
            f0 = lastF;
        else
            residualsInto(s0, f0);
        context->forEach(std::size_t(u.size()), [&](std::size_t j) {
            const Eigen::Index c = Eigen::Index(j);
            const double h = 1.5e-8 * std::max(1.0, std::fabs(u[c]));
            Eigen::VectorXd v = u;
            v[c] += h;
            const std::vector<double> s = pointAt(v);
            const std::size_t k = std::size_t(active[j]);
            const double dx = s[k] - s0[k];
            residualsInto(s, fjac.col(c));
            // Forward difference in x, times dx/du.
            const double slope = 0.5 * (upper[j] - lower[j]) * std::cos(u[c]);
            if (dx != 0.0)
                fjac.col(c) = (fjac.col(c) - f0) / dx * slope;
            else
                fjac.col(c).setZero();
        });
        return 0;
    }
};

QString validate(const FitProblem& p) {
    const std::size_t n = p.lower.size();
    if (n == 0)
        return QStringLiteral("no parameters");
    if (p.upper.size() != n || p.start.size() != n || (!p.integer.empty() && p.integer.size() != n))
        return QStringLiteral("bounds, start and integer flags differ in length");
    if (!p.residuals)
        return QStringLiteral("no residual function");
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(p.lower[i]) || !std::isfinite(p.upper[i]) || !std::isfinite(p.start[i]))
            return QStringLiteral("parameter %1: bounds and start must be finite").arg(i);
        if (p.lower[i] > p.upper[i])
            return QStringLiteral("parameter %1: lower bound above upper bound").arg(i);
        if (!p.integer.empty() && p.integer[i] && std::ceil(p.lower[i]) > std::floor(p.upper[i]))
            return QStringLiteral("parameter %1: no integer within its bounds").arg(i);
    }
    if (p.maxGenerations < 0 || p.populationSize < 0 || p.threads < 0)
        return QStringLiteral("negative generation, population or thread count");
    return {};
}

// The whole-monolayer neighbours of the final point, each with its continuous parameters
// refined again: what the uncertainties weigh beside the best point.
struct Neighbour {
    std::vector<double> point; // searched vector
    double cost = kInvalidCost;
};

// A continuous value within this fraction of its range from a bound is at the bound.
constexpr double kAtBoundFraction = 1e-4;
// A parameter whose uncertainty exceeds this fraction of its range is not determined by the
// scan (a uniform spread over the range has 1 / sqrt(12), about 0.29).
constexpr double kUndeterminedFraction = 0.2;

// Every free parameter's uncertainty the spread of its range, and whether it is at a bound.
void markBounds(const std::vector<double>& lower, const std::vector<double>& upper,
                const std::vector<bool>& isInteger, FitOutcome& out) {
    const std::size_t n = out.best.size();
    out.sigma.assign(n, 0.0);
    out.atBound.assign(n, false);
    out.undetermined.assign(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        const double range = upper[i] - lower[i];
        if (range <= 0.0)
            continue;
        out.sigma[i] = range * kUniformSigma;
        const double tolerance = isInteger[i] ? 0.0 : kAtBoundFraction * range;
        out.atBound[i] = out.best[i] - lower[i] <= tolerance || upper[i] - out.best[i] <= tolerance;
    }
}

// The uncertainties widened by the whole-monolayer neighbours of the best point. Each
// neighbouring solution (its integers moved, its continuous parameters refined) is weighed by
// its likelihood against the best, exp(-(S - S0) / 2 sigma^2) with S the sum of squares, and
// every parameter's variance becomes that of the mixture: the weighted mean of each solution's
// own variance (taken as the best's) and of its squared distance from the mixture's mean. A
// neighbour within the confidence level (S - S0 <= sigma^2) counts as an integer solution;
// the correlations between an integer and a continuous parameter across the solutions are
// kept when strong.
void widenByNeighbours(const Context& context, const std::vector<Neighbour>& neighbours,
                       const std::vector<bool>& isInteger, double bestCost, std::size_t m,
                       double variance, FitOutcome& out) {
    if (neighbours.empty() || !(variance > 0.0) || !std::isfinite(variance))
        return;
    const std::size_t p = context.freeAt.size();
    std::vector<std::vector<double>> points;
    std::vector<double> weights;
    points.push_back(out.best);
    weights.push_back(1.0);
    for (const Neighbour& nb : neighbours) {
        const double rise = double(m) * (nb.cost - bestCost) / variance;
        if (!std::isfinite(rise) || rise > 40.0)
            continue;
        points.push_back(context.full(nb.point.data()));
        weights.push_back(std::exp(-0.5 * std::max(rise, 0.0)));
        out.integerSolutions += rise <= 1.0 ? 1 : 0;
    }
    if (points.size() < 2)
        return;
    double total = 0.0;
    for (double w : weights)
        total += w;
    std::vector<double> mean(out.best.size(), 0.0);
    for (std::size_t s = 0; s < points.size(); ++s)
        for (std::size_t i = 0; i < mean.size(); ++i)
            mean[i] += weights[s] * points[s][i] / total;
    for (std::size_t j = 0; j < p; ++j) {
        const std::size_t k = std::size_t(context.freeAt[j]);
        double spread = 0.0;
        for (std::size_t s = 0; s < points.size(); ++s)
            spread += weights[s] * (points[s][k] - mean[k]) * (points[s][k] - mean[k]) / total;
        // An integer's own profile already follows its neighbours.
        out.sigma[k] = isInteger[k] ? std::max(out.sigma[k], std::sqrt(spread))
                                    : std::sqrt(out.sigma[k] * out.sigma[k] + spread);
    }
}

// Steps of an integer parameter tried either side of the best point for its profile.
constexpr int kMaxProfileSteps = 40;
constexpr int kProfileBatch = 4;

// The uncertainty of the integer parameter in column j of the Jacobian from the profile of
// the cost: the parameter is moved by whole steps, the continuous parameters along with it
// as their linear regression on it says (what a refinement at each step would do, to first
// order), until the sum of squares rises by more than `variance` above `sumSquares` (one
// standard deviation). The crossing is interpolated in the square root of the rise, which is
// linear in the step near a minimum; the half width of the range between the crossings, never
// below 1. A bound ends the range on its side.
double integerProfileSigma(Context& context, const Eigen::MatrixXd& jac, std::size_t j,
                           const std::vector<double>& best, const std::vector<double>& lower,
                           const std::vector<double>& upper, const std::vector<bool>& isInteger,
                           double sumSquares, double variance) {
    const std::size_t k = std::size_t(context.freeAt[j]);
    if (!(variance > 0.0) || !std::isfinite(variance))
        return std::max(1.0, (upper[k] - lower[k]) * kUniformSigma);
    // The continuous parameters' shift per step.
    std::vector<std::size_t> columns;
    for (std::size_t c = 0; c < context.freeAt.size(); ++c)
        if (!isInteger[std::size_t(context.freeAt[c])] && jac.col(Eigen::Index(c)).norm() > 0.0)
            columns.push_back(c);
    Eigen::VectorXd follow = Eigen::VectorXd::Zero(Eigen::Index(columns.size()));
    if (!columns.empty()) {
        Eigen::MatrixXd jc(jac.rows(), Eigen::Index(columns.size()));
        for (std::size_t c = 0; c < columns.size(); ++c)
            jc.col(Eigen::Index(c)) = jac.col(Eigen::Index(columns[c]));
        follow = jc.colPivHouseholderQr().solve(-jac.col(Eigen::Index(j)));
        if (!follow.allFinite())
            follow.setZero();
    }
    const auto pointAt = [&](int step) {
        std::vector<double> x = best;
        x[k] = best[k] + step;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const std::size_t i = std::size_t(context.freeAt[columns[c]]);
            x[i] = std::clamp(best[i] + step * follow[Eigen::Index(c)], lower[i], upper[i]);
        }
        return x;
    };
    // The rise in units of the threshold, square-rooted; infinite for an invalid point.
    const auto rise = [&](const std::vector<double>& r) {
        if (r.empty())
            return std::numeric_limits<double>::infinity();
        double s = 0.0;
        for (double e : r)
            s += e * e;
        return std::sqrt(std::max(0.0, s - sumSquares) / variance);
    };
    double reach[2] = {0.0, 0.0}; // up, down
    for (int side = 0; side < 2; ++side) {
        const int sign = side == 0 ? 1 : -1;
        const double room = sign > 0 ? upper[k] - best[k] : best[k] - lower[k];
        double previous = 0.0;
        bool done = false;
        for (int from = 1; from <= kMaxProfileSteps && !done; from += kProfileBatch) {
            std::vector<int> steps;
            for (int s = from; s < from + kProfileBatch && s <= kMaxProfileSteps && s <= room; ++s)
                steps.push_back(s);
            if (steps.empty()) { // a bound: the range ends on it
                reach[side] = room;
                done = true;
                break;
            }
            std::vector<double> q(steps.size());
            context.forEach(steps.size(), [&](std::size_t i) {
                q[i] = rise(context.residualsAt(pointAt(sign * steps[i])));
            });
            for (std::size_t i = 0; i < steps.size() && !done; ++i) {
                if (q[i] > 1.0) {
                    const double at = steps[i];
                    reach[side] = std::isfinite(q[i])
                                      ? at - 1.0 + (1.0 - previous) / (q[i] - previous)
                                      : at - 0.5;
                    done = true;
                }
                previous = q[i];
            }
            if (!done && steps.back() >= room) {
                reach[side] = room;
                done = true;
            }
        }
        if (!done)
            reach[side] = kMaxProfileSteps;
    }
    return std::max(1.0, 0.5 * (reach[0] + reach[1]));
}

// Uncertainties and correlations at `best` from the Jacobian of the residuals over the free
// parameters: central differences for continuous ones, steps of one for integers; then
// widened by the whole-monolayer neighbours within reach.
void estimateUncertainties(Context& context, const std::vector<double>& lower,
                           const std::vector<double>& upper, const std::vector<bool>& isInteger,
                           const std::vector<Neighbour>& neighbours, FitOutcome& out) {
    markBounds(lower, upper, isInteger, out);
    const std::size_t p = context.freeAt.size();
    if (p == 0)
        return;
    const std::vector<double> r0 = context.residualsAt(out.best);
    const std::size_t m = r0.size();
    if (m <= p)
        return;

    // Two points per parameter (the second may be the best point itself, one-sided).
    std::vector<std::vector<double>> points(2 * p, out.best);
    std::vector<double> span(p, 0.0);
    for (std::size_t j = 0; j < p; ++j) {
        const std::size_t k = std::size_t(context.freeAt[j]);
        const double x = out.best[k];
        double h = isInteger[k] ? 1.0 : 6e-6 * std::max(std::fabs(x), 1e-3 * (upper[k] - lower[k]));
        const double up = std::min(x + h, upper[k]);
        const double down = std::max(x - h, lower[k]);
        points[2 * j][k] = up;
        points[2 * j + 1][k] = down;
        span[j] = up - down;
    }
    std::vector<std::vector<double>> results(2 * p);
    context.forEach(2 * p, [&](std::size_t i) { results[i] = context.residualsAt(points[i]); });

    Eigen::MatrixXd jac = Eigen::MatrixXd::Zero(Eigen::Index(m), Eigen::Index(p));
    for (std::size_t j = 0; j < p; ++j) {
        const auto& a = results[2 * j];
        const auto& b = results[2 * j + 1];
        if (a.size() != m || b.size() != m || !(span[j] > 0.0))
            continue; // no information: the parameter keeps the spread of its bounds
        for (std::size_t i = 0; i < m; ++i)
            jac(Eigen::Index(i), Eigen::Index(j)) = (a[i] - b[i]) / span[j];
    }
    double sumSquares = 0.0;
    for (double e : r0)
        sumSquares += e * e;
    const double variance = sumSquares / double(m - p);

    // (J^T J)^-1 on unit-scaled columns, lightly regularised so that a direction the data do
    // not fix comes out as a huge (then capped) variance rather than a division by zero.
    const Eigen::VectorXd norms = jac.colwise().norm();
    Eigen::VectorXd scale(static_cast<Eigen::Index>(p));
    for (Eigen::Index j = 0; j < Eigen::Index(p); ++j)
        scale[j] = norms[j] > 0.0 ? 1.0 / norms[j] : 0.0;
    const Eigen::MatrixXd scaled = jac * scale.asDiagonal();
    Eigen::MatrixXd normal = scaled.transpose() * scaled;
    normal.diagonal().array() += 1e-12;
    const Eigen::MatrixXd inverse =
        normal.ldlt().solve(Eigen::MatrixXd::Identity(Eigen::Index(p), Eigen::Index(p)));
    Eigen::MatrixXd cov = scale.asDiagonal() * inverse * scale.asDiagonal() * variance;
    if (context.unequalNoise) {
        // The sandwich (J^T J)^-1 J^T diag(r^2) J (J^T J)^-1, scaled by m / (m - p): right
        // whatever the spread of each residual, where the usual sigma^2 (J^T J)^-1 assumes one
        // spread for all.
        Eigen::VectorXd squares(static_cast<Eigen::Index>(m));
        for (std::size_t i = 0; i < m; ++i)
            squares[Eigen::Index(i)] = r0[i] * r0[i];
        const Eigen::MatrixXd meat = scaled.transpose() * squares.asDiagonal() * scaled;
        cov = scale.asDiagonal() * (inverse * meat * inverse) * scale.asDiagonal() *
              (double(m) / double(m - p));
    }

    for (std::size_t j = 0; j < p; ++j) {
        const std::size_t k = std::size_t(context.freeAt[j]);
        const double s = std::sqrt(cov(Eigen::Index(j), Eigen::Index(j)));
        const bool userStop = context.stop && context.stop->load(std::memory_order_relaxed);
        if (isInteger[k] && userStop) // no time for the profile: the curvature, at least 1
            out.sigma[k] = std::clamp(std::isfinite(s) ? s : 1.0, 1.0,
                                      std::max(1.0, (upper[k] - lower[k]) * kUniformSigma));
        else if (isInteger[k])
            out.sigma[k] = integerProfileSigma(context, jac, j, out.best, lower, upper, isInteger,
                                               sumSquares, variance);
        else if (norms[Eigen::Index(j)] > 0.0 && std::isfinite(s))
            out.sigma[k] = std::min(s, (upper[k] - lower[k]) * kUniformSigma);
    }
    widenByNeighbours(context, neighbours, isInteger, out.bestCost, m, variance, out);
    for (std::size_t j = 0; j < p; ++j) {
        const std::size_t k = std::size_t(context.freeAt[j]);
        out.undetermined[k] = !(norms[Eigen::Index(j)] > 0.0) ||
                              out.sigma[k] > kUndeterminedFraction * (upper[k] - lower[k]);
    }
    for (std::size_t a = 0; a < p; ++a)
        for (std::size_t b = a + 1; b < p; ++b) {
            if (!(norms[Eigen::Index(a)] > 0.0) || !(norms[Eigen::Index(b)] > 0.0))
                continue;
            const double r = inverse(Eigen::Index(a), Eigen::Index(b)) /
                             std::sqrt(inverse(Eigen::Index(a), Eigen::Index(a)) *
                                       inverse(Eigen::Index(b), Eigen::Index(b)));
            if (std::isfinite(r) && std::fabs(r) > 0.9) {
                const int i = context.freeAt[a];
                const int k = context.freeAt[b];
                out.strongCorrelations.emplace_back(std::min(i, k), std::max(i, k),
                                                    std::clamp(r, -1.0, 1.0));
            }
        }
    std::sort(out.strongCorrelations.begin(), out.strongCorrelations.end());
}

} // namespace

namespace {

// The continuous parameters [0, continuous) of `from` refined by a short Levenberg-Marquardt
// run; the best cost reached and its point.
double refineContinuous(Context& context, std::size_t continuous, const std::vector<double>& lower,
                        const std::vector<double>& upper, std::vector<double>& point,
                        int evaluationsPerParameter = 20) {
    const std::vector<double> r = context.residualsAt(context.full(point.data()));
    double cost = Context::costOf(r);
    if (continuous == 0 || cost >= kInvalidCost || r.size() < continuous)
        return cost;
    std::vector<int> active;
    for (std::size_t j = 0; j < continuous; ++j)
        active.push_back(int(j));
    Refinement functor(&context, point, active, lower, upper, int(r.size()));
    Eigen::VectorXd u = functor.startU();
    functor.lastU = u;
    functor.lastF = Eigen::Map<const Eigen::VectorXd>(r.data(), Eigen::Index(r.size()));
    functor.bestCost = cost;
    functor.best = point;
    Eigen::LevenbergMarquardt<Refinement> lm(functor);
    lm.setMaxfev(Eigen::Index(evaluationsPerParameter * int(continuous + 1)));
    lm.minimize(u);
    if (functor.bestCost < cost) {
        cost = functor.bestCost;
        point = functor.best;
    }
    return cost;
}

// Moves of the integers tried around `best`. First the joint moves that keep a period (one
// layer's count up, another's down by one or two), which the continuous parameters can make up
// for (one monolayer from a well to a barrier with the well's composition shifted); then every
// integer alone by one or two; then pairs moved alike. `joint` counts the first kind.
std::vector<std::vector<double>> integerMoves(const std::vector<double>& best,
                                              std::size_t continuous,
                                              const std::vector<double>& lower,
                                              const std::vector<double>& upper,
                                              std::size_t& joint) {
    const std::size_t p = best.size();
    std::vector<std::vector<double>> moves;
    const auto add = [&](std::size_t i, double di, std::size_t j, double dj) {
        std::vector<double> m = best;
        m[i] += di;
        if (j < p)
            m[j] += dj;
        for (std::size_t k : {i, j})
            if (k < p && (m[k] < lower[k] || m[k] > upper[k]))
                return;
        moves.push_back(std::move(m));
    };
    for (std::size_t i = continuous; i < p; ++i)
        for (std::size_t j = i + 1; j < p; ++j)
            for (double d : {1.0, -1.0, 2.0, -2.0}) {
                add(i, d, j, -d);
                if (std::fabs(d) < 2.0) {
                    add(i, d, j, -2.0 * d);
                    add(i, 2.0 * d, j, -d);
                }
            }
    joint = moves.size();
    for (std::size_t i = continuous; i < p; ++i)
        for (double d : {-2.0, -1.0, 1.0, 2.0})
            add(i, d, p, 0.0);
    for (std::size_t i = continuous; i < p; ++i)
        for (std::size_t j = i + 1; j < p; ++j)
            for (double d : {-1.0, 1.0})
                add(i, d, j, d);
    return moves;
}

// Evaluations per continuous parameter of the brief refinement of every move of the integers,
// and how many of the moves are then refined in full.
constexpr int kBriefEvaluations = 6;
constexpr std::size_t kFullyRefinedMoves = 2;

// Moves of the integers, each with every continuous parameter refined again, kept while one
// lowers the cost. `screened` > 0: the moves other than the joint ones are first evaluated with
// the continuous parameters held and only that many of the best refined (a start from the
// peaks is near its answer); 0 refines every move. The last round's refined moves (the
// neighbours of the final point) go into `neighbours`.
void polishIntegers(Context& context, std::size_t continuous, const std::vector<double>& lower,
                    const std::vector<double>& upper, std::vector<double>& best, double& bestCost,
                    std::size_t screened, std::vector<Neighbour>* neighbours) {
    for (int round = 0; round < 12 && !context.stopRequested(); ++round) {
        std::size_t joint = 0;
        std::vector<std::vector<double>> moves =
            integerMoves(best, continuous, lower, upper, joint);
        if (screened > 0 && moves.size() > joint + screened) {
            const std::size_t others = moves.size() - joint;
            std::vector<double> raw(others, kInvalidCost);
            context.forEach(others, [&](std::size_t m) {
                raw[m] =
                    Context::costOf(context.residualsAt(context.full(moves[joint + m].data())));
            });
            std::vector<std::size_t> order(others);
            for (std::size_t m = 0; m < order.size(); ++m)
                order[m] = m;
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return raw[a] < raw[b]; });
            std::vector<std::vector<double>> kept(moves.begin(),
                                                  moves.begin() + std::ptrdiff_t(joint));
            for (std::size_t m = 0; m < screened; ++m)
                kept.push_back(std::move(moves[joint + order[m]]));
            moves = std::move(kept);
        }
        // Every move refined briefly, the most promising in full.
        std::vector<double> costs(moves.size(), kInvalidCost);
        context.forEach(moves.size(), [&](std::size_t m) {
            costs[m] =
                refineContinuous(context, continuous, lower, upper, moves[m], kBriefEvaluations);
        });
        std::vector<std::size_t> order(moves.size());
        for (std::size_t m = 0; m < order.size(); ++m)
            order[m] = m;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return costs[a] < costs[b]; });
        order.resize(std::min(order.size(), kFullyRefinedMoves));
        context.forEach(order.size(), [&](std::size_t i) {
            const std::size_t m = order[i];
            costs[m] = refineContinuous(context, continuous, lower, upper, moves[m]);
        });
        const auto winner = std::min_element(costs.begin(), costs.end());
        if (winner == costs.end() || !(*winner < bestCost)) {
            if (neighbours) {
                neighbours->clear();
                for (std::size_t m = 0; m < moves.size(); ++m)
                    if (costs[m] < kInvalidCost)
                        neighbours->push_back({moves[m], costs[m]});
            }
            return;
        }
        bestCost = *winner;
        best = moves[std::size_t(winner - costs.begin())];
    }
}

// Guesses refined, the best of them by their cost as given.
constexpr std::size_t kRefinedGuesses = 2;
// Moves of the integers refined in each round of polishing a refined guess.
constexpr std::size_t kScreenedMoves = 3;

// Evaluates the problem's guesses, refines the best few (continuous parameters, then the
// integers moved), and puts the best refined point into `point` with its cost when it beats
// `cost`. True when it reaches the problem's acceptCost.
bool refineGuesses(Context& context, const FitProblem& problem, std::size_t continuous,
                   const std::vector<double>& lower, const std::vector<double>& upper,
                   std::vector<double>& point, double& cost, std::vector<Neighbour>& neighbours) {
    const std::size_t p = context.freeAt.size();
    std::vector<std::vector<double>> guesses;
    for (const std::vector<double>& g : problem.guesses) {
        if (g.size() != context.base.size())
            continue;
        std::vector<double> v(p);
        bool finite = true;
        for (std::size_t j = 0; j < p; ++j) {
            const double x = g[std::size_t(context.freeAt[j])];
            finite = finite && std::isfinite(x);
            v[j] = std::clamp(j < continuous ? x : std::round(x), lower[j], upper[j]);
        }
        if (finite)
            guesses.push_back(std::move(v));
    }
    if (guesses.empty())
        return false;
    std::vector<double> costs(guesses.size(), kInvalidCost);
    context.forEach(guesses.size(), [&](std::size_t i) {
        costs[i] = Context::costOf(context.residualsAt(context.full(guesses[i].data())));
    });
    std::vector<std::size_t> order(guesses.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return costs[a] < costs[b]; });
    order.resize(std::min(order.size(), kRefinedGuesses));
    std::vector<std::vector<double>> refined(order.size());
    std::vector<double> refinedCost(order.size(), kInvalidCost);
    context.forEach(order.size(), [&](std::size_t i) {
        refined[i] = guesses[order[i]];
        if (costs[order[i]] < kInvalidCost)
            refinedCost[i] = refineContinuous(context, continuous, lower, upper, refined[i]);
    });
    const std::size_t winner =
        std::size_t(std::min_element(refinedCost.begin(), refinedCost.end()) - refinedCost.begin());
    std::vector<double> best = refined[winner];
    double bestCost = refinedCost[winner];
    if (!(bestCost < kInvalidCost))
        return false;
    if (p > continuous)
        polishIntegers(context, continuous, lower, upper, best, bestCost, kScreenedMoves,
                       &neighbours);
    if (bestCost < cost) {
        cost = bestCost;
        point = best;
    }
    return problem.acceptCost > 0.0 && bestCost <= problem.acceptCost;
}

} // namespace

namespace {

// Generations of the short global search that must agree with a start from the measurement
// before it is taken, and by how much (a fraction of its cost) the search's best point must
// beat the start to overrule it: then the global search runs in full.
constexpr int kProbeGenerations = 8;
constexpr double kProbeMargin = 5e-3;

// The parts of a fit every stage shares.
struct Stages {
    Stages(const FitProblem& p, FitOutcome& o) : problem(p), out(o) {}

    const FitProblem& problem;
    FitOutcome& out;
    std::shared_ptr<Context> context = std::make_shared<Context>();
    std::vector<double> lower, upper; // full vector; integers' rounded inwards
    std::vector<bool> isInteger;
    std::size_t continuous = 0;                   // searched continuous parameters come first
    std::vector<double> searchLower, searchUpper; // searched vector
    std::vector<double> best;                     // searched vector of the best point so far
    std::vector<Neighbour> neighbours;
    std::vector<double> polished; // searched vector where the start's polish ended

    std::size_t searchedCount() const { return context->freeAt.size(); }
    void progress() const {
        if (problem.progress)
            problem.progress(out.generations, out.bestCost, context->full(best.data()));
    }

    // Bounds, the fixed and free parameters, the deadline, the threads, the start's cost.
    void setUp() {
        const std::size_t n = problem.lower.size();
        lower = problem.lower;
        upper = problem.upper;
        isInteger.assign(n, false);
        for (std::size_t i = 0; i < n; ++i)
            if (!problem.integer.empty() && problem.integer[i]) {
                isInteger[i] = true;
                lower[i] = std::ceil(lower[i]);
                upper[i] = std::floor(upper[i]);
            }
        context->residuals = problem.residuals;
        context->stop = problem.stop;
        context->unequalNoise = problem.unequalNoise;
        if (problem.maxSeconds > 0.0 && std::isfinite(problem.maxSeconds)) {
            context->hasDeadline = true;
            context->deadline =
                std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(std::min(problem.maxSeconds, 1e9)));
        }
        context->base.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            double x = std::clamp(problem.start[i], lower[i], upper[i]);
            if (isInteger[i])
                x = std::clamp(std::round(x), lower[i], upper[i]);
            context->base[i] = x;
        }
        for (int pass = 0; pass < 2; ++pass)
            for (std::size_t i = 0; i < n; ++i)
                if (lower[i] < upper[i] && isInteger[i] == (pass == 1)) {
                    context->freeAt.push_back(int(i));
                    continuous += pass == 0 ? 1 : 0;
                }
        const int threads = problem.threads > 0
                                ? problem.threads
                                : int(std::max(1u, std::thread::hardware_concurrency()));
        if (threads > 1)
            context->arena = std::make_unique<tbb::task_arena>(threads);

        const std::vector<double> startResiduals = context->residualsAt(context->base);
        context->expected = startResiduals.size();
        out.startCost = Context::costOf(startResiduals);
        out.best = context->base;
        out.bestCost = out.startCost;
        const std::size_t p = searchedCount();
        searchLower.resize(p);
        searchUpper.resize(p);
        best.resize(p);
        for (std::size_t j = 0; j < p; ++j) {
            const std::size_t k = std::size_t(context->freeAt[j]);
            searchLower[j] = lower[k];
            searchUpper[j] = upper[k];
            best[j] = context->base[k];
        }
        progress(); // a first word at once, before any stage that takes long
    }

    // The starts from outside the model, refined; true when the best reaches acceptCost.
    bool startFromGuesses() {
        if (searchedCount() == 0 || problem.guesses.empty())
            return false;
        std::vector<double> point = best;
        double cost = out.bestCost;
        const bool accepted = refineGuesses(*context, problem, continuous, searchLower, searchUpper,
                                            point, cost, neighbours);
        if (cost < out.bestCost) {
            out.bestCost = cost;
            best = point;
            polished = best;
        }
        return accepted;
    }

    // The global search from the best point so far. `probe`: a start is to be confirmed; the
    // search ends after kProbeGenerations unless it has found a point better than the start by
    // more than kProbeMargin, and then runs on in full. True when the probe agreed.
    bool globalSearch(bool probe) {
        const std::size_t p = searchedCount();
        SearchProblem search{context, searchLower, searchUpper, p - continuous};
        const int populationSize =
            problem.populationSize > 0 ? problem.populationSize : std::clamp(10 * int(p), 20, 64);
        pagmo::population population(pagmo::problem(search), pagmo::bfe(BatchEvaluator{context}),
                                     pagmo::population::size_type(populationSize), problem.seed);
        // The best point so far takes the place of the first random member.
        population.set_xf(0, best, {out.bestCost});
        pagmo::gaco colony(1u, unsigned(populationSize), 1.0, 0.0, 0.01, 1u, 7u, 100000u, 100000u,
                           0.0, true, problem.seed);
        colony.set_bfe(pagmo::bfe(BatchEvaluator{context}));
        pagmo::algorithm algorithm(colony);

        const double startCost = out.bestCost;
        const int generations = generationLimit(problem);
        std::vector<double> history;
        std::vector<std::vector<double>> champions;
        QElapsedTimer sinceProgress;
        sinceProgress.start();
        bool agreed = false;
        for (int g = 0; g < generations; ++g) {
            if (context->stopRequested()) {
                out.stopped = true;
                break;
            }
            population = algorithm.evolve(population);
            out.generations += 1;
            const double champion = population.champion_f()[0];
            history.push_back(champion);
            if (problem.progress && sinceProgress.elapsed() >= 250) {
                problem.progress(out.generations, champion,
                                 context->full(population.champion_x().data()));
                sinceProgress.restart();
            }
            if (probe && g + 1 == kProbeGenerations) {
                if (!(champion < startCost * (1.0 - kProbeMargin))) {
                    agreed = true;
                    break;
                }
                probe = false; // overruled: the search runs on
            }
            champions.push_back(population.champion_x());
            if (!probe && searchSettled(champions, searchLower, searchUpper, continuous)) {
                out.converged = true;
                break;
            }
            if (history.size() > std::size_t(kPatience)) {
                const double before = history[history.size() - 1 - std::size_t(kPatience)];
                if (before - champion <= kImprovementTolerance * std::fabs(before))
                    break;
            }
        }
        if (context->stopRequested())
            out.stopped = true;
        if (population.champion_f()[0] < out.bestCost) {
            best = population.champion_x();
            out.bestCost = population.champion_f()[0];
        }
        return agreed;
    }

    // Levenberg-Marquardt over the continuous parameters, integers held. The mapping into the
    // bounds makes a minimum on a bound slow to reach (dx/du vanishes there), so a parameter
    // that ends within 1e-6 of its range from a bound is pinned to it and the others refined
    // again.
    void refineLocally() {
        // A start point without residuals left their count open; the best point fixes it.
        if (context->expected == 0 && out.bestCost < kInvalidCost)
            context->expected = context->residualsAt(context->full(best.data())).size();
        const int residualCount = int(context->expected);
        std::vector<int> active;
        for (std::size_t j = 0; j < continuous; ++j)
            active.push_back(int(j));
        std::vector<double> from = best;
        for (int pass = 0; pass < 3 && !active.empty() && !out.stopped &&
                           out.bestCost < kInvalidCost && residualCount >= int(active.size());
             ++pass) {
            Refinement functor(context.get(), from, active, searchLower, searchUpper,
                               residualCount);
            Eigen::VectorXd u = functor.startU();
            Eigen::LevenbergMarquardt<Refinement> lm(functor);
            lm.setMaxfev(Eigen::Index(100 * (active.size() + 1)));
            lm.setXtol(1e-10);
            lm.setFtol(1e-12);
            lm.minimize(u);
            if (context->stopRequested())
                out.stopped = true;
            if (functor.bestCost < out.bestCost) {
                out.bestCost = functor.bestCost;
                best = functor.best;
            }
            from = best;
            std::vector<int> stillFree;
            for (int j : active) {
                const std::size_t k = std::size_t(j);
                const double margin = 1e-6 * (searchUpper[k] - searchLower[k]);
                if (from[k] - searchLower[k] <= margin)
                    from[k] = searchLower[k];
                else if (searchUpper[k] - from[k] <= margin)
                    from[k] = searchUpper[k];
                else
                    stillFree.push_back(j);
            }
            if (stillFree.size() == active.size())
                break;
            active = stillFree;
        }
    }

    // The population, or a start, can settle a monolayer or two off in thickness, where one
    // layer's thickness trades against another's at nearly the same period and the
    // continuous parameters make up the rest: moves of the integers, each refined again.
    void polish() {
        // The integers where the polish of the start left them: their neighbours are known.
        if (out.fromGuess && polished.size() == best.size() &&
            std::equal(best.begin() + std::ptrdiff_t(continuous), best.end(),
                       polished.begin() + std::ptrdiff_t(continuous)))
            return;
        neighbours.clear();
        if (searchedCount() > continuous && !out.stopped && out.bestCost < kInvalidCost)
            polishIntegers(*context, continuous, searchLower, searchUpper, best, out.bestCost,
                           out.fromGuess ? kScreenedMoves : 0, &neighbours);
    }

    // Whether the uncertainties can be worked out before the deadline: their evaluations at
    // the mean cost of one so far.
    bool timeForUncertainties(const QElapsedTimer& clock) const {
        if (problem.stop && problem.stop->load(std::memory_order_relaxed))
            return true; // stopped by hand: the cheap estimate still follows
        if (!context->hasDeadline)
            return true;
        const long done = std::max(1L, context->evaluations.load());
        const double each = double(clock.nsecsElapsed()) * 1e-9 / double(done);
        const std::size_t integers = searchedCount() - continuous;
        const double needed = each *
                              double(2 * searchedCount() + integers * 2 * (kProfileBatch + 4) + 1) /
                              double(std::max(1, problem.threads > 0 ? problem.threads : 1));
        const auto left =
            std::chrono::duration<double>(context->deadline - std::chrono::steady_clock::now());
        return needed <= left.count();
    }
};

} // namespace

FitOutcome runFit(const FitProblem& problem) {
    FitOutcome out;
    out.problem = validate(problem);
    if (!out.problem.isEmpty())
        return out;
    QElapsedTimer clock;
    clock.start();
    Stages fit(problem, out);
    fit.setUp();
    if (fit.searchedCount() > 0) {
        const bool fromGuess = fit.startFromGuesses();
        try {
            out.fromGuess = fromGuess && fit.globalSearch(true);
            out.probeOverruled = fromGuess && !out.fromGuess && !out.stopped;
            if (!fromGuess)
                fit.globalSearch(false);
        } catch (const std::exception& e) {
            // The library's own text names its source files; the person is told what
            // failed, the debug output keeps the details.
            qDebug("global search: %s", e.what());
            out.problem = QStringLiteral("the global search could not run within the FIT ranges");
            return out;
        }
        fit.progress();
        fit.refineLocally();
    }
    fit.polish();

    out.best = fit.context->full(fit.best.data());
    if (out.bestCost >= kInvalidCost) {
        out.problem = QStringLiteral("no valid point found: every residual vector tried was "
                                     "empty, of the wrong length or not finite");
    } else if (!fit.timeForUncertainties(clock)) {
        out.uncertaintiesSkipped = true;
        markBounds(fit.lower, fit.upper, fit.isInteger, out);
    } else {
        estimateUncertainties(*fit.context, fit.lower, fit.upper, fit.isInteger, fit.neighbours,
                              out);
    }
    const std::size_t n = problem.lower.size();
    if (out.sigma.size() != n) {
        out.sigma.assign(n, 0.0);
        out.atBound.assign(n, false);
        out.undetermined.assign(n, false);
    }
    out.evaluations = fit.context->evaluations.load();
    out.timedOut = fit.context->timedOut.load();
    out.stopped = out.stopped || out.timedOut;
    out.seconds = double(clock.nsecsElapsed()) * 1e-9;
    return out;
}

long expectedEvaluations(const FitProblem& problem) {
    long free = 0, continuous = 0;
    for (std::size_t i = 0; i < problem.lower.size() && i < problem.upper.size(); ++i) {
        if (problem.lower[i] < problem.upper[i]) {
            ++free;
            continuous += problem.integer.empty() || !problem.integer[i] ? 1 : 0;
        }
    }
    const long population = problem.populationSize > 0 ? problem.populationSize
                                                       : std::clamp(10 * free, long(20), long(64));
    const long generations =
        std::min(long(kTypicalGenerations),
                 long(problem.maxGenerations > 0 ? problem.maxGenerations : kDefaultGenerations));
    return population * generations + 30 * (continuous + 1) + 10 * free;
}

int generationLimit(const FitProblem& problem) {
    return problem.maxGenerations > 0 ? problem.maxGenerations : kDefaultGenerations;
}
