#pragma once

#include <QByteArray>
#include <QString>

// The promises of the area-scan (map) reader, for fuzzing and for replaying the corpus: a
// usable map has three arrays of one length, finite values, no negative intensity and a
// positive one, and lines that start at 0 and ascend within the points; a failure has its one
// log line. Returns the first broken promise, or an empty string.
QString checkMapReader(const QByteArray& input);
