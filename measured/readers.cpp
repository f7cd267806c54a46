#include "measured/readers.h"

#include "measured/scanformats.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numeric>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
#ifdef Q_OS_UNIX
    const QByteArray encoded = QFile::encodeName(path);
    const int fd = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        reason = error == ENOENT
                     ? QCoreApplication::translate("Scan", "the file does not exist")
                     : QCoreApplication::translate("Scan", "the file cannot be opened (%1)")
                           .arg(qt_error_string(error));
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const bool folder = S_ISDIR(info.st_mode);
        ::close(fd);
        reason = folder ? QCoreApplication::translate("Scan", "it is a folder, not a file")
                        : QCoreApplication::translate(
                              "Scan", "it is not a regular file (a pipe, a device or a socket)");
        return false;
    }
    const qint64 size = info.st_size;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        reason = QCoreApplication::translate("Scan", "the file cannot be opened");
        return false;
    }
#else
    const QFileInfo info(path);
    if (!info.exists()) {
        reason = QCoreApplication::translate("Scan", "the file does not exist");
        return false;
    }
    if (!info.isFile()) {
        reason = info.isDir() ? QCoreApplication::translate("Scan", "it is a folder, not a file")
                              : QCoreApplication::translate("Scan", "it is not a regular file");
        return false;
    }
    const qint64 size = info.size();
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = QCoreApplication::translate("Scan", "the file cannot be opened");
        return false;
    }
#endif
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
    // ASCII formats see them without a UTF-8 one.
    FormatReading reading = readXrdml(bytes);
    if (!reading.recognised) {
        const QByteArray text = withoutUtf8Bom(bytes);
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
    if (!failure.isEmpty()) {
        result.error = failureLine(nameForMessages, failure);
        return result;
    }

    result.scan = reading.scan;
    result.scan.fileName = nameForMessages;
    for (QString& note : result.scan.notes)
        note = QCoreApplication::translate("Scan", "Scan [%1]: %2.").arg(nameForMessages, note);
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
