// The document's report: what is on show, its scan and the fit that wrote it, into one HTML or
// PDF file.

#include "app/document.h"

#include "analysis/fitroad.h"
#include "analysis/scanroad.h"
#include "report/report.h"
#include "simulation/outputguard.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"

QString Document::outputRefusal(const QString& path) const {
    QStringList inputs{current_, aloneScan_};
    if (!current_.isEmpty())
        inputs << scanPathsFor(shown(), currentScan_);
    return refuseRunOutput(path, {{current_, inputs, {}}}).value(0);
}

QString Document::writeReport(const QString& path, bool logScale) const {
    if (current_.isEmpty() || (results_.depth.isEmpty() && results_.theta.isEmpty()))
        return tr("Nothing to report in [%1]: no structure has been computed.").arg(path);
    if (!isReportPath(path))
        return tr("Can't write [%1]: a report ends in .html, .htm or .pdf.").arg(path);
    QString refusal = outputRefusal(path);
    if (!refusal.isEmpty())
        return refusal;

    ReportData data;
    data.program = QStringLiteral("xrdsim " XRDSIM_VERSION);
    data.structure = shown();
    data.results = results_;
    data.logScale = logScale;
    if (lastScan_ && lastScan_->attempted)
        data.scan = *lastScan_;
    // The fit belongs to the report only while the file it wrote is on show.
    if (lastFit_ && pathIdentity(lastFit_->fittedFile) == pathIdentity(current_)) {
        data.fit = *lastFit_;
        data.seed = lastFitSeed_;
    } else if (FitReport recorded; fitReportFromFile(shown(), recorded, data.seed)) {
        data.fit = recorded; // a fitted file opened later: its header's fit
    }
    return (::writeReport(path, data) ? tr("Wrote [%1].") : tr("Can't write [%1].")).arg(path);
}
