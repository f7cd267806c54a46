// The document's fit: run off the GUI thread on a copy of the structure on show, shown while
// it runs, and opened when it has written NAME-fitted.EXT. A fit whose result is no longer
// wanted (its files changed, another file was opened, F5, the window closes) is abandoned and
// writes nothing.

#include "app/document.h"
#include "report/scanoverlay.h"

#include "analysis/fitroad.h"
#include "app/backgroundtask.h"
#include "structure/config.h"
#include "structure/extensions.h"
#include "structure/fitparameters.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {

// A fit in the window ends at its best point after this long, as the batch tool's default.
constexpr double kFitSeconds = 600.0;

} // namespace

// A fit off the GUI thread, on its own copy of the structure. Its progress reaches the
// document only while `receiver` is set: cleared (under the lock) when the fit is abandoned,
// so that a thread left to end on its own never posts to a document that went.
struct Document::FitJob {
    Structure structure;
    QString scanOverride;
    int threads = 1;
    std::atomic<bool> stop{false};
    std::atomic<bool> abandon{false};
    FitReport report; // written by the worker, read after it ended
    // The search's limits, and where it is (GUI thread only): for the progress shown.
    FitSettings limits;
    int generationLimit = 0;
    QElapsedTimer clock;
    QMutex lock;
    Document* receiver = nullptr;
    unsigned seed = FitSettings().seed;
    // The overlay of the file's model when the fit began: shown again when it is cancelled.
    std::optional<OverlayData> before;
};

// The fit runs on a copy of the structure on show. Its progress (the generation, the
// agreement and the model of the best point, computed on the fit's thread) is queued to this
// thread; at the end the report goes to the log and the fitted structure is opened with the
// same scan.
void Document::startFit() {
    if (!canFit())
        return;
    // Every faulty FIT line at once, so that one round of editing mends them all.
    const QStringList problems = fitProblems(shown());
    if (!problems.isEmpty()) {
        for (const QString& line : problems)
            log(line);
        return;
    }
    const QString unwritable = fittedFileProblem(shown());
    if (!unwritable.isEmpty()) {
        log(unwritable);
        return;
    }
    auto job = std::make_shared<FitJob>();
    job->structure = shown();
    job->scanOverride = currentScan_;
    job->threads = threads_;
    job->receiver = this;
    job->before = overlay_;
    job->limits.maxSeconds = kFitSeconds;
    applyFitOptions(shown(), job->limits);
    job->seed = job->limits.seed; // a FITOPTIONS SEED, or the default
    FitProblem limits;
    limits.maxGenerations = job->limits.maxGenerations;
    job->generationLimit = generationLimit(limits);
    job->clock.start();
    fitPart_ = -1;
    fitJob_ = job;
    const FitSettings& l = job->limits;
    log(tr("Fitting [%1]: seed %2, population %3, at most %4 generations and %5 s.")
            .arg(shown().fileName)
            .arg(l.seed)
            .arg(l.populationSize > 0 ? QString::number(l.populationSize) : tr("by default"))
            .arg(job->generationLimit)
            .arg(l.maxSeconds));
    fit_->start(
        [job] {
            FitSettings settings = job->limits;
            settings.scanOverride = job->scanOverride;
            settings.threads = job->threads;
            settings.stop = &job->stop;
            settings.abandon = &job->abandon;
            settings.peakStart = true;
            settings.seed = job->seed;
            const StructureFit* running = nullptr;
            FitJob* const id = job.get();
            settings.progress = [&running, id](int generation, double agreement,
                                               const std::vector<double>& best) {
                if (id->abandon)
                    return;
                OverlayData shown;
                ModelAtScan m;
                if (running && running->modelFor(best, m))
                    shown = overlayOf(m);
                const QMutexLocker locked(&id->lock);
                Document* const self = id->receiver;
                if (!self)
                    return;
                QMetaObject::invokeMethod(
                    self,
                    [self, id, generation, agreement, shown] {
                        if (self->fitJob_.get() == id)
                            self->fitMoved(generation, agreement, shown);
                    },
                    Qt::QueuedConnection);
            };
            const StructureFit structureFit(job->structure, settings);
            const QString estimate = structureFit.costEstimate();
            if (!estimate.isEmpty()) {
                const QMutexLocker locked(&id->lock);
                if (Document* const self = id->receiver)
                    QMetaObject::invokeMethod(
                        self,
                        [self, id, estimate] {
                            if (self->fitJob_.get() == id)
                                self->log(estimate);
                        },
                        Qt::QueuedConnection);
            }
            running = &structureFit;
            job->report = structureFit.run();
            running = nullptr;
        },
        [this, job] { fitEnded(job); },
        [job] {
            const QMutexLocker locked(&job->lock);
            job->receiver = nullptr;
            job->abandon = true;
            job->stop = true;
        });
    emit status(tr("Fit: starting"));
    showProgress();
    poll_->start();
    emit actionsChanged();
}

void Document::fitEnded(const std::shared_ptr<FitJob>& job) {
    fitJob_.reset();
    showProgress();
    emit status(QString());
    for (const QString& line : qAsConst(job->report.log))
        log(line);
    emit actionsChanged();
    if (job->report.ok) {
        lastFit_ = std::make_shared<const FitReport>(job->report);
        lastFitSeed_ = job->seed;
    }
    if (job->report.ok)
        startRoad({job->report.fittedFile, job->scanOverride, Origin::Fitted, QString(), nullptr});
}

// The plot goes back to the file's model, which the fit's progress had replaced.
void Document::cancelFit() {
    const std::shared_ptr<FitJob> job = fitJob_;
    if (!abandonFit(tr("it was cancelled")) || !job)
        return;
    overlay_ = job->before;
    emit curveChanged();
}

// Ends the search early; the fit still writes its best point and the window shows it.
void Document::stopFit() {
    if (!fit_->running() || !fitJob_ || fitJob_->stop)
        return;
    fitJob_->stop = true;
    log(tr("Stopping the fit; it keeps the best point so far."));
}

// The generation out of the most the search runs, and the time left: the rest of the
// generations at the pace so far, never beyond the time limit (the search may also settle
// earlier).
void Document::fitMoved(int generation, double agreement, const OverlayData& best) {
    QString left;
    if (fitJob_) {
        const FitJob& job = *fitJob_;
        const double elapsed = double(job.clock.elapsed()) / 1000.0;
        double seconds = generation > 0 ? elapsed / generation *
                                              double(std::max(job.generationLimit - generation, 0))
                                        : job.limits.maxSeconds;
        if (job.limits.maxSeconds > 0)
            seconds = std::min(seconds, std::max(job.limits.maxSeconds - elapsed, 0.0));
        if (std::isfinite(seconds))
            left = tr(", at most about %1 s left").arg(seconds, 0, 'f', 0);
        fitPart_ = job.generationLimit > 0
                       ? std::clamp(double(generation) / job.generationLimit, 0.0, 1.0)
                       : -1.0;
        emit progress(fitPart_);
    }
    emit status(tr("Fit: generation %1 of %2, agreement %3%4")
                    .arg(generation)
                    .arg(fitJob_ ? fitJob_->generationLimit : 0)
                    .arg(agreement, 0, 'g', 5)
                    .arg(left));
    emit fitProgress(generation, agreement);
    if (best.theta.isEmpty())
        return;
    QVector<double> measuredPeaks = overlay_ ? overlay_->measuredPeaks : QVector<double>();
    overlay_ = best;
    overlay_->measuredPeaks = measuredPeaks;
    emit curveChanged();
}

// The fit in hand stops at once and writes nothing; one line says why.
bool Document::abandonFit(const QString& why) {
    if (!fit_->running())
        return false;
    const QString name = fitJob_ ? fitJob_->structure.fileName : QString();
    fit_->cancel();
    fitJob_.reset();
    showProgress();
    emit status(QString());
    log(tr("Fit of [%1] abandoned, nothing written: %2.").arg(name, why));
    emit actionsChanged();
    return true;
}
