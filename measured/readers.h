#pragma once

#include "measured/measuredscan.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// What the caller knows that the file may not say.
// The import choices a user may make: which axis of the file theta is taken from, an angle
// window (degrees of that axis, from < to) and which scan of a file holding several. With any
// of them given, the scan's notes begin with one line that says what was taken.
struct ScanReadOptions {
    enum Axis : unsigned char { AnyAxis, TwoTheta, Omega };
    bool twoTheta = false;           // plain text: the angle column is 2theta (as axis TwoTheta)
    QVector<double> preferredThetas; // degrees; RAS scan choice, in order of preference
    // 2theta: theta is half the 2theta positions (XRDML: they must move; RAS: a scan of a
    // 2theta axis; text: the column is 2theta). Omega: theta is omega. AnyAxis: the file's.
    Axis axis = AnyAxis;
    bool windowGiven = false;
    double from = 0.0, to = 0.0;
    int scanNumber = 0; // 1-based scan of an XRDML or RAS file; 0: the reader's choice
    bool hasChoices() const { return axis != AnyAxis || windowGiven || scanNumber > 0; }
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
// columns (angle, intensity[, ignored]). Text in UTF-16 with a byte-order mark is read as
// the same text in UTF-8 would be. A folder, a pipe, a device, a missing file or one
// larger than 128 MiB is refused without being read. When ok, the scan has at least two
// points at different angles, every value is finite, theta ascends, and at least one
// intensity is positive.
ScanReadResult readScanFile(const QString& path, const ScanReadOptions& options = {});

// The same for bytes already in memory; `nameForMessages` names them in the log lines and
// becomes scan.fileName.
ScanReadResult readScanBytes(const QByteArray& bytes, const QString& nameForMessages,
                             const ScanReadOptions& options = {});
