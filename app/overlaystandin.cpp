#include "overlaystandin.h"

#include "diffractionview.h"
#include "renderplots.h"
#include "resultarrays.h"

#include <QImage>

std::optional<PlotRange> overlayRange(const OverlayData& d, bool logScale) {
    return diffractionRange(d.theta + d.theta, d.measured + d.model, logScale);
}

void drawOverlay(QPainter& p, const ChCoord& coord, const OverlayData& d, bool logScale) {
    drawDiffraction(p, coord, d.theta, d.measured, logScale);
    drawDiffraction(p, coord, d.theta, d.model, logScale);
}

bool exportPlots(const QString& path, const ResultArrays& r, bool logScale, QSize plotSize,
                 const OverlayData*, bool) {
    if (!path.endsWith(QLatin1String(".png")))
        return false;
    const QImage image = renderPlots(r, logScale, plotSize);
    return !image.isNull() && image.save(path, "PNG");
}
