#include "views/plotcontrols.h"

#include "plot/dispa.h"

#include <QAction>
#include <QEvent>
#include <QKeyEvent>

#include <cmath>

namespace {

QString unitText(IntensityUnit unit) {
    switch (unit) {
    case IntensityUnit::CountsPerSecond:
        return QStringLiteral(" counts/s");
    case IntensityUnit::Reflectivity:
        return QStringLiteral(" (reflectivity)");
    case IntensityUnit::Arbitrary:
        break;
    }
    return QStringLiteral(" (arb. units)");
}

} // namespace

QString diffractionReadout(double x, double y, const ReadoutState& state) {
    if (!state.drawn || !std::isfinite(x) || !std::isfinite(y))
        return QString();
    const double intensity = state.logScale ? std::pow(10.0, y) : y;
    if (!std::isfinite(intensity))
        return QString();
    QString text = QStringLiteral("\u03b8 %1\u00b0").arg(x, 0, 'f', 4);
    if (std::isfinite(state.reference)) {
        const double arcsec = (x - state.reference) * kArcsecPerDegree;
        text += QStringLiteral("   \u0394\u03b8 %1 arcsec").arg(arcsec, 0, 'f', 1);
    }
    text += QStringLiteral("   I %1").arg(intensity, 0, 'g', 4) + unitText(state.unit);
    return text;
}

QString compositionReadout(double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y))
        return QString();
    return QStringLiteral("depth %1 \u00c5 (%2 nm)   fraction %3")
        .arg(x, 0, 'f', 2)
        .arg(x / 10.0, 0, 'f', 3)
        .arg(y, 0, 'f', 3);
}

PlotControls::PlotControls(DispA* display, Kind kind, QObject* parent)
    : QObject(parent), display(display), kind(kind) {
    display->setFocusPolicy(Qt::ClickFocus);
    display->installEventFilter(this);
    connect(display, &DispA::mouseDoubleClicked0, this, &PlotControls::resetRequested);
    connect(&display->coord, &ChCoord::nowPos, this, &PlotControls::pointerAt);
    if (kind == Kind::Diffraction) {
        deltaTheta = new QAction(tr("\u0394\u03b8 from the Substrate Peak (arcsec)"), this);
        deltaTheta->setCheckable(true);
        deltaTheta->setStatusTip(
            tr("Label the angle axis in arcseconds from the substrate peak instead of degrees"));
        connect(deltaTheta, &QAction::toggled, display, QOverload<>::of(&QWidget::update));
    }
}

DiffractionAxes PlotControls::axes(IntensityUnit unit, const QVector<double>& theta,
                                   const QVector<double>& values, bool logScale) {
    DiffractionAxes a;
    a.unit = unit;
    a.deltaTheta = deltaTheta && deltaTheta->isChecked();
    a.reference = highestPeakAngle(theta, values);
    state.drawn = true;
    state.logScale = logScale;
    state.unit = unit;
    state.reference = a.reference;
    return a;
}

DiffractionAxes PlotControls::exportAxes(IntensityUnit unit) const {
    DiffractionAxes a;
    a.unit = unit;
    a.deltaTheta = deltaTheta && deltaTheta->isChecked();
    return a;
}

bool PlotControls::eventFilter(QObject* watched, QEvent* event) {
    if (watched == display && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Home) {
        emit resetRequested();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

// Only positions inside the plot rectangle are read out; the frame extrapolates beyond it.
void PlotControls::pointerAt(double x, double y) {
    const ChCoord& c = display->coord;
    const auto inside = [](double v, double a, double b) {
        return v >= std::min(a, b) && v <= std::max(a, b);
    };
    if (!inside(x, c.scaleX0, c.scaleX1) || !inside(y, c.scaleY0, c.scaleY1))
        return;
    if (kind == Kind::Composition) {
        emit cursorText(compositionReadout(x, y));
        return;
    }
    const QString text = diffractionReadout(x, y, state);
    if (!text.isEmpty())
        emit cursorText(text);
}
