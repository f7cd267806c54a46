#include "analysis/scanalone.h"

#include "analysis/scanroad.h"

#include <QCoreApplication>

#include <cmath>
#include <limits>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Scan", text);
}

} // namespace

ScanAlone analyseScanAlone(const QString& path, const ScanReadResult& read) {
    ScanAlone out;
    if (!read.ok) {
        out.log << read.error;
        return out;
    }
    out.scan = read.scan;
    const MeasuredScan& scan = out.scan;
    out.log << tr("Measured scan [%1] on its own: %2, %3 points from %4° to %5° of theta (%6).")
                   .arg(path, scan.format)
                   .arg(scan.theta.size())
                   .arg(scan.theta.first())
                   .arg(scan.theta.last())
                   .arg(scan.axis);
    out.log << scan.notes;
    double wavelength = scan.wavelength;
    if (!(std::isfinite(wavelength) && wavelength > 0)) {
        wavelength = kScanAloneWavelength;
        out.log << tr("The scan gives no wavelength: lengths are worked out for %1 Å (Cu "
                      "K-alpha-1).")
                       .arg(wavelength);
    }
    int strongest = -1;
    for (int i = 0; i < scan.theta.size() && i < scan.intensity.size(); ++i)
        if (std::isfinite(scan.intensity[i]) &&
            (strongest < 0 || scan.intensity[i] > scan.intensity[strongest]))
            strongest = i;
    const double substrate =
        strongest >= 0 ? scan.theta[strongest] : std::numeric_limits<double>::quiet_NaN();
    out.peaks = analysePeaks(scan.theta, scan.intensity, wavelength, substrate);
    if (std::isfinite(substrate))
        out.log << tr("Peak analysis: without a structure, the substrate peak is looked for at "
                      "the strongest point, %1°; open a structure file to compare the scan with "
                      "it.")
                       .arg(substrate, 0, 'f', 4);
    out.log << peakLines(tr("Peaks of the measurement:"), out.peaks);
    out.ok = true;
    return out;
}
