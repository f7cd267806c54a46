#include "analysis/scanroad.h"

#include "analysis/resolution.h"
#include "simulation/materials.h"
#include "simulation/model.h"
#include "simulation/resultfiles.h"
#include "structure/config.h"
#include "structure/constants.h"
#include "structure/extensions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMap>

#include <algorithm>
#include <cmath>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Scan", text);
}

// Numbers of the -meas file: plain, with the digits that a scan's angles and counts need.
QString number(double v) {
    return QString::number(v, 'g', 10);
}

// A value with its standard uncertainty, the value given to the digits the uncertainty
// leaves meaningful (two significant digits of the uncertainty).
QString withSigma(double value, double sigma) {
    int decimals = 6;
    if (sigma > 0.0 && std::isfinite(sigma))
        decimals = std::clamp(1 - int(std::floor(std::log10(sigma))), 0, 9);
    return QStringLiteral("%1 ± %2").arg(value, 0, 'f', decimals).arg(sigma, 0, 'f', decimals);
}

// A length in Å with its uncertainty, and the same in nm.
QString lengthWithSigma(double angstrom, double sigma) {
    return QStringLiteral("%1 Å (%2 nm)")
        .arg(withSigma(angstrom, sigma), withSigma(angstrom / 10.0, sigma / 10.0));
}

QString notDetermined(const QString& why) {
    return QStringLiteral("not determined: %1").arg(why);
}

// The figures of a peak analysis, one entry per figure: key and text (a value with its
// uncertainty, or why it is missing).
QVector<std::pair<QString, QString>> peakFigures(const PeakAnalysis& p) {
    QVector<std::pair<QString, QString>> figures;
    auto angle = [](const Peak& peak, const QString& why) {
        return std::isfinite(peak.theta) ? withSigma(peak.theta, peak.sigma) + QStringLiteral("°")
                                         : notDetermined(why);
    };
    figures.append({QStringLiteral("substrate peak"), angle(p.substrate, p.substrateWhy)});
    figures.append({QStringLiteral("zeroth-order peak"), angle(p.main, p.mainWhy)});
    if (p.satelliteOrder.isEmpty()) {
        figures.append({QStringLiteral("satellite orders"), notDetermined(p.period.why)});
    } else {
        QStringList orders;
        for (int o : p.satelliteOrder)
            orders << (o > 0 ? QStringLiteral("+%1").arg(o) : QString::number(o));
        figures.append({QStringLiteral("satellite orders"), orders.join(QLatin1Char(' '))});
    }
    figures.append({QStringLiteral("period"), p.period.known()
                                                  ? lengthWithSigma(p.period.value, p.period.sigma)
                                                  : notDetermined(p.period.why)});
    figures.append({QStringLiteral("mismatch"), p.mismatch.known()
                                                    ? withSigma(p.mismatch.value, p.mismatch.sigma)
                                                    : notDetermined(p.mismatch.why)});
    figures.append({QStringLiteral("thickness"),
                    p.thickness.known()
                        ? tr("%1 from %2 fringes")
                              .arg(lengthWithSigma(p.thickness.value, p.thickness.sigma))
                              .arg(p.fringesUsed)
                        : notDetermined(p.thickness.why)});
    return figures;
}

void addPeakLines(QStringList& header, const QString& who, const PeakAnalysis& p) {
    for (const auto& [key, text] : peakFigures(p))
        header << QStringLiteral("# %1 %2: %3").arg(who, key, text);
}

// The log's lines for a peak analysis: a heading, then one indented line per figure.
QStringList peakSummary(const QString& heading, const PeakAnalysis& p) {
    static const QMap<QString, QString> names = {
        {QStringLiteral("substrate peak"), tr("substrate peak")},
        {QStringLiteral("zeroth-order peak"), tr("layer or zeroth-order peak")},
        {QStringLiteral("satellite orders"), tr("satellite orders")},
        {QStringLiteral("period"), tr("superlattice period")},
        {QStringLiteral("mismatch"), tr("perpendicular mismatch sin θS / sin θL − 1")},
        {QStringLiteral("thickness"), tr("single-layer thickness from fringes")}};
    QStringList lines{heading};
    for (const auto& [key, text] : peakFigures(p))
        lines << QStringLiteral("    %1: %2").arg(names.value(key, key), text);
    return lines;
}

bool writeMeasFile(const QString& path, const QStringList& header, const ModelAtScan& m) {
    SafeFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text = header.join(QLatin1Char('\n')).toUtf8();
    text += '\n';
    for (int i = 0; i < m.theta.size(); ++i) {
        text += number(m.theta[i]).toLatin1();
        text += '\t';
        text += number(m.measured[i]).toLatin1();
        text += '\t';
        text += number(m.model[i]).toLatin1();
        text += '\n';
    }
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// The substrate's Bragg angle of the strongest reflection inside the scan, or NaN.
double substrateAngleIn(const Structure& config, const QVector<double>& theta) {
    for (double t : substrateReflections(config))
        if (!theta.isEmpty() && t >= theta.first() && t <= theta.last())
            return t;
    return std::numeric_limits<double>::quiet_NaN();
}

} // namespace

QString scanOverrideWith(const QString& path, const QString& choices) {
    const QString words = choices.simplified();
    return words.isEmpty() ? path : path + QChar(0) + words;
}

QString overridePathOf(const QString& scanOverride) {
    const int split = scanOverride.indexOf(QChar(0));
    return split < 0 ? scanOverride : scanOverride.left(split);
}

bool overrideChoices(const QString& scanOverride, MeasuredSpec& spec, QString& problem) {
    const int split = scanOverride.indexOf(QChar(0));
    const QStringList words =
        split < 0 ? QStringList()
                  : scanOverride.mid(split + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return readMeasuredChoices(words, spec, problem);
}

QVector<ScanRequest> scanRequestsFor(const Structure& config, const QString& scanOverride) {
    QVector<ScanRequest> requests;
    if (!scanOverride.isEmpty()) {
        ScanRequest r;
        QString problem;
        overrideChoices(scanOverride, r.spec, problem); // the caller checked the choices
        if (!r.spec.reflectionGiven)
            r.spec.reflection = config.ext.reflection;
        r.spec.file = overridePathOf(scanOverride);
        r.path = QFileInfo(r.spec.file).absoluteFilePath();
        r.measTag = QStringLiteral("meas");
        requests << r;
        return requests;
    }
    const QVector<MeasuredSpec>& specs = config.ext.measured;
    for (int i = 0; i < specs.size(); ++i) {
        ScanRequest r;
        r.spec = specs[i];
        r.path = measuredPath(config, specs[i].file);
        r.measTag = i == 0 ? QStringLiteral("meas") : measuredResultTag(specs[i].reflection);
        r.index = i;
        r.count = int(specs.size());
        requests << r;
    }
    // A structure made in code may name its scan in measuredFile alone.
    if (requests.isEmpty() && !config.ext.measuredFile.isEmpty()) {
        ScanRequest r;
        r.spec.file = config.ext.measuredFile;
        r.spec.axis = config.ext.measuredTwoTheta ? MeasuredSpec::TwoTheta : MeasuredSpec::AnyAxis;
        r.spec.reflection = config.ext.reflection;
        r.path = measuredPath(config);
        r.measTag = QStringLiteral("meas");
        requests << r;
    }
    return requests;
}

QString scanPathFor(const Structure& config, const QString& overridePath) {
    const QVector<ScanRequest> requests = scanRequestsFor(config, overridePath);
    return requests.isEmpty() ? QString() : requests.first().path;
}

QStringList scanPathsFor(const Structure& config, const QString& scanOverride) {
    QStringList paths;
    for (const ScanRequest& r : scanRequestsFor(config, scanOverride))
        paths << r.path;
    return paths;
}

QStringList measTagsFor(const Structure& config, const QString& scanOverride) {
    QStringList tags;
    for (const ScanRequest& r : scanRequestsFor(config, scanOverride))
        tags << r.measTag;
    return tags;
}

InstrumentSettings instrumentFrom(const Structure& config) {
    InstrumentSettings s;
    s.offset = config.ext.offset;
    s.resolution = config.ext.resolution;
    if (config.ext.scaleGiven)
        s.scale = config.ext.scale;
    if (config.ext.backgroundGiven)
        s.background = config.ext.background;
    return s;
}

QString wavelengthRefusal(const Structure& config, const MeasuredScan& scan,
                          const QString& scanPath) {
    if (!(std::isfinite(scan.wavelength) && scan.wavelength > 0.0) ||
        std::fabs(scan.wavelength - config.wavelength) <= kWavelengthTolerance * scan.wavelength)
        return QString();
    return tr("Can't compare [%1] with [%2]: the scan's wavelength %3 Å differs from the "
              "structure's %4 Å by more than 0.1 %.")
        .arg(config.fileName, scanPath)
        .arg(scan.wavelength, 0, 'g', 8)
        .arg(config.wavelength, 0, 'g', 8);
}

double meanMismatch(const Structure& config) {
    const std::unique_ptr<Model> model = makeModel(config.ext.model);
    if (!model || config.layers.isEmpty())
        return std::numeric_limits<double>::quiet_NaN();
    const double substrate =
        model->monolayerHeight(config, config.substrate.inFraction, config.substrate.asFraction);
    double count = 0.0, height = 0.0;
    for (const Layer& l : config.layers) {
        const double n = std::max(l.monolayers, 0);
        count += n;
        height += n * model->monolayerHeight(config, l.inFraction, l.asFraction);
    }
    const double m = height / count / substrate - 1.0;
    return count > 0.0 && substrate > 0.0 && std::isfinite(m)
               ? m
               : std::numeric_limits<double>::quiet_NaN();
}

QVector<double> substrateReflections(const Structure& config) {
    QVector<double> angles;
    const double aS = latticeConstant(config.substrate.system, config.substrate.inFraction,
                                      config.substrate.asFraction);
    // (00l) with l = 4n are the strong ones (fIII + fV), l = 4n + 2 the weak ones (fIII - fV),
    // absent from a diamond substrate (Si, Ge); lower orders are stronger.
    for (int l : {4, 8, 2, 6, 12, 10}) {
        if (config.substrate.system.diamond() && l % 4 == 2)
            continue;
        const double s = config.wavelength * l / (2 * aS);
        if (s > 0 && s < 1)
            angles << std::asin(s) * kDegreesPerRadian;
    }
    return angles;
}

ScanReadResult readScanFor(const Structure& config, const ScanRequest& request) {
    ScanReadOptions options;
    const MeasuredSpec& spec = request.spec;
    options.twoTheta = spec.axis == MeasuredSpec::TwoTheta;
    options.axis = spec.axis == MeasuredSpec::TwoTheta ? ScanReadOptions::TwoTheta
                   : spec.axis == MeasuredSpec::Omega  ? ScanReadOptions::Omega
                                                       : ScanReadOptions::AnyAxis;
    options.windowGiven = spec.windowGiven;
    options.from = spec.from;
    options.to = spec.to;
    options.scanNumber = spec.scanNumber;
    // The substrate's (00l) angles only help choose among the scans of a symmetric one.
    if (spec.reflection.symmetric())
        options.preferredThetas = substrateReflections(config);
    return readScanFile(request.path, options);
}

bool RoadOutcome::scansWritten() const {
    for (const ScanOutcome& s : scans)
        if (s.attempted && !(s.ok && s.measWritten))
            return false;
    return true;
}

QVector<ScanReadResult> readScansAndCover(Calculation& calculation,
                                          const QVector<ScanRequest>& requests) {
    const Structure& structure = calculation.structure();
    QVector<ScanReadResult> reads;
    for (const ScanRequest& request : requests) {
        reads << readScanFor(structure, request);
        const ScanReadResult& read = reads.last();
        // The curve shown is the structure's own reflection: only its scans widen it.
        if (read.ok && request.spec.reflection == structure.ext.reflection) {
            const Resolution resolution(structure.ext.resolution);
            calculation.cover(
                {read.scan.theta.first() + structure.ext.offset - resolution.coverReach(),
                 read.scan.theta.last() + structure.ext.offset + resolution.coverReach()});
        }
    }
    return reads;
}

RoadOutcome runRoad(Calculation& calculation, ResultArrays& results, const CalculationHooks& hooks,
                    const QString& scanOverride) {
    RoadOutcome out;
    const Structure& structure = calculation.structure();
    const QVector<ScanRequest> requests = scanRequestsFor(structure, scanOverride);
    const QVector<ScanReadResult> reads = readScansAndCover(calculation, requests);
    out.notes = calculation.notes();
    out.files = calculation.run(results, hooks);
    if (out.files.cancelled)
        return out;
    for (int i = 0; i < requests.size(); ++i) {
        if (hooks.control.cancel && hooks.control.cancel->load())
            break;
        out.scans << compareWithScan(structure, requests[i], reads[i], hooks.outputDir,
                                     hooks.control);
    }
    if (!out.scans.isEmpty()) {
        out.scan = out.scans.first();
        for (int i = 1; i < out.scans.size(); ++i)
            out.scan.log << out.scans[i].log;
    }
    return out;
}

ScanOutcome compareWithScan(const Structure& base, const ScanRequest& request,
                            const ScanReadResult& read, const QString& outputDir,
                            const SumControl& control) {
    ScanOutcome out;
    const QString& scanPath = request.path;
    if (scanPath.isEmpty())
        return out;
    out.attempted = true;
    // A scan at its own reflection, or one of several, says which one it is.
    const bool named = request.count > 1 || request.spec.reflectionGiven;
    if (named)
        out.log << tr("Scan %1 of %2: [%3] at %4.")
                       .arg(request.index + 1)
                       .arg(request.count)
                       .arg(scanPath, reflectionText(request.spec.reflection));
    // The model of the scan is the structure's at the scan's reflection.
    Structure atReflection;
    if (base.ext.reflection != request.spec.reflection) {
        atReflection = base;
        atReflection.ext.reflection = request.spec.reflection;
    }
    const Structure& config = base.ext.reflection != request.spec.reflection ? atReflection : base;
    if (!read.ok) {
        out.log << read.error;
        return out;
    }
    out.scan = read.scan;
    const MeasuredScan& scan = out.scan;
    out.log << tr("Measured scan [%1]: %2, %3 points from %4° to %5° of theta (%6).")
                   .arg(scanPath, scan.format)
                   .arg(scan.theta.size())
                   .arg(scan.theta.first())
                   .arg(scan.theta.last())
                   .arg(scan.axis);
    out.log << scan.notes;
    if (!config.wavelengthGiven)
        out.log << tr("Note: [%1] has no WAVELENGTH line: the model is computed at %2 Å.")
                       .arg(config.fileName)
                       .arg(config.wavelength, 0, 'g', 8);
    const QString refusal = wavelengthRefusal(config, scan, scanPath);
    if (!refusal.isEmpty()) {
        out.log << refusal;
        return out;
    }
    if (std::isfinite(scan.wavelength) && std::fabs(scan.wavelength - config.wavelength) > 1e-4)
        out.log << tr("Warning: the scan's wavelength %1 Å differs from the structure's %2 Å.")
                       .arg(scan.wavelength, 0, 'g', 8)
                       .arg(config.wavelength, 0, 'g', 8);

    const InstrumentSettings instrument = instrumentFrom(config);
    const ScanComparison comparison(config, scan, instrument.offset, instrument.offset,
                                    instrument.resolution, instrument.resolution);
    if (!comparison.problem().isEmpty()) {
        out.log << comparison.problem();
        return out;
    }
    if (!comparison.evaluate(config, instrument, out.model, control)) {
        if (!(control.cancel && control.cancel->load()))
            out.log << tr("Can't compare with [%1]: the model is not finite at its angles.")
                           .arg(scanPath);
        return out;
    }
    const ModelAtScan& m = out.model;
    if (!instrument.scale || !instrument.background)
        out.log << tr("Found by least squares: scale %1, background %2 counts per second.")
                       .arg(m.scale, 0, 'g', 6)
                       .arg(m.background, 0, 'g', 6);
    out.log << tr("Agreement with [%1]: %2 (mean squared difference of log10 intensities).")
                   .arg(scanPath)
                   .arg(m.agreement, 0, 'g', 6);

    // Only the substrate's reflection comes from the structure: it says where the substrate
    // peak is to be looked for. Everything else is the curve's own.
    const double substrate = substrateAngleIn(config, m.theta);
    PeakOptions peakOptions;
    peakOptions.meanMismatch = meanMismatch(config);
    out.measuredPeaks =
        analysePeaks(m.theta, m.measured, config.wavelength, substrate, peakOptions);
    out.modelPeaks = analysePeaks(m.theta, m.model, config.wavelength, substrate, peakOptions);
    if (std::isfinite(substrate))
        out.log << tr("Peak analysis: the substrate peak is looked for near the substrate's "
                      "Bragg angle %1°, a superlattice's zeroth order near the structure's "
                      "mean lattice; every other figure comes from the curve alone (standard "
                      "uncertainties after ±).")
                       .arg(substrate, 0, 'f', 4);
    out.log << peakSummary(tr("Peaks of the measurement:"), out.measuredPeaks);
    out.log << peakSummary(tr("Peaks of the model:"), out.modelPeaks);

    QStringList header;
    header << QStringLiteral("# scan: %1").arg(scanPath)
           << QStringLiteral("# format: %1").arg(scan.format)
           << QStringLiteral("# axis: %1").arg(scan.axis)
           << QStringLiteral("# model: %1").arg(modelName(config.ext.model))
           << QStringLiteral("# points: %1").arg(scan.theta.size());
    if (named)
        header << QStringLiteral("# reflection: %1").arg(reflectionText(request.spec.reflection));
    header << QStringLiteral("# offset: %1").arg(number(instrument.offset))
           << QStringLiteral("# resolution: %1").arg(number(instrument.resolution))
           << QStringLiteral("# scale: %1").arg(number(m.scale))
           << QStringLiteral("# background: %1").arg(number(m.background))
           << QStringLiteral("# agreement: %1").arg(number(m.agreement));
    addPeakLines(header, QStringLiteral("measured"), out.measuredPeaks);
    addPeakLines(header, QStringLiteral("model"), out.modelPeaks);

    out.measFile = resultFileName(config.fileName, request.measTag, outputDir);
    out.measWritten = writeMeasFile(out.measFile, header, m);
    out.log << (out.measWritten ? tr("Wrote [%1].") : tr("Can't write [%1].")).arg(out.measFile);
    out.ok = true;
    return out;
}

QStringList peakLines(const QString& heading, const PeakAnalysis& p) {
    return peakSummary(heading, p);
}
