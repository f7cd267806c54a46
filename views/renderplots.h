#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include "views/plotaxes.h"

class ChCoord;
class QPainter;

// The size of each plot in an exported image when none is given (the window's own when shown).
inline constexpr QSize defaultPlotSize{800, 600};
struct OverlayData;
struct ResultArrays;

// The overlay when it holds a scan, else null: the lower plot then shows the full curve.
const OverlayData* scanToOverlay(const OverlayData* overlay);

// The one painter of the lower plot, for the window, the image export, the report and the batch
// tool: the overlay of the measured scan and the model (drawOverlay, counted per second) when
// `overlay` holds a scan, else the full curve (drawDiffraction, in axes.unit). The frame's
// margins are applied; with deriveRanges the ranges are derived from what is drawn, otherwise
// the frame's scale (the user's zoom) stays. False, with nothing drawn, without data.
bool drawLowerPlot(QPainter& p, ChCoord& coord, const ResultArrays& r, const OverlayData* overlay,
                   bool logScale, const DiffractionAxes& axes, bool deriveRanges);

// Renders both plots of a result, each on a fresh white surface of plotSize with its own
// coordinate frame and freshly derived ranges, into one image: the composition profile on
// top, the diffraction curve (logarithmic when logScale is set) below it. The diffraction
// plot gets the main window's margins for it (setDiffractionMargins). With an overlay that
// holds a scan, the lower plot is the overlay of the measured scan and the model
// (drawOverlay) instead of the full curve. For command-line export and tests.
//
// Labels need fonts, so a QGuiApplication (or QApplication) must exist; without a display
// run it with the offscreen platform (QT_QPA_PLATFORM=offscreen). An empty or invalid
// plotSize gives a null image.
// `axes` titles and labels the diffraction plot (an overlay always counts per second).
QImage renderPlots(const ResultArrays& r, bool logScale, QSize plotSize,
                   const OverlayData* overlay = nullptr,
                   const DiffractionAxes& axes = DiffractionAxes());

// Writes the plots as renderPlots draws them to `path`: an SVG drawing when its suffix is
// "svg" (any case), else a PNG image. Both plots one above the other, or with diffractionOnly
// the lower plot alone, each plotSize. The SVG holds the same drawing calls as vectors and
// text. The file is replaced only once it has been written completely; false when it could
// not be (a folder that does not exist or is not writable, a full disk) or plotSize is
// empty. Needs a QGuiApplication as renderPlots does.
bool exportPlots(const QString& path, const ResultArrays& r, bool logScale, QSize plotSize,
                 const OverlayData* overlay, bool diffractionOnly,
                 const DiffractionAxes& axes = DiffractionAxes());
