#pragma once

#include "comparison.h"
#include "measuredscan.h"
#include "peaks.h"

#include <QString>
#include <QStringList>

class Config;

// What comparing a computed structure with its measured scan gave: the scan, the model at its
// angles, the peaks of both, the -meas file, and the lines for the log.
struct ScanOutcome {
    bool attempted = false; // there was a scan to compare with
    bool ok = false;        // the scan was read and compared
    QStringList log;        // in order: what was read, found, written, or why not
    MeasuredScan scan;
    ModelAtScan model;
    PeakReport measuredPeaks;
    PeakReport modelPeaks;
    QString measFile;
    bool measWritten = false;
};

// The scan the structure names in its MEASURED line, or `overridePath` when given (a path as
// the user typed it, relative to the current folder).
QString scanPathFor(const Config& config, const QString& overridePath = QString());

// The instrument as the structure file sets it.
InstrumentSettings instrumentFrom(const Config& config);

// Reads the scan, computes the structure's model at its angles, analyses the peaks of both and
// writes NAME-meas.EXT beside the structure file (or into outputDir). Nothing is attempted when
// scanPath is empty.
ScanOutcome compareWithScan(const Config& config, const QString& scanPath,
                            const QString& outputDir = QString(), const SumControl& control = {});

// The Bragg angles (degrees) of the substrate's (00l) reflections that a scan may cover, the
// strongest first: (004), (008), (002), (006), ... up to what the wavelength reaches.
QVector<double> substrateReflections(const Config& config);
