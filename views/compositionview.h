#pragma once

#include "views/curvepainter.h"
#include "views/plotrange.h"

#include <optional>

class ChCoord;
class QPainter;
struct ResultArrays;

// The ranges the composition view shows when it derives them from a profile: depth 0 to the
// period thickness (the closing entry), compositions -0.1 to 1.1. A profile whose closing
// depth is not a positive number is placed by the span of its finite depths together with 0,
// and one without any extent gets 0..1. Nothing for an empty profile.
std::optional<PlotRange> compositionRange(const ResultArrays& r);

// Draws the depth profile of one period into the frame as it stands (plot rectangle and
// scale set by the caller): a grey frame, a boundary line with its index under every
// monolayer, eleven composition grid lines from 0 to 1, the In fraction in blue and the As
// fraction in red. An empty profile draws nothing.
//
// Detail::Reduced (the default) leaves out what cannot change a pixel: a boundary line on the
// same pixel column as the one drawn just before it, labels whose fitted font would be
// smaller than a pixel (a thick stack seen whole), and the curve points CurvePainter drops.
// Detail::AllPoints draws everything (same pixels; for tests and benchmarks).
void drawComposition(QPainter& p, const ChCoord& coord, const ResultArrays& r,
                     CurvePainter::Detail detail = CurvePainter::Detail::Reduced);
