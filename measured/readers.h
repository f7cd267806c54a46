#pragma once

#include "measured/measuredscan.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// What the caller knows that the file may not say.
struct ScanReadOptions {
    bool twoTheta = false;           // plain text: the angle column is 2theta
    QVector<double> preferredThetas; // degrees; RAS scan choice, in order of preference
};

// The outcome of reading one scan file.
struct ScanReadResult {
    bool recognised = false; // the content is one of the formats (even when it is broken)
    bool ok = false;         // a usable scan was read
    QString error;           // when !ok: ONE clear log line naming the file and the reason
    MeasuredScan scan;
};

// Reads a measured scan, recognising its format from the content (never from the name):
// PANalytical XRDML and ".x00", Bruker UXD, Rigaku RAS, or plain text with two or three
// columns (angle, intensity[, ignored]). A folder, a pipe, a device, a missing file or one
// larger than 128 MiB is refused without being read. When ok, the scan has at least two
// points at different angles, every value is finite, theta ascends, and at least one
// intensity is positive.
ScanReadResult readScanFile(const QString& path, const ScanReadOptions& options = {});

// The same for bytes already in memory; `nameForMessages` names them in the log lines and
// becomes scan.fileName.
ScanReadResult readScanBytes(const QByteArray& bytes, const QString& nameForMessages,
                             const ScanReadOptions& options = {});
