#include "views/renderplots.h"

#include "plot/chcoord.h"
#include "simulation/resultarrays.h"
#include "simulation/resultfiles.h"
#include "views/compositionview.h"
#include "views/diffractionview.h"
#include "views/overlayview.h"

#include <QBuffer>
#include <QColor>
#include <QFileInfo>
#include <QPainter>
#include <QSvgGenerator>

#include <optional>

namespace {

// The composition plot as its display paints it: area (0, height, width, 0), derived ranges.
void paintComposition(QPainter& p, const ResultArrays& r, int w, int h) {
    ChCoord coord;
    coord.setArea(0, h, w, 0);
    if (const std::optional<PlotRange> range = compositionRange(r)) {
        coord.applyMargins();
        showRange(coord, *range);
        drawComposition(p, coord, r);
    }
}

// The lower plot as its display paints it, with derived ranges.
void paintDiffraction(QPainter& p, const ResultArrays& r, bool logScale, int w, int h,
                      const OverlayData* overlay, const DiffractionAxes& axes) {
    ChCoord coord;
    setDiffractionMargins(coord);
    coord.setArea(0, h, w, 0);
    drawLowerPlot(p, coord, r, overlay, logScale, axes, true);
}

QImage whiteImage(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    if (!image.isNull())
        image.fill(QColor(255, 255, 255));
    return image;
}

QImage renderDiffraction(const ResultArrays& r, bool logScale, QSize plotSize,
                         const OverlayData* overlay, const DiffractionAxes& axes) {
    if (plotSize.isEmpty())
        return QImage();
    QImage image = whiteImage(plotSize.width(), plotSize.height());
    if (!image.isNull()) {
        QPainter p(&image);
        paintDiffraction(p, r, logScale, plotSize.width(), plotSize.height(), overlay, axes);
    }
    return image;
}

// The same drawing calls into an SVG generator: the plots one below the other on a white
// page, each in its own frame. (The SVG engine does not honour clips; the curves are clipped
// to their frames geometrically as they are drawn.)
bool writeSvg(QIODevice& device, const ResultArrays& r, bool logScale, QSize plotSize,
              const OverlayData* overlay, bool diffractionOnly, const DiffractionAxes& axes) {
    const int w = plotSize.width();
    const int h = plotSize.height();
    const int pageHeight = diffractionOnly ? h : 2 * h;
    QSvgGenerator svg;
    svg.setOutputDevice(&device);
    svg.setSize(QSize(w, pageHeight));
    svg.setViewBox(QRect(0, 0, w, pageHeight));
    svg.setResolution(96);
    svg.setTitle(QStringLiteral("xrdsim plots"));
    QPainter p;
    if (!p.begin(&svg))
        return false;
    p.fillRect(QRect(0, 0, w, pageHeight), QColor(255, 255, 255));
    if (!diffractionOnly) {
        paintComposition(p, r, w, h);
        p.translate(0, h);
    }
    paintDiffraction(p, r, logScale, w, h, overlay, axes);
    return p.end();
}

} // namespace

const OverlayData* scanToOverlay(const OverlayData* overlay) {
    return overlay && !overlay->theta.isEmpty() ? overlay : nullptr;
}

bool drawLowerPlot(QPainter& p, ChCoord& coord, const ResultArrays& r, const OverlayData* overlay,
                   bool logScale, const DiffractionAxes& axes, bool deriveRanges) {
    if (const OverlayData* scan = scanToOverlay(overlay)) {
        const std::optional<PlotRange> range =
            deriveRanges ? overlayRange(*scan, logScale) : std::nullopt;
        if (deriveRanges && !range)
            return false;
        coord.applyMargins();
        if (range)
            showRange(coord, *range);
        DiffractionAxes counted = axes;
        counted.unit = IntensityUnit::CountsPerSecond;
        drawOverlay(p, coord, *scan, logScale, counted);
        return true;
    }
    const std::optional<PlotRange> range =
        deriveRanges ? diffractionRange(r.theta, r.intensity, logScale,
                                        axes.unit == IntensityUnit::Reflectivity)
                     : std::nullopt;
    if (r.theta.isEmpty() || (deriveRanges && !range))
        return false;
    coord.applyMargins();
    if (range)
        showRange(coord, *range);
    drawDiffraction(p, coord, r.theta, r.intensity, logScale, CurvePainter::Detail::Reduced, axes);
    return true;
}

QImage renderPlots(const ResultArrays& r, bool logScale, QSize plotSize, const OverlayData* overlay,
                   const DiffractionAxes& axes) {
    if (plotSize.isEmpty())
        return QImage();
    const int w = plotSize.width();
    const int h = plotSize.height();
    QImage image = whiteImage(w, 2 * h);
    if (image.isNull())
        return image;

    // Each plot as its display would paint it: white surface, area (0, height, width, 0).
    QImage comp = whiteImage(w, h);
    {
        QPainter p(&comp);
        paintComposition(p, r, w, h);
    }
    const QImage curve = renderDiffraction(r, logScale, plotSize, overlay, axes);

    QPainter p(&image);
    p.drawImage(0, 0, comp);
    p.drawImage(0, h, curve);
    return image;
}

bool exportPlots(const QString& path, const ResultArrays& r, bool logScale, QSize plotSize,
                 const OverlayData* overlay, bool diffractionOnly, const DiffractionAxes& axes) {
    if (plotSize.isEmpty())
        return false;
    // Encoded in memory first: the image library is never handed a file that fails half-way
    // (its error path on a full disk leaks), and the file is written in one piece.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    bool drawn = false;
    if (QFileInfo(path).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        drawn = writeSvg(buffer, r, logScale, plotSize, overlay, diffractionOnly, axes);
    } else {
        const QImage image = diffractionOnly
                                 ? renderDiffraction(r, logScale, plotSize, overlay, axes)
                                 : renderPlots(r, logScale, plotSize, overlay, axes);
        drawn = !image.isNull() && image.save(&buffer, "PNG");
    }
    buffer.close();
    SafeFile file(path);
    if (!drawn || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
