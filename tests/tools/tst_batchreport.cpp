#include "tests/common/testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kRealScan = QStringLiteral(XRD_TEST_DATA_DIR "/measured/gaasp-on-gaas-004.x00");
const QByteArray kPlain = "WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 30 1 0\nLAYER 24 0.7 0.65\n"
                          "REPEAT 5\n";

} // namespace

// xrdsim-batch --report, run as a user would.
class TestBatchReport : public QObject {
    Q_OBJECT

    struct Run {
        int status;
        QString out;
        QString err;
    };

    static Run run(const QStringList& args, const QString& folder) {
        QProcess p;
        p.setWorkingDirectory(folder);
        p.start(QStringLiteral(XRD_BATCH_TOOL), args);
        if (!p.waitForFinished(120000))
            return {-1, QString(), QStringLiteral("did not finish")};
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

private slots:
    // A report is written beside the results, HTML or PDF by its name; a fit's report holds
    // its seed and its parameters.
    void written_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QStringList>("contains");
        QTest::newRow("plain, html")
            << QStringList{} << "plain.html" << QByteArray("<!DOCTYPE html>")
            << QStringList{"No fit was run", "No measured scan"};
        QTest::newRow("plain, pdf")
            << QStringList{} << "plain.pdf" << QByteArray("%PDF-") << QStringList{};
        QTest::newRow("scan, html")
            << QStringList{"--measured", kRealScan} << "scan.html" << QByteArray("<!DOCTYPE html>")
            << QStringList{"<td class=\"t\">879</td>", "No fit was run"};
        QTest::newRow("fit, html")
            << QStringList{"--fit", "--seed", "7", "--measured", kRealScan} << "fit.html"
            << QByteArray("<!DOCTYPE html>")
            << QStringList{"Seed: 7.", "<td class=\"t\">LAYER 1 Y</td>",
                           "<td class=\"t\">LAYER 1 N</td>", "before the fit"};
        QTest::newRow("fit, pdf") << QStringList{"--fit", "--measured", kRealScan} << "fit.pdf"
                                  << QByteArray("%PDF-") << QStringList{};
    }
    void written() {
        QFETCH(QStringList, args);
        QFETCH(QString, report);
        QFETCH(QByteArray, start);
        QFETCH(QStringList, contains);
        QTemporaryDir dir;
        const bool fit = args.contains("--fit");
        const QString s = xrdtest::writeTestFile(
            dir, "s.txt",
            fit ? QByteArray("WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 194 0 0.66\nREPEAT 1\n"
                             "FIT LAYER 1 Y 0.5 0.8\nFIT LAYER 1 N 190 200\n"
                             "FIT OFFSET -0.02 0.02\n")
                : kPlain);
        const Run r = run(QStringList{"--threads", "1", "--report", report} + args + QStringList{s},
                          dir.path());
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains(QString("Wrote [%1].").arg(report)), qPrintable(r.out + r.err));
        const QByteArray bytes = xrdtest::readTestFile(dir.filePath(report));
        QVERIFY(bytes.startsWith(start));
        for (const QString& text : contains)
            QVERIFY2(bytes.contains(text.toUtf8()), qPrintable(text));
    }

    // The report path goes through the same checks as every result: a clash with an input or
    // a symbolic link refuses the file before anything is written (exit 1); a report that
    // cannot be written says so (exit 1); a wrong name or several files are a usage error.
    void refused_data() {
        QTest::addColumn<QString>("report"); // STRUCTURE: the structure file itself
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line");
        QTest::newRow("the structure file") << "STRUCTURE" << 1 << 1 << "which this run reads.";
        QTest::newRow("a symbolic link") << "link.html" << 1 << 1 << "it is a symbolic link";
        QTest::newRow("missing folder")
            << "no/such/r.html" << 1 << 1 << "Can't write [no/such/r.html].";
        QTest::newRow("not html or pdf") << "r.txt" << 1 << 2 << "--report takes one";
        QTest::newRow("two structure files") << "r.html" << 2 << 2 << "--report takes one";
    }
    void refused() {
        QFETCH(QString, report);
        QFETCH(int, files);
        QFETCH(int, status);
        QFETCH(QString, line);
        QTemporaryDir dir;
        // A structure file whose name a report could have.
        const QString s = xrdtest::writeTestFile(dir, "s.html", kPlain);
        const QString target = xrdtest::writeTestFile(dir, "target.html", "mine\n");
        QVERIFY(QFile::link(target, dir.filePath("link.html")));
        if (report == "STRUCTURE")
            report = s;
        QStringList args{"--report", report, s};
        if (files == 2)
            args << xrdtest::writeTestFile(dir, "t.txt", kPlain);
        const Run r = run(args, dir.path());
        QCOMPARE(r.status, status);
        QVERIFY2((r.out + r.err).contains(line), qPrintable(r.out + r.err));
        // Nothing replaced: the structure, the link's target; no report anywhere.
        QCOMPARE(xrdtest::readTestFile(s), kPlain);
        QCOMPARE(xrdtest::readTestFile(target), QByteArray("mine\n"));
        QVERIFY(QFileInfo(dir.filePath("link.html")).isSymLink());
        QVERIFY(!QFile::exists(dir.filePath("r.html")) && !QFile::exists(dir.filePath("r.txt")));
    }
};

QTEST_GUILESS_MAIN(TestBatchReport)
#include "tst_batchreport.moc"
