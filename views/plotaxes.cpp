#include "views/plotaxes.h"

#include "plot/chcoord.h"
#include "plot/drawtext.h"
#include "views/viewsupport.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QRectF>

#include <algorithm>
#include <cmath>

using namespace viewsupport;

bool DiffractionAxes::relative() const {
    return deltaTheta && std::isfinite(reference);
}

double highestPeakAngle(const QVector<double>& theta, const QVector<double>& values) {
    const int n = std::min(theta.size(), values.size());
    double angle = std::numeric_limits<double>::quiet_NaN();
    double best = -std::numeric_limits<double>::infinity();
    for (int i = 0; i < n; ++i) {
        if (std::isfinite(theta[i]) && std::isfinite(values[i]) && values[i] > best) {
            best = values[i];
            angle = theta[i];
        }
    }
    return angle;
}

DiffractionAxes withReference(DiffractionAxes axes, const QVector<double>& theta,
                              const QVector<double>& values) {
    if (axes.deltaTheta && !std::isfinite(axes.reference))
        axes.reference = highestPeakAngle(theta, values);
    return axes;
}

namespace {

QString superscript(int n) {
    static const QChar digits[] = {0x2070, 0x00B9, 0x00B2, 0x00B3, 0x2074,
                                   0x2075, 0x2076, 0x2077, 0x2078, 0x2079};
    QString out;
    if (n < 0)
        out += QChar(0x207B);
    const QString plain = QString::number(std::abs(n));
    for (QChar c : plain)
        out += digits[c.digitValue()];
    return out;
}

} // namespace

QString powerOfTenLabel(double exponent) {
    if (!std::isfinite(exponent))
        return QString();
    const double whole = std::round(exponent);
    // Ticks advance by repeated addition, so a whole exponent may arrive a little off.
    if (std::fabs(exponent - whole) < 1e-9 && std::fabs(whole) < 1000.0)
        return QStringLiteral("10") + superscript(static_cast<int>(whole));
    if (std::fabs(exponent) > 300.0)
        return QString();
    const double value = std::pow(10.0, exponent);
    if (value >= 0.01 && value < 1000.0)
        return QString::number(value, 'g', 3);
    const double power = std::floor(exponent);
    return QString::number(std::pow(10.0, exponent - power), 'g', 3) + QChar(0x00D7) +
           QStringLiteral("10") + superscript(static_cast<int>(power));
}

QString intensityLabel(double v, bool logScale) {
    return logScale ? powerOfTenLabel(v) : QString::number(v, 'g', 6);
}

QString angleTitle(const DiffractionAxes& axes) {
    return axes.relative() ? QStringLiteral("\u0394\u03b8 (arcsec)")
                           : QStringLiteral("\u03b8 (\u00b0)");
}

QString intensityTitle(IntensityUnit unit) {
    switch (unit) {
    case IntensityUnit::CountsPerSecond:
        return QStringLiteral("counts/s");
    case IntensityUnit::Reflectivity:
        return QStringLiteral("reflectivity");
    case IntensityUnit::Arbitrary:
        break;
    }
    return QStringLiteral("intensity (arb. units)");
}

QRectF textBox(QPainter& p, double x, double top, double height, double maxWidth,
               const QString& text, bool anchorRight) {
    if (!(height >= 4.0) || !(maxWidth >= 4.0) || height > 2 * kReach || maxWidth > 2 * kReach)
        return QRectF();
    // The text's size at 10 points scales with the point size, as fitText assumes.
    const QFont saved = p.font();
    QFont f;
    f.setPointSizeF(10.0);
    p.setFont(f);
    const QRectF b = p.boundingRect(QRectF(0, 0, 5000, 5000), kCentred, text);
    p.setFont(saved);
    const double inner = height - 2.0;
    if (!(b.height() > 0.0) || !(b.width() > 0.0))
        return QRectF();
    const double points = std::min(kMaxLabelPoints, 10.0 * inner / b.height());
    const double width = std::min(maxWidth, b.width() * points / 10.0 + 8.0);
    return QRectF(anchorRight ? x - width : x, top, width, height);
}

void drawTextBox(QPainter& p, const QRectF& box, const QString& text) {
    if (box.isEmpty())
        return;
    p.setPen(QColor(128, 128, 128));
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(box);
    p.setBrush(Qt::NoBrush);
    DrawText fit;
    fit.fitText(&p, box.adjusted(3, 1, -3, -1), QFont(), kCentred, 1, text, kMaxLabelPoints);
}

QRectF frameRect(const ChCoord& coord) {
    const double left = pixelInt(std::min(coord.plotX0, coord.plotX1));
    const double right = pixelInt(std::max(coord.plotX0, coord.plotX1));
    const double top = pixelInt(std::min(coord.plotY0, coord.plotY1));
    const double bottom = pixelInt(std::max(coord.plotY0, coord.plotY1));
    return QRectF(left, top, right - left + 1.0, bottom - top + 1.0);
}
