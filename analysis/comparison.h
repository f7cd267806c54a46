#pragma once

#include "simulation/layersum.h"
#include "simulation/model.h"

#include <QString>
#include <QVector>

#include <memory>
#include <optional>
#include <vector>

struct Structure;
struct MeasuredScan;

// The instrument between the model and a measured scan: the angle offset added to the
// measured angles, the Gaussian resolution (full width at half maximum, degrees of theta),
// and model = scale x (curve convolved with the resolution) + background in counts per
// second. A scale or background left empty is solved by least squares on log10 intensities.
struct InstrumentSettings {
    double offset = 0.0;
    double resolution = 0.003;
    std::optional<double> scale;
    std::optional<double> background;
};

// The model of one structure at the angles of a measured scan.
struct ModelAtScan {
    QVector<double> theta;    // measured angles with the offset applied, degrees
    QVector<double> measured; // counts per second
    QVector<double> model;    // counts per second
    double scale = 0.0;
    double background = 0.0;
    double agreement = 0.0; // mean squared log10 difference over positive measured points
};

// A measured scan made ready for comparing structures with it: the fine grid of angles that
// the model is computed on (wide enough for every offset and resolution in the given ranges,
// fine enough for the narrowest resolution) and the angle-only parts of the model. The
// structures compared must share the base's substrate, wavelength and model; evaluate is
// re-entrant, so a fit may call it from several threads.
class ScanComparison {
public:
    ScanComparison(const Structure& base, const MeasuredScan& scan, double offsetLow,
                   double offsetHigh, double resolutionLow, double resolutionHigh);
    ~ScanComparison();
    ScanComparison(const ScanComparison&) = delete;
    ScanComparison& operator=(const ScanComparison&) = delete;

    // Why the scan cannot be compared (angles outside the curve's range, too many points),
    // as a line for the log; empty when it can.
    const QString& problem() const { return problem_; }

    // The model of `structure` at the scan's angles. False when cancelled or when the
    // structure cannot be computed (a profile that is not finite).
    bool evaluate(const Structure& structure, const InstrumentSettings& instrument,
                  ModelAtScan& out, const SumControl& control = {}) const;

    // Model points per evaluation (the fine grid).
    int finePoints() const { return fineCount_; }

private:
    bool fineCurve(const Structure& structure, std::vector<double>& curve,
                   const SumControl& control) const;

    QString problem_;
    QVector<double> theta_;
    QVector<double> measured_;
    double fineStart_ = 0.0;
    double fineStep_ = 0.0;
    int fineCount_ = 0;
    std::unique_ptr<CurveEvaluator> engine_;
};
