#include "body.h"

#include "backgroundtask.h"
#include "calculation.h"
#include "compositionview.h"
#include "diffractionview.h"
#include "extensions.h"
#include "fitparameters.h"
#include "fitroad.h"
#include "helptext.h"
#include "readers.h"
#include "renderplots.h"
#include "scanroad.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTextBrowser>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {

const char* const kProgram = "xrdsim";
const char* const kRecentKey = "recentFiles";
constexpr int kMaxRecent = 8;

// Curve points times their cost in single-monolayer terms (Calculation::work) above which a
// calculation runs off the GUI thread: summing goes at about 1.3e9 terms a second on one
// core, so this is a tenth of a second. Below it the road stays synchronous, as it always
// was, and the window is back before anyone would notice.
constexpr double kQuickWork = 1.5e8;

// Quiet time after the last change on disk before a reload, so that an editor's truncate,
// write and rename arrive as one change; and how many such pauses a watched file may stay
// missing (a save by delete-and-write) before it counts as gone.
constexpr int kQuietMs = 250;
constexpr int kMissingChecks = 8;

// The progress bar's full scale and the interval at which it is brought up to date.
constexpr int kProgressSteps = 1000;
constexpr int kProgressMs = 100;

// The angles worth marking on the overlay: the substrate peak, the layer or zeroth-order
// peak and the satellites of a superlattice.
QVector<double> peakAngles(const PeakAnalysis& p) {
    QVector<double> angles;
    for (double t : {p.substrate.theta, p.main.theta})
        if (std::isfinite(t))
            angles << t;
    for (double t : p.satelliteTheta)
        if (std::isfinite(t) && !angles.contains(t))
            angles << t;
    return angles;
}

// A structure-file token for a path: quoted when it holds white space or a quote mark.
QString fileToken(const QString& path) {
    const bool plain = std::none_of(path.cbegin(), path.cend(), [](QChar c) {
        return c.isSpace() || c == QLatin1Char('"') || c == QLatin1Char('#');
    });
    return plain ? path : QStringLiteral("\"%1\"").arg(path);
}

} // namespace

// A calculation off the GUI thread: the calculation holds its own copy of the structure (the
// loader may read the next file meanwhile), fresh result arrays, and the flags the GUI thread
// reads.
struct Body::RoadJob {
    std::unique_ptr<Calculation> calculation;
    QString scanOverride;
    int threads = 1;
    double estimatedPoints = 0;
    std::atomic<bool> cancel{false};
    std::atomic<qint64> pointsDone{0};
    // Written by the worker, read on the GUI thread only after it ended.
    ResultArrays results;
    RoadOutcome outcome;
    double seconds = 0;
};

// A fit off the GUI thread, on its own copy of the structure.
struct Body::FitJob {
    Structure structure;
    QString scanOverride;
    int threads = 1;
    std::atomic<bool> stop{false};
    FitReport report; // written by the worker, read after it ended
};

Body::Body(QWidget* parent) : QMainWindow(parent), threads(QThread::idealThreadCount()) {
    setupUi(this);
    // The composition plot keeps the frame's default margins.
    setDiffractionMargins(KSpace->coord);

    connect(&config, &Config::log, this, &Body::log);
    connect(DropA, &DropArea::dropped, this, &Body::droppedInputFile);
    connect(Comp, &DispA::drawImage1, this, &Body::drawComp);
    connect(KSpace, &DispA::drawImage1, this, &Body::drawKSpace);
    connect(LogScale, &QCheckBox::toggled, this, &Body::logScale);

    setWindowTitle(QString::fromLatin1(kProgram));
    road = new BackgroundTask(this);
    fit = new BackgroundTask(this);
    buildMenus();

    note = new QLabel(statusBar());
    statusBar()->addWidget(note, 1);
    progressBar = new QProgressBar(statusBar());
    progressBar->setMaximumWidth(200);
    statusBar()->addPermanentWidget(progressBar);
    cancelButton = new QPushButton(tr("Cancel"), statusBar());
    statusBar()->addPermanentWidget(cancelButton);
    progressBar->hide();
    cancelButton->hide();
    connect(cancelButton, &QPushButton::clicked, this, &Body::cancelCalculation);

    quiet.setSingleShot(true);
    quiet.setInterval(kQuietMs);
    connect(&quiet, &QTimer::timeout, this, &Body::reloadChanged);
    connect(&watcher, &QFileSystemWatcher::fileChanged, this, &Body::changedOnDisk);
    progress.setInterval(kProgressMs);
    connect(&progress, &QTimer::timeout, this, &Body::showProgress);

    chooseFile = [this](Choice choice) { return askForFile(choice); };
    updateActions();
}

// The fit and the calculation are stopped and their threads joined before anything they
// report to goes.
Body::~Body() {
    delete fit;
    fit = nullptr;
    delete road;
    road = nullptr;
}

void Body::open(const QString& structure, const QString& scan) {
    startRoad({structure, scan.isEmpty() ? QString() : QFileInfo(scan).absoluteFilePath(),
               Origin::Opened, QString()});
}

bool Body::busy() const {
    return road->running() || fit->running();
}

void Body::setThreads(int count) {
    threads = std::max(1, count);
}

void Body::buildMenus() {
    QMenu* file = menubar->addMenu(tr("&File"));
    openStructureAction = file->addAction(tr("&Open Structure…"), this, [this] {
        const Chosen c = chooseFile(Choice::Structure);
        if (!c.path.isEmpty())
            openDropped(c.path);
    });
    openStructureAction->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_O));
    openScanAction = file->addAction(tr("Open &Measured Scan…"), this, [this] {
        const Chosen c = chooseFile(Choice::Scan);
        if (!c.path.isEmpty())
            openDropped(c.path);
    });
    reloadAction = file->addAction(tr("&Reload"), this, [this] {
        startRoad({currentStructure, currentScan, Origin::Reloaded, QString()});
    });
    reloadAction->setShortcut(QKeySequence(Qt::Key_F5));
    recentMenu = file->addMenu(tr("Open Re&cent"));
    fillRecentMenu();
    file->addSeparator();
    exportAction = file->addAction(tr("&Export Plot…"), this, [this] {
        const Chosen c = chooseFile(Choice::Export);
        if (!c.path.isEmpty())
            exportTo(c.path, c.diffractionOnly);
    });
    file->addSeparator();
    quitAction = file->addAction(tr("&Quit"), this, &QWidget::close);
    quitAction->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_Q));

    QMenu* fitMenu = menubar->addMenu(tr("F&it"));
    fitAction = fitMenu->addAction(tr("&Fit"), this, &Body::startFit);
    fitAction->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_F));
    stopAction = fitMenu->addAction(tr("&Stop"), this, &Body::stopFit);

    QMenu* help = menubar->addMenu(tr("&Help"));
    helpAction = help->addAction(tr("&Mouse and Structure File"), this, &Body::showHelp);
    helpAction->setShortcut(QKeySequence(Qt::Key_F1));
    aboutAction = help->addAction(tr("&About"), this, &Body::showAbout);
}

Body::Chosen Body::askForFile(Choice choice) {
    const QString folder =
        currentStructure.isEmpty() ? QString() : QFileInfo(currentStructure).absolutePath();
    Chosen chosen;
    switch (choice) {
    case Choice::Structure:
        chosen.path = QFileDialog::getOpenFileName(this, tr("Open Structure"), folder,
                                                   tr("Structure files (*.txt);;All files (*)"));
        break;
    case Choice::Scan:
        chosen.path = QFileDialog::getOpenFileName(
            this, tr("Open Measured Scan"), folder,
            tr("Measured scans (*.xrdml *.x00 *.uxd *.ras *.txt *.dat *.csv);;All files (*)"));
        break;
    case Choice::Export: {
        const QString both = tr("Both plots, PNG (*.png)");
        const QString bothSvg = tr("Both plots, SVG (*.svg)");
        const QString curve = tr("Diffraction plot, PNG (*.png)");
        const QString curveSvg = tr("Diffraction plot, SVG (*.svg)");
        QString filter = both;
        const QString start =
            currentStructure.isEmpty()
                ? QString()
                : QDir(folder).filePath(QFileInfo(currentStructure).completeBaseName() +
                                        QStringLiteral("-plot.png"));
        chosen.path = QFileDialog::getSaveFileName(
            this, tr("Export Plot"), start, QStringList{both, bothSvg, curve, curveSvg}.join(";;"),
            &filter);
        chosen.diffractionOnly = filter == curve || filter == curveSvg;
        const QString suffix = filter.endsWith(QLatin1String("(*.svg)")) ? QStringLiteral(".svg")
                                                                         : QStringLiteral(".png");
        if (!chosen.path.isEmpty() && QFileInfo(chosen.path).suffix().isEmpty())
            chosen.path += suffix;
        break;
    }
    }
    return chosen;
}

// Only the first of several dropped files is loaded. A file that gives no valid structure
// changes nothing here: the old results, plots and scales stay. A structure that would run
// for hours or has no sensible period is refused before anything else changes.
void Body::droppedInputFile(QStringList fileList) {
    if (fileList.isEmpty())
        return;
    openDropped(fileList.first());
}

// A file that a scan reader recognises is a measured scan, compared with the structure last
// opened; anything else (a folder or a device too, which the loader refuses) takes the
// structure road. No structure file looks like a scan to the readers.
void Body::openDropped(const QString& path) {
    const ScanReadResult probe = readScanFile(path);
    if (!probe.recognised) {
        startRoad({path, QString(), Origin::Opened, QString()});
        return;
    }
    if (!probe.ok) {
        log(probe.error);
        return;
    }
    if (currentStructure.isEmpty()) {
        log(tr("No structure to compare [%1] with: open a structure file first.").arg(path));
        return;
    }
    const QString scan = QFileInfo(path).absoluteFilePath();
    startRoad(
        {currentStructure, scan, Origin::Opened,
         tr("Add the line MEASURED %1 to the structure file to keep it.").arg(fileToken(scan))});
}

// Loads the structure and runs the one road: synchronously for a quick calculation (the
// repaints follow once the event loop runs), otherwise off the GUI thread.
void Body::startRoad(const RoadRequest& request) {
    if (request.structure.isEmpty())
        return;
    LoadedStructure loaded = loadStructure(config, request.structure);
    for (const QString& problem : qAsConst(config.ext.problems))
        log(problem);
    if (loaded.status == LoadedStructure::Refused)
        log(loaded.message);
    if (loaded.status != LoadedStructure::NotOpened) {
        currentStructure = request.structure;
        currentScan = request.scanOverride;
        watch({request.structure, scanPathFor(config, request.scanOverride)});
    }
    updateActions();
    if (loaded.status != LoadedStructure::Ready)
        return;
    if (request.origin == Origin::Opened || request.origin == Origin::Fitted)
        addRecent(request.structure);
    stopFitFor(request.origin);
    if (road->running()) {
        road->cancel();
        roadJob.reset();
        progress.stop();
        progressBar->hide();
        cancelButton->hide();
    }

    // A change on disk keeps the ranges shown, as "Keep Scale" does.
    const bool keepScale = request.origin == Origin::ChangedOnDisk || KeepScale->isChecked();
    std::unique_ptr<Calculation> calculation = std::move(loaded.calculation);
    const bool quick = calculation->work() <= kQuickWork &&
                       scanPathFor(config, request.scanOverride).isEmpty() &&
                       calculation->model().quickOnGuiThread();
    if (!quick) {
        runInBackground(request, std::move(calculation), keepScale);
        return;
    }
    if (!keepScale) {
        neverDrawComp = true;
        neverDrawKSpace = true;
    }
    // Profile, repaint request of the composition plot, profile file, curve, repaint request
    // of the diffraction plot, the point count on the debug output, curve file.
    CalculationHooks hooks;
    hooks.profileReady = [this] { Comp->update(); };
    hooks.curveReady = [this] { KSpace->update(); };
    hooks.control.threads = threads;
    QElapsedTimer timer;
    timer.start();
    const RoadOutcome outcome = runRoad(*calculation, *results, hooks, request.scanOverride);
    roadFinished(request, outcome, double(timer.nsecsElapsed()) * 1e-9,
                 calculation->model().name());
}

// The worker writes the profile file only after the curve, so a cancelled calculation leaves
// every file as it was; the results replace the shown ones only when complete.
void Body::runInBackground(const RoadRequest& request, std::unique_ptr<Calculation> calculation,
                           bool keepScale) {
    auto job = std::make_shared<RoadJob>();
    job->estimatedPoints = calculation->estimatedPoints();
    const QString model = calculation->model().name();
    job->calculation = std::move(calculation);
    job->scanOverride = request.scanOverride;
    job->threads = threads;
    roadJob = job;
    road->start(
        [job] {
            QElapsedTimer timer;
            timer.start();
            CalculationHooks hooks;
            hooks.writeAfterCurve = true;
            hooks.control.threads = job->threads;
            hooks.control.cancel = &job->cancel;
            hooks.control.pointsDone = &job->pointsDone;
            job->outcome = runRoad(*job->calculation, job->results, hooks, job->scanOverride);
            job->seconds = double(timer.nsecsElapsed()) * 1e-9;
        },
        [this, job, request, keepScale, model] {
            roadJob.reset();
            showProgress();
            if (job->outcome.files.cancelled)
                return;
            *results = std::move(job->results);
            if (!keepScale) {
                neverDrawComp = true;
                neverDrawKSpace = true;
            }
            Comp->update();
            KSpace->update();
            roadFinished(request, job->outcome, job->seconds, model);
        },
        [job] { job->cancel = true; });
    note->setText(tr("Computing [%1]…").arg(QFileInfo(request.structure).fileName()));
    showProgress();
    progress.start();
}

// The lines of a complete road, the overlay of its scan, the title and the status note.
void Body::roadFinished(const RoadRequest& request, const RoadOutcome& outcome, double seconds,
                        const QString& model) {
    for (const QString& line : outcome.notes)
        log(line);
    const CalculationOutcome& files = outcome.files;
    if (!files.profileWritten)
        log(tr("Can't write [%1].").arg(files.profileFile));
    if (!files.curveWritten)
        log(tr("Can't write [%1].").arg(files.curveFile));
    const ScanOutcome& scan = outcome.scan;
    for (const QString& line : scan.log)
        log(line);
    if (scan.ok) {
        const bool arrived = !overlay || overlayScan != scan.scan.fileName;
        overlay = OverlayData{scan.model.theta, scan.model.measured, scan.model.model,
                              peakAngles(scan.measuredPeaks), peakAngles(scan.modelPeaks)};
        overlayScan = scan.scan.fileName;
        if (!request.noteWhenCompared.isEmpty())
            log(request.noteWhenCompared);
        // A measurement is read on the logarithmic scale.
        if (arrived && !LogScale->isChecked())
            LogScale->setChecked(true);
    } else {
        overlay.reset();
        overlayScan.clear();
    }
    KSpace->update();
    setWindowTitle(
        QStringLiteral("%1 \u2014 %2")
            .arg(QString::fromLatin1(kProgram), QFileInfo(request.structure).fileName()));
    note->setText(tr("%1 curve points, %2 model, %3 s")
                      .arg(files.points)
                      .arg(model)
                      .arg(seconds, 0, 'f', seconds < 10 ? 2 : 1));
    updateActions();
}

// The calculation in hand is abandoned: its thread stops at its next look at the flag and
// its results never arrive. A fit in hand is stopped, keeping its best point.
void Body::cancelCalculation() {
    if (road->running()) {
        const QString name = roadJob ? roadJob->calculation->structure().fileName : QString();
        road->cancel();
        roadJob.reset();
        showProgress();
        note->clear();
        log(tr("Cancelled the calculation of [%1]; the previous results stay.").arg(name));
        return;
    }
    stopFit();
}

// The progress bar and the Cancel button show while work runs off the GUI thread: the
// calculation's points done against its estimate, or a busy bar for a fit.
void Body::showProgress() {
    const bool fitting = fit->running();
    if (!roadJob && !fitting) {
        progress.stop();
        progressBar->hide();
        cancelButton->hide();
        return;
    }
    if (roadJob) {
        const double done = double(roadJob->pointsDone.load(std::memory_order_relaxed));
        const double part = roadJob->estimatedPoints > 0 ? done / roadJob->estimatedPoints : 0.0;
        progressBar->setRange(0, kProgressSteps);
        progressBar->setValue(int(std::clamp(part, 0.0, 1.0) * kProgressSteps));
    } else {
        progressBar->setRange(0, 0);
    }
    progressBar->show();
    cancelButton->show();
}

// The fit runs on a copy of the structure. Its progress (the generation, the agreement and
// the model of the best point, computed on the fit's thread) is queued to this thread; at
// the end the report goes to the log and the fitted structure is opened with the same scan.
void Body::startFit() {
    if (fit->running() || !fitAction->isEnabled())
        return;
    auto job = std::make_shared<FitJob>();
    job->structure = config;
    job->scanOverride = currentScan;
    job->threads = threads;
    fitJob = job;
    log(tr("Fitting [%1]…").arg(config.fileName));
    Body* const self = this;
    FitJob* const id = job.get();
    fit->start(
        [job, self, id] {
            FitSettings settings;
            settings.scanOverride = job->scanOverride;
            settings.threads = job->threads;
            settings.stop = &job->stop;
            const StructureFit* running = nullptr;
            settings.progress = [&running, self, id](int generation, double agreement,
                                                     const std::vector<double>& best) {
                OverlayData shown;
                ModelAtScan m;
                if (running && running->modelFor(best, m)) {
                    shown.theta = m.theta;
                    shown.measured = m.measured;
                    shown.model = m.model;
                }
                QMetaObject::invokeMethod(
                    self,
                    [self, id, generation, agreement, shown] {
                        if (self->fitJob.get() == id)
                            self->fitProgress(generation, agreement, shown);
                    },
                    Qt::QueuedConnection);
            };
            const StructureFit structureFit(job->structure, settings);
            running = &structureFit;
            job->report = structureFit.run();
            running = nullptr;
        },
        [this, job] {
            fitJob.reset();
            showProgress();
            note->clear();
            for (const QString& line : qAsConst(job->report.log))
                log(line);
            updateActions();
            if (job->report.ok)
                startRoad({job->report.fittedFile, job->scanOverride, Origin::Fitted, QString()});
        },
        [job] { job->stop = true; });
    note->setText(tr("Fit: starting"));
    showProgress();
    progress.start();
    updateActions();
}

// Ends the search early; the fit still writes its best point and the window shows it.
void Body::stopFit() {
    if (!fit->running() || !fitJob || fitJob->stop)
        return;
    fitJob->stop = true;
    log(tr("Stopping the fit; it keeps the best point so far."));
}

void Body::fitProgress(int generation, double agreement, const OverlayData& best) {
    note->setText(tr("Fit: generation %1, agreement %2").arg(generation).arg(agreement, 0, 'g', 5));
    if (best.theta.isEmpty())
        return;
    QVector<double> measuredPeaks = overlay ? overlay->measuredPeaks : QVector<double>();
    overlay = best;
    overlay->measuredPeaks = measuredPeaks;
    KSpace->update();
}

// A new structure road abandons a fit in hand: what it would find belongs to another file.
bool Body::stopFitFor(Origin origin) {
    if (!fit->running() || origin == Origin::Fitted)
        return false;
    fit->cancel();
    fitJob.reset();
    showProgress();
    log(origin == Origin::ChangedOnDisk
            ? tr("Fit stopped: [%1] changed on disk.").arg(currentStructure)
            : tr("Fit stopped: a new file was dropped."));
    updateActions();
    return true;
}

// The structure file and its scan are watched. An editor that saves by writing a new file
// and renaming it over the old one leaves the watch on the old file, so every path is
// watched afresh after each change.
void Body::watch(const QStringList& paths) {
    QStringList wanted;
    for (const QString& p : paths)
        if (!p.isEmpty())
            wanted << QFileInfo(p).absoluteFilePath();
    wanted.removeDuplicates();
    if (!watcher.files().isEmpty())
        watcher.removePaths(watcher.files());
    watched = wanted;
    missingChecks = 0;
    for (const QString& p : qAsConst(watched))
        if (QFileInfo::exists(p))
            watcher.addPath(p);
}

void Body::changedOnDisk() {
    quiet.start();
}

// Once the files have been quiet for a moment: watched afresh, and the structure computed
// again with the ranges kept. A file still missing after several pauses is gone for good.
void Body::reloadChanged() {
    QStringList missing;
    for (const QString& p : qAsConst(watched)) {
        if (watcher.files().contains(p))
            watcher.removePath(p);
        if (QFileInfo::exists(p))
            watcher.addPath(p);
        else
            missing << p;
    }
    if (!missing.isEmpty() && ++missingChecks < kMissingChecks) {
        quiet.start();
        return;
    }
    missingChecks = 0;
    for (const QString& p : qAsConst(missing)) {
        log(tr("Stopped watching [%1]: it is gone.").arg(p));
        watched.removeAll(p);
    }
    if (currentStructure.isEmpty() ||
        !watched.contains(QFileInfo(currentStructure).absoluteFilePath()))
        return;
    log(tr("Reloading [%1]: it changed on disk.").arg(currentStructure));
    startRoad({currentStructure, currentScan, Origin::ChangedOnDisk, QString()});
}

void Body::exportTo(const QString& path, bool diffractionOnly) {
    if (results->depth.isEmpty() && results->theta.isEmpty()) {
        log(tr("Nothing to export to [%1]: no structure has been computed.").arg(path));
        return;
    }
    const QSize size = KSpace->isVisible() ? KSpace->size() : QSize(800, 600);
    const bool written = exportPlots(path, *results, LogScale->isChecked(), size,
                                     overlay ? &*overlay : nullptr, diffractionOnly);
    log((written ? tr("Wrote [%1].") : tr("Can't write [%1].")).arg(path));
}

void Body::addRecent(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    QSettings settings;
    QStringList recent = settings.value(QString::fromLatin1(kRecentKey)).toStringList();
    recent.removeAll(full);
    recent.prepend(full);
    while (recent.size() > kMaxRecent)
        recent.removeLast();
    settings.setValue(QString::fromLatin1(kRecentKey), recent);
    fillRecentMenu();
}

void Body::fillRecentMenu() {
    recentMenu->clear();
    const QStringList recent = QSettings().value(QString::fromLatin1(kRecentKey)).toStringList();
    for (int i = 0; i < recent.size() && i < kMaxRecent; ++i) {
        const QString& path = recent.at(i);
        QAction* a = recentMenu->addAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()), this,
            [this, path] { openDropped(path); });
        a->setToolTip(path);
        a->setStatusTip(path);
    }
    recentMenu->setEnabled(!recent.isEmpty());
}

void Body::updateActions() {
    reloadAction->setEnabled(!currentStructure.isEmpty());
    const bool fitting = fit->running();
    const bool fittable =
        config.valid && !config.ext.fits.isEmpty() && !scanPathFor(config, currentScan).isEmpty();
    fitAction->setEnabled(fittable && !fitting);
    stopAction->setEnabled(fitting);
}

void Body::showHelp() {
    if (!helpWindow) {
        auto* dialog = new QDialog(this);
        dialog->setWindowTitle(tr("%1 Help").arg(QString::fromLatin1(kProgram)));
        auto* text = new QTextBrowser(dialog);
        text->setHtml(helpText());
        auto* layout = new QVBoxLayout(dialog);
        layout->addWidget(text);
        dialog->resize(640, 560);
        helpWindow = dialog;
    }
    helpWindow->show();
    helpWindow->raise();
}

void Body::showAbout() {
    QMessageBox::about(
        this, tr("About %1").arg(QString::fromLatin1(kProgram)),
        tr("<b>%1 %2</b><p>X-ray diffraction curves of epitaxial In(x)Ga(1-x)As(y)P(1-y) "
           "multilayers: basic, kinematical and dynamical models, comparison with measured "
           "scans, and fits.</p>")
            .arg(QString::fromLatin1(kProgram), QStringLiteral(XRDSIM_VERSION)));
}

// At the text cursor, so a message goes where the user last clicked in the pane; the pane
// scrolls to show it.
void Body::log(QString logMsg) {
    Log->insertPlainText(logMsg + QStringLiteral("\n"));
    Log->ensureCursorVisible();
}

// Without data the plot stays empty and its frame keeps the display's whole area. Otherwise
// the plot rectangle goes inside the margins and, while the flag is set, the ranges are
// derived from the data and the flag is cleared; at other times the user's zoom is kept.
void Body::drawComp(QPainter* p) {
    if (results->depth.isEmpty())
        return;
    Comp->coord.applyMargins();
    if (neverDrawComp) {
        if (const std::optional<PlotRange> range = compositionRange(*results))
            showRange(Comp->coord, *range);
        neverDrawComp = false;
    }
    drawComposition(*p, Comp->coord, *results);
}

// As drawComp; "Log" is read at every paint. With a measured scan the plot shows the scan
// and the model at its angles instead of the whole curve.
void Body::drawKSpace(QPainter* p) {
    const bool logarithmic = LogScale->isChecked();
    if (overlay) {
        if (overlay->theta.isEmpty())
            return;
        KSpace->coord.applyMargins();
        if (neverDrawKSpace) {
            if (const std::optional<PlotRange> range = overlayRange(*overlay, logarithmic))
                showRange(KSpace->coord, *range);
            neverDrawKSpace = false;
        }
        drawOverlay(*p, KSpace->coord, *overlay, logarithmic);
        return;
    }
    if (results->theta.isEmpty())
        return;
    KSpace->coord.applyMargins();
    if (neverDrawKSpace) {
        if (const std::optional<PlotRange> range =
                diffractionRange(results->theta, results->intensity, logarithmic))
            showRange(KSpace->coord, *range);
        neverDrawKSpace = false;
    }
    drawDiffraction(*p, KSpace->coord, results->theta, results->intensity, logarithmic);
}

void Body::resetNeverDraw() {
    neverDrawComp = true;
    neverDrawKSpace = true;
}

// The scale switches between linear and logarithmic, so the diffraction plot rescales at
// once; the composition plot rescales at its next paint.
void Body::logScale(bool f) {
    Q_UNUSED(f)
    neverDrawComp = true;
    neverDrawKSpace = true;
    KSpace->update();
}
