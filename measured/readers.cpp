#include "measured/readers.h"

#include "common/regularfile.h"
#include "measured/scanformats.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numeric>

namespace {

using namespace scanformats;

// The largest file read at all. Real scans take a few MB at most; 128 MiB hold several million
// points in any of the formats, and an XRDML map of a hundred MB is no omega-2theta scan.
constexpr qint64 maxFileBytes = qint64(128) << 20;

// No detector counts 10^15 photons a second; larger numbers are damage, and refusing them
// keeps sums over a scan far from overflow.
constexpr double maxIntensity = 1e15;

QString failureLine(const QString& name, const QString& reason) {
    return QCoreApplication::translate("Scan", "Can't read scan [%1]: %2.").arg(name, reason);
}

// Reads the file only when it is a regular one, with the size checked first. A named pipe
// would block until some writer appears, a device may never end, and a folder is no file:
// O_NONBLOCK keeps open() itself from waiting on a pipe, and the type and size are checked
// on the opened descriptor, so a file swapped between a check by name and the open cannot
// slip through. Reading at most one byte past the limit catches a file that grows meanwhile.
bool readRegularFile(const QString& path, QByteArray& bytes, QString& reason) {
    if (path.isEmpty()) {
        reason = QCoreApplication::translate("Scan", "no file name was given");
        return false;
    }
    QFile file;
    qint64 size = 0;
    if (!openRegularFile(file, path, &reason, &size))
        return false;
    const QString tooLarge =
        QCoreApplication::translate("Scan", "the file is larger than %1 MiB, too large for a scan")
            .arg(maxFileBytes >> 20);
    if (size > maxFileBytes) {
        reason = tooLarge;
        return false;
    }
    bytes = file.read(maxFileBytes + 1);
    if (bytes.size() > maxFileBytes) {
        bytes.clear();
        reason = tooLarge;
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        reason = QCoreApplication::translate("Scan", "reading failed (%1)").arg(file.errorString());
        return false;
    }
    return true;
}

bool allFinite(const QVector<double>& values, int& where) {
    for (int i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) {
            where = i;
            return false;
        }
    }
    return true;
}

template <typename T> QVector<T> permuted(const QVector<T>& values, const std::vector<int>& order) {
    QVector<T> out;
    out.reserve(values.size());
    for (const int i : order)
        out.append(values[i]);
    return out;
}

// The checks every format shares, made on the scan a format's reader produced; returns the
// reason the scan is unusable, or an empty string. Puts the points in ascending theta.
QString finish(MeasuredScan& scan) {
    const int n = scan.theta.size();
    if (scan.intensity.size() != n) {
        return QCoreApplication::translate("Scan", "%1 angles but %2 intensities")
            .arg(n)
            .arg(scan.intensity.size());
    }
    if (!scan.countingTime.isEmpty() && scan.countingTime.size() != n)
        return QCoreApplication::translate("Scan", "the counting times do not match the points");
    if (n == 0)
        return QCoreApplication::translate("Scan", "the scan holds no points");
    if (n == 1)
        return QCoreApplication::translate("Scan", "the scan holds a single point");

    int where = 0;
    if (!allFinite(scan.theta, where))
        return QCoreApplication::translate("Scan", "the angle of point %1 is not a finite number")
            .arg(where + 1);
    if (!allFinite(scan.intensity, where))
        return QCoreApplication::translate("Scan",
                                           "the intensity of point %1 is not a finite number")
            .arg(where + 1);
    if (!allFinite(scan.countingTime, where))
        return QCoreApplication::translate("Scan",
                                           "the counting time of point %1 is not a finite number")
            .arg(where + 1);
    for (int i = 0; i < n; ++i) {
        // Angles are degrees; beyond a full turn they are damage, and they keep differences
        // of angles far from overflow.
        if (std::fabs(scan.theta[i]) > 360.0)
            return QCoreApplication::translate("Scan", "the angle of point %1 (%2°) is absurd")
                .arg(i + 1)
                .arg(scan.theta[i]);
        if (scan.intensity[i] > maxIntensity)
            return QCoreApplication::translate("Scan",
                                               "the intensity of point %1 (%2 counts/s) is absurd")
                .arg(i + 1)
                .arg(scan.intensity[i]);
        if (!scan.countingTime.isEmpty() && !(scan.countingTime[i] > 0.0))
            return QCoreApplication::translate("Scan",
                                               "the counting time of point %1 is not positive")
                .arg(i + 1);
    }
    bool anyPositive = false;
    for (double& v : scan.intensity) {
        if (v < 0.0)
            v = 0.0; // background subtraction by the instrument can leave negative counts
        anyPositive = anyPositive || v > 0.0;
    }
    if (!anyPositive)
        return QCoreApplication::translate("Scan", "no intensity is positive");

    if (!std::is_sorted(scan.theta.cbegin(), scan.theta.cend())) {
        std::vector<int> order(std::size_t(n), 0);
        std::iota(order.begin(), order.end(), 0);
        const QVector<double>& theta = scan.theta;
        std::stable_sort(order.begin(), order.end(),
                         [&theta](int a, int b) { return theta[a] < theta[b]; });
        scan.theta = permuted(scan.theta, order);
        scan.intensity = permuted(scan.intensity, order);
        if (!scan.countingTime.isEmpty())
            scan.countingTime = permuted(scan.countingTime, order);
        scan.notes << QCoreApplication::translate(
            "Scan", "the angles do not ascend in the file; the points were sorted by angle");
    }
    if (scan.theta.first() == scan.theta.last())
        return QCoreApplication::translate("Scan", "every point is at the same angle");

    if (!(scan.wavelength > 0.0) || !std::isfinite(scan.wavelength))
        scan.wavelength = std::numeric_limits<double>::quiet_NaN();
    return QString();
}

QByteArray withoutUtf8Bom(const QByteArray& bytes) {
    return bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
}

// Text saved as UTF-16 with its byte-order mark ("Unicode" text of instrument software and
// spreadsheets), as UTF-8 without the mark, for the ASCII formats to read as any other file.
// A lone surrogate becomes U+FFFD, an odd last byte is dropped. The result takes about half
// the bytes of the input, so no more than one extra copy of the file is held.
bool isUtf16(const QByteArray& bytes) {
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
}

QByteArray utf16AsUtf8(const QByteArray& bytes) {
    const bool little = uchar(bytes[0]) == 0xFF;
    const int size = bytes.size() & ~1;
    const auto unit = [&bytes, little](int i) {
        const uint a = uchar(bytes[i]);
        const uint b = uchar(bytes[i + 1]);
        return little ? a | (b << 8) : (a << 8) | b;
    };
    QByteArray out;
    out.reserve(size / 2);
    for (int i = 2; i < size; i += 2) {
        uint c = unit(i);
        if (c < 0x80) {
            out.append(char(c));
            continue;
        }
        if (c >= 0xD800 && c < 0xDC00 && i + 2 < size) {
            const uint low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        if (c < 0x800) {
            out.append(char(0xC0 | (c >> 6)));
        } else {
            if (c < 0x10000) {
                out.append(char(0xE0 | (c >> 12)));
            } else {
                out.append(char(0xF0 | (c >> 18)));
                out.append(char(0x80 | ((c >> 12) & 0x3F)));
            }
            out.append(char(0x80 | ((c >> 6) & 0x3F)));
        }
        out.append(char(0x80 | (c & 0x3F)));
    }
    return out;
}

QString axisWord(const MeasuredScan& scan) {
    return scan.axis == QLatin1String("omega") ? QStringLiteral("omega") : QStringLiteral("2theta");
}

// The import choices made on a scan that passed the common checks: the axis asked for must be
// the one read, and only the points inside the window stay. Returns the reason the choices
// leave no usable scan, or an empty string.
QString applyChoices(MeasuredScan& scan, const ScanReadOptions& options) {
    // The formats of one scan a file take no other; those of several check the number.
    if (options.scanNumber > scan.scanCount)
        return QCoreApplication::translate("Scan", "scan %2 was asked for, but the file holds %1")
            .arg(scan.scanCount)
            .arg(options.scanNumber);
    if (options.axis != ScanReadOptions::AnyAxis) {
        const QString asked =
            QLatin1String(options.axis == ScanReadOptions::Omega ? "omega" : "2theta");
        if (axisWord(scan) != asked)
            return QCoreApplication::translate("Scan", "its scan moves %1, not %2")
                .arg(axisWord(scan), asked);
    }
    if (!options.windowGiven)
        return QString();
    const double toTheta = scan.axis == QLatin1String("omega") ? 1.0 : 0.5;
    const double low = options.from * toTheta;
    const double high = options.to * toTheta;
    const bool timed = !scan.countingTime.isEmpty();
    int kept = 0;
    bool anyPositive = false;
    for (int i = 0; i < scan.theta.size(); ++i) {
        if (!(scan.theta[i] >= low && scan.theta[i] <= high))
            continue;
        scan.theta[kept] = scan.theta[i];
        scan.intensity[kept] = scan.intensity[i];
        if (timed)
            scan.countingTime[kept] = scan.countingTime[i];
        anyPositive = anyPositive || scan.intensity[kept] > 0.0;
        ++kept;
    }
    scan.theta.resize(kept);
    scan.intensity.resize(kept);
    if (timed)
        scan.countingTime.resize(kept);
    const QString window =
        QStringLiteral("%1–%2° of %3").arg(options.from).arg(options.to).arg(axisWord(scan));
    if (kept < 2 || scan.theta.first() == scan.theta.last())
        return QCoreApplication::translate("Scan", "the window %1 holds fewer than two points "
                                                   "at different angles")
            .arg(window);
    if (!anyPositive)
        return QCoreApplication::translate("Scan", "no intensity inside the window %1 is positive")
            .arg(window);
    return QString();
}

// "Took scan 2 of 3 from [file], 2theta axis, 30–35°, 1201 points."
QString tookLine(const MeasuredScan& scan, const ScanReadOptions& options, const QString& name) {
    const double fromTheta = scan.axis == QLatin1String("omega") ? 1.0 : 2.0;
    const double first = options.windowGiven ? options.from : scan.theta.first() * fromTheta;
    const double last = options.windowGiven ? options.to : scan.theta.last() * fromTheta;
    return QCoreApplication::translate("Scan",
                                       "Took scan %1 of %2 from [%3], %4 axis, %5–%6°, %7 points.")
        .arg(scan.scanNumber)
        .arg(scan.scanCount)
        .arg(name, axisWord(scan))
        .arg(first, 0, 'f', 4)
        .arg(last, 0, 'f', 4)
        .arg(scan.theta.size());
}

} // namespace

ScanReadResult readScanBytes(const QByteArray& bytes, const QString& nameForMessages,
                             const ScanReadOptions& options) {
    ScanReadResult result;
    result.scan.fileName = nameForMessages;
    if (bytes.size() > maxFileBytes) {
        result.error = failureLine(
            nameForMessages, QCoreApplication::translate(
                                 "Scan", "the data are larger than %1 MiB, too large for a scan")
                                 .arg(maxFileBytes >> 20));
        return result;
    }
    if (std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return std::isspace(uchar(c)); })) {
        result.error =
            failureLine(nameForMessages, QCoreApplication::translate("Scan", "the file is empty"));
        return result;
    }

    // The XML reader sees the bytes as they are (it reads any byte-order mark itself); the
    // ASCII formats see them without a UTF-8 one, and UTF-16 text as UTF-8.
    FormatReading reading = readXrdml(bytes, options);
    if (!reading.recognised) {
        const QByteArray text = isUtf16(bytes) ? utf16AsUtf8(bytes) : withoutUtf8Bom(bytes);
        reading = readX00(text);
        if (!reading.recognised)
            reading = readRas(text, options);
        if (!reading.recognised)
            reading = readUxd(text);
        if (!reading.recognised)
            reading = readColumns(text, options);
    }

    result.recognised = reading.recognised;
    if (!reading.recognised) {
        result.error = failureLine(
            nameForMessages, reading.failure.isEmpty()
                                 ? QCoreApplication::translate(
                                       "Scan", "the content is no scan format known here (XRDML, "
                                               ".x00, UXD, RAS, or columns of angle and intensity)")
                                 : reading.failure);
        return result;
    }
    QString failure = reading.failure;
    if (failure.isEmpty())
        failure = finish(reading.scan);
    if (failure.isEmpty())
        failure = applyChoices(reading.scan, options);
    if (!failure.isEmpty()) {
        result.error = failureLine(nameForMessages, failure);
        return result;
    }

    result.scan = reading.scan;
    result.scan.fileName = nameForMessages;
    for (QString& note : result.scan.notes)
        note = QCoreApplication::translate("Scan", "Scan [%1]: %2.").arg(nameForMessages, note);
    if (options.hasChoices())
        result.scan.notes.prepend(tookLine(result.scan, options, nameForMessages));
    result.ok = true;
    return result;
}

ScanReadResult readScanFile(const QString& path, const ScanReadOptions& options) {
    QByteArray bytes;
    QString reason;
    if (!readRegularFile(path, bytes, reason)) {
        ScanReadResult result;
        result.scan.fileName = path;
        result.error = failureLine(path, reason);
        return result;
    }
    return readScanBytes(bytes, path, options);
}
