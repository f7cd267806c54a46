#include "views/overlayview.h"

#include "plot/chcoord.h"
#include "plot/drawtext.h"
#include "views/datacurve.h"
#include "views/diffractionview.h"
#include "views/viewsupport.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace viewsupport;

namespace {

const QColor kMeasuredColour(40, 90, 220);
const QColor kModelColour(220, 0, 0);
const QColor kGrey(128, 128, 128);

// The measured range with 2 % of its span on either side.
AxisRange angleRange(const QVector<double>& theta) {
    double low = 0.0;
    double high = 0.0;
    bool found = false;
    for (double t : theta) {
        if (!std::isfinite(t))
            continue;
        low = found ? std::min(low, t) : t;
        high = found ? std::max(high, t) : t;
        found = true;
    }
    if (!found)
        return AxisRange{0.0, 1.0};
    const double pad = 0.02 * (high - low);
    return firstUsable(
        {AxisRange{low - pad, high + pad}, AxisRange{low, high}, unitRangeAround(low)});
}

// The value of a point as the y axis shows it; NaN where it has no position.
double shown(double v, bool logScale) {
    if (!std::isfinite(v) || (logScale && !(v > 0.0)))
        return std::numeric_limits<double>::quiet_NaN();
    return logScale ? std::log10(v) : v;
}

// The highest shown value of the curve at the point nearest the angle and its two neighbours
// (a peak found on a smoothed curve sits within a point of the local maximum); NaN when none
// of them has a position.
double heightAt(const QVector<double>& theta, const QVector<double>& values, double angle,
                bool logScale) {
    const int n = std::min(theta.size(), values.size());
    int nearest = -1;
    double distance = std::numeric_limits<double>::infinity();
    for (int i = 0; i < n; ++i) {
        const double d = std::fabs(theta[i] - angle);
        if (d < distance) {
            distance = d;
            nearest = i;
        }
    }
    double best = std::numeric_limits<double>::quiet_NaN();
    for (int i = nearest - 1; nearest >= 0 && i <= nearest + 1; ++i) {
        if (i < 0 || i >= n)
            continue;
        const double v = shown(values[i], logScale);
        if (std::isfinite(v) && !(v <= best))
            best = v;
    }
    return best;
}

// The plot rectangle in pixels with its edges ordered; empty when a field is not finite.
struct PlotBox {
    explicit PlotBox(const ChCoord& c)
        : left(std::min(c.plotX0, c.plotX1)), right(std::max(c.plotX0, c.plotX1)),
          top(std::min(c.plotY0, c.plotY1)), bottom(std::max(c.plotY0, c.plotY1)) {}
    bool usable() const {
        return std::isfinite(left) && std::isfinite(right) && std::isfinite(top) &&
               std::isfinite(bottom) && right - left < 2 * kReach && bottom - top < 2 * kReach;
    }
    double left, right, top, bottom;
};

// A tick 10 pixels long ending 6 pixels above the curve at each peak (clear of the curve, so
// it does not read as part of a sharp peak), kept inside the plot; without a curve height
// there it hangs from the top edge.
void drawPeakTicks(QPainter& p, const ChCoord& coord, const PlotBox& box,
                   const QVector<double>& theta, const QVector<double>& values,
                   const QVector<double>& peaks, bool logScale) {
    constexpr double kLength = 10.0;
    constexpr double kGap = 6.0;
    if (box.bottom - box.top < kLength + 2.0)
        return;
    for (double angle : peaks) {
        if (!std::isfinite(angle))
            continue;
        const double x = coord.toPixX(angle);
        if (!(x >= box.left && x <= box.right))
            continue;
        const double height = heightAt(theta, values, angle, logScale);
        double lower = std::isfinite(height) ? coord.toPixY(height) - kGap : box.top + 1 + kLength;
        lower = std::max(box.top + 1 + kLength, std::min(box.bottom - 1, lower));
        p.drawLine(pixelInt(x), pixelInt(lower), pixelInt(x), pixelInt(lower - kLength));
    }
}

// Two rows in the top right corner of the plot, each a sample of the curve's line and its
// name, sized by the label height; left out when the plot is too small for it.
void drawLegend(QPainter& p, const ChCoord& coord, const PlotBox& box) {
    const double k = labelSizes(coord).k;
    const double sample = 2.0 * k;
    const double textWidth = 4.5 * k;
    const double width = sample + textWidth + 12.0;
    const double height = 2.0 * k + 8.0;
    if (!(k >= 4.0) || box.right - box.left < width + 8.0 || box.bottom - box.top < height + 8.0)
        return;
    const double left = box.right - 4.0 - width;
    DrawText text;
    const QFont font;
    const struct {
        QColor colour;
        QString name;
    } rows[] = {{kMeasuredColour, QStringLiteral("measured")},
                {kModelColour, QStringLiteral("model")}};
    for (int row = 0; row < 2; ++row) {
        const double y = box.top + 4.0 + (row + 0.5) * (k + 2.0);
        p.setPen(rows[row].colour);
        p.drawLine(pixelInt(left + 4.0), pixelInt(y), pixelInt(left + 4.0 + sample), pixelInt(y));
        p.setPen(kGrey);
        const QRectF label(left + sample + 8.0, y - 0.5 * k, textWidth, k);
        text.fitText(&p, label, font, Qt::AlignLeft | Qt::AlignVCenter, 1, rows[row].name,
                     kMaxLabelPoints);
    }
}

} // namespace

std::optional<PlotRange> overlayRange(const OverlayData& d, bool logScale) {
    if (d.theta.isEmpty())
        return std::nullopt;
    return PlotRange{angleRange(d.theta), intensityRange({d.measured, d.model}, logScale)};
}

void drawOverlay(QPainter& p, const ChCoord& coord, const OverlayData& d, bool logScale) {
    if (d.theta.isEmpty())
        return;
    drawDiffractionAxes(p, coord);
    p.setPen(kMeasuredColour);
    drawDataCurve(p, coord, d.theta, d.measured, logScale);
    p.setPen(kModelColour);
    drawDataCurve(p, coord, d.theta, d.model, logScale);

    const PlotBox box(coord);
    if (!box.usable())
        return;
    p.setPen(kMeasuredColour);
    drawPeakTicks(p, coord, box, d.theta, d.measured, d.measuredPeaks, logScale);
    p.setPen(kModelColour);
    drawPeakTicks(p, coord, box, d.theta, d.model, d.modelPeaks, logScale);
    drawLegend(p, coord, box);
}
