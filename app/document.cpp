#include "app/document.h"

#include "analysis/scanalone.h"
#include "analysis/scanroad.h"
#include "app/backgroundtask.h"
#include "app/filewatch.h"
#include "measured/readers.h"
#include "report/scanoverlay.h"
#include "simulation/calculation.h"
#include "simulation/outputguard.h"
#include "simulation/resultarrays.h"
#include "simulation/resultfiles.h"
#include "structure/config.h"
#include "structure/extensions.h"
#include "structure/fitparameters.h"
#include "structure/structurefile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {

// Curve points times their cost in single-monolayer terms (Calculation::work) above which a
// calculation runs off the GUI thread: summing goes at about 1.3e9 terms a second on one
// core, so this is a tenth of a second. Below it the road stays synchronous, as it always
// was, and the window is back before anyone would notice.
constexpr double kQuickWork = 1.5e8;

// The interval at which the calculation's progress is looked at.
constexpr int kProgressMs = 100;

// How long a closing document waits for its threads before leaving them to end on their own.
constexpr int kFinalWaitMs = 300;

} // namespace

// A calculation off the GUI thread: the calculation holds its own copy of the structure (the
// loader may read the next file meanwhile), fresh result arrays, and the flags the GUI thread
// reads.
struct Document::RoadJob {
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

Document::Document(QObject* parent)
    : QObject(parent), model_(makeModel(Structure().ext.model)),
      shownFile_(std::make_shared<ShownFile>()), threads_(QThread::idealThreadCount()) {
    connect(&config_, &Config::log, this, &Document::logLine);
    road_ = new BackgroundTask(this);
    fit_ = new BackgroundTask(this);
    watch_ = new FileWatch(this);
    connect(watch_, &FileWatch::changed, this, &Document::changedOnDisk);
    connect(watch_, &FileWatch::gone, this, &Document::goneFromDisk);
    poll_ = new QTimer(this);
    poll_->setInterval(kProgressMs);
    connect(poll_, &QTimer::timeout, this, &Document::showProgress);
}

// The fit and the calculation are stopped and their threads joined before anything they
// report to goes.
Document::~Document() {
    delete fit_;
    fit_ = nullptr;
    delete road_;
    road_ = nullptr;
}

void Document::open(const QString& structure, const QString& scan) {
    startRoad({structure, scan.isEmpty() ? QString() : QFileInfo(scan).absoluteFilePath(),
               Origin::Opened, QString(), nullptr});
}

void Document::reload() {
    startRoad({current_, currentScan_, Origin::Reloaded, QString(), nullptr});
}

bool Document::busy() const {
    return road_->running() || fit_->running();
}

bool Document::calculating() const {
    return road_->running();
}

bool Document::fitting() const {
    return fit_->running();
}

int Document::threads() const {
    return road_->threads() + fit_->threads();
}

bool Document::canFit() const {
    return fitUnavailable().isEmpty();
}

QString Document::fitUnavailable() const {
    if (fitting())
        return tr("A fit is running: Stop keeps its best point, Cancel discards it.");
    if (calculating())
        return tr("A calculation is running: Fit is available once it has ended.");
    if (!shown().valid || current_.isEmpty())
        return tr("Open a structure file with FIT lines and a MEASURED scan to fit it.");
    const QString name = QFileInfo(current_).fileName();
    if (shown().ext.fits.isEmpty()) {
        const bool malformed =
            std::any_of(shown().ext.problems.cbegin(), shown().ext.problems.cend(),
                        [](const QString& line) { return line.contains(QLatin1String(": FIT ")); });
        return malformed ? tr("[%1] has no usable FIT line: the log says what is wrong with "
                              "them.")
                               .arg(name)
                         : tr("[%1] has no FIT line: add one per value the fit may move, such "
                              "as FIT LAYER 1 N 100 200.")
                               .arg(name);
    }
    if (scanPathFor(shown(), currentScan_).isEmpty())
        return tr("[%1] names no measured scan: add a MEASURED line or open a scan with File "
                  "→ Open Measured Scan.")
            .arg(name);
    return QString();
}

// One FITOPTIONS line for the options in the structure file on show, through its one writer.
bool Document::writeFitOptions(const FitSearchOptions& options) {
    if (current_.isEmpty())
        return false;
    // The text on show (the edit reads the file again and goes into what is there now).
    StructureFile file = shownFile_ && shownFile_->path() == current_ && shownFile_->file.isRead()
                             ? shownFile_->file
                             : StructureFile(current_);
    const StructureFile::Edit e = file.edit([&](StructureText& text) {
        setFitOptionsLine(text, options);
        return true;
    });
    if (e.result == StructureFile::Edit::Written)
        log(tr("Wrote %1 into [%2].").arg(fitOptionsLine(options), current_));
    else if (e.result != StructureFile::Edit::Unchanged)
        log(e.message);
    return e.result == StructureFile::Edit::Written || e.result == StructureFile::Edit::Unchanged;
}

void Document::setThreads(int count) {
    threads_ = std::max(1, count);
}

// Loads the structure and runs the one road: synchronously for a quick calculation (the
// repaints follow once the event loop runs), otherwise off the GUI thread. A file that gives
// no structure to show leaves the one on show in charge: its title, F5, Fit and the watch.
void Document::startRoad(const RoadRequest& request) {
    if (request.structure.isEmpty())
        return;
    // What the fit would find belongs to a file that is no longer as it was.
    if (request.origin == Origin::Reloaded)
        abandonFit(tr("[%1] is loaded again").arg(request.structure));
    // Read once; a file too large to hold is streamed by the loader (and listed nowhere).
    const std::shared_ptr<const StructureFile> text =
        request.file ? request.file : std::make_shared<const StructureFile>(request.structure);
    LoadedStructure loaded =
        text->isRead() ? loadStructure(config_, *text) : loadStructure(config_, request.structure);
    for (const QString& problem : qAsConst(config_.ext.problems))
        log(problem);
    if (loaded.status == LoadedStructure::Ready) {
        // No result may replace an input: a scan named NAME-meas.EXT, say.
        const QStringList clashes =
            refuseClashes(
                {{request.structure,
                  QStringList{request.structure} + scanPathsFor(config_, request.scanOverride),
                  resultPaths(request.structure, QString(),
                              measTagsFor(config_, request.scanOverride), false,
                              !config_.ext.fits.isEmpty())}})
                .value(0);
        if (!clashes.isEmpty()) {
            loaded.status = LoadedStructure::Refused;
            loaded.message = clashes.join(QLatin1Char('\n'));
        }
    }
    if (loaded.status == LoadedStructure::Invalid || loaded.status == LoadedStructure::Refused) {
        log(loaded.message);
        if (!current_.isEmpty())
            log(tr("Still showing [%1].").arg(current_));
    }
    if (loaded.status != LoadedStructure::Ready) {
        emit actionsChanged();
        return;
    }
    if (request.origin == Origin::Opened)
        abandonFit(tr("[%1] was opened")
                       .arg(request.scanOverride.isEmpty() ? request.structure
                                                           : overridePathOf(request.scanOverride)));
    current_ = request.structure;
    currentScan_ = request.scanOverride;
    aloneScan_.clear();
    auto file = std::make_shared<ShownFile>();
    file->file = *text;
    file->structure = config_;
    file->scanOverride = request.scanOverride;
    shownFile_ = std::move(file);
    watch_->watch(QStringList{request.structure} + scanPathsFor(config_, request.scanOverride));
    if (request.origin == Origin::Opened || request.origin == Origin::Fitted)
        emit opened(request.structure);
    dropCalculation();
    emit actionsChanged();

    // A change on disk keeps the ranges shown, as "Keep Scale" does.
    const bool keepScale = request.origin == Origin::ChangedOnDisk || keepScale_;
    std::unique_ptr<Calculation> calculation = std::move(loaded.calculation);
    const bool quick = calculation->work() <= kQuickWork &&
                       scanPathFor(config_, request.scanOverride).isEmpty() &&
                       calculation->model().quickOnGuiThread();
    if (!quick) {
        runInBackground(request, std::move(calculation), keepScale);
        return;
    }
    if (!keepScale)
        emit freshRanges();
    // Profile, repaint request of the composition plot, profile file, curve, repaint request
    // of the diffraction plot, the point count on the debug output, curve file.
    CalculationHooks hooks;
    hooks.profileReady = [this] { emit profileChanged(); };
    hooks.curveReady = [this] { emit curveChanged(); };
    hooks.control.threads = threads_;
    QElapsedTimer timer;
    timer.start();
    model_ = makeModel(calculation->model().kind());
    const RoadOutcome outcome = runRoad(*calculation, results_, hooks, request.scanOverride);
    roadFinished(request, outcome, double(timer.nsecsElapsed()) * 1e-9,
                 calculation->model().name());
}

// The worker writes the profile file only after the curve, so a cancelled calculation leaves
// every file as it was; the results replace the shown ones only when complete.
void Document::runInBackground(const RoadRequest& request, std::unique_ptr<Calculation> calculation,
                               bool keepScale) {
    auto job = std::make_shared<RoadJob>();
    job->estimatedPoints = calculation->estimatedPoints();
    const QString model = calculation->model().name();
    job->calculation = std::move(calculation);
    job->scanOverride = request.scanOverride;
    job->threads = threads_;
    roadJob_ = job;
    road_->start(
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
            roadJob_.reset();
            showProgress();
            if (job->outcome.files.cancelled) {
                emit actionsChanged();
                return;
            }
            results_ = std::move(job->results);
            model_ = makeModel(job->calculation->model().kind());
            if (!keepScale)
                emit freshRanges();
            emit profileChanged();
            emit curveChanged();
            roadFinished(request, job->outcome, job->seconds, model);
        },
        [job] { job->cancel = true; });
    emit status(tr("Computing [%1]…").arg(QFileInfo(request.structure).fileName()));
    showProgress();
    poll_->start();
    emit actionsChanged();
}

// The lines of a complete road, the overlay of its scan, the title and the status note.
void Document::roadFinished(const RoadRequest& request, const RoadOutcome& outcome, double seconds,
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
    lastScan_ = std::make_shared<const ScanOutcome>(scan);
    if (scan.ok) {
        const bool arrived = !overlay_ || overlayScan_ != scan.scan.fileName;
        overlay_ = overlayOf(scan);
        overlayScan_ = scan.scan.fileName;
        if (!request.noteWhenCompared.isEmpty())
            log(request.noteWhenCompared);
        // A measurement is read on the logarithmic scale.
        if (arrived)
            emit scanArrived();
    } else {
        overlay_.reset();
        overlayScan_.clear();
    }
    // What the sliders fit against: the scans just read, when every one was.
    shownFile_->scans.clear();
    for (const ScanOutcome& s : outcome.scans)
        shownFile_->scans << s.scan;
    if (!std::all_of(outcome.scans.cbegin(), outcome.scans.cend(),
                     [](const ScanOutcome& s) { return s.ok; }))
        shownFile_->scans.clear();
    shownFile_->measuredPeaks = overlay_ ? overlay_->measuredPeaks : QVector<double>();
    emit curveChanged();
    emit currentFileChanged(request.structure);
    emit status(tr("%1 curve points, %2 model, %3 s")
                    .arg(files.points)
                    .arg(model)
                    .arg(seconds, 0, 'f', seconds < 10 ? 2 : 1));
    emit actionsChanged();
}

// A calculation in hand is abandoned without a word: a new one takes its place.
void Document::dropCalculation() {
    if (!road_->running())
        return;
    road_->cancel();
    roadJob_.reset();
    poll_->stop();
    emit busyChanged(busy());
}

// The calculation in hand is abandoned: its thread stops at its next look at the flag and
// its results never arrive. A fit in hand is stopped, keeping its best point.
void Document::cancel() {
    if (road_->running()) {
        const QString name = roadJob_ ? roadJob_->calculation->structure().fileName : QString();
        road_->cancel();
        roadJob_.reset();
        showProgress();
        emit status(QString());
        log(tr("Cancelled the calculation of [%1]; the previous results stay.").arg(name));
        emit actionsChanged();
        return;
    }
    cancelFit();
}

// Progress shows while work runs off the GUI thread: the calculation's points done against
// its estimate, or a busy bar for a fit.
void Document::showProgress() {
    if (!roadJob_ && !fit_->running()) {
        poll_->stop();
        emit busyChanged(false);
        return;
    }
    if (roadJob_) {
        const double done = double(roadJob_->pointsDone.load(std::memory_order_relaxed));
        const double part = roadJob_->estimatedPoints > 0 ? done / roadJob_->estimatedPoints : 0.0;
        emit progress(std::clamp(part, 0.0, 1.0));
    } else {
        emit progress(fitPart_);
    }
    emit busyChanged(true);
}

void Document::close() {
    abandonFit(tr("the window closes"));
    dropCalculation();
    fit_->setFinalWait(kFinalWaitMs);
    road_->setFinalWait(kFinalWaitMs);
}
