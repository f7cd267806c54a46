#include "views/plotrange.h"

#include "plot/chcoord.h"

void showRange(ChCoord& coord, const PlotRange& range) {
    coord.setScale(range.x.lo, range.y.lo, range.x.hi, range.y.hi);
}
