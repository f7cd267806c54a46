#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <limits>

// A measured area scan (a reciprocal-space map) as a reader returns it, whatever the file's
// format: points in file order, grouped in lines (the scans of the file, or the runs of a
// text between two steps back of its second column).
struct AreaMap {
    enum Space : unsigned char {
        Angles,     // x is omega, z is 2theta, degrees
        Reciprocal, // x is Qx, z is Qz, 1/Å
    };
    QString fileName; // as passed to the reader
    QString format;   // "XRDML", "RAS" or "text"
    Space space = Angles;
    QVector<double> x;
    QVector<double> z;
    QVector<double> intensity; // counts per second, never negative
    QVector<int> lineStarts;   // index of the first point of each line, ascending, first 0
    double wavelength = std::numeric_limits<double>::quiet_NaN(); // Å, NaN when not given
    QStringList notes;                                            // lines for the log

    int lineCount() const { return lineStarts.size(); }
    int longestLine() const;
};

// The outcome of reading one area scan file.
struct AreaMapReadResult {
    bool recognised = false; // the content is one of the formats (even when it is broken)
    bool ok = false;
    QString error; // when !ok: ONE log line naming the file and the reason
    AreaMap map;
};

// Reads an area scan, recognising the format from the content: XRDML with one scan per
// line, RAS with one scan per line at stepped offsets (coupled, omega or 2theta scans; the
// fixed axes from the *MEAS_COND_AXIS_* header lines), or text of three columns (omega,
// 2theta, counts per second; or Qx, Qz, intensity when a header line names Qx). A folder,
// a pipe, a device, a missing file or one larger than 128 MiB is refused unread. When ok,
// the map holds at least three points, every value is finite, angles lie within ±360° (Q
// within ±100 1/Å) and at least one intensity is positive.
AreaMapReadResult readAreaMapFile(const QString& path);
AreaMapReadResult readAreaMapBytes(const QByteArray& bytes, const QString& nameForMessages);

// "Read [name]: 121 lines of 801 points, ω 36.100–37.300°, 2θ 70.200–74.900°." (Qx, Qz in
// 1/Å for a map in reciprocal space).
QString areaMapSummary(const AreaMap& map);
