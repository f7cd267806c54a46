#include "comparison.h"

#include "anglemodel.h"
#include "config.h"
#include "constants.h"
#include "dynamical.h"
#include "extensions.h"
#include "grid.h"
#include "instrument.h"
#include "kinematical.h"
#include "measuredscan.h"
#include "physicsstack.h"

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

// The Gaussian is cut off this many widths (FWHM) from its centre: 3 FWHM is about 7 sigma.
constexpr double kKernelReach = 3.0;

// Points per FWHM of the narrowest resolution on the fine grid: a Gaussian sampled at a
// third of its FWHM (0.4 sigma) sums to its integral within 1e-9.
constexpr double kPointsPerWidth = 3.0;
// Fine points per step of the scan: two, also for a resolution narrower than the scan's step,
// whose detail the scan cannot show; fewer where the resolution is wide (three per FWHM).
constexpr double kPointsPerStep = 2.0;

} // namespace

// The model on the fine grid of angles. The basic model is summed on a uniform grid of
// scattering vectors (the engine's fast case) and interpolated linearly onto the uniform
// grid of angles, which is nearly the same grid stretched by the slowly varying cos(theta).
// The kinematical and dynamical models are evaluated at the angles themselves.
class ScanComparison::Engine {
public:
    // dq: the step of the basic model's grid of scattering vectors.
    Engine(const Config& base, double thetaStart, double thetaStep, int count, double dq)
        : model_(base.ext.model), reflection_(base.ext.reflection),
          basic_(base, model_ == ModelKind::Basic
                           ? anchoredQGrid(
                                 scatteringVector(thetaStart, base.k),
                                 scatteringVector(thetaStart + thetaStep * (count - 1), base.k), dq)
                           : QVector<double>()) {
        if (model_ != ModelKind::Basic) {
            for (int j = 0; j < count; ++j)
                theta_.append(thetaStart + thetaStep * j);
            ok_ = count > 0;
            return;
        }
        const QVector<double>& q = basic_.q();
        index_.resize(std::size_t(count));
        weight_.resize(std::size_t(count));
        if (q.isEmpty())
            return;
        const double q0 = q.first();
        for (int j = 0; j < count; ++j) {
            const double qj = scatteringVector(thetaStart + thetaStep * j, base.k);
            const double pos = std::clamp((qj - q0) / dq, 0.0, double(q.size() - 1));
            const int i = std::min(int(pos), q.size() > 1 ? q.size() - 2 : 0);
            index_[std::size_t(j)] = i;
            weight_[std::size_t(j)] = q.size() > 1 ? pos - i : 0.0;
        }
        ok_ = true;
    }

    bool ok() const { return ok_; }

    bool curve(const Config& structure, std::vector<double>& out, const SumControl& control) const {
        if (model_ != ModelKind::Basic) {
            const PhysicsStack stack = buildPhysicsStack(structure);
            if (!stack.error.isEmpty())
                return false;
            const QVector<double> r =
                model_ == ModelKind::Dynamical
                    ? dynamicalReflectivity(stack, reflection_, theta_, control.cancel)
                    : kinematicalReflectivity(stack, theta_, control.cancel);
            if (r.size() != theta_.size())
                return false;
            out.assign(r.begin(), r.end());
            return true;
        }
        std::vector<double> atQ;
        if (!basic_.intensities(structure, atQ, control))
            return false;
        out.resize(index_.size());
        const bool single = atQ.size() == 1;
        for (std::size_t j = 0; j < index_.size(); ++j) {
            const std::size_t i = std::size_t(index_[j]);
            const double w = weight_[j];
            out[j] = single ? atQ[0] : atQ[i] * (1 - w) + atQ[i + 1] * w;
        }
        return true;
    }

private:
    ModelKind model_;
    int reflection_;
    QVector<double> theta_; // the fine grid, for the kinematical and dynamical models
    BasicAngleModel basic_;
    std::vector<int> index_;
    std::vector<double> weight_;
    bool ok_ = false;
};

ScanComparison::ScanComparison(const Config& base, const MeasuredScan& scan, double offsetLow,
                               double offsetHigh, double resolutionLow, double resolutionHigh)
    : theta_(scan.theta), measured_(scan.intensity) {
    const QString name = scan.fileName;
    if (theta_.isEmpty() || theta_.size() != measured_.size()) {
        problem_ = tr("Can't compare with [%1]: the scan has no points.").arg(name);
        return;
    }
    const double widest = std::max({resolutionHigh, resolutionLow, 0.0});
    const double low = theta_.first() + offsetLow - kKernelReach * widest;
    const double high = theta_.last() + offsetHigh + kKernelReach * widest;
    if (!(low > 0 && high < 90)) {
        problem_ = tr("Can't compare with [%1]: its angles (%2 to %3 degrees of theta, with the "
                      "offset and the resolution) are not inside the curve's range of 0 to 90 "
                      "degrees.")
                       .arg(name)
                       .arg(low)
                       .arg(high);
        return;
    }
    // Two points per scan step, or three per FWHM where that is coarser (never coarser than
    // the scan).
    double scanStep = (theta_.last() - theta_.first()) / std::max(theta_.size() - 1, 1);
    if (!(scanStep > 0))
        scanStep = 0.001;
    const double narrowest = std::min(resolutionLow, resolutionHigh);
    double step = scanStep / kPointsPerStep;
    if (narrowest > 0)
        step = std::max(step, std::min(narrowest / kPointsPerWidth, scanStep));
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
    engine_ = std::make_unique<Engine>(base, fineStart_, fineStep_, fineCount_, dq);
    if (!engine_->ok())
        problem_ = tr("Can't compare with [%1]: no model points in its range.").arg(name);
}

ScanComparison::~ScanComparison() = default;

bool ScanComparison::fineCurve(const Config& structure, std::vector<double>& curve,
                               const SumControl& control) const {
    return engine_ && engine_->curve(structure, curve, control);
}

bool ScanComparison::evaluate(const Config& structure, const InstrumentSettings& instrument,
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
    out.agreement = agreement(measured_, out.model);
    return std::isfinite(out.agreement);
}
