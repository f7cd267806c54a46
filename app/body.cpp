#include "app/body.h"

#include "app/document.h"
#include "app/fitsliders.h"
#include "app/layertable.h"
#include "app/mapdock.h"
#include "views/diffractionview.h"
#include "views/plotcontrols.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>

#include <algorithm>

namespace {

const char* const kRecentKey = "recentFiles";
constexpr int kMaxRecent = 8;

// The progress bar's full scale.
constexpr int kProgressSteps = 1000;

} // namespace

Body::Body(QWidget* parent) : QMainWindow(parent) {
    setupUi(this);
    // The composition plot keeps the frame's default margins.
    setDiffractionMargins(KSpace->coord);

    connect(DropA, &DropArea::dropped, this, &Body::droppedInputFile);
    connect(Comp, &DispA::drawImage1, this, &Body::drawComp);
    connect(KSpace, &DispA::drawImage1, this, &Body::drawKSpace);
    connect(LogScale, &QCheckBox::toggled, this, &Body::logScale);
    connectPlotControls();

    setWindowTitle(QString::fromLatin1(programName));
    document = new Document(this);
    buildMenus();
    buildStatusBar();
    connectDocument();
    buildLayerDocks();
    chooseFile = [this](Choice choice) { return askForFile(choice); };
    chooseFitOptions = [this](const FitSearchOptions& now) { return askForFitOptions(now); };
    // The plots take most of the height; the log pane below them can be dragged larger.
    Splitter->setStretchFactor(Splitter->indexOf(LogPane), 2);
    updateActions();
}

void Body::welcome() {
    log(tr("Welcome to %1: drop a structure file or a measured scan on the field at the top, "
           "or try Help \u2192 Open Example.")
            .arg(QString::fromLatin1(programName)));
}

// A fit in hand writes nothing once the window goes; the document's threads end (or are left
// to end on their own) before anything they report to goes.
Body::~Body() {
    document->close();
    delete document;
    document = nullptr;
}

// A file named alone is opened as a drop of it is, so that a scan alone is shown with its
// peaks.
void Body::open(const QString& structure, const QString& scan) {
    if (scan.isEmpty())
        document->openDropped(structure);
    else
        document->open(structure, scan);
}

void Body::openMap(const QString& path) {
    const Structure& shown = document->shown();
    openMapIn(this, path, shown.valid ? &shown : nullptr,
              [this](const QString& line) { log(line); });
}

bool Body::busy() const {
    return document->busy();
}

void Body::setThreads(int count) {
    document->setThreads(count);
}

void Body::buildStatusBar() {
    note = new QLabel(statusBar());
    statusBar()->addWidget(note, 1);
    progressBar = new QProgressBar(statusBar());
    progressBar->setMaximumWidth(200);
    statusBar()->addPermanentWidget(progressBar);
    cancelButton = new QPushButton(tr("Cancel"), statusBar());
    statusBar()->addPermanentWidget(cancelButton);
    stopButton = new QPushButton(tr("Stop: keep the best point"), statusBar());
    stopButton->setToolTip(tr("Ends the search now; the best point so far is written to "
                              "NAME-fitted.EXT and shown."));
    statusBar()->addPermanentWidget(stopButton);
    progressBar->hide();
    cancelButton->hide();
    stopButton->hide();
    connect(cancelButton, &QPushButton::clicked, document, &Document::cancel);
    connect(stopButton, &QPushButton::clicked, document, &Document::stopFit);
}

// The document's lines go to the log pane, its results to the plots, its state to the title,
// the status bar and the menus.
void Body::connectDocument() {
    connect(document, &Document::logLine, this, &Body::log);
    connect(KeepScale, &QCheckBox::toggled, document, &Document::setKeepScale);
    connect(document, &Document::freshRanges, this, [this] {
        neverDrawComp = true;
        neverDrawKSpace = true;
    });
    connect(document, &Document::profileChanged, Comp, QOverload<>::of(&QWidget::update));
    connect(document, &Document::curveChanged, KSpace, QOverload<>::of(&QWidget::update));
    connect(document, &Document::scanArrived, this, [this] {
        if (!LogScale->isChecked())
            LogScale->setChecked(true);
    });
    connect(document, &Document::currentFileChanged, this, [this](const QString& path) {
        setWindowTitle(QStringLiteral("%1 \u2014 %2")
                           .arg(QString::fromLatin1(programName), QFileInfo(path).fileName()));
    });
    connect(document, &Document::opened, this, &Body::addRecent);
    connect(document, &Document::status, note, &QLabel::setText);
    connect(document, &Document::progress, this, &Body::showProgress);
    connect(document, &Document::busyChanged, this, [this](bool busy) {
        // A fit's Cancel discards it; Stop keeps its best point.
        const bool fit = busy && document->fitting() && !document->calculating();
        cancelButton->setText(fit ? tr("Cancel: discard the fit") : tr("Cancel"));
        cancelButton->setToolTip(fit ? tr("Abandons the fit; nothing is written.")
                                     : tr("Abandons the calculation; the results shown stay."));
        progressBar->setVisible(busy);
        cancelButton->setVisible(busy);
        stopButton->setVisible(fit);
    });
    connect(document, &Document::actionsChanged, this, &Body::updateActions);
}

// The calculation's part done against its estimate, or a busy bar for a fit.
void Body::showProgress(double part) {
    if (part < 0) {
        progressBar->setRange(0, 0);
    } else {
        progressBar->setRange(0, kProgressSteps);
        progressBar->setValue(int(std::clamp(part, 0.0, 1.0) * kProgressSteps));
    }
}

void Body::buildMenus() {
    QMenu* file = menubar->addMenu(tr("&File"));
    openStructureAction = file->addAction(tr("&Open Structure…"), this, [this] {
        const Chosen c = chooseFile(Choice::Structure);
        if (!c.path.isEmpty())
            document->openDropped(c.path);
    });
    openStructureAction->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_O));
    openScanAction = file->addAction(tr("Open &Measured Scan…"), this, [this] {
        importChoices.clear();
        const Chosen c = chooseFile(Choice::Scan);
        if (!c.path.isEmpty())
            document->openDropped(c.path, importChoices);
    });
    file->addAction(tr("Open Reciprocal-Space &Map…"), this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Open a reciprocal-space map"));
        if (!path.isEmpty())
            openMap(path);
    });
    reloadAction = file->addAction(tr("&Reload"), document, &Document::reload);
    reloadAction->setShortcut(QKeySequence(Qt::Key_F5));
    recentMenu = file->addMenu(tr("Open Re&cent"));
    fillRecentMenu();
    file->addSeparator();
    exportAction = file->addAction(tr("&Export Plot…"), this, [this] {
        const Chosen c = chooseFile(Choice::Export);
        if (!c.path.isEmpty())
            exportTo(c.path, c.diffractionOnly);
    });
    reportAction = file->addAction(tr("Export Re&port…"), this, [this] {
        const Chosen c = chooseFile(Choice::Report);
        if (!c.path.isEmpty())
            log(document->writeReport(c.path, LogScale->isChecked()));
    });
    file->addSeparator();
    quitAction = file->addAction(tr("&Quit"), this, &QWidget::close);
    quitAction->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_Q));

    menubar->addMenu(tr("&View"))->addAction(kspaceControls->deltaThetaAction());
    QMenu* fitMenu = menubar->addMenu(tr("F&it"));
    fitAction = fitMenu->addAction(tr("&Fit"), document, &Document::startFit);
    fitAction->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_F));
    stopAction =
        fitMenu->addAction(tr("&Stop (keep the best point)"), document, &Document::stopFit);
    cancelFitAction =
        fitMenu->addAction(tr("&Cancel (discard the fit)"), document, &Document::cancelFit);
    fitMenu->addSeparator();
    fitOptionsAction = fitMenu->addAction(tr("Fit &Options…"), this, &Body::editFitOptions);
    // A disabled menu entry still shows its tooltip, which says why it is disabled.
    fitMenu->setToolTipsVisible(true);

    QMenu* help = menubar->addMenu(tr("&Help"));
    helpAction = help->addAction(tr("&Mouse and Structure File"), this, &Body::showHelp);
    helpAction->setShortcut(QKeySequence(Qt::Key_F1));
    exampleAction = help->addAction(tr("Open &Example…"), this, &Body::openExample);
    aboutAction = help->addAction(tr("&About"), this, &Body::showAbout);
}

// Only the first of several dropped files is loaded. A file that gives no valid structure
// changes nothing here: the old results, plots and scales stay. A structure that would run
// for hours or has no sensible period is refused before anything else changes.
void Body::droppedInputFile(QStringList fileList) {
    if (fileList.isEmpty())
        return;
    if (MapDock::looksLikeMap(fileList.first())) {
        openMap(fileList.first());
        return;
    }
    document->openDropped(fileList.first());
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
            [this, path] { document->openDropped(path); });
        a->setToolTip(path);
        a->setStatusTip(path);
    }
    recentMenu->setEnabled(!recent.isEmpty());
}

void Body::updateActions() {
    reloadAction->setEnabled(document->canReload());
    const QString why = document->fitUnavailable();
    fitAction->setEnabled(why.isEmpty());
    fitAction->setToolTip(why.isEmpty() ? tr("Fits the FIT values to the measured scan and "
                                             "writes NAME-fitted.EXT.")
                                        : why);
    stopAction->setEnabled(document->fitting());
    cancelFitAction->setEnabled(document->fitting());
    fitOptionsAction->setEnabled(document->canReload() && !document->fitting());
}

// At the text cursor, so a message goes where the user last clicked in the pane; the pane
// scrolls to show it. A selection (Ctrl+A to copy the fit's table, say) is never replaced: the
// message then goes at the end, and the selection stays.
void Body::log(QString logMsg) {
    QTextCursor selection = Log->textCursor();
    if (selection.hasSelection()) {
        const int anchor = selection.anchor(), position = selection.position();
        QTextCursor end(Log->document());
        end.movePosition(QTextCursor::End);
        end.insertText(logMsg + QStringLiteral("\n"));
        selection.setPosition(anchor);
        selection.setPosition(position, QTextCursor::KeepAnchor);
        Log->setTextCursor(selection);
        return;
    }
    Log->insertPlainText(logMsg + QStringLiteral("\n"));
    Log->ensureCursorVisible();
}

// Hidden until a structure is shown, then beside the plots, the window widened by them so
// that the plots keep their size; the Fit menu shows and hides them.
void Body::buildLayerDocks() {
    layerTable = new LayerTable(this);
    fitSliders = new FitSliders(this);
    addDockWidget(Qt::RightDockWidgetArea, layerTable);
    addDockWidget(Qt::RightDockWidgetArea, fitSliders);
    layerTable->hide();
    fitSliders->hide();
    QMenu* fitMenu = qobject_cast<QMenu*>(fitAction->parent());
    if (fitMenu) {
        fitMenu->addSeparator();
        fitMenu->addAction(layerTable->toggleViewAction());
        fitMenu->addAction(fitSliders->toggleViewAction());
    }
    layerTable->toggleViewAction()->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_L));
    connect(layerTable, &LayerTable::logLine, this, &Body::log);
    connect(fitSliders, &FitSliders::logLine, this, &Body::log);
    connect(fitSliders, &FitSliders::status, note, &QLabel::setText);
    connect(fitSliders, &FitSliders::overlayChanged, KSpace, QOverload<>::of(&QWidget::update));
    connect(document, &Document::currentFileChanged, this, [this](const QString& path) {
        if (layerTable->file().isEmpty() && layerTable->isHidden() && fitSliders->isHidden()) {
            layerTable->show();
            fitSliders->show();
            if (!isMaximized() && !isFullScreen())
                resize(width() + layerTable->sizeHint().width(), height());
        }
        // A scan shown alone leaves the structure on show (or none) in the docks.
        Q_UNUSED(path)
        layerTable->showFile(document->shownFile());
        fitSliders->showFile(document->shownFile());
    });
}
