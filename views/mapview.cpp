#include "views/mapview.h"

#include "plot/chcoord.h"
#include "plot/drawtext.h"
#include "views/niceticks.h"
#include "views/plotaxes.h"
#include "views/viewsupport.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

using namespace viewsupport;

namespace {

const QColor kLineColour(90, 90, 90);
const QColor kSubstrateColour(0, 0, 0);
const QColor kLayerColour(220, 30, 30);
const QColor kSpotColour(255, 255, 255);

// Clips the segment (x0, z0)-(x1, z1) to the rectangle (Liang-Barsky); false when nothing of
// it is inside.
bool clipSegment(double& x0, double& z0, double& x1, double& z1, const QRectF& r) {
    double t0 = 0, t1 = 1;
    const double dx = x1 - x0, dz = z1 - z0;
    const double p[4] = {-dx, dx, -dz, dz};
    const double q[4] = {x0 - r.left(), r.right() - x0, z0 - r.top(), r.bottom() - z0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
    }
    if (t0 > t1)
        return false;
    const double ax = x0 + t0 * dx, az = z0 + t0 * dz;
    x1 = x0 + t1 * dx;
    z1 = z0 + t1 * dz;
    x0 = ax;
    z0 = az;
    return true;
}

// The data rectangle in view (left = lowest Qx, top = lowest Qz).
QRectF viewRect(const ChCoord& c) {
    return QRectF(QPointF(std::min(c.scaleX0, c.scaleX1), std::min(c.scaleY0, c.scaleY1)),
                  QPointF(std::max(c.scaleX0, c.scaleX1), std::max(c.scaleY0, c.scaleY1)));
}

void drawLine(QPainter& p, const ChCoord& c, double x0, double z0, double x1, double z1) {
    if (!clipSegment(x0, z0, x1, z1, viewRect(c)))
        return;
    p.drawLine(QPointF(c.toPixX(x0), c.toPixY(z0)), QPointF(c.toPixX(x1), c.toPixY(z1)));
}

bool inView(const ChCoord& c, double x, double z) {
    return viewRect(c).contains(QPointF(x, z));
}

void drawAxes(QPainter& p, const ChCoord& coord) {
    const LabelSizes s = labelSizes(coord);
    DrawText text;
    const QFont font;
    p.setPen(QColor(128, 128, 128));
    outlinePlot(p, coord);
    const Reach reach(coord);
    const double row = coord.plotY0 + std::abs(s.h) - s.halfK();
    const TickRange tx = niceTicks(coord.scaleX0, coord.scaleX1);
    const double widthX = boundedLabelWidth(std::fabs(coord.lenPixX(tx.tickStep)));
    forEachTick(tx, [&](double v) {
        const double x = coord.toPixX(v);
        if (!reach.containsX(x))
            return;
        p.drawLine(QPointF(x, coord.plotY0), QPointF(x, coord.plotY0 - 5));
        text.fitText(&p, text.centeredRect(x, row, 0.95 * widthX, s.k), font, kCentred, 1,
                     QString::number(v, 'g', 6), kMaxLabelPoints);
    });
    const TickRange tz = niceTicks(coord.scaleY0, coord.scaleY1);
    forEachTick(tz, [&](double v) {
        const double y = coord.toPixY(v);
        if (!reach.containsY(y))
            return;
        p.drawLine(QPointF(coord.plotX0, y), QPointF(coord.plotX0 + 5, y));
        text.fitText(&p, text.centeredRect(s.halfM(), y, 0.9 * s.m, s.k), font, kRightCentred, 1,
                     QString::number(v, 'g', 6), kMaxLabelPoints);
    });
    // Titles: Qx under its labels at the right, Qz above its labels.
    const double titleRow = row + std::abs(s.h);
    text.fitText(&p, text.centeredRect(coord.plotX1 - 4 * s.k, titleRow, 8 * s.k, s.k), font,
                 kCentred, 1, QStringLiteral("Qx (1/Å)"), kMaxLabelPoints);
    text.fitText(&p, QRectF(coord.plotX0 - 0.9 * s.m, coord.plotY1 - 1.6 * s.k, 8 * s.k, s.k), font,
                 Qt::AlignLeft | Qt::AlignVCenter, 1, QStringLiteral("Qz (1/Å)"), kMaxLabelPoints);
}

void drawColourBar(QPainter& p, const ChCoord& coord, const ColourRange& range) {
    const LabelSizes s = labelSizes(coord);
    const double left = coord.plotX1 + 0.25 * (coord.winX1 - coord.plotX1);
    const double width = std::max(6.0, 0.15 * (coord.winX1 - coord.plotX1));
    const double top = coord.plotY1;
    const double bottom = coord.plotY0;
    if (!(bottom - top > 4) || !(coord.winX1 - coord.plotX1 > 3 * width))
        return;
    const int steps = std::max(2, int(bottom - top));
    for (int i = 0; i < steps; ++i) {
        const double f = 1.0 - (i + 0.5) / steps;
        p.fillRect(
            QRectF(left, top + (bottom - top) * i / steps, width, (bottom - top) / steps + 1),
            QColor::fromRgb(mapColour(f)));
    }
    p.setPen(QColor(128, 128, 128));
    p.drawRect(QRectF(left, top, width, bottom - top));
    DrawText text;
    const QFont font;
    const double span = range.high - range.low;
    const TickRange t = niceTicks(range.low, range.high);
    forEachTick(t, [&](double v) {
        if (std::fabs(v - std::round(v)) > 1e-9 && t.tickStep >= 1)
            return;
        const double y = bottom - (v - range.low) / span * (bottom - top);
        p.drawLine(QPointF(left + width, y), QPointF(left + width + 3, y));
        text.fitText(
            &p, QRectF(left + width + 4, y - s.k / 2.0, coord.winX1 - left - width - 4, s.k), font,
            Qt::AlignLeft | Qt::AlignVCenter, 1, powerOfTenLabel(v), kMaxLabelPoints);
    });
    text.fitText(&p, QRectF(coord.plotX1 + 2, top - 1.5 * s.k, coord.winX1 - coord.plotX1 - 4, s.k),
                 font, Qt::AlignLeft | Qt::AlignVCenter, 1, QStringLiteral("counts/s"),
                 kMaxLabelPoints);
}

} // namespace

ColourRange colourRange(const MapGrid& grid) {
    double low = HUGE_VAL, high = -HUGE_VAL;
    for (int c = 0; c < grid.count.size(); ++c) {
        if (grid.count[c] == 0)
            continue;
        const double v = grid.sum[c] / grid.count[c];
        if (v > 0 && std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    if (!(high > 0))
        return {};
    ColourRange r{std::log10(low), std::log10(high)};
    if (!(r.high > r.low))
        r.low = r.high - 1;
    return r;
}

QRgb mapColour(double f) {
    // Stops of a perceptually ordered map (dark blue, blue, teal, green, yellow).
    static const QColor stops[] = {QColor(48, 18, 59), QColor(40, 90, 200), QColor(30, 160, 170),
                                   QColor(90, 200, 90), QColor(250, 230, 40)};
    f = std::isfinite(f) ? std::clamp(f, 0.0, 1.0) : 0.0;
    const double at = f * 4;
    const int i = std::min(3, int(at));
    const double w = at - i;
    const QColor& a = stops[i];
    const QColor& b = stops[i + 1];
    return qRgb(int(a.red() + w * (b.red() - a.red())),
                int(a.green() + w * (b.green() - a.green())),
                int(a.blue() + w * (b.blue() - a.blue())));
}

void MapPicture::prepare() {
    const MapGrid& g = analysis.grid;
    range = colourRange(g);
    cells = QImage(std::max(g.nx, 1), std::max(g.nz, 1), QImage::Format_ARGB32);
    cells.fill(Qt::transparent);
    const double span = range.high - range.low;
    for (int j = 0; j < g.nz; ++j) {
        QRgb* row = reinterpret_cast<QRgb*>(cells.scanLine(g.nz - 1 - j));
        for (int i = 0; i < g.nx; ++i) {
            if (!g.filled(i, j))
                continue;
            const double v = g.value(i, j);
            row[i] = v > 0 ? mapColour((std::log10(v) - range.low) / span) : mapColour(0);
        }
    }
}

void setMapMargins(ChCoord& coord) {
    coord.marginLeft = 0.12;
    coord.marginRight = 0.16;
    coord.marginTop = 0.06;
    coord.marginBottom = 0.1;
}

QRectF mapExtent(const MapGrid& g) {
    return QRectF(QPointF(g.x0 - g.dx() / 2, g.z0 - g.dz() / 2),
                  QPointF(g.x1 + g.dx() / 2, g.z1 + g.dz() / 2));
}

bool mapSourceRect(const ChCoord& coord, const MapGrid& grid, QRectF& source, QRectF& target) {
    const QRectF visible = viewRect(coord) & mapExtent(grid);
    if (visible.isEmpty() || grid.nx < 1 || grid.nz < 1)
        return false;
    const QRectF extent = mapExtent(grid);
    // Image x grows with Qx, image y downward from the highest Qz.
    const double sx = grid.nx / extent.width();
    const double sz = grid.nz / extent.height();
    source = QRectF(
        QPointF((visible.left() - extent.left()) * sx, (extent.bottom() - visible.bottom()) * sz),
        QPointF((visible.right() - extent.left()) * sx, (extent.bottom() - visible.top()) * sz));
    const double xa = coord.toPixX(visible.left()), xb = coord.toPixX(visible.right());
    const double ya = coord.toPixY(visible.top()), yb = coord.toPixY(visible.bottom());
    target = QRectF(QPointF(std::min(xa, xb), std::min(ya, yb)),
                    QPointF(std::max(xa, xb), std::max(ya, yb)));
    return target.width() > 0 && target.height() > 0 && source.width() > 0 && source.height() > 0;
}

void drawMap(QPainter& p, const ChCoord& coord, const MapPicture& picture) {
    const RsmAnalysis& a = picture.analysis;
    QRectF source, target;
    p.save();
    p.setClipRect(frameRect(coord));
    if (!picture.cells.isNull() && mapSourceRect(coord, a.grid, source, target))
        p.drawImage(target, picture.cells, source);

    // Lines of full strain and of full relaxation through the substrate's point.
    if (a.ok && a.substrateQz > 0) {
        QPen dashed(kLineColour);
        dashed.setStyle(Qt::DashLine);
        p.setPen(dashed);
        const QRectF v = viewRect(coord);
        drawLine(p, coord, a.substrateQx, v.top(), a.substrateQx, v.bottom());
        drawLine(p, coord, 0.0, 0.0, a.substrateQx * 2, a.substrateQz * 2);
        p.setPen(kSubstrateColour);
        if (inView(coord, a.substrateQx, a.substrateQz)) {
            const QPointF s(coord.toPixX(a.substrateQx), coord.toPixY(a.substrateQz));
            p.drawEllipse(s, 6, 6);
            p.drawLine(s - QPointF(8, 0), s + QPointF(8, 0));
            p.drawLine(s - QPointF(0, 8), s + QPointF(0, 8));
        }
    }
    DrawText text;
    const QFont font;
    for (const LayerMark& m : a.layers) {
        p.setPen(QPen(kLayerColour, 2));
        if (inView(coord, m.qxCoherent, m.qzCoherent)) {
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QPointF(coord.toPixX(m.qxCoherent), coord.toPixY(m.qzCoherent)), 5, 5);
        }
        if (inView(coord, m.qxRelaxed, m.qzRelaxed)) {
            const QPointF c(coord.toPixX(m.qxRelaxed), coord.toPixY(m.qzRelaxed));
            p.setBrush(kLayerColour);
            p.drawEllipse(c, 3.5, 3.5);
            p.setBrush(Qt::NoBrush);
            text.fitText(&p, QRectF(c + QPointF(6, -16), QSizeF(40, 14)), font,
                         Qt::AlignLeft | Qt::AlignVCenter, 1, QString::number(m.layer), 11);
        }
    }
    p.setPen(QPen(kSpotColour, 1));
    for (int s = 0; s < a.spots.size(); ++s) {
        const MapSpot& spot = a.spots[s];
        if (!inView(coord, spot.qx, spot.qz))
            continue;
        const QPointF c(coord.toPixX(spot.qx), coord.toPixY(spot.qz));
        p.drawLine(c - QPointF(4, 4), c + QPointF(4, 4));
        p.drawLine(c - QPointF(4, -4), c + QPointF(4, -4));
        text.fitText(&p, QRectF(c + QPointF(5, 2), QSizeF(30, 13)), font,
                     Qt::AlignLeft | Qt::AlignVCenter, 1, QStringLiteral("S%1").arg(s + 1), 10);
    }
    p.restore();
    drawAxes(p, coord);
    drawColourBar(p, coord, picture.range);
}

QImage renderMap(const MapPicture& picture, QSize size) {
    if (size.isEmpty())
        return QImage();
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::white);
    ChCoord coord;
    coord.setArea(0, size.height(), size.width(), 0);
    setMapMargins(coord);
    coord.applyMargins();
    const QRectF extent = mapExtent(picture.analysis.grid);
    coord.setScale(extent.left(), extent.top(), extent.right(), extent.bottom());
    QPainter p(&image);
    drawMap(p, coord, picture);
    p.end();
    return image;
}
