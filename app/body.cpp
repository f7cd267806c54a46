#include "app/body.h"

#include "app/document.h"
#include "app/helptext.h"
#include "app/importdialog.h"
#include "views/compositionview.h"
#include "views/diffractionview.h"
#include "views/renderplots.h"

#include <QAction>
#include <QDialog>
#include <QDir>
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
#include <QVBoxLayout>

#include <algorithm>

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

    setWindowTitle(QString::fromLatin1(kProgram));
    document = new Document(config, *results, this);
    buildMenus();
    buildStatusBar();
    connectDocument();
    chooseFile = [this](Choice choice) { return askForFile(choice); };
    updateActions();
}

// A fit in hand writes nothing once the window goes; the document's threads end (or are left
// to end on their own) before anything they report to goes.
Body::~Body() {
    document->close();
    delete document;
    document = nullptr;
}

void Body::open(const QString& structure, const QString& scan) {
    document->open(structure, scan);
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
    progressBar->hide();
    cancelButton->hide();
    connect(cancelButton, &QPushButton::clicked, document, &Document::cancel);
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
        progressBar->setVisible(busy);
        cancelButton->setVisible(busy);
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
    file->addSeparator();
    quitAction = file->addAction(tr("&Quit"), this, &QWidget::close);
    quitAction->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_Q));

    QMenu* fitMenu = menubar->addMenu(tr("F&it"));
    fitAction = fitMenu->addAction(tr("&Fit"), document, &Document::startFit);
    fitAction->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_F));
    stopAction = fitMenu->addAction(tr("&Stop"), document, &Document::stopFit);

    QMenu* help = menubar->addMenu(tr("&Help"));
    helpAction = help->addAction(tr("&Mouse and Structure File"), this, &Body::showHelp);
    helpAction->setShortcut(QKeySequence(Qt::Key_F1));
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
    document->openDropped(fileList.first());
}

void Body::exportTo(const QString& path, bool diffractionOnly) {
    if (results->depth.isEmpty() && results->theta.isEmpty()) {
        log(tr("Nothing to export to [%1]: no structure has been computed.").arg(path));
        return;
    }
    const std::optional<OverlayData>& overlay = document->overlay();
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
            [this, path] { document->openDropped(path); });
        a->setToolTip(path);
        a->setStatusTip(path);
    }
    recentMenu->setEnabled(!recent.isEmpty());
}

void Body::updateActions() {
    reloadAction->setEnabled(document->canReload());
    fitAction->setEnabled(document->canFit());
    stopAction->setEnabled(document->fitting());
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
    if (const std::optional<OverlayData>& overlay = document->overlay()) {
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
