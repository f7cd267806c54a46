#include "analysis/comparison.h"

#include "analysis/instrument.h"
#include "analysis/resolution.h"
#include "measured/measuredscan.h"
#include "structure/config.h"
#include "structure/constants.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Comparison", text);
}

// The fine grid's points: enough for a scan of a few degrees at a few ten-thousandths of a
// degree, far fewer than any fit could afford to evaluate thousands of times.
constexpr int kMaxFinePoints = 400'000;

} // namespace

ScanComparison::ScanComparison(const Structure& base, const MeasuredScan& scan, double offsetLow,
                               double offsetHigh, double resolutionLow, double resolutionHigh)
    : theta_(scan.theta), measured_(scan.intensity) {
    const QString name = scan.fileName;
    if (theta_.isEmpty() || theta_.size() != measured_.size()) {
        problem_ = tr("Can't compare with [%1]: the scan has no points.").arg(name);
        return;
    }
    const Resolution widest(std::max({resolutionHigh, resolutionLow, 0.0}));
    const double low = theta_.first() + offsetLow - widest.gridMargin();
    const double high = theta_.last() + offsetHigh + widest.gridMargin();
    if (!(low > 0 && high < 90)) {
        problem_ = tr("Can't compare with [%1]: its angles (%2 to %3 degrees of theta, with the "
                      "offset and the resolution) are not inside the curve's range of 0 to 90 "
                      "degrees.")
                       .arg(name)
                       .arg(low)
                       .arg(high);
        return;
    }
    double scanStep = (theta_.last() - theta_.first()) / std::max(theta_.size() - 1, 1);
    if (!(scanStep > 0))
        scanStep = 0.001;
    const double step = Resolution(std::min(resolutionLow, resolutionHigh)).fineStep(scanStep);
    const double points = std::floor((high - low) / step) + 2;
    if (!(points <= kMaxFinePoints)) {
        problem_ = tr("Can't compare with [%1]: %2 model points would be needed for its range "
                      "at this resolution; more than %3.")
                       .arg(name)
                       .arg(points, 0, 'g', 3)
                       .arg(kMaxFinePoints);
        return;
    }
    // Anchored at multiples of the step, so that two comparisons with the same step (a fit and
    // the computation of its result, say) put the model on the same points where they overlap.
    fineStart_ = std::floor(low / step) * step;
    fineStep_ = step;
    fineCount_ = int(std::ceil((high - fineStart_) / step)) + 1;
    // The q step that keeps the angle step within `step` up to a degree beyond the scan.
    const double anchor = std::min(theta_.last() + 1.0, 89.0) / kDegreesPerRadian;
    const double dq = 2 * base.k * std::cos(anchor) * step / kDegreesPerRadian;
    engine_ = makeModel(base.ext.model)->evaluator(base, {fineStart_, fineStep_, fineCount_, dq});
    if (!engine_->ok())
        problem_ = tr("Can't compare with [%1]: no model points in its range.").arg(name);
}

ScanComparison::~ScanComparison() = default;

bool ScanComparison::fineCurve(const Structure& structure, std::vector<double>& curve,
                               const SumControl& control) const {
    return engine_ && engine_->ok() && engine_->curve(structure, curve, control);
}

bool ScanComparison::evaluate(const Structure& structure, const InstrumentSettings& instrument,
                              ModelAtScan& out, const SumControl& control) const {
    if (!problem_.isEmpty())
        return false;
    std::vector<double> fine;
    if (!fineCurve(structure, fine, control))
        return false;
    for (double v : fine)
        if (!std::isfinite(v))
            return false;
    out.theta.resize(theta_.size());
    for (int i = 0; i < theta_.size(); ++i)
        out.theta[i] = theta_[i] + instrument.offset;
    out.measured = measured_;
    const QVector<double> fineCurve = QVector<double>(fine.begin(), fine.end());
    const QVector<double> curve =
        convolveResolution(fineStart_, fineStep_, fineCurve, instrument.resolution, out.theta);
    const ScaleBackground sb =
        solveScaleBackground(measured_, curve, instrument.scale, instrument.background);
    out.scale = sb.scale;
    out.background = sb.background;
    out.model.resize(curve.size());
    for (int i = 0; i < curve.size(); ++i)
        out.model[i] = sb.scale * curve[i] + sb.background;
    // The solution already gives the agreement of the model it found.
    out.agreement = sb.agreement;
    return std::isfinite(out.agreement);
}
