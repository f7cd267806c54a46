#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <tuple>
#include <vector>

// Least-squares fit of a model to data within bounds: a global search (pagmo2's extended ant
// colony optimiser, which searches integer parameters as integers, with the population
// evaluated in parallel), a Levenberg-Marquardt refinement of the continuous parameters from
// the best point (Eigen), and uncertainties from the Jacobian there.

struct FitProblem {
    // Bounds and the start point (inside the bounds). A parameter with lower == upper is
    // held fixed.
    std::vector<double> lower, upper, start;
    // Searched as integers (thicknesses in monolayers); their bounds are rounded inwards.
    // Empty means none.
    std::vector<bool> integer;
    // Residuals at a parameter vector (e.g. log10 measured - log10 model per point); the cost
    // is their mean square. Called concurrently from several threads. An empty result, a
    // result of another length than at the start point, or a non-finite residual marks the
    // point invalid: it gets the worst cost.
    std::function<std::vector<double>(const std::vector<double>&)> residuals;
    unsigned seed = 1; // same seed, same result, whatever the thread count
    int threads = 0;   // 0: all cores
    // Generations of the global search; 0: 500. The search ends earlier once it has
    // settled: its best point on the same whole number for each integer parameter and within
    // kConvergedSpread of the range for each continuous one for 25 generations (the
    // refinement that follows does better than the colony there), or once the best cost has
    // not improved for 100 generations.
    int maxGenerations = 0;
    // Members of the population; 0: 10 per free parameter, within 20..64.
    int populationSize = 0;
    // Called from the thread that runs the fit, at most four times a second and once at the
    // end of the global search.
    std::function<void(int generation, double bestCost, const std::vector<double>& best)> progress;
    // Set by another thread: the fit ends early and keeps the best point so far (the
    // uncertainties are still worked out there).
    const std::atomic<bool>* stop = nullptr;
    // The residuals are unequally noisy (log intensities of counts from a few to 10^5, with no
    // weights): the uncertainties come from the sandwich estimator instead of assuming one
    // spread for every residual.
    bool unequalNoise = false;
    // Wall-clock seconds the whole fit may take; 0: no limit. Past it the fit ends as if
    // stopped, at the best point so far.
    double maxSeconds = 0.0;
    // Starts known from outside the model (the measurement's peaks, say): full parameter
    // vectors, tried before the global search. Each is evaluated once, the best few refined
    // locally (the continuous parameters, then moves of the integers), and the best refined
    // point joins the global search's population in place of the start point.
    std::vector<std::vector<double>> guesses;
    // When the best refined guess reaches a cost at or below this, the global search is
    // skipped (0: never): a start that good needs only the refinement.
    double acceptCost = 0.0;
};

// The continuous parameters' spread, as a fraction of their ranges, that counts as converged.
constexpr double kConvergedSpread = 2e-3;

struct FitOutcome {
    std::vector<double> best;
    // One standard deviation per parameter from sigma^2 (J^T J)^-1, sigma^2 = sum r^2 / (n - p);
    // 0 for fixed parameters. A parameter the residuals do not determine gets the standard
    // deviation of a uniform spread over its bounds, (upper - lower) / sqrt(12). An integer
    // parameter's from the profile of the cost instead: half the width of the range over
    // which the sum of squares, the continuous parameters following it along their
    // correlation, stays within sigma^2 of its minimum; never below 1.
    std::vector<double> sigma;
    // The uncertainties above are widened by the neighbouring whole-monolayer solutions (each
    // integer moved by one or two, the continuous parameters refined again), weighed by their
    // likelihood: the variance of that mixture.
    std::vector<bool> atBound;      // within 1e-4 of the range from a bound (integers: on it)
    std::vector<bool> undetermined; // the scan leaves it open: sigma above 0.2 of its range
    int integerSolutions = 0;       // neighbouring whole-monolayer solutions within one sigma
    double startCost = 0, bestCost = 0;
    std::vector<std::tuple<int, int, double>> strongCorrelations; // |r| > 0.9, i < j
    long evaluations = 0;
    int generations = 0;
    bool stopped = false;
    bool timedOut = false;  // stopped by FitProblem::maxSeconds
    bool converged = false; // the global search ended because its best point settled
    // A refined guess was good enough and a short global search found nothing better: no
    // full global search ran.
    bool fromGuess = false;
    bool probeOverruled = false;       // the short search found better: the full search ran
    bool uncertaintiesSkipped = false; // no time left for them: sigma is each range's spread
    double seconds = 0.0;              // wall-clock time of the whole fit
    QString problem;                   // empty when it ran; otherwise why not
};

// The cost given to invalid points (and the ceiling of every cost).
constexpr double kInvalidCost = 1e100;

FitOutcome runFit(const FitProblem& problem);

// A rough count of the evaluations a fit of this problem takes (for an estimate of its time
// before it starts): the population times a typical number of generations, and the
// refinement.
long expectedEvaluations(const FitProblem& problem);

// The most generations the global search of this problem runs.
int generationLimit(const FitProblem& problem);
