#include "report/report.h"

#include "report/scanoverlay.h"
#include "simulation/model.h"
#include "simulation/resultfiles.h"
#include "views/overlayview.h"
#include "views/renderplots.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>

#include <cmath>
#include <functional>
#include <memory>

namespace {

// Each plot of the report image.
const QSize kPlotSize(800, 500);

// Without a scan the peaks of the simulated curve are looked for within this many degrees of
// theta of the substrate's reflection.
constexpr double kPeakWindow = 1.5;

QString esc(const QString& text) {
    return text.toHtmlEscaped();
}

// A number for the report: 6 significant digits, or a dash when it is not finite.
QString num(double value, int digits = 6) {
    return std::isfinite(value) ? QString::number(value, 'g', digits) : QStringLiteral("\u2013");
}

QString plusMinus(double value, double sigma, int digits = 6) {
    if (!std::isfinite(value))
        return num(value);
    if (!std::isfinite(sigma))
        return num(value, digits);
    return QStringLiteral("%1 \u00b1 %2").arg(num(value, digits), num(sigma, 3));
}

QString cell(const QString& text, bool left = false) {
    return left ? QStringLiteral("<td class=\"t\">%1</td>").arg(text)
                : QStringLiteral("<td>%1</td>").arg(text);
}

QString row(const QStringList& cells) {
    return QStringLiteral("<tr>%1</tr>\n").arg(cells.join(QString()));
}

QString header(const QStringList& titles) {
    QString out;
    for (const QString& t : titles)
        out += QStringLiteral("<th>%1</th>").arg(t);
    return QStringLiteral("<tr>%1</tr>\n").arg(out);
}

QString para(const QString& text) {
    return QStringLiteral("<p>%1</p>\n").arg(text);
}

QString shapeName(GradingShape shape) {
    switch (shape) {
    case Linear:
        return QStringLiteral("linear");
    case Parabolic:
        return QStringLiteral("parabolic");
    case Sine:
        return QStringLiteral("sine");
    case Abrupt:
        break;
    }
    return QStringLiteral("abrupt");
}

// One grading zone as its LAYER line gives it: the shape, the width and the composition
// beyond the boundary (the layer stores the mean of that and its own).
QString grading(GradingShape shape, double width, double boundaryX, double boundaryY, double x,
                double y) {
    if (shape == Abrupt || !(width > 0))
        return QStringLiteral("abrupt");
    return QStringLiteral("%1 over %2 ML to x %3, y %4")
        .arg(shapeName(shape), num(width), num(2 * boundaryX - x, 4), num(2 * boundaryY - y, 4));
}

QString structureSection(const ReportData& d) {
    const Structure& s = d.structure;
    const std::unique_ptr<Model> model = makeModel(s.ext.model);
    QString out = QStringLiteral("<h2>Structure</h2>\n");
    out += para(
        QStringLiteral("File [%1]. Model: %2. Wavelength %3 \u00c5. Substrate x %4, "
                       "y %5%6. %7 period(s) of the layers below.")
            .arg(esc(s.fileName), esc(model->name()), num(s.wavelength),
                 num(s.substrate.inFraction), num(s.substrate.asFraction),
                 s.withSubstrate ? QString() : QStringLiteral(" (its own scattering left out)"))
            .arg(s.repeat));
    out += para(QStringLiteral("Layers in the order of the file: the first LAYER line is the "
                               "first layer of the profile. x is the In fraction, y the As "
                               "fraction; a monolayer (ML) is one group-III and one group-V "
                               "plane, its height that of the strained layer under this "
                               "model."));
    out += QStringLiteral("<table>\n");
    out += header({QStringLiteral("Layer"), QStringLiteral("Thickness (ML)"),
                   QStringLiteral("Thickness (nm)"), QStringLiteral("x"), QStringLiteral("y"),
                   QStringLiteral("Start grading"), QStringLiteral("End grading")});
    double totalMl = 0, totalNm = 0;
    for (int i = 0; i < s.layers.size(); ++i) {
        const Layer& l = s.layers[i];
        const double nm = l.monolayers * model->layerMonolayerHeight(s, l) / 10;
        totalMl += l.monolayers;
        totalNm += nm;
        out += row({cell(QString::number(i + 1)), cell(QString::number(l.monolayers)),
                    cell(std::isfinite(nm) ? QString::number(nm, 'f', 3) : num(nm)),
                    cell(num(l.inFraction)), cell(num(l.asFraction)),
                    cell(grading(l.startShape, l.startWidth, l.startInFraction, l.startAsFraction,
                                 l.inFraction, l.asFraction),
                         true),
                    cell(grading(l.endShape, l.endWidth, l.endInFraction, l.endAsFraction,
                                 l.inFraction, l.asFraction),
                         true)});
    }
    out += QStringLiteral("</table>\n");
    out += para(QStringLiteral("Period: %1 ML, %2 nm.")
                    .arg(num(totalMl),
                         std::isfinite(totalNm) ? QString::number(totalNm, 'f', 3) : num(totalNm)));
    return out;
}

QString fitSection(const ReportData& d) {
    QString out = QStringLiteral("<h2>Fit</h2>\n");
    if (!d.fit) {
        out += para(QStringLiteral("No fit was run: the values are those of the structure file."));
        return out;
    }
    const FitReport& f = *d.fit;
    out += QStringLiteral("<table>\n");
    out += header({QStringLiteral("Parameter"), QStringLiteral("Start"), QStringLiteral("Fitted"),
                   QStringLiteral("In nm"), QStringLiteral("At bound")});
    for (const FitRow& r : f.rows) {
        const QString nm =
            r.nmPerUnit > 0 ? plusMinus(std::round(r.value) * r.nmPerUnit, r.sigma * r.nmPerUnit, 4)
                            : QString();
        out += row({cell(esc(r.target), true),
                    cell(std::isfinite(r.start) ? num(r.start) : QStringLiteral("\u2014")),
                    cell(plusMinus(r.value, r.sigma)), cell(nm),
                    cell(r.atBound ? QStringLiteral("<b>at bound</b>") : QStringLiteral("no"))});
    }
    out += QStringLiteral("</table>\n");
    for (const QString& w : f.warnings)
        out += para(QStringLiteral("<b>Warning:</b> ") + esc(w));
    const FitOutcome& o = f.outcome;
    if (o.strongCorrelations.empty()) {
        out += para(QStringLiteral("No two parameters correlated beyond |r| = 0.9."));
    } else {
        out += QStringLiteral("<p>Correlated beyond |r| = 0.9:</p>\n<ul>\n");
        for (const auto& c : o.strongCorrelations) {
            const int i = std::get<0>(c);
            const int j = std::get<1>(c);
            out += QStringLiteral("<li>%1 and %2: r = %3</li>\n")
                       .arg(esc(f.rows.value(i).target), esc(f.rows.value(j).target),
                            QString::number(std::get<2>(c), 'f', 3));
        }
        out += QStringLiteral("</ul>\n");
    }
    QString how = QStringLiteral("Seed %1; %2 evaluations in %3 generations, %4 s")
                      .arg(d.seed)
                      .arg(o.evaluations)
                      .arg(o.generations)
                      .arg(num(o.seconds, 3));
    if (o.fromGuess)
        how += QStringLiteral("; started from the measurement's peaks, confirmed by a short "
                              "global search");
    if (o.timedOut)
        how += QStringLiteral("; ended at its time limit");
    else if (o.stopped)
        how += QStringLiteral("; stopped early");
    out += para(how + QStringLiteral(". Written to [%1].").arg(esc(f.fittedFile)));
    return out;
}

QString agreementSection(const ReportData& d) {
    QString out = QStringLiteral("<h2>Agreement</h2>\n");
    if (d.fit) {
        out += para(QStringLiteral("Mean squared difference of log10 intensities: %1 before the "
                                   "fit, %2 after it.")
                        .arg(num(d.fit->agreementBefore), num(d.fit->agreementAfter)));
    } else if (d.scan && d.scan->ok) {
        out += para(QStringLiteral("Mean squared difference of log10 intensities: %1 (no fit).")
                        .arg(num(d.scan->model.agreement)));
    } else {
        out += para(QStringLiteral("No measured scan was compared: there is no agreement figure."));
    }
    return out;
}

QString scanSection(const ReportData& d) {
    QString out = QStringLiteral("<h2>Measured scan</h2>\n");
    if (!d.scan || !d.scan->attempted) {
        out += para(QStringLiteral("No measured scan: the plot shows the simulated curve alone."));
        return out;
    }
    const ScanOutcome& s = *d.scan;
    if (!s.ok) {
        out += para(QStringLiteral("The scan could not be compared:"));
        for (const QString& line : s.log)
            out += para(esc(line));
        return out;
    }
    const MeasuredScan& m = s.scan;
    out += QStringLiteral("<table>\n");
    const auto fact = [&out](const QString& name, const QString& value) {
        out += row({cell(name, true), cell(value, true)});
    };
    fact(QStringLiteral("File"), esc(m.fileName));
    fact(QStringLiteral("Format"), esc(m.format));
    fact(QStringLiteral("Angle taken from"), esc(m.axis));
    fact(QStringLiteral("Points"), QString::number(m.theta.size()));
    if (!m.theta.isEmpty())
        fact(QStringLiteral("Range of \u03b8"),
             QStringLiteral("%1\u00b0 to %2\u00b0")
                 .arg(num(m.theta.first(), 8), num(m.theta.last(), 8)));
    fact(QStringLiteral("Wavelength"),
         std::isfinite(m.wavelength) ? QStringLiteral("%1 \u00c5").arg(num(m.wavelength))
                                     : QStringLiteral("not in the file; the structure's %1 \u00c5")
                                           .arg(num(d.structure.wavelength)));
    fact(QStringLiteral("Model scale, background"),
         QStringLiteral("%1, %2 counts/s").arg(num(s.model.scale), num(s.model.background)));
    out += QStringLiteral("</table>\n");
    for (const QString& note : m.notes)
        out += para(esc(note));
    return out;
}

QString peakCell(const Peak& p, const QString& why) {
    return std::isfinite(p.theta) ? plusMinus(p.theta, p.sigma, 7) + QStringLiteral("\u00b0")
                                  : esc(why);
}

QString figureCell(const Figure& f, double factor, const QString& unit) {
    return f.known() ? plusMinus(f.value * factor, f.sigma * factor) + unit : esc(f.why);
}

QString peakSection(const ReportData& d) {
    QString out = QStringLiteral("<h2>Peak analysis</h2>\n");
    QStringList titles{QString()};
    QVector<PeakAnalysis> columns;
    if (d.scan && d.scan->ok) {
        titles << QStringLiteral("Measured") << QStringLiteral("Model");
        columns << d.scan->measuredPeaks << d.scan->modelPeaks;
    } else {
        // The full curve may span several reflections: the one a scan would cover is the
        // substrate's strongest reflection in range, with the window a scan would take.
        const QVector<double>& theta = d.results.theta;
        double substrate = std::nan("");
        for (double t : substrateReflections(d.structure))
            if (!theta.isEmpty() && t >= theta.first() && t <= theta.last()) {
                substrate = t;
                break;
            }
        QVector<double> near, intensity;
        for (int i = 0; i < theta.size() && i < d.results.intensity.size(); ++i)
            if (std::abs(theta[i] - substrate) <= kPeakWindow) {
                near << theta[i];
                intensity << d.results.intensity[i];
            }
        titles << (std::isfinite(substrate)
                       ? QStringLiteral("Simulated curve, %1° to %2°")
                             .arg(num(substrate - kPeakWindow), num(substrate + kPeakWindow))
                       : QStringLiteral("Simulated curve"));
        columns << analysePeaks(near, intensity, d.structure.wavelength, substrate);
    }
    out += QStringLiteral("<table>\n") + header(titles);
    const auto line = [&](const QString& name,
                          const std::function<QString(const PeakAnalysis&)>& f) {
        QStringList cells{cell(name, true)};
        for (const PeakAnalysis& p : columns)
            cells << cell(f(p));
        out += row(cells);
    };
    line(QStringLiteral("Substrate peak \u03b8"),
         [](const PeakAnalysis& p) { return peakCell(p.substrate, p.substrateWhy); });
    line(QStringLiteral("Layer or zeroth-order peak \u03b8"),
         [](const PeakAnalysis& p) { return peakCell(p.main, p.mainWhy); });
    line(QStringLiteral("Perpendicular mismatch (ppm)"),
         [](const PeakAnalysis& p) { return figureCell(p.mismatch, 1e6, QString()); });
    line(QStringLiteral("Superlattice period"), [](const PeakAnalysis& p) {
        QString text = figureCell(p.period, 0.1, QStringLiteral(" nm"));
        if (p.period.known())
            text += QStringLiteral(" (%1 satellites)").arg(p.satelliteTheta.size());
        return text;
    });
    line(QStringLiteral("Layer thickness from fringes"), [](const PeakAnalysis& p) {
        QString text = figureCell(p.thickness, 0.1, QStringLiteral(" nm"));
        if (p.thickness.known())
            text += QStringLiteral(" (%1 fringes)").arg(p.fringesUsed);
        return text;
    });
    line(QStringLiteral("Peaks above the noise"),
         [](const PeakAnalysis& p) { return QString::number(p.peaks.size()); });
    out += QStringLiteral("</table>\n");
    return out;
}

QString pngBase64(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG"))
        return QString();
    return QString::fromLatin1(bytes.toBase64());
}

bool hasSuffix(const QString& path, std::initializer_list<const char*> suffixes) {
    const QString suffix = QFileInfo(path).suffix();
    for (const char* s : suffixes)
        if (suffix.compare(QLatin1String(s), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool writePdf(QIODevice& device, const ReportData& data) {
    const QString source = QStringLiteral("report-plots.png");
    QTextDocument doc;
    doc.addResource(QTextDocument::ImageResource, QUrl(source), reportImage(data));
    doc.setHtml(reportHtml(data, source));
    QPdfWriter pdf(&device);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setResolution(150);
    pdf.setTitle(QStringLiteral("Report on %1").arg(QFileInfo(data.structure.fileName).fileName()));
    pdf.setCreator(data.program);
    doc.print(&pdf);
    return true;
}

} // namespace

QImage reportImage(const ReportData& data) {
    const OverlayData overlay = data.scan ? overlayOf(*data.scan) : OverlayData();
    const std::unique_ptr<Model> model = makeModel(data.structure.ext.model);
    return renderPlots(data.results, data.logScale, kPlotSize, &overlay,
                       DiffractionAxes{model->intensityUnit()});
}

QString reportHtml(const ReportData& data, const QString& imageSource) {
    const QString name = QFileInfo(data.structure.fileName).fileName();
    QString out =
        QStringLiteral(
            "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>Report on %1</title>\n"
            "<style>body{font-family:sans-serif} table{border-collapse:collapse} "
            "th,td{border:1px solid #999;padding:2px 6px;text-align:right} "
            "th{background:#eee} td.t{text-align:left}</style>\n</head><body>\n")
            .arg(esc(name));
    out += QStringLiteral("<h1>Report on %1</h1>\n").arg(esc(name));
    out += para(
        QStringLiteral("Written by %1. Model: %2. Seed: %3.")
            .arg(esc(data.program), esc(modelName(data.structure.ext.model)),
                 data.fit ? QString::number(data.seed) : QStringLiteral("none (no fit was run)")));
    out += QStringLiteral("<h2>Plots</h2>\n");
    if (!imageSource.isEmpty()) {
        out += QStringLiteral("<p><img src=\"%1\" width=\"%2\" alt=\"plots\"></p>\n")
                   .arg(esc(imageSource))
                   .arg(kPlotSize.width() * 3 / 4);
    } else {
        const QString png = pngBase64(reportImage(data));
        out += png.isEmpty()
                   ? para(QStringLiteral("(No plot: nothing was computed.)"))
                   : QStringLiteral("<p><img src=\"data:image/png;base64,%1\" alt=\"plots\"></p>\n")
                         .arg(png);
    }
    out += structureSection(data);
    out += fitSection(data);
    out += agreementSection(data);
    out += scanSection(data);
    out += peakSection(data);
    out += QStringLiteral("</body></html>\n");
    return out;
}

bool isReportPath(const QString& path) {
    return hasSuffix(path, {"html", "htm", "pdf"});
}

bool writeReport(const QString& path, const ReportData& data) {
    if (!isReportPath(path))
        return false;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const bool drawn = hasSuffix(path, {"pdf"}) ? writePdf(buffer, data)
                                                : buffer.write(reportHtml(data).toUtf8()) >= 0;
    buffer.close();
    SafeFile file(path);
    if (!drawn || bytes.isEmpty() || !file.open(QIODevice::WriteOnly) ||
        file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
