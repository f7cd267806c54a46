#include "calculation.h"

#include "config.h"
#include "curve.h"
#include "expansion.h"
#include "fitparameters.h"
#include "resultfiles.h"

#include <QCoreApplication>
#include <QDebug>

#include <cmath>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Calculation", text);
}

} // namespace

Calculation::Calculation(const Config& config) : config_(std::make_unique<Config>()) {
    copyStructure(config, *config_);
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

    expandLayers(config, profile_);
    const double period = profile_.depth.last();
    if (!std::isfinite(period) || period < 0) {
        refusal_ = tr("Refused [%1]: the period would be %2 \u00c5 thick; check the compositions "
                      "and the substrate.")
                       .arg(name)
                       .arg(period);
        return;
    }

    points_ = estimatedPointCount(period, config.k);
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
    return computeCurve(*config_, results, runs_, control);
}

CalculationOutcome Calculation::writeFiles(const ResultArrays& results,
                                           const QString& outputDir) const {
    CalculationOutcome outcome;
    outcome.points = results.q.size();
    outcome.profileFile = resultFileName(config_->fileName, QStringLiteral("cmp"), outputDir);
    outcome.profileWritten =
        writeColumns(outcome.profileFile, results.depth, results.inProfile, results.asProfile);
    outcome.curveFile = resultFileName(config_->fileName, QStringLiteral("dif"), outputDir);
    outcome.curveWritten =
        writeColumns(outcome.curveFile, results.theta, results.intensity, results.q);
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
    outcome.profileWritten =
        writeColumns(outcome.profileFile, results.depth, results.inProfile, results.asProfile);

    if (!computeCurve(*config_, results, runs_, hooks.control)) {
        outcome.cancelled = true;
        return outcome;
    }
    if (hooks.curveReady)
        hooks.curveReady();
    outcome.points = results.q.size();
    qDebug() << outcome.points;
    outcome.curveFile = resultFileName(config_->fileName, QStringLiteral("dif"), hooks.outputDir);
    outcome.curveWritten =
        writeColumns(outcome.curveFile, results.theta, results.intensity, results.q);
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
