// The window's two plots: what they draw is the document's (its results, the model that
// computed them, its overlay, or the sliders' live one); the window keeps only the zoom and
// the flags that ask for fresh ranges.
#include "app/body.h"

#include "app/document.h"
#include "app/fitsliders.h"
#include "simulation/model.h"
#include "views/compositionview.h"
#include "views/plotcontrols.h"
#include "views/renderplots.h"

#include <QPainter>
#include <QStatusBar>

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

void Body::exportTo(const QString& path, bool diffractionOnly) {
    const ResultArrays& results = document->results();
    if (results.depth.isEmpty() && results.theta.isEmpty()) {
        log(tr("Nothing to export to [%1]: no structure has been computed.").arg(path));
        return;
    }
    const QString refusal = document->outputRefusal(path);
    if (!refusal.isEmpty()) {
        log(refusal);
        return;
    }
    const std::optional<OverlayData>& overlay = document->overlay();
    const QSize size = KSpace->isVisible() ? KSpace->size() : defaultPlotSize;
    const bool written =
        exportPlots(path, results, LogScale->isChecked(), size, overlay ? &*overlay : nullptr,
                    diffractionOnly, kspaceControls->exportAxes(document->model().intensityUnit()));
    log((written ? tr("Wrote [%1].") : tr("Can't write [%1].")).arg(path));
}

// Without data the plot stays empty and its frame keeps the display's whole area. Otherwise
// the plot rectangle goes inside the margins and, while the flag is set, the ranges are
// derived from the data and the flag is cleared; at other times the user's zoom is kept.
void Body::drawComp(QPainter* p) {
    const ResultArrays& results = document->results();
    if (results.depth.isEmpty())
        return;
    Comp->coord.applyMargins();
    if (neverDrawComp) {
        if (const std::optional<PlotRange> range = compositionRange(results))
            showRange(Comp->coord, *range);
        neverDrawComp = false;
    }
    drawComposition(*p, Comp->coord, results);
}

// As drawComp; "Log" is read at every paint. With a measured scan the plot shows the scan
// and the model at its angles instead of the whole curve, titled in the unit of what is
// drawn: the model that computed the curve on show, not the file read last.
void Body::drawKSpace(QPainter* p) {
    const bool logarithmic = LogScale->isChecked();
    const ResultArrays& results = document->results();
    const std::optional<OverlayData>& shown = shownOverlay();
    const OverlayData* scan = scanToOverlay(shown ? &*shown : nullptr);
    if (!scan && results.theta.isEmpty())
        return;
    const DiffractionAxes axes =
        scan ? kspaceControls->axes(IntensityUnit::CountsPerSecond, scan->theta, scan->measured,
                                    logarithmic)
             : kspaceControls->axes(document->model().intensityUnit(), results.theta,
                                    results.intensity, logarithmic);
    if (drawLowerPlot(*p, KSpace->coord, results, scan, logarithmic, axes, neverDrawKSpace))
        neverDrawKSpace = false;
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

const std::optional<OverlayData>& Body::shownOverlay() const {
    return fitSliders && fitSliders->liveOverlay() ? fitSliders->liveOverlay()
                                                   : document->overlay();
}
