#pragma once

#include "structure/extensions.h"
#include "ui_body.h"
#include "views/overlayview.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class Document;
class PlotControls;
class FitSliders;
class LayerTable;
class QAction;
class QLabel;
class QMenu;
class QPainter;
class QProgressBar;
class QPushButton;

// The program's name, in the window's title, its settings and its dialogs.
inline constexpr char programName[] = "xrdsim";

// The one main window: builds the form, the menus and the status bar, and routes the drop
// field, the menus and the document's messages to the log pane, the plots and the docks.
// What is loaded, computed, watched, fitted and drawn is the document's; the window keeps
// only the zoom and the never-draw flags. Created by main(). Its plots are drawn in
// bodyplots.cpp, its dialogs are in bodydialogs.cpp.
class Body : public QMainWindow, private Ui_Body {
    Q_OBJECT
public:
    explicit Body(QWidget* parent = nullptr);
    ~Body() override;

    // Opens a structure file as a drop of it does; `scan` (when given) is compared with it in
    // place of its MEASURED line.
    void open(const QString& structure, const QString& scan = QString());

    // Opens a reciprocal-space map in the map dock, with the shown structure's layers.
    void openMap(const QString& path);

    // True while a calculation or a fit runs off the GUI thread.
    bool busy() const;

    // Threads that sum a curve (all cores unless set); the results do not depend on it.
    void setThreads(int count);

    // The one line a window started without a file shows in its log.
    void welcome();

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
    friend class TestWorkbench;

    // What the user chose in a file dialog; tests replace the dialogs.
    enum class Choice { Structure, Scan, Export, Report, Example };
    struct Chosen {
        QString path;
        bool diffractionOnly = false;
    };

    void buildMenus();
    void buildStatusBar();
    void connectPlotControls();
    void connectDocument();
    Chosen askForFile(Choice choice);
    void showProgress(double part);

    void exportTo(const QString& path, bool diffractionOnly);
    void addRecent(const QString& path);
    void fillRecentMenu();
    void updateActions();
    void showHelp();
    void showAbout();
    // The layer table and the fit sliders, docked beside the plots.
    void buildLayerDocks();
    // The overlay to draw: the sliders' while one moves, otherwise the document's.
    const std::optional<OverlayData>& shownOverlay() const;
    void openExample();
    void editFitOptions();
    std::optional<FitSearchOptions> askForFitOptions(const FitSearchOptions& now);

    // While set, the view derives its axis ranges from the data at its next paint.
    bool neverDrawComp = true;
    bool neverDrawKSpace = true;

    Document* document = nullptr;

    QString importChoices;                    // of the scan askForFile chose last (ImportDialog)
    std::function<Chosen(Choice)> chooseFile; // the file dialogs, unless a test set it
    // The fit options panel, unless a test set it: the options to write, or none (cancelled).
    std::function<std::optional<FitSearchOptions>(const FitSearchOptions&)> chooseFitOptions;

    QMenu* recentMenu = nullptr;
    QAction* openStructureAction = nullptr;
    QAction* openScanAction = nullptr;
    QAction* reloadAction = nullptr;
    QAction* exportAction = nullptr;
    QAction* reportAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* fitAction = nullptr;
    QAction* stopAction = nullptr;
    QAction* cancelFitAction = nullptr;
    QAction* fitOptionsAction = nullptr;
    QAction* exampleAction = nullptr;
    QAction* helpAction = nullptr;
    QAction* aboutAction = nullptr;
    QLabel* note = nullptr;
    QProgressBar* progressBar = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* stopButton = nullptr; // while a fit runs
    QWidget* helpWindow = nullptr;
    PlotControls* compControls = nullptr;
    PlotControls* kspaceControls = nullptr;
    LayerTable* layerTable = nullptr;
    FitSliders* fitSliders = nullptr;
};
