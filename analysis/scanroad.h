#pragma once

#include "analysis/comparison.h"
#include "analysis/peaks.h"
#include "measured/measuredscan.h"
#include "measured/readers.h"
#include "simulation/calculation.h"

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

// The scan the structure names in its MEASURED line, or `overridePath` when given (a path as
// the user typed it, relative to the current folder).
QString scanPathFor(const Structure& config, const QString& overridePath = QString());

// The instrument as the structure file sets it.
InstrumentSettings instrumentFrom(const Structure& config);

// Reads the scan at `scanPath` as the structure's statements say (2theta column, the
// substrate's reflections to choose among several scans).
ScanReadResult readScanFor(const Structure& config, const QString& scanPath);

// Computes the structure's model at the angles of a scan read by readScanFor, analyses the
// peaks of both and writes NAME-meas.EXT beside the structure file (or into outputDir).
// Nothing is attempted when scanPath is empty.
ScanOutcome compareWithScan(const Structure& config, const QString& scanPath,
                            const ScanReadResult& read, const QString& outputDir = QString(),
                            const SumControl& control = {});

// What the whole road of a loaded structure gave.
struct RoadOutcome {
    CalculationOutcome files;
    ScanOutcome scan;
    QStringList notes; // the calculation's own lines (the model), before everything else
};

// The whole road of a structure that loadStructure made ready: the scan read first (a model
// whose curve widens to a scan then also covers its angles), the calculation in its order
// with the hooks, then the comparison with the scan. `scanOverride` replaces the MEASURED
// line.
RoadOutcome runRoad(Calculation& calculation, ResultArrays& results, const CalculationHooks& hooks,
                    const QString& scanOverride = QString());

// The Bragg angles (degrees) of the substrate's (00l) reflections that a scan may cover, the
// strongest first: (004), (008), (002), (006), ... up to what the wavelength reaches.
QVector<double> substrateReflections(const Structure& config);

// The log's lines for a peak analysis: `heading`, then one indented line per figure (a value
// with its uncertainty, or why it is missing).
QStringList peakLines(const QString& heading, const PeakAnalysis& p);
