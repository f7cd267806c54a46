#pragma once

// The reciprocal-space map plot: the gridded map as a log-scaled colour map with a colour
// bar, the substrate's point, the lines of full strain (the substrate's Qx) and of full
// relaxation (through the origin and the substrate's point), the structure's layers (open
// circle coherent, filled at their RELAXATION) and the spots found, numbered. Drawn through
// the plot toolkit's frame (ChCoord), so the plot pans and zooms with its gestures.

#include "analysis/rsmroad.h"

#include <QImage>
#include <QRectF>
#include <QSize>

class ChCoord;
class QPainter;

// The colour bar's range: log10 of the lowest and highest positive cell (a decade below the
// highest when only one value is positive; 0..1 for a map without one).
struct ColourRange {
    double low = 0, high = 1;
};
ColourRange colourRange(const MapGrid& grid);

// What the plot draws, with the colour image of the cells made once (prepare) so that a pan
// or a zoom only scales a part of it.
struct MapPicture {
    RsmAnalysis analysis;
    ColourRange range;
    QImage cells; // nx × nz, top row the highest Qz; empty cells transparent
    void prepare();
};

// The margins of the map plot (room for the colour bar at the right).
void setMapMargins(ChCoord& coord);

// The full extent of the grid's cells (half a step beyond the outer centres).
QRectF mapExtent(const MapGrid& grid);

// The part of the cell image shown in the frame's plot rectangle: `source` in image pixels
// and `target` in the widget's pixels, both clipped to the plot rectangle and the grid; false
// when no cell is in view.
bool mapSourceRect(const ChCoord& coord, const MapGrid& grid, QRectF& source, QRectF& target);

// The colour of a fraction 0..1 of the colour bar (dark blue through green to yellow).
QRgb mapColour(double fraction);

void drawMap(QPainter& p, const ChCoord& coord, const MapPicture& picture);

// The map alone on a white image of `size`, the whole grid in view. Needs a QGuiApplication
// (offscreen without a display); a null image for an empty size.
QImage renderMap(const MapPicture& picture, QSize size);
