// Bruker/Siemens UXD ASCII: ';' comment lines, "_KEY=value" header lines (a value may be
// quoted), and per range a data block opened by _COUNTS or _CPS (intensities only, several a
// line, at _START + i*_STEPSIZE) or by _2THETACOUNTS or _2THETACPS (angle-intensity pairs).
// The first range is read. Whatever the marker's name says, the angle is the one _DRIVE
// moves: 2theta for coupled scans, omega (theta) for rocking curves. Counts are divided by
// _STEPTIME to give counts per second.

#include "measured/scanformats.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace scanformats {
namespace {

enum class Block { None, Counts, Cps, PairCounts, PairCps };

Block blockNamed(const QByteArray& name) {
    if (name == "COUNTS")
        return Block::Counts;
    if (name == "CPS")
        return Block::Cps;
    if (name == "2THETACOUNTS")
        return Block::PairCounts;
    if (name == "2THETACPS")
        return Block::PairCps;
    return Block::None;
}

// The name of a "_NAME=value" or "_NAME" line, upper case, and its value without quotes.
QByteArray splitHeader(const char* b, const char* e, QByteArray& value) {
    const char* equals = std::find(b, e, '=');
    const char* nameEnd = equals;
    trim(b, nameEnd);
    value.clear();
    if (equals != e) {
        const char* vb = equals + 1;
        const char* ve = e;
        trim(vb, ve);
        if (ve - vb >= 2 && (*vb == '\'' || *vb == '"') && ve[-1] == *vb) {
            ++vb;
            --ve;
        }
        value = QByteArray(vb, int(ve - vb));
    }
    return QByteArray(b + 1, int(nameEnd - b - 1)).toUpper();
}

} // namespace

FormatReading readUxd(const QByteArray& text) {
    FormatReading reading;
    LineReader lines(text);
    const char* b = nullptr;
    const char* e = nullptr;

    // The first line that is neither blank nor a comment must be a header line.
    QHash<QByteArray, QByteArray> header;
    Block block = Block::None;
    while (block == Block::None && lines.next(b, e)) {
        trim(b, e);
        if (b == e || *b == ';')
            continue;
        if (*b != '_' || e - b < 2 || !std::isalnum(static_cast<unsigned char>(b[1]))) {
            if (!reading.recognised)
                return reading;
            continue; // a stray line among the headers
        }
        reading.recognised = true;
        QByteArray value;
        const QByteArray name = splitHeader(b, e, value);
        block = blockNamed(name);
        if (block == Block::None)
            header.insert(name, value);
    }
    if (!reading.recognised)
        return reading;
    MeasuredScan& scan = reading.scan;
    scan.format = QStringLiteral("UXD");
    if (block == Block::None) {
        reading.failure = QCoreApplication::translate(
            "Scan", "no data block (_COUNTS, _CPS, _2THETACOUNTS or _2THETACPS)");
        return reading;
    }

    const QByteArray drive = header.value("DRIVE").toUpper();
    double toTheta = 0.5;
    if (drive == "THETA" || drive == "OMEGA") {
        toTheta = 1.0;
        scan.axis = QStringLiteral("omega");
    } else if (drive == "COUPLED" || drive == "UNLOCKED" || drive == "2THETA" ||
               drive == "TWOTHETA" || drive == "DETECTOR" || drive.isEmpty()) {
        scan.axis = QStringLiteral("2theta/2");
        if (drive.isEmpty())
            scan.notes << QCoreApplication::translate(
                "Scan", "the file names no _DRIVE; the angles were taken as 2theta");
    } else {
        reading.failure =
            QCoreApplication::translate("Scan", "_DRIVE %1 moves no angle of an omega-2theta scan")
                .arg(quoted(QString::fromUtf8(header.value("DRIVE"))));
        return reading;
    }

    auto number = [&header](const char* key, double& out) {
        const auto it = header.constFind(QByteArray(key));
        return it != header.constEnd() && toNumber(it.value(), out);
    };
    int expected = -1;
    if (header.contains("STEPCOUNT")) {
        double count = 0;
        if (!number("STEPCOUNT", count) || !(count >= 1 && count <= maxPoints) ||
            count != std::floor(count)) {
            reading.failure =
                QCoreApplication::translate("Scan", "_STEPCOUNT %1 is no count of points (1 to %2)")
                    .arg(quoted(QString::fromUtf8(header.value("STEPCOUNT"))),
                         QString::number(maxPoints));
            return reading;
        }
        expected = int(count);
    }

    // The data run to the next header or comment line, which opens the next range.
    const bool pairs = block == Block::PairCounts || block == Block::PairCps;
    QVector<double> values;
    bool moreLines = false;
    while (lines.next(b, e)) {
        trim(b, e);
        if (b == e)
            continue;
        if (*b == '_' || *b == ';') {
            moreLines = true;
            break;
        }
        Fields fields(b, e);
        const char* fb = nullptr;
        const char* fe = nullptr;
        while (fields.next(fb, fe)) {
            double v = 0;
            if (!toNumber(fb, fe, v)) {
                reading.failure =
                    QCoreApplication::translate("Scan", "line %1 holds %2, which is not a number")
                        .arg(QString::number(lines.lineNumber()), quoted(fb, fe));
                return reading;
            }
            if (values.size() >= (pairs ? 2 * maxPoints : maxPoints)) {
                reading.failure =
                    QCoreApplication::translate("Scan", "more than %1 points").arg(maxPoints);
                return reading;
            }
            values.append(v);
        }
    }

    // Further ranges are only counted, for the note.
    int ranges = 1;
    for (bool line = moreLines; line; line = lines.next(b, e)) {
        trim(b, e);
        if (b != e && *b == '_') {
            QByteArray unused;
            if (blockNamed(splitHeader(b, e, unused)) != Block::None)
                ++ranges;
        }
    }
    if (ranges > 1)
        scan.notes << QCoreApplication::translate("Scan",
                                                  "range 1 of %1 used; the others were ignored")
                          .arg(ranges);

    if (pairs && values.size() % 2 != 0) {
        reading.failure = QCoreApplication::translate("Scan", "an angle without an intensity");
        return reading;
    }
    const int n = pairs ? values.size() / 2 : values.size();
    if (expected >= 0 && n != expected) {
        reading.failure =
            QCoreApplication::translate("Scan", "_STEPCOUNT says %1 points but %2 follow")
                .arg(expected)
                .arg(n);
        return reading;
    }
    double start = 0;
    double step = 0;
    if (!pairs && (!number("START", start) || !number("STEPSIZE", step))) {
        reading.failure =
            QCoreApplication::translate("Scan", "the range lacks _START or _STEPSIZE");
        return reading;
    }
    double time = 0;
    const bool haveTime = number("STEPTIME", time) && time > 0 && std::isfinite(time);
    const bool counts = block == Block::Counts || block == Block::PairCounts;
    if (counts && !haveTime) {
        reading.failure = QCoreApplication::translate(
            "Scan", "no positive _STEPTIME to turn counts into counts per second");
        return reading;
    }

    scan.theta.resize(n);
    scan.intensity.resize(n);
    for (int i = 0; i < n; ++i) {
        scan.theta[i] = (pairs ? values[2 * i] : start + i * step) * toTheta;
        const double v = pairs ? values[2 * i + 1] : values[i];
        scan.intensity[i] = counts ? v / time : v;
    }
    if (haveTime)
        scan.countingTime = QVector<double>(n, time);
    double wavelength = 0;
    if (number("WL1", wavelength))
        scan.wavelength = wavelength;
    return reading;
}

} // namespace scanformats
