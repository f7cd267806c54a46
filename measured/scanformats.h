#pragma once

// The readers' shared parts: what each format's reader hands back, and the small text tools
// the ASCII formats share. Internal to this library.

#include "measured/readers.h"

#include <QByteArray>
#include <QString>

#include <limits>

namespace scanformats {

// No diffractometer writes ten million points in one scan; a count above this in a header or
// in a file is damage, and refusing it keeps a broken file from asking for gigabytes.
constexpr int maxPoints = 10000000;

// What one format's reader makes of the bytes. When `recognised` is false the bytes are not
// this format and the next reader is tried. `failure` (without the file's name) says why a
// recognised file is unusable; empty means the scan was read. The scan then holds theta in
// file order and intensities in counts per second; the common checks (finite values, order,
// a positive intensity) are made afterwards for every format alike. Notes are bare phrases;
// the caller adds the file's name.
struct FormatReading {
    bool recognised = false;
    QString failure;
    MeasuredScan scan;
};

FormatReading readXrdml(const QByteArray& bytes, const ScanReadOptions& options = {});
FormatReading readX00(const QByteArray& text);
FormatReading readUxd(const QByteArray& text);
FormatReading readRas(const QByteArray& text, const ScanReadOptions& options);
FormatReading readColumns(const QByteArray& text, const ScanReadOptions& options);

// One line of an area scan (a reciprocal-space map): omega and 2theta of every point in
// degrees, and its intensity in counts per second, in file order.
struct AreaLine {
    QVector<double> omega;
    QVector<double> twoTheta;
    QVector<double> intensity;
};

// What the XRDML reader makes of a file read as an area scan: every completed scan is one
// line, with both axes' positions (listed, from start to end, or one common position).
// `failure` as in FormatReading; at most maxPoints points in all.
struct AreaReading {
    bool recognised = false;
    QString failure;
    QVector<AreaLine> lines;
    double wavelength = std::numeric_limits<double>::quiet_NaN();
    int skipped = 0; // scans not completed, left out
};

AreaReading readXrdmlArea(const QByteArray& bytes);
AreaReading readRasArea(const QByteArray& text);

// A whole token as a number, locale-independent: "1.5", "-2e3", "+4", and "nan" or "inf"
// (which the common checks then refuse, so such a file fails with that reason rather than
// reading as something else). A value beyond the range of double reads as infinite.
bool toNumber(const char* begin, const char* end, double& value);
bool toNumber(const QByteArray& token, double& value);

// Lines of ASCII bytes without their ends (LF, CR LF or a lone CR). Lines are views into
// the bytes, which must outlive the reader.
class LineReader {
public:
    explicit LineReader(const QByteArray& bytes)
        : pos_(bytes.constData()), end_(pos_ + bytes.size()) {}
    bool next(const char*& begin, const char*& end);
    int lineNumber() const { return line_; } // 1-based number of the line last returned

private:
    const char* pos_;
    const char* end_;
    int line_ = 0;
};

// The fields of a line or a text, split at white space (line ends included) and at any of
// `separators`; empty fields are skipped.
class Fields {
public:
    // At most three separators besides white space.
    Fields(const char* begin, const char* end, const char* separators = "")
        : pos_(begin), end_(end) {
        for (int i = 0; i < 3 && separators[i]; ++i)
            separators_[i] = separators[i];
    }
    bool next(const char*& begin, const char*& end);

private:
    bool isSeparator(char c) const {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' ||
               (c != 0 && (c == separators_[0] || c == separators_[1] || c == separators_[2]));
    }
    const char* pos_;
    const char* end_;
    char separators_[3] = {0, 0, 0};
};

void trim(const char*& begin, const char*& end);
// Reads the first line of `lines`: true when it is exactly `marker` (blanks around it aside),
// the signature of a format that names itself there.
bool firstLineIs(LineReader& lines, const char* marker);
bool startsWith(const char* begin, const char* end, const char* prefix); // ASCII, any case
bool equalsNoCase(const char* begin, const char* end, const char* word);

// A piece of a file quoted in a message: at most 40 characters, controls replaced, so the
// message stays one readable line.
QString quoted(const char* begin, const char* end);
QString quoted(const QString& text);

} // namespace scanformats
