#pragma once

class ChCoord;

// The data range of one axis: lo at the plot's left (bottom) edge, hi at its right (top) edge.
struct AxisRange {
    double lo = 0;
    double hi = 1;
};

// The data ranges of both axes of a plot, as a view derives them from its data.
struct PlotRange {
    AxisRange x;
    AxisRange y;
};

// Shows the range in the frame's plot rectangle (ChCoord::setScale).
void showRange(ChCoord& coord, const PlotRange& range);
