#include "body.h"

#include "calculation.h"
#include "compositionview.h"
#include "diffractionview.h"

#include <QPainter>

#include <optional>

Body::Body(QWidget* parent) : QMainWindow(parent) {
    setupUi(this);
    // The composition plot keeps the frame's default margins.
    setDiffractionMargins(KSpace->coord);

    connect(&config, &Config::log, this, &Body::log);
    connect(DropA, &DropArea::dropped, this, &Body::droppedInputFile);
    connect(Comp, &DispA::drawImage1, this, &Body::drawComp);
    connect(KSpace, &DispA::drawImage1, this, &Body::drawKSpace);
    connect(LogScale, &QCheckBox::toggled, this, &Body::logScale);
}

Body::~Body() = default;

// Only the first of several dropped files is loaded. A file that gives no valid structure
// changes nothing here: the old results, plots and scales stay. A structure that would run
// for hours or has no sensible period is refused before anything else changes.
void Body::droppedInputFile(QStringList fileList) {
    if (fileList.isEmpty())
        return;
    const LoadedStructure loaded = loadStructure(config, fileList.first());
    if (loaded.status == LoadedStructure::Refused)
        log(loaded.message);
    if (loaded.status != LoadedStructure::Ready)
        return;
    if (!KeepScale->isChecked()) {
        neverDrawComp = true;
        neverDrawKSpace = true;
    }
    calculate(*loaded.calculation);
}

// At the text cursor, so a message goes where the user last clicked in the pane.
void Body::log(QString logMsg) {
    Log->insertPlainText(logMsg + QStringLiteral("\n"));
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

// As drawComp; "Log" is read at every paint.
void Body::drawKSpace(QPainter* p) {
    if (results->theta.isEmpty())
        return;
    const bool logarithmic = LogScale->isChecked();
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

// Profile, repaint request of the composition plot, profile file, curve, repaint request
// of the diffraction plot, the point count on the debug output, curve file.
void Body::calculate(const Calculation& calculation) {
    CalculationHooks hooks;
    hooks.profileReady = [this] { Comp->update(); };
    hooks.curveReady = [this] { KSpace->update(); };
    calculation.run(*results, hooks);
}
