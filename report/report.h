#pragma once

#include "analysis/fitroad.h"
#include "analysis/scanroad.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"

#include <QString>
#include <QStringList>

#include <optional>

// A report of one computed structure, for the user's records: the plots, the structure as a
// table, the fit with its uncertainties, the agreement, the peak analysis, the model, the
// scan and how the results were made. Filled by the batch tool and by the window; written as
// one self-contained HTML file (images embedded) or as a PDF.
struct ReportData {
    QString program;      // name and version of the program that writes the report
    Structure structure;  // as computed (the fitted structure after a fit)
    ResultArrays results; // its depth profile and full curve
    bool logScale = true; // the diffraction plot's intensity axis
    // The comparison with the measured scan, when the structure had one to compare with.
    std::optional<ScanOutcome> scan;
    // The fit that made `structure`, with the seed it ran with; absent when none ran.
    std::optional<FitReport> fit;
    unsigned seed = 0;
};

// The report as one HTML document. Every text that comes from a file (names, targets,
// formats, log lines) is escaped. With `imageSource` empty the plot is embedded as a base64
// PNG; otherwise the <img> names that source (a resource of a QTextDocument).
QString reportHtml(const ReportData& data, const QString& imageSource = QString());

// The plots of the report: the composition profile above the diffraction curve or, with a
// scan, the overlay of the measured scan and the model. Needs a QGuiApplication.
QImage reportImage(const ReportData& data);

// True when `path` names a report this program writes: it ends in .html, .htm or .pdf (any
// case).
bool isReportPath(const QString& path);

// Writes the report to `path`: HTML for .html and .htm, a PDF for .pdf. The file is replaced
// only once it is complete; false when it could not be written (or `path` names no report).
// Needs a QGuiApplication (fonts), offscreen without a display.
bool writeReport(const QString& path, const ReportData& data);
