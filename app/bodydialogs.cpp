// The window's dialogs: the file choosers, the examples, the fit options, help and about.
#include "app/body.h"

#include "app/document.h"
#include "app/helptext.h"
#include "app/importdialog.h"

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
#include <QMessageBox>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

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
        dialog->setWindowTitle(tr("%1 Help").arg(QString::fromLatin1(programName)));
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
        this, tr("About %1").arg(QString::fromLatin1(programName)),
        tr("<b>%1 %2</b><p>X-ray diffraction curves of epitaxial In(x)Ga(1-x)As(y)P(1-y) "
           "multilayers: basic, kinematical and dynamical models, comparison with measured "
           "scans, and fits.</p>")
            .arg(QString::fromLatin1(programName), QStringLiteral(XRDSIM_VERSION)));
}
