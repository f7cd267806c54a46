#include "calculation.h"

#include "config.h"
#include "curve.h"
#include "expansion.h"
#include "resultarrays.h"
#include "resultfiles.h"

#include <QCoreApplication>
#include <QDebug>

#include <cmath>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Calculation", text);
}

} // namespace

QString refusalReason(const Config& config) {
    const QString name = config.fileName;
    if (config.ignoredLayers > 0)
        return tr("Refused [%1]: more than %2 LAYER lines.").arg(name).arg(Config::maxLayers);
    qint64 monolayers = 0;
    for (const Layer& l : config.layers)
        monolayers += qMax(l.monolayers, 0);
    if (monolayers > CalculationLimits::maxMonolayers)
        return tr("Refused [%1]: %2 monolayers in one period exceed the limit of %3.")
            .arg(name)
            .arg(monolayers)
            .arg(CalculationLimits::maxMonolayers);

    ResultArrays profile;
    expandLayers(config, profile);
    const double period = profile.depth.last();
    if (!std::isfinite(period) || period < 0)
        return tr("Refused [%1]: the period would be %2 \u00c5 thick; check the compositions "
                  "and the substrate.")
            .arg(name)
            .arg(period);

    const double points = estimatedPointCount(period, config.k);
    if (points > double(CalculationLimits::maxCurvePoints))
        return tr("Refused [%1]: about %2 curve points exceed the limit of %3; use a longer "
                  "wavelength or a thinner period.")
            .arg(name)
            .arg(points, 0, 'g', 3)
            .arg(CalculationLimits::maxCurvePoints);

    const double work =
        points * curveCostPerPoint(profile.depth, profile.inProfile, profile.asProfile);
    if (work > CalculationLimits::maxWork)
        return tr("Refused [%1]: %2 curve points over %3 distinct monolayers need %4 terms, "
                  "more than the limit of %5.")
            .arg(name)
            .arg(points)
            .arg(curveTermCount(profile.depth, profile.inProfile, profile.asProfile))
            .arg(work, 0, 'g', 3)
            .arg(CalculationLimits::maxWork, 0, 'g', 3);
    return QString();
}

CalculationOutcome runCalculation(const Config& config, ResultArrays& results,
                                  const std::function<void()>& profileReady,
                                  const std::function<void()>& curveReady,
                                  const QString& outputDir) {
    CalculationOutcome outcome;
    expandLayers(config, results);
    if (profileReady)
        profileReady();
    outcome.profileFile = resultFileName(config.fileName, QStringLiteral("cmp"), outputDir);
    outcome.profileWritten =
        writeColumns(outcome.profileFile, results.depth, results.inProfile, results.asProfile);

    computeCurve(config, results);
    if (curveReady)
        curveReady();
    outcome.points = results.q.size();
    qDebug() << outcome.points;
    outcome.curveFile = resultFileName(config.fileName, QStringLiteral("dif"), outputDir);
    outcome.curveWritten =
        writeColumns(outcome.curveFile, results.theta, results.intensity, results.q);
    return outcome;
}
