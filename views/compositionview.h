#pragma once

#include "curvepainter.h"

class ChCoord;
class QPainter;
struct ResultArrays;

// Draws the depth profile of one period: a grey frame, a boundary line with its index under
// every monolayer, eleven composition grid lines from 0 to 1, the In fraction in blue and
// the As fraction in red. The frame's pixel area must be set (the display does this before
// it hands out its painter). While neverDraw is set the scale is derived from the profile
// (depth 0 to the period thickness, compositions -0.1 to 1.1) and neverDraw is cleared;
// otherwise the frame's scale, as the user zoomed it, is kept. An empty profile draws
// nothing and leaves neverDraw as it is.
void drawComposition(QPainter& p, ChCoord& coord, const ResultArrays& r, bool& neverDraw,
                     CurvePainter::Detail detail = CurvePainter::Detail::Reduced);
