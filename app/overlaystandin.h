#pragma once
// THROWAWAY stand-in for views/overlayview.h and exportPlots (views/renderplots.h) until the
// overlay lands; deleted before the branch is handed over.
#include "plotrange.h"

#include <QSize>
#include <QString>
#include <QVector>

#include <optional>

class ChCoord;
class QPainter;
struct ResultArrays;

struct OverlayData {
    QVector<double> theta, measured, model;
    QVector<double> measuredPeaks, modelPeaks;
};
std::optional<PlotRange> overlayRange(const OverlayData& d, bool logScale);
void drawOverlay(QPainter& p, const ChCoord& coord, const OverlayData& d, bool logScale);
bool exportPlots(const QString& path, const ResultArrays& r, bool logScale, QSize plotSize,
                 const OverlayData* overlay, bool diffractionOnly);
