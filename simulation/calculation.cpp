#include "calculation.h"

#include "config.h"
#include "curve.h"
#include "dynamical.h"
#include "expansion.h"
#include "extensions.h"
#include "fitparameters.h"
#include "grid.h"
#include "kinematical.h"
#include "physicsstack.h"
#include "resultfiles.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Calculation", text);
}

} // namespace

Calculation::Calculation(const Config& config, AngleRange cover)
    : config_(std::make_unique<Config>()) {
    copyStructure(config, *config_);
    const ModelKind model = config.ext.model;
    const QString name = config.fileName;
    if (config.ignoredLayers > 0) {
        refusal_ = tr("Refused [%1]: more than %2 LAYER lines.").arg(name).arg(Config::maxLayers);
        return;
    }
    qint64 monolayers = 0;
    for (const Layer& l : config.layers)
        monolayers += qMax(l.monolayers, 0);
    if (monolayers > CalculationLimits::maxMonolayers) {
        refusal_ = tr("Refused [%1]: %2 monolayers in one period exceed the limit of %3.")
                       .arg(name)
                       .arg(monolayers)
                       .arg(CalculationLimits::maxMonolayers);
        return;
    }

    if (model == ModelKind::Basic) {
        expandLayers(config, profile_);
    } else {
        digits_ = 10;
        expandLayersElastic(config, profile_);
        stack_ = std::make_unique<PhysicsStack>(buildPhysicsStack(config));
    }
    const double period = profile_.depth.last();
    if (!std::isfinite(period) || period < 0) {
        refusal_ = tr("Refused [%1]: the period would be %2 \u00c5 thick; check the compositions "
                      "and the substrate.")
                       .arg(name)
                       .arg(period);
        return;
    }

    if (stack_ && !stack_->error.isEmpty()) {
        refusal_ = tr("Refused [%1]: %2").arg(name, stack_->error);
        return;
    }
    if (model == ModelKind::Dynamical) {
        dynamicalTheta_ = dynamicalDefaultGrid(*stack_, config.ext.reflection);
        if (dynamicalTheta_.isEmpty()) {
            refusal_ = tr("Refused [%1]: the (00%2) reflection cannot be reached at a "
                          "wavelength of %3 \u00c5.")
                           .arg(name)
                           .arg(config.ext.reflection)
                           .arg(config.wavelength);
            return;
        }
        if (!cover.isEmpty() && cover.low > 0 && cover.high < 90 &&
            (cover.low < dynamicalTheta_.first() || cover.high > dynamicalTheta_.last())) {
            // The same step over the union of the default window and the scan's range.
            const double step = (dynamicalTheta_.last() - dynamicalTheta_.first()) /
                                std::max(dynamicalTheta_.size() - 1, 1);
            const double low = std::min(cover.low, dynamicalTheta_.first());
            const double high = std::max(cover.high, dynamicalTheta_.last());
            const double count = std::floor((high - low) / step) + 1;
            if (count > double(CalculationLimits::maxCurvePoints)) {
                refusal_ = tr("Refused [%1]: about %2 curve points exceed the limit of %3.")
                               .arg(name)
                               .arg(count, 0, 'g', 3)
                               .arg(CalculationLimits::maxCurvePoints);
                return;
            }
            dynamicalTheta_.clear();
            for (int i = 0; i < int(count); ++i)
                dynamicalTheta_.append(low + step * i);
        }
        points_ = dynamicalTheta_.size();
    } else {
        points_ = estimatedPointCount(period, config.k);
    }
    if (config.ext.model != ModelKind::Basic)
        notes_ << tr("Model %1 for [%2].").arg(modelName(model), name);
    if (points_ > double(CalculationLimits::maxCurvePoints)) {
        refusal_ = tr("Refused [%1]: about %2 curve points exceed the limit of %3; use a longer "
                      "wavelength or a thinner period.")
                       .arg(name)
                       .arg(points_, 0, 'g', 3)
                       .arg(CalculationLimits::maxCurvePoints);
        return;
    }

    runs_ = findRuns(profile_.depth, profile_.inProfile, profile_.asProfile);
    work_ = points_ *
            LayerSum(profile_.depth, profile_.inProfile, profile_.asProfile, config.repeat, runs_)
                .costPerPoint();
    if (work_ > CalculationLimits::maxWork) {
        refusal_ = tr("Refused [%1]: %2 curve points over %3 distinct monolayers need %4 terms, "
                      "more than the limit of %5.")
                       .arg(name)
                       .arg(points_)
                       .arg(runs_.size())
                       .arg(work_, 0, 'g', 3)
                       .arg(CalculationLimits::maxWork, 0, 'g', 3);
    }
}

Calculation::~Calculation() = default;

bool Calculation::compute(ResultArrays& results, const SumControl& control) const {
    results.depth = profile_.depth;
    results.inProfile = profile_.inProfile;
    results.asProfile = profile_.asProfile;
    return computeModelCurve(results, control);
}

namespace {

// The model's curve at `theta`, in chunks on `control.threads` threads (each point stands
// alone, so any split gives the same numbers).
QVector<double> inChunks(
    const std::function<QVector<double>(const QVector<double>&, const std::atomic<bool>*)>& model,
    const QVector<double>& theta, const SumControl& control) {
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

} // namespace

bool Calculation::computeModelCurve(ResultArrays& results, const SumControl& control) const {
    if (!stack_)
        return computeCurve(*config_, results, runs_, control);
    const Config& c = *config_;
    QVector<double> theta;
    QVector<double> q;
    if (c.ext.model == ModelKind::Dynamical) {
        theta = dynamicalTheta_;
        for (double t : theta)
            q.append(scatteringVector(t, c.k));
    } else {
        q = curveGrid(profile_.depth.last(), c.k);
        for (double v : q)
            theta.append(braggAngle(v, c.k));
    }
    const PhysicsStack& stack = *stack_;
    const int reflection = c.ext.reflection;
    const bool dynamical = c.ext.model == ModelKind::Dynamical;
    const QVector<double> intensity = inChunks(
        [&](const QVector<double>& t, const std::atomic<bool>* cancel) {
            return dynamical ? dynamicalReflectivity(stack, reflection, t, cancel)
                             : kinematicalReflectivity(stack, t, cancel);
        },
        theta, control);
    if ((control.cancel && control.cancel->load()) || intensity.size() != theta.size())
        return false;
    results.theta = theta;
    results.q = q;
    results.intensity = intensity;
    return true;
}

CalculationOutcome Calculation::writeFiles(const ResultArrays& results,
                                           const QString& outputDir) const {
    CalculationOutcome outcome;
    outcome.points = results.q.size();
    outcome.profileFile = resultFileName(config_->fileName, QStringLiteral("cmp"), outputDir);
    outcome.profileWritten = writeColumns(outcome.profileFile, results.depth, results.inProfile,
                                          results.asProfile, 0, digits_);
    outcome.curveFile = resultFileName(config_->fileName, QStringLiteral("dif"), outputDir);
    outcome.curveWritten =
        writeColumns(outcome.curveFile, results.theta, results.intensity, results.q, 0, digits_);
    return outcome;
}

CalculationOutcome Calculation::run(ResultArrays& results, const CalculationHooks& hooks) const {
    CalculationOutcome outcome;
    results.depth = profile_.depth;
    results.inProfile = profile_.inProfile;
    results.asProfile = profile_.asProfile;
    if (hooks.profileReady)
        hooks.profileReady();
    outcome.profileFile = resultFileName(config_->fileName, QStringLiteral("cmp"), hooks.outputDir);
    const auto writeProfile = [&] {
        outcome.profileWritten = writeColumns(outcome.profileFile, results.depth, results.inProfile,
                                              results.asProfile, hooks.control.threads, digits_);
    };
    if (!hooks.writeAfterCurve)
        writeProfile();

    if (!computeModelCurve(results, hooks.control)) {
        outcome.cancelled = true;
        return outcome;
    }
    if (hooks.writeAfterCurve)
        writeProfile();
    if (hooks.curveReady)
        hooks.curveReady();
    outcome.points = results.q.size();
    qDebug() << outcome.points;
    outcome.curveFile = resultFileName(config_->fileName, QStringLiteral("dif"), hooks.outputDir);
    outcome.curveWritten = writeColumns(outcome.curveFile, results.theta, results.intensity,
                                        results.q, hooks.control.threads, digits_);
    return outcome;
}

QString refusalReason(const Config& config) {
    return Calculation(config).refusal();
}

CalculationOutcome runCalculation(const Config& config, ResultArrays& results,
                                  const std::function<void()>& profileReady,
                                  const std::function<void()>& curveReady,
                                  const QString& outputDir) {
    CalculationHooks hooks;
    hooks.profileReady = profileReady;
    hooks.curveReady = curveReady;
    hooks.outputDir = outputDir;
    return Calculation(config).run(results, hooks);
}

LoadedStructure loadStructure(Config& config, const QString& file) {
    LoadedStructure loaded;
    if (!config.load(file))
        return loaded;
    if (!config.valid) {
        loaded.status = LoadedStructure::Invalid;
        loaded.message = tr("Invalid structure [%1]: it needs a positive WAVELENGTH, a SUBSTRATE "
                            "line and at least one LAYER line.")
                             .arg(file);
        return loaded;
    }
    loaded.calculation = std::make_unique<Calculation>(config);
    if (!loaded.calculation->refusal().isEmpty()) {
        loaded.status = LoadedStructure::Refused;
        loaded.message = loaded.calculation->refusal();
        loaded.calculation.reset();
        return loaded;
    }
    loaded.status = LoadedStructure::Ready;
    return loaded;
}
