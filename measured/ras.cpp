// Rigaku RAS ASCII: a first line "*RAS_DATA_START", then per scan a header between
// "*RAS_HEADER_START" and "*RAS_HEADER_END" of lines '*KEY "value"', and the points between
// "*RAS_INT_START" and "*RAS_INT_END", one "angle intensity factor" a line; the factor is the
// attenuator's, by which the intensity is multiplied. Intensities are in the unit
// *MEAS_SCAN_UNIT_Y names; counts are divided by the counting time per point, the step over
// the scan speed (*MEAS_SCAN_SPEED, in degrees per minute unless *MEAS_SCAN_SPEED_UNIT says
// per second). Header values may be in any encoding (instrument software writes Shift-JIS
// comments): only ASCII keys and numbers are read, and quoted text is decoded leniently.

#include "measured/scanformats.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace scanformats {
namespace {

struct RasScan {
    QHash<QByteArray, QByteArray> header; // keys without the '*'; only the ones read below
    QVector<double> angle;
    QVector<double> value; // the intensity times the attenuator's factor
    QString axis;          // "omega" or "2theta/2"; empty when the scan's axis is neither
    double low = 0;        // the range of theta the scan covers
    double high = -1;
};

// The header keys this reader uses. Instruments write a hundred or more per scan and a file
// may hold thousands of scans; keeping only these bounds a scan's header, whatever the file.
bool isUsedKey(const char* b, const char* e) {
    static const char* const used[] = {"MEAS_SCAN_AXIS_X",     "MEAS_SCAN_UNIT_Y",
                                       "MEAS_SCAN_SPEED_UNIT", "MEAS_SCAN_STEP",
                                       "MEAS_SCAN_SPEED",      "HW_XG_WAVE_LENGTH_ALPHA1"};
    const QByteArray key = QByteArray::fromRawData(b, int(e - b));
    return std::any_of(std::begin(used), std::end(used),
                       [&key](const char* name) { return key == name; });
}

bool isMarker(const char* b, const char* e, const char* marker) {
    return QByteArray::fromRawData(b, int(e - b)) == marker;
}

// Which angle the scan moves, from *MEAS_SCAN_AXIS_X ("TwoThetaOmega", "TwoTheta", "Omega"...).
QString axisOf(const RasScan& scan) {
    QByteArray name;
    for (const char c : scan.header.value("MEAS_SCAN_AXIS_X"))
        if (std::isalnum(static_cast<unsigned char>(c)))
            name.append(char(std::tolower(static_cast<unsigned char>(c))));
    if (name.contains("twotheta") || name.contains("2theta"))
        return QStringLiteral("2theta/2");
    if (name == "omega" || name == "theta")
        return QStringLiteral("omega");
    return QString();
}

bool headerNumber(const RasScan& scan, const char* key, double& out) {
    const auto it = scan.header.constFind(QByteArray(key));
    return it != scan.header.constEnd() && toNumber(it.value(), out);
}

} // namespace

FormatReading readRas(const QByteArray& text, const ScanReadOptions& options) {
    FormatReading reading;
    LineReader lines(text);
    if (!firstLineIs(lines, "*RAS_DATA_START"))
        return reading;
    const char* b = nullptr;
    const char* e = nullptr;
    reading.recognised = true;
    reading.scan.format = QStringLiteral("RAS");

    enum class State { Outside, Header, Data };
    State state = State::Outside;
    QVector<RasScan> scans;
    int points = 0;
    while (lines.next(b, e)) {
        trim(b, e);
        if (b == e)
            continue;
        if (state == State::Data) {
            if (isMarker(b, e, "*RAS_INT_END")) {
                state = State::Outside;
                continue;
            }
            if (*b == '*')
                break; // a scan without its end; reported below
            Fields fields(b, e);
            double v[3] = {0, 0, 1};
            int count = 0;
            const char* fb = nullptr;
            const char* fe = nullptr;
            while (count <= 3 && fields.next(fb, fe)) {
                if (count == 3 || !toNumber(fb, fe, v[count])) {
                    count = 4;
                    break;
                }
                ++count;
            }
            if (count < 2 || count > 3) {
                reading.failure = QCoreApplication::translate(
                                      "Scan", "line %1 holds %2, not an angle, an intensity and "
                                              "an attenuator factor")
                                      .arg(QString::number(lines.lineNumber()), quoted(b, e));
                return reading;
            }
            if (++points > maxPoints) {
                reading.failure =
                    QCoreApplication::translate("Scan", "more than %1 points").arg(maxPoints);
                return reading;
            }
            RasScan& scan = scans.last();
            scan.angle.append(v[0]);
            scan.value.append(v[1] * v[2]);
        } else if (isMarker(b, e, "*RAS_HEADER_START")) {
            if (state == State::Header)
                break;
            scans.append(RasScan());
            state = State::Header;
        } else if (isMarker(b, e, "*RAS_INT_START")) {
            if (scans.isEmpty())
                scans.append(RasScan());
            state = State::Data;
        } else if (isMarker(b, e, "*RAS_DATA_END")) {
            break;
        } else if (state == State::Header && *b == '*' && !isMarker(b, e, "*RAS_HEADER_END")) {
            const char* keyEnd = b + 1;
            while (keyEnd < e && *keyEnd != ' ' && *keyEnd != '\t')
                ++keyEnd;
            if (!isUsedKey(b + 1, keyEnd))
                continue;
            const char* vb = keyEnd;
            const char* ve = e;
            trim(vb, ve);
            if (ve - vb >= 2 && *vb == '"' && ve[-1] == '"') {
                ++vb;
                --ve;
            }
            scans.last().header.insert(QByteArray(b + 1, int(keyEnd - b - 1)),
                                       QByteArray(vb, int(ve - vb)));
        }
    }
    if (state != State::Outside) {
        reading.failure =
            QCoreApplication::translate("Scan", "scan %1 is cut short (no %2)")
                .arg(QString::number(scans.size()),
                     QLatin1String(state == State::Data ? "*RAS_INT_END" : "*RAS_INT_START"));
        return reading;
    }
    if (scans.isEmpty()) {
        reading.failure = QCoreApplication::translate("Scan", "the file holds no scan");
        return reading;
    }

    // The range of theta each scan covers, for the choice among several.
    for (RasScan& scan : scans) {
        scan.axis = axisOf(scan);
        if (scan.axis.isEmpty())
            continue;
        const double toTheta = scan.axis == QLatin1String("omega") ? 1.0 : 0.5;
        for (const double a : scan.angle) {
            if (!std::isfinite(a))
                continue;
            if (scan.low > scan.high) {
                scan.low = scan.high = a * toTheta;
            } else {
                scan.low = std::min(scan.low, a * toTheta);
                scan.high = std::max(scan.high, a * toTheta);
            }
        }
    }
    // A scan asked for by its number is taken as it is; otherwise only scans of the axis asked
    // for (any axis when none is) are candidates.
    const auto eligible = [&options](const RasScan& scan) {
        return options.axis == ScanReadOptions::AnyAxis ||
               (scan.axis == QLatin1String("omega")) == (options.axis == ScanReadOptions::Omega);
    };
    int chosen = -1;
    if (options.scanNumber > scans.size()) {
        reading.failure =
            QCoreApplication::translate("Scan", "scan %2 was asked for, but the file holds %1")
                .arg(scans.size())
                .arg(options.scanNumber);
        return reading;
    }
    if (options.scanNumber > 0 &&
        scans[options.scanNumber - 1].low <= scans[options.scanNumber - 1].high)
        chosen = options.scanNumber - 1;
    double preferred = 0;
    for (const double p : options.preferredThetas) {
        if (options.scanNumber > 0)
            break;
        for (int i = 0; i < scans.size() && chosen < 0; ++i) {
            if (eligible(scans[i]) && scans[i].low <= p && p <= scans[i].high) {
                chosen = i;
                preferred = p;
            }
        }
        if (chosen >= 0)
            break;
    }
    const bool byPreference = chosen >= 0 && options.scanNumber == 0;
    for (int i = 0; i < scans.size() && chosen < 0 && options.scanNumber == 0; ++i) {
        if (eligible(scans[i]) && scans[i].low <= scans[i].high)
            chosen = i;
    }
    if (chosen < 0 && (options.scanNumber > 0 || options.axis != ScanReadOptions::AnyAxis)) {
        reading.failure =
            options.scanNumber > 0
                ? QCoreApplication::translate("Scan", "scan %1 has no points on an omega or "
                                                      "2theta axis")
                      .arg(options.scanNumber)
                : QCoreApplication::translate("Scan", "no scan moves %1")
                      .arg(QLatin1String(options.axis == ScanReadOptions::Omega ? "omega"
                                                                                : "2theta"));
        return reading;
    }
    if (chosen < 0) {
        const QByteArray axis = scans.first().header.value("MEAS_SCAN_AXIS_X");
        reading.failure = axis.isEmpty()
                              ? QCoreApplication::translate("Scan", "no scan has points on an axis "
                                                                    "named in *MEAS_SCAN_AXIS_X")
                              : QCoreApplication::translate(
                                    "Scan", "the scan axis %1 is neither omega nor 2theta")
                                    .arg(quoted(QString::fromUtf8(axis)));
        return reading;
    }
    reading.scan.scanNumber = chosen + 1;
    reading.scan.scanCount = int(scans.size());
    if (scans.size() > 1 && options.scanNumber == 0) {
        const QString used = QString::number(chosen + 1);
        const QString all = QString::number(scans.size());
        if (byPreference)
            reading.scan.notes << QCoreApplication::translate(
                                      "Scan", "scan %1 of %2 used, whose range holds theta = %3°")
                                      .arg(used, all, QString::number(preferred));
        else if (!options.preferredThetas.isEmpty())
            reading.scan.notes << QCoreApplication::translate(
                                      "Scan", "scan %1 of %2 used: no scan's range holds one of "
                                              "the expected angles")
                                      .arg(used, all);
        else
            reading.scan.notes << QCoreApplication::translate(
                                      "Scan", "scan %1 of %2 used; the others were ignored")
                                      .arg(used, all);
    }

    RasScan& ras = scans[chosen];
    MeasuredScan& scan = reading.scan;
    scan.axis = ras.axis;
    const QByteArray unit = ras.header.value("MEAS_SCAN_UNIT_Y").trimmed().toLower();
    if (!unit.isEmpty() && unit != "counts" && unit != "cps") {
        reading.failure =
            QCoreApplication::translate("Scan", "the intensity unit %1 is neither counts nor cps")
                .arg(quoted(QString::fromUtf8(unit)));
        return reading;
    }
    const bool counts = unit != "cps";
    // Counting time per point: the step (degrees) over the speed (degrees per minute).
    double step = 0;
    double speed = 0;
    double time = 0;
    const QByteArray speedUnit = ras.header.value("MEAS_SCAN_SPEED_UNIT").trimmed().toLower();
    const double perMinute = speedUnit.isEmpty() || speedUnit == "deg/min"    ? 60.0
                             : speedUnit == "deg/s" || speedUnit == "deg/sec" ? 1.0
                                                                              : 0.0;
    if (headerNumber(ras, "MEAS_SCAN_STEP", step) && headerNumber(ras, "MEAS_SCAN_SPEED", speed) &&
        speed > 0 && perMinute > 0)
        time = std::fabs(step) / speed * perMinute;
    const bool haveTime = time > 0 && std::isfinite(time);
    if (counts && !haveTime) {
        reading.failure = QCoreApplication::translate(
            "Scan", "no scan step and speed to turn counts into counts per second");
        return reading;
    }

    // The points are converted where they are, not copied: a large scan is held once.
    const int n = ras.angle.size();
    const double toTheta = scan.axis == QLatin1String("omega") ? 1.0 : 0.5;
    scan.theta.swap(ras.angle);
    scan.intensity.swap(ras.value);
    for (int i = 0; i < n; ++i) {
        scan.theta[i] *= toTheta;
        scan.intensity[i] /= counts ? time : 1.0;
    }
    if (haveTime)
        scan.countingTime = QVector<double>(n, time);
    double wavelength = 0;
    if (headerNumber(ras, "HW_XG_WAVE_LENGTH_ALPHA1", wavelength))
        scan.wavelength = wavelength;
    return reading;
}

} // namespace scanformats
