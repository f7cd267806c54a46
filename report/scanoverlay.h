#pragma once

#include "views/overlayview.h"

struct ModelAtScan;
struct ScanAlone;
struct ScanOutcome;

// What the lower plot overlays, from what a comparison with a measured scan gave: the one
// conversion the window, the image export, the report and the batch tool share.

// The scan and the model at its angles; `measuredPeaks` and `modelPeaks` are the angles marked
// on each.
OverlayData overlayOf(const ModelAtScan& model, const QVector<double>& measuredPeaks = {},
                      const QVector<double>& modelPeaks = {});
// A comparison with its peaks marked (PeakAnalysis::markedAngles); empty (the full curve is
// drawn) when the scan was not compared.
OverlayData overlayOf(const ScanOutcome& scan);
// A scan shown alone: no model, its own peaks marked; empty when it could not be read.
OverlayData overlayOf(const ScanAlone& alone);
