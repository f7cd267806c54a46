#include "analysis/fitroad.h"
#include "app/body.h"
#include "app/document.h"
#include "app/helptext.h"
#include "structure/config.h"
#include "structure/extensions.h"
#include "tests/common/testfiles.h"

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

// A real omega-2theta scan of GaAsP on GaAs (004), Cu K-alpha-1 (see tests/data/measured).
const QString kRealScan = QStringLiteral(XRD_TEST_DATA_DIR "/measured/gaasp-on-gaas-004.x00");
// GaAs (004) at 1.54056 Å: a = 5.65325 Å, d = a / 4 = 1.413313 Å,
// theta = asin(1.54056 / (2 x 1.413313)) = 33.0264°.
constexpr double kGaAs004 = 33.0264;
// The scan's measured curve is drawn in this colour (views/overlayview.h).
const QColor kMeasuredColour(40, 90, 220);

// A fit that runs for a while (the dynamical model, a composition the peaks cannot fix).
const QByteArray kSlowFit = "WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 190 0 0.62\nREPEAT 1\n"
                            "MODEL dynamical\nMEASURED " +
                            kRealScan.toUtf8() +
                            "\nFIT LAYER 1 Y 0.5 0.8\nFIT LAYER 1 N 180 210\n"
                            "FIT LAYER 1 X 0 0.05\nFIT OFFSET -0.02 0.02\n";
// A quick fit of the same scan (the basic model, few generations).
const QByteArray kQuickFit = "WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 194 0 0.66\nREPEAT 1\n"
                             "MEASURED " +
                             kRealScan.toUtf8() +
                             "\nFIT LAYER 1 Y 0.5 0.8\nFITOPTIONS GENERATIONS 5\n";

QByteArray bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// The window as a first-time user meets it: a scan on its own, the log pane, the examples,
// and the fit's controls.
class TestWorkbench : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;

    QString write(const QString& name, const QByteArray& content) {
        return xrdtest::writeTestFile(*dir, name, content);
    }
    static void waitIdle(Body& body) {
        QTRY_VERIFY_WITH_TIMEOUT(!body.busy() && body.document->threads() == 0, 120000);
    }
    static QString logOf(Body& body) { return body.Log->toPlainText(); }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QSettings().clear();
    }
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void scanAloneIsDrawnWithItsPeaks_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("dropped") << "drop";
        QTest::newRow("File, Open Measured Scan") << "menu";
        QTest::newRow("named on the command line") << "open";
    }

    // Without a structure, a scan is drawn on its own with the peaks found in it marked and
    // listed in the log; nothing is written beside it.
    void scanAloneIsDrawnWithItsPeaks() {
        QFETCH(QString, how);
        const QString scan = write("scan.x00", bytes(kRealScan));
        Body body;
        body.resize(800, 718);
        body.show();
        body.chooseFile = [&](Body::Choice) { return Body::Chosen{scan, false}; };
        if (how == "drop")
            body.droppedInputFile({scan});
        else if (how == "menu")
            body.openScanAction->trigger();
        else
            body.open(scan);
        waitIdle(body);
        const std::optional<OverlayData>& overlay = body.document->overlay();
        QVERIFY(overlay);
        QCOMPARE(overlay->theta.size(), 879); // NrOfData in its header
        QVERIFY(overlay->model.isEmpty());
        // The substrate peak lies at GaAs (004), within the scan's small offset.
        const auto near =
            std::find_if(overlay->measuredPeaks.cbegin(), overlay->measuredPeaks.cend(),
                         [](double t) { return std::fabs(t - kGaAs004) < 0.02; });
        QVERIFY2(near != overlay->measuredPeaks.cend(), "no peak marked at GaAs (004)");
        const QString log = logOf(body);
        QVERIFY2(log.contains("Peaks of the measurement:\n    substrate peak: 33.0"),
                 qPrintable(log));
        // The layer's smaller spacing puts its peak at a larger angle: a negative mismatch.
        QVERIFY2(log.contains("perpendicular mismatch sin θS / sin θL − 1: -0.0"), qPrintable(log));
        QVERIFY(body.LogScale->isChecked());
        QVERIFY(body.windowTitle().endsWith("scan.x00"));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{"scan.x00"});
        QVERIFY(!body.fitAction->isEnabled());
        // Drawn: the measured curve's colour is in the diffraction plot.
        const QImage image = body.KSpace->grab().toImage();
        int blue = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                blue += QColor(image.pixel(x, y)) == kMeasuredColour;
        QVERIFY2(blue > 100, qPrintable(QString::number(blue)));
    }

    // The log pane takes no typing and sits in a splitter under the plots, so it can be made
    // larger.
    void logPaneIsReadOnlyAndCanBeEnlarged() {
        Body body;
        body.resize(800, 718);
        body.show();
        QVERIFY(QTest::qWaitForWindowExposed(&body));
        body.log("a line");
        body.Log->setFocus();
        QTest::keyClicks(body.Log, "typed");
        QCOMPARE(logOf(body), QString("a line\n"));
        auto* splitter = qobject_cast<QSplitter*>(body.LogPane->parentWidget());
        QVERIFY(splitter);
        QVERIFY(splitter->indexOf(body.KSpace) >= 0);
        const int before = body.Log->height();
        QList<int> sizes = splitter->sizes();
        const int pane = splitter->indexOf(body.LogPane);
        sizes[pane] += 200;
        sizes[splitter->indexOf(body.KSpace)] -= 200;
        splitter->setSizes(sizes);
        QTRY_VERIFY(body.Log->height() >= before + 150);
    }

    // Started with no file, the window says one line; Help -> Open Example opens one of the
    // bundled examples, which the build tree finds in the source tree.
    void welcomeAndExamples() {
        Body body;
        body.welcome();
        QCOMPARE(logOf(body).count('\n'), 1);
        QVERIFY(logOf(body).contains("Open Example"));
        const QString folder = examplesFolder();
        QCOMPARE(QDir(folder).canonicalPath(), QDir(XRD_EXAMPLES_DIR).canonicalPath());
        QVERIFY(QDir(folder).entryList({"*.txt"}).contains("ingaas-inp-superlattice.txt"));
        const QString example = QDir(folder).filePath("strained-ingaas-on-gaas.txt");
        // Examples are opened from a copy in the user's data folder, so that their results
        // go there; the bundled file stays as it is.
        const QByteArray original = bytes(example);
        body.chooseFile = [&](Body::Choice c) {
            return Body::Chosen{c == Body::Choice::Example ? example : QString(), false};
        };
        body.exampleAction->trigger();
        waitIdle(body);
        QVERIFY2(body.document->loader().valid, qPrintable(logOf(body)));
        QCOMPARE(QFileInfo(body.document->loader().fileName).fileName(),
                 QString("strained-ingaas-on-gaas.txt"));
        QVERIFY(QFileInfo(body.document->loader().fileName).absolutePath() !=
                QFileInfo(example).absolutePath());
        QVERIFY(!QFile::exists(QDir(folder).filePath("strained-ingaas-on-gaas-dif.txt")));
        QVERIFY(!body.document->results().theta.isEmpty());
        QCOMPARE(bytes(example), original);
    }

    void exampleFolderCandidates_data() {
        QTest::addColumn<QString>("bin");
        QTest::addColumn<QString>("first");
        QTest::newRow("/usr/bin") << "/usr/bin"
                                  << "/usr/share/xrdsim/examples";
        QTest::newRow("/usr/local/bin") << "/usr/local/bin"
                                        << "/usr/local/share/xrdsim/examples";
        QTest::newRow("/opt/x/bin/") << "/opt/x/bin/"
                                     << "/opt/x/share/xrdsim/examples";
    }

    // As installed, the examples are in share/xrdsim/examples beside bin/.
    void exampleFolderCandidates() {
        QFETCH(QString, bin);
        QFETCH(QString, first);
        QCOMPARE(::exampleFolderCandidates(bin).value(0), first);
    }

    void helpAndVersionWithoutADisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("output");
        QTest::newRow("--help") << QStringList{"--help"} << "Usage:";
        QTest::newRow("-h") << QStringList{"-h"} << "[STRUCTURE [SCAN]]";
        QTest::newRow("--version") << QStringList{"--version"} << "xrdsim " XRDSIM_VERSION;
        QTest::newRow("-v with a file") << QStringList{"a.txt", "-v"} << "xrdsim " XRDSIM_VERSION;
    }

    // With neither a display nor a platform named, --help and --version still answer.
    void helpAndVersionWithoutADisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, output);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        QProcess window;
        window.setProcessEnvironment(env);
        window.start(QStringLiteral(XRDSIM_WINDOW), arguments);
        QVERIFY(window.waitForFinished(20000));
        QCOMPARE(window.exitStatus(), QProcess::NormalExit);
        QCOMPARE(window.exitCode(), 0);
        const QString text =
            QString::fromLocal8Bit(window.readAllStandardOutput() + window.readAllStandardError());
        QVERIFY2(text.contains(output), qPrintable(text));
    }

    void fitTooltipSaysWhy_data() {
        QTest::addColumn<QByteArray>("structure"); // empty: none opened
        QTest::addColumn<QString>("why");          // empty: Fit is available
        const QByteArray layer = "WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 194 0 0.66\nREPEAT 1\n";
        const QByteArray measured = "MEASURED " + kRealScan.toUtf8() + "\n";
        QTest::newRow("nothing open") << QByteArray() << "Open a structure file";
        QTest::newRow("no FIT line") << layer + measured << "has no FIT line";
        QTest::newRow("only a malformed FIT line") << layer + measured + "FIT LAYER 1 Q 0 1\n"
                                                   << "has no usable FIT line";
        QTest::newRow("no MEASURED line") << layer + "FIT LAYER 1 Y 0.5 0.8\n"
                                          << "names no measured scan";
        QTest::newRow("ready") << layer + measured + "FIT LAYER 1 Y 0.5 0.8\n" << QString();
    }

    // Fit is available only with FIT lines and a scan; its tooltip says what is missing.
    void fitTooltipSaysWhy() {
        QFETCH(QByteArray, structure);
        QFETCH(QString, why);
        Body body;
        if (!structure.isEmpty()) {
            body.droppedInputFile({write("s.txt", structure)});
            waitIdle(body);
        }
        QCOMPARE(body.fitAction->isEnabled(), why.isEmpty());
        if (why.isEmpty())
            QVERIFY(body.fitAction->toolTip().contains("NAME-fitted.EXT"));
        else
            QVERIFY2(body.fitAction->toolTip().contains(why),
                     qPrintable(body.fitAction->toolTip()));
    }

    // While a calculation runs off the GUI thread, Fit waits for it and says so.
    void fitWaitsForARunningCalculation() {
        const QByteArray heavy = "SUBSTRATE 0 1\nLAYER 2000 0.3 1 A 0 0.3 1 L 2000 0 1\nREPEAT 1\n"
                                 "MEASURED " +
                                 kRealScan.toUtf8() + "\nFIT LAYER 1 X 0.2 0.4\n";
        Body body;
        body.setThreads(1);
        body.droppedInputFile({write("heavy.txt", heavy)});
        QVERIFY(body.busy());
        QVERIFY(!body.fitAction->isEnabled());
        QVERIFY(body.fitAction->toolTip().contains("calculation is running"));
        waitIdle(body);
        QVERIFY(body.fitAction->isEnabled());
    }

    // Every faulty FIT line is listed by one Fit, and nothing runs.
    void everyFitProblemAtOnce() {
        const QString s =
            write("bad.txt", "WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 194 0 0.66\nREPEAT 1\n"
                             "MEASURED " +
                                 kRealScan.toUtf8() +
                                 "\nFIT LAYER 3 N 1 9\nFIT LAYER 1 Y 0.8 0.5\n"
                                 "FIT LAYER 1 N 10 20\nFIT OFFSET -0.1 0.1\n");
        Body body;
        body.droppedInputFile({s});
        waitIdle(body);
        body.Log->clear();
        body.fitAction->trigger();
        QVERIFY(!body.busy());
        const QStringList lines = logOf(body).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].contains("line 6: FIT LAYER 3 N names layer 3"), qPrintable(lines[0]));
        QVERIFY2(lines[1].contains("line 7: FIT LAYER 1 Y"), qPrintable(lines[1]));
        // 194 monolayers lie outside 10 to 20.
        QVERIFY2(lines[2].contains("line 8: FIT LAYER 1 N: the start value 194 lies outside"),
                 qPrintable(lines[2]));
    }

    void cancelDiscardsStopKeeps_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("written");
        QTest::newRow("Cancel button") << "cancel button" << false;
        QTest::newRow("Fit, Cancel") << "cancel action" << false;
        QTest::newRow("Stop button") << "stop button" << true;
        QTest::newRow("Fit, Stop") << "stop action" << true;
    }

    // While a fit runs, Cancel (labelled as discarding it) writes nothing, and Stop (labelled
    // as keeping the best point) writes NAME-fitted.EXT and shows it. The progress counts
    // generations out of the most the search runs.
    void cancelDiscardsStopKeeps() {
        QFETCH(QString, how);
        QFETCH(bool, written);
        const QString start = write("start.txt", kSlowFit);
        const QString fitted = dir->filePath("start-fitted.txt");
        Body body;
        body.droppedInputFile({start});
        waitIdle(body);
        QVERIFY(body.document->overlay());
        const QVector<double> model = body.document->overlay()->model; // the file's
        body.fitAction->trigger();
        QVERIFY(body.busy());
        QTRY_VERIFY_WITH_TIMEOUT(body.note->text().startsWith("Fit: generation"), 60000);
        QVERIFY2(
            body.note->text().contains(QRegularExpression("generation \\d+ of 500, .* s left")),
            qPrintable(body.note->text()));
        QVERIFY(body.progressBar->maximum() > 0);
        QVERIFY(body.cancelButton->text().contains("discard"));
        QVERIFY(body.stopButton->text().contains("keep the best point"));
        QVERIFY(!body.stopButton->isHidden());
        if (how == "cancel button")
            body.cancelButton->click();
        else if (how == "cancel action")
            body.cancelFitAction->trigger();
        else if (how == "stop button")
            body.stopButton->click();
        else
            body.stopAction->trigger();
        if (written)
            QTRY_VERIFY_WITH_TIMEOUT(body.document->loader().fileName == fitted, 120000);
        waitIdle(body);
        QTest::qWait(100);
        QCOMPARE(QFile::exists(fitted), written);
        QCOMPARE(logOf(body).contains(QString("Wrote [%1].").arg(fitted)), written);
        if (!written) {
            QVERIFY(logOf(body).contains(
                QString("Fit of [%1] abandoned, nothing written: it was cancelled.").arg(start)));
            // The plot shows the file's model again, not the cancelled fit's best point.
            QVERIFY(body.document->overlay());
            QVERIFY(body.document->overlay()->model == model);
        }
        QVERIFY(body.stopButton->isHidden());
    }

    // A refit of NAME-fitted.EXT writes NAME-fitted.EXT again.
    void refitKeepsTheName() {
        const QString start = write("q.txt", kQuickFit);
        const QString fitted = dir->filePath("q-fitted.txt");
        Body body;
        body.droppedInputFile({start});
        waitIdle(body);
        body.fitAction->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(body.document->loader().fileName == fitted, 120000);
        waitIdle(body);
        QVERIFY(body.fitAction->isEnabled());
        body.Log->clear();
        body.fitAction->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(logOf(body).contains(QString("Wrote [%1].").arg(fitted)), 120000);
        waitIdle(body);
        QCOMPARE(body.document->loader().fileName, fitted);
        QCOMPARE(QDir(dir->path()).entryList({"*fitted*"}, QDir::Files),
                 QStringList({"q-fitted-cmp.txt", "q-fitted-dif.txt", "q-fitted-meas.txt",
                              "q-fitted.txt"}));
        // The fit's record at its top is replaced, not stacked.
        QCOMPARE(bytes(fitted).count("# seed: "), 1);
    }

    void fittedFileName_data() {
        QTest::addColumn<QString>("structure");
        QTest::addColumn<QString>("outputDir");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first fit") << "/d/a.txt"
                                   << ""
                                   << "/d/a-fitted.txt";
        QTest::newRow("refit") << "/d/a-fitted.txt"
                               << ""
                               << "/d/a-fitted.txt";
        QTest::newRow("refit into a folder") << "/d/a-fitted.txt"
                                             << "/o"
                                             << "/o/a-fitted.txt";
        QTest::newRow("first fit into a folder") << "/d/a.dat"
                                                 << "/o"
                                                 << "/o/a-fitted.dat";
        QTest::newRow("-fitted not at the end") << "/d/a-fitted-x.txt"
                                                << ""
                                                << "/d/a-fitted-x-fitted.txt";
        QTest::newRow("no hyphen") << "/d/afitted.txt"
                                   << ""
                                   << "/d/afitted-fitted.txt";
        QTest::newRow("dots in the name") << "/d/a.b-fitted.txt"
                                          << ""
                                          << "/d/a.b-fitted.txt";
        QTest::newRow("two suffixes") << "/d/a-fitted.tar.txt"
                                      << ""
                                      << "/d/a-fitted.tar-fitted.txt";
    }

    void fittedFileName() {
        QFETCH(QString, structure);
        QFETCH(QString, outputDir);
        QFETCH(QString, expected);
        QCOMPARE(::fittedFileName(structure, outputDir), expected);
    }

    void fitOptionsGrammar_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("options"); // as fitOptionsLine writes them
        QTest::addColumn<QString>("problem"); // part of the one complaint; empty: none
        auto row = [](const char* name, const char* lines, const char* options,
                      const char* problem) {
            QTest::newRow(name) << QByteArray(lines) << QString(options) << QString(problem);
        };
        row("every value", "FITOPTIONS SEED 7 POPULATION 40 GENERATIONS 200 SECONDS 60",
            "FITOPTIONS SEED 7 POPULATION 40 GENERATIONS 200 SECONDS 60", "");
        row("any order, any case, a comment", "fitoptions seconds 2.5 Seed 0 # quick",
            "FITOPTIONS SEED 0 SECONDS 2.5", "");
        row("a later line adds to an earlier", "FITOPTIONS SEED 3\nFITOPTIONS GENERATIONS 9",
            "FITOPTIONS SEED 3 GENERATIONS 9", "");
        row("a later line replaces a value", "FITOPTIONS SEED 3\nFITOPTIONS SEED 4",
            "FITOPTIONS SEED 4", "");
        row("the largest seed", "FITOPTIONS SEED 4294967295", "FITOPTIONS SEED 4294967295", "");
        row("population bounds", "FITOPTIONS POPULATION 8\nFITOPTIONS POPULATION 1000",
            "FITOPTIONS POPULATION 1000", "");
        row("nothing named", "FITOPTIONS", "FITOPTIONS", "FITOPTIONS needs at least one of");
        row("an unknown word", "FITOPTIONS SEED 1 THREADS 2", "FITOPTIONS",
            "takes SEED, POPULATION, GENERATIONS and SECONDS, not \"THREADS\"");
        row("a word twice", "FITOPTIONS SEED 1 SEED 2", "FITOPTIONS", "names SEED twice");
        row("a missing value", "FITOPTIONS GENERATIONS", "FITOPTIONS",
            "GENERATIONS needs a whole number from 1 to 100000, not \"\"");
        row("a negative seed", "FITOPTIONS SEED -1", "FITOPTIONS", "SEED needs a whole number");
        row("a seed beyond 32 bits", "FITOPTIONS SEED 4294967296", "FITOPTIONS",
            "SEED needs a whole number");
        row("a population too small", "FITOPTIONS POPULATION 7", "FITOPTIONS",
            "POPULATION needs a whole number from 8 to 1000, not \"7\"");
        row("a population too large", "FITOPTIONS POPULATION 1001", "FITOPTIONS",
            "POPULATION needs");
        row("no generation", "FITOPTIONS GENERATIONS 0", "FITOPTIONS", "GENERATIONS needs");
        row("a fraction of a generation", "FITOPTIONS GENERATIONS 2.5", "FITOPTIONS",
            "GENERATIONS needs");
        row("no time", "FITOPTIONS SECONDS 0", "FITOPTIONS", "SECONDS needs a positive number");
        row("an infinite time", "FITOPTIONS SECONDS inf", "FITOPTIONS", "SECONDS needs");
        row("a bad line leaves the good one", "FITOPTIONS SEED 5\nFITOPTIONS SEED 6 POPULATION 2",
            "FITOPTIONS SEED 5", "POPULATION needs");
    }

    // FITOPTIONS [SEED n] [POPULATION n] [GENERATIONS n] [SECONDS s]: a line with any fault is
    // ignored whole, with one complaint naming the file and the line.
    void fitOptionsGrammar() {
        QFETCH(QByteArray, lines);
        QFETCH(QString, options);
        QFETCH(QString, problem);
        const QString path = write("o.txt", "SUBSTRATE 0 1\nLAYER 10 0 0.66\n" + lines + "\n");
        Config config;
        QVERIFY(config.load(path));
        QCOMPARE(fitOptionsLine(config.ext.fitOptions), options);
        if (problem.isEmpty()) {
            QVERIFY2(config.ext.problems.isEmpty(), qPrintable(config.ext.problems.join('\n')));
            return;
        }
        QCOMPARE(config.ext.problems.size(), 1);
        const QString& line = config.ext.problems.first();
        QVERIFY2(line.startsWith(QString("Ignored [%1] line ").arg(path)), qPrintable(line));
        QVERIFY2(line.contains(problem), qPrintable(line));
    }

    // The panel's choice lands in the file on show as its FITOPTIONS line, the file is
    // loaded again with it, and the next fit says it runs with it.
    void fitOptionsPanelWritesTheLine() {
        const QString start =
            write("p.txt", kQuickFit.left(kQuickFit.indexOf("FITOPTIONS")) + "# keep me\n");
        Body body;
        body.droppedInputFile({start});
        waitIdle(body);
        FitSearchOptions shown;
        shown.seed = 99;
        body.chooseFitOptions = [&](const FitSearchOptions& now) {
            shown = now;
            FitSearchOptions o;
            o.seedGiven = true;
            o.seed = 11;
            o.generations = 4;
            o.population = 12;
            return std::optional<FitSearchOptions>(o);
        };
        body.fitOptionsAction->trigger();
        QVERIFY(!shown.seedGiven && shown.seed == 1 && shown.generations == 0);
        QVERIFY(
            bytes(start).endsWith("# keep me\nFITOPTIONS SEED 11 POPULATION 12 GENERATIONS 4\n"));
        QTRY_VERIFY_WITH_TIMEOUT(body.document->loader().ext.fitOptions.seed == 11, 10000);
        waitIdle(body);
        body.Log->clear();
        body.fitAction->trigger();
        QVERIFY(logOf(body).contains(
            QString("Fitting [%1]: seed 11, population 12, at most 4 generations and 600 s.")
                .arg(start)));
        waitIdle(body);
        QVERIFY(bytes(dir->filePath("p-fitted.txt")).contains("# seed: 11\n"));
    }
};

QTEST_MAIN(TestWorkbench)
#include "tst_workbench.moc"
