#include "tests/fuzz/scancheck.h"

#include "measured/readers.h"
#include "tests/fuzz/mapcheck.h"

#include <cmath>

namespace {

const QString name = QStringLiteral("fuzz");

QString checkOne(const ScanReadResult& r) {
    if (!r.ok) {
        if (r.error.isEmpty() || r.error.contains(QLatin1Char('\n')) ||
            !r.error.startsWith(QStringLiteral("Can't read scan [fuzz]: ")))
            return QStringLiteral("failure without one log line: ") + r.error;
        return QString();
    }
    const MeasuredScan& s = r.scan;
    if (!r.recognised || !r.error.isEmpty())
        return QStringLiteral("read but not recognised, or with an error");
    if (s.fileName != name)
        return QStringLiteral("file name not kept");
    const int n = s.theta.size();
    if (n < 2 || s.intensity.size() != n ||
        (!s.countingTime.isEmpty() && s.countingTime.size() != n))
        return QStringLiteral("arrays of %1, %2 and %3 values")
            .arg(n)
            .arg(s.intensity.size())
            .arg(s.countingTime.size());
    bool positive = false;
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(s.theta[i]) || !std::isfinite(s.intensity[i]))
            return QStringLiteral("non-finite value at point %1").arg(i);
        if (s.intensity[i] < 0)
            return QStringLiteral("negative intensity at point %1").arg(i);
        positive = positive || s.intensity[i] > 0;
        if (i > 0 && !(s.theta[i - 1] <= s.theta[i]))
            return QStringLiteral("theta descends at point %1").arg(i);
        if (!s.countingTime.isEmpty() &&
            !(std::isfinite(s.countingTime[i]) && s.countingTime[i] > 0))
            return QStringLiteral("counting time %1 at point %2").arg(s.countingTime[i]).arg(i);
    }
    if (!positive || !(s.theta.first() < s.theta.last()))
        return QStringLiteral("no positive intensity, or no range of angles");
    if (!std::isnan(s.wavelength) && !(std::isfinite(s.wavelength) && s.wavelength > 0))
        return QStringLiteral("wavelength %1").arg(s.wavelength);
    static const QStringList formats{"XRDML", "X00", "UXD", "RAS", "text"};
    if (!formats.contains(s.format) ||
        (s.axis != QLatin1String("omega") && s.axis != QLatin1String("2theta/2")))
        return QStringLiteral("format %1, axis %2").arg(s.format, s.axis);
    for (const QString& note : s.notes) {
        if (note.contains(QLatin1Char('\n')) || !note.startsWith(QStringLiteral("Scan [fuzz]: ")))
            return QStringLiteral("note not one log line: ") + note;
    }
    return QString();
}

} // namespace

QString checkScanReaders(const QByteArray& input) {
    // The same bytes opened as a map.
    const QString mapProblem = checkMapReader(input);
    if (!mapProblem.isEmpty())
        return mapProblem;
    ScanReadOptions options;
    options.preferredThetas = {33.0259, 31.6688}; // GaAs and InP (004) at Cu K-alpha1
    const ScanReadResult plain = readScanBytes(input, name, options);
    options.twoTheta = true;
    const ScanReadResult halved = readScanBytes(input, name, options);
    for (const ScanReadResult* r : {&plain, &halved}) {
        const QString problem = checkOne(*r);
        if (!problem.isEmpty())
            return problem;
    }
    // Import choices keep the same promises; the first note then says, in one line, what was
    // taken, and no point lies outside the window.
    ScanReadOptions chosen;
    chosen.axis = ScanReadOptions::Omega;
    chosen.scanNumber = 2;
    chosen.windowGiven = true;
    chosen.from = 20.0;
    chosen.to = 40.0;
    ScanReadResult picked = readScanBytes(input, name, chosen);
    if (picked.ok) {
        const QString first = picked.scan.notes.value(0);
        if (!first.startsWith(QStringLiteral("Took scan 2 of ")) || first.contains('\n'))
            return QStringLiteral("import choices without their line: ") + first;
        picked.scan.notes.removeFirst();
        for (const double t : picked.scan.theta)
            if (!(t >= 20.0 && t <= 40.0))
                return QStringLiteral("a point at %1 outside the window").arg(t);
    }
    const QString choiceProblem = checkOne(picked);
    if (!choiceProblem.isEmpty())
        return choiceProblem;

    // Only plain text reads the option, and halving its angles changes nothing else (a
    // multiplication by 0.5 is exact, so even the order of equal angles stays).
    // Halving may bring angles beyond a full turn back into range, or round the two
    // smallest subnormal angles to one; nothing else.
    const bool explained = (!plain.ok && plain.error.contains(QLatin1String("absurd"))) ||
                           (!halved.ok && halved.error.contains(QLatin1String("same angle")));
    if ((plain.ok != halved.ok && !explained) || plain.recognised != halved.recognised)
        return QStringLiteral("the 2theta option changes whether the scan is read");
    if (!plain.ok)
        return QString();
    const bool text = plain.scan.format == QLatin1String("text");
    for (int i = 0; i < plain.scan.theta.size(); ++i) {
        const double expected = text ? plain.scan.theta[i] * 0.5 : plain.scan.theta[i];
        if (halved.scan.theta.value(i) != expected ||
            halved.scan.intensity.value(i) != plain.scan.intensity[i])
            return QStringLiteral("the 2theta option gives point %1 at %2 rather than %3")
                .arg(i)
                .arg(halved.scan.theta.value(i))
                .arg(expected);
    }
    return QString();
}
