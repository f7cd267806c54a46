#pragma once

#include "config.h"
#include "overlayview.h"
#include "resultarrays.h"
#include "ui_body.h"

#include <QFileSystemWatcher>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class BackgroundTask;
class Calculation;
class QAction;
class QLabel;
class QMenu;
class QPainter;
class QProgressBar;
class QPushButton;
struct RoadOutcome;

// The one main window: owns the loader, the result arrays and the never-draw flags, and
// routes the drop field, the menus, the loader's messages and the two plots. Long
// calculations and fits run off the GUI thread; their results are swapped in when complete.
// Created by main().
class Body : public QMainWindow, private Ui_Body {
    Q_OBJECT
public:
    explicit Body(QWidget* parent = nullptr);
    ~Body() override;

    // Opens a structure file as a drop of it does; `scan` (when given) is compared with it in
    // place of its MEASURED line.
    void open(const QString& structure, const QString& scan = QString());

    // True while a calculation or a fit runs off the GUI thread.
    bool busy() const;

    // Threads that sum a curve (all cores unless set); the results do not depend on it.
    void setThreads(int count);

private slots:
    void droppedInputFile(QStringList fileList);
    void log(QString logMsg);
    void drawComp(QPainter* p);
    void drawKSpace(QPainter* p);
    void resetNeverDraw();
    void logScale(bool f);

private:
    friend class TestBody;
    friend class TestWindow;

    // Why a structure is (re)loaded: the user opened it (a drop, a menu), it changed on disk,
    // or a fit wrote it.
    enum class Origin { Opened, Reloaded, ChangedOnDisk, Fitted };
    struct RoadRequest {
        QString structure;
        QString scanOverride; // compared with instead of the MEASURED line; may be empty
        Origin origin = Origin::Opened;
        QString noteWhenCompared; // logged once the scan was compared
    };
    struct RoadJob;
    struct FitJob;

    // What the user chose in a file dialog; tests replace the dialogs.
    enum class Choice { Structure, Scan, Export };
    struct Chosen {
        QString path;
        bool diffractionOnly = false;
    };

    void buildMenus();
    Chosen askForFile(Choice choice);

    void openDropped(const QString& path);
    void startRoad(const RoadRequest& request);
    void runInBackground(const RoadRequest& request, std::unique_ptr<Calculation> calculation,
                         bool keepScale);
    void roadFinished(const RoadRequest& request, const RoadOutcome& outcome, double seconds,
                      const QString& model);
    void cancelCalculation();
    void showProgress();

    void startFit();
    void stopFit();
    void fitProgress(int generation, double agreement, const OverlayData& best);
    bool stopFitFor(Origin origin);

    void watch(const QStringList& paths);
    void changedOnDisk();
    void reloadChanged();

    void exportTo(const QString& path, bool diffractionOnly);
    void addRecent(const QString& path);
    void fillRecentMenu();
    void updateActions();
    void showHelp();
    void showAbout();

    Config config;
    // While set, the view derives its axis ranges from the data at its next paint.
    bool neverDrawComp = true;
    bool neverDrawKSpace = true;
    std::unique_ptr<ResultArrays> results = std::make_unique<ResultArrays>();

    // The measured scan and the model at its angles, while the shown structure has one.
    std::optional<OverlayData> overlay;
    QString overlayScan;

    // The structure file last opened (watched, reloaded by F5) and the scan given for it.
    QString currentStructure;
    QString currentScan;
    int threads = 1;

    std::function<Chosen(Choice)> chooseFile; // the file dialogs, unless a test set it

    BackgroundTask* road = nullptr;
    BackgroundTask* fit = nullptr;
    std::shared_ptr<RoadJob> roadJob; // the calculation in hand, for its progress
    std::shared_ptr<FitJob> fitJob;

    QFileSystemWatcher watcher;
    QStringList watched;
    QTimer quiet; // the pause after the last change on disk before reloading
    int missingChecks = 0;
    QTimer progress; // polls the calculation's progress

    QMenu* recentMenu = nullptr;
    QAction* openStructureAction = nullptr;
    QAction* openScanAction = nullptr;
    QAction* reloadAction = nullptr;
    QAction* exportAction = nullptr;
    QAction* exportDiffractionAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* fitAction = nullptr;
    QAction* stopAction = nullptr;
    QAction* helpAction = nullptr;
    QAction* aboutAction = nullptr;
    QLabel* note = nullptr;
    QProgressBar* progressBar = nullptr;
    QPushButton* cancelButton = nullptr;
    QWidget* helpWindow = nullptr;
};
