#include "renderplots.h"

#include "chcoord.h"
#include "compositionview.h"
#include "diffractionview.h"
#include "resultarrays.h"

#include <QColor>
#include <QPainter>

#include <optional>

QImage renderPlots(const ResultArrays& r, bool logScale, QSize plotSize) {
    if (plotSize.isEmpty())
        return QImage();
    const int w = plotSize.width();
    const int h = plotSize.height();
    QImage image(w, 2 * h, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(QColor(255, 255, 255));

    // Each plot as its display would paint it: white surface, area (0, height, width, 0).
    QImage comp(w, h, QImage::Format_RGB32);
    comp.fill(QColor(255, 255, 255));
    {
        QPainter p(&comp);
        ChCoord coord;
        coord.setArea(0, h, w, 0);
        if (const std::optional<PlotRange> range = compositionRange(r)) {
            coord.applyMargins();
            showRange(coord, *range);
            drawComposition(p, coord, r);
        }
    }
    QImage curve(w, h, QImage::Format_RGB32);
    curve.fill(QColor(255, 255, 255));
    {
        QPainter p(&curve);
        ChCoord coord;
        setDiffractionMargins(coord);
        coord.setArea(0, h, w, 0);
        if (const std::optional<PlotRange> range =
                diffractionRange(r.theta, r.intensity, logScale)) {
            coord.applyMargins();
            showRange(coord, *range);
            drawDiffraction(p, coord, r.theta, r.intensity, logScale);
        }
    }

    QPainter p(&image);
    p.drawImage(0, 0, comp);
    p.drawImage(0, h, curve);
    return image;
}
