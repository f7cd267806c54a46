#include "../common/testfiles.h"
#include "backgroundtask.h"
#include "body.h"
#include "calculation.h"
#include "helptext.h"
#include "scanroad.h"

#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>

namespace {

// Quick (computed on the GUI thread) and slow (off it: about 2.8e8 terms) structures.
const QByteArray kSmall = "SUBSTRATE 1 0\nLAYER 10 1 0\n";
const QByteArray kHeavy = "SUBSTRATE 0 1\nLAYER 2000 0.3 1 A 0 0.3 1 L 2000 0 1\nREPEAT 1\n";
// A strained InGaAs layer on InP, the truth of the synthetic scan.
const QByteArray kLayer = "WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 200 0.55 1\nREPEAT 1\n";

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    return xrdtest::writeTestFile(dir, name, content);
}

QByteArray bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

// A plain-text scan of kLayer from 31.2 to 32.4 degrees: the model's counts (scale 1, no
// background) at the angles of a scan of ones, through the road the batch tool takes.
QString syntheticScan(const QTemporaryDir& dir) {
    QByteArray ones;
    for (int i = 0; i <= 600; ++i)
        ones += QByteArray::number(31.2 + 0.002 * i, 'f', 4) + "\t1\n";
    write(dir, "ones.txt", ones);
    const QString truth =
        write(dir, "truth.txt", kLayer + "SCALE 1\nBACKGROUND 0\nMEASURED ones.txt\n");
    Config config;
    LoadedStructure loaded = loadStructure(config, truth);
    ResultArrays results;
    const RoadOutcome road = runRoad(config, loaded.calculation, results, CalculationHooks());
    QByteArray scan;
    const ModelAtScan& m = road.scan.model;
    for (int i = 0; i < m.theta.size(); ++i)
        scan += QByteArray::number(m.theta[i], 'g', 17) + "\t" +
                QByteArray::number(m.model[i], 'g', 17) + "\n";
    return write(dir, "scan.txt", scan);
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

    struct Seen {
        QString log;
        ResultArrays results;
        QMap<QString, QByteArray> files;
        bool overlay = false;
    };

    static void waitIdle(Body& body) {
        QTRY_VERIFY_WITH_TIMEOUT(!body.busy() && body.road->threads() == 0, 60000);
    }
    static QString logOf(Body& body) { return body.Log->toPlainText(); }
    static void drop(Body& body, const QString& path) { body.droppedInputFile({path}); }

    // What a road left: the log, the results, every file it wrote beside the inputs.
    static Seen seen(Body& body, const QTemporaryDir& dir, const QStringList& inputs) {
        Seen s;
        s.log = logOf(body);
        s.results = *body.results;
        s.overlay = bool(body.overlay);
        for (const QString& f : QDir(dir.path()).entryList(QDir::Files))
            if (!inputs.contains(f))
                s.files[f] = bytes(dir.filePath(f));
        return s;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QSettings().clear();
    }

    void menuActionsRunTheRoadOfADrop_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("preload"); // a structure opened first

        QTest::newRow("Open Structure, a structure") << "structure"
                                                     << "structure" << false;
        QTest::newRow("Open Structure, a folder") << "structure"
                                                  << "folder" << false;
        QTest::newRow("Open Structure, a missing file") << "structure"
                                                        << "missing" << false;
        QTest::newRow("Open Measured Scan, a scan") << "scan"
                                                    << "scan" << true;
        QTest::newRow("Open Measured Scan, a structure") << "scan"
                                                         << "structure" << false;
        QTest::newRow("Open Recent") << "recent"
                                     << "structure" << false;
        QTest::newRow("Reload") << "reload"
                                << "structure" << true;
        QTest::newRow("command line, a structure") << "open"
                                                   << "structure" << false;
    }

    // The same file through a menu and through the drop field gives the same log lines, the
    // same results and the same files.
    void menuActionsRunTheRoadOfADrop() {
        QFETCH(QString, action);
        QFETCH(QString, input);
        QFETCH(bool, preload);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString scan = syntheticScan(dir);
        const QString structure = write(dir, "s.txt", kLayer);
        const QStringList inputs = QDir(dir.path()).entryList(QDir::Files);
        const QString file = input == "structure" ? structure
                             : input == "scan"    ? scan
                             : input == "folder"  ? dir.path()
                                                  : dir.filePath("missing.txt");
        Seen byDrop;
        Seen byMenu;
        for (const bool menu : {false, true}) {
            Body body;
            body.chooseFile = [&](Body::Choice) { return Body::Chosen{file, false}; };
            if (preload) {
                drop(body, structure);
                waitIdle(body);
            }
            if (!menu)
                drop(body, file);
            else if (action == "structure")
                body.openStructureAction->trigger();
            else if (action == "scan")
                body.openScanAction->trigger();
            else if (action == "reload")
                body.reloadAction->trigger();
            else if (action == "open")
                body.open(file);
            else {
                body.addRecent(file);
                body.recentMenu->actions().first()->trigger();
            }
            waitIdle(body);
            (menu ? byMenu : byDrop) = seen(body, dir, inputs);
        }
        QVERIFY(!byDrop.log.isEmpty());
        QCOMPARE(byMenu.log, byDrop.log);
        QCOMPARE(byMenu.results.depth, byDrop.results.depth);
        QCOMPARE(byMenu.results.intensity, byDrop.results.intensity);
        QCOMPARE(byMenu.files, byDrop.files);
        QCOMPARE(byMenu.overlay, byDrop.overlay);
        QCOMPARE(byDrop.overlay, input == "scan");
        if (input == "folder")
            QCOMPARE(byDrop.log, QStringLiteral("Can't open [%1].\n").arg(file));
    }

    void saveOnDiskIsComputedAgain_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("written in place") << "in place";
        QTest::newRow("new file renamed over it") << "rename";
        QTest::newRow("deleted, then written") << "delete";
    }

    // Three saves in a row, each seen: valid (20 monolayers), invalid (the results stay),
    // valid again (30). The ranges shown are kept.
    void saveOnDiskIsComputedAgain() {
        QFETCH(QString, how);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = write(dir, "s.txt", kSmall);
        Body body;
        drop(body, path);
        QCOMPARE(body.results->depth.size(), 11);
        body.neverDrawComp = body.neverDrawKSpace = false;

        auto save = [&](const QByteArray& content) {
            if (how == "rename") {
                const QString fresh = write(dir, "s.txt.new", content);
                QVERIFY(std::rename(QFile::encodeName(fresh), QFile::encodeName(path)) == 0);
            } else {
                if (how == "delete") {
                    QVERIFY(QFile::remove(path));
                    QTest::qWait(100);
                }
                write(dir, "s.txt", content);
            }
        };
        const QString reloading = QStringLiteral("Reloading [%1]: it changed on disk.").arg(path);
        save("SUBSTRATE 1 0\nLAYER 20 1 0\n");
        QTRY_COMPARE_WITH_TIMEOUT(body.results->depth.size(), 21, 10000);
        QCOMPARE(logOf(body).count(reloading), 1);
        QVERIFY(!body.neverDrawComp && !body.neverDrawKSpace);

        save("LAYER 5 1 0\n");
        QTRY_COMPARE_WITH_TIMEOUT(logOf(body).count(reloading), 2, 10000);
        QCOMPARE(body.results->depth.size(), 21);

        save("SUBSTRATE 1 0\nLAYER 30 1 0\n");
        QTRY_COMPARE_WITH_TIMEOUT(body.results->depth.size(), 31, 10000);
        QCOMPARE(logOf(body).count(reloading), 3);
        QCOMPARE(logOf(body).count(QStringLiteral("Stopped watching")), 0);
    }

    void fileGoneForGoodIsNoLongerWatched() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = write(dir, "s.txt", kSmall);
        Body body;
        drop(body, path);
        QVERIFY(QFile::remove(path));
        const QString gone = QStringLiteral("Stopped watching [%1]: it is gone.\n").arg(path);
        QTRY_VERIFY_WITH_TIMEOUT(logOf(body).endsWith(gone), 10000);
        QCOMPARE(logOf(body), QStringLiteral("Loading [%1].\n").arg(path) + gone);
        QCOMPARE(body.results->depth.size(), 11);
        QVERIFY(body.watched.isEmpty());
    }

    // Computed off the GUI thread on every core, the results are those of the one road on
    // one thread, to the bit; the files, the title and the status note follow.
    void backgroundCalculationGivesTheSameResults() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = write(dir, "heavy.txt", kHeavy);
        Body body;
        body.setThreads(2);
        drop(body, path);
        QVERIFY(body.busy());
        QVERIFY(body.results->depth.isEmpty());
        QVERIFY(!body.progressBar->isHidden() && !body.cancelButton->isHidden());
        waitIdle(body);
        QVERIFY(body.progressBar->isHidden() && body.cancelButton->isHidden());

        Config config;
        LoadedStructure loaded = loadStructure(config, path);
        ResultArrays alone;
        QVERIFY(loaded.calculation->compute(alone));
        QCOMPARE(body.results->depth, alone.depth);
        QCOMPARE(body.results->theta, alone.theta);
        QCOMPARE(body.results->intensity, alone.intensity);
        QCOMPARE(logOf(body), QStringLiteral("Loading [%1].\n").arg(path));
        QVERIFY(QFile::exists(dir.filePath("heavy-cmp.txt")));
        QVERIFY(QFile::exists(dir.filePath("heavy-dif.txt")));
        QCOMPARE(body.windowTitle(), QStringLiteral("xrdsim \u2014 heavy.txt"));
        QVERIFY2(body.note->text().startsWith(
                     QStringLiteral("%1 curve points, basic model, ").arg(alone.q.size())),
                 qPrintable(body.note->text()));
    }

    void cancelledCalculationLeavesResultsAndFiles_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("Cancel twice") << "twice";
        QTest::newRow("a new drop") << "drop";
        QTest::newRow("the window closed") << "close";
    }

    void cancelledCalculationLeavesResultsAndFiles() {
        QFETCH(QString, how);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString small = write(dir, "small.txt", kSmall);
        const QString small2 = write(dir, "small2.txt", "SUBSTRATE 1 0\nLAYER 20 1 0\n");
        const QString heavy = write(dir, "heavy.txt", kHeavy);
        write(dir, "heavy-cmp.txt", "old profile");
        write(dir, "heavy-dif.txt", "old curve");
        auto body = std::make_unique<Body>();
        drop(*body, small);
        const ResultArrays before = *body->results;
        drop(*body, heavy);
        QVERIFY(body->busy());

        if (how == "cancel" || how == "twice") {
            body->cancelButton->click();
            if (how == "twice")
                body->cancelCalculation();
        } else if (how == "drop") {
            drop(*body, small2);
        } else {
            body.reset();
        }
        if (body) {
            QVERIFY(!body->busy());
            QTRY_COMPARE_WITH_TIMEOUT(body->road->threads(), 0, 60000);
            QTest::qWait(20);
            QCOMPARE(body->results->depth.size(), how == "drop" ? 21 : 11);
            if (how != "drop")
                QCOMPARE(body->results->intensity, before.intensity);
            const QString cancelled =
                QStringLiteral("Cancelled the calculation of [%1]; the previous results stay.")
                    .arg(heavy);
            QCOMPARE(logOf(*body).count(cancelled), how == "drop" ? 0 : 1);
            QVERIFY(body->progressBar->isHidden() && body->cancelButton->isHidden());
        }
        QCOMPARE(bytes(dir.filePath("heavy-cmp.txt")), QByteArray("old profile"));
        QCOMPARE(bytes(dir.filePath("heavy-dif.txt")), QByteArray("old curve"));
    }

    void unwritableFileIsSaid_data() {
        QTest::addColumn<QString>("blocked"); // made a folder, so that no file can take its name
        QTest::addColumn<bool>("withScan");
        QTest::newRow("profile") << "s-cmp.txt" << false;
        QTest::newRow("curve") << "s-dif.txt" << false;
        QTest::newRow("comparison with the scan") << "s-meas.txt" << true;
    }

    void unwritableFileIsSaid() {
        QFETCH(QString, blocked);
        QFETCH(bool, withScan);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString scan = syntheticScan(dir);
        const QString path =
            write(dir, "s.txt", withScan ? kLayer + "MEASURED scan.txt\n" : kLayer);
        QVERIFY(QDir(dir.path()).mkdir(blocked));
        Body body;
        drop(body, path);
        waitIdle(body);
        const QString line = QStringLiteral("Can't write [%1].").arg(dir.filePath(blocked));
        QCOMPARE(logOf(body).count(line), 1);
        QCOMPARE(logOf(body).count(QStringLiteral("Can't write")), 1);
        QVERIFY(!body.results->theta.isEmpty());
        QCOMPARE(bool(body.overlay), withScan);
        QVERIFY(!scan.isEmpty());
    }

    void exportSaysWhereItWrote_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("diffractionOnly");
        QTest::addColumn<bool>("computed");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QSize>(
            "size"); // of the PNG (0 x 0: none); plots of a hidden window are 800 x 600
        QTest::newRow("PNG, both plots")
            << "plot.png" << false << true << "Wrote [%1]." << QSize(800, 1200);
        QTest::newRow("PNG, the diffraction plot")
            << "plot.png" << true << true << "Wrote [%1]." << QSize(800, 600);
        QTest::newRow("SVG, both plots") << "plot.svg" << false << true << "Wrote [%1]." << QSize();
        QTest::newRow("into a file, as if a folder")
            << "s.txt/plot.png" << false << true << "Can't write [%1]." << QSize(0, 0);
        QTest::newRow("nothing computed yet")
            << "plot.png" << false << false
            << "Nothing to export to [%1]: no structure has been computed." << QSize(0, 0);
    }

    void exportSaysWhereItWrote() {
        QFETCH(QString, name);
        QFETCH(bool, diffractionOnly);
        QFETCH(bool, computed);
        QFETCH(QString, line);
        QFETCH(QSize, size);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = write(dir, "s.txt", kSmall);
        const QString target = dir.filePath(name);
        Body body;
        if (computed)
            drop(body, path);
        body.Log->clear();
        body.chooseFile = [&](Body::Choice) { return Body::Chosen{target, diffractionOnly}; };
        body.exportAction->trigger();
        QCOMPARE(logOf(body), line.arg(target) + "\n");
        if (name.endsWith(".svg"))
            QVERIFY(bytes(target).contains("<svg"));
        else
            QCOMPARE(QImage(target).size(), size);
    }

    void scanDroppedOnTheWindow_data() {
        QTest::addColumn<QByteArray>("structure"); // opened first; empty: none
        QTest::addColumn<QByteArray>("scan");      // empty: the synthetic scan
        QTest::addColumn<QStringList>("lines");    // after the structure's own lines
        QTest::addColumn<bool>("overlay");

        const QString read = "Measured scan [SCAN]: text, 601 points from 31.2° to 32.4° of "
                             "theta (omega).";
        QTest::newRow("onto a loaded structure")
            << kLayer << QByteArray() << QStringList{"Loading [STRUCTURE].", read} << true;
        QTest::newRow("with no structure")
            << QByteArray() << QByteArray()
            << QStringList{"No structure to compare [SCAN] with: open a structure file first."}
            << false;
        QTest::newRow("a scan without a positive count")
            << kLayer << QByteArray("31.2 0\n31.3 0\n31.4 0\n")
            << QStringList{"Can't read scan [SCAN]: no intensity is positive."} << false;
    }

    // A dropped scan is compared with the structure opened last and drawn over; the log
    // says how to keep it. One that cannot be read gives its line and changes nothing.
    void scanDroppedOnTheWindow() {
        QFETCH(QByteArray, structure);
        QFETCH(QByteArray, scan);
        QFETCH(QStringList, lines);
        QFETCH(bool, overlay);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString scanPath = scan.isEmpty() ? syntheticScan(dir) : write(dir, "bad.txt", scan);
        Body body;
        QString path;
        if (!structure.isEmpty()) {
            path = write(dir, "s.txt", structure);
            drop(body, path);
        }
        const QString before = logOf(body);
        const ResultArrays results = *body.results;
        drop(body, scanPath);
        waitIdle(body);
        const QStringList log = logOf(body).mid(before.size()).split('\n');
        for (QString l : lines) {
            l.replace("SCAN", scanPath).replace("STRUCTURE", path);
            QVERIFY2(log.contains(l), qPrintable(l));
        }
        QCOMPARE(bool(body.overlay), overlay);
        QCOMPARE(body.LogScale->isChecked(), overlay);
        const QString keep = QStringLiteral("Add the line MEASURED %1 to the structure file to "
                                            "keep it.")
                                 .arg(scanPath);
        QCOMPARE(log.contains(keep), overlay);
        if (overlay) {
            QCOMPARE(body.overlay->theta.size(), 601);
            QCOMPARE(body.overlay->measured.size(), 601);
            QVERIFY(!body.overlay->measuredPeaks.isEmpty());
            QVERIFY(QFile::exists(dir.filePath("s-meas.txt")));
        } else {
            QCOMPARE(log.size(), 2); // one line and the empty rest after its line end
            QCOMPARE(body.results->intensity, results.intensity);
        }
    }

    void fitActionFitsAndShowsTheFittedStructure_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("to the end") << "end";
        QTest::newRow("a new drop stops it") << "drop";
        QTest::newRow("the window closed") << "close";
    }

    // Two parameters of a single layer fitted to a synthetic scan of it come back as the
    // truth (200 monolayers, x = 0.55); the fitted file is then opened with the same scan.
    void fitActionFitsAndShowsTheFittedStructure() {
        QFETCH(QString, how);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        syntheticScan(dir);
        const QString start = write(dir, "start.txt",
                                    "WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 180 0.53 1\n"
                                    "REPEAT 1\nMEASURED scan.txt\nFIT LAYER 1 N 150 250\n"
                                    "FIT LAYER 1 X 0.45 0.65\n");
        const QString small = write(dir, "small.txt", kSmall);
        const QString fitted = dir.filePath("start-fitted.txt");
        auto body = std::make_unique<Body>();
        QVERIFY(!body->fitAction->isEnabled());
        drop(*body, start);
        waitIdle(*body);
        QVERIFY(body->fitAction->isEnabled());
        body->fitAction->trigger();
        QVERIFY(body->busy() && body->stopAction->isEnabled() && !body->fitAction->isEnabled());

        if (how == "close") {
            body.reset();
            return;
        }
        if (how == "drop") {
            drop(*body, small);
            QVERIFY(logOf(*body).contains("Fit stopped: a new file was dropped.\n"));
            QTRY_COMPARE_WITH_TIMEOUT(body->fit->threads(), 0, 60000);
            QTest::qWait(50);
            QCOMPARE(body->config.fileName, small);
            QVERIFY(!logOf(*body).contains(QStringLiteral("Loading [%1]").arg(fitted)));
            QVERIFY(!body->overlay);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(body->note->text().startsWith("Fit: generation"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(body->config.fileName == fitted, 60000);
        waitIdle(*body);
        const QString log = logOf(*body);
        QVERIFY(log.contains(QRegularExpression("parameter +start +fitted +uncertainty")));
        QVERIFY(log.contains(QStringLiteral("Wrote [%1].").arg(fitted)));
        QCOMPARE(body->config.layers.value(0).monolayers, 200);
        QVERIFY(qAbs(body->config.layers.value(0).inFraction - 0.55) < 1e-5);
        QCOMPARE(body->windowTitle(), QStringLiteral("xrdsim \u2014 start-fitted.txt"));
        QVERIFY(body->overlay);
        QVERIFY(body->fitAction->isEnabled() && !body->stopAction->isEnabled());
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // in standard output or error
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "xrdsim " XRDSIM_VERSION;
        QTest::newRow("--help") << QStringList{"--help"} << 0 << "Usage: ";
        QTest::newRow("three files") << QStringList{"a", "b", "c"} << 2
                                     << "At most a structure file and a scan, not 3 files.";
    }

    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QProcess window;
        window.start(QStringLiteral(XRDSIM_WINDOW), arguments);
        QVERIFY(window.waitForFinished(20000));
        QCOMPARE(window.exitCode(), exitCode);
        const QString text =
            QString::fromLocal8Bit(window.readAllStandardOutput() + window.readAllStandardError());
        QVERIFY2(text.contains(output), qPrintable(text));
    }

    // Every statement the reader knows, and nothing else.
    void helpNamesEveryStatement() {
        const QStringList statements{"WAVELENGTH", "SUBSTRATE",  "LAYER",      "REPEAT",
                                     "MEASURED",   "RESOLUTION", "OFFSET",     "SCALE",
                                     "BACKGROUND", "MODEL",      "REFLECTION", "FIT"};
        QCOMPARE(helpStatements(), statements);
        for (const QString& s : statements)
            QVERIFY(helpText().contains(QStringLiteral("<b>%1</b>").arg(s)));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
