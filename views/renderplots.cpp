#include "renderplots.h"

#include "chcoord.h"
#include "compositionview.h"
#include "diffractionview.h"
#include "resultarrays.h"

#include <QColor>
#include <QPainter>

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
        bool neverDraw = true;
        drawComposition(p, coord, r, neverDraw);
    }
    QImage curve(w, h, QImage::Format_RGB32);
    curve.fill(QColor(255, 255, 255));
    {
        QPainter p(&curve);
        ChCoord coord;
        coord.marginTop = 0.02;
        coord.marginBottom = 0.05;
        coord.setArea(0, h, w, 0);
        bool neverDraw = true;
        drawDiffraction(p, coord, r.theta, r.intensity, logScale, neverDraw);
    }

    QPainter p(&image);
    p.drawImage(0, 0, comp);
    p.drawImage(0, h, curve);
    return image;
}
