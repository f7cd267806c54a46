#include "scanroad.h"

#include "config.h"
#include "constants.h"
#include "extensions.h"
#include "materials.h"
#include "resultfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Scan", text);
}

// Numbers of the -meas file: plain, with the digits that a scan's angles and counts need.
QString number(double v) {
    return QString::number(v, 'g', 10);
}

void addPeakLines(QStringList& header, const QString& who, const PeakAnalysis& p) {
    auto add = [&](const QString& key, double v) {
        if (std::isfinite(v))
            header << QStringLiteral("# %1 %2: %3").arg(who, key, number(v));
    };
    add(QStringLiteral("substrate peak"), p.substrate.theta);
    add(QStringLiteral("zeroth-order peak"), p.main.theta);
    add(QStringLiteral("period"), p.period);
    add(QStringLiteral("mismatch"), p.mismatch);
    add(QStringLiteral("thickness"), p.thickness);
}

QString peakSummary(const PeakAnalysis& p) {
    QStringList parts;
    if (std::isfinite(p.substrate.theta))
        parts << tr("substrate peak at %1°").arg(p.substrate.theta, 0, 'f', 4);
    if (std::isfinite(p.main.theta))
        parts << tr("layer or zeroth-order peak at %1°").arg(p.main.theta, 0, 'f', 4);
    if (!p.satelliteOrder.isEmpty())
        parts << tr("%1 satellite orders").arg(p.satelliteOrder.size() - 1);
    if (std::isfinite(p.mismatch))
        parts << tr("mismatch %1").arg(p.mismatch, 0, 'g', 4);
    if (std::isfinite(p.period))
        parts << tr("period %1 Å").arg(p.period, 0, 'f', 1);
    if (std::isfinite(p.thickness))
        parts << tr("thickness %1 Å").arg(p.thickness, 0, 'f', 1);
    return parts.isEmpty() ? tr("no peaks found") : parts.join(QStringLiteral(", "));
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
double substrateAngleIn(const Config& config, const QVector<double>& theta) {
    for (double t : substrateReflections(config))
        if (!theta.isEmpty() && t >= theta.first() && t <= theta.last())
            return t;
    return std::numeric_limits<double>::quiet_NaN();
}

} // namespace

QString scanPathFor(const Config& config, const QString& overridePath) {
    if (!overridePath.isEmpty())
        return QFileInfo(overridePath).absoluteFilePath();
    return measuredPath(config);
}

InstrumentSettings instrumentFrom(const Config& config) {
    InstrumentSettings s;
    s.offset = config.ext.offset;
    s.resolution = config.ext.resolution;
    if (config.ext.scaleGiven)
        s.scale = config.ext.scale;
    if (config.ext.backgroundGiven)
        s.background = config.ext.background;
    return s;
}

QVector<double> substrateReflections(const Config& config) {
    QVector<double> angles;
    const double aS = latticeConstant(config.substrate.inFraction, config.substrate.asFraction);
    // (00l) with l = 4n are the strong ones (fIII + fV), l = 4n + 2 the weak ones (fIII - fV);
    // lower orders are stronger.
    for (int l : {4, 8, 2, 6, 12, 10}) {
        const double s = config.wavelength * l / (2 * aS);
        if (s > 0 && s < 1)
            angles << std::asin(s) * kDegreesPerRadian;
    }
    return angles;
}

ScanReadResult readScanFor(const Config& config, const QString& scanPath) {
    ScanReadOptions options;
    options.twoTheta = config.ext.measuredTwoTheta;
    options.preferredThetas = substrateReflections(config);
    return readScanFile(scanPath, options);
}

RoadOutcome runRoad(const Config& config, std::unique_ptr<Calculation>& calculation,
                    ResultArrays& results, const CalculationHooks& hooks,
                    const QString& scanOverride) {
    RoadOutcome out;
    const QString scanPath = scanPathFor(config, scanOverride);
    ScanReadResult read;
    if (!scanPath.isEmpty())
        read = readScanFor(config, scanPath);
    if (read.ok && config.ext.model == ModelKind::Dynamical) {
        const double reach = 4 * config.ext.resolution;
        const AngleRange cover{read.scan.theta.first() + config.ext.offset - reach,
                               read.scan.theta.last() + config.ext.offset + reach};
        auto covering = std::make_unique<Calculation>(config, cover);
        if (covering->refusal().isEmpty())
            calculation = std::move(covering);
    }
    out.notes = calculation->notes();
    out.files = calculation->run(results, hooks);
    if (!out.files.cancelled)
        out.scan = compareWithScan(config, scanPath, read, hooks.outputDir, hooks.control);
    return out;
}

ScanOutcome compareWithScan(const Config& config, const QString& scanPath,
                            const ScanReadResult& read, const QString& outputDir,
                            const SumControl& control) {
    ScanOutcome out;
    if (scanPath.isEmpty())
        return out;
    out.attempted = true;
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

    const double substrate = substrateAngleIn(config, m.theta);
    const bool superlattice = config.repeat > 1;
    out.measuredPeaks =
        analysePeaks(m.theta, m.measured, config.wavelength, substrate, superlattice);
    out.modelPeaks = analysePeaks(m.theta, m.model, config.wavelength, substrate, superlattice);
    out.log << tr("Peaks of the measurement: %1.").arg(peakSummary(out.measuredPeaks));
    out.log << tr("Peaks of the model: %1.").arg(peakSummary(out.modelPeaks));

    QStringList header;
    header << QStringLiteral("# scan: %1").arg(scanPath)
           << QStringLiteral("# format: %1").arg(scan.format)
           << QStringLiteral("# axis: %1").arg(scan.axis)
           << QStringLiteral("# model: %1").arg(modelName(config.ext.model))
           << QStringLiteral("# points: %1").arg(scan.theta.size())
           << QStringLiteral("# offset: %1").arg(number(instrument.offset))
           << QStringLiteral("# resolution: %1").arg(number(instrument.resolution))
           << QStringLiteral("# scale: %1").arg(number(m.scale))
           << QStringLiteral("# background: %1").arg(number(m.background))
           << QStringLiteral("# agreement: %1").arg(number(m.agreement));
    addPeakLines(header, QStringLiteral("measured"), out.measuredPeaks);
    addPeakLines(header, QStringLiteral("model"), out.modelPeaks);

    out.measFile = resultFileName(config.fileName, QStringLiteral("meas"), outputDir);
    out.measWritten = writeMeasFile(out.measFile, header, m);
    out.log << (out.measWritten ? tr("Wrote [%1].") : tr("Can't write [%1].")).arg(out.measFile);
    out.ok = true;
    return out;
}
