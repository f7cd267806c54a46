// PANalytical XRDML: an XML document whose root is xrdMeasurements in the namespace
// http://www.xrdml.com/XRDMeasurement/<version>. Elements are matched by their local name,
// so every schema version reads alike.
//
// Conventions, as PANalytical's schema documents them and the peer readers (xrayutilities'
// panalytical_xml, xylib, GSAS-II) apply them: "intensities" (schema 1.x) are counts per
// counting time already corrected for the beam attenuator, so the attenuation factors the
// file lists beside them are for information only; "counts" (schema 2.x) are raw counts,
// not yet multiplied by the attenuation factors. Both are counts, divided here by the
// counting time to give counts per second.

#include "measured/scanformats.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QXmlStreamReader>

#include <cmath>
#include <limits>
#include <utility>

namespace scanformats {
namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

// The positions of one axis: equally spaced from start to end, listed point by point, or one
// common position for the whole scan.
struct AxisPositions {
    double start = notANumber;
    double end = notANumber;
    QVector<double> list;
    bool listed = false;
    double common = notANumber;
};

struct DataPoints {
    AxisPositions twoTheta;
    AxisPositions omega;
    QVector<double> values;
    bool haveValues = false;
    bool rawCounts = false; // "counts" rather than "intensities"
    QVector<double> attenuation;
    bool haveAttenuation = false;
    double commonAttenuation = notANumber;
    QVector<double> times;
    bool haveTimes = false;
    double commonTime = notANumber;
};

class XrdmlParser {
public:
    // Read through a buffer rather than handed the bytes: the XML reader then decodes them
    // piece by piece instead of holding a decoded copy of the whole file.
    XrdmlParser(QByteArray bytes, ScanReadOptions options)
        : options_(std::move(options)), bytes_(std::move(bytes)), buffer_(&bytes_) {
        buffer_.open(QIODevice::ReadOnly);
        xml_.setDevice(&buffer_);
    }
    XrdmlParser(const XrdmlParser&) = delete;
    XrdmlParser& operator=(const XrdmlParser&) = delete;

    FormatReading read();

private:
    bool isNamed(const char* name) const { return xml_.name() == QLatin1String(name); }
    double number();
    void numbers(QVector<double>& out);
    void readWavelength(double& wavelength);
    void readPositions(DataPoints& data);
    void readDataPoints(DataPoints& data);
    QString build(const DataPoints& data, MeasuredScan& scan) const;

    ScanReadOptions options_; // the scan and the axis asked for
    QByteArray bytes_;        // shares the caller's bytes
    QBuffer buffer_;
    QXmlStreamReader xml_;
    QString failure_; // a failure of the content that the XML reader does not see
};

// The text of the current element as one number; a failure when it is none.
double XrdmlParser::number() {
    const QString element = xml_.name().toString();
    const QByteArray text = xml_.readElementText().toLatin1().trimmed();
    double value = notANumber;
    if (!xml_.hasError() && !toNumber(text, value) && failure_.isEmpty())
        failure_ = QCoreApplication::translate("Scan", "<%1> holds %2, which is not a number")
                       .arg(element, quoted(text.constData(), text.constData() + text.size()));
    return value;
}

// The text of the current element as a list of numbers separated by white space.
void XrdmlParser::numbers(QVector<double>& out) {
    const QString element = xml_.name().toString();
    const QByteArray text = xml_.readElementText().toLatin1();
    out.clear();
    Fields fields(text.constData(), text.constData() + text.size());
    const char* b = nullptr;
    const char* e = nullptr;
    while (!xml_.hasError() && failure_.isEmpty() && fields.next(b, e)) {
        double value = 0;
        if (!toNumber(b, e, value)) {
            failure_ = QCoreApplication::translate("Scan", "<%1> holds %2, which is not a number")
                           .arg(element, quoted(b, e));
        } else if (out.size() >= maxPoints) {
            failure_ = QCoreApplication::translate("Scan", "<%1> holds more than %2 values")
                           .arg(element, QString::number(maxPoints));
        } else {
            out.append(value);
        }
    }
}

void XrdmlParser::readWavelength(double& wavelength) {
    while (xml_.readNextStartElement()) {
        if (isNamed("kAlpha1"))
            wavelength = number();
        else
            xml_.skipCurrentElement();
    }
}

void XrdmlParser::readPositions(DataPoints& data) {
    const QString axisName = xml_.attributes().value(QLatin1String("axis")).toString();
    AxisPositions unused;
    AxisPositions& axis =
        axisName.compare(QLatin1String("2Theta"), Qt::CaseInsensitive) == 0  ? data.twoTheta
        : axisName.compare(QLatin1String("Omega"), Qt::CaseInsensitive) == 0 ? data.omega
                                                                             : unused;
    while (xml_.readNextStartElement()) {
        if (isNamed("startPosition")) {
            axis.start = number();
        } else if (isNamed("endPosition")) {
            axis.end = number();
        } else if (isNamed("listPositions")) {
            numbers(axis.list);
            axis.listed = true;
        } else if (isNamed("commonPosition")) {
            axis.common = number();
        } else {
            xml_.skipCurrentElement();
        }
    }
}

void XrdmlParser::readDataPoints(DataPoints& data) {
    while (failure_.isEmpty() && xml_.readNextStartElement()) {
        if (isNamed("positions")) {
            readPositions(data);
        } else if (isNamed("intensities") || (isNamed("counts") && !data.haveValues)) {
            // Intensities win over counts when a file holds both: they are corrected already.
            data.rawCounts = isNamed("counts");
            numbers(data.values);
            data.haveValues = true;
        } else if (isNamed("beamAttenuationFactors")) {
            numbers(data.attenuation);
            data.haveAttenuation = true;
        } else if (isNamed("commonBeamAttenuationFactor")) {
            data.commonAttenuation = number();
        } else if (isNamed("countingTimes")) {
            numbers(data.times);
            data.haveTimes = true;
        } else if (isNamed("commonCountingTime")) {
            data.commonTime = number();
        } else {
            xml_.skipCurrentElement();
        }
    }
}

// The positions of one axis at the n points, or a failure. `moves` tells whether the axis is
// scanned (its positions differ), rather than fixed.
QString axisPoints(const AxisPositions& axis, const char* name, int n, QVector<double>& points,
                   bool& moves) {
    points.clear();
    moves = false;
    if (axis.listed) {
        if (axis.list.size() != n)
            return QCoreApplication::translate("Scan", "%1 positions of %2 but %3 intensities")
                .arg(axis.list.size())
                .arg(QLatin1String(name))
                .arg(n);
        points = axis.list;
    } else if (!std::isnan(axis.start) || !std::isnan(axis.end)) {
        if (std::isnan(axis.start) || std::isnan(axis.end))
            return QCoreApplication::translate("Scan", "%1 has a start or an end position only")
                .arg(QLatin1String(name));
        points.resize(n);
        for (int i = 0; i < n; ++i)
            points[i] = n == 1 ? axis.start : axis.start + (axis.end - axis.start) * i / (n - 1);
    } else {
        return QString();
    }
    for (const double p : points)
        moves = moves || p != points.first();
    return QString();
}

QString XrdmlParser::build(const DataPoints& data, MeasuredScan& scan) const {
    if (!data.haveValues || data.values.isEmpty())
        return QCoreApplication::translate("Scan", "the scan holds no intensities");
    const int n = data.values.size();

    QVector<double> twoTheta;
    QVector<double> omega;
    bool twoThetaMoves = false;
    bool omegaMoves = false;
    QString failure = axisPoints(data.twoTheta, "2Theta", n, twoTheta, twoThetaMoves);
    if (failure.isEmpty())
        failure = axisPoints(data.omega, "Omega", n, omega, omegaMoves);
    if (!failure.isEmpty())
        return failure;
    // An omega-2theta scan lists both axes: 2theta is the one tied to the Bragg angle.
    const bool omegaAsked = options_.axis == ScanReadOptions::Omega;
    const bool twoThetaAsked = options_.axis == ScanReadOptions::TwoTheta;
    if (twoThetaMoves && !omegaAsked) {
        scan.axis = QStringLiteral("2theta/2");
        scan.theta.resize(n);
        for (int i = 0; i < n; ++i)
            scan.theta[i] = twoTheta[i] / 2;
    } else if (omegaMoves && !twoThetaAsked) {
        scan.axis = QStringLiteral("omega");
        scan.theta = omega;
    } else {
        return omegaAsked || twoThetaAsked
                   ? QCoreApplication::translate("Scan", "%1 does not move in the scan")
                         .arg(QLatin1String(omegaAsked ? "Omega" : "2Theta"))
                   : QCoreApplication::translate("Scan",
                                                 "neither 2Theta nor Omega moves in the scan");
    }

    if (data.haveTimes) {
        if (data.times.size() != n)
            return QCoreApplication::translate("Scan", "%1 counting times but %2 intensities")
                .arg(data.times.size())
                .arg(n);
        scan.countingTime = data.times;
    } else if (!std::isnan(data.commonTime)) {
        scan.countingTime = QVector<double>(n, data.commonTime);
    } else {
        return QCoreApplication::translate("Scan", "the scan gives no counting time");
    }

    QVector<double> factor(n, 1.0);
    if (data.rawCounts && data.haveAttenuation) {
        if (data.attenuation.size() != n)
            return QCoreApplication::translate("Scan", "%1 beam attenuation factors but %2 counts")
                .arg(data.attenuation.size())
                .arg(n);
        factor = data.attenuation;
    } else if (data.rawCounts && !std::isnan(data.commonAttenuation)) {
        factor.fill(data.commonAttenuation);
    }
    scan.intensity.resize(n);
    for (int i = 0; i < n; ++i) {
        if (!(scan.countingTime[i] > 0.0))
            return QCoreApplication::translate("Scan",
                                               "the counting time of point %1 is not positive")
                .arg(i + 1);
        scan.intensity[i] = data.values[i] * factor[i] / scan.countingTime[i];
    }
    return QString();
}

FormatReading XrdmlParser::read() {
    FormatReading reading;
    bool sawDtd = false;
    while (!xml_.atEnd() && !xml_.isStartElement()) {
        xml_.readNext();
        sawDtd = sawDtd || xml_.isDTD();
    }
    if (!xml_.isStartElement() || !isNamed("xrdMeasurements") ||
        !xml_.namespaceUri().startsWith(QLatin1String("http://www.xrdml.com/XRDMeasurement/")))
        return reading;
    reading.recognised = true;
    reading.scan.format = QStringLiteral("XRDML");
    if (sawDtd) {
        // XRDML has no document type; one here could only define entities to expand.
        reading.failure =
            QCoreApplication::translate("Scan", "the XML holds a document type declaration");
        return reading;
    }

    // The first completed scan is used; a scan without a status counts as completed.
    int scans = 0;
    int used = 0;
    QString firstStatus;
    double wavelength = notANumber;
    DataPoints data;
    while (failure_.isEmpty() && xml_.readNextStartElement()) {
        if (!isNamed("xrdMeasurement")) {
            xml_.skipCurrentElement();
            continue;
        }
        double here = notANumber;
        while (failure_.isEmpty() && xml_.readNextStartElement()) {
            if (isNamed("usedWavelength")) {
                readWavelength(here);
            } else if (isNamed("scan")) {
                ++scans;
                const QString status = xml_.attributes().value(QLatin1String("status")).toString();
                if (scans == 1)
                    firstStatus = status;
                const bool wanted = options_.scanNumber > 0
                                        ? scans == options_.scanNumber
                                        : status.isEmpty() || status == QLatin1String("Completed");
                if (used == 0 && wanted) {
                    used = scans;
                    wavelength = here;
                    while (failure_.isEmpty() && xml_.readNextStartElement()) {
                        if (isNamed("dataPoints"))
                            readDataPoints(data);
                        else
                            xml_.skipCurrentElement();
                    }
                } else {
                    xml_.skipCurrentElement();
                }
            } else {
                xml_.skipCurrentElement();
            }
        }
    }
    if (xml_.hasError()) {
        reading.failure =
            QCoreApplication::translate("Scan", "the XML is broken or cut short (%1, line %2)")
                .arg(xml_.errorString(), QString::number(xml_.lineNumber()));
        return reading;
    }
    if (!failure_.isEmpty()) {
        reading.failure = failure_;
        return reading;
    }
    if (used == 0 && options_.scanNumber > 0 && scans > 0) {
        reading.failure =
            QCoreApplication::translate("Scan", "scan %2 was asked for, but the file holds %1")
                .arg(scans)
                .arg(options_.scanNumber);
        return reading;
    }
    if (used == 0) {
        reading.failure =
            scans == 0
                ? QCoreApplication::translate("Scan", "the file holds no scan")
                : QCoreApplication::translate("Scan", "no scan is completed (the first is %1)")
                      .arg(quoted(firstStatus));
        return reading;
    }
    reading.failure = build(data, reading.scan);
    reading.scan.wavelength = wavelength;
    reading.scan.scanNumber = used;
    reading.scan.scanCount = scans;
    if (scans > 1 && options_.scanNumber == 0)
        reading.scan.notes << QCoreApplication::translate(
                                  "Scan", "scan %1 of %2 used, the first completed one; the "
                                          "others were ignored")
                                  .arg(used)
                                  .arg(scans);
    return reading;
}

} // namespace

FormatReading readXrdml(const QByteArray& bytes, const ScanReadOptions& options) {
    // Only bytes that can open an XML document are handed to the XML reader: a '<' after
    // optional white space and a UTF-8 byte-order mark, or a UTF-16 byte-order mark.
    int i = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < bytes.size() &&
           (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n'))
        ++i;
    const bool xmlStart = (i < bytes.size() && bytes[i] == '<') || bytes.startsWith("\xFF\xFE") ||
                          bytes.startsWith("\xFE\xFF");
    if (!xmlStart)
        return FormatReading();
    return XrdmlParser(bytes, options).read();
}

} // namespace scanformats
