#pragma once

#include "simulation/layersum.h"
#include "simulation/model.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

struct Structure;
struct PhysicsStack;
class StructureFile;

// Limits that keep every accepted structure within about 10 s and 1 GB on a two-core
// desktop. A structure beyond them is refused before anything is computed.
struct CalculationLimits {
    // Monolayers in one period: the profile holds three doubles per monolayer, and the
    // composition plot draws a boundary line for each.
    static constexpr qint64 maxMonolayers = 1'000'000;
    // Curve points: three doubles each in memory, one text line each in the curve file.
    static constexpr qint64 maxCurvePoints = 5'000'000;
    // Curve points times the cost of each in single-monolayer terms (LayerSum::costPerPoint):
    // about 6 s of summing.
    static constexpr double maxWork = 8e9;
};

struct CalculationOutcome {
    int points = 0;
    QString profileFile;
    QString curveFile;
    bool profileWritten = false;
    bool curveWritten = false;
    bool cancelled = false;
};

// What a caller hooks into the road: repaint requests when the profile and the curve are
// complete, where the files go, and how the curve is summed (threads, cancel, progress).
struct CalculationHooks {
    std::function<void()> profileReady;
    std::function<void()> curveReady;
    QString outputDir; // empty: beside the structure file
    SumControl control;
    // Write the profile file only once the curve is complete (still before the curve file),
    // so that a cancelled calculation leaves every file as it was. For work off the GUI
    // thread; the window's synchronous road writes it before the curve, as it always did.
    bool writeAfterCurve = false;
};

// One calculation of a loaded, valid structure: its own copy of the structure (so it can run
// on another thread while the loader reads the next file), the depth profile built once and
// its runs found once, or the line that says why it is refused.
class Calculation {
public:
    // `cover`: the angles the curve must span (a measured scan's range), where the model's
    // curve widens to a scan.
    explicit Calculation(const Structure& config, AngleRange cover = {});
    ~Calculation();
    Calculation(const Calculation&) = delete;
    Calculation& operator=(const Calculation&) = delete;

    // Why the structure cannot be computed, as a line for the log; empty when it can. Checks
    // the number of monolayers, the period thickness (a positive, finite number of Å or
    // exactly 0), the number of curve points and the cost of the sum.
    const QString& refusal() const { return refusal_; }
    const Structure& structure() const { return structure_; }
    const Model& model() const { return *model_; }
    const ResultArrays& profile() const { return profile_; }
    // Lines for the log about what will be computed: the model when the file chooses one.
    const QStringList& notes() const { return notes_; }
    // Estimated curve points and their cost in single-monolayer terms.
    double estimatedPoints() const { return plan_ ? plan_->points() : 0.0; }
    double work() const { return plan_ ? plan_->work() : 0.0; }

    // Widens the curve to `range` where the model's curve covers a scan; the curve stays as it
    // was when the wider one would be refused.
    void cover(AngleRange range);

    // The profile and the curve into `results`, nothing written; false when cancelled.
    bool compute(ResultArrays& results, const SumControl& control = {}) const;

    // The whole road in its order: the profile, `profileReady`, the profile file, the curve,
    // `curveReady`, the number of curve points as a debug message, the curve file. When the
    // curve is cancelled, nothing after the profile file happens (with writeAfterCurve,
    // nothing is written at all).
    CalculationOutcome run(ResultArrays& results, const CalculationHooks& hooks = {}) const;

private:
    bool computeModelCurve(ResultArrays& results, const SumControl& control) const;

    Structure structure_;
    std::unique_ptr<Model> model_;
    std::unique_ptr<CurvePlan> plan_;
    QStringList notes_;
    int digits_ = 6;
    QString refusal_;
    ResultArrays profile_;
};

// How a file handed to the program ended: not opened (the loader said why), opened but not a
// valid structure, refused by the limits, or ready to compute.
struct LoadedStructure {
    enum Status { NotOpened, Invalid, Refused, Ready };
    Status status = NotOpened;
    QString message;                          // the line for Invalid and Refused
    std::unique_ptr<Calculation> calculation; // when Ready
};

// Loads `file` into `config` (its log lines go out through the loader's signal) and prepares
// the calculation of a valid structure.
LoadedStructure loadStructure(Config& config, const QString& file);
// The same for a file read already (the one read of an open).
LoadedStructure loadStructure(Config& config, const StructureFile& file);
