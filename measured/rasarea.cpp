// Rigaku RAS files holding a map: one scan per line, each with its own header. The moving
// axis is *MEAS_SCAN_AXIS_X; the others stand where *MEAS_COND_AXIS_NAME-i and
// *MEAS_COND_AXIS_POSITION-i put them. A coupled scan (TwoThetaOmega, TwoThetaTheta) lists
// 2theta, and omega moves by half its step from the Omega position at the scan's first point.
// Intensities and counting times as for a single RAS scan (ras.cpp).

#include "measured/scanformats.h"

#include <QCoreApplication>
#include <QHash>

#include <cctype>
#include <cmath>

namespace scanformats {
namespace {

// An axis name as lower-case letters and digits: "TwoTheta/Omega" -> "twothetaomega".
QByteArray plainName(const QByteArray& name) {
    QByteArray out;
    for (const char c : name)
        if (std::isalnum(static_cast<unsigned char>(c)))
            out.append(char(std::tolower(static_cast<unsigned char>(c))));
    return out;
}

struct Scan {
    QHash<QByteArray, QByteArray> header;
    QVector<double> angle;
    QVector<double> value; // intensity times the attenuator's factor
};

// Header lines kept: the scan's own and the axes' names and positions; a file may hold many
// more, and keeping only these bounds a scan's header.
bool kept(const QByteArray& key) {
    return key.startsWith("MEAS_SCAN_") || key.startsWith("MEAS_COND_AXIS_NAME-") ||
           key.startsWith("MEAS_COND_AXIS_POSITION-") || key == "HW_XG_WAVE_LENGTH_ALPHA1";
}

bool number(const Scan& scan, const QByteArray& key, double& out) {
    const auto it = scan.header.constFind(key);
    return it != scan.header.constEnd() && toNumber(it.value().trimmed(), out);
}

// The position of the axis named `name` (plain) in the scan's header.
bool axisPosition(const Scan& scan, const char* name, double& out) {
    for (auto it = scan.header.constBegin(); it != scan.header.constEnd(); ++it) {
        if (!it.key().startsWith("MEAS_COND_AXIS_NAME-") || plainName(it.value()) != name)
            continue;
        const QByteArray index = it.key().mid(int(sizeof("MEAS_COND_AXIS_NAME-")) - 1);
        return number(scan, "MEAS_COND_AXIS_POSITION-" + index, out);
    }
    return false;
}

QString lineOf(const Scan& scan, AreaLine& line) {
    const QByteArray axis = plainName(scan.header.value("MEAS_SCAN_AXIS_X"));
    const bool coupled = axis == "twothetaomega" || axis == "twothetatheta";
    const bool omegaScan = axis == "omega" || axis == "theta";
    const bool twoThetaScan = axis == "twotheta";
    if (!coupled && !omegaScan && !twoThetaScan)
        return QCoreApplication::translate("Scan", "the scan axis %1 is neither omega nor 2theta")
            .arg(quoted(QString::fromLatin1(scan.header.value("MEAS_SCAN_AXIS_X"))));
    double omega = 0;
    double twoTheta = 0;
    if (!omegaScan && !axisPosition(scan, "omega", omega) && !axisPosition(scan, "theta", omega))
        return QCoreApplication::translate("Scan", "no position of the Omega axis");
    if (omegaScan && !axisPosition(scan, "twotheta", twoTheta))
        return QCoreApplication::translate("Scan", "no position of the TwoTheta axis");

    const QByteArray unit = scan.header.value("MEAS_SCAN_UNIT_Y").trimmed().toLower();
    if (!unit.isEmpty() && unit != "counts" && unit != "cps")
        return QCoreApplication::translate("Scan",
                                           "the intensity unit %1 is neither counts nor cps")
            .arg(quoted(QString::fromLatin1(unit)));
    double time = 1.0;
    if (unit != "cps") {
        double step = 0;
        double speed = 0;
        const QByteArray speedUnit = scan.header.value("MEAS_SCAN_SPEED_UNIT").trimmed().toLower();
        const double perMinute = speedUnit.isEmpty() || speedUnit == "deg/min"    ? 60.0
                                 : speedUnit == "deg/s" || speedUnit == "deg/sec" ? 1.0
                                                                                  : 0.0;
        if (!number(scan, "MEAS_SCAN_STEP", step) || !number(scan, "MEAS_SCAN_SPEED", speed) ||
            !(speed > 0) || !(perMinute > 0))
            return QCoreApplication::translate(
                "Scan", "no scan step and speed to turn counts into counts per second");
        time = std::fabs(step) / speed * perMinute;
        if (!(time > 0) || !std::isfinite(time))
            return QCoreApplication::translate("Scan", "the counting time is not positive");
    }
    const int n = scan.angle.size();
    if (n == 0)
        return QCoreApplication::translate("Scan", "the scan holds no points");
    double start = scan.angle.first();
    if (coupled)
        number(scan, "MEAS_SCAN_START", start);
    line.omega.resize(n);
    line.twoTheta.resize(n);
    line.intensity.resize(n);
    for (int i = 0; i < n; ++i) {
        const double a = scan.angle[i];
        line.omega[i] = omegaScan ? a : coupled ? omega + (a - start) / 2 : omega;
        line.twoTheta[i] = omegaScan ? twoTheta : a;
        line.intensity[i] = scan.value[i] / time;
    }
    return QString();
}

} // namespace

AreaReading readRasArea(const QByteArray& text) {
    AreaReading reading;
    LineReader lines(text);
    if (!firstLineIs(lines, "*RAS_DATA_START"))
        return reading;
    reading.recognised = true;
    const char* b = nullptr;
    const char* e = nullptr;
    enum class State { Outside, Header, Data };
    State state = State::Outside;
    QVector<Scan> scans;
    int points = 0;
    const auto marker = [&b, &e](const char* m) {
        return QByteArray::fromRawData(b, int(e - b)) == m;
    };
    while (lines.next(b, e)) {
        trim(b, e);
        if (b == e)
            continue;
        if (state == State::Data) {
            if (marker("*RAS_INT_END")) {
                state = State::Outside;
                continue;
            }
            if (*b == '*')
                break;
            Fields fields(b, e);
            double v[3] = {0, 0, 1};
            int count = 0;
            const char* fb = nullptr;
            const char* fe = nullptr;
            while (fields.next(fb, fe)) {
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
            scans.last().angle.append(v[0]);
            scans.last().value.append(v[1] * v[2]);
        } else if (marker("*RAS_HEADER_START")) {
            if (state == State::Header)
                break;
            scans.append(Scan());
            state = State::Header;
        } else if (marker("*RAS_INT_START")) {
            if (scans.isEmpty())
                scans.append(Scan());
            state = State::Data;
        } else if (marker("*RAS_DATA_END")) {
            break;
        } else if (marker("*RAS_HEADER_END")) {
            state = State::Outside;
        } else if (state == State::Header && *b == '*') {
            const char* keyEnd = b + 1;
            while (keyEnd < e && *keyEnd != ' ' && *keyEnd != '\t')
                ++keyEnd;
            const QByteArray key(b + 1, int(keyEnd - b - 1));
            if (!kept(key) || scans.last().header.size() >= 200)
                continue;
            const char* vb = keyEnd;
            const char* ve = e;
            trim(vb, ve);
            if (ve - vb >= 2 && *vb == '"' && ve[-1] == '"') {
                ++vb;
                --ve;
            }
            scans.last().header.insert(key, QByteArray(vb, int(ve - vb)));
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
    for (int i = 0; i < scans.size(); ++i) {
        AreaLine line;
        const QString problem = lineOf(scans[i], line);
        if (!problem.isEmpty()) {
            reading.failure =
                QCoreApplication::translate("Scan", "scan %1: %2").arg(i + 1).arg(problem);
            return reading;
        }
        scans[i].angle.clear();
        scans[i].value.clear();
        reading.lines.append(std::move(line));
    }
    double wavelength = 0;
    if (number(scans.first(), "HW_XG_WAVE_LENGTH_ALPHA1", wavelength))
        reading.wavelength = wavelength;
    return reading;
}

} // namespace scanformats
