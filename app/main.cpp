#include "app/backgroundtask.h"
#include "app/body.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void describe() {
    QCoreApplication::setOrganizationName(QString::fromLatin1(programName));
    QCoreApplication::setApplicationName(QString::fromLatin1(programName));
    QCoreApplication::setApplicationVersion(QStringLiteral(XRDSIM_VERSION));
}

// The command line, for the window and for --help.
void addArguments(QCommandLineParser& parser) {
    parser.setApplicationDescription(QCoreApplication::translate(
        "Main", "Simulates X-ray diffraction curves of InGaAsP multilayers. Drop a structure "
                "file on the window, or name it here; a measured scan named alone is shown "
                "with its peak analysis."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        QStringLiteral("map"),
        QCoreApplication::translate("Main", "Reciprocal-space map to show (with the structure's "
                                            "layers)."),
        QStringLiteral("MAP")));
    parser.addPositionalArgument(
        QStringLiteral("STRUCTURE"),
        QCoreApplication::translate("Main", "Structure file to open, or a measured scan."),
        QStringLiteral("[STRUCTURE"));
    parser.addPositionalArgument(
        QStringLiteral("SCAN"),
        QCoreApplication::translate("Main", "Measured scan to compare it with."),
        QStringLiteral("[SCAN]]"));
}

// --help and --version are answered without a display: before the window's application,
// which needs one, is made.
bool asksForTextOnly(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--") == 0)
            return false;
        for (const char* word : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(a, word) == 0)
                return true;
    }
    return false;
}

} // namespace

// xrdsim [STRUCTURE [SCAN]]: the window, with the structure (and the scan to compare it with)
// opened as if dropped; a scan alone is shown with its peaks.
int main(int argc, char* argv[]) {
    if (asksForTextOnly(argc, argv)) {
        QCoreApplication text(argc, argv);
        describe();
        QCommandLineParser parser;
        addArguments(parser);
        parser.process(text); // prints the help or the version and exits
        return 0;
    }
    QApplication app(argc, argv);
    describe();

    QCommandLineParser parser;
    addArguments(parser);
    parser.process(app);
    const QStringList files = parser.positionalArguments();
    if (files.size() > 2) {
        QTextStream(stderr) << QCoreApplication::translate(
                                   "Main", "At most a structure file and a scan, not %1 files.")
                                   .arg(files.size())
                            << '\n'
                            << parser.helpText();
        return 2;
    }

    int status = 0;
    {
        Body body;
        body.show();
        if (files.isEmpty())
            body.welcome();
        else
            body.open(files.at(0), files.value(1));
        if (parser.isSet(QStringLiteral("map")))
            body.openMap(parser.value(QStringLiteral("map")));
        status = app.exec();
    }
    // A fit abandoned as the window closed writes nothing, but one evaluation may take a
    // while: the program does not wait for it, nor run its static destructors under it.
    if (BackgroundTask::orphans() > 0) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
