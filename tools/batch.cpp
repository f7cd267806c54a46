// xrdsim-batch: computes structure files without a window. For every file it runs the same
// loader and calculation as the window and writes the same two result files.

#include "calculation.h"
#include "config.h"
#include "resultarrays.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTextStream>

#include <cstdio>

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

// Loads and computes one structure file; true when both result files were written.
bool computeFile(const QString& name, const QString& outputDir) {
    Config config;
    QObject::connect(&config, &Config::log, &say);
    if (!config.load(name))
        return false;
    if (!config.valid) {
        say(QCoreApplication::translate("Batch",
                                        "Invalid structure [%1]: it needs a positive WAVELENGTH, a "
                                        "SUBSTRATE line and at least one LAYER line.")
                .arg(name));
        return false;
    }
    const QString refusal = refusalReason(config);
    if (!refusal.isEmpty()) {
        say(refusal);
        return false;
    }

    ResultArrays results;
    const CalculationOutcome outcome = runCalculation(config, results, {}, {}, outputDir);
    say(QCoreApplication::translate("Batch", "%1 curve points.").arg(outcome.points));
    bool written = true;
    for (const auto& file : {qMakePair(outcome.profileFile, outcome.profileWritten),
                             qMakePair(outcome.curveFile, outcome.curveWritten)}) {
        if (file.second) {
            say(QCoreApplication::translate("Batch", "Wrote [%1].").arg(file.first));
        } else {
            say(QCoreApplication::translate("Batch", "Can't write [%1].").arg(file.first));
            written = false;
        }
    }
    return written;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
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
    const QString dir = parser.value(outputDir);
    if (parser.isSet(outputDir) && !QFileInfo(dir).isDir()) {
        complain(QCoreApplication::translate("Batch", "No such folder [%1].").arg(dir));
        return UsageError;
    }

    int status = Computed;
    for (const QString& file : files) {
        if (!computeFile(file, dir))
            status = NotComputed;
    }
    return status;
}
