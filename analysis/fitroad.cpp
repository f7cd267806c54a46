#include "analysis/fitroad.h"

#include "analysis/fitstart.h"
#include "analysis/instrument.h"
#include "analysis/scanroad.h"
#include "simulation/calculation.h"
#include "simulation/resultfiles.h"
#include "structure/config.h"
#include "structure/extensions.h"
#include "structure/fitparameters.h"
#include "structure/fittargets.h"
#include "structure/fittedfile.h"
#include "structure/structurefile.h"
#include "structure/structuretext.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Fit", text);
}

// What a grower must be told about a fit's result.
QStringList fitWarnings(const FitReport& report, const QVector<FitParameter>& fits) {
    QStringList out;
    const FitOutcome& o = report.outcome;
    if (report.noiseFloor > 0.0 && o.bestCost > kPoorAgreementNoise * report.noiseFloor)
        out << tr("poor agreement: the model does not explain the scan (agreement %1, %2 times "
                  "what the scan's noise alone leaves).")
                   .arg(o.bestCost, 0, 'g', 4)
                   .arg(o.bestCost / report.noiseFloor, 0, 'f', 0);
    if (o.uncertaintiesSkipped)
        out << tr("the uncertainties were not worked out: the time limit came first; each "
                  "given is the spread of its whole range.");
    for (int i = 0; i < fits.size() && std::size_t(i) < o.best.size(); ++i) {
        const std::size_t k = std::size_t(i);
        if (o.atBound.size() > k && o.atBound[k])
            out << tr("%1 ends at a bound of its range (%2): the best value may lie beyond it.")
                       .arg(fits[i].text)
                       .arg(o.best[k], 0, 'g', 6);
        else if (!o.uncertaintiesSkipped && o.undetermined.size() > k && o.undetermined[k])
            out << tr("%1 is not determined by the scan (uncertainty %2 over a range of %3).")
                       .arg(fits[i].text)
                       .arg(o.sigma[k], 0, 'g', 3)
                       .arg(fits[i].max - fits[i].min, 0, 'g', 3);
    }
    return out;
}

// The fitted file's text with each relative MEASURED path rewritten to name the same scan
// from the fitted file's folder (another folder than the structure's with --output-dir). A
// path that would hold a space from there is written absolute, and left as it is where even
// that would; nothing else changes.
QByteArray measuredFrom(const QByteArray& bytes, const QString& structureFile,
                        const QString& fittedFile) {
    const QDir from = QFileInfo(structureFile).absoluteDir();
    const QDir to = QFileInfo(fittedFile).absoluteDir();
    if (bytes.isEmpty() || from == to)
        return bytes;
    StructureText text(bytes);
    bool changed = false;
    for (int i = 0; i < text.lineCount(); ++i) {
        if (text.keyword(i) != QLatin1String("MEASURED"))
            continue;
        const QString path = text.argument(i, 1);
        if (path.isEmpty() || QFileInfo(path).isAbsolute())
            continue;
        const QString scan = QDir::cleanPath(from.absoluteFilePath(path));
        QString moved = to.relativeFilePath(scan);
        if (moved.contains(QRegularExpression(QStringLiteral("\\s"))))
            moved = scan;
        if (!moved.contains(QRegularExpression(QStringLiteral("\\s"))))
            changed = text.setArgument(i, 1, moved) || changed;
    }
    return changed ? text.bytes() : bytes;
}

} // namespace

StructureFit::StructureFit(const Structure& config, const FitSettings& settings)
    : base_(config), settings_(settings) {
    const QString name = config.fileName;
    if (config.ext.fits.isEmpty()) {
        problem_ = tr("No fit for [%1]: it has no FIT line.").arg(name);
        return;
    }
    problem_ = fitProblem(config);
    if (!problem_.isEmpty())
        return;
    const Calculation calculation(config);
    if (!calculation.refusal().isEmpty()) {
        problem_ = calculation.refusal();
        return;
    }
    problem_ = fittedFileProblem(config, settings.outputDir);
    if (!problem_.isEmpty())
        return;
    const QVector<ScanRequest> requests = scanRequestsFor(config, settings.scanOverride);
    if (requests.isEmpty()) {
        problem_ = tr("No fit for [%1]: it names no measured scan (MEASURED line).").arg(name);
        return;
    }
    scanPath_ = requests.first().path;
    if (requests.size() == 1)
        scanOverride_ = scanOverrideWith(scanPath_, measuredChoicesText(requests.first().spec));

    double offsetLow = config.ext.offset, offsetHigh = config.ext.offset;
    double resolutionLow = config.ext.resolution, resolutionHigh = config.ext.resolution;
    for (const FitParameter& p : config.ext.fits) {
        if (p.target == FitParameter::Offset) {
            offsetLow = p.min;
            offsetHigh = p.max;
        } else if (p.target == FitParameter::Resolution) {
            resolutionLow = p.min;
            resolutionHigh = p.max;
        }
    }
    MeasuredScan firstScan;
    for (const ScanRequest& request : requests) {
        ScanReadResult read;
        if (settings.scans.size() == requests.size()) {
            read.ok = read.recognised = true;
            read.scan = settings.scans.at(int(parts_.size()));
        } else {
            read = readScanFor(config, request);
        }
        if (!read.ok) {
            problem_ = read.error;
            return;
        }
        problem_ = wavelengthRefusal(config, read.scan, request.path);
        if (!problem_.isEmpty())
            return;
        notes_ << read.scan.notes;
        ScanPart part;
        part.reflection = request.spec.reflection;
        Structure atReflection = config;
        atReflection.ext.reflection = part.reflection;
        part.comparison = std::make_unique<ScanComparison>(
            atReflection, read.scan, offsetLow, offsetHigh, resolutionLow, resolutionHigh);
        if (!part.comparison->problem().isEmpty()) {
            problem_ = part.comparison->problem();
            return;
        }
        if (settings.weighted) {
            double sum = 0;
            for (double t : read.scan.countingTime)
                sum += t;
            if (!read.scan.countingTime.isEmpty())
                part.countingTime = sum / read.scan.countingTime.size();
            if (!(part.countingTime > 0))
                notes_ << tr("The scan gives no counting times: the fit is unweighted.");
        }
        if (parts_.empty())
            firstScan = read.scan;
        parts_.push_back(std::move(part));
    }
    if (parts_.size() > 1) {
        // Weights from counting statistics only when every scan gives them.
        for (const ScanPart& part : parts_)
            if (!(part.countingTime > 0))
                for (ScanPart& p : parts_)
                    p.countingTime = 0.0;
        notes_ << tr("Fit of [%1] to %2 scans: the cost is the mean of their agreement figures.")
                      .arg(name)
                      .arg(parts_.size());
    }
    comparison_ = parts_.front().comparison.get();
    countingTime_ = parts_.front().countingTime;
    const MeasuredScan& scan = firstScan;
    if (parts_.size() == 1)
        scanNoise_ = countingTime_ > 0
                         ? 1.0
                         : logNoiseFloor(std::vector<double>(firstScan.intensity.begin(),
                                                             firstScan.intensity.end()));
    if (settings.peakStart) {
        const PeakStart start = peakStart(config, scan, fitStartValues(config), countingTime_ > 0);
        // Starts that hold file values for some layer parameters can lead the search into the
        // wrong basin: the fit then starts from the file as it is.
        if (start.complete) {
            guesses_ = start.starts;
            // The noise floor is the first scan's: with several, the cost is another figure.
            noiseFloor_ = parts_.size() == 1 ? start.noiseFloor : 0.0;
            notes_ << start.notes;
        }
    }
}

StructureFit::~StructureFit() = default;

bool StructureFit::structureFor(const std::vector<double>& values, Structure& structure,
                                InstrumentSettings& instrument) const {
    applyFitValues(base_, values, structure);
    if (!structure.valid)
        return false;
    qint64 monolayers = 0;
    for (const Layer& l : structure.layers)
        monolayers += qMax(l.monolayers, 0);
    if (monolayers > CalculationLimits::maxMonolayers)
        return false;
    instrument = instrumentFrom(structure);
    return true;
}

bool StructureFit::modelFor(const std::vector<double>& values, ModelAtScan& out) const {
    Structure structure;
    InstrumentSettings instrument;
    if (!comparison_ || !structureFor(values, structure, instrument))
        return false;
    structure.ext.reflection = parts_.front().reflection;
    return comparison_->evaluate(structure, instrument, out);
}

std::vector<double> StructureFit::residuals(const std::vector<double>& values) const {
    if (abandoned())
        return {};
    if (parts_.size() == 1) {
        ModelAtScan m;
        if (!modelFor(values, m))
            return {};
        return logResiduals(m.measured, m.model, countingTime_);
    }
    // The scans' residuals one after the other, each scaled so that the mean square of all
    // (the search's cost) is the mean of the scans' own mean squares: a scan of many points
    // weighs no more than one of few.
    Structure structure;
    InstrumentSettings instrument;
    if (!structureFor(values, structure, instrument))
        return {};
    std::vector<std::vector<double>> each;
    std::size_t total = 0;
    for (const ScanPart& part : parts_) {
        structure.ext.reflection = part.reflection;
        ModelAtScan m;
        if (!part.comparison->evaluate(structure, instrument, m))
            return {};
        each.push_back(logResiduals(m.measured, m.model, part.countingTime));
        if (each.back().empty())
            return {};
        total += each.back().size();
    }
    std::vector<double> all;
    all.reserve(total);
    for (const std::vector<double>& r : each) {
        const double weight = std::sqrt(double(total) / (double(parts_.size()) * double(r.size())));
        for (const double v : r)
            all.push_back(v * weight);
    }
    return all;
}

FitProblem StructureFit::searchProblem() const {
    FitProblem problem;
    problem.start = fitStartValues(base_);
    for (const FitParameter& p : base_.ext.fits) {
        problem.lower.push_back(p.min);
        problem.upper.push_back(p.max);
        problem.integer.push_back(fitTarget(p.target).integer);
    }
    problem.residuals = [this](const std::vector<double>& v) { return residuals(v); };
    problem.unequalNoise = !(countingTime_ > 0);
    problem.seed = settings_.seed;
    problem.threads = settings_.threads;
    problem.progress = settings_.progress;
    problem.stop = settings_.stop;
    problem.maxSeconds = settings_.maxSeconds;
    problem.populationSize = settings_.populationSize;
    problem.maxGenerations = settings_.maxGenerations;
    problem.guesses = guesses_;
    problem.acceptCost = kAcceptedNoise * noiseFloor_;
    return problem;
}

QString StructureFit::costEstimate(double* seconds) const {
    if (!problem_.isEmpty())
        return QString();
    const FitProblem p = searchProblem();
    QElapsedTimer clock;
    clock.start();
    residuals(p.start);
    const double each = std::max(double(clock.nsecsElapsed()) * 1e-9, 1e-6);
    const long count = expectedEvaluations(p);
    const double total = each * double(count);
    if (seconds)
        *seconds = total;
    return tr("Fit of [%1]: about %2 evaluations of %3 ms each, about %4 s of CPU.")
        .arg(base_.fileName)
        .arg(count)
        .arg(each * 1e3, 0, 'g', 2)
        .arg(total, 0, 'g', 2);
}

FitReport StructureFit::run() const {
    FitReport report;
    if (!problem_.isEmpty()) {
        report.log << problem_;
        return report;
    }
    report.log << notes_;
    const QVector<FitParameter>& fits = base_.ext.fits;
    const FitProblem problem = searchProblem();
    report.outcome = runFit(problem);
    if (abandoned()) {
        report.log = QStringList{
            tr("The fit of [%1] was abandoned; nothing is written.").arg(base_.fileName)};
        return report;
    }
    const FitOutcome& o = report.outcome;
    if (!o.problem.isEmpty()) {
        report.log << tr("The fit of [%1] did not run: %2").arg(base_.fileName, o.problem);
        return report;
    }
    report.agreementBefore = o.startCost;
    report.agreementAfter = o.bestCost;

    std::vector<FittedValue> fitted;
    Structure best;
    InstrumentSettings bestInstrument;
    const bool bestValid = structureFor(o.best, best, bestInstrument);
    const std::unique_ptr<Model> model = makeModel(base_.ext.model);
    for (int i = 0; i < fits.size(); ++i) {
        const std::size_t k = std::size_t(i);
        FitRow row;
        row.target = fits[i].text;
        row.start = problem.start[k];
        row.value = o.best[k];
        row.sigma = o.sigma[k];
        row.atBound = o.atBound[k];
        const int layer = fits[i].layer - 1;
        if (fitTarget(fits[i].target).integer && bestValid && model && layer >= 0 &&
            layer < best.layers.size())
            row.nmPerUnit = model->layerMonolayerHeight(best, best.layers[layer]) / 10;
        report.rows << row;
        fitted.push_back({row.value, row.sigma, row.atBound, row.nmPerUnit});
    }

    report.noiseFloor = scanNoise_;
    report.warnings = fitWarnings(report, fits);

    const StructureFile original(base_.fileName);
    const QByteArray& text = original.bytes();
    FitRecord record;
    record.seed = settings_.seed;
    record.evaluations = o.evaluations;
    record.generations = o.generations;
    record.seconds = o.seconds;
    record.program = QStringLiteral("xrdsim " XRDSIM_VERSION);
    record.warnings = report.warnings;
    report.fittedFile = fittedFileName(base_.fileName, settings_.outputDir);
    const QByteArray bytes =
        measuredFrom(fittedStructureBytes(text, base_, fitted, report.agreementBefore,
                                          report.agreementAfter, &record),
                     base_.fileName, report.fittedFile);
    if (bytes.isEmpty()) {
        report.log << tr("Can't write [%1]: the fitted values cannot be written into the "
                         "structure file as it is on disk now.")
                          .arg(report.fittedFile);
        return report;
    }
    SafeFile out(report.fittedFile);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
        report.log << tr("Can't write [%1].").arg(report.fittedFile);
        return report;
    }
    if (abandoned()) {
        out.cancelWriting();
        report.log = QStringList{
            tr("The fit of [%1] was abandoned; nothing is written.").arg(base_.fileName)};
        return report;
    }
    if (!out.commit()) {
        report.log << tr("Can't write [%1].").arg(report.fittedFile);
        return report;
    }
    if (o.timedOut)
        report.log << tr("The fit of [%1] reached its time limit of %2 s: it ends at the best "
                         "point so far.")
                          .arg(base_.fileName)
                          .arg(settings_.maxSeconds);
    report.log << tr("Fit of [%1]: agreement %2 before, %3 after; %4 evaluations in %5 "
                     "generations%6.")
                      .arg(base_.fileName)
                      .arg(report.agreementBefore, 0, 'g', 6)
                      .arg(report.agreementAfter, 0, 'g', 6)
                      .arg(o.evaluations)
                      .arg(o.generations)
                      .arg(o.stopped ? tr(", stopped early") : QString());
    if (o.fromGuess)
        report.log << tr("The start from the measurement's peaks refined to within %1 times the "
                         "scan's noise, and a short global search found nothing better: no full "
                         "global search was needed.")
                          .arg(kAcceptedNoise);
    else if (o.probeOverruled)
        report.log << tr("A short global search found a better point than the start from the "
                         "measurement's peaks: the full global search ran.");
    report.log << fitTable(report);
    if (o.integerSolutions > 0)
        report.log << QCoreApplication::translate(
            "Fit",
            "%n neighbouring whole-monolayer solution(s) lie within one standard deviation of "
            "the best: the uncertainties include them.",
            nullptr, o.integerSolutions);
    for (const auto& c : o.strongCorrelations)
        report.log << tr("Correlated: %1 and %2 (%3).")
                          .arg(fits[std::get<0>(c)].text, fits[std::get<1>(c)].text)
                          .arg(std::get<2>(c), 0, 'f', 3);
    for (const QString& w : report.warnings)
        report.log << tr("Warning: %1").arg(w);
    report.log << tr("Wrote [%1].").arg(report.fittedFile);
    report.ok = true;
    return report;
}

QString fittedFileName(const QString& structureFile, const QString& outputDir) {
    const QString tag = QStringLiteral("fitted");
    const QFileInfo info(structureFile);
    if (info.completeBaseName().endsWith(QLatin1Char('-') + tag)) {
        const QDir dir(outputDir.isEmpty() ? info.absolutePath() : outputDir);
        return QDir::cleanPath(dir.absoluteFilePath(info.fileName()));
    }
    return resultFileName(structureFile, tag, outputDir);
}

void applyFitOptions(const Structure& config, FitSettings& settings) {
    const FitSearchOptions& o = config.ext.fitOptions;
    if (o.seedGiven)
        settings.seed = o.seed;
    if (o.population > 0)
        settings.populationSize = o.population;
    if (o.generations > 0)
        settings.maxGenerations = o.generations;
    if (o.seconds > 0)
        settings.maxSeconds = o.seconds;
}

QString fittedFileProblem(const Structure& config, const QString& outputDir) {
    const QString path = fittedFileName(config.fileName, outputDir);
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    QString why;
    if (!folder.isDir())
        why = tr("its folder is missing");
    else if (file.exists() && !file.isFile())
        why = tr("a folder or another non-file has its name");
    else if (file.exists() && !file.isWritable())
        why = tr("it is not writable");
    else if (!folder.isWritable())
        why = tr("its folder is not writable");
    return why.isEmpty()
               ? QString()
               : tr("No fit of [%1]: can't write [%2]: %3.").arg(config.fileName, path, why);
}

QStringList fitTable(const FitReport& report) {
    QStringList lines;
    lines << QStringLiteral("%1 %2 %3 %4 %5")
                 .arg(tr("parameter"), -14)
                 .arg(tr("start"), 12)
                 .arg(tr("fitted"), 12)
                 .arg(tr("uncertainty"), 12)
                 .arg(tr("at bound"));
    for (const FitRow& r : report.rows) {
        QString line = QStringLiteral("%1 %2 %3 %4 %5")
                           .arg(r.target, -14)
                           .arg(r.start, 12, 'g', 6)
                           .arg(r.value, 12, 'g', 6)
                           .arg(r.sigma, 12, 'g', 3)
                           .arg(r.atBound ? tr("yes") : tr("no"), -8);
        if (r.nmPerUnit > 0)
            line += tr(" %1 \u00b1 %2 nm")
                        .arg(std::round(r.value) * r.nmPerUnit, 0, 'f', 2)
                        .arg(r.sigma * r.nmPerUnit, 0, 'f', 2);
        lines << line.trimmed();
    }
    return lines;
}

bool fitReportFromFile(const Structure& config, FitReport& report, unsigned& seed) {
    const FittedHeader h = readFittedHeader(StructureFile(config.fileName).bytes());
    if (!h.present)
        return false;
    report = FitReport();
    report.ok = true;
    report.fittedFile = config.fileName;
    report.agreementBefore = h.agreementBefore;
    report.agreementAfter = h.agreementAfter;
    report.warnings = h.warnings;
    report.outcome.startCost = h.agreementBefore;
    report.outcome.bestCost = h.agreementAfter;
    report.outcome.evaluations = h.evaluations;
    report.outcome.generations = h.generations;
    report.outcome.seconds = h.seconds;
    for (const FittedHeader::Row& r : h.rows) {
        FitRow row;
        row.target = r.target;
        row.start = std::numeric_limits<double>::quiet_NaN();
        row.value = r.value;
        row.sigma = r.sigma;
        row.atBound = r.atBound;
        row.nmPerUnit = r.nm > 0 && r.value > 0 ? r.nm / r.value : 0.0;
        report.rows << row;
    }
    seed = h.seed;
    return true;
}
