#pragma once

#include <QImage>
#include <QSize>

struct ResultArrays;

// Renders both plots of a result, each on a fresh white surface of plotSize with its own
// coordinate frame and freshly derived ranges, into one image: the composition profile on
// top, the diffraction curve (logarithmic when logScale is set) below it. The diffraction
// plot gets the main window's margins for it (setDiffractionMargins). For command-line
// export and tests.
//
// Labels need fonts, so a QGuiApplication (or QApplication) must exist; without a display
// run it with the offscreen platform (QT_QPA_PLATFORM=offscreen). An empty or invalid
// plotSize gives a null image.
QImage renderPlots(const ResultArrays& r, bool logScale, QSize plotSize);
