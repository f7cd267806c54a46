#include "app/document.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"
#include "tests/common/testfiles.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kRealScan = QStringLiteral(XRD_TEST_DATA_DIR "/measured/gaasp-on-gaas-004.x00");

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// The window's report (File > Export Report…): of what is on show, and of the fit that wrote
// it while that file is on show.
class TestDocumentReport : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void reportOfWhatIsShown() {
        Document document;
        const QString report = dir_.filePath("r.html");
        QVERIFY(document.writeReport(report, true).startsWith("Nothing to report"));
        QVERIFY(!QFile::exists(report));

        const QString plain = xrdtest::writeTestFile(
            dir_, "plain.txt", "SUBSTRATE 1 0\nLAYER 20 1 0\nLAYER 10 0 1\nREPEAT 3\n");
        document.open(plain);
        QTRY_VERIFY_WITH_TIMEOUT(!document.busy() && !document.results().theta.isEmpty(), 30000);
        QCOMPARE(document.writeReport(report, true), QString("Wrote [%1].").arg(report));
        const QByteArray html = readAll(report);
        QVERIFY(html.contains("Written by xrdsim "));
        QVERIFY(html.contains("<tr><td>2</td><td>10</td><td>2.719</td>")); // 10 x 2.719 A
        QVERIFY(html.contains("No fit was run"));

        // The same checks as any result: not over the structure file, not through a link.
        const QString target = xrdtest::writeTestFile(dir_, "target.html", "mine\n");
        QVERIFY(QFile::link(target, dir_.filePath("link.html")));
        QVERIFY(document.writeReport(dir_.filePath("link.html"), true)
                    .contains("it is a symbolic link"));
        QCOMPARE(readAll(target), QByteArray("mine\n"));
        QVERIFY(document.writeReport(plain, true).startsWith("Can't write"));
        QVERIFY(
            document.writeReport(dir_.filePath("missing/r.pdf"), true).startsWith("Can't write"));
    }

    // After a fit the fitted file is on show, and its report carries the fit; opening another
    // file leaves the fit out of its report.
    void reportOfAFit() {
        Document document;
        const QString s = xrdtest::writeTestFile(
            dir_, "g.txt",
            "WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 194 0 0.66\nREPEAT 1\nMEASURED " +
                kRealScan.toUtf8() + "\nFIT LAYER 1 Y 0.5 0.8\nFIT LAYER 1 N 190 200\n");
        document.setThreads(1);
        document.open(s);
        QTRY_VERIFY_WITH_TIMEOUT(!document.busy() && document.canFit(), 60000);
        document.startFit();
        const QString fitted = dir_.filePath("g-fitted.txt");
        QTRY_VERIFY_WITH_TIMEOUT(!document.busy() && document.currentFile() == fitted, 120000);
        const QString report = dir_.filePath("fit.html");
        QCOMPARE(document.writeReport(report, true), QString("Wrote [%1].").arg(report));
        const QByteArray html = readAll(report);
        for (const char* text :
             {"Seed: 1.", "<td class=\"t\">LAYER 1 Y</td>", "<td class=\"t\">LAYER 1 N</td>",
              "before the fit", "<td class=\"t\">879</td>"})
            QVERIFY2(html.contains(text), text);

        document.open(s);
        QTRY_VERIFY_WITH_TIMEOUT(!document.busy() && document.currentFile() == s, 60000);
        QCOMPARE(document.writeReport(report, true), QString("Wrote [%1].").arg(report));
        QVERIFY(readAll(report).contains("No fit was run"));
    }

    // Every scan of the structure on show is an input: a report or a plot image named like
    // its second scan is refused and the scan keeps its bytes.
    void exportsOverTheSecondScan_data() {
        QTest::addColumn<QString>("scan2");
        QTest::addColumn<bool>("report"); // Export Report; otherwise Export Plot's check
        QTest::newRow("report") << "second.html" << true;
        QTest::newRow("plot image") << "second.png" << false;
    }

    void exportsOverTheSecondScan() {
        QFETCH(QString, scan2);
        QFETCH(bool, report);
        Document document;
        const QByteArray scan = readAll(kRealScan);
        const QString second = xrdtest::writeTestFile(dir_, scan2, scan);
        const QString s = xrdtest::writeTestFile(
            dir_, "two.txt",
            "WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 194 0 0.66\nMODEL dynamical\nMEASURED " +
                kRealScan.toUtf8() + "\nMEASURED " + scan2.toUtf8() + " REFLECTION 0 0 2\n");
        document.open(s);
        QTRY_VERIFY_WITH_TIMEOUT(!document.busy() && !document.results().theta.isEmpty(), 60000);
        const QString line =
            report ? document.writeReport(second, true) : document.outputRefusal(second);
        QCOMPARE(line, QString("Can't write [%1]: it is [%1], which this run reads.").arg(second));
        QCOMPARE(readAll(second), scan);
        // The image of the structure file's own name is no input.
        QCOMPARE(document.outputRefusal(dir_.filePath("two-plot.png")), QString());
    }
};

QTEST_MAIN(TestDocumentReport)
#include "tst_documentreport.moc"
