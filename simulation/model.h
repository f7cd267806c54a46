#pragma once

#include "simulation/intensityunit.h"
#include "simulation/layersum.h"
#include "structure/extensions.h"
#include "structure/layer.h"

#include <QString>
#include <QVector>

#include <memory>
#include <vector>

struct ResultArrays;
struct Structure;

// The Bragg angles a curve must cover besides its default range (a measured scan's range);
// empty when there is nothing to cover.
struct AngleRange {
    double low = 0.0;
    double high = 0.0;
    bool isEmpty() const { return !(high > low); }
};

// A uniform grid of Bragg angles, start + i * step for i < count (degrees), on which a
// comparison with a measured scan evaluates a model. qStep is the step of a grid of
// scattering vectors fine enough for the angle step over the whole scan, for a model that
// sums on such a grid.
struct AngleGrid {
    double start = 0.0;
    double step = 0.0;
    int count = 0;
    double qStep = 0.0;
};

// A model prepared once for one grid of angles: what a comparison or a fit calls for every
// parameter vector. The structures evaluated must share the base's substrate, wavelength and
// model. Re-entrant: a fit calls it from several threads at once.
class CurveEvaluator {
public:
    virtual ~CurveEvaluator() = default;
    // The grid could be prepared (it has points the model can reach).
    virtual bool ok() const = 0;
    // The model's intensity at every angle of the grid. False when cancelled or when the
    // structure cannot be computed.
    virtual bool curve(const Structure& structure, std::vector<double>& out,
                       const SumControl& control) const = 0;
};

// The full curve of one structure as one model computes it: the grid chosen and the cost
// known before anything is summed.
class CurvePlan {
public:
    virtual ~CurvePlan() = default;
    double points() const { return points_; }
    double work() const { return work_; } // in single-monolayer terms of the fast sum
    // The curve (theta, q, intensity) into `results`; false when cancelled.
    virtual bool compute(ResultArrays& results, const SumControl& control) const = 0;

protected:
    double points_ = 0;
    double work_ = 0;
};

// One physics model. Each owns its depth-profile rule, its angle grid and how it widens to
// cover a scan, its cost estimate and refusal rules, the digits of its result files, and the
// evaluator a comparison prepares once per scan. makeModel is the one place that chooses a
// model from the MODEL statement: a new model is one new class and one line there.
class Model {
public:
    virtual ~Model() = default;

    virtual ModelKind kind() const = 0;
    QString name() const { return modelName(kind()); }
    // Significant digits of the numbers in the result files.
    virtual int fileDigits() const = 0;
    // What the model's curve counts, for the title of the intensity axis.
    virtual IntensityUnit intensityUnit() const = 0;
    // The model is named in the log; the default model is not.
    virtual bool announced() const { return true; }
    // Small calculations of this model may run on the window's thread.
    virtual bool quickOnGuiThread() const { return false; }

    // The height in Å of one monolayer of In(x)Ga(1-x)As(y)P(1-y) in `structure` under this
    // model's strain rule: half the strained perpendicular lattice constant of (001)
    // zinc-blende.
    virtual double monolayerHeight(const Structure& structure, double x, double y) const = 0;
    // The same for a material of any system (material.h); the basic model knows only the
    // basic system and gives its height for the fractions.
    virtual double monolayerHeight(const Structure& structure, const MaterialSystem& system,
                                   double x, double y) const = 0;
    // The height of a monolayer of layer `layer`'s own composition.
    double layerMonolayerHeight(const Structure& structure, const Layer& layer) const {
        return monolayerHeight(structure, layer.system, layer.inFraction, layer.asFraction);
    }

    // The depth profile of one period (depth, In and As fractions per monolayer).
    virtual void expandProfile(const Structure& structure, ResultArrays& profile) const = 0;

    // Prepares the full curve of `structure`, whose profile `profile` holds a finite period,
    // covering `cover` where the model's curve widens to a scan. On refusal returns null and
    // sets `refusal` to the log line (file name in brackets).
    virtual std::unique_ptr<CurvePlan> plan(const Structure& structure, const ResultArrays& profile,
                                            AngleRange cover, QString& refusal) const = 0;

    // The model at the angles of `grid` for structures like `base`.
    virtual std::unique_ptr<CurveEvaluator> evaluator(const Structure& base,
                                                      const AngleGrid& grid) const = 0;
};

// A thickness as a person reads it: "25 ML (7.32 nm)", from the monolayers and the height of
// one monolayer in Å.
QString thicknessText(double monolayers, double monolayerHeight);

// The model a structure's MODEL statement chooses.
std::unique_ptr<Model> makeModel(ModelKind kind);
