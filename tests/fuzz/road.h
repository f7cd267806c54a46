#pragma once

#include <QByteArray>
#include <QString>

// The whole road of a dropped file, for fuzzing and for replaying the fuzzer's corpus: the
// bytes are written to a file, loaded, checked for validity and the size limits, expanded,
// computed (when small enough to keep the fuzzer fast) and painted by both views, linear and
// logarithmic, at the derived scale and zoomed. Returns a description of the first broken
// promise (a loader state that breaks its invariant, arrays of unequal length, a fast curve
// that disagrees with the literal sum, a non-finite coordinate handed to the painter), or
// an empty string. Needs a QGuiApplication.
QString checkRoad(const QByteArray& input);
