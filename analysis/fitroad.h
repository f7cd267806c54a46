#pragma once

#include "analysis/comparison.h"
#include "analysis/fit.h"
#include "measured/measuredscan.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <vector>

struct Structure;

// How a fit of a structure to its measured scan is run.
struct FitSettings {
    QString scanOverride; // a scan named on the command line instead of MEASURED
    // The scans read already (by the road that showed the structure), in the order of
    // scanRequestsFor; read from their files when there are not as many.
    QVector<MeasuredScan> scans;
    QString outputDir;     // where NAME-fitted.EXT goes; empty: beside the structure file
    unsigned seed = 1;     // the same seed gives the same fit, whatever the thread count
    int threads = 0;       // 0: all cores
    bool weighted = false; // weights from counting statistics instead of the plain log figure
    // The best point so far, at most a few times a second, from the fit's thread: the
    // generation, the agreement figure and the parameter values.
    std::function<void(int, double, const std::vector<double>&)> progress;
    const std::atomic<bool>* stop = nullptr; // ends the search early, keeping the best point
    // Set with `stop` when the fit's result is no longer wanted: the search ends at once and
    // nothing is written.
    const std::atomic<bool>* abandon = nullptr;
    double maxSeconds = 0.0; // ends the fit at the best point so far after this long; 0: never
    int populationSize = 0;  // of the global search; 0: its default
    int maxGenerations = 0;  // of the global search; 0: its default
    // Starts from the measurement's peaks (fitstart.h), when the peaks give every free layer
    // parameter, are refined first, and the global search is skipped when one refines to
    // within kAcceptedNoise times the scan's noise floor. Off by default: a caller turns it on.
    bool peakStart = false;
};

// A refined start from the peaks whose cost is at most this many times the scan's noise floor
// ends the fit after a short global search (runFit's probe), unless that search finds better.
constexpr double kAcceptedNoise = 4.0;
// An agreement more than this many times the scan's noise floor: the model does not explain
// the scan.
constexpr double kPoorAgreementNoise = 10.0;

// One row of the parameter table.
struct FitRow {
    QString target; // as written in its FIT line
    double start = 0, value = 0, sigma = 0;
    bool atBound = false;
    double nmPerUnit = 0; // a thickness: nm per monolayer of the fitted layer; 0 otherwise
};

struct FitReport {
    bool ok = false; // the fit ran and its file was written
    QStringList log; // why not, or what it found
    // What a grower must be told about the result (poor agreement, values at a bound or not
    // determined, uncertainties not worked out): also in the log, the fitted file and the
    // summary.
    QStringList warnings;
    double noiseFloor = 0.0; // the agreement the scan's noise alone leaves; 0 unknown
    QVector<FitRow> rows;
    double agreementBefore = 0, agreementAfter = 0;
    QString fittedFile;
    FitOutcome outcome;
};

// Prepares what every evaluation of a fit shares: the scan, the comparison on its angles, the
// parameters' ranges. Re-entrant after construction.
class StructureFit {
public:
    StructureFit(const Structure& config, const FitSettings& settings);
    ~StructureFit();

    // Why the fit cannot start (bad FIT lines, a refused structure, an unreadable scan...): one
    // line for the log, or empty.
    const QString& problem() const { return problem_; }
    const QStringList& notes() const { return notes_; }
    QString scanPath() const { return scanPath_; } // the first scan's
    int scanCount() const { return int(parts_.size()); }
    // The scan to compute the fitted file with, as an override (scanOverrideWith) when the fit
    // has one scan; empty with several, whose MEASURED lines the fitted file keeps.
    QString scanOverride() const { return scanOverride_; }

    // The structure and the instrument for a vector of parameter values; false when the values
    // make the structure invalid or beyond the limits.
    bool structureFor(const std::vector<double>& values, Structure& structure,
                      InstrumentSettings& instrument) const;
    // The model of a vector of parameter values at the scan's angles.
    bool modelFor(const std::vector<double>& values, ModelAtScan& out) const;

    // Runs the search, writes NAME-fitted.EXT and says what it found.
    FitReport run() const;

    // What the fit will cost, from one evaluation timed now: a line for the log ("about N
    // evaluations of T ms each: about S s on one core"), and the seconds. Empty when the
    // fit cannot start.
    QString costEstimate(double* seconds = nullptr) const;

private:
    std::vector<double> residuals(const std::vector<double>& values) const;
    bool abandoned() const {
        return settings_.abandon && settings_.abandon->load(std::memory_order_relaxed);
    }
    FitProblem searchProblem() const;

    const Structure& base_;
    FitSettings settings_;
    QString problem_;
    QStringList notes_;
    QString scanPath_;
    QString scanOverride_;
    // One per scan, in MEASURED order: the cost is the mean of their agreement figures.
    struct ScanPart {
        Reflection reflection;
        std::unique_ptr<ScanComparison> comparison;
        double countingTime = 0.0; // seconds per point for weights; 0 for the plain figure
    };
    std::vector<ScanPart> parts_;
    ScanComparison* comparison_ = nullptr;     // the first scan's
    double countingTime_ = 0.0;                // the first scan's
    std::vector<std::vector<double>> guesses_; // starts from the measurement's peaks
    double noiseFloor_ = 0.0;                  // the cost the scan's noise alone leaves
    double scanNoise_ = 0.0; // the same for the warnings, with or without a start from peaks
};

// Where the fit of `structureFile` writes: NAME-fitted.EXT beside it (or in `outputDir`); a
// file already named NAME-fitted.EXT is refitted into its own name, not NAME-fitted-fitted.EXT.
QString fittedFileName(const QString& structureFile, const QString& outputDir = QString());

// The structure's FITOPTIONS line (seed, population, generations, time limit) in `settings`;
// what it leaves out stays as `settings` has it.
void applyFitOptions(const Structure& config, FitSettings& settings);

// Why NAME-fitted.EXT of this structure could not be written (it is a folder, it or its folder
// is not writable): one line for the log, or empty. Checked before a fit starts.
QString fittedFileProblem(const Structure& config, const QString& outputDir = QString());

// The table of a report as text lines: parameter, start, fitted, uncertainty, at bound.
QStringList fitTable(const FitReport& report);

// The fit recorded in the `# fitted` header of the structure's file (values, uncertainties,
// agreement, seed, warnings), for a report of a fitted file opened later; false when the file
// has no such header. The starts are not recorded: NaN.
bool fitReportFromFile(const Structure& config, FitReport& report, unsigned& seed);
