#include "simulation/model.h"

#include "simulation/anglemodel.h"
#include "simulation/calculation.h"
#include "simulation/curve.h"
#include "simulation/dynamical.h"
#include "simulation/expansion.h"
#include "simulation/grid.h"
#include "simulation/kinematical.h"
#include "simulation/materials.h"
#include "simulation/physicsstack.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <functional>
#include <thread>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Calculation", text);
}

// Why a curve of `points` points is refused, or empty.
QString pointsRefusal(const Structure& s, double points) {
    if (points > double(CalculationLimits::maxCurvePoints))
        return tr("Refused [%1]: about %2 curve points exceed the limit of %3; use a longer "
                  "wavelength or a thinner period.")
            .arg(s.fileName)
            .arg(points, 0, 'g', 3)
            .arg(CalculationLimits::maxCurvePoints);
    return QString();
}

// The limits every model's curve shares: the number of points, then the cost of the sum over
// the distinct monolayers of the profile (runs are found here for that count).
QString costRefusal(const Structure& s, const ResultArrays& profile, double points,
                    std::vector<MonolayerRun>& runs, double& work) {
    QString refusal = pointsRefusal(s, points);
    if (!refusal.isEmpty())
        return refusal;
    runs = findRuns(profile.depth, profile.inProfile, profile.asProfile);
    work = points * LayerSum(profile.depth, profile.inProfile, profile.asProfile, s.repeat, runs)
                        .costPerPoint();
    if (work > CalculationLimits::maxWork)
        return tr("Refused [%1]: %2 curve points over %3 distinct monolayers need %4 terms, "
                  "more than the limit of %5.")
            .arg(s.fileName)
            .arg(points)
            .arg(runs.size())
            .arg(work, 0, 'g', 3)
            .arg(CalculationLimits::maxWork, 0, 'g', 3);
    return QString();
}

// A model's curve at `theta`, in chunks on `control.threads` threads (each point stands
// alone, so any split gives the same numbers).
using AngleCurve = std::function<QVector<double>(const QVector<double>&, const std::atomic<bool>*)>;

QVector<double> inChunks(const AngleCurve& model, const QVector<double>& theta,
                         const SumControl& control) {
    const int threads = std::clamp(control.threads, 1, std::max(1, theta.size() / 256));
    std::vector<QVector<double>> parts;
    parts.resize(std::size_t(threads));
    auto work = [&](int t) {
        const int from = int(qint64(theta.size()) * t / threads);
        const int to = int(qint64(theta.size()) * (t + 1) / threads);
        parts[std::size_t(t)] = model(theta.mid(from, to - from), control.cancel);
        if (control.pointsDone)
            control.pointsDone->fetch_add(to - from);
    };
    std::vector<std::thread> workers;
    for (int t = 1; t < threads; ++t)
        workers.emplace_back(work, t);
    work(0);
    for (std::thread& w : workers)
        w.join();
    QVector<double> all;
    all.reserve(theta.size());
    for (const QVector<double>& p : parts)
        all += p;
    return all;
}

// The basic model keeps every layer coherent with the substrate.
QString relaxationRefusal(const Structure& s) {
    return tr("Refused [%1]: the basic model keeps every layer coherent with the substrate; "
              "RELAXATION needs MODEL kinematical or MODEL dynamical.")
        .arg(s.fileName);
}

// "(224)", or "(1 1 15)" when an index has more than one digit.
QString reflectionName(const Reflection& r) {
    const bool wide =
        std::abs(r.h) > 9 || std::abs(r.k) > 9 || std::abs(r.l) > 9 || r.h < 0 || r.k < 0;
    if (wide)
        return QStringLiteral("(%1 %2 %3)").arg(r.h).arg(r.k).arg(r.l);
    return QStringLiteral("(%1%2%3)").arg(r.h).arg(r.k).arg(r.l);
}

// Why an asymmetric reflection cannot give a curve over `theta`: the wavelength cannot reach
// it, or the incident or exit beam of the substrate would meet the surface at an angle of
// 0 or below at the scan's lowest angle (where both are smallest). Empty when it can.
QString asymmetricRefusal(const Structure& s, const PhysicsStack& stack,
                          const QVector<double>& theta) {
    const Reflection& r = s.ext.reflection;
    const QString name = reflectionName(r);
    if (!std::isfinite(substrateBraggAngle(stack, r)))
        return tr("Refused [%1]: the %2 reflection cannot be reached at a wavelength of %3 "
                  "\u00c5.")
            .arg(s.fileName, name, QString::number(s.wavelength));
    if (theta.isEmpty())
        return QString();
    double incidence = 0;
    double exit = 0;
    beamAngles(theta.first(), r, incidence, exit);
    if (incidence > 0 && exit > 0)
        return QString();
    const bool atIncidence = incidence <= 0;
    return tr("Refused [%1]: at %2 \u03b8 = %3\u00b0 the %4 beam of the %5 reflection would "
              "meet the surface at %6\u00b0 (the planes are inclined by %7\u00b0); no beam "
              "enters or leaves below 0\u00b0.")
        .arg(s.fileName,
             r.grazing == Reflection::Incidence ? tr("grazing incidence") : tr("grazing exit"),
             QString::number(theta.first(), 'f', 3), atIncidence ? tr("incident") : tr("exit"),
             name, QString::number(atIncidence ? incidence : exit, 'f', 3),
             QString::number(substrateInclination(r), 'f', 3));
}

double substrateLattice(const Structure& s) {
    return latticeConstant(s.substrate.system, s.substrate.inFraction, s.substrate.asFraction);
}

// The first material beyond the basic format's alloy (the substrate, or layer i + 1 as
// "layer 3"), for the basic model's refusal; empty when there is none.
QString formulaMaterial(const Structure& s) {
    if (!isBasicSystem(s.substrate.system))
        return tr("the substrate %1")
            .arg(formulaText(s.substrate.system, s.substrate.inFraction, s.substrate.asFraction));
    for (int i = 0; i < s.layers.size(); ++i) {
        const Layer& l = s.layers.at(i);
        if (!isBasicSystem(l.system))
            return tr("layer %1 (%2)")
                .arg(i + 1)
                .arg(formulaText(l.system, l.inFraction, l.asFraction));
    }
    return QString();
}

QVector<double> uniformAngles(const AngleGrid& grid) {
    QVector<double> theta;
    theta.reserve(std::max(grid.count, 0));
    for (int j = 0; j < grid.count; ++j)
        theta.append(grid.start + grid.step * j);
    return theta;
}

// ---- basic: the kinematical sum of the strained profile on the q grid, as always ----------

class BasicPlan : public CurvePlan {
public:
    BasicPlan(Structure s, double points, double work, std::vector<MonolayerRun> runs)
        : structure_(std::move(s)), runs_(std::move(runs)) {
        points_ = points;
        work_ = work;
    }
    bool compute(ResultArrays& results, const SumControl& control) const override {
        return computeCurve(structure_, results, runs_, control);
    }

private:
    Structure structure_;
    std::vector<MonolayerRun> runs_;
};

// Summed on a uniform grid of scattering vectors (the engine's fast case) and interpolated
// linearly onto the uniform grid of angles, which is nearly the same grid stretched by the
// slowly varying cos(theta).
class BasicEvaluator : public CurveEvaluator {
public:
    BasicEvaluator(const Structure& base, const AngleGrid& grid)
        : sum_(base,
               anchoredQGrid(scatteringVector(grid.start, base.k),
                             scatteringVector(grid.start + grid.step * (grid.count - 1), base.k),
                             grid.qStep)) {
        const QVector<double>& q = sum_.q();
        const auto count = std::size_t(std::max(grid.count, 0));
        index_.resize(count);
        weight_.resize(count);
        if (q.isEmpty())
            return;
        const double q0 = q.first();
        for (std::size_t j = 0; j < count; ++j) {
            const double qj = scatteringVector(grid.start + grid.step * double(j), base.k);
            const double pos = std::clamp((qj - q0) / grid.qStep, 0.0, double(q.size() - 1));
            const int i = std::min(int(pos), q.size() > 1 ? q.size() - 2 : 0);
            index_[j] = i;
            weight_[j] = q.size() > 1 ? pos - i : 0.0;
        }
        ok_ = true;
    }

    bool ok() const override { return ok_; }

    bool curve(const Structure& structure, std::vector<double>& out,
               const SumControl& control) const override {
        if (anyRelaxation(structure.ext) || !formulaMaterial(structure).isEmpty())
            return false;
        std::vector<double> atQ;
        if (!sum_.intensities(structure, atQ, control))
            return false;
        out.resize(index_.size());
        const bool single = atQ.size() == 1;
        for (std::size_t j = 0; j < index_.size(); ++j) {
            const auto i = std::size_t(index_[j]);
            const double w = weight_[j];
            out[j] = single ? atQ[0] : atQ[i] * (1 - w) + atQ[i + 1] * w;
        }
        return true;
    }

private:
    BasicAngleModel sum_;
    std::vector<int> index_;
    std::vector<double> weight_;
    bool ok_ = false;
};

class BasicModel : public Model {
public:
    ModelKind kind() const override { return ModelKind::Basic; }
    int fileDigits() const override { return 6; }
    IntensityUnit intensityUnit() const override { return IntensityUnit::Arbitrary; }
    bool announced() const override { return false; }
    bool quickOnGuiThread() const override { return true; }

    double monolayerHeight(const Structure& s, double x, double y) const override {
        return ::monolayerHeight(latticeConstant(x, y), substrateLattice(s));
    }
    double monolayerHeight(const Structure& s, const MaterialSystem& system, double x,
                           double y) const override {
        return ::monolayerHeight(latticeConstant(system, x, y), substrateLattice(s));
    }
    void expandProfile(const Structure& s, ResultArrays& profile) const override {
        expandLayers(s, profile);
    }

    std::unique_ptr<CurvePlan> plan(const Structure& s, const ResultArrays& profile, AngleRange,
                                    QString& refusal) const override {
        if (anyRelaxation(s.ext)) {
            refusal = relaxationRefusal(s);
            return nullptr;
        }
        const QString material = formulaMaterial(s);
        if (!material.isEmpty()) {
            refusal = tr("Refused [%1]: the basic model computes In(x)Ga(1-x)As(y)P(1-y) only; "
                         "%2 needs MODEL kinematical or MODEL dynamical.")
                          .arg(s.fileName, material);
            return nullptr;
        }
        const double points = estimatedPointCount(profile.depth.last(), s.k);
        std::vector<MonolayerRun> runs;
        double work = 0;
        refusal = costRefusal(s, profile, points, runs, work);
        if (!refusal.isEmpty())
            return nullptr;
        return std::make_unique<BasicPlan>(s, points, work, std::move(runs));
    }

    std::unique_ptr<CurveEvaluator> evaluator(const Structure& base,
                                              const AngleGrid& grid) const override {
        return std::make_unique<BasicEvaluator>(base, grid);
    }
};

// ---- the realistic models: elastic strain, anomalous scattering, absorption ---------------

// `theta` (a window of equal steps) widened in the same step to cover a scan's range.
QString widenToCover(const Structure& s, AngleRange cover, QVector<double>& theta) {
    if (cover.isEmpty() || !(cover.low > 0 && cover.high < 90) ||
        (cover.low >= theta.first() && cover.high <= theta.last()))
        return QString();
    const double step = (theta.last() - theta.first()) / std::max(theta.size() - 1, 1);
    const double low = std::min(cover.low, theta.first());
    const double high = std::max(cover.high, theta.last());
    const double count = std::floor((high - low) / step) + 1;
    if (count > double(CalculationLimits::maxCurvePoints))
        return tr("Refused [%1]: about %2 curve points exceed the limit of %3.")
            .arg(s.fileName)
            .arg(count, 0, 'g', 3)
            .arg(CalculationLimits::maxCurvePoints);
    theta.clear();
    for (int i = 0; i < int(count); ++i)
        theta.append(low + step * i);
    return QString();
}

// The window around an asymmetric reflection, widened to the scan, or why there is none.
QString reflectionWindow(const Structure& s, const PhysicsStack& stack, AngleRange cover,
                         QVector<double>& theta) {
    theta = dynamicalDefaultGrid(stack, s.ext.reflection);
    QString refusal = asymmetricRefusal(s, stack, theta);
    if (refusal.isEmpty() && !theta.isEmpty())
        refusal = widenToCover(s, cover, theta);
    if (refusal.isEmpty())
        refusal = asymmetricRefusal(s, stack, theta);
    if (!refusal.isEmpty())
        theta.clear();
    return refusal;
}

// The curve of a slab stack at given angles.
using StackCurve = std::function<QVector<double>(const PhysicsStack&, const QVector<double>&,
                                                 const std::atomic<bool>*)>;

class StackPlan : public CurvePlan {
public:
    StackPlan(PhysicsStack stack, QVector<double> theta, QVector<double> q, StackCurve curve,
              double work)
        : stack_(std::move(stack)), theta_(std::move(theta)), q_(std::move(q)),
          curve_(std::move(curve)) {
        points_ = theta_.size();
        work_ = work;
    }
    bool compute(ResultArrays& results, const SumControl& control) const override {
        const QVector<double> intensity =
            inChunks([this](const QVector<double>& t,
                            const std::atomic<bool>* cancel) { return curve_(stack_, t, cancel); },
                     theta_, control);
        if ((control.cancel && control.cancel->load()) || intensity.size() != theta_.size())
            return false;
        results.theta = theta_;
        results.q = q_;
        results.intensity = intensity;
        return true;
    }

private:
    PhysicsStack stack_;
    QVector<double> theta_;
    QVector<double> q_;
    StackCurve curve_;
};

// The stack is rebuilt from each structure: the parameters of a fit change it.
class StackEvaluator : public CurveEvaluator {
public:
    StackEvaluator(const AngleGrid& grid, StackCurve curve)
        : theta_(uniformAngles(grid)), curve_(std::move(curve)) {}
    bool ok() const override { return !theta_.isEmpty(); }
    bool curve(const Structure& structure, std::vector<double>& out,
               const SumControl& control) const override {
        const PhysicsStack stack = buildPhysicsStack(structure);
        if (!stack.error.isEmpty())
            return false;
        const QVector<double> r = curve_(stack, theta_, control.cancel);
        if (r.size() != theta_.size())
            return false;
        out.assign(r.begin(), r.end());
        return true;
    }

private:
    QVector<double> theta_;
    StackCurve curve_;
};

class RealisticModel : public Model {
public:
    int fileDigits() const override { return 10; }
    IntensityUnit intensityUnit() const override { return IntensityUnit::Reflectivity; }
    double monolayerHeight(const Structure& s, double x, double y) const override {
        return strainedMonolayerHeight(x, y, substrateLattice(s), PhysicsOptions());
    }
    double monolayerHeight(const Structure& s, const MaterialSystem& system, double x,
                           double y) const override {
        return strainedMonolayerHeight(system, x, y, substrateLattice(s), PhysicsOptions());
    }
    void expandProfile(const Structure& s, ResultArrays& profile) const override {
        expandLayersElastic(s, profile);
    }

    std::unique_ptr<CurvePlan> plan(const Structure& s, const ResultArrays& profile,
                                    AngleRange cover, QString& refusal) const override {
        PhysicsStack stack = buildPhysicsStack(s);
        if (!stack.error.isEmpty()) {
            refusal = tr("Refused [%1]: %2").arg(s.fileName, stack.error);
            return nullptr;
        }
        QVector<double> theta;
        QVector<double> q;
        refusal = angles(s, stack, profile, cover, theta, q);
        if (!refusal.isEmpty())
            return nullptr;
        std::vector<MonolayerRun> runs;
        double work = 0;
        refusal = costRefusal(s, profile, theta.size(), runs, work);
        if (!refusal.isEmpty())
            return nullptr;
        return std::make_unique<StackPlan>(std::move(stack), std::move(theta), std::move(q),
                                           curveOf(s), work);
    }

    std::unique_ptr<CurveEvaluator> evaluator(const Structure& base,
                                              const AngleGrid& grid) const override {
        return std::make_unique<StackEvaluator>(grid, curveOf(base));
    }

protected:
    // The angles of the full curve and their scattering vectors, or why there are none.
    virtual QString angles(const Structure& s, const PhysicsStack& stack,
                           const ResultArrays& profile, AngleRange cover, QVector<double>& theta,
                           QVector<double>& q) const = 0;
    virtual StackCurve curveOf(const Structure& s) const = 0;
};

// The sum over planes with the realistic physics, on the basic model's grid of q.
class KinematicalModel : public RealisticModel {
public:
    ModelKind kind() const override { return ModelKind::Kinematical; }

protected:
    QString angles(const Structure& s, const PhysicsStack& stack, const ResultArrays& profile,
                   AngleRange cover, QVector<double>& theta, QVector<double>& q) const override {
        if (!s.ext.reflection.symmetric()) {
            // An asymmetric reflection has no sum over every order: the window of the
            // dynamical model around it.
            QString refusal = reflectionWindow(s, stack, cover, theta);
            for (double t : theta)
                q.append(scatteringVector(t, s.k));
            return refusal;
        }
        // Refused before the grid is made, which would hold every point.
        QString refusal = pointsRefusal(s, estimatedPointCount(profile.depth.last(), s.k));
        if (!refusal.isEmpty())
            return refusal;
        q = curveGrid(profile.depth.last(), s.k);
        for (double v : q)
            theta.append(braggAngle(v, s.k));
        return QString();
    }
    StackCurve curveOf(const Structure& s) const override {
        if (!s.ext.reflection.symmetric()) {
            const Reflection reflection = s.ext.reflection;
            return [reflection](const PhysicsStack& stack, const QVector<double>& t,
                                const std::atomic<bool>* cancel) {
                return kinematicalReflectivity(stack, reflection, t, cancel);
            };
        }
        return [](const PhysicsStack& stack, const QVector<double>& t,
                  const std::atomic<bool>* cancel) {
            return kinematicalReflectivity(stack, t, cancel);
        };
    }
};

// Two-beam dynamical theory of the reflection, around its Bragg angle; the curve widens to
// cover a measured scan.
class DynamicalModel : public RealisticModel {
public:
    ModelKind kind() const override { return ModelKind::Dynamical; }

protected:
    // The default window around the reflection, widened to the scan.
    static QString window(const Structure& s, const PhysicsStack& stack, const ResultArrays&,
                          AngleRange cover, QVector<double>& theta) {
        if (!s.ext.reflection.symmetric())
            return reflectionWindow(s, stack, cover, theta);
        theta = dynamicalDefaultGrid(stack, s.ext.reflection.l);
        if (theta.isEmpty()) {
            // Miller indices of more than one digit are written apart: (0 0 12), not (0012).
            const int l = s.ext.reflection.l;
            const QString name =
                l < 10 ? QStringLiteral("(00%1)").arg(l) : QStringLiteral("(0 0 %1)").arg(l);
            const double sinTheta = l * stack.wavelength / (2 * stack.aSubstrate);
            if (!(sinTheta >= 1))
                return tr("Refused [%1]: the %2 reflection cannot be reached at a wavelength "
                          "of %3 \u00c5.")
                    .arg(s.fileName, name, QString::number(s.wavelength));
            return tr("Refused [%1]: the %2 reflection cannot be reached at a wavelength of "
                      "%3 \u00c5: Bragg's law would need sin \u03b8 = l \u03bb / (2 a) = %4 "
                      "with the substrate's lattice constant a = %5 \u00c5, and sin \u03b8 "
                      "cannot exceed 1.")
                .arg(s.fileName, name, QString::number(s.wavelength),
                     QString::number(sinTheta, 'g', 4), QString::number(stack.aSubstrate, 'g', 6));
        }
        // The same step over the union of the default window and the scan's range.
        return widenToCover(s, cover, theta);
    }
    QString angles(const Structure& s, const PhysicsStack& stack, const ResultArrays& profile,
                   AngleRange cover, QVector<double>& theta, QVector<double>& q) const override {
        QString refusal = window(s, stack, profile, cover, theta);
        for (double t : theta)
            q.append(scatteringVector(t, s.k));
        return refusal;
    }
    StackCurve curveOf(const Structure& s) const override {
        if (!s.ext.reflection.symmetric()) {
            const Reflection reflection = s.ext.reflection;
            return [reflection](const PhysicsStack& stack, const QVector<double>& t,
                                const std::atomic<bool>* cancel) {
                return dynamicalReflectivity(stack, reflection, t, cancel);
            };
        }
        const int reflection = s.ext.reflection.l;
        return [reflection](const PhysicsStack& stack, const QVector<double>& t,
                            const std::atomic<bool>* cancel) {
            return dynamicalReflectivity(stack, reflection, t, cancel);
        };
    }
};

} // namespace

QString thicknessText(double monolayers, double monolayerHeight) {
    QString ml = QStringLiteral("%1 ML").arg(monolayers, 0, 'g', 6);
    const double nm = monolayers * monolayerHeight / 10;
    if (!std::isfinite(nm))
        return ml;
    return QStringLiteral("%1 (%2 nm)").arg(ml).arg(nm, 0, 'f', 2);
}

std::unique_ptr<Model> makeModel(ModelKind kind) {
    switch (kind) {
    case ModelKind::Basic:
        return std::make_unique<BasicModel>();
    case ModelKind::Kinematical:
        return std::make_unique<KinematicalModel>();
    case ModelKind::Dynamical:
        return std::make_unique<DynamicalModel>();
    }
    return nullptr;
}
