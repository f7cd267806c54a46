#include "app/body.h"

#include "app/document.h"
#include "app/fitsliders.h"
#include "app/helptext.h"
#include "app/importdialog.h"
#include "app/layertable.h"
#include "views/compositionview.h"
#include "views/diffractionview.h"
#include "views/plotcontrols.h"
#include "views/renderplots.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QInputDialog>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace {

const char* const kProgram = "xrdsim";
const char* const kRecentKey = "recentFiles";
constexpr int kMaxRecent = 8;

// The progress bar's full scale.
constexpr int kProgressSteps = 1000;

} // namespace

Body::Body(QWidget* parent) : QMainWindow(parent) {
    setupUi(this);
    // The composition plot keeps the frame's default margins.
    setDiffractionMargins(KSpace->coord);

    connect(&config, &Config::log, this, &Body::log);
    connect(DropA, &DropArea::dropped, this, &Body::droppedInputFile);
    connect(Comp, &DispA::drawImage1, this, &Body::drawComp);
    connect(KSpace, &DispA::drawImage1, this, &Body::drawKSpace);
    connect(LogScale, &QCheckBox::toggled, this, &Body::logScale);
    connectPlotControls();

    setWindowTitle(QString::fromLatin1(kProgram));
    document = new Document(config, *results, this);
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
            .arg(QString::fromLatin1(kProgram)));
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

bool Body::busy() const {
    return document->busy();
}

void Body::setThreads(int count) {
    document->setThreads(count);
}

// Cursor readouts in the status bar, Home or a double click for the full view, and the
// Delta-theta toggle of the angle axis.
void Body::connectPlotControls() {
    compControls = new PlotControls(Comp, PlotControls::Kind::Composition, this);
    kspaceControls = new PlotControls(KSpace, PlotControls::Kind::Diffraction, this);
    for (PlotControls* c : {compControls, kspaceControls})
        connect(c, &PlotControls::cursorText, this,
                [this](const QString& t) { statusBar()->showMessage(t, 4000); });
    connect(compControls, &PlotControls::resetRequested, this, [this] {
        neverDrawComp = true;
        Comp->update();
    });
    connect(kspaceControls, &PlotControls::resetRequested, this, [this] {
        neverDrawKSpace = true;
        KSpace->update();
    });
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
                           .arg(QString::fromLatin1(kProgram), QFileInfo(path).fileName()));
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

Body::Chosen Body::askForFile(Choice choice) {
    const QString& currentStructure = document->currentFile();
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
        if (!chosen.path.isEmpty() && !askImportChoices(this, chosen.path, importChoices))
            chosen.path.clear();
        break;
    case Choice::Example: {
        const QString folder = examplesFolder();
        const QStringList names =
            folder.isEmpty()
                ? QStringList()
                : QDir(folder).entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
        if (names.isEmpty()) {
            log(tr("No examples are installed."));
            break;
        }
        bool ok = false;
        const QString name =
            QInputDialog::getItem(this, tr("Open Example"), tr("Example:"), names, 0, false, &ok);
        if (ok && !name.isEmpty())
            chosen.path = QDir(folder).filePath(name);
        break;
    }
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
    case Choice::Report: {
        QString filter = tr("Report, HTML (*.html)");
        const QString pdf = tr("Report, PDF (*.pdf)");
        const QString start =
            currentStructure.isEmpty()
                ? QString()
                : QDir(folder).filePath(QFileInfo(currentStructure).completeBaseName() +
                                        QStringLiteral("-report.html"));
        chosen.path = QFileDialog::getSaveFileName(this, tr("Export Report"), start,
                                                   filter + QStringLiteral(";;") + pdf, &filter);
        if (!chosen.path.isEmpty() && QFileInfo(chosen.path).suffix().isEmpty())
            chosen.path += filter == pdf ? QStringLiteral(".pdf") : QStringLiteral(".html");
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
    document->openDropped(fileList.first());
}

void Body::exportTo(const QString& path, bool diffractionOnly) {
    if (results->depth.isEmpty() && results->theta.isEmpty()) {
        log(tr("Nothing to export to [%1]: no structure has been computed.").arg(path));
        return;
    }
    const std::optional<OverlayData>& overlay = document->overlay();
    const QSize size = KSpace->isVisible() ? KSpace->size() : QSize(800, 600);
    const bool written =
        exportPlots(path, *results, LogScale->isChecked(), size, overlay ? &*overlay : nullptr,
                    diffractionOnly, kspaceControls->exportAxes(intensityUnitOf(config.ext.model)));
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

// An example is opened as a drop of it, from a copy in the user's data folder: its results
// are written beside it, and the bundled file (read-only as installed, or in the source tree)
// stays as it is. A copy made before is opened as it is now.
void Body::openExample() {
    const Chosen c = chooseFile(Choice::Example);
    if (c.path.isEmpty())
        return;
    const QString folder = QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                               .filePath(QStringLiteral("examples"));
    const QString copy = QDir(folder).filePath(QFileInfo(c.path).fileName());
    if (!QFileInfo::exists(copy) && !(QDir().mkpath(folder) && QFile::copy(c.path, copy))) {
        log(tr("Can't copy the example [%1] to [%2].").arg(c.path, copy));
        return;
    }
    log(tr("The example [%1] is opened from [%2], where its results are written.")
            .arg(QFileInfo(c.path).fileName(), copy));
    document->openDropped(copy);
}

// The panel shows the options of the structure on show; what it gives is written into the
// file as its FITOPTIONS line, and the change on disk reloads it.
void Body::editFitOptions() {
    if (!document->canReload())
        return;
    const std::optional<FitSearchOptions> chosen =
        chooseFitOptions(document->shown().ext.fitOptions);
    if (chosen)
        document->writeFitOptions(*chosen);
}

std::optional<FitSearchOptions> Body::askForFitOptions(const FitSearchOptions& now) {
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Fit Options"));
    auto* form = new QFormLayout(&dialog);
    auto* seedGiven = new QCheckBox(tr("Seed"), &dialog);
    seedGiven->setChecked(now.seedGiven);
    auto* seed = new QSpinBox(&dialog);
    seed->setRange(0, std::numeric_limits<int>::max());
    seed->setValue(int(std::min<unsigned>(now.seed, unsigned(std::numeric_limits<int>::max()))));
    form->addRow(seedGiven, seed);
    auto* population = new QSpinBox(&dialog);
    population->setRange(FitSearchOptions::minPopulation - 1, FitSearchOptions::maxPopulation);
    population->setSpecialValueText(tr("default"));
    population->setValue(now.population > 0 ? now.population : population->minimum());
    form->addRow(tr("Population"), population);
    auto* generations = new QSpinBox(&dialog);
    generations->setRange(0, FitSearchOptions::maxGenerations);
    generations->setSpecialValueText(tr("default"));
    generations->setValue(now.generations);
    form->addRow(tr("Most generations"), generations);
    auto* seconds = new QDoubleSpinBox(&dialog);
    seconds->setRange(0, 1e7);
    seconds->setDecimals(0);
    seconds->setSpecialValueText(tr("default (600 s)"));
    seconds->setSuffix(tr(" s"));
    seconds->setValue(now.seconds);
    form->addRow(tr("Time limit"), seconds);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    FitSearchOptions chosen;
    chosen.seedGiven = seedGiven->isChecked();
    chosen.seed = unsigned(seed->value());
    chosen.population =
        population->value() >= FitSearchOptions::minPopulation ? population->value() : 0;
    chosen.generations = generations->value();
    chosen.seconds = seconds->value();
    return chosen;
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
    if (const std::optional<OverlayData>& overlay = shownOverlay()) {
        if (overlay->theta.isEmpty())
            return;
        KSpace->coord.applyMargins();
        if (neverDrawKSpace) {
            if (const std::optional<PlotRange> range = overlayRange(*overlay, logarithmic))
                showRange(KSpace->coord, *range);
            neverDrawKSpace = false;
        }
        drawOverlay(*p, KSpace->coord, *overlay, logarithmic,
                    kspaceControls->axes(IntensityUnit::CountsPerSecond, overlay->theta,
                                         overlay->measured, logarithmic));
        return;
    }
    if (results->theta.isEmpty())
        return;
    KSpace->coord.applyMargins();
    if (neverDrawKSpace) {
        if (const std::optional<PlotRange> range =
                diffractionRange(results->theta, results->intensity, logarithmic,
                                 intensityUnitOf(config.ext.model) == IntensityUnit::Reflectivity))
            showRange(KSpace->coord, *range);
        neverDrawKSpace = false;
    }
    drawDiffraction(*p, KSpace->coord, results->theta, results->intensity, logarithmic,
                    CurvePainter::Detail::Reduced,
                    kspaceControls->axes(intensityUnitOf(config.ext.model), results->theta,
                                         results->intensity, logarithmic));
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
        layerTable->showFile(path);
        const std::optional<OverlayData>& shown = document->overlay();
        fitSliders->showFile(path, document->currentScan(),
                             shown ? shown->measuredPeaks : QVector<double>());
    });
}

const std::optional<OverlayData>& Body::shownOverlay() const {
    return fitSliders && fitSliders->liveOverlay() ? fitSliders->liveOverlay()
                                                   : document->overlay();
}
