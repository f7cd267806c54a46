#include "views/compositionview.h"

#include "plot/chcoord.h"
#include "plot/drawtext.h"
#include "simulation/resultarrays.h"
#include "views/diffractionview.h"
#include "views/plotaxes.h"
#include "views/viewsupport.h"

#include <QColor>
#include <QFont>
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

const QColor kInColour(0, 0, 255);
const QColor kAsColour(255, 0, 0);

// Boundary lines closer than this many pixels on average are not drawn one by one.
constexpr double kMinLinePitch = 4.0;

// The monolayer boundaries whose lines fall inside the plot rectangle: the first and last
// index, how many, and the average width of a monolayer there in pixels.
struct Visible {
    int first = -1;
    int last = -2;
    int count = 0;
    double pixelsPerMonolayer = 0.0;
};

Visible visibleBoundaries(const ChCoord& coord, const QVector<double>& depth) {
    Visible v;
    const double left = std::min(coord.plotX0, coord.plotX1) - 1.0;
    const double right = std::max(coord.plotX0, coord.plotX1) + 1.0;
    double firstX = 0.0;
    double lastX = 0.0;
    for (int i = 0; i + 1 < depth.size(); ++i) {
        const double x = coord.toPixX(depth[i]);
        if (!(x >= left && x <= right))
            continue;
        if (v.count == 0) {
            v.first = i;
            firstX = x;
        }
        v.last = i;
        lastX = x;
        ++v.count;
    }
    if (v.count >= 2)
        v.pixelsPerMonolayer = std::fabs(lastX - firstX) / (v.last - v.first);
    else if (v.count == 1 && v.first + 1 < depth.size())
        v.pixelsPerMonolayer = std::fabs(coord.lenPixX(depth[v.first + 1] - depth[v.first]));
    if (!std::isfinite(v.pixelsPerMonolayer))
        v.pixelsPerMonolayer = 0.0;
    return v;
}

// Monolayers between two labels: 1, 2 or 5 times a power of ten, the smallest that leaves
// each label about four label heights (room for five digits). 0 when nothing is visible.
qint64 labelStep(const Visible& v, int labelHeight) {
    if (v.count == 0)
        return 0;
    const double room = 4.0 * std::max(labelHeight, 4);
    if (!(v.pixelsPerMonolayer > 0.0))
        return std::max<qint64>(1, v.count);
    for (qint64 decade = 1; decade <= 1000000000; decade *= 10) {
        for (qint64 f : {1, 2, 5}) {
            if (static_cast<double>(f * decade) * v.pixelsPerMonolayer >= room)
                return f * decade;
        }
    }
    return std::max<qint64>(1, v.count);
}

// The label sizes of the composition plot: those of its own frame, but never a smaller label
// height than the diffraction plot would give a display of the same size (its plot
// rectangle is taller), so the two plots' labels match.
LabelSizes compositionLabelSizes(const ChCoord& coord) {
    LabelSizes s = labelSizes(coord);
    ChCoord diffraction;
    setDiffractionMargins(diffraction);
    diffraction.setArea(coord.winX0, coord.winY0, coord.winX1, coord.winY1);
    diffraction.applyMargins();
    const LabelSizes d = labelSizes(diffraction);
    if (d.k > s.k) {
        s.k = d.k;
        s.h = d.h;
    }
    return s;
}

// The two curves' colours and names in a white box at the top right of the plot, where the
// derived range leaves compositions above 1 free.
void drawCompositionLegend(QPainter& p, const ChCoord& coord, const LabelSizes& s) {
    const QRectF frame = frameRect(coord);
    const double k = s.k;
    const double sample = 2.0 * k;
    const double textWidth = 7.0 * k;
    const double width = 2.0 * (sample + textWidth + 10.0) + 4.0;
    const double height = k + 4.0;
    if (!(k >= 4.0) || !(frame.width() > width + 8.0) || !(frame.height() > 4.0 * height))
        return;
    const double left = frame.right() - 3.0 - width;
    const double top = frame.top() + 2.0;
    p.setPen(QColor(128, 128, 128));
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(QRectF(left, top, width, height));
    p.setBrush(Qt::NoBrush);
    DrawText text;
    const QFont font;
    const struct {
        QColor colour;
        QString name;
    } entries[] = {{kInColour, QStringLiteral("In on group III")},
                   {kAsColour, QStringLiteral("As on group V")}};
    const double y = top + 0.5 * height;
    for (int e = 0; e < 2; ++e) {
        const double x = left + 4.0 + e * (sample + textWidth + 10.0);
        QPen pen(entries[e].colour);
        pen.setWidth(2);
        p.setPen(pen);
        p.drawLine(pixelInt(x), pixelInt(y), pixelInt(x + sample), pixelInt(y));
        p.setPen(QColor(128, 128, 128));
        text.fitText(&p, QRectF(x + sample + 4.0, y - 0.5 * k, textWidth, k), font,
                     Qt::AlignLeft | Qt::AlignVCenter, 1, entries[e].name, kMaxLabelPoints);
    }
}

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
    const LabelSizes s = compositionLabelSizes(coord);
    const Reach reach(coord);

    DrawText text;
    const QFont font;
    p.setPen(QColor(128, 128, 128));
    outlinePlot(p, coord);

    // Boundary lines where the monolayers are wide enough to tell apart (else they would only
    // smear the plot grey); index labels, and the depth in nm under them, at whole steps of
    // monolayers chosen so that the labels have room.
    const int bottomY = pixelInt(coord.plotY0);
    const int topY = pixelInt(coord.plotY1);
    const Visible visible = visibleBoundaries(coord, depth);
    const bool everyLine = visible.count > 0 && visible.pixelsPerMonolayer >= kMinLinePitch;
    const qint64 step = labelStep(visible, s.k);
    const double row1 = coord.plotY0 + std::abs(s.h) - s.halfK();
    const double row2 = row1 + std::abs(s.h);
    const bool shortcuts = detail == CurvePainter::Detail::Reduced;
    bool haveLastLine = false;
    int lastLineX = 0;
    for (int i = visible.first; i >= 0 && i <= visible.last && i + 1 < depth.size(); ++i) {
        if (!std::isfinite(depth[i]))
            continue;
        const double x = coord.toPixX(depth[i]);
        if (!reach.containsX(x))
            continue;
        const bool labelled = step > 0 && i % step == 0;
        if (everyLine || labelled) {
            const int lineX = pixelInt(x);
            if (!shortcuts || !haveLastLine || lineX != lastLineX)
                p.drawLine(lineX, bottomY, lineX, topY);
            haveLastLine = true;
            lastLineX = lineX;
        }
        if (!labelled)
            continue;
        const double width =
            boundedLabelWidth(static_cast<double>(step) * visible.pixelsPerMonolayer);
        text.fitText(&p, text.centeredRect(x, row1, width, s.k), font, kCentred, 1,
                     QString::number(i), kMaxLabelPoints);
        text.fitText(&p, text.centeredRect(x, row2, width, s.k), font, kCentred, 1,
                     QString::number(depth[i] / 10.0, 'g', 4), kMaxLabelPoints);
        haveLastLine = false;
    }
    // What the two label rows count, in the left margin beside them.
    text.fitText(&p, text.centeredRect(0.4 * s.m, row1, 0.75 * s.m, s.k), font, kRightCentred, 1,
                 QStringLiteral("ML"), kMaxLabelPoints);
    text.fitText(&p, text.centeredRect(0.4 * s.m, row2, 0.75 * s.m, s.k), font, kRightCentred, 1,
                 QStringLiteral("nm"), kMaxLabelPoints);

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

    p.save();
    p.setClipRect(frameRect(coord));
    QPen pen;
    pen.setWidth(2);
    pen.setColor(kInColour);
    p.setPen(pen);
    drawProfile(p, coord, depth, r.inProfile, detail);
    pen.setColor(kAsColour);
    p.setPen(pen);
    drawProfile(p, coord, depth, r.asProfile, detail);
    p.restore();
    drawCompositionLegend(p, coord, s);
}
