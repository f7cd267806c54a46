#include "simulation/calculation.h"

#include "simulation/resultfiles.h"
#include "structure/config.h"
#include "structure/structurefile.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <cmath>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Calculation", text);
}

} // namespace

Calculation::Calculation(const Structure& config, AngleRange cover)
    : structure_(config), model_(makeModel(config.ext.model)) {
    const QString name = config.fileName;
    if (!model_) {
        refusal_ = tr("Refused [%1]: its model is not known here.").arg(name);
        return;
    }
    digits_ = model_->fileDigits();
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

    model_->expandProfile(config, profile_);
    const double period = profile_.depth.last();
    if (!std::isfinite(period) || period < 0) {
        refusal_ = tr("Refused [%1]: the period would be %2 \u00c5 thick; check the compositions "
                      "and the substrate.")
                       .arg(name)
                       .arg(period);
        return;
    }
    if (model_->announced())
        notes_ << tr("Model %1 for [%2].").arg(model_->name(), name);
    plan_ = model_->plan(config, profile_, cover, refusal_);
}

void Calculation::cover(AngleRange range) {
    if (!refusal_.isEmpty() || range.isEmpty())
        return;
    QString refusal;
    std::unique_ptr<CurvePlan> wider = model_->plan(structure_, profile_, range, refusal);
    if (wider && refusal.isEmpty())
        plan_ = std::move(wider);
}

Calculation::~Calculation() = default;

bool Calculation::compute(ResultArrays& results, const SumControl& control) const {
    results.depth = profile_.depth;
    results.inProfile = profile_.inProfile;
    results.asProfile = profile_.asProfile;
    return computeModelCurve(results, control);
}

bool Calculation::computeModelCurve(ResultArrays& results, const SumControl& control) const {
    return plan_ && plan_->compute(results, control);
}

CalculationOutcome Calculation::run(ResultArrays& results, const CalculationHooks& hooks) const {
    CalculationOutcome outcome;
    results.depth = profile_.depth;
    results.inProfile = profile_.inProfile;
    results.asProfile = profile_.asProfile;
    if (hooks.profileReady)
        hooks.profileReady();
    outcome.profileFile =
        resultFileName(structure_.fileName, QStringLiteral("cmp"), hooks.outputDir);
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
    outcome.curveFile = resultFileName(structure_.fileName, QStringLiteral("dif"), hooks.outputDir);
    outcome.curveWritten = writeColumns(outcome.curveFile, results.theta, results.intensity,
                                        results.q, hooks.control.threads, digits_);
    return outcome;
}

namespace {

// The structure the loader holds, ready to compute or the line that says why not.
LoadedStructure prepared(const Config& config, const QString& file) {
    LoadedStructure loaded;
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

} // namespace

LoadedStructure loadStructure(Config& config, const QString& file) {
    if (!config.load(file))
        return LoadedStructure();
    return prepared(config, file);
}

LoadedStructure loadStructure(Config& config, const StructureFile& file) {
    if (!config.load(file))
        return LoadedStructure();
    return prepared(config, file.path());
}
