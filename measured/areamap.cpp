#include "measured/areamap.h"

#include "common/regularfile.h"
#include "measured/scanformats.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

using namespace scanformats;

constexpr qint64 maxFileBytes = qint64(128) << 20;
constexpr double maxIntensity = 1e15; // counts per second; beyond it a file is damaged
constexpr double maxQ = 100.0;        // 1/Å; no X-ray reaches beyond 4π/λ of hard X-rays

QString failureLine(const QString& name, const QString& reason) {
    return QCoreApplication::translate("Scan", "Can't read map [%1]: %2.").arg(name, reason);
}

// Three columns: omega, 2theta and intensity, or Qx, Qz and intensity when a line before the
// numbers names Qx. '#' and '%' start comments; separators are white space, commas and
// semicolons; lines that are not three numbers are skipped (a header, a title). A new line
// of the map starts after a blank line or where the second column steps back against the
// direction the line took.
bool readText(const QByteArray& text, AreaMap& map, QString& failure) {
    LineReader lines(text);
    const char* b = nullptr;
    const char* e = nullptr;
    bool sawNumbers = false;
    bool lineBreak = true;
    double direction = 0;
    while (lines.next(b, e)) {
        e = std::find_if(b, e, [](char c) { return c == '#' || c == '%'; });
        trim(b, e);
        if (b == e) {
            lineBreak = true;
            continue;
        }
        Fields fields(b, e, ",;");
        double v[3] = {0, 0, 0};
        int count = 0;
        const char* fb = nullptr;
        const char* fe = nullptr;
        while (fields.next(fb, fe)) {
            if (count == 3 || !toNumber(fb, fe, v[count])) {
                count = -1;
                break;
            }
            ++count;
        }
        if (count != 3) {
            if (!sawNumbers && QByteArray(b, int(e - b)).toLower().contains("qx"))
                map.space = AreaMap::Reciprocal;
            continue;
        }
        if (map.x.size() >= maxPoints) {
            failure = QCoreApplication::translate("Scan", "more than %1 points").arg(maxPoints);
            return false;
        }
        sawNumbers = true;
        const int n = map.x.size();
        if (!lineBreak && n > map.lineStarts.last()) {
            const double step = v[1] - map.z[n - 1];
            if (direction == 0)
                direction = step;
            else if (step * direction < 0)
                lineBreak = true;
        }
        if (lineBreak) {
            map.lineStarts.append(n);
            direction = 0;
            lineBreak = false;
        }
        map.x.append(v[0]);
        map.z.append(v[1]);
        map.intensity.append(v[2]);
    }
    if (!sawNumbers) {
        failure = QCoreApplication::translate("Scan", "no line holds three numbers");
        return false;
    }
    return true;
}

// The checks every format shares; the reason the map is unusable, or an empty string.
QString finish(AreaMap& map) {
    const int n = map.x.size();
    if (n < 3)
        return QCoreApplication::translate("Scan", "the map holds fewer than three points");
    const bool angles = map.space == AreaMap::Angles;
    const double limit = angles ? 360.0 : maxQ;
    bool anyPositive = false;
    // Read through plain pointers: a non-const QVector checks for sharing on every index.
    const double* x = map.x.constData();
    const double* z = map.z.constData();
    double* intensity = map.intensity.data();
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(z[i]) || !std::isfinite(intensity[i]))
            return QCoreApplication::translate("Scan", "point %1 holds a value that is not a "
                                                       "finite number")
                .arg(i + 1);
        if (std::fabs(x[i]) > limit || std::fabs(z[i]) > limit)
            return QCoreApplication::translate("Scan",
                                               "the position of point %1 (%2, %3) is absurd")
                .arg(i + 1)
                .arg(x[i])
                .arg(z[i]);
        if (intensity[i] > maxIntensity)
            return QCoreApplication::translate("Scan",
                                               "the intensity of point %1 (%2 counts/s) is absurd")
                .arg(i + 1)
                .arg(intensity[i]);
        if (intensity[i] < 0)
            intensity[i] = 0; // background subtraction can leave negative counts
        anyPositive = anyPositive || intensity[i] > 0;
    }
    if (!anyPositive)
        return QCoreApplication::translate("Scan", "no intensity is positive");
    if (!(map.wavelength > 0) || !std::isfinite(map.wavelength) || map.wavelength > 100)
        map.wavelength = std::numeric_limits<double>::quiet_NaN();
    return QString();
}

void takeLines(AreaReading& reading, AreaMap& map) {
    qint64 total = 0;
    for (const AreaLine& line : reading.lines)
        total += line.intensity.size();
    map.x.resize(int(total));
    map.z.resize(int(total));
    map.intensity.resize(int(total));
    int at = 0;
    for (AreaLine& line : reading.lines) {
        map.lineStarts.append(at);
        const int n = line.intensity.size();
        std::copy(line.omega.cbegin(), line.omega.cbegin() + n, map.x.begin() + at);
        std::copy(line.twoTheta.cbegin(), line.twoTheta.cbegin() + n, map.z.begin() + at);
        std::copy(line.intensity.cbegin(), line.intensity.cend(), map.intensity.begin() + at);
        at += n;
        line = AreaLine();
    }
    map.wavelength = reading.wavelength;
    if (reading.skipped > 0)
        map.notes << QCoreApplication::translate("Scan", "%1 scans not completed were left out")
                         .arg(reading.skipped);
}

} // namespace

int AreaMap::longestLine() const {
    int longest = 0;
    for (int i = 0; i < lineStarts.size(); ++i)
        longest = std::max(longest, (i + 1 < lineStarts.size() ? lineStarts[i + 1] : x.size()) -
                                        lineStarts[i]);
    return longest;
}

AreaMapReadResult readAreaMapBytes(const QByteArray& bytes, const QString& nameForMessages) {
    AreaMapReadResult result;
    result.map.fileName = nameForMessages;
    if (bytes.size() > maxFileBytes) {
        result.error = failureLine(
            nameForMessages, QCoreApplication::translate("Scan", "the data are larger than "
                                                                 "%1 MiB, too large for a map")
                                 .arg(maxFileBytes >> 20));
        return result;
    }
    AreaMap& map = result.map;
    QString failure;
    AreaReading reading = readXrdmlArea(bytes);
    const QByteArray text = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    if (reading.recognised) {
        map.format = QStringLiteral("XRDML");
    } else {
        reading = readRasArea(text);
        if (reading.recognised)
            map.format = QStringLiteral("RAS");
    }
    result.recognised = true;
    if (reading.recognised) {
        failure = reading.failure;
        if (failure.isEmpty())
            takeLines(reading, map);
    } else {
        map.format = QStringLiteral("text");
        result.recognised = readText(text, map, failure);
    }
    if (failure.isEmpty())
        failure = finish(map);
    if (!failure.isEmpty()) {
        result.error = failureLine(nameForMessages, failure);
        result.map = AreaMap();
        result.map.fileName = nameForMessages;
        return result;
    }
    for (QString& note : map.notes)
        note = QCoreApplication::translate("Scan", "Map [%1]: %2.").arg(nameForMessages, note);
    result.ok = true;
    return result;
}

AreaMapReadResult readAreaMapFile(const QString& path) {
    QFile file;
    QString reason;
    qint64 size = 0;
    if (path.isEmpty())
        reason = QCoreApplication::translate("Scan", "no file name was given");
    else if (openRegularFile(file, path, &reason, &size) && size > maxFileBytes)
        reason = QCoreApplication::translate("Scan", "the file is larger than %1 MiB, too large "
                                                     "for a map")
                     .arg(maxFileBytes >> 20);
    QByteArray bytes;
    if (reason.isEmpty()) {
        bytes = file.read(maxFileBytes + 1);
        if (file.error() != QFileDevice::NoError)
            reason =
                QCoreApplication::translate("Scan", "reading failed (%1)").arg(file.errorString());
    }
    if (!reason.isEmpty()) {
        AreaMapReadResult result;
        result.map.fileName = path;
        result.error = failureLine(path, reason);
        return result;
    }
    return readAreaMapBytes(bytes, path);
}

QString areaMapSummary(const AreaMap& map) {
    const auto range = [](const QVector<double>& v, int decimals) {
        const auto mm = std::minmax_element(v.cbegin(), v.cend());
        return v.isEmpty() ? QString()
                           : QStringLiteral("%1–%2")
                                 .arg(*mm.first, 0, 'f', decimals)
                                 .arg(*mm.second, 0, 'f', decimals);
    };
    const bool angles = map.space == AreaMap::Angles;
    const QString lines =
        map.lineCount() == 1
            ? QCoreApplication::translate("Scan", "1 line of %1 points").arg(map.x.size())
            : QCoreApplication::translate("Scan", "%1 lines of %2 points")
                  .arg(map.lineCount())
                  .arg(map.longestLine());
    return angles ? QCoreApplication::translate("Scan", "Read [%1]: %2, ω %3°, 2θ %4°.")
                        .arg(map.fileName, lines, range(map.x, 3), range(map.z, 3))
                  : QCoreApplication::translate("Scan", "Read [%1]: %2, Qx %3 1/Å, Qz %4 1/Å.")
                        .arg(map.fileName, lines, range(map.x, 4), range(map.z, 4));
}
