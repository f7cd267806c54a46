// xrdsim-batch: computes structure files without a window. For every file it runs the same
// loader and calculation as the window and writes the same two result files.

#include "calculation.h"
#include "config.h"
#include "extensions.h"
#include "fitroad.h"
#include "outputguard.h"
#include "overlayview.h"
#include "renderplots.h"
#include "resultarrays.h"
#include "scanroad.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <memory>

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
    QSize plotSize{800, 600};
    bool logScale = false;
    int threads = 1;
    QString measured; // a scan that overrides the MEASURED line
    bool fit = false;
    unsigned seed = 1;
    bool weighted = false;
};

QString tr(const char* text) {
    return QCoreApplication::translate("Batch", text);
}

// The measured scan and the model at its angles, with the peaks found in both, for the lower
// plot; empty (the full curve is drawn) when the scan was not compared.
OverlayData overlayFrom(const ScanOutcome& scan) {
    OverlayData d;
    if (!scan.ok)
        return d;
    d.theta = scan.model.theta;
    d.measured = scan.model.measured;
    d.model = scan.model.model;
    d.measuredPeaks = scan.measuredPeaks.markedAngles();
    d.modelPeaks = scan.modelPeaks.markedAngles();
    return d;
}

// Loads a structure file, printing the loader's lines, why it is not computed and the
// complaints about its extension statements.
LoadedStructure load(Config& config, const QString& name) {
    QObject::connect(&config, &Config::log, &say);
    LoadedStructure loaded = loadStructure(config, name);
    if (!loaded.message.isEmpty())
        say(loaded.message);
    for (const QString& problem : config.ext.problems)
        say(problem);
    return loaded;
}

// Loads and computes one structure file (and compares it with its measured scan); true when
// every file was written.
bool computeFile(const QString& name, const Options& options) {
    Config config;
    LoadedStructure loaded = load(config, name);
    if (loaded.status != LoadedStructure::Ready)
        return false;

    ResultArrays results;
    CalculationHooks hooks;
    hooks.outputDir = options.outputDir;
    hooks.control.threads = options.threads;
    std::unique_ptr<Calculation> calculation = std::move(loaded.calculation);
    const RoadOutcome road = runRoad(config, calculation, results, hooks, options.measured);
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
    if (scan.attempted && !(scan.ok && scan.measWritten))
        written = false;

    if (options.png) {
        const QString png = plotFileName(name, options.outputDir);
        const OverlayData overlay = overlayFrom(scan);
        if (exportPlots(png, results, options.logScale, options.plotSize, &overlay, false)) {
            say(tr("Wrote [%1].").arg(png));
        } else {
            say(tr("Can't write [%1].").arg(png));
            written = false;
        }
    }
    return written;
}

// Fits one structure file to its measured scan, writes NAME-fitted.EXT and computes that as
// if it had been given; true when the fit ran and every file was written.
bool fitFile(const QString& name, const Options& options) {
    Config config;
    LoadedStructure loaded = load(config, name);
    if (loaded.status != LoadedStructure::Ready)
        return false;

    FitSettings settings;
    settings.scanOverride = options.measured;
    settings.outputDir = options.outputDir;
    settings.seed = options.seed;
    settings.threads = options.threads;
    settings.weighted = options.weighted;
    const StructureFit fit(config, settings);
    const FitReport report = fit.run();
    for (const QString& line : report.log)
        say(line);
    if (!report.ok)
        return false;
    Options fitted = options;
    fitted.measured = fit.scanPath();
    return computeFile(report.fittedFile, fitted);
}

// For each file of the command line, the lines that refuse it before anything is written:
// its results would replace an input of the run (a structure file, a scan) or a file a
// symbolic link points to, or an earlier file of the same name writes them.
QVector<QStringList> refusals(const QStringList& files, const Options& options) {
    QVector<RunFiles> run;
    for (const QString& file : files) {
        Config config; // read quietly: only to learn the scan it names
        const bool loaded = config.load(file);
        const QString scan = loaded || !options.measured.isEmpty()
                                 ? scanPathFor(config, options.measured)
                                 : QString();
        run.append(
            {file,
             {file, scan},
             resultPaths(file, options.outputDir, !scan.isEmpty(), options.png, options.fit)});
    }
    return refuseClashes(run);
}

} // namespace

// True when the command line asks for plot images, which need fonts and so the GUI module
// (offscreen: no display is used). Decided before the application object exists.
bool wantsPlots(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "--png") == 0)
            return true;
    }
    return false;
}

int main(int argc, char* argv[]) {
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
        QCoreApplication::translate("Batch", "Size of each plot in the image (default 800x600)."),
        QStringLiteral("WxH"), QStringLiteral("800x600"));
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
    const QCommandLineOption fit(
        QStringLiteral("fit"),
        QCoreApplication::translate("Batch", "Fit the FIT parameters of each structure to its "
                                             "measured scan, write NAME-fitted.EXT and compute "
                                             "that."));
    parser.addOption(fit);
    const QCommandLineOption seed(
        QStringLiteral("seed"),
        QCoreApplication::translate("Batch", "Seed of the fit's search (default 1)."),
        QStringLiteral("N"), QStringLiteral("1"));
    parser.addOption(seed);
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
    options.fit = parser.isSet(fit);
    options.weighted = parser.isSet(weighted);
    bool seedOk = false;
    options.seed = parser.value(seed).toUInt(&seedOk);
    if (!seedOk) {
        complain(QCoreApplication::translate("Batch", "The seed must be a whole number from 0 "
                                                      "to 4294967295.")
                     .append(QStringLiteral(" [%1]").arg(parser.value(seed))));
        return UsageError;
    }

    int status = Computed;
    const QVector<QStringList> refused = refusals(files, options);
    for (int i = 0; i < files.size(); ++i) {
        for (const QString& line : refused[i])
            say(line);
        if (!refused[i].isEmpty() ||
            !(options.fit ? fitFile(files[i], options) : computeFile(files[i], options)))
            status = NotComputed;
    }
    return status;
}
