#include "views/overlayview.h"

#include "plot/chcoord.h"
#include "plot/drawtext.h"
#include "views/curvepainter.h"
#include "views/datacurve.h"
#include "views/diffractionview.h"
#include "views/viewsupport.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QRectF>
#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace viewsupport;

namespace {

const QColor kMeasuredColour(40, 90, 220);
const QColor kModelColour(220, 0, 0);
const QColor kGrey(128, 128, 128);
const QColor kResidualColour(120, 40, 160);

// The residual strip takes this share of the plot height, when the plot is at least
// kMinHeightForStrip pixels high.
constexpr double kStripShare = 0.2;
constexpr double kMinHeightForStrip = 160.0;

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

// A box in the top right corner of the plot on a white ground with a grey outline, so no grid
// line runs through it: a sample of each curve's line with its name, and a row with a peak
// tick of each colour that says what the ticks mark. Sized by the label height; left out
// when the plot is too small for it. A scan shown alone has no model row.
void drawLegend(QPainter& p, const PlotBox& box, const LabelSizes& s, bool withModel) {
    const double k = s.k;
    const double sample = 2.0 * k;
    const double textWidth = 6.0 * k;
    const double width = sample + textWidth + 12.0;
    const int count = withModel ? 3 : 2;
    const double height = count * (k + 2.0) + 6.0;
    if (!(k >= 4.0) || box.right - box.left < width + 8.0 || box.bottom - box.top < 3.0 * height)
        return;
    const double left = box.right - 4.0 - width;
    const double top = box.top + 4.0;
    p.setPen(kGrey);
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(QRectF(left, top, width, height));
    p.setBrush(Qt::NoBrush);
    DrawText text;
    const QFont font;
    const struct {
        QColor colour;
        QString name;
    } rows[] = {{kMeasuredColour, QStringLiteral("measured")},
                {kModelColour, QStringLiteral("model")},
                {kGrey, QStringLiteral("peaks found")}};
    for (int row = 0; row < 3; ++row) {
        if (row == 1 && !withModel)
            continue;
        const double y = top + 3.0 + ((withModel || row == 0 ? row : row - 1) + 0.5) * (k + 2.0);
        if (row < 2) {
            p.setPen(rows[row].colour);
            p.drawLine(pixelInt(left + 4.0), pixelInt(y), pixelInt(left + 4.0 + sample),
                       pixelInt(y));
        } else {
            // The peak marks as drawn on the curves: short vertical ticks in each colour.
            const int half = std::max(2, pixelInt(0.4 * k));
            p.setPen(kMeasuredColour);
            p.drawLine(pixelInt(left + 4.0 + 0.3 * sample), pixelInt(y) - half,
                       pixelInt(left + 4.0 + 0.3 * sample), pixelInt(y) + half);
            if (withModel) {
                p.setPen(kModelColour);
                p.drawLine(pixelInt(left + 4.0 + 0.7 * sample), pixelInt(y) - half,
                           pixelInt(left + 4.0 + 0.7 * sample), pixelInt(y) + half);
            }
        }
        p.setPen(kGrey);
        const QRectF label(left + sample + 8.0, y - 0.5 * k, textWidth, k);
        text.fitText(&p, label, font, Qt::AlignLeft | Qt::AlignVCenter, 1, rows[row].name,
                     kMaxLabelPoints);
    }
}

// Values with a finite residual; whether the strip has anything to show.
bool anyFinite(const QVector<double>& values) {
    return std::any_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// The strip under the overlay: its own frame, the zero line and the angle grid of the plot
// above, a few labels, the residuals in purple clipped to the strip, and its title.
void drawResidualStrip(QPainter& p, const ChCoord& coord, const QRectF& strip, const OverlayData& d,
                       const QVector<double>& residuals, const LabelSizes& s) {
    double largest = 0.0;
    for (double r : residuals) {
        if (std::isfinite(r))
            largest = std::max(largest, std::fabs(r));
    }
    const double reach = std::max(0.25, std::min(4.0, 1.1 * largest));
    const double top = strip.top();
    const double bottom = strip.bottom();
    const auto toY = [&](double r) {
        return bottom + (r + reach) / (2.0 * reach) * (top - bottom);
    };

    p.setPen(kGrey);
    p.drawRect(QRectF(strip.left(), top, strip.width() - 1.0, strip.height() - 1.0));
    DrawText text;
    const QFont font;
    const TickRange ticks = niceTicks(-reach, reach);
    double lastLabel = std::numeric_limits<double>::infinity();
    forEachTick(ticks, [&](double v) {
        const double y = toY(v);
        p.drawLine(pixelInt(strip.left()), pixelInt(y), pixelInt(strip.right() - 1.0), pixelInt(y));
        if (std::fabs(lastLabel - y) < s.k + 2.0)
            return;
        lastLabel = y;
        text.fitText(&p, text.centeredRect(s.halfM(), y, 0.9 * s.m, s.k), font, kRightCentred, 1,
                     QString::number(std::fabs(v) < 1e-12 ? 0.0 : v, 'g', 3), kMaxLabelPoints);
    });

    p.save();
    p.setClipRect(strip);
    p.setPen(kResidualColour);
    {
        CurvePainter curve(p, strip);
        const int n = std::min(d.theta.size(), residuals.size());
        for (int i = 0; i < n; ++i) {
            const double x = coord.toPixX(d.theta[i]);
            if (!std::isfinite(residuals[i]) || !std::isfinite(x) || std::fabs(x) > 1e9) {
                curve.breakLine();
                continue;
            }
            curve.addPoint(std::trunc(x), std::trunc(toY(residuals[i])));
        }
    }
    p.restore();
    const QString title = QStringLiteral("log\u2081\u2080 measured \u2212 log\u2081\u2080 model");
    drawTextBox(
        p, textBox(p, strip.left() + 2.0, top + 2.0, s.k + 2.0, 0.6 * strip.width(), title, false),
        title);
}

} // namespace

std::optional<PlotRange> overlayRange(const OverlayData& d, bool logScale) {
    if (d.theta.isEmpty())
        return std::nullopt;
    return PlotRange{angleRange(d.theta), intensityRange({d.measured, d.model}, logScale)};
}

QVector<double> logResiduals(const QVector<double>& measured, const QVector<double>& model) {
    const int n = std::min(measured.size(), model.size());
    QVector<double> out(n, std::numeric_limits<double>::quiet_NaN());
    for (int i = 0; i < n; ++i) {
        const double m = measured[i];
        const double c = model[i];
        if (std::isfinite(m) && std::isfinite(c) && m > 0.0 && c > 0.0) {
            const double r = std::log10(m) - std::log10(c);
            if (std::isfinite(r))
                out[i] = r;
        }
    }
    return out;
}

std::optional<QRectF> reserveResidualStrip(ChCoord& coord) {
    const double height = coord.plotY0 - coord.plotY1;
    if (!(height >= kMinHeightForStrip) || !(height < 2 * kReach) || !std::isfinite(coord.plotX0) ||
        !std::isfinite(coord.plotX1))
        return std::nullopt;
    const LabelSizes s = labelSizes(coord);
    const double stripHeight = std::trunc(kStripShare * height);
    const double stripTop = coord.plotY0 - stripHeight;
    const double left = pixelInt(std::min(coord.plotX0, coord.plotX1));
    const double right = pixelInt(std::max(coord.plotX0, coord.plotX1));
    const QRectF strip(left, stripTop, right - left + 1.0, stripHeight + 1.0);
    coord.plotY0 = pixelInt(stripTop - std::abs(s.h) - 4.0);
    return strip;
}

void drawOverlay(QPainter& p, ChCoord& coord, const OverlayData& d, bool logScale,
                 const DiffractionAxes& axes) {
    if (d.theta.isEmpty())
        return;
    const DiffractionAxes resolved = withReference(axes, d.theta, d.measured);
    // Labels keep the size the whole plot gives them when the strip takes its share.
    const LabelSizes sizes = labelSizes(coord);
    const QVector<double> residuals = logResiduals(d.measured, d.model);
    const std::optional<QRectF> strip =
        anyFinite(residuals) ? reserveResidualStrip(coord) : std::nullopt;

    drawDiffractionAxes(p, coord, logScale, resolved, &sizes);
    p.save();
    p.setClipRect(frameRect(coord));
    p.setPen(kMeasuredColour);
    drawDataCurve(p, coord, d.theta, d.measured, logScale);
    p.setPen(kModelColour);
    drawDataCurve(p, coord, d.theta, d.model, logScale);
    p.restore();

    const PlotBox box(coord);
    if (!box.usable())
        return;
    p.setPen(kMeasuredColour);
    drawPeakTicks(p, coord, box, d.theta, d.measured, d.measuredPeaks, logScale);
    p.setPen(kModelColour);
    drawPeakTicks(p, coord, box, d.theta, d.model, d.modelPeaks, logScale);
    drawDiffractionTitles(p, coord, resolved, &sizes);
    drawLegend(p, box, sizes, !d.model.isEmpty());
    if (strip)
        drawResidualStrip(p, coord, *strip, d, residuals, sizes);
}
