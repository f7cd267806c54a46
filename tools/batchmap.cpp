// xrdsim-batch --map: one structure fitted to many scans of a wafer, drawn as colour maps.

#include "tools/batchmap.h"

#include "analysis/fitroad.h"
#include "simulation/calculation.h"
#include "simulation/outputguard.h"
#include "simulation/resultfiles.h"
#include "structure/config.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Batch", text);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The fields of one CSV line: commas separate, double quotes enclose a field that holds
// commas or quotes ("" is one quote).
QStringList csvFields(const QString& line) {
    QStringList fields;
    QString field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields << field.trimmed();
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field.trimmed();
    return fields;
}

QString csvField(const QString& text) {
    if (!text.contains(QRegularExpression(QStringLiteral("[\",\r\n]"))))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QString csvNumber(double value) {
    return std::isfinite(value) ? QString::number(value, 'g', 8) : QString();
}

// A perceptually even colour scale from dark blue through green to yellow, for t in [0, 1].
QColor scaleColour(double t) {
    static const QColor stops[] = {QColor(68, 1, 84), QColor(59, 82, 139), QColor(33, 145, 140),
                                   QColor(94, 201, 98), QColor(253, 231, 37)};
    t = std::isfinite(t) ? std::clamp(t, 0.0, 1.0) : 0.0;
    const double at = t * 4.0;
    const int i = std::min(int(at), 3);
    const double f = at - i;
    const QColor& a = stops[i];
    const QColor& b = stops[i + 1];
    return QColor(int(std::lround(a.red() + f * (b.red() - a.red()))),
                  int(std::lround(a.green() + f * (b.green() - a.green()))),
                  int(std::lround(a.blue() + f * (b.blue() - a.blue()))));
}

// The grid's pitch: the smallest gap between two distinct x or two distinct y positions.
double pitchOf(const QVector<MapPoint>& points, double radius) {
    double pitch = std::numeric_limits<double>::infinity();
    for (const auto coordinate : {&MapPoint::x, &MapPoint::y}) {
        std::vector<double> v;
        for (const MapPoint& p : points)
            v.push_back(p.*coordinate);
        std::sort(v.begin(), v.end());
        for (std::size_t i = 1; i < v.size(); ++i)
            if (v[i] - v[i - 1] > 1e-9 * std::max(radius, 1.0))
                pitch = std::min(pitch, v[i] - v[i - 1]);
    }
    return std::isfinite(pitch) ? pitch : std::max(radius / 5.0, 1.0);
}

struct PointFit {
    FitReport report;
    QString problem;
};

} // namespace

bool readMapPositions(const QString& path, QVector<MapPoint>& points, QString& problem) {
    points.clear();
    QFile file(path);
    if (!QFileInfo(path).isFile() || QFileInfo(path).size() > qint64{64} * 1024 * 1024 ||
        !file.open(QIODevice::ReadOnly)) {
        problem = tr("Can't open [%1].").arg(path);
        return false;
    }
    const QDir folder = QFileInfo(path).absoluteDir();
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    int fileColumn = -1, xColumn = -1, yColumn = -1;
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = csvFields(line);
        const auto where = [&](const QString& why) {
            problem = tr("[%1] line %2: %3").arg(path).arg(n + 1).arg(why);
            return false;
        };
        if (fileColumn < 0) {
            const QStringList names = [&] {
                QStringList lower;
                for (const QString& f : fields)
                    lower << f.toLower();
                return lower;
            }();
            fileColumn = int(names.indexOf(QStringLiteral("file")));
            xColumn = int(names.indexOf(QStringLiteral("x")));
            yColumn = int(names.indexOf(QStringLiteral("y")));
            if (fileColumn < 0 || xColumn < 0 || yColumn < 0)
                return where(tr("the first row must name the columns file, x and y."));
            continue;
        }
        const int needed = std::max({fileColumn, xColumn, yColumn});
        if (fields.size() <= needed)
            return where(tr("a row needs a file, x and y."));
        bool xOk = false, yOk = false;
        MapPoint p;
        p.x = fields[xColumn].toDouble(&xOk);
        p.y = fields[yColumn].toDouble(&yOk);
        if (!xOk || !yOk || !std::isfinite(p.x) || !std::isfinite(p.y) || std::abs(p.x) > 1e6 ||
            std::abs(p.y) > 1e6)
            return where(tr("x and y must be numbers (mm)."));
        if (fields[fileColumn].isEmpty())
            return where(tr("a row needs a file, x and y."));
        p.scan = QDir::cleanPath(folder.absoluteFilePath(fields[fileColumn]));
        if (points.size() >= kMaxMapPoints)
            return where(tr("a map holds at most %1 points.").arg(kMaxMapPoints));
        points << p;
    }
    if (points.isEmpty()) {
        problem = tr("[%1]: no points.").arg(path);
        return false;
    }
    return true;
}

QImage drawWaferMap(const QVector<MapPoint>& points, const QVector<double>& values,
                    const QString& title, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics(painter.font());
    const int line = metrics.height();
    const int barWidth = 20, barGap = 12,
              labels = metrics.horizontalAdvance(QStringLiteral("-0.000000e-00"));
    const QRectF plot(10, line + 14, size.width() - 20 - barWidth - barGap - labels,
                      size.height() - line - 24);
    painter.drawText(QRectF(0, 4, size.width(), line + 4), Qt::AlignHCenter, title);

    double radius = 0.0;
    for (const MapPoint& p : points)
        radius = std::max(radius, std::hypot(p.x, p.y));
    const double pitch = pitchOf(points, radius);
    radius += pitch * 0.75;
    const double side = std::min(plot.width(), plot.height());
    const double scale = side > 0 && radius > 0 ? side / (2.0 * radius) : 1.0;
    const QPointF centre = plot.center();

    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (double v : values)
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    const bool any = std::isfinite(low);
    for (int i = 0; i < points.size() && i < values.size(); ++i) {
        const double v = values[i];
        const QColor colour = !std::isfinite(v) ? QColor(190, 190, 190)
                              : high > low      ? scaleColour((v - low) / (high - low))
                                                : scaleColour(0.5);
        const double half = pitch * scale / 2.0;
        const QRectF cell(centre.x() + points[i].x * scale - half,
                          centre.y() - points[i].y * scale - half, 2 * half, 2 * half);
        painter.fillRect(cell, colour);
    }
    painter.setPen(QPen(Qt::black, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, radius * scale, radius * scale);

    const QRectF bar(plot.right() + barGap, plot.top() + line, barWidth, plot.height() - 2 * line);
    for (int y = 0; y < int(bar.height()); ++y)
        painter.fillRect(QRectF(bar.left(), bar.bottom() - y - 1, barWidth, 1),
                         scaleColour(any ? y / std::max(bar.height() - 1, 1.0) : 0.5));
    painter.setPen(Qt::black);
    painter.drawRect(bar);
    if (any) {
        painter.drawText(QPointF(bar.right() + 4, bar.top() + line / 2.0),
                         QString::number(high, 'g', 6));
        painter.drawText(QPointF(bar.right() + 4, bar.bottom() + line / 2.0),
                         QString::number(low, 'g', 6));
    } else {
        painter.drawText(QPointF(bar.right() + 4, bar.center().y()), tr("no values"));
    }
    return image;
}

QString mapTableName(const QString& structureFile, const QString& outputDir) {
    const QFileInfo info(structureFile);
    const QString dir = outputDir.isEmpty() ? info.path() : outputDir;
    return QDir(dir).filePath(info.completeBaseName() + QStringLiteral("-map.csv"));
}

QString mapImageName(const QString& structureFile, const QString& outputDir, const QString& what) {
    const QFileInfo info(structureFile);
    const QString dir = outputDir.isEmpty() ? info.path() : outputDir;
    QString slug = what.toLower();
    slug.replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")), QStringLiteral("-"));
    return QDir(dir).filePath(info.completeBaseName() + QStringLiteral("-map-") + slug +
                              QStringLiteral(".png"));
}

bool runWaferMap(const MapRun& run) {
    QVector<MapPoint> points;
    QString problem;
    if (!readMapPositions(run.positions, points, problem)) {
        run.say(problem);
        return false;
    }
    Config config;
    QObject::connect(&config, &Config::log, run.say);
    LoadedStructure loaded = loadStructure(config, run.structureFile);
    if (!loaded.message.isEmpty())
        run.say(loaded.message);
    if (loaded.status != LoadedStructure::Ready)
        return false;
    if (config.ext.fits.isEmpty()) {
        run.say(tr("[%1] has no FIT lines: there is nothing to map.").arg(run.structureFile));
        return false;
    }

    QStringList targets;
    for (const FitParameter& p : config.ext.fits)
        targets << p.text;
    const QString table = mapTableName(run.structureFile, run.outputDir);
    QStringList outputs{
        table, mapImageName(run.structureFile, run.outputDir, QStringLiteral("agreement"))};
    for (const QString& t : targets)
        outputs << mapImageName(run.structureFile, run.outputDir, t);
    QStringList inputs{run.structureFile, run.positions};
    for (const MapPoint& p : points)
        inputs << p.scan;
    const QStringList refused = refuseClashes({{run.structureFile, inputs, outputs}}).value(0);
    if (!refused.isEmpty()) {
        for (const QString& line : refused)
            run.say(line);
        return false;
    }

    // Every point fitted as it would be alone: the same settings and seed, its own scan.
    std::vector<PointFit> fits(std::size_t(points.size()));
    const int concurrent = std::max(1, std::min(run.threads, int(points.size())));
    std::atomic<int> next{0};
    const auto work = [&] {
        for (int i = next++; i < points.size(); i = next++) {
            QTemporaryDir out;
            FitSettings settings;
            settings.scanOverride = points[i].scan;
            settings.outputDir = out.path();
            settings.weighted = run.weighted;
            settings.peakStart = true;
            settings.threads = 1;
            settings.maxSeconds = run.maxSeconds;
            applyFitOptions(config, settings);
            if (run.seedGiven)
                settings.seed = run.seed;
            if (run.maxSecondsGiven)
                settings.maxSeconds = run.maxSeconds;
            PointFit& f = fits[std::size_t(i)];
            const StructureFit fit(config, settings);
            f.problem = fit.problem();
            if (f.problem.isEmpty())
                f.report = fit.run();
        }
    };
    std::vector<std::thread> workers;
    for (int t = 1; t < concurrent; ++t)
        workers.emplace_back(work);
    work();
    for (std::thread& t : workers)
        t.join();

    bool ok = true;
    QStringList header{QStringLiteral("file"), QStringLiteral("x"), QStringLiteral("y"),
                       QStringLiteral("agreement before"), QStringLiteral("agreement")};
    for (const QString& t : targets)
        header << csvField(t) << csvField(t + QStringLiteral(" sigma"))
               << csvField(t + QStringLiteral(" at bound"));
    QByteArray csv = header.join(QLatin1Char(',')).toUtf8() + '\n';
    QVector<QVector<double>> values(targets.size() + 1, QVector<double>(points.size(), kNaN));
    for (int i = 0; i < points.size(); ++i) {
        const PointFit& f = fits[std::size_t(i)];
        QStringList row{csvField(points[i].scan), csvNumber(points[i].x), csvNumber(points[i].y)};
        if (!f.problem.isEmpty() || !f.report.ok) {
            run.say(!f.problem.isEmpty() ? f.problem
                    : f.report.log.isEmpty()
                        ? tr("The fit of [%1] did not run.").arg(points[i].scan)
                        : f.report.log.last());
            ok = false;
        } else {
            row << csvNumber(f.report.agreementBefore) << csvNumber(f.report.agreementAfter);
            values[0][i] = f.report.agreementAfter;
            for (int k = 0; k < targets.size() && k < f.report.rows.size(); ++k) {
                const FitRow& r = f.report.rows[k];
                row << csvNumber(r.value) << csvNumber(r.sigma)
                    << (r.atBound ? QStringLiteral("yes") : QStringLiteral("no"));
                values[k + 1][i] = r.value;
            }
        }
        csv += row.join(QLatin1Char(',')).toUtf8() + '\n';
    }
    run.say(tr("%1 of %2 points fitted.")
                .arg(std::count_if(fits.begin(), fits.end(),
                                   [](const PointFit& f) { return f.report.ok; }))
                .arg(points.size()));
    const auto wrote = [&](const QString& path, bool written) {
        run.say((written ? tr("Wrote [%1].") : tr("Can't write [%1].")).arg(path));
        ok = ok && written;
    };
    wrote(table, writeFileSafely(table, csv));
    for (int k = 0; k <= targets.size(); ++k) {
        const QString what = k == 0 ? QStringLiteral("agreement") : targets[k - 1];
        const QString path = mapImageName(run.structureFile, run.outputDir, what);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        const bool drawn = drawWaferMap(points, values[k],
                                        QStringLiteral("%1: %2").arg(
                                            QFileInfo(run.structureFile).fileName(), what))
                               .save(&buffer, "PNG");
        wrote(path, drawn && writeFileSafely(path, png));
    }
    return ok;
}
