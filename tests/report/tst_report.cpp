#include "report/report.h"

#include "analysis/scanroad.h"
#include "simulation/calculation.h"
#include "tests/common/testfiles.h"

#include <QBuffer>
#include <QImage>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kRealScan = QStringLiteral(XRD_TEST_DATA_DIR "/measured/gaasp-on-gaas-004.x00");

} // namespace

// The report of computed structures: what it says about the structure, the fit and the scan,
// and the files it writes.
class TestReport : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // Loads and computes `text` as the file `name`, the way the batch tool does, into a report.
    ReportData computed(const QString& name, const QByteArray& text) {
        const QString path = xrdtest::writeTestFile(dir_, name, text);
        Config config;
        LoadedStructure loaded = loadStructure(config, path);
        ReportData data;
        data.program = QStringLiteral("xrdsim 9.8.7");
        if (loaded.status != LoadedStructure::Ready)
            return data;
        const RoadOutcome road = runRoad(*loaded.calculation, data.results, CalculationHooks());
        data.structure = config;
        if (road.scan.attempted)
            data.scan = road.scan;
        return data;
    }

private slots:
    // The calculation's point count on the debug output is of no interest here.
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    // One row of the structure table: thickness in ML and in nm (the model's monolayer height
    // of the strained layer, worked out by hand from the lattice constants InP 5.869,
    // GaAs 5.6535, InAs 6.0585, GaP 5.4505 Å), composition and both grading zones.
    void structureRow_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("layer");
        QTest::addColumn<QString>("expected");

        // Basic model: a monolayer is (2a - aSubstrate) / 2.
        QTest::newRow("InP on InP, 20 ML = 20 x 2.9345 A")
            << QByteArray("SUBSTRATE 1 0\nLAYER 20 1 0\nREPEAT 1\n") << 1
            << "<td>1</td><td>20</td><td>5.869</td><td>1</td><td>0</td>"
               "<td class=\"t\">abrupt</td><td class=\"t\">abrupt</td>";
        QTest::newRow("GaAs on InP, 10 ML = 10 x 2.719 A, second line")
            << QByteArray("SUBSTRATE 1 0\nLAYER 20 1 0\nLAYER 10 0 1\nREPEAT 3\n") << 2
            << "<td>2</td><td>10</td><td>2.719</td><td>0</td><td>1</td>"
               "<td class=\"t\">abrupt</td><td class=\"t\">abrupt</td>";
        // a(0.7, 0.65) = 5.8692575 A by Vegard's rule: a monolayer of 2.9347575 A on InP.
        QTest::newRow("graded well, parabolic end and sine start")
            << QByteArray("WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 30 1 0\n"
                          "LAYER 24 0.7 0.65 P 6 1 0 H 5 1 0\nLAYER 30 1 0\nREPEAT 5\n")
            << 2
            << "<td>2</td><td>24</td><td>7.043</td><td>0.7</td><td>0.65</td>"
               "<td class=\"t\">sine over 5 ML to x 1, y 0</td>"
               "<td class=\"t\">parabolic over 6 ML to x 1, y 0</td>";
        QTest::newRow("linear start towards GaAs")
            << QByteArray("SUBSTRATE 1 0\nLAYER 20 1 0 A 0 1 0 L 4 0 1\nREPEAT 1\n") << 1
            << "<td>1</td><td>20</td><td>5.869</td><td>1</td><td>0</td>"
               "<td class=\"t\">linear over 4 ML to x 0, y 1</td><td class=\"t\">abrupt</td>";
        // The kinematical model's elastic strain leaves a matched layer at a / 2.
        QTest::newRow("kinematical GaAs on GaAs, 40 ML = 40 x 2.82675 A")
            << QByteArray("WAVELENGTH 1.5406\nSUBSTRATE 0 1\nLAYER 40 0 1\nREPEAT 1\n"
                          "MODEL kinematical\n")
            << 1
            << "<td>1</td><td>40</td><td>11.307</td><td>0</td><td>1</td>"
               "<td class=\"t\">abrupt</td><td class=\"t\">abrupt</td>";
    }
    void structureRow() {
        QFETCH(QByteArray, text);
        QFETCH(int, layer);
        QFETCH(QString, expected);
        const ReportData data = computed(QStringLiteral("row%1.txt").arg(layer), text);
        QVERIFY(data.structure.valid);
        const QString html = reportHtml(data);
        QVERIFY2(html.contains("<tr>" + expected + "</tr>"), qPrintable(html.left(4000)));
        // A plain structure says that nothing was fitted or measured.
        QVERIFY(html.contains("No fit was run"));
        QVERIFY(html.contains("Seed: none"));
        QVERIFY(html.contains("No measured scan"));
        QVERIFY(html.contains("Written by xrdsim 9.8.7."));
    }

    // Each fitted value with its uncertainty in its own parameter's row, the at-bound flag
    // only where the fit set it, the thickness also in nm, correlations by name.
    void fittedValues_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("fitted");
        QTest::addColumn<QString>("nm");
        QTest::addColumn<bool>("atBound");
        // 195 ML of 0.28 nm: 54.6 nm, 1 ML: 0.28 nm.
        QTest::newRow("thickness") << "LAYER 1 N"
                                   << "195 \u00b1 1"
                                   << "54.6 \u00b1 0.28" << false;
        QTest::newRow("composition") << "LAYER 1 Y"
                                     << "0.657205 \u00b1 0.000272"
                                     << "" << false;
        QTest::newRow("offset at bound") << "OFFSET"
                                         << "-0.02 \u00b1 0.00066"
                                         << "" << true;
    }
    void fittedValues() {
        QFETCH(QString, target);
        QFETCH(QString, fitted);
        QFETCH(QString, nm);
        QFETCH(bool, atBound);
        ReportData data = computed(QStringLiteral("fitted.txt"),
                                   "SUBSTRATE 0 1\nLAYER 195 0 0.657205\nREPEAT 1\n");
        FitReport fit;
        fit.ok = true;
        fit.agreementBefore = 0.118787;
        fit.agreementAfter = 0.0509031;
        fit.rows << FitRow{QStringLiteral("LAYER 1 N"), 194, 195, 1, false, 0.28}
                 << FitRow{QStringLiteral("LAYER 1 Y"), 0.66, 0.657205, 0.000272, false, 0}
                 << FitRow{QStringLiteral("OFFSET"), 0, -0.02, 0.00066, true, 0};
        fit.outcome.strongCorrelations.emplace_back(0, 2, -0.934);
        data.fit = fit;
        data.seed = 7;
        const QString html = reportHtml(data);
        const QRegularExpression rowOf(QStringLiteral("<tr><td class=\"t\">%1</td>(.*)</tr>")
                                           .arg(QRegularExpression::escape(target)));
        const QRegularExpressionMatch m = rowOf.match(html);
        QVERIFY2(m.hasMatch(), qPrintable(html));
        const QString cells = m.captured(1);
        QVERIFY2(cells.contains("<td>" + fitted + "</td>"), qPrintable(cells));
        QVERIFY2(cells.contains("<td>" + nm + "</td>"), qPrintable(cells));
        QCOMPARE(cells.contains("at bound"), atBound);
        QVERIFY(html.contains("LAYER 1 N and OFFSET: r = -0.934"));
        QVERIFY(html.contains("0.118787 before the fit, 0.0509031 after it"));
        QVERIFY(html.contains("Seed: 7."));
        QVERIFY(!html.contains("No fit was run"));
    }

    // The facts of a real scan: 879 points of PANalytical X00 from omega 32.50125 degrees in
    // steps of 0.0025 degrees, Cu K-alpha1.
    void scanFacts_data() {
        QTest::addColumn<QString>("fact");
        QTest::newRow("file") << "<td class=\"t\">File</td><td class=\"t\">" + kRealScan + "</td>";
        QTest::newRow("format") << QString("<td class=\"t\">X00</td>");
        QTest::newRow("axis") << QString("<td class=\"t\">omega</td>");
        QTest::newRow("points") << QString("<td class=\"t\">879</td>");
        QTest::newRow("range") << QString("<td class=\"t\">32.50125\u00b0 to 34.69625\u00b0</td>");
        QTest::newRow("wavelength") << QString("<td class=\"t\">1.54056 \u00c5</td>");
        QTest::newRow("both columns of peaks") << QString("<th>Measured</th><th>Model</th>");
        QTest::newRow("agreement without a fit") << QString("log10 intensities: 0.");
    }
    void scanFacts() {
        QFETCH(QString, fact);
        const ReportData data = computed(QStringLiteral("gaasp.txt"),
                                         "WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 194 0 0.66\n"
                                         "REPEAT 1\nMEASURED " +
                                             kRealScan.toUtf8() + "\n");
        QVERIFY(data.scan && data.scan->ok);
        const QString html = reportHtml(data);
        QVERIFY2(html.contains(fact), qPrintable(html.mid(html.indexOf("<h2>Measured"))));
    }

    // Text from files never becomes markup.
    void escaping_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("target");
        QTest::newRow("script in the file name") << "<script>alert(1)<.script>.txt"
                                                 << "OFFSET";
        QTest::newRow("markup in a target") << "plain.txt"
                                            << "<b onclick=\"x\">&amp;";
        QTest::newRow("quotes and ampersand") << "a&b \"c\" 'd'.txt"
                                              << "SCALE";
    }
    void escaping() {
        QFETCH(QString, fileName);
        QFETCH(QString, target);
        ReportData data = computed(fileName, "SUBSTRATE 1 0\nLAYER 10 1 0\nREPEAT 1\n");
        QVERIFY(data.structure.valid);
        FitReport fit;
        fit.rows << FitRow{target, 0, 1, 0.1, false, 0};
        fit.fittedFile = data.structure.fileName;
        data.fit = fit;
        const QString html = reportHtml(data);
        for (const QString& hostile : {fileName, target}) {
            if (hostile.contains(QRegularExpression("[<>&\"]")))
                QVERIFY2(!html.contains(hostile), qPrintable(hostile));
            QVERIFY2(html.contains(hostile.toHtmlEscaped()), qPrintable(hostile));
        }
        QCOMPARE(html.count("<script"), 0);
        QCOMPARE(html.count("<b "), 0);
    }

    // The files: self-contained HTML whose embedded image is the plots, or a PDF; a report
    // that cannot be written leaves nothing behind.
    void files_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<bool>("written");
        QTest::newRow("html") << "r.html" << QByteArray("<!DOCTYPE html>") << true;
        QTest::newRow("htm, upper case") << "r.HTM" << QByteArray("<!DOCTYPE html>") << true;
        QTest::newRow("pdf") << "r.pdf" << QByteArray("%PDF-") << true;
        QTest::newRow("no report suffix") << "r.txt" << QByteArray() << false;
        QTest::newRow("missing folder") << "missing/r.html" << QByteArray() << false;
    }
    void files() {
        QFETCH(QString, name);
        QFETCH(QByteArray, start);
        QFETCH(bool, written);
        const ReportData data = computed(
            QStringLiteral("files.txt"),
            "WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 30 1 0\nLAYER 24 0.7 0.65\nREPEAT 5\n");
        const QString path = dir_.filePath(name);
        QCOMPARE(writeReport(path, data), written);
        QCOMPARE(QFile::exists(path), written);
        if (!written)
            return;
        const QByteArray bytes = xrdtest::readTestFile(path);
        QVERIFY(bytes.startsWith(start));
        if (start.startsWith("%PDF")) {
            QVERIFY(bytes.trimmed().endsWith("%%EOF"));
            return;
        }
        // Nothing outside the file: the only image is inline, and it is both plots.
        QCOMPARE(bytes.count("<img"), 1);
        const QRegularExpressionMatch png =
            QRegularExpression("src=\"data:image/png;base64,([A-Za-z0-9+/=]+)\"")
                .match(QString::fromUtf8(bytes));
        QVERIFY(png.hasMatch());
        const QImage image = QImage::fromData(QByteArray::fromBase64(png.captured(1).toLatin1()));
        QCOMPARE(image.size(), reportImage(data).size());
        QCOMPARE(image.width(), 800);
    }
};

QTEST_MAIN(TestReport)
#include "tst_report.moc"
