#pragma once

#include "common/safefile.h"

#include <QString>
#include <QVector>

struct Reflection;

// Absolute path of the result file with `tag` ("cmp" for the profile, "dif" for the curve)
// for the structure file `structureFile`: its complete base name, "-", the tag, ".", its
// last suffix, in its directory (made absolute against the working directory). When
// `outputDir` is given, the file goes there instead.
QString resultFileName(const QString& structureFile, const QString& tag,
                       const QString& outputDir = QString());

// The tag of the -meas file of a scan after the first (which keeps "meas"): "meas-" and the
// reflection's indices, three digits when each is a digit from 0 to 9 ("meas-224"), else the
// indices joined by "_" with "m" for a minus ("meas-m2_2_4", "meas-0_0_12"); an asymmetric
// reflection adds its grazing side ("meas-224-exit", "meas-115-incidence").
QString measuredResultTag(const Reflection& reflection);

// Writes the three arrays as tab-separated columns, one line per entry of the shortest, with
// numbers as a QTextStream with default settings writes them (6 significant digits; see
// numberformat.h). The file is written as a SafeFile: whole or not at all, never through a
// symbolic link. Returns false when the file could not be written; the previous file, if
// any, is then unchanged.
//
// `threads` formatting threads work on chunks of lines at once while the calling thread
// writes the chunks in order; 0 or less means one per core (QThread::idealThreadCount()),
// 1 formats everything on the calling thread. The file is the same for every thread count.
// Small files (a few thousand lines) are written by the calling thread alone.
// `digits` other than 6 writes that many significant digits (formatDoubleDigits).
bool writeColumns(const QString& path, const QVector<double>& first, const QVector<double>& second,
                  const QVector<double>& third, int threads = 0, int digits = 6);
