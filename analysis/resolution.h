#pragma once

#include <algorithm>

// The instrument's angular resolution: a normalised Gaussian of full width at half maximum
// `fwhm` (degrees of theta) that the model is convolved with before it meets a measured scan.
// Every distance that depends on it lives here: where the kernel is cut, how far the fine
// grid of model angles and the full curve reach beyond a scan, and the fine grid's step.
class Resolution {
public:
    // FWHM / sigma of a Gaussian: 2 sqrt(2 ln 2).
    static constexpr double kFwhmPerSigma = 2.3548200450309493;
    // The kernel is cut this many standard deviations from its centre (exp(-12.5) = 4e-6).
    static constexpr double kReachSigmas = 5.0;

    explicit Resolution(double fwhm) : fwhm_(fwhm) {}

    double fwhm() const { return fwhm_; }
    double sigma() const { return fwhm_ / kFwhmPerSigma; }
    // Where the kernel is cut, either side of its centre.
    double reach() const { return kReachSigmas * sigma(); }
    // How far the fine grid of model angles reaches beyond a scan's ends: the kernel's reach
    // and a little more (3 FWHM, 7 sigma), so that the points at the ends are not renormalised.
    double gridMargin() const { return 3.0 * fwhm_; }
    // How far a full curve that widens to a scan reaches beyond its ends (4 FWHM), so that the
    // curve drawn under the overlay spans the whole convolved model.
    double coverReach() const { return 4.0 * fwhm_; }

    // The step of the fine grid for a scan of step `scanStep`: two points per scan step, or
    // three per FWHM where that is coarser (a Gaussian sampled at a third of its FWHM sums to
    // its integral within 1e-9), never coarser than the scan itself.
    double fineStep(double scanStep) const {
        double step = scanStep / kPointsPerStep;
        if (fwhm_ > 0)
            step = std::max(step, std::min(fwhm_ / kPointsPerWidth, scanStep));
        return step;
    }

private:
    static constexpr double kPointsPerWidth = 3.0;
    static constexpr double kPointsPerStep = 2.0;
    double fwhm_;
};
