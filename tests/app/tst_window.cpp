#include "analysis/scanroad.h"
#include "app/backgroundtask.h"
#include "app/body.h"
#include "app/document.h"
#include "app/filewatch.h"
#include "simulation/calculation.h"
#include "tests/common/testfiles.h"
#include "views/plotcontrols.h"

#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstdio>
#include <memory>

namespace {

// Quick (computed on the GUI thread) and slow (off it: about 2.8e8 terms) structures.
const QByteArray kSmall = "SUBSTRATE 1 0\nLAYER 10 1 0\n";
const QByteArray kHeavy = "SUBSTRATE 0 1\nLAYER 2000 0.3 1 A 0 0.3 1 L 2000 0 1\nREPEAT 1\n";
// A strained InGaAs layer on InP, the truth of the synthetic scan.
const QByteArray kLayer = "WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 200 0.55 1\nREPEAT 1\n";
// The same layer a little off, to be fitted to the synthetic scan of kLayer.
const QByteArray kFitStart = "WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 180 0.53 1\nREPEAT 1\n"
                             "MEASURED scan.txt\nFIT LAYER 1 N 150 250\nFIT LAYER 1 X 0.45 0.65\n";

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
    const RoadOutcome road = runRoad(*loaded.calculation, results, CalculationHooks());
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
        QTRY_VERIFY_WITH_TIMEOUT(!body.busy() && body.document->threads() == 0, 60000);
    }
    static QString logOf(Body& body) { return body.Log->toPlainText(); }
    static void drop(Body& body, const QString& path) { body.droppedInputFile({path}); }

    // What a road left: the log, the results, every file it wrote beside the inputs.
    static Seen seen(Body& body, const QTemporaryDir& dir, const QStringList& inputs) {
        Seen s;
        s.log = logOf(body);
        s.results = body.document->results();
        s.overlay = bool(body.document->overlay());
        for (const QString& f : QDir(dir.path()).entryList(QDir::Files))
            if (!inputs.contains(f))
                s.files[f] = bytes(dir.filePath(f));
        return s;
    }

    std::unique_ptr<QTemporaryDir> dir; // a fresh one for every test

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QSettings().clear();
    }
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void menuActionsRunTheRoadOfADrop_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("preload"); // a structure opened first
        auto row = [](const char* name, const char* action, const char* input, bool preload) {
            QTest::newRow(name) << QString(action) << QString(input) << preload;
        };
        row("Open Structure, a structure", "structure", "structure", false);
        row("Open Structure, a folder", "structure", "folder", false);
        row("Open Structure, a missing file", "structure", "missing", false);
        row("Open Measured Scan, a scan", "scan", "scan", true);
        row("Open Measured Scan, a structure", "scan", "structure", false);
        row("Open Recent", "recent", "structure", false);
        row("Reload", "reload", "structure", true);
        row("command line, a structure", "open", "structure", false);
    }

    // The same file through a menu and through the drop field gives the same log lines, the
    // same results and the same files.
    void menuActionsRunTheRoadOfADrop() {
        QFETCH(QString, action);
        QFETCH(QString, input);
        QFETCH(bool, preload);
        const QString scan = syntheticScan(*dir);
        const QString structure = write(*dir, "s.txt", kLayer);
        const QStringList inputs = QDir(dir->path()).entryList(QDir::Files);
        const QString file = input == "structure" ? structure
                             : input == "scan"    ? scan
                             : input == "folder"  ? dir->path()
                                                  : dir->filePath("missing.txt");
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
            (menu ? byMenu : byDrop) = seen(body, *dir, inputs);
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
    // valid again (30), with the ranges shown kept; then the file goes for good.
    void saveOnDiskIsComputedAgain() {
        QFETCH(QString, how);
        const QString path = write(*dir, "s.txt", kSmall);
        Body body;
        drop(body, path);
        QCOMPARE(body.document->results().depth.size(), 11);
        body.neverDrawComp = body.neverDrawKSpace = false;

        auto save = [&](const QByteArray& content) {
            if (how == "rename") {
                const QString fresh = write(*dir, "s.txt.new", content);
                QVERIFY(std::rename(QFile::encodeName(fresh), QFile::encodeName(path)) == 0);
            } else {
                if (how == "delete") {
                    QVERIFY(QFile::remove(path));
                    QTest::qWait(100);
                }
                write(*dir, "s.txt", content);
            }
        };
        const QString reloading = QStringLiteral("Reloading [%1]: it changed on disk.").arg(path);
        save("SUBSTRATE 1 0\nLAYER 20 1 0\n");
        QTRY_COMPARE_WITH_TIMEOUT(body.document->results().depth.size(), 21, 10000);
        QCOMPARE(logOf(body).count(reloading), 1);
        QVERIFY(!body.neverDrawComp && !body.neverDrawKSpace);

        save("LAYER 5 1 0\n");
        QTRY_COMPARE_WITH_TIMEOUT(logOf(body).count(reloading), 2, 10000);
        QCOMPARE(body.document->results().depth.size(), 21);

        save("SUBSTRATE 1 0\nLAYER 30 1 0\n");
        QTRY_COMPARE_WITH_TIMEOUT(body.document->results().depth.size(), 31, 10000);
        QCOMPARE(logOf(body).count(reloading), 3);

        // Gone for good: one line, and the results stay.
        QVERIFY(QFile::remove(path));
        const QString gone = QStringLiteral("Stopped watching [%1]: it is gone.\n").arg(path);
        QTRY_VERIFY_WITH_TIMEOUT(logOf(body).endsWith(gone), 10000);
        QCOMPARE(logOf(body).count(reloading), 3);
        QCOMPARE(body.document->results().depth.size(), 31);
    }

    // The intensity axis is titled in the unit of the model whose curve is on show (the basic
    // model's arbitrary units, the realistic models' reflectivity), and stays so when the file
    // turns invalid on disk and the curve stays.
    void unitFollowsTheCurveOnShow_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("readout");
        QTest::newRow("basic") << "basic"
                               << " (arb. units)";
        QTest::newRow("kinematical") << "kinematical"
                                     << " (reflectivity)";
        QTest::newRow("dynamical") << "dynamical"
                                   << " (reflectivity)";
    }
    void unitFollowsTheCurveOnShow() {
        QFETCH(QString, model);
        QFETCH(QString, readout);
        const QString path = write(*dir, "u.txt", "MODEL " + model.toLatin1() + "\n" + kLayer);
        Body body;
        drop(body, path);
        waitIdle(body);
        QImage image(600, 400, QImage::Format_RGB32);
        const auto readoutAfterPaint = [&] {
            QPainter p(&image);
            body.drawKSpace(&p);
            return diffractionReadout(33, 1, body.kspaceControls->readoutState());
        };
        QVERIFY2(readoutAfterPaint().endsWith(readout), qPrintable(logOf(body)));
        write(*dir, "u.txt", "LAYER 5 1 0\n");
        QTRY_VERIFY_WITH_TIMEOUT(logOf(body).contains("Still showing"), 10000);
        QVERIFY(!body.document->loader().valid);
        QVERIFY(readoutAfterPaint().endsWith(readout));
    }

    // A scan that goes is said to have gone; the structure, which did not change, is not
    // computed again.
    void deletedScanIsNotAChangedStructure() {
        const QString scan = syntheticScan(*dir);
        const QString path = write(*dir, "s.txt", kLayer + "MEASURED scan.txt\n");
        Body body;
        drop(body, path);
        waitIdle(body);
        body.Log->clear();
        QVERIFY(QFile::remove(scan));
        const QString gone = QStringLiteral("Stopped watching [%1]: it is gone.\n").arg(scan);
        QTRY_COMPARE_WITH_TIMEOUT(logOf(body), gone, 10000);
        QTest::qWait(500);
        QCOMPARE(logOf(body), gone);
    }

    // A scan named like a result of the structure that reads it is never written over: the
    // structure is refused, the scan stays byte for byte and no result appears.
    void scanNamedLikeAResultIsRefused_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("NAME-meas") << "s-meas.txt";
        QTest::newRow("NAME-dif") << "s-dif.txt";
    }
    void scanNamedLikeAResultIsRefused() {
        QFETCH(QString, name);
        const QString scan = syntheticScan(*dir);
        QVERIFY(QFile::rename(scan, dir->filePath(name)));
        const QByteArray before = bytes(dir->filePath(name));
        const QString path = write(*dir, "s.txt", kLayer + "MEASURED " + name.toUtf8() + "\n");
        const QStringList files = QDir(dir->path()).entryList(QDir::Files | QDir::Hidden);
        Body body;
        drop(body, path);
        waitIdle(body);
        QVERIFY2(logOf(body).contains(dir->filePath(name)), qPrintable(logOf(body)));
        QCOMPARE(bytes(dir->filePath(name)), before);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), files);
    }

    void backgroundCalculation_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("left to finish") << "finish";
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("Cancel twice") << "twice";
        QTest::newRow("a new drop") << "drop";
        QTest::newRow("the window closed") << "close";
    }

    // Computed off the GUI thread on two threads, the results are those of the one road on
    // one thread, to the bit. Cancelled, they never arrive: the results and the files stay.
    void backgroundCalculation() {
        QFETCH(QString, how);
        const QString small = write(*dir, "small.txt", kSmall);
        const QString heavy = write(*dir, "heavy.txt", kHeavy);
        write(*dir, "heavy-cmp.txt", "old profile");
        write(*dir, "heavy-dif.txt", "old curve");
        auto body = std::make_unique<Body>();
        body->setThreads(2);
        drop(*body, small);
        const ResultArrays before = body->document->results();
        drop(*body, heavy);
        QVERIFY(body->busy() && !body->progressBar->isHidden() && !body->cancelButton->isHidden());
        if (how == "cancel" || how == "twice")
            body->cancelButton->click();
        if (how == "twice")
            body->document->cancel();
        if (how == "drop")
            drop(*body, write(*dir, "small2.txt", "SUBSTRATE 1 0\nLAYER 20 1 0\n"));
        if (how == "close")
            body.reset();
        if (body) {
            waitIdle(*body);
            QVERIFY(body->progressBar->isHidden() && body->cancelButton->isHidden());
            const QString cancelled =
                QStringLiteral("Cancelled the calculation of [%1]; the previous results stay.")
                    .arg(heavy);
            QCOMPARE(logOf(*body).count(cancelled), how == "cancel" || how == "twice" ? 1 : 0);
        }
        if (how != "finish") {
            if (body)
                QCOMPARE(body->document->results().depth.size(),
                         how == "drop" ? 21 : before.depth.size());
            QCOMPARE(bytes(dir->filePath("heavy-cmp.txt")), QByteArray("old profile"));
            QCOMPARE(bytes(dir->filePath("heavy-dif.txt")), QByteArray("old curve"));
            return;
        }
        Config config;
        LoadedStructure loaded = loadStructure(config, heavy);
        ResultArrays alone;
        QVERIFY(loaded.calculation->compute(alone));
        QCOMPARE(body->document->results().depth, alone.depth);
        QCOMPARE(body->document->results().theta, alone.theta);
        QCOMPARE(body->document->results().intensity, alone.intensity);
        QVERIFY(bytes(dir->filePath("heavy-dif.txt"))
                    .startsWith(QByteArray::number(alone.theta.first(), 'g', 6)));
        QCOMPARE(body->windowTitle(), QStringLiteral("xrdsim \u2014 heavy.txt"));
        QVERIFY2(body->note->text().startsWith(
                     QStringLiteral("%1 curve points, basic model, ").arg(alone.q.size())),
                 qPrintable(body->note->text()));
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
        syntheticScan(*dir);
        const QString path =
            write(*dir, "s.txt", withScan ? kLayer + "MEASURED scan.txt\n" : kLayer);
        QVERIFY(QDir(dir->path()).mkdir(blocked));
        Body body;
        drop(body, path);
        waitIdle(body);
        const QString line = QStringLiteral("Can't write [%1].").arg(dir->filePath(blocked));
        QCOMPARE(logOf(body).count(line), 1);
        QCOMPARE(logOf(body).count(QStringLiteral("Can't write")), 1);
        QVERIFY(!body.document->results().theta.isEmpty());
        QCOMPARE(bool(body.document->overlay()), withScan);
    }

    void exportSaysWhereItWrote_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("diffractionOnly");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QSize>("size"); // of the PNG (0 x 0: none); a hidden window's plots are
                                         // 800 x 600
        QTest::newRow("PNG, both plots")
            << "plot.png" << false << "Wrote [%1]." << QSize(800, 1200);
        QTest::newRow("SVG, the diffraction plot")
            << "plot.svg" << true << "Wrote [%1]." << QSize();
        QTest::newRow("into a file, as if a folder")
            << "s.txt/plot.png" << false << "Can't write [%1]." << QSize(0, 0);
    }

    void exportSaysWhereItWrote() {
        QFETCH(QString, name);
        QFETCH(bool, diffractionOnly);
        QFETCH(QString, line);
        QFETCH(QSize, size);
        const QString target = dir->filePath(name);
        Body body;
        drop(body, write(*dir, "s.txt", kSmall));
        body.Log->clear();
        body.chooseFile = [&](Body::Choice) { return Body::Chosen{target, diffractionOnly}; };
        body.exportAction->trigger();
        QCOMPARE(logOf(body), line.arg(target) + "\n");
        if (size.isValid())
            QCOMPARE(QImage(target).size(), size);
        else
            QVERIFY(bytes(target).contains("<svg"));
    }

    void scanDroppedOnTheWindow_data() {
        QTest::addColumn<bool>("structure");  // opened first
        QTest::addColumn<QByteArray>("scan"); // empty: the synthetic scan
        QTest::addColumn<QString>("line");    // the last line in the log (SCAN: the scan's path)
        QTest::newRow("onto a loaded structure")
            << true << QByteArray()
            << "Add the line MEASURED SCAN to the structure file to keep it.";
        // Without a structure the scan is shown alone, its peak analysis last in the log.
        QTest::newRow("with no structure")
            << false << QByteArray() << "    single-layer thickness from fringes: ";
        QTest::newRow("a scan without a positive count")
            << true << QByteArray("31.2 0\n31.3 0\n")
            << "Can't read scan [SCAN]: no intensity is positive.";
    }

    // A dropped scan is compared with the structure opened last and drawn over it; the log
    // says how to keep it. One that cannot be read gives its line and changes nothing.
    void scanDroppedOnTheWindow() {
        QFETCH(bool, structure);
        QFETCH(QByteArray, scan);
        QFETCH(QString, line);
        const QString path = scan.isEmpty() ? syntheticScan(*dir) : write(*dir, "bad.txt", scan);
        Body body;
        if (structure)
            drop(body, write(*dir, "s.txt", kLayer));
        const int before = logOf(body).size();
        const ResultArrays results = body.document->results();
        drop(body, path);
        waitIdle(body);
        const QString added = logOf(body).mid(before);
        line.replace("SCAN", path);
        const bool overlay = scan.isEmpty();
        QCOMPARE(bool(body.document->overlay()), overlay);
        QCOMPARE(body.LogScale->isChecked(), overlay);
        if (overlay && !structure) {
            QVERIFY2(
                added.startsWith(
                    QStringLiteral("Measured scan [%1] on its own: text, 601 points").arg(path)),
                qPrintable(added));
            QVERIFY2(added.section('\n', -2, -2).startsWith(line), qPrintable(added));
            QVERIFY(body.document->overlay()->model.isEmpty());
            QCOMPARE(body.document->results().intensity, results.intensity);
            return;
        }
        if (!overlay) {
            QCOMPARE(added, line + "\n");
            QCOMPARE(body.document->results().intensity, results.intensity);
            return;
        }
        QVERIFY2(added.endsWith(line + "\n"), qPrintable(added));
        QVERIFY(added.contains(QStringLiteral("Measured scan [%1]: text, 601 points").arg(path)));
        QCOMPARE(body.document->overlay()->theta.size(), 601);
        QVERIFY(!body.document->overlay()->measuredPeaks.isEmpty());
        QVERIFY(QFile::exists(dir->filePath("s-meas.txt")));
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
        syntheticScan(*dir);
        const QString start = write(*dir, "start.txt",
                                    "WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 180 0.53 1\n"
                                    "REPEAT 1\nMEASURED scan.txt\nFIT LAYER 1 N 150 250\n"
                                    "FIT LAYER 1 X 0.45 0.65\n");
        const QString small = write(*dir, "small.txt", kSmall);
        const QString fitted = dir->filePath("start-fitted.txt");
        auto body = std::make_unique<Body>();
        QVERIFY(!body->fitAction->isEnabled());
        drop(*body, start);
        waitIdle(*body);
        QVERIFY(body->fitAction->isEnabled());
        QSignalSpy generations(body->document, &Document::fitProgress);
        body->fitAction->trigger();
        QVERIFY(body->busy() && body->stopAction->isEnabled() && !body->fitAction->isEnabled());

        if (how == "close") {
            body.reset();
            QTRY_COMPARE_WITH_TIMEOUT(BackgroundTask::orphans(), 0, 60000);
            QVERIFY(!QFile::exists(fitted));
            return;
        }
        if (how == "drop") {
            drop(*body, small);
            QVERIFY(logOf(*body).contains(
                QStringLiteral("Fit of [%1] abandoned, nothing written: [%2] was opened.\n")
                    .arg(start, small)));
            QTRY_COMPARE_WITH_TIMEOUT(body->document->threads(), 0, 60000);
            QTest::qWait(50);
            QCOMPARE(body->document->loader().fileName, small);
            QVERIFY(!logOf(*body).contains(QStringLiteral("Loading [%1]").arg(fitted)));
            QVERIFY(!body->document->overlay());
            QVERIFY(!QFile::exists(fitted));
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(body->document->loader().fileName == fitted, 60000);
        QVERIFY(generations.count() >= 1); // the search reports at least its end
        waitIdle(*body);
        const QString log = logOf(*body);
        QVERIFY(log.contains(QRegularExpression("parameter +start +fitted +uncertainty")));
        QVERIFY(log.contains(QStringLiteral("Wrote [%1].").arg(fitted)));
        QCOMPARE(body->document->loader().layers.value(0).monolayers, 200);
        QVERIFY(qAbs(body->document->loader().layers.value(0).inFraction - 0.55) < 1e-5);
        QCOMPARE(body->windowTitle(), QStringLiteral("xrdsim \u2014 start-fitted.txt"));
        QVERIFY(body->document->overlay());
        QVERIFY(body->fitAction->isEnabled() && !body->stopAction->isEnabled());
    }

    void abandonedFitWritesNothing_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("why"); // how the one line ends; empty: the fit is not abandoned
        auto row = [](const char* how, const char* why) {
            QTest::newRow(how) << QString(how) << QString(why);
        };
        row("the structure saved", "[START] changed on disk");
        row("the scan saved", "its scan [SCAN] changed on disk");
        row("the scan deleted", "[SCAN] is gone");
        row("the second scan saved", "its scan [SCAN2] changed on disk");
        row("another structure opened", "[SMALL] was opened");
        row("another scan dropped", "[SCAN2] was opened");
        row("F5", "[START] is loaded again");
        row("Stop", "");
    }

    // A fit whose result is no longer wanted stops and writes no NAME-fitted file, and one line
    // says why; Fit -> Stop keeps the best point so far, writes it and shows it.
    void abandonedFitWritesNothing() {
        QFETCH(QString, how);
        QFETCH(QString, why);
        const QString scan = syntheticScan(*dir);
        const QString scan2 = write(*dir, "scan2.txt", bytes(scan));
        // The dynamical model makes every evaluation slow enough, and a second free
        // composition (which the measured peaks cannot fix) makes the global search run, so
        // that the fit surely still runs when its files change.
        const QByteArray secondScan =
            how == "the second scan saved" ? "MEASURED scan2.txt REFLECTION 0 0 2\n" : "";
        const QString start = write(
            *dir, "start.txt", kFitStart + "MODEL dynamical\nFIT LAYER 1 Y 0.9 1\n" + secondScan);
        const QString small = write(*dir, "small.txt", kSmall);
        const QString fitted = dir->filePath("start-fitted.txt");
        Body body;
        drop(body, start);
        waitIdle(body);
        body.fitAction->trigger();
        QVERIFY(body.busy());
        // The search runs (the scan was read); the watch's verdict is given at once, while
        // the fit surely runs. The watch itself is tried without a fit above.
        QTRY_VERIFY_WITH_TIMEOUT(body.note->text().startsWith("Fit: generation"), 30000);
        FileWatch* const watch = body.document->watch_;
        if (how == "the structure saved") {
            write(*dir, "start.txt", kFitStart + "# saved again\n");
            emit watch->changed({start});
        } else if (how == "the scan saved") {
            write(*dir, "scan.txt", bytes(scan) + "32.41 1\n");
            emit watch->changed({scan});
        } else if (how == "the second scan saved") {
            // The real watch: no signal is faked.
            QVERIFY(watch->watching(scan2));
            write(*dir, "scan2.txt", bytes(scan) + "32.41 1\n");
        } else if (how == "the scan deleted") {
            QVERIFY(QFile::remove(scan));
            emit watch->gone(scan);
        } else if (how == "another structure opened")
            drop(body, small);
        else if (how == "another scan dropped")
            drop(body, scan2);
        else if (how == "F5")
            body.reloadAction->trigger();
        else
            body.stopAction->trigger();
        if (why.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(body.document->loader().fileName == fitted, 60000);
            waitIdle(body);
            QVERIFY(logOf(body).contains(QStringLiteral("Wrote [%1].").arg(fitted)));
            QVERIFY(!logOf(body).contains("abandoned"));
            return;
        }
        why.replace("START", start).replace("SCAN2", scan2).replace("SCAN", scan);
        why.replace("SMALL", small);
        const QString line = QStringLiteral("Fit of [%1] abandoned, nothing written: %2.\n");
        QTRY_VERIFY_WITH_TIMEOUT(logOf(body).contains(line.arg(start, why)), 30000);
        waitIdle(body);
        QTest::qWait(100);
        QCOMPARE(logOf(body).count("abandoned"), 1);
        QVERIFY(!QFile::exists(fitted));
        QVERIFY(!logOf(body).contains(QStringLiteral("Wrote [%1]").arg(fitted)));
        // A scan that went is said to have gone; the structure did not change.
        QCOMPARE(logOf(body).contains("Reloading"), how.endsWith("saved"));
    }

    void invalidFileLeavesTheShownOneInCharge_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no SUBSTRATE line") << QByteArray("LAYER 10 1 0\n");
        QTest::newRow("no LAYER line") << QByteArray("SUBSTRATE 1 0\n");
        QTest::newRow("no positive wavelength") << QByteArray("WAVELENGTH -1\n" + kSmall);
        QTest::newRow("a PNG") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01", 21);
    }

    // The log says why a file is not computed and which file stays on show; the title, Fit,
    // F5 and the watch stay with that one.
    void invalidFileLeavesTheShownOneInCharge() {
        QFETCH(QByteArray, content);
        syntheticScan(*dir);
        const QString shown = write(*dir, "start.txt", kFitStart);
        const QString bad = write(*dir, "bad.txt", content);
        Body body;
        drop(body, shown);
        waitIdle(body);
        const QString title = body.windowTitle();
        const int before = logOf(body).size();
        drop(body, bad);
        waitIdle(body);
        const QStringList lines = logOf(body).mid(before).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.first(), QStringLiteral("Loading [%1].").arg(bad));
        QCOMPARE(lines.filter(QStringLiteral("Invalid structure [%1]: ").arg(bad)).size(), 1);
        QCOMPARE(lines.last(), QStringLiteral("Still showing [%1].").arg(shown));
        QCOMPARE(body.windowTitle(), title);
        QVERIFY(body.fitAction->isEnabled());

        body.Log->clear();
        body.reloadAction->trigger();
        waitIdle(body);
        QVERIFY2(logOf(body).startsWith(QStringLiteral("Loading [%1].\n").arg(shown)),
                 qPrintable(logOf(body)));
        QCOMPARE(body.document->loader().fileName, shown);

        body.Log->clear();
        write(*dir, "bad.txt", content + "\n");
        write(*dir, "start.txt", kFitStart + "# saved again\n");
        const QString reloading = QStringLiteral("Reloading [%1]: it changed on disk.\n");
        QTRY_VERIFY_WITH_TIMEOUT(logOf(body).startsWith(reloading.arg(shown)), 10000);
        waitIdle(body);
        QVERIFY(!logOf(body).contains(bad));
    }

    // NAME-fitted.EXT is checked before the fit starts: one line, and nothing runs.
    void unwritableFittedFileStopsTheFitBeforeItStarts() {
        syntheticScan(*dir);
        const QString start = write(*dir, "start.txt", kFitStart);
        QVERIFY(QDir(dir->path()).mkdir("start-fitted.txt"));
        Body body;
        drop(body, start);
        waitIdle(body);
        body.Log->clear();
        body.fitAction->trigger();
        QVERIFY(!body.busy());
        QCOMPARE(logOf(body),
                 QStringLiteral("No fit of [%1]: can't write [%2]: a folder or another "
                                "non-file has its name.\n")
                     .arg(start, dir->filePath("start-fitted.txt")));
    }

    void threadsLeftToEndOnTheirOwn_data() {
        QTest::addColumn<bool>("heedsCancel");
        QTest::addColumn<int>("left"); // threads left running once the owner went
        QTest::newRow("work that heeds its cancel flag is joined") << true << 0;
        QTest::newRow("work that does not is left to end") << false << 1;
    }

    // An owner with a final wait goes without waiting for work that does not end: its thread
    // is left running, never reports, and is reaped once it ends.
    void threadsLeftToEndOnTheirOwn() {
        QFETCH(bool, heedsCancel);
        QFETCH(int, left);
        auto release = std::make_shared<std::atomic<bool>>(false);
        auto cancelled = std::make_shared<std::atomic<bool>>(false);
        bool done = false;
        auto task = std::make_unique<BackgroundTask>();
        task->setFinalWait(50);
        task->start(
            [=] {
                while (!*release && !(heedsCancel && *cancelled))
                    QThread::msleep(5);
            },
            [&done] { done = true; }, [cancelled] { *cancelled = true; });
        task.reset();
        QCOMPARE(BackgroundTask::orphans(), left);
        *release = true;
        QTRY_COMPARE_WITH_TIMEOUT(BackgroundTask::orphans(), 0, 10000);
        QVERIFY(!done);
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // in standard output or error
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "xrdsim " XRDSIM_VERSION;
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
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
