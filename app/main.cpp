#include "app/backgroundtask.h"
#include "app/body.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

// xrdsim [STRUCTURE [SCAN]]: the window, with the structure (and the scan to compare it with)
// opened as if dropped.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("xrdsim"));
    QCoreApplication::setApplicationName(QStringLiteral("xrdsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(XRDSIM_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "Main", "Simulates X-ray diffraction curves of InGaAsP multilayers. Drop a structure "
                "file on the window, or name it here."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("STRUCTURE"),
                                 QCoreApplication::translate("Main", "Structure file to open."),
                                 QStringLiteral("[STRUCTURE"));
    parser.addPositionalArgument(
        QStringLiteral("SCAN"),
        QCoreApplication::translate("Main", "Measured scan to compare it with."),
        QStringLiteral("[SCAN]]"));
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
        if (!files.isEmpty())
            body.open(files.at(0), files.value(1));
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
