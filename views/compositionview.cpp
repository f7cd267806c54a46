#include "views/compositionview.h"

#include "plot/chcoord.h"
#include "plot/drawtext.h"
#include "simulation/resultarrays.h"
#include "views/viewsupport.h"

#include <QColor>
#include <QFont>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>
#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

using namespace viewsupport;

namespace {

// Depth 0 to the period thickness (the closing entry), or else the span of the finite depths
// together with 0, or else 0..1, so depth 0 still sits at the left edge.
AxisRange depthRange(const QVector<double>& depth) {
    double low = 0.0;
    double high = 0.0;
    for (double d : depth) {
        if (std::isfinite(d)) {
            low = std::min(low, d);
            high = std::max(high, d);
        }
    }
    return firstUsable({AxisRange{0.0, depth.last()}, AxisRange{low, high}, AxisRange{0.0, 1.0}});
}

// One composition curve through whole-pixel points; a monolayer without a finite depth or
// composition breaks the curve.
void drawProfile(QPainter& p, const ChCoord& coord, const QVector<double>& depth,
                 const QVector<double>& fraction, CurvePainter::Detail detail) {
    CurvePainter curve(
        p, QRectF(QPointF(coord.winX0, coord.winY0), QPointF(coord.winX1, coord.winY1)), detail);
    const int n = std::min(depth.size(), fraction.size());
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(depth[i]) || !std::isfinite(fraction[i])) {
            curve.breakLine();
            continue;
        }
        curve.addPoint(std::trunc(coord.toPixX(depth[i])), std::trunc(coord.toPixY(fraction[i])));
    }
}

// Whether a label box is too narrow for its fitted font to reach one pixel. fitText scales a
// label to min(box width / width at 10 points, box height / height at 10 points) x 10 points,
// and the painter's font rounds its size to whole pixels (size in points x dpi / 72), so a
// size below half a pixel gets no font engine and draws nothing. A label is at least as wide
// as its narrowest digit, which bounds its fitted size from above without laying it out. The
// bound is used with a margin (0.4 instead of 0.5 pixels); a box of zero width or height is
// never skipped (fitText then draws at the 10-point size). The digit widths are measured on
// the first narrow box only, so ordinary paints do not pay for them.
class TinyLabels {
public:
    explicit TinyLabels(QPainter& p) : painter(p) {}

    bool invisible(const QRectF& box, int boxHeight) {
        const double w = std::fabs(box.width());
        if (!(w > 0.0) || !(w < 4.0) || boxHeight <= 0)
            return false;
        return w < narrowestWidth();
    }

private:
    double narrowestWidth() {
        if (limit >= 0.0)
            return limit;
        limit = 0.0;
        const int dpi = painter.device() ? painter.device()->logicalDpiY() : 0;
        if (dpi <= 0)
            return limit;
        const QFont saved = painter.font();
        QFont f;
        f.setPointSizeF(10.0);
        painter.setFont(f);
        double narrowest = std::numeric_limits<double>::infinity();
        for (int d = 0; d <= 9; ++d) {
            const QRectF b =
                painter.boundingRect(QRectF(0, 0, 5000, 5000), kCentred, QString::number(d));
            narrowest = std::min(narrowest, b.width());
        }
        painter.setFont(saved);
        // Fitted size in pixels = 10 x w / narrowest x dpi / 72 < 0.4.
        if (std::isfinite(narrowest) && narrowest > 0.0)
            limit = 0.4 * narrowest * 72.0 / (10.0 * dpi);
        return limit;
    }

    QPainter& painter;
    double limit = -1.0; // box width below which a label draws nothing; not yet measured
};

} // namespace

std::optional<PlotRange> compositionRange(const ResultArrays& r) {
    if (r.depth.isEmpty())
        return std::nullopt;
    return PlotRange{depthRange(r.depth), AxisRange{-0.1, 1.1}};
}

void drawComposition(QPainter& p, const ChCoord& coord, const ResultArrays& r,
                     CurvePainter::Detail detail) {
    const QVector<double>& depth = r.depth;
    if (depth.isEmpty())
        return;
    const LabelSizes s = labelSizes(coord);
    const Reach reach(coord);

    DrawText text;
    const QFont font;
    p.setPen(QColor(128, 128, 128));
    outlinePlot(p, coord);

    // A boundary line and the monolayer's index under it, in a box as wide as the monolayer;
    // the closing entry is the end of the period, not a monolayer, and gets neither.
    const int bottomY = pixelInt(coord.plotY0);
    const int topY = pixelInt(coord.plotY1);
    const double labelY = coord.plotY0 + std::abs(s.h) - s.halfK();
    // Lines and labels that cannot touch the widget are skipped: zoomed into a thick stack,
    // most boundaries lie off to the sides, and fitting their labels (two text layouts each)
    // would make every repaint slow. A fitted label can overrun its box by rounding, so
    // boxes are kept up to kLabelSlack pixels beyond the edges.
    // Unzoomed, a thick stack puts many boundaries on one pixel column and gives labels too
    // small to draw a pixel: a line that repeats the last one drawn (with no label drawn since,
    // whose antialiased edge it might have covered) and such labels are skipped
    // (Detail::AllPoints draws them all; the tests compare both pixel by pixel).
    constexpr double kLabelSlack = 16.0;
    const double widgetLeft = std::min(coord.winX0, coord.winX1);
    const double widgetRight = std::max(coord.winX0, coord.winX1);
    const bool shortcuts = detail == CurvePainter::Detail::Reduced;
    TinyLabels tiny(p);
    bool haveLastLine = false;
    int lastLineX = 0;
    for (int i = 0; i + 1 < depth.size(); ++i) {
        if (!std::isfinite(depth[i]))
            continue;
        const double x = coord.toPixX(depth[i]);
        if (!reach.containsX(x))
            continue;
        if (x >= widgetLeft - 1 && x <= widgetRight + 1) {
            const int lineX = pixelInt(x);
            if (!shortcuts || !haveLastLine || lineX != lastLineX)
                p.drawLine(lineX, bottomY, lineX, topY);
            haveLastLine = true;
            lastLineX = lineX;
        }
        const double thickness = depth[i + 1] - depth[i];
        if (!std::isfinite(thickness))
            continue;
        const QRectF box =
            text.centeredRect(x, labelY, boundedLabelWidth(coord.lenPixX(thickness)), s.k);
        const QRectF normal = box.normalized();
        if (normal.right() < widgetLeft - kLabelSlack || normal.left() > widgetRight + kLabelSlack)
            continue;
        if (shortcuts && tiny.invisible(box, s.k))
            continue;
        text.fitText(&p, box, font, kCentred, 1, QString::number(i), kMaxLabelPoints);
        haveLastLine = false;
    }

    // Grid lines at compositions 0, 0.1, ... 1, by repeated addition as the labels show it.
    const int leftX = pixelInt(coord.plotX0);
    const int rightX = pixelInt(coord.plotX1);
    double v = 0.0;
    for (int i = 0; i < 11; ++i, v += 0.1) {
        const double y = coord.toPixY(v);
        if (!reach.containsY(y))
            continue;
        p.drawLine(leftX, pixelInt(y), rightX, pixelInt(y));
        const QRectF box = text.centeredRect(s.halfM(), y, 0.9 * s.m, s.k);
        text.fitText(&p, box, font, kRightCentred, 1, QString::number(v, 'g', 6), kMaxLabelPoints);
    }

    QPen pen;
    pen.setWidth(2);
    pen.setColor(QColor(0, 0, 255));
    p.setPen(pen);
    drawProfile(p, coord, depth, r.inProfile, detail);
    pen.setColor(QColor(255, 0, 0));
    p.setPen(pen);
    drawProfile(p, coord, depth, r.asProfile, detail);
}
