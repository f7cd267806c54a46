#pragma once

#include "views/curvepainter.h"

#include <QVector>

class ChCoord;
class QPainter;

// Draws a curve given in data units (y as it is, or its base-10 logarithm) through the
// frame's mappings, with the painter's current pen. Point i goes to the whole pixel
// (trunc(toPixX(x[i])), trunc(toPixY(y[i] or log10 y[i]))); a point without a finite position
// (a non-finite value, or a value of zero or below on the logarithmic scale) breaks the
// curve. The pixels are exactly those of CurvePainter fed with every point.
//
// With Detail::Reduced the decisive points of each pixel column (see CurvePainter) are found
// without mapping every point: rows are monotonic in the data value, so the lowest and
// highest row belong to the smallest and largest value, and whether a value lies on a known
// row is mostly settled by values already mapped. A million-point curve then costs about
// one mapping of x per point and a few logarithms per column, instead of a logarithm and two
// mappings per point.
void drawDataCurve(QPainter& p, const ChCoord& coord, const QVector<double>& x,
                   const QVector<double>& y, bool logY,
                   CurvePainter::Detail detail = CurvePainter::Detail::Reduced);
