// Plain text with two or three columns: angle, intensity and an ignored third. Lines after
// '#' or '%' are comments, and lines that are not two or three numbers (a header, a title)
// are skipped. Columns are separated by white space, commas or semicolons; a comma is read
// as a decimal comma only when no comma separates columns anywhere in the file. The angle is
// omega in degrees, or 2theta when the caller says so; the intensity is counts per second.

#include "measured/scanformats.h"

#include <QCoreApplication>

#include <algorithm>

namespace scanformats {
namespace {

void cutComment(const char* b, const char*& e) {
    e = std::find_if(b, e, [](char c) { return c == '#' || c == '%'; });
}

bool startsLikeNumber(char c) {
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
}

} // namespace

FormatReading readColumns(const QByteArray& text, const ScanReadOptions& options) {
    FormatReading reading;
    const char* b = nullptr;
    const char* e = nullptr;

    // First pass: a structure file is never a scan, whatever numbers it holds; and whether
    // commas separate columns. "10,5 200" and "10,5;200" have decimal commas; "10.5,200",
    // "10.5, 200" and "10,200" (a line of one field) have separating commas.
    bool anyComma = false;
    bool commaSeparates = false;
    LineReader first(text);
    while (first.next(b, e)) {
        cutComment(b, e);
        trim(b, e);
        Fields words(b, e);
        const char* wb = nullptr;
        const char* we = nullptr;
        if (words.next(wb, we) &&
            (equalsNoCase(wb, we, "SUBSTRATE") || equalsNoCase(wb, we, "LAYER"))) {
            reading.failure =
                QCoreApplication::translate("Scan", "it is a structure file, not a scan");
            return reading;
        }
        if (b == e || !startsLikeNumber(*b))
            continue;
        Fields fields(b, e, ";");
        int count = 0;
        bool lineHasComma = false;
        while (fields.next(wb, we)) {
            ++count;
            const int commas = int(std::count(wb, we, ','));
            if (commas == 0)
                continue;
            lineHasComma = true;
            if (commas > 1 || *wb == ',' || we[-1] == ',' || std::find(wb, we, '.') != we)
                commaSeparates = true;
        }
        anyComma = anyComma || lineHasComma;
        if (lineHasComma && count == 1)
            commaSeparates = true;
    }
    const bool decimalComma = anyComma && !commaSeparates;

    MeasuredScan& scan = reading.scan;
    const double toTheta =
        (options.twoTheta || options.axis == ScanReadOptions::TwoTheta) ? 0.5 : 1.0;
    LineReader lines(text);
    QByteArray copy;
    while (lines.next(b, e)) {
        cutComment(b, e);
        trim(b, e);
        if (b == e)
            continue;
        if (decimalComma) {
            copy = QByteArray(b, int(e - b));
            copy.replace(',', '.');
            b = copy.constData();
            e = b + copy.size();
        }
        Fields fields(b, e, decimalComma ? ";" : ";,");
        double v[3] = {0, 0, 0};
        int count = 0;
        const char* fb = nullptr;
        const char* fe = nullptr;
        while (fields.next(fb, fe)) {
            if (count == 3 || !toNumber(fb, fe, v[count])) {
                count = 0;
                break;
            }
            ++count;
        }
        if (count < 2)
            continue;
        if (scan.theta.size() >= maxPoints) {
            reading.recognised = true;
            reading.failure =
                QCoreApplication::translate("Scan", "more than %1 points").arg(maxPoints);
            return reading;
        }
        scan.theta.append(v[0] * toTheta);
        scan.intensity.append(v[1]);
    }
    // One row of numbers could be anything; a scan needs at least two.
    reading.recognised = scan.theta.size() >= 2;
    if (scan.theta.size() == 1)
        reading.failure = QCoreApplication::translate(
            "Scan", "it holds a single row of numbers, and a scan needs at least two points");
    scan.format = QStringLiteral("text");
    scan.axis = (options.twoTheta || options.axis == ScanReadOptions::TwoTheta)
                    ? QStringLiteral("2theta/2")
                    : QStringLiteral("omega");
    return reading;
}

} // namespace scanformats
