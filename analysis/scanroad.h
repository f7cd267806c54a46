#pragma once

#include "analysis/comparison.h"
#include "analysis/peaks.h"
#include "measured/measuredscan.h"
#include "measured/readers.h"
#include "simulation/calculation.h"
#include "structure/extensions.h"

#include <QString>
#include <QStringList>

#include <memory>

struct Structure;

// What comparing a computed structure with its measured scan gave: the scan, the model at its
// angles, the peaks of both, the -meas file, and the lines for the log.
struct ScanOutcome {
    bool attempted = false; // there was a scan to compare with
    bool ok = false;        // the scan was read and compared
    QStringList log;        // in order: what was read, found, written, or why not
    MeasuredScan scan;
    ModelAtScan model;
    PeakAnalysis measuredPeaks;
    PeakAnalysis modelPeaks;
    QString measFile;
    bool measWritten = false;
};

// One scan a structure is compared with: its file, how to take the scan from it, the
// reflection it was measured at, and the tag of its -meas file.
struct ScanRequest {
    QString path; // absolute
    MeasuredSpec spec;
    QString measTag; // "meas" for the first scan, measuredResultTag() for the others
    int index = 0;   // in the structure's list of scans
    int count = 1;
};

// A scan named instead of the MEASURED lines (on the command line, through Open Measured
// Scan): a path as the user typed it (relative to the current folder), optionally followed
// by the import choices of a MEASURED line ("2theta SCAN 2 WINDOW 30 35"). The two parts are
// kept apart by a character no path holds; a plain path is an override without choices.
QString scanOverrideWith(const QString& path, const QString& choices);
QString overridePathOf(const QString& scanOverride);
// The choices of an override, or a phrase saying why they are malformed.
bool overrideChoices(const QString& scanOverride, MeasuredSpec& spec, QString& problem);

// The scans of a structure in MEASURED order, or the one of `scanOverride` (compared at the
// structure's reflection unless its choices name one) in their place.
QVector<ScanRequest> scanRequestsFor(const Structure& config,
                                     const QString& scanOverride = QString());

// The first scan the structure names in its MEASURED lines, or that of `scanOverride` when
// given.
QString scanPathFor(const Structure& config, const QString& overridePath = QString());
// Every scan file the structure's road reads, and the tags of the -meas files it writes.
QStringList scanPathsFor(const Structure& config, const QString& scanOverride = QString());
QStringList measTagsFor(const Structure& config, const QString& scanOverride = QString());

// The instrument as the structure file sets it.
InstrumentSettings instrumentFrom(const Structure& config);

// Reads one scan of scanRequestsFor as the structure's statements and its import choices say
// (the axis, the substrate's reflections to choose among several scans).
ScanReadResult readScanFor(const Structure& config, const ScanRequest& request);

// Computes the structure's model at the angles of one of its scans, read by readScanFor, at
// the scan's reflection (the log says which scan was compared at which when it is not the
// structure's), analyses the peaks of both and writes the -meas file of the request's tag
// beside the structure file (or into outputDir). Nothing is attempted without a scan path.
ScanOutcome compareWithScan(const Structure& base, const ScanRequest& request,
                            const ScanReadResult& read, const QString& outputDir = QString(),
                            const SumControl& control = {});

// What the whole road of a loaded structure gave.
struct RoadOutcome {
    CalculationOutcome files;
    // The first scan's outcome, its log holding the lines of every scan in order (the log of
    // one scan as it always was).
    ScanOutcome scan;
    QVector<ScanOutcome> scans; // every scan's own outcome, in MEASURED order
    bool scansWritten() const;  // every scan attempted was compared and its -meas file written
    QStringList notes;          // the calculation's own lines (the model), before everything else
};

// The first step of the road: reads the scans of `requests` (scanRequestsFor) and widens the
// calculation's curve to cover those at the structure's own reflection, where its model's
// curve widens to a scan.
QVector<ScanReadResult> readScansAndCover(Calculation& calculation,
                                          const QVector<ScanRequest>& requests);

// The whole road of a structure that loadStructure made ready: the scan read first (a model
// whose curve widens to a scan then also covers its angles), the calculation in its order
// with the hooks, then the comparison with the scan. `scanOverride` replaces the MEASURED
// line.
RoadOutcome runRoad(Calculation& calculation, ResultArrays& results, const CalculationHooks& hooks,
                    const QString& scanOverride = QString());

// The Bragg angles (degrees) of the substrate's (00l) reflections that a scan may cover, the
// strongest first: (004), (008), (002), (006), ... up to what the wavelength reaches.
QVector<double> substrateReflections(const Structure& config);

// A scan whose own wavelength differs from the structure's by more than this fraction is not
// compared or fitted: every angle would be off.
constexpr double kWavelengthTolerance = 1e-3;

// Why the scan cannot be compared with the structure for their wavelengths (one line naming
// both), or empty.
QString wavelengthRefusal(const Structure& config, const MeasuredScan& scan,
                          const QString& scanPath);

// The mean perpendicular mismatch of the structure's period to its substrate (the mean
// monolayer height of the period over the substrate's, less 1, by the structure's model): where
// a superlattice's zeroth order lies. NaN when the model gives no heights.
double meanMismatch(const Structure& config);

// The log's lines for a peak analysis: `heading`, then one indented line per figure (a value
// with its uncertainty, or why it is missing).
QStringList peakLines(const QString& heading, const PeakAnalysis& p);
