#pragma once

#include "app/shownfile.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"
#include "views/overlayview.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class BackgroundTask;
class Calculation;
class FileWatch;
class Model;
class QTimer;
struct FitSearchOptions;
struct ScanReadResult;
struct RoadOutcome;
struct ScanOutcome;
struct FitReport;

// What the window shows, without a widget, and the one source of every view: the structure
// file on show and the scan compared with it, the road that loads and computes them (on the
// GUI thread when quick, otherwise off it), the results and the model that computed them, the
// overlay of the scan, the watch on both files and the fit. Every line for the log, the
// loader's included, goes out through logLine.
class Document : public QObject {
    Q_OBJECT
public:
    explicit Document(QObject* parent = nullptr);
    ~Document() override;

    // Opens a structure file; `scan` (when given) is compared with it in place of its
    // MEASURED line.
    void open(const QString& structure, const QString& scan = QString());
    // A measured scan is compared with the structure on show; anything else is opened as a
    // structure file.
    // `choices`: a scan's import choices in the words of a MEASURED line (may be empty).
    void openDropped(const QString& path, const QString& choices = QString());
    // Loads the structure on show again (F5).
    void reload();

    // Abandons the calculation in hand (the shown results stay), or else the fit (which then
    // writes nothing).
    void cancel();
    void startFit();
    // Ends the search early; the fit still writes its best point, which is then shown.
    void stopFit();
    // Abandons the fit in hand: nothing is written.
    void cancelFit();
    // Stops everything for good (the window closes): a fit in hand writes nothing, and a
    // thread that does not end at once is left to end on its own.
    void close();

    bool busy() const;
    bool calculating() const;
    bool fitting() const;
    // Threads that have not ended yet, abandoned ones included.
    int threads() const;
    bool canReload() const { return !current_.isEmpty(); }
    bool canFit() const;
    // Why Fit is unavailable now (no structure, no FIT line, no measured scan, a calculation
    // or a fit running), for its tooltip; empty when it is available.
    QString fitUnavailable() const;

    // Writes the search options into the structure file on show as one FITOPTIONS line (in
    // place of those it has), atomically; the change on disk then reloads it. False, after a
    // line in the log, when it cannot.
    bool writeFitOptions(const FitSearchOptions& options);

    void setThreads(int count);
    void setKeepScale(bool keep) { keepScale_ = keep; }

    // The structure file on show (watched, reloaded by F5, fitted) and the scan given for it.
    const QString& currentFile() const { return current_; }
    const QString& currentScan() const { return currentScan_; }
    // The structure on show as it was loaded (the loader may hold an invalid file since).
    const Structure& shown() const { return shownFile_->structure; }
    // The structure file on show as it was read, with the scans compared with it: what the
    // layer table and the sliders show.
    std::shared_ptr<const ShownFile> shownFile() const { return shownFile_; }
    // The loader: the structure file read last, valid or not (the one on show is shown()).
    const Config& loader() const { return config_; }
    // The depth profile and the curve drawn, and the model that computed them (the basic one
    // before anything is computed): the curve's unit and monolayer heights come from it.
    const ResultArrays& results() const { return results_; }
    const Model& model() const { return *model_; }
    // A scan shown on its own, without a structure (empty otherwise).
    const QString& aloneScan() const { return aloneScan_; }
    // The measured scan and the model at its angles, while the structure on show has one (or
    // a scan alone, with no model).
    const std::optional<OverlayData>& overlay() const { return overlay_; }

    // Writes the report of what is on show (and of the fit that wrote it) to `path`, an HTML
    // or PDF file, checked as every result is; returns the line for the log.
    QString writeReport(const QString& path, bool logScale) const;
    // Why `path` may not take an exported file (a plot, a report): it is the structure on show,
    // one of its scans or the scan shown alone, a symbolic link, a folder. A line for the log,
    // or empty.
    QString outputRefusal(const QString& path) const;

signals:
    void logLine(const QString& line);
    // The new results are to be drawn in ranges derived from them (unless Keep Scale).
    void freshRanges();
    void profileChanged();
    void curveChanged();
    // A measured scan is drawn that was not before.
    void scanArrived();
    // A structure file is on show (for the title), or was opened by the user (recent files).
    void currentFileChanged(const QString& path);
    void opened(const QString& path);
    // The status line: the last road's figures, what runs, the fit's generation.
    void status(const QString& text);
    // The calculation's part done (0..1), or the fit's generations out of its most (-1 before
    // the first); shown while busy.
    void progress(double part);
    void busyChanged(bool busy);
    // What F5, Fit and Stop may do has changed.
    void actionsChanged();
    void fitProgress(int generation, double agreement);

private:
    friend class TestBody;
    friend class TestWindow;

    // Why a structure is (re)loaded: the user opened it (a drop, a menu), F5, it changed on
    // disk, or a fit wrote it.
    enum class Origin { Opened, Reloaded, ChangedOnDisk, Fitted };
    struct RoadRequest {
        QString structure;
        QString scanOverride; // compared with instead of the MEASURED line; may be empty
        Origin origin = Origin::Opened;
        QString noteWhenCompared; // logged once the scan was compared
        // The structure file when read already (one read per open); null: read it.
        std::shared_ptr<const StructureFile> file;
    };
    struct RoadJob;
    struct FitJob;

    void log(const QString& line) { emit logLine(line); }
    void startRoad(const RoadRequest& request);
    void runInBackground(const RoadRequest& request, std::unique_ptr<Calculation> calculation,
                         bool keepScale);
    void roadFinished(const RoadRequest& request, const RoadOutcome& outcome, double seconds,
                      const QString& model);
    void dropCalculation();
    void showProgress();
    void fitMoved(int generation, double agreement, const OverlayData& best);
    void fitEnded(const std::shared_ptr<FitJob>& job);
    bool abandonFit(const QString& why);
    void changedOnDisk(const QStringList& paths);
    void showScanAlone(const QString& path, const ScanReadResult& read);
    void goneFromDisk(const QString& path);

    Config config_;
    ResultArrays results_;
    std::unique_ptr<Model> model_;
    // The structure file on show as it was read and loaded (the loader may hold an invalid
    // file since).
    std::shared_ptr<ShownFile> shownFile_;
    QString current_;
    QString currentScan_;
    std::optional<OverlayData> overlay_;
    QString overlayScan_;
    QString aloneScan_;
    bool keepScale_ = false;
    int threads_ = 1;

    BackgroundTask* road_ = nullptr;
    BackgroundTask* fit_ = nullptr;
    std::shared_ptr<RoadJob> roadJob_; // the calculation in hand, for its progress
    std::shared_ptr<FitJob> fitJob_;
    double fitPart_ = -1; // the fit's generations done out of its most; -1 before the first
    FileWatch* watch_ = nullptr;
    QTimer* poll_ = nullptr; // the calculation's progress
    // For the report: the last comparison with a scan, and the last fit that wrote a file
    // with the seed it ran with.
    std::shared_ptr<const ScanOutcome> lastScan_;
    std::shared_ptr<const FitReport> lastFit_;
    unsigned lastFitSeed_ = 0;
};
