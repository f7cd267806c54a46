#include "plot/drawtext.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Size of the reference font the text is measured in before it is scaled to its box.
constexpr double kReferencePoints = 10.0;
// The box the reference measurement is made in: large enough for any label.
constexpr double kMeasureBox = 5000.0;

bool isFinite(const QRectF& r) {
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) &&
           std::isfinite(r.height());
}

} // namespace

DrawText::DrawText(QObject* parent) : QObject(parent) {}

DrawText::~DrawText() = default;

QRectF DrawText::centeredRect(double cx, double cy, double w, double h) const {
    return QRectF(cx - w * 0.5, cy - h * 0.5, w, h);
}

// In mode 1 the text is measured at 10 points and the size scaled in proportion so that the
// text just fits the box both ways, bounded by maxSize when that is positive. A size that is
// not a positive finite number (a box of zero width or height, or an infinite one) is never
// given to the font; the text is then drawn at the 10-point reference size. A box with a
// non-finite corner or extent is not drawn at all, so no NaN or infinity reaches the painter.
void DrawText::fitText(QPainter* painter, QRectF rect, const QFont& font, int flags, int mode,
                       const QString& text, double maxSize) {
    const double left = std::min(rect.left(), rect.left() + rect.width());
    const double top = std::min(rect.top(), rect.top() + rect.height());
    const QRectF box(left, top, std::fabs(rect.width()), std::fabs(rect.height()));
    QFont f(font);
    if (mode == 1) {
        f.setPointSizeF(kReferencePoints);
        painter->setFont(f);
        const QRectF b = painter->boundingRect(QRectF(0, 0, kMeasureBox, kMeasureBox), flags, text);
        const double rw = b.width() != 0 ? box.width() / b.width() : 1.0;
        const double rh = b.height() != 0 ? box.height() / b.height() : 1.0;
        double s = kReferencePoints * std::min(rw, rh);
        if (maxSize > 0 && maxSize < s)
            s = maxSize;
        if (std::isfinite(s) && s > 0)
            f.setPointSizeF(s);
        painter->setFont(f);
    } else {
        painter->setFont(font);
    }
    if (isFinite(box))
        painter->drawText(box, flags, text);
    painter->setFont(font);
}
