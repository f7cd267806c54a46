#include "tests/fuzz/mapcheck.h"

#include "measured/areamap.h"

#include <cmath>

QString checkMapReader(const QByteArray& input) {
    const AreaMapReadResult r = readAreaMapBytes(input, QStringLiteral("fuzz"));
    if (!r.ok)
        return r.error.startsWith(QStringLiteral("Can't read map [fuzz]: ")) &&
                       !r.error.contains(QLatin1Char('\n'))
                   ? QString()
                   : QStringLiteral("map failure without one log line: ") + r.error;
    const AreaMap& m = r.map;
    const int n = m.x.size();
    if (n < 3 || m.z.size() != n || m.intensity.size() != n)
        return QStringLiteral("map arrays of %1, %2, %3 values")
            .arg(n)
            .arg(m.z.size())
            .arg(m.intensity.size());
    bool positive = false;
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(m.x[i]) || !std::isfinite(m.z[i]) || !std::isfinite(m.intensity[i]) ||
            m.intensity[i] < 0)
            return QStringLiteral("map point %1 not finite or negative").arg(i);
        positive = positive || m.intensity[i] > 0;
    }
    if (!positive)
        return QStringLiteral("map without a positive intensity");
    if (m.lineStarts.isEmpty() || m.lineStarts.first() != 0)
        return QStringLiteral("map lines do not start at 0");
    for (int i = 1; i < m.lineStarts.size(); ++i)
        if (!(m.lineStarts[i] > m.lineStarts[i - 1] && m.lineStarts[i] < n))
            return QStringLiteral("map line %1 starts at %2").arg(i).arg(m.lineStarts[i]);
    if (!std::isnan(m.wavelength) && !(m.wavelength > 0 && std::isfinite(m.wavelength)))
        return QStringLiteral("map wavelength %1").arg(m.wavelength);
    for (const QString& note : m.notes)
        if (note.contains(QLatin1Char('\n')) || !note.startsWith(QStringLiteral("Map [fuzz]: ")))
            return QStringLiteral("map note not one log line: ") + note;
    return QString();
}
