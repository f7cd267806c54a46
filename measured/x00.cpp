// PANalytical ".x00" ASCII (HR-XRDScan): a first line "HR-XRDScan", header lines
// "Key, value" (a value may itself hold commas), a line "ScanData", then NrOfData
// intensities in counts per second, one a line. Point i lies at FirstAngle + i*StepWidth of
// the axis ScanAxis names first: "Omega/2Theta" steps omega, "2Theta/Omega" steps 2theta.
// ScanRange is redundant with NrOfData and StepWidth and is not read: NrOfData is trusted.

#include "measured/scanformats.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace scanformats {

FormatReading readX00(const QByteArray& text) {
    FormatReading reading;
    LineReader lines(text);
    if (!firstLineIs(lines, "HR-XRDScan"))
        return reading;
    const char* b = nullptr;
    const char* e = nullptr;
    reading.recognised = true;
    MeasuredScan& scan = reading.scan;
    scan.format = QStringLiteral("X00");

    QHash<QByteArray, QByteArray> header; // keys in lower case
    bool sawData = false;
    while (lines.next(b, e)) {
        trim(b, e);
        if (equalsNoCase(b, e, "ScanData")) {
            sawData = true;
            break;
        }
        const char* comma = std::find(b, e, ',');
        if (comma == e)
            continue;
        const char* keyEnd = comma;
        const char* valueBegin = comma + 1;
        const char* valueEnd = e;
        trim(b, keyEnd);
        trim(valueBegin, valueEnd);
        header.insert(QByteArray(b, int(keyEnd - b)).toLower(),
                      QByteArray(valueBegin, int(valueEnd - valueBegin)));
    }
    if (!sawData) {
        reading.failure = QCoreApplication::translate("Scan", "no ScanData line");
        return reading;
    }

    auto value = [&header](const char* key, double& out) {
        const auto it = header.constFind(QByteArray(key).toLower());
        return it != header.constEnd() && toNumber(it.value(), out);
    };
    double first = 0;
    double step = 0;
    double count = 0;
    if (!value("FirstAngle", first) || !value("StepWidth", step)) {
        reading.failure =
            QCoreApplication::translate("Scan", "the header lacks a FirstAngle or a StepWidth");
        return reading;
    }
    if (!value("NrOfData", count) || !(count >= 1 && count <= maxPoints) ||
        count != std::floor(count)) {
        reading.failure =
            QCoreApplication::translate("Scan", "NrOfData %1 is no count of points (1 to %2)")
                .arg(quoted(QString::fromUtf8(header.value("nrofdata"))),
                     QString::number(maxPoints));
        return reading;
    }

    // "Omega/2Theta", also spelt "Omega-2Theta": compared without punctuation or case.
    QByteArray axis;
    for (const char c : header.value("scanaxis"))
        if (std::isalnum(static_cast<unsigned char>(c)))
            axis.append(char(std::tolower(static_cast<unsigned char>(c))));
    if (axis == "omega2theta" || axis == "omega") {
        scan.axis = QStringLiteral("omega");
    } else if (axis == "2thetaomega" || axis == "2theta") {
        scan.axis = QStringLiteral("2theta/2");
    } else {
        reading.failure =
            QCoreApplication::translate("Scan", "the scan axis %1 is neither omega nor 2theta")
                .arg(quoted(QString::fromUtf8(header.value("scanaxis"))));
        return reading;
    }

    const int n = int(count);
    const double toTheta = scan.axis == QLatin1String("omega") ? 1.0 : 0.5;
    while (scan.intensity.size() < n && lines.next(b, e)) {
        trim(b, e);
        if (b == e)
            continue;
        double v = 0;
        if (!toNumber(b, e, v)) {
            reading.failure =
                QCoreApplication::translate("Scan", "line %1 holds %2, which is not an intensity")
                    .arg(QString::number(lines.lineNumber()), quoted(b, e));
            return reading;
        }
        scan.theta.append((first + scan.intensity.size() * step) * toTheta);
        scan.intensity.append(v);
    }
    if (scan.intensity.size() < n) {
        reading.failure =
            QCoreApplication::translate("Scan", "the file ends after %1 of %2 intensities")
                .arg(scan.intensity.size())
                .arg(n);
        return reading;
    }

    double time = 0;
    if (value("TimePerStep", time) && time > 0 && std::isfinite(time)) // informative only
        scan.countingTime = QVector<double>(n, time);
    double wavelength = 0;
    if (value("Wavelength", wavelength))
        scan.wavelength = wavelength;
    return reading;
}

} // namespace scanformats
