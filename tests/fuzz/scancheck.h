#pragma once

#include <QByteArray>
#include <QString>

// The promises of the scan readers (and of the map reader, checkMapReader), for fuzzing and for
// replaying the fuzzer's corpus: the bytes are read as a scan twice, with the angle column of plain
// text taken as omega and as 2theta. Returns a description of the first broken promise (a usable
// scan whose arrays differ in length, hold a non-finite value, a negative intensity, no positive
// one, or angles that do not ascend; a failure without its one log line; a result that the 2theta
// option changes for anything but plain text), or an empty string.
QString checkScanReaders(const QByteArray& input);
