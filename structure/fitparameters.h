#pragma once

#include <QString>
#include <QStringList>

#include <vector>

struct Structure;

// The parameters of a fit are the FIT lines of a structure, in file order (a repeated target
// keeps the place of its first line). These functions turn a vector of parameter values into
// a structure and back; they touch no file and emit no signal, so worker threads may call
// them at once on one shared, unchanging base structure.

// Why the FIT lines of a valid structure cannot start a fit: a period of more than
// StructureExtensions::maxFitLayers layers, a FIT line that names a missing layer, min > max, a
// bound that is not a finite number, a fraction range beyond 0 to 1, a negative thickness, a
// resolution or scale range reaching 0, a start value outside its range. One log line naming the
// file and the FIT line, or empty.
QString fitProblem(const Structure& config);
// Every such problem, one line per faulty FIT line (fitProblem gives the first).
QStringList fitProblems(const Structure& config);

// Start values of the parameters as the file gives them: a layer's N (as a double), X or Y;
// offset and resolution from their lines or defaults; scale and background from their lines,
// or the middle of the FIT range when the file gives none. NaN for a layer that is missing.
std::vector<double> fitStartValues(const Structure& config);

// Fills `out` with a copy of `base` (the layer list is shared until written, so the copy
// costs a few reference counts) that has the parameter values applied. N is rounded to the
// nearest integer and kept within 0 to 2^31 - 1. A moved X or Y also moves the neighbour
// compositions that the adjacent layers wrote equal to it (below). `out.valid` is false when
// `values` does not match the FIT lines, a value is not finite or a FIT line names a missing
// layer; a structure that the values make unphysical stays valid here and is the caller's to
// judge (a fit counts it as the worst cost).
//
// The neighbour rule: when layer i's In fraction moves, the end In target of the layer before
// it and the start In target of the layer after it follow, when the file wrote them equal to
// layer i's In fraction (the same for As and Y). Before and after are cyclic within the period
// when REPEAT > 1; with REPEAT 1 the first layer has the substrate before it and the last one
// the surface after it, and neither moves. A layer's own targets never move with it, and a
// target left out of its LAYER line never moves. Only the targets that face layer i follow:
// a target that faces another layer describes that layer's material, which did not move.
void applyFitValues(const Structure& base, const std::vector<double>& values, Structure& out);
