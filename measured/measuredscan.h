#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <limits>

// One measured omega-2theta scan as a reader returns it, whatever the file's format. Points
// are in ascending theta: a reader keeps the file's order when it ascends and sorts the
// points (angle, intensity and counting time together) when it does not, for instance after
// a negative step. Two points may share an angle.
struct MeasuredScan {
    QString fileName;             // as passed to the reader
    QString format;               // "XRDML", "X00", "UXD", "RAS" or "text"
    QString axis;                 // "omega" or "2theta/2": what theta was taken from
    QVector<double> theta;        // Bragg angle, degrees, ascending
    QVector<double> intensity;    // counts per second (negative values from a file become 0)
    QVector<double> countingTime; // seconds per point, same length as theta, or empty when unknown
    double wavelength = std::numeric_limits<double>::quiet_NaN(); // Å, NaN when the file has none
    int scanNumber = 1; // which scan of the file was taken (1-based), of scanCount
    int scanCount = 1;
    QStringList notes; // lines for the log: further scans ignored, which RAS scan used...
};
