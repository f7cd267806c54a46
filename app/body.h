#pragma once

#include "simulation/resultarrays.h"
#include "structure/config.h"
#include "ui_body.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class Document;
class QAction;
class QLabel;
class QMenu;
class QPainter;
class QProgressBar;
class QPushButton;

// The one main window: owns the loader, the result arrays and the never-draw flags, builds
// the form, the menus and the status bar, and routes the drop field, the menus and the
// document's messages to the log pane and the two plots. What is loaded, computed, watched
// and fitted is the document's. Created by main().
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

    // What the user chose in a file dialog; tests replace the dialogs.
    enum class Choice { Structure, Scan, Export };
    struct Chosen {
        QString path;
        bool diffractionOnly = false;
    };

    void buildMenus();
    void buildStatusBar();
    void connectDocument();
    Chosen askForFile(Choice choice);
    void showProgress(double part);

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

    Document* document = nullptr;

    QString importChoices;                    // of the scan askForFile chose last (ImportDialog)
    std::function<Chosen(Choice)> chooseFile; // the file dialogs, unless a test set it

    QMenu* recentMenu = nullptr;
    QAction* openStructureAction = nullptr;
    QAction* openScanAction = nullptr;
    QAction* reloadAction = nullptr;
    QAction* exportAction = nullptr;
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
