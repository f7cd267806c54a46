#pragma once

#include "analysis/peaks.h"
#include "measured/measuredscan.h"
#include "measured/readers.h"

#include <QString>
#include <QStringList>

// A measured scan looked at without a structure: the scan and the analysis of its peaks.
struct ScanAlone {
    bool ok = false;
    QStringList log; // what was read and the peak analysis, or why nothing is shown
    MeasuredScan scan;
    PeakAnalysis peaks;
};

// The wavelength taken for a scan whose file gives none: Cu K-alpha-1, Å.
constexpr double kScanAloneWavelength = 1.5406;

// Analyses the peaks of a scan read by readScanFile from `path`. Without a structure nothing
// says where the substrate's reflection lies, so the strongest point of the scan is taken as
// its place; the wavelength is the file's own, or kScanAloneWavelength when it gives none.
ScanAlone analyseScanAlone(const QString& path, const ScanReadResult& read);
