#include "report/scanoverlay.h"

#include "analysis/comparison.h"
#include "analysis/scanalone.h"
#include "analysis/scanroad.h"

OverlayData overlayOf(const ModelAtScan& model, const QVector<double>& measuredPeaks,
                      const QVector<double>& modelPeaks) {
    return OverlayData{model.theta, model.measured, model.model, measuredPeaks, modelPeaks};
}

OverlayData overlayOf(const ScanOutcome& scan) {
    if (!scan.ok)
        return OverlayData();
    return overlayOf(scan.model, scan.measuredPeaks.markedAngles(), scan.modelPeaks.markedAngles());
}

OverlayData overlayOf(const ScanAlone& alone) {
    if (!alone.ok)
        return OverlayData();
    return OverlayData{alone.scan.theta, alone.scan.intensity, QVector<double>(),
                       alone.peaks.markedAngles(), QVector<double>()};
}
