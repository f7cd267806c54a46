// xrdsim-batch: computes structure files without a window. For every file it runs the same
// loader and calculation as the window and writes the same two result files.

#include "analysis/fitroad.h"
#include "analysis/scanroad.h"
#include "report/report.h"
#include "report/scanoverlay.h"
#include "simulation/calculation.h"
#include "simulation/outputguard.h"
#include "simulation/resultarrays.h"
#include "simulation/resultfiles.h"
#include "structure/config.h"
#include "structure/extensions.h"
#include "structure/fittargets.h"
#include "tools/batchmap.h"
#include "tools/batchrsm.h"
#include "views/overlayview.h"
#include "views/renderplots.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Exit status: every file computed, some file not computed, or the command line was wrong.
enum ExitStatus { Computed = 0, NotComputed = 1, UsageError = 2 };

// One line to standard output, flushed at once so it interleaves with anything else the
// process prints. (Qt::endl is missing before 5.14 and plain endl is deprecated after.)
void say(const QString& line) {
    static QTextStream stream(stdout);
    stream << line << '\n';
    stream.flush();
}

void complain(const QString& line) {
    static QTextStream stream(stderr);
    stream << line << '\n';
    stream.flush();
}

// What to do with each file besides the result files.
struct Options {
    QString outputDir;
    bool png = false;
    QSize plotSize = defaultPlotSize;
    bool logScale = false;
    int threads = 1;
    QString measured; // a scan that overrides the MEASURED line
    bool fit = false;
    unsigned seed = 1;
    bool weighted = false;
    double maxSeconds = 600.0; // per fit
    // Given on the command line: they then override the structure's FITOPTIONS line.
    bool seedGiven = false;
    bool maxSecondsGiven = false;
    QString summary;     // --summary: one CSV row per fitted structure
    bool strict = false; // --strict: a file with notes on its lines is not computed
    QString report;      // --report: an HTML or PDF report of the one structure
};

QString tr(const char* text) {
    return QCoreApplication::translate("Batch", text);
}

QString sizeText(QSize size) {
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

// Under --strict a structure any of whose lines was skipped or read leniently is refused,
// before anything is computed or written for it.
void refuseLenient(const Config& config, LoadedStructure& loaded) {
    if (loaded.status != LoadedStructure::Ready ||
        (config.notedLines == 0 && config.ext.problems.isEmpty() && config.wavelengthGiven))
        return;
    loaded.status = LoadedStructure::Refused;
    loaded.calculation.reset();
    loaded.message = config.notedLines == 0 && config.ext.problems.isEmpty()
                         ? tr("Refused [%1]: with --strict, the file must give its WAVELENGTH "
                              "(without it the curve is computed at 1 Å).")
                               .arg(config.fileName)
                         : tr("Refused [%1]: with --strict, no line may be skipped or read "
                              "leniently (see the lines above).")
                               .arg(config.fileName);
    say(loaded.message);
}

// Loads a structure file, printing the loader's lines, why it is not computed and the
// complaints about its extension statements.
LoadedStructure load(Config& config, const QString& name, bool strict) {
    QObject::connect(&config, &Config::log, &say);
    LoadedStructure loaded = loadStructure(config, name);
    if (!loaded.message.isEmpty())
        say(loaded.message);
    for (const QString& problem : config.ext.problems)
        say(problem);
    if (strict)
        refuseLenient(config, loaded);
    return loaded;
}

// Writes the report of a computed structure (and of the fit that made it); false when it
// could not be written.
bool writeReportOf(const Structure& structure, const ResultArrays& results, const ScanOutcome& scan,
                   const FitReport* fit, const Options& options) {
    ReportData data;
    data.program = QStringLiteral("xrdsim-batch " XRDSIM_VERSION);
    data.structure = structure;
    data.results = results;
    data.logScale = options.logScale || scan.ok;
    if (scan.attempted)
        data.scan = scan;
    data.seed = options.seed;
    if (fit)
        data.fit = *fit;
    else if (FitReport recorded; fitReportFromFile(structure, recorded, data.seed))
        data.fit = recorded; // a fitted file: its header's fit
    const bool written = writeReport(options.report, data);
    say((written ? tr("Wrote [%1].") : tr("Can't write [%1].")).arg(options.report));
    return written;
}

// Loads and computes one structure file (and compares it with its measured scan); true when
// every file was written. With --report the report goes with it (and with `fit`, the fit
// that wrote this file).
bool computeFile(const QString& name, const Options& options, const FitReport* fit = nullptr) {
    Config config;
    LoadedStructure loaded = load(config, name, options.strict);
    if (loaded.status != LoadedStructure::Ready)
        return false;

    ResultArrays results;
    CalculationHooks hooks;
    hooks.outputDir = options.outputDir;
    hooks.control.threads = options.threads;
    const RoadOutcome road = runRoad(*loaded.calculation, results, hooks, options.measured);
    for (const QString& note : road.notes)
        say(note);
    const CalculationOutcome& outcome = road.files;
    say(tr("%1 curve points.").arg(outcome.points));
    bool written = true;
    for (const auto& file : {qMakePair(outcome.profileFile, outcome.profileWritten),
                             qMakePair(outcome.curveFile, outcome.curveWritten)}) {
        if (file.second) {
            say(tr("Wrote [%1].").arg(file.first));
        } else {
            say(tr("Can't write [%1].").arg(file.first));
            written = false;
        }
    }
    const ScanOutcome& scan = road.scan;
    for (const QString& line : scan.log)
        say(line);
    if (!road.scansWritten())
        written = false;

    if (options.png) {
        const QString png = plotFileName(name, options.outputDir);
        const OverlayData overlay = overlayOf(scan);
        if (exportPlots(png, results, options.logScale, options.plotSize, &overlay, false,
                        DiffractionAxes{loaded.calculation->model().intensityUnit()})) {
            say(tr("Wrote [%1].").arg(png));
        } else {
            say(tr("Can't write [%1].").arg(png));
            written = false;
        }
    }
    if (!options.report.isEmpty() && !writeReportOf(config, results, scan, fit, options))
        written = false;
    return written;
}

// One structure file to fit: what it loaded, the fit prepared on it and what the fit found.
struct FitJob {
    QString name;
    std::unique_ptr<Config> config;
    LoadedStructure loaded;
    std::unique_ptr<StructureFit> fit;
    double estimate = 0.0; // seconds
    FitReport report;
};

// Progress of the fits that run, to standard error at most once a second in all: the file,
// the generation, the best agreement so far, the time since its fit began and what remains
// (from the estimate made before it started; never beyond its time limit).
class FitProgress {
public:
    FitProgress() { clock_.start(); }

    std::function<void(int, double, const std::vector<double>&)> reporter(const FitJob& job,
                                                                          double maxSeconds) {
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        const QString name = job.name;
        const double estimate = job.estimate;
        return [this, started, name, estimate, maxSeconds](int generation, double best,
                                                           const std::vector<double>&) {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (lastLine_ >= 0 && clock_.elapsed() - lastLine_ < 1000)
                return;
            lastLine_ = clock_.elapsed();
            const double elapsed = double(started->elapsed()) / 1000.0;
            // The estimate made before the start, and past it at least the 25 generations in
            // which the best point must settle.
            double left = std::max(estimate - elapsed, 25.0 * elapsed / std::max(generation, 1));
            if (maxSeconds > 0.0)
                left = std::min(left, std::max(maxSeconds - elapsed, 0.0));
            complain(tr("Fitting [%1]: generation %2, best agreement %3, %4 s elapsed, about "
                        "%5 s left.")
                         .arg(name)
                         .arg(generation)
                         .arg(best, 0, 'g', 6)
                         .arg(elapsed, 0, 'f', 1)
                         .arg(left, 0, 'f', 1));
        };
    }

private:
    std::mutex mutex_;
    QElapsedTimer clock_;
    qint64 lastLine_ = -1;
};

// Runs the prepared fits, several at once (each on its share of the threads; a fit's result
// does not depend on its thread count, so each is what it would be alone).
void runFits(std::vector<FitJob>& jobs, const Options& options) {
    std::vector<std::size_t> ready;
    for (std::size_t i = 0; i < jobs.size(); ++i)
        if (jobs[i].fit)
            ready.push_back(i);
    if (ready.empty())
        return;
    const int total = std::max(options.threads, 1);
    const int concurrent = std::min(int(ready.size()), total);
    const int each = std::max(1, total / concurrent);
    FitProgress progress;
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t k = next++; k < ready.size(); k = next++) {
            FitJob& job = jobs[ready[k]];
            FitSettings settings;
            settings.scanOverride = options.measured;
            settings.outputDir = options.outputDir;
            settings.seed = options.seed;
            settings.threads = each;
            settings.weighted = options.weighted;
            settings.peakStart = true;
            settings.maxSeconds = options.maxSeconds;
            applyFitOptions(*job.config, settings);
            if (options.seedGiven)
                settings.seed = options.seed;
            if (options.maxSecondsGiven)
                settings.maxSeconds = options.maxSeconds;
            settings.progress = progress.reporter(job, settings.maxSeconds);
            job.report = StructureFit(*job.config, settings).run();
        }
    };
    std::vector<std::thread> workers;
    for (int t = 1; t < concurrent; ++t)
        workers.emplace_back(work);
    work();
    for (std::thread& t : workers)
        t.join();
}

// A CSV field, quoted when it needs to be.
QString csvField(const QString& text) {
    if (!text.contains(QRegularExpression(QStringLiteral("[\",\r\n]"))))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QString csvNumber(double value) {
    return std::isfinite(value) ? QString::number(value, 'g', 8) : QString();
}

// One row of the summary: file, model, agreement before and after, then per fitted parameter
// its target, value, uncertainty and, for a thickness, both again in nm as the fitted file
// gives them: the monolayers it writes times the height of one monolayer under the structure's
// model, which the fit's row holds.
QStringList summaryRow(const FitJob& job) {
    QStringList row{csvField(job.name), modelName(job.config->ext.model)};
    const FitReport& r = job.report;
    row << csvNumber(r.agreementBefore) << csvNumber(r.agreementAfter);
    Config fitted;
    InstrumentSettings instrument;
    const bool haveStructure = job.fit && job.fit->structureFor(r.outcome.best, fitted, instrument);
    const QVector<FitParameter>& fits = job.config->ext.fits;
    for (int i = 0; i < r.rows.size() && i < fits.size(); ++i) {
        const FitRow& f = r.rows[i];
        const FitParameter& p = fits[i];
        // A whole number of monolayers as the fitted file writes it.
        const bool whole = fitTarget(p.target).integer && haveStructure;
        const double value =
            whole ? std::round(fitTarget(p.target).read(fitted, p.layer - 1, p)) : f.value;
        row << csvField(f.target) << csvNumber(value) << csvNumber(f.sigma);
        if (whole && f.nmPerUnit > 0 && std::isfinite(f.nmPerUnit)) {
            row << csvNumber(value * f.nmPerUnit) << csvNumber(f.sigma * f.nmPerUnit);
        } else {
            row << QString() << QString();
        }
    }
    return row;
}

// Writes the summary of the fits that ran; false when it could not be written.
bool writeSummary(const std::vector<FitJob>& jobs, const QString& path) {
    QVector<QStringList> rows;
    int parameters = 0;
    for (const FitJob& job : jobs) {
        if (!job.report.ok)
            continue;
        rows << summaryRow(job);
        parameters = std::max(parameters, int(job.report.rows.size()));
    }
    // The fit's warnings last, after as many parameter columns as the widest row has.
    int r = 0;
    for (const FitJob& job : jobs) {
        if (!job.report.ok)
            continue;
        while (rows[r].size() < 4 + 5 * parameters)
            rows[r] << QString();
        rows[r++] << csvField(job.report.warnings.join(QStringLiteral("; ")));
    }
    QStringList header{QStringLiteral("file"), QStringLiteral("model"),
                       QStringLiteral("agreement before"), QStringLiteral("agreement after")};
    for (int i = 1; i <= parameters; ++i)
        header << QStringLiteral("parameter %1").arg(i) << QStringLiteral("value %1").arg(i)
               << QStringLiteral("sigma %1").arg(i) << QStringLiteral("value %1 nm").arg(i)
               << QStringLiteral("sigma %1 nm").arg(i);
    header << QStringLiteral("warnings");
    QByteArray text = header.join(QLatin1Char(',')).toUtf8() + '\n';
    for (const QStringList& row : rows)
        text += row.join(QLatin1Char(',')).toUtf8() + '\n';
    return writeFileSafely(path, text);
}

// Fits each structure file to its measured scan (several at once), writes NAME-fitted.EXT and
// computes that as if it had been given, file by file in the given order; true when every fit
// ran and every file was written.
bool fitFiles(const QStringList& names, const Options& options) {
    std::vector<FitJob> jobs(std::size_t(names.size()));
    bool ok = true;
    for (int i = 0; i < names.size(); ++i) {
        FitJob& job = jobs[std::size_t(i)];
        job.name = names[i];
        job.config = std::make_unique<Config>();
        job.loaded = load(*job.config, job.name, options.strict);
        if (job.loaded.status != LoadedStructure::Ready) {
            ok = false;
            continue;
        }
        FitSettings settings;
        settings.scanOverride = options.measured;
        settings.weighted = options.weighted;
        settings.peakStart = true;
        settings.threads = 1;
        applyFitOptions(*job.config, settings);
        job.fit = std::make_unique<StructureFit>(*job.config, settings);
        if (!job.fit->problem().isEmpty()) {
            say(job.fit->problem());
            job.fit.reset();
            ok = false;
            continue;
        }
        say(job.fit->costEstimate(&job.estimate));
    }
    runFits(jobs, options);
    for (FitJob& job : jobs) {
        if (!job.fit)
            continue;
        for (const QString& line : job.report.log)
            say(line);
        if (!job.report.ok) {
            ok = false;
            continue;
        }
        Options fitted = options;
        fitted.measured = job.fit->scanOverride();
        if (!computeFile(job.report.fittedFile, fitted, &job.report))
            ok = false;
    }
    if (!options.summary.isEmpty()) {
        if (writeSummary(jobs, options.summary)) {
            say(tr("Wrote [%1].").arg(options.summary));
        } else {
            say(tr("Can't write [%1].").arg(options.summary));
            ok = false;
        }
    }
    return ok;
}

// The fit's own options: the time limit and the summary. False (after a line) when one is
// given wrong.
bool readFitOptions(const QCommandLineParser& parser, const QCommandLineOption& maxSeconds,
                    const QCommandLineOption& summary, Options& options) {
    if (parser.isSet(maxSeconds)) {
        options.maxSecondsGiven = true;
        bool ok = false;
        options.maxSeconds = parser.value(maxSeconds).toDouble(&ok);
        if (!ok || !(options.maxSeconds > 0.0) || options.maxSeconds > 1e9) {
            complain(tr("The time limit of a fit must be a number of seconds above 0.")
                         .append(QStringLiteral(" [%1]").arg(parser.value(maxSeconds))));
            return false;
        }
    }
    options.summary = parser.value(summary);
    if (!options.summary.isEmpty() && !options.fit) {
        complain(tr("--summary needs --fit."));
        return false;
    }
    // A forgotten summary name would take the first structure file as the summary.
    if (parser.isSet(summary) &&
        !options.summary.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)) {
        complain(tr("--summary takes a file name ending in .csv.")
                     .append(QStringLiteral(" [%1]").arg(options.summary)));
        return false;
    }
    return true;
}

// What each file of the command line reads (itself, its scans) and may write.
QVector<RunFiles> runFiles(const QStringList& files, const Options& options) {
    QVector<RunFiles> run;
    for (const QString& file : files) {
        Config config; // read quietly: only to learn the scan it names
        const bool loaded = config.load(file);
        const bool scans = loaded || !options.measured.isEmpty();
        const QStringList outputs = resultPaths(
            file, options.outputDir, scans ? measTagsFor(config, options.measured) : QStringList(),
            options.png, options.fit);
        run.append(
            {file,
             QStringList{file} + (scans ? scanPathsFor(config, options.measured) : QStringList()),
             outputs});
    }
    return run;
}

// The lines that refuse the whole run before anything is written: its summary or report would
// replace an input or a result of the run, a symbolic link, a folder or a read-only file.
QStringList runRefusals(const QVector<RunFiles>& run, const Options& options) {
    QStringList lines;
    for (const QString& output : {options.summary, options.report})
        if (!output.isEmpty())
            lines << refuseRunOutput(output, run);
    return lines;
}
} // namespace

// True when the command line asks for plot images or a report, which need fonts and so the GUI
// module (offscreen: no display is used). Decided before the application object exists.
bool wantsPlots(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "--png") == 0 || std::strncmp(argv[i], "--report", 8) == 0 ||
            std::strncmp(argv[i], "--map", 5) == 0)
            return true;
    }
    return false;
}

int main(int argc, char* argv[]) {
    if (wantsRsm(argc, argv))
        return runRsm(argc, argv);
    // Declared before the application object, so it outlives it.
    std::unique_ptr<QTemporaryDir> runtimeDir;
    std::unique_ptr<QCoreApplication> app;
    if (wantsPlots(argc, argv)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // Without a login session (a service, a container, ssh without a session) the GUI
        // module would warn that XDG_RUNTIME_DIR is not set. A private folder of its own
        // (mode 0700, removed at exit) is all it asks for.
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
            runtimeDir = std::make_unique<QTemporaryDir>();
            if (runtimeDir->isValid())
                qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir->path()));
        }
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("xrdsim-batch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(XRDSIM_VERSION));
    // The calculation writes its point count to the debug output for the window's console;
    // here the same count is printed as a line of its own.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "Batch", "Computes the depth profile and the kinematical diffraction curve of each "
                 "structure file and writes them as NAME-cmp.EXT and NAME-dif.EXT beside it."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption outputDir(
        {QStringLiteral("o"), QStringLiteral("output-dir")},
        QCoreApplication::translate("Batch", "Write the result files into <dir>."),
        QStringLiteral("dir"));
    parser.addOption(outputDir);
    const QCommandLineOption png(
        QStringLiteral("png"),
        QCoreApplication::translate(
            "Batch", "Also draw both plots, as the window shows them, into NAME-plot.png."));
    parser.addOption(png);
    const QCommandLineOption plotSize(
        QStringLiteral("plot-size"),
        QCoreApplication::translate("Batch", "Size of each plot in the image (default %1).")
            .arg(sizeText(defaultPlotSize)),
        QStringLiteral("WxH"), sizeText(defaultPlotSize));
    parser.addOption(plotSize);
    const QCommandLineOption logScale(
        QStringLiteral("log"),
        QCoreApplication::translate("Batch", "Draw the intensity on a logarithmic scale."));
    parser.addOption(logScale);
    const QCommandLineOption measured(
        QStringLiteral("measured"),
        QCoreApplication::translate("Batch", "Compare with the measured scan <scan> (instead of "
                                             "the MEASURED line) and write NAME-meas.EXT."),
        QStringLiteral("scan"));
    parser.addOption(measured);
    const QCommandLineOption import(
        QStringLiteral("import"),
        QCoreApplication::translate("Batch", "How to take the scan of --measured from its file, "
                                             "in the words of a MEASURED line: 2theta or omega, "
                                             "SCAN n, WINDOW from to."),
        QStringLiteral("choices"));
    parser.addOption(import);
    const QCommandLineOption fit(
        QStringLiteral("fit"),
        QCoreApplication::translate("Batch", "Fit the FIT parameters of each structure to its "
                                             "measured scan, write NAME-fitted.EXT and compute "
                                             "that."));
    parser.addOption(fit);
    const QCommandLineOption seed(
        QStringLiteral("seed"),
        QCoreApplication::translate("Batch", "Seed of the fit's search (default 1, or the "
                                             "structure's FITOPTIONS SEED)."),
        QStringLiteral("N"), QStringLiteral("1"));
    parser.addOption(seed);
    const QCommandLineOption maxSeconds(
        QStringLiteral("max-seconds"),
        QCoreApplication::translate("Batch", "End each fit at its best point so far after <S> "
                                             "seconds (default 600, or the structure's "
                                             "FITOPTIONS SECONDS)."),
        QStringLiteral("S"), QStringLiteral("600"));
    parser.addOption(maxSeconds);
    const QCommandLineOption summary(
        QStringLiteral("summary"),
        QCoreApplication::translate("Batch", "With --fit: write one CSV row per structure "
                                             "(agreement, fitted values and uncertainties, "
                                             "thicknesses also in nm) into <file>."),
        QStringLiteral("file"));
    parser.addOption(summary);
    const QCommandLineOption weighted(
        QStringLiteral("weighted"),
        QCoreApplication::translate("Batch", "Weight the fit by counting statistics."));
    parser.addOption(weighted);
    const QCommandLineOption threads(
        QStringLiteral("threads"),
        QCoreApplication::translate("Batch", "Threads that sum the curve (default: all cores); "
                                             "the results are the same for any number."),
        QStringLiteral("N"));
    parser.addOption(threads);
    const QCommandLineOption strict(
        QStringLiteral("strict"),
        QCoreApplication::translate("Batch", "Refuse a structure file any of whose lines is "
                                             "skipped or read leniently (a note in the output): "
                                             "nothing is written for it and the exit status "
                                             "is 1."));
    parser.addOption(strict);
    const QCommandLineOption report(
        QStringLiteral("report"),
        QCoreApplication::translate("Batch", "Write a report of the one structure file (with "
                                             "--fit: of its fit) into <file>: HTML with the plots "
                                             "embedded when it ends in .html or .htm, PDF when "
                                             "it ends in .pdf."),
        QStringLiteral("file"));
    parser.addOption(report);
    // Handled before this parser (runRsm); listed here for the help.
    parser.addOption(QCommandLineOption(
        QStringLiteral("rsm"),
        QCoreApplication::translate("Batch", "Read the reciprocal-space map <MAP> (with an "
                                             "optional structure file) and write its image, "
                                             "gridded map and spot table; --rsm --help for more."),
        QStringLiteral("MAP")));
    const QCommandLineOption map(
        QStringLiteral("map"),
        QCoreApplication::translate("Batch", "Fit the one structure file to every scan of a "
                                             "wafer map (<csv>: columns file, x, y in mm) and "
                                             "write NAME-map.csv and a colour map per fitted "
                                             "value, NAME-map-TARGET.png."),
        QStringLiteral("csv"));
    parser.addOption(map);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QCoreApplication::translate("Batch", "Structure files."),
                                 QStringLiteral("FILE..."));

    if (!parser.parse(QCoreApplication::arguments())) {
        complain(parser.errorText());
        return UsageError;
    }
    if (parser.isSet(help))
        parser.showHelp(Computed);
    if (parser.isSet(version))
        parser.showVersion();
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        complain(QCoreApplication::translate("Batch", "No structure file given."));
        complain(parser.helpText());
        return UsageError;
    }
    // A missing output folder is made, with its parents.
    const QString dir = parser.value(outputDir);
    if (parser.isSet(outputDir) && !QDir().mkpath(dir)) {
        complain(
            QCoreApplication::translate("Batch", "Can't create the output folder [%1].").arg(dir));
        return UsageError;
    }

    Options options;
    options.outputDir = dir;
    options.png = parser.isSet(png);
    options.logScale = parser.isSet(logScale);
    const QRegularExpressionMatch size =
        QRegularExpression(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$")).match(parser.value(plotSize));
    options.plotSize =
        size.hasMatch() ? QSize(size.captured(1).toInt(), size.captured(2).toInt()) : QSize();
    if (options.plotSize.isEmpty() || options.plotSize.width() > 10000 ||
        options.plotSize.height() > 10000) {
        complain(QCoreApplication::translate(
                     "Batch", "The plot size must be WIDTHxHEIGHT, each 1 to 10000 pixels.")
                     .append(QStringLiteral(" [%1]").arg(parser.value(plotSize))));
        return UsageError;
    }

    options.threads = QThread::idealThreadCount();
    if (parser.isSet(threads)) {
        bool ok = false;
        options.threads = parser.value(threads).toInt(&ok);
        if (!ok || options.threads < 1 || options.threads > 1024) {
            complain(QCoreApplication::translate("Batch", "The number of threads must be 1 to "
                                                          "1024.")
                         .append(QStringLiteral(" [%1]").arg(parser.value(threads))));
            return UsageError;
        }
    }

    options.measured = parser.value(measured);
    if (parser.isSet(import)) {
        MeasuredSpec spec;
        QString problem;
        const QString choices = parser.value(import).simplified();
        if (options.measured.isEmpty() ||
            !readMeasuredChoices(choices.split(QLatin1Char(' ')), spec, problem)) {
            complain(options.measured.isEmpty()
                         ? QCoreApplication::translate("Batch", "--import needs --measured.")
                         : QCoreApplication::translate("Batch", "--import: the scan %1.")
                               .arg(problem)
                               .append(QStringLiteral(" [%1]").arg(choices)));
            return UsageError;
        }
        options.measured = scanOverrideWith(options.measured, choices);
    }
    options.fit = parser.isSet(fit);
    options.weighted = parser.isSet(weighted);
    options.strict = parser.isSet(strict);
    bool seedOk = false;
    options.seed = parser.value(seed).toUInt(&seedOk);
    options.seedGiven = parser.isSet(seed);
    if (!seedOk) {
        complain(QCoreApplication::translate("Batch", "The seed must be a whole number from 0 "
                                                      "to 4294967295.")
                     .append(QStringLiteral(" [%1]").arg(parser.value(seed))));
        return UsageError;
    }

    if (!readFitOptions(parser, maxSeconds, summary, options))
        return UsageError;
    options.report = parser.value(report);
    if (parser.isSet(report) && (!isReportPath(options.report) || files.size() != 1)) {
        complain(QCoreApplication::translate("Batch", "--report takes one structure file and a "
                                                      "report name ending in .html, .htm or "
                                                      ".pdf.")
                     .append(QStringLiteral(" [%1]").arg(options.report)));
        return UsageError;
    }

    if (parser.isSet(map)) {
        if (files.size() != 1) {
            complain(QCoreApplication::translate("Batch", "--map takes one structure file."));
            return UsageError;
        }
        MapRun run;
        run.structureFile = files.first();
        run.positions = parser.value(map);
        run.outputDir = options.outputDir;
        run.seed = options.seed;
        run.seedGiven = options.seedGiven;
        run.maxSeconds = options.maxSeconds;
        run.maxSecondsGiven = options.maxSecondsGiven;
        run.weighted = options.weighted;
        run.threads = options.threads;
        run.say = say;
        return runWaferMap(run) ? Computed : NotComputed;
    }
    // Every result path is checked against every input before anything is written.
    const QVector<RunFiles> run = runFiles(files, options);
    const QStringList runRefused = runRefusals(run, options);
    if (!runRefused.isEmpty()) {
        for (const QString& line : runRefused)
            say(line);
        say(QCoreApplication::translate("Batch", "Nothing was computed."));
        return NotComputed;
    }
    const QVector<QStringList> refused = refuseClashes(run);
    int status = Computed;
    QStringList accepted;
    for (int i = 0; i < files.size(); ++i) {
        for (const QString& line : refused[i])
            say(line);
        if (refused[i].isEmpty())
            accepted << files[i];
        else
            status = NotComputed;
    }
    if (options.fit)
        return fitFiles(accepted, options) && status == Computed ? Computed : NotComputed;
    for (const QString& file : accepted) {
        if (!computeFile(file, options))
            status = NotComputed;
    }
    return status;
}
