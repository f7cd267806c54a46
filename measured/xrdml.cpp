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

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
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

// The bytes of an XRDML document as the XML reader is to see them, with every long run of
// text that holds nothing but numbers taken out and a short mark left in its place. A scan
// of ten million points is one such run: handed to the XML reader whole, it would be held as
// decoded text (two bytes a character) and copied again for the element's text. Marked, it
// stays in the file's own bytes, where the numbers are read from. A mark is U+E000, the run's
// index in decimal and U+E001, followed by the run's line ends, so that the XML reader counts
// lines as in the file. Only a UTF-8 document without character references and without
// U+E000/U+E001 of its own is marked, so that no text of the file can pass for a mark.
class NumberRuns : public QIODevice {
public:
    explicit NumberRuns(const QByteArray& bytes) : bytes_(bytes) {}

    static bool applies(const QByteArray& bytes);

    struct Run {
        qint64 begin = 0, end = 0;
        int lineEnds = 0;
    };
    const QVector<Run>& runs() const { return runs_; }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        return QIODevice::bytesAvailable() + pending_.size() - pendingAt_ + (bytes_.size() - pos_);
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 markupEnd(qint64 at) const;
    void nextSegment();

    // Runs shorter than this are left to the XML reader.
    static constexpr qint64 minRun = 64;

    const QByteArray& bytes_;
    qint64 pos_ = 0;       // where the next segment of the file starts
    qint64 passEnd_ = 0;   // bytes before this position are handed on as they are
    QByteArray pending_;   // a mark being handed on
    qint64 pendingAt_ = 0; // how much of it was
    bool marking_ = true;  // false after a markup this class does not follow (a DTD)
    QVector<Run> runs_;
};

bool NumberRuns::applies(const QByteArray& bytes) {
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF") || bytes.contains("&#") ||
        bytes.contains("\xEE\x80\x80") || bytes.contains("\xEE\x80\x81"))
        return false;
    // An encoding other than UTF-8 declared in the XML declaration: left to the XML reader.
    int i = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    if (bytes.mid(i, 5) != "<?xml")
        return true;
    const int close = bytes.indexOf("?>", i);
    const QByteArray declaration = bytes.mid(i, close < 0 ? -1 : close - i).toLower();
    const int at = declaration.indexOf("encoding");
    if (at < 0)
        return true;
    const QByteArray rest = declaration.mid(at + 8);
    return rest.contains("\"utf-8\"") || rest.contains("'utf-8'") || rest.contains("\"utf8\"") ||
           rest.contains("'utf8'");
}

// Where the markup that starts at `at` (a '<') ends; the end of the bytes when it does not.
qint64 NumberRuns::markupEnd(qint64 at) const {
    const auto after = [this](qint64 from, const char* text, int length) -> qint64 {
        const qint64 found = bytes_.indexOf(text, int(from));
        return found < 0 ? bytes_.size() : found + length;
    };
    const char* p = bytes_.constData() + at;
    const qint64 left = bytes_.size() - at;
    if (left >= 4 && std::memcmp(p, "<!--", 4) == 0)
        return after(at + 4, "-->", 3);
    if (left >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0)
        return after(at + 9, "]]>", 3);
    if (left >= 2 && p[1] == '?')
        return after(at + 2, "?>", 2);
    if (left >= 2 && p[1] == '!')
        return -1; // a document type: not followed, the rest goes through as it is
    char quote = 0;
    for (qint64 i = at + 1; i < bytes_.size(); ++i) {
        const char c = bytes_[int(i)];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return bytes_.size();
}

// Decides how the bytes from pos_ on are handed on: a markup or a short or mixed run of text
// as they are, a long run of numbers as a mark.
void NumberRuns::nextSegment() {
    const qint64 size = bytes_.size();
    if (!marking_) {
        passEnd_ = size;
        return;
    }
    if (bytes_[int(pos_)] == '<') {
        const qint64 end = markupEnd(pos_);
        marking_ = end >= 0;
        passEnd_ = end >= 0 ? end : size;
        return;
    }
    qint64 end = bytes_.indexOf('<', int(pos_));
    if (end < 0)
        end = size;
    bool numbers = end - pos_ >= minRun;
    bool blank = true;
    int lineEnds = 0;
    for (qint64 i = pos_; numbers && i < end; ++i) {
        const char c = bytes_[int(i)];
        if (c == '\n' || (c == '\r' && (i + 1 == end || bytes_[int(i + 1)] != '\n')))
            ++lineEnds;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            continue;
        blank = false;
        numbers =
            (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E';
    }
    if (!numbers || blank) {
        passEnd_ = end;
        return;
    }
    pending_ = "\xEE\x80\x80" + QByteArray::number(runs_.size()) + "\xEE\x80\x81" +
               QByteArray(lineEnds, '\n');
    pendingAt_ = 0;
    runs_.append({pos_, end, lineEnds});
    pos_ = end;
    passEnd_ = end;
}

qint64 NumberRuns::readData(char* data, qint64 maxSize) {
    qint64 done = 0;
    while (done < maxSize) {
        if (pendingAt_ < pending_.size()) {
            const qint64 n = std::min(maxSize - done, qint64(pending_.size()) - pendingAt_);
            std::memcpy(data + done, pending_.constData() + pendingAt_, size_t(n));
            pendingAt_ += n;
            done += n;
        } else if (pos_ < passEnd_) {
            const qint64 n = std::min(maxSize - done, passEnd_ - pos_);
            std::memcpy(data + done, bytes_.constData() + pos_, size_t(n));
            pos_ += n;
            done += n;
        } else if (pos_ < bytes_.size()) {
            pending_.clear();
            pendingAt_ = 0;
            nextSegment();
        } else {
            break;
        }
    }
    return done;
}

class XrdmlParser {
public:
    // Read through a device rather than handed the bytes: the XML reader then decodes them
    // piece by piece instead of holding a decoded copy of the whole file.
    XrdmlParser(QByteArray bytes, ScanReadOptions options)
        : options_(std::move(options)), bytes_(std::move(bytes)), buffer_(&bytes_), runs_(bytes_) {
        if (NumberRuns::applies(bytes_)) {
            runs_.open(QIODevice::ReadOnly);
            xml_.setDevice(&runs_);
        } else {
            buffer_.open(QIODevice::ReadOnly);
            xml_.setDevice(&buffer_);
        }
    }
    XrdmlParser(const XrdmlParser&) = delete;
    XrdmlParser& operator=(const XrdmlParser&) = delete;

    FormatReading read();
    AreaReading readArea();

private:
    bool open(bool& recognised, QString& failure);
    QString buildLine(DataPoints& data, AreaLine& line) const;
    bool isNamed(const char* name) const { return xml_.name() == QLatin1String(name); }
    // The text of the current element as the file holds it: marks are put back as the runs
    // of numbers they stand for. When the text is one run alone (white space aside), `begin`
    // and `end` point at it in the file's bytes and `text` stays empty.
    void elementText(QByteArray& text, const char*& begin, const char*& end);
    double number();
    void numbers(QVector<double>& out);
    void readWavelength(double& wavelength);
    void readPositions(DataPoints& data);
    void readDataPoints(DataPoints& data);
    QString build(DataPoints& data, MeasuredScan& scan) const;

    ScanReadOptions options_; // the scan and the axis asked for
    QByteArray bytes_;        // shares the caller's bytes
    QBuffer buffer_;
    NumberRuns runs_;
    QXmlStreamReader xml_;
    QString failure_; // a failure of the content that the XML reader does not see
};

void XrdmlParser::elementText(QByteArray& text, const char*& begin, const char*& end) {
    const QString raw = xml_.readElementText();
    text.clear();
    begin = end = nullptr;
    const QChar open(0xE000);
    const QChar close(0xE001);
    // The text as pieces of marks and of plain text; a lone run amid white space is read
    // where it lies in the file.
    if (!runs_.isOpen()) {
        text = raw.toLatin1();
        begin = text.constData();
        end = begin + text.size();
        return;
    }
    int marks = 0;
    bool blankBesides = true;
    NumberRuns::Run lone;
    int at = 0;
    while (at < raw.size()) {
        const int mark = raw.indexOf(open, at);
        const int stop = mark < 0 ? -1 : raw.indexOf(close, mark);
        const QString plain = raw.mid(at, (mark < 0 || stop < 0 ? raw.size() : mark) - at);
        blankBesides = blankBesides && plain.trimmed().isEmpty();
        text += plain.toLatin1();
        if (mark < 0 || stop < 0)
            break;
        const NumberRuns::Run run = runs_.runs().value(raw.mid(mark + 1, stop - mark - 1).toInt());
        ++marks;
        lone = run;
        text.append(bytes_.constData() + run.begin, int(run.end - run.begin));
        at = stop + 1 + run.lineEnds; // the line ends that stand in for the run's own
    }
    if (marks == 1 && blankBesides) {
        text.clear();
        begin = bytes_.constData() + lone.begin;
        end = bytes_.constData() + lone.end;
        return;
    }
    begin = text.constData();
    end = begin + text.size();
}

// The text of the current element as one number; a failure when it is none.
double XrdmlParser::number() {
    const QString element = xml_.name().toString();
    QByteArray text;
    const char* b = nullptr;
    const char* e = nullptr;
    elementText(text, b, e);
    while (b < e && std::isspace(uchar(*b)))
        ++b;
    while (e > b && std::isspace(uchar(e[-1])))
        --e;
    double value = notANumber;
    if (!xml_.hasError() && !toNumber(b, e, value) && failure_.isEmpty())
        failure_ = QCoreApplication::translate("Scan", "<%1> holds %2, which is not a number")
                       .arg(element, quoted(b, e));
    return value;
}

// The text of the current element as a list of numbers separated by white space.
void XrdmlParser::numbers(QVector<double>& out) {
    const QString element = xml_.name().toString();
    QByteArray text;
    const char* from = nullptr;
    const char* to = nullptr;
    elementText(text, from, to);
    out.clear();
    Fields fields(from, to);
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

// The intensities in counts per second, taking over the file's values, and the counting
// times, for the n values of `data`; or a failure.
QString countsPerSecond(DataPoints& data, QVector<double>& intensity, QVector<double>& times) {
    const int n = data.values.size();
    if (data.haveTimes) {
        if (data.times.size() != n)
            return QCoreApplication::translate("Scan", "%1 counting times but %2 intensities")
                .arg(data.times.size())
                .arg(n);
        times = std::move(data.times);
    } else if (!std::isnan(data.commonTime)) {
        times = QVector<double>(n, data.commonTime);
    } else {
        return QCoreApplication::translate("Scan", "the scan gives no counting time");
    }

    const bool listedFactors = data.rawCounts && data.haveAttenuation;
    if (listedFactors && data.attenuation.size() != n)
        return QCoreApplication::translate("Scan", "%1 beam attenuation factors but %2 counts")
            .arg(data.attenuation.size())
            .arg(n);
    const double common =
        data.rawCounts && !std::isnan(data.commonAttenuation) ? data.commonAttenuation : 1.0;
    intensity = std::move(data.values);
    for (int i = 0; i < n; ++i) {
        if (!(times[i] > 0.0))
            return QCoreApplication::translate("Scan",
                                               "the counting time of point %1 is not positive")
                .arg(i + 1);
        intensity[i] = intensity[i] * (listedFactors ? data.attenuation[i] : common) / times[i];
    }
    return QString();
}

// Builds the scan from what the file gave, taking over its lists, so that a large scan is
// held about three times (angles, intensities, counting times) and not more.
QString XrdmlParser::build(DataPoints& data, MeasuredScan& scan) const {
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
    data.twoTheta.list.clear();
    data.omega.list.clear();
    // An omega-2theta scan lists both axes: 2theta is the one tied to the Bragg angle.
    const bool omegaAsked = options_.axis == ScanReadOptions::Omega;
    const bool twoThetaAsked = options_.axis == ScanReadOptions::TwoTheta;
    if (twoThetaMoves && !omegaAsked) {
        omega.clear();
        scan.axis = QStringLiteral("2theta/2");
        scan.theta = std::move(twoTheta);
        for (double& t : scan.theta)
            t /= 2;
    } else if (omegaMoves && !twoThetaAsked) {
        twoTheta.clear();
        scan.axis = QStringLiteral("omega");
        scan.theta = std::move(omega);
    } else {
        return omegaAsked || twoThetaAsked
                   ? QCoreApplication::translate("Scan", "%1 does not move in the scan")
                         .arg(QLatin1String(omegaAsked ? "Omega" : "2Theta"))
                   : QCoreApplication::translate("Scan",
                                                 "neither 2Theta nor Omega moves in the scan");
    }

    return countsPerSecond(data, scan.intensity, scan.countingTime);
}

// Reads up to the root element: `recognised` when it is XRDML's, `failure` when such a
// document cannot be read on. True when the scans may be read.
bool XrdmlParser::open(bool& recognised, QString& failure) {
    bool sawDtd = false;
    while (!xml_.atEnd() && !xml_.isStartElement()) {
        xml_.readNext();
        sawDtd = sawDtd || xml_.isDTD();
    }
    recognised =
        xml_.isStartElement() && isNamed("xrdMeasurements") &&
        xml_.namespaceUri().startsWith(QLatin1String("http://www.xrdml.com/XRDMeasurement/"));
    if (recognised && sawDtd) {
        // XRDML has no document type; one here could only define entities to expand.
        failure = QCoreApplication::translate("Scan", "the XML holds a document type declaration");
        return false;
    }
    return recognised;
}

FormatReading XrdmlParser::read() {
    FormatReading reading;
    const bool go = open(reading.recognised, reading.failure);
    if (!reading.recognised)
        return reading;
    reading.scan.format = QStringLiteral("XRDML");
    if (!go)
        return reading;

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

// One line of an area scan: both axes at every point. An axis that neither moves nor is
// listed stands at its common position.
QString XrdmlParser::buildLine(DataPoints& data, AreaLine& line) const {
    if (!data.haveValues || data.values.isEmpty())
        return QCoreApplication::translate("Scan", "the scan holds no intensities");
    const int n = data.values.size();
    bool moves = false;
    QString failure = axisPoints(data.twoTheta, "2Theta", n, line.twoTheta, moves);
    if (failure.isEmpty())
        failure = axisPoints(data.omega, "Omega", n, line.omega, moves);
    if (!failure.isEmpty())
        return failure;
    for (auto* axis : {&line.twoTheta, &line.omega}) {
        const AxisPositions& given = axis == &line.omega ? data.omega : data.twoTheta;
        if (axis->isEmpty() && !std::isnan(given.common))
            *axis = QVector<double>(n, given.common);
        if (axis->isEmpty())
            return QCoreApplication::translate("Scan", "the scan gives no %1 positions")
                .arg(QLatin1String(axis == &line.omega ? "Omega" : "2Theta"));
    }
    QVector<double> times;
    return countsPerSecond(data, line.intensity, times);
}

// Every completed scan of the file as one line of an area scan.
AreaReading XrdmlParser::readArea() {
    AreaReading reading;
    if (!open(reading.recognised, reading.failure))
        return reading;
    qint64 points = 0;
    int scans = 0;
    while (failure_.isEmpty() && xml_.readNextStartElement()) {
        if (!isNamed("xrdMeasurement")) {
            xml_.skipCurrentElement();
            continue;
        }
        double here = notANumber;
        while (failure_.isEmpty() && xml_.readNextStartElement()) {
            if (isNamed("usedWavelength")) {
                readWavelength(here);
                continue;
            }
            if (!isNamed("scan")) {
                xml_.skipCurrentElement();
                continue;
            }
            ++scans;
            const QString status = xml_.attributes().value(QLatin1String("status")).toString();
            if (!status.isEmpty() && status != QLatin1String("Completed")) {
                ++reading.skipped;
                xml_.skipCurrentElement();
                continue;
            }
            DataPoints data;
            while (failure_.isEmpty() && xml_.readNextStartElement()) {
                if (isNamed("dataPoints"))
                    readDataPoints(data);
                else
                    xml_.skipCurrentElement();
            }
            if (!failure_.isEmpty() || xml_.hasError())
                break;
            AreaLine line;
            const QString problem = buildLine(data, line);
            if (!problem.isEmpty()) {
                reading.failure =
                    QCoreApplication::translate("Scan", "scan %1: %2").arg(scans).arg(problem);
                return reading;
            }
            points += line.intensity.size();
            if (points > maxPoints) {
                reading.failure =
                    QCoreApplication::translate("Scan", "more than %1 points").arg(maxPoints);
                return reading;
            }
            if (std::isnan(reading.wavelength))
                reading.wavelength = here;
            reading.lines.append(std::move(line));
        }
    }
    if (xml_.hasError())
        reading.failure =
            QCoreApplication::translate("Scan", "the XML is broken or cut short (%1, line %2)")
                .arg(xml_.errorString(), QString::number(xml_.lineNumber()));
    else if (!failure_.isEmpty())
        reading.failure = failure_;
    else if (reading.lines.isEmpty())
        reading.failure = scans == 0 ? QCoreApplication::translate("Scan", "the file holds no scan")
                                     : QCoreApplication::translate("Scan", "no scan is completed");
    return reading;
}

} // namespace

AreaReading readXrdmlArea(const QByteArray& bytes) {
    int i = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < bytes.size() &&
           (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n'))
        ++i;
    if (!(i < bytes.size() && bytes[i] == '<') && !bytes.startsWith("\xFF\xFE") &&
        !bytes.startsWith("\xFE\xFF"))
        return AreaReading();
    return XrdmlParser(bytes, ScanReadOptions()).readArea();
}

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
