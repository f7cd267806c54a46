#include "tests/common/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <random>

namespace {
const QString kRealScan = QStringLiteral(XRD_TEST_DATA_DIR "/measured/gaasp-on-gaas-004.x00");
}

// The batch tool, run as a user would: exit status, printed lines and result files.
class TestBatch : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes) {
        return xrdtest::writeTestFile(dir_, name, bytes);
    }

    struct Run {
        int status;
        QString out;
        QString err;
    };

    static Run run(const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral(XRD_BATCH_TOOL), args);
        if (!p.waitForFinished(60000))
            return {-1, QString(), QStringLiteral("did not finish")};
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    static QByteArray readAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static int lines(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll().count('\n') : -1;
    }

private slots:
    void computesEveryFile() {
        const QString a = write("a.txt", "SUBSTRATE 0 1\nLAYER 30 0.2 1\nREPEAT 2\n");
        const QString b = write("b.dat", "SUBSTRATE 1 0\nLAYER 20 0.532 1\nLAYER 40 1 0\n");
        const Run r = run({a, b});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains(QString("Loading [%1].").arg(a)), qPrintable(r.out));
        QVERIFY(r.out.contains(QString("Wrote [%1].").arg(dir_.filePath("b-dif.dat"))));
        QCOMPARE(lines(dir_.filePath("a-cmp.txt")), 31);
        // The printed point count is the number of lines in the curve file.
        const QRegularExpression count("(\\d+) curve points\\.");
        const QRegularExpressionMatch m = count.match(r.out);
        QVERIFY(m.hasMatch());
        QCOMPARE(lines(dir_.filePath("a-dif.txt")), m.captured(1).toInt());
        QVERIFY(r.err.isEmpty());
    }

    void outputDirectory() {
        // Result files and plot image go into the output folder, none beside the structure.
        QTemporaryDir out;
        const QString a = write("od.txt", "SUBSTRATE 0 1\nLAYER 5 0.2 1\n");
        const Run r = run({"--png", "--plot-size", "200x100", "--output-dir", out.path(), a});
        QCOMPARE(r.status, 0);
        for (const char* name : {"od-cmp.txt", "od-dif.txt", "od-plot.png"}) {
            QVERIFY2(r.out.contains(QString("Wrote [%1].").arg(QDir(out.path()).filePath(name))),
                     qPrintable(r.out));
            QVERIFY(QFile::exists(QDir(out.path()).filePath(name)));
            QVERIFY(!QFile::exists(dir_.filePath(name)));
        }
        QCOMPARE(QImage(QDir(out.path()).filePath("od-plot.png")).size(), QSize(200, 200));
        // A missing folder is made, with its parents.
        const QString nested = QDir(out.path()).filePath("new/deeper");
        QCOMPARE(run({"-o", nested, a}).status, 0);
        QVERIFY(QFile::exists(QDir(nested).filePath("od-dif.txt")));
    }

    // Plots need the GUI module; without a session it must not warn about the runtime folder.
    void quietWithoutSession() {
        const QString a = write("qs.txt", "SUBSTRATE 0 1\nLAYER 5 0.2 1\n");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("XDG_RUNTIME_DIR");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(XRD_BATCH_TOOL), {"--png", "--plot-size", "80x60", a});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(!err.contains("XDG_RUNTIME_DIR"), err.constData());
    }

    void filesThatAreNotComputed_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        QTest::newRow("invalid") << QByteArray("LAYER 10 1 0\n") << "Invalid structure [";
        QTest::newRow("refused") << QByteArray("SUBSTRATE 1 0\nLAYER 3 -7 0\n") << "Refused [";
        // sin theta = 1000 x 1 A / (2 x 5.6533 A) = 88.44 on GaAs at the default wavelength.
        QTest::newRow("reflection beyond reach")
            << QByteArray("SUBSTRATE 0 1\nLAYER 10 0.2 1\nMODEL dynamical\nREFLECTION 1000\n")
            << "the (0 0 1000) reflection cannot be reached at a wavelength of 1 \u00c5: Bragg's "
               "law would need sin \u03b8 = l \u03bb / (2 a) = 88.44";
    }

    void filesThatAreNotComputed() {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        const QString bad = write("bad.txt", content);
        const QString good = write("good.txt", "SUBSTRATE 0 1\nLAYER 5 0 1\n");
        QFile::remove(dir_.filePath("good-dif.txt"));
        const Run r = run({bad, dir_.filePath("missing.txt"), good});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.out.contains(message), qPrintable(r.out));
        QVERIFY(r.out.contains(QString("Can't open [%1].").arg(dir_.filePath("missing.txt"))));
        QVERIFY(!QFile::exists(dir_.filePath("bad-cmp.txt")));
        // The other files are still computed.
        QVERIFY(QFile::exists(dir_.filePath("good-dif.txt")));
    }

    void unwritableResultFile() {
        // A folder where the curve file would go: named on the output, non-zero status.
        const QString s = write("blocked.txt", "SUBSTRATE 0 1\nLAYER 5 0 1\n");
        QVERIFY(QDir().mkpath(dir_.filePath("blocked-dif.txt")));
        const Run r = run({s});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.out.contains(QString("Can't write [%1].").arg(dir_.filePath("blocked-dif.txt"))),
                 qPrintable(r.out));
        QVERIFY(r.out.contains(QString("Wrote [%1].").arg(dir_.filePath("blocked-cmp.txt"))));
    }

    // An output of the whole run (the summary, the report) that would replace an input, a
    // result, a link's target or a folder is refused before any fit starts: the file named
    // keeps its bytes, nothing is fitted or written.
    void runOutputs_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("victim"); // the path that must stay as it was
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line");
        QTest::newRow("--summary a.txt b.txt (name forgotten)")
            << QStringList{"--summary", "a.txt", "b.txt"} << "a.txt" << 2
            << "--summary takes a file name ending in .csv. [";
        QTest::newRow("summary is the scan") << QStringList{"--summary", "scan.csv", "b.txt"}
                                             << "scan.csv" << 1 << "], which this run reads.";
        QTest::newRow("summary is the structure") << QStringList{"--summary", "c.csv", "c.csv"}
                                                  << "c.csv" << 1 << "], which this run reads.";
        QTest::newRow("summary is the fitted file")
            << QStringList{"--summary", "c-fitted.csv", "c.csv"} << "c-fitted.csv" << 1
            << "]: it is a result of [";
        QTest::newRow("summary is a link") << QStringList{"--summary", "link.csv", "b.txt"}
                                           << "elsewhere.csv" << 1 << "it is a symbolic link";
        QTest::newRow("summary is a dangling link")
            << QStringList{"--summary", "dangling.csv", "b.txt"} << "missing.csv" << 1
            << "it is a symbolic link";
        QTest::newRow("summary is a folder") << QStringList{"--summary", "folder.csv", "b.txt"}
                                             << "folder.csv" << 1 << "it is a folder.";
        QTest::newRow("report is a folder") << QStringList{"--report", "folder.html", "b.txt"}
                                            << "folder.html" << 1 << "it is a folder.";
        QTest::newRow("report is a link") << QStringList{"--report", "link.html", "b.txt"}
                                          << "elsewhere.csv" << 1 << "it is a symbolic link";
    }

    void runOutputs() {
        QFETCH(QStringList, args);
        QFETCH(QString, victim);
        QFETCH(int, status);
        QFETCH(QString, line);
        QTemporaryDir dir;
        const QByteArray fit = "WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 194 0 0.66\nMEASURED "
                               "scan.csv\nFIT LAYER 1 Y 0.5 0.8\n";
        for (const char* name : {"a.txt", "b.txt", "c.csv"})
            xrdtest::writeTestFile(dir, name, fit);
        xrdtest::writeTestFile(dir, "scan.csv", readAll(kRealScan));
        xrdtest::writeTestFile(dir, "c-fitted.csv", "an older fit\n");
        xrdtest::writeTestFile(dir, "elsewhere.csv", "precious\n");
        QVERIFY(QFile::link(dir.filePath("elsewhere.csv"), dir.filePath("link.csv")));
        QVERIFY(QFile::link(dir.filePath("elsewhere.csv"), dir.filePath("link.html")));
        QVERIFY(QFile::link(dir.filePath("missing.csv"), dir.filePath("dangling.csv")));
        QVERIFY(QDir(dir.path()).mkpath("folder.csv") && QDir(dir.path()).mkpath("folder.html"));
        const QByteArray before = readAll(dir.filePath(victim));
        const QStringList entries = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden);
        for (QString& a : args)
            if (!a.startsWith("--"))
                a = dir.filePath(a);
        const Run r = run(QStringList{"--fit", "--threads", "1"} + args);
        QCOMPARE(r.status, status);
        QVERIFY2((r.out + r.err).contains(line), qPrintable(r.out + r.err));
        QCOMPARE(readAll(dir.filePath(victim)), before);
        QCOMPARE(QFileInfo::exists(dir.filePath(victim)),
                 !before.isEmpty() || victim.startsWith("folder"));
        // Refused before the fit: no progress, no new file.
        QVERIFY(!r.err.contains("Fitting ["));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden), entries);
    }

    void plotImage() {
        // Both plots, one above the other: the profile's blue and red curves on top, the
        // green diffraction curve below.
        const QString s = write("img.txt", "SUBSTRATE 1 0\nLAYER 20 0.532 1\nLAYER 40 1 0\n");
        const Run r = run({"--png", "--log", "--plot-size", "400x300", s});
        QCOMPARE(r.status, 0);
        const QString png = dir_.filePath("img-plot.png");
        QVERIFY2(r.out.contains(QString("Wrote [%1].").arg(png)), qPrintable(r.out));
        const QImage image(png);
        QCOMPARE(image.size(), QSize(400, 600));
        auto count = [&](QRgb colour, int top, int bottom) {
            int n = 0;
            for (int y = top; y < bottom; ++y)
                for (int x = 0; x < image.width(); ++x)
                    n += (image.pixel(x, y) & 0xffffff) == (colour & 0xffffff);
            return n;
        };
        QVERIFY(count(qRgb(0, 0, 255), 0, 300) > 100);
        QVERIFY(count(qRgb(255, 0, 0), 0, 300) > 100);
        QCOMPARE(count(qRgb(0, 200, 0), 0, 300), 0);
        QVERIFY(count(qRgb(0, 200, 0), 300, 600) > 100);
        QCOMPARE(count(qRgb(0, 0, 255), 300, 600), 0);
    }

    void plotImageWithMeasurement() {
        // A structure that names a measured scan: the lower plot overlays the measurement
        // (blue) and the model at its angles (red) instead of the green full curve.
        QByteArray scan;
        for (int i = 0; i <= 280; ++i) {
            const double t = 31.0 + 0.005 * i;
            const double u = (t - 31.67) / 0.01;
            scan += QByteArray::number(t, 'f', 3) + ' ' +
                    QByteArray::number(i % 9 == 4 ? 0.0 : 5.0 + 1e5 / (1.0 + u * u)) + '\n';
        }
        write("scan.txt", scan);
        const QString s = write("ovl.txt", "SUBSTRATE 1 0\nLAYER 200 0.53 1\nMEASURED scan.txt\n");
        const Run r = run({"--png", "--log", "--plot-size", "400x300", s});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains(QString("Wrote [%1].").arg(dir_.filePath("ovl-meas.txt"))),
                 qPrintable(r.out));
        const QImage image(dir_.filePath("ovl-plot.png"));
        QCOMPARE(image.size(), QSize(400, 600));
        auto count = [&](QRgb colour) {
            int n = 0;
            for (int y = 300; y < 600; ++y)
                for (int x = 0; x < image.width(); ++x)
                    n += (image.pixel(x, y) & 0xffffff) == (colour & 0xffffff);
            return n;
        };
        QVERIFY(count(qRgb(40, 90, 220)) > 100);
        QVERIFY(count(qRgb(220, 0, 0)) > 100);
        QCOMPARE(count(qRgb(0, 200, 0)), 0);
    }

    void killedWhileWriting() {
        // Killed at random moments, the tool leaves each result file either as the previous
        // complete file or as the new complete one, never cut short.
        const QString path = dir_.filePath("kill.txt");
        auto runTo = [&](const QByteArray& structure) {
            write("kill.txt", structure);
            return run({path});
        };
        const QByteArray before = "SUBSTRATE 1 0\nLAYER 3000 1 0\nLAYER 7 0.532 1\n";
        const QByteArray after = "SUBSTRATE 1 0\nLAYER 3000 1 0\nLAYER 9 0.532 1\n";
        QCOMPARE(runTo(after).status, 0);
        const QByteArray newCurve = readAll(dir_.filePath("kill-dif.txt"));
        const QByteArray newProfile = readAll(dir_.filePath("kill-cmp.txt"));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runTo(before).status, 0);
        const qint64 fullRun = timer.elapsed();
        const QByteArray oldCurve = readAll(dir_.filePath("kill-dif.txt"));
        const QByteArray oldProfile = readAll(dir_.filePath("kill-cmp.txt"));
        QVERIFY(oldCurve.count('\n') > 100000 && oldCurve != newCurve);

        std::mt19937 rng(42);
        int cut = 0;
        int newProfiles = 0;
        int newCurves = 0;
        for (int attempt = 0; attempt < 12; ++attempt) {
            QProcess p;
            p.start(QStringLiteral(XRD_BATCH_TOOL), {path});
            QVERIFY(p.waitForStarted());
            QThread::msleep(rng() % (fullRun * 5 / 4 + 1));
            p.kill();
            p.waitForFinished();
            cut += p.exitStatus() == QProcess::CrashExit;
            const QByteArray curve = readAll(dir_.filePath("kill-dif.txt"));
            const QByteArray profile = readAll(dir_.filePath("kill-cmp.txt"));
            QVERIFY2(curve == oldCurve || curve == newCurve,
                     qPrintable(QString("curve file of %1 bytes").arg(curve.size())));
            QVERIFY(profile == oldProfile || profile == newProfile);
            newProfiles += profile == newProfile;
            newCurves += curve == newCurve;
            // The next attempt starts from the old files again.
            QCOMPARE(runTo(before).status, 0);
            write("kill.txt", after);
        }
        qInfo("12 runs: %d killed, %d left the new profile, %d the new curve", cut, newProfiles,
              newCurves);
    }

    // The fit options on the real GaAsP scan (basic model, As fraction and offset free, so
    // that each fit takes a moment): where NAME-fitted.EXT lands, that the seed is used and
    // recorded, that --measured replaces a MEASURED line naming no file, that --weighted
    // changes the figure, and the summary's row.
    void fitOptions_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("measuredLine"); // empty: the real scan
        QTest::addColumn<bool>("intoOutputDir");
        QTest::addColumn<QString>("seedLine");
        QTest::newRow("--fit") << QStringList{"--fit"} << QString() << false << "# seed: 1";
        QTest::newRow("--seed 7") << QStringList{"--fit", "--seed", "7"} << QString() << false
                                  << "# seed: 7";
        QTest::newRow("--measured") << QStringList{"--fit", "--measured", kRealScan}
                                    << "missing.x00" << false << "# seed: 1";
        QTest::newRow("--output-dir")
            << QStringList{"--fit", "--output-dir", "OUT"} << QString() << true << "# seed: 1";
        QTest::newRow("--weighted")
            << QStringList{"--fit", "--weighted"} << QString() << false << "# seed: 1";
        QTest::newRow("--summary")
            << QStringList{"--fit", "--summary", "SUMMARY"} << QString() << false << "# seed: 1";
    }
    void fitOptions() {
        QFETCH(QStringList, args);
        QFETCH(QString, measuredLine);
        QFETCH(bool, intoOutputDir);
        QFETCH(QString, seedLine);
        QTemporaryDir out;
        const QString summary = QDir(out.path()).filePath("summary.csv");
        args.replaceInStrings(QRegularExpression("^OUT$"), out.path());
        args.replaceInStrings(QRegularExpression("^SUMMARY$"), summary);
        const QString name =
            QString("gaasp-%1.txt").arg(QTest::currentDataTag()).remove('-').remove(' ');
        const QString file = write(
            name, "WAVELENGTH 1.54056\nSUBSTRATE 0 1\n# Schicht: GaAsP \xe4\xf6 (Latin-1)\n"
                  "LAYER 194 0 0.66\nREPEAT 1\nMEASURED " +
                      (measuredLine.isEmpty() ? kRealScan : measuredLine).toUtf8() +
                      "\nFIT LAYER 1 Y 0.5 0.8\nFIT LAYER 1 N 190 200\nFIT OFFSET -0.02 0.02\n");
        const Run r = run(QStringList{"--threads", "1"} + args + QStringList{file});
        QCOMPARE(r.status, 0);
        const QString fitted = QDir(intoOutputDir ? out.path() : dir_.path())
                                   .filePath(QFileInfo(name).completeBaseName() + "-fitted.txt");
        QVERIFY2(r.out.contains(QString("Wrote [%1].").arg(fitted)), qPrintable(r.out));
        QCOMPARE(QFile::exists(dir_.filePath(QFileInfo(fitted).fileName())), !intoOutputDir);
        const QByteArray text = readAll(fitted);
        // The record of the run, and the user's Latin-1 comment byte for byte.
        QVERIFY2(text.contains(seedLine.toUtf8() + '\n'), text.constData());
        for (const char* line : {"# model: basic\n", "# program: xrdsim ",
                                 "# evaluations: ", "# generations: ", "# fit time: "})
            QVERIFY2(text.contains(line), line);
        QVERIFY(text.contains("# Schicht: GaAsP \xe4\xf6 (Latin-1)\n"));
        // As the peer's 0.637 within what the basic model's stiffer strain rule adds (0.02).
        const QRegularExpressionMatch as =
            QRegularExpression("# fitted LAYER 1 Y: ([0-9.]+) ").match(QString::fromLatin1(text));
        QVERIFY(as.hasMatch());
        QVERIFY2(std::fabs(as.captured(1).toDouble() - 0.657) < 0.02, qPrintable(as.captured(1)));
        const double after = QRegularExpression("# agreement after: ([0-9.e+-]+)")
                                 .match(QString::fromLatin1(text))
                                 .captured(1)
                                 .toDouble();
        // Weighted: chi-square per point of counts of a few hundred per second, far above the
        // plain figure of this scan (about 0.04).
        QVERIFY2(QTest::currentDataTag() == QString("--weighted") ? after > 1.0 : after < 0.2,
                 qPrintable(QString::number(after)));
        QVERIFY(r.err.contains("Fitting [") || r.err.isEmpty());
        if (!args.contains("--summary"))
            return;
        const QStringList rows =
            QString::fromUtf8(readAll(summary)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 2);
        const QStringList cells = rows[1].split(',');
        QCOMPARE(cells.size(), 4 + 3 * 5 + 1); // the parameters, then the warnings (none)
        QCOMPARE(cells.last(), QString());
        QCOMPARE(cells[0], file);
        QCOMPARE(cells[1], QString("basic"));
        QCOMPARE(cells[4], QString("LAYER 1 Y"));
        QCOMPARE(cells[9], QString("LAYER 1 N"));
        // The thickness as the fitted file gives it: its whole monolayers, and in nm the same
        // figures, from the basic rule's monolayer of GaAs(y)P(1-y) on GaAs at the fitted y:
        // a = 5.6535 y + 5.4505 (1 - y), half of 2 a - 5.6535 Å.
        const QRegularExpressionMatch n =
            QRegularExpression("# fitted LAYER 1 N: ([0-9]+) \u00b1 [0-9.e+-]+ \\(([0-9.]+) \u00b1 "
                               "([0-9.]+) nm\\)")
                .match(QString::fromLatin1(text));
        QVERIFY2(n.hasMatch(), text.constData());
        QCOMPARE(cells[10], n.captured(1));
        QCOMPARE(QString::number(cells[12].toDouble(), 'f', 2), n.captured(2));
        QCOMPARE(QString::number(cells[13].toDouble(), 'f', 2), n.captured(3));
        const double y = as.captured(1).toDouble();
        const double a = 5.6535 * y + 5.4505 * (1 - y);
        const double nm = cells[12].toDouble() / cells[10].toDouble();
        QVERIFY2(std::fabs(nm - (2 * a - 5.6535) / 20) < 1e-6, qPrintable(cells[12]));
        QVERIFY(cells[11].toDouble() >= 1.0); // whole monolayers: at least one
        QCOMPARE(cells[14], QString("OFFSET"));
    }

    void fitOptionsLineAndCommandLine_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("line"); // the structure's FITOPTIONS line, if any
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("seedLine");
        QTest::addColumn<int>("mostGenerations");
        QTest::newRow("FITOPTIONS SEED")
            << "fo.txt" << QByteArray("FITOPTIONS SEED 7 GENERATIONS 3") << QStringList()
            << "# seed: 7" << 3;
        QTest::newRow("--seed overrides it")
            << "fo.txt" << QByteArray("FITOPTIONS SEED 7 GENERATIONS 3")
            << QStringList{"--seed", "3"} << "# seed: 3" << 3;
        QTest::newRow("--max-seconds leaves its seed")
            << "fo.txt" << QByteArray("FITOPTIONS SEED 7 GENERATIONS 2")
            << QStringList{"--max-seconds", "100"} << "# seed: 7" << 2;
        QTest::newRow("a refit keeps its name")
            << "fo-fitted.txt" << QByteArray("FITOPTIONS GENERATIONS 3") << QStringList()
            << "# seed: 1" << 3;
    }

    // The structure's FITOPTIONS line sets the fit's seed and generations unless the command
    // line says otherwise; a refit of NAME-fitted.EXT writes NAME-fitted.EXT again.
    void fitOptionsLineAndCommandLine() {
        QFETCH(QString, name);
        QFETCH(QByteArray, line);
        QFETCH(QStringList, args);
        QFETCH(QString, seedLine);
        QFETCH(int, mostGenerations);
        QTemporaryDir dir;
        const QString file = xrdtest::writeTestFile(
            dir, name,
            "WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 194 0 0.66\nREPEAT 1\nMEASURED " +
                kRealScan.toUtf8() + "\nFIT LAYER 1 Y 0.5 0.8\nFIT OFFSET -0.02 0.02\n" + line +
                "\n");
        const Run r = run(QStringList{"--threads", "1", "--fit"} + args + QStringList{file});
        QCOMPARE(r.status, 0);
        const QString base = QFileInfo(name).completeBaseName();
        const QString fitted = dir.filePath(base.endsWith("-fitted") ? name : base + "-fitted.txt");
        QVERIFY2(r.out.contains(QString("Wrote [%1].").arg(fitted)), qPrintable(r.out));
        QVERIFY(!QFile::exists(dir.filePath(base + "-fitted-fitted.txt")));
        const QString text = QString::fromUtf8(readAll(fitted));
        QVERIFY2(text.contains(seedLine + "\n"), qPrintable(text));
        const QRegularExpressionMatch g = QRegularExpression("# generations: (\\d+)").match(text);
        QVERIFY(g.hasMatch());
        QVERIFY2(g.captured(1).toInt() <= mostGenerations, qPrintable(g.captured(0)));
        // The line itself stays in the fitted file.
        QVERIFY(text.contains(QString::fromLatin1(line) + "\n"));
    }

    void fitSeedsDifferAndRepeat() {
        // The same seed twice gives the same file but for its time; another seed takes another
        // path through the search. (Two free compositions, which the peaks cannot both give:
        // the global search runs, rather than only a refinement of the start from the peaks.)
        const QString file = write("seeds.txt", "WAVELENGTH 1.54056\nSUBSTRATE 0 1\n"
                                                "LAYER 194 0 0.66\nREPEAT 1\nMEASURED " +
                                                    kRealScan.toUtf8() +
                                                    "\nFIT LAYER 1 Y 0.5 0.8\nFIT LAYER 1 N "
                                                    "150 240\nFIT OFFSET -0.02 0.02\n"
                                                    "FIT LAYER 1 X 0 0.05\n");
        const QString fitted = dir_.filePath("seeds-fitted.txt");
        auto fitWith = [&](const char* seed) {
            const Run r = run({"--threads", "2", "--fit", "--seed", seed, file});
            QByteArray text = readAll(fitted);
            QList<QByteArray> lines = text.split('\n');
            QByteArray kept;
            for (const QByteArray& l : lines)
                if (!l.startsWith("# fit time: "))
                    kept += l + '\n';
            return r.status == 0 ? kept : QByteArray();
        };
        const QByteArray a = fitWith("3"), b = fitWith("3"), c = fitWith("4");
        QVERIFY(!a.isEmpty());
        QCOMPARE(a, b);
        auto path = [](const QByteArray& t) {
            return QRegularExpression("# evaluations: \\d+\n# generations: \\d+")
                .match(QString::fromUtf8(t))
                .captured(0);
        };
        QVERIFY(!path(a).isEmpty());
        QVERIFY2(path(a) != path(c), qPrintable(path(a)));
    }

    // A result whose name is an input of the run is refused before anything is written: the
    // input stays byte for byte, and the line names the result and the input.
    void clashingNames_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("input");       // the input a result would replace
        QTest::addColumn<QStringList>("created"); // the results still written
        QTest::newRow("scan named NAME-meas (MEASURED)")
            << QStringList{"x.txt"} << "x-meas.txt" << QStringList{};
        QTest::newRow("scan named NAME-dif (--measured)")
            << QStringList{"--measured", "y-dif.txt", "y.txt"} << "y-dif.txt" << QStringList{};
        QTest::newRow("w.txt w-cmp.txt") << QStringList{"w.txt", "w-cmp.txt"} << "w-cmp.txt"
                                         << QStringList{"w-cmp-cmp.txt", "w-cmp-dif.txt"};
        QTest::newRow("second scan named like the first one's NAME-meas")
            << QStringList{"v.txt"} << "v-meas.txt" << QStringList{};
        QTest::newRow("first scan named like the second one's NAME-meas-002")
            << QStringList{"u.txt"} << "u-meas-002.txt" << QStringList{};
        QTest::newRow("scan named NAME-plot.png")
            << QStringList{"--png", "--plot-size", "80x60", "--measured", "z-plot.png", "z.txt"}
            << "z-plot.png" << QStringList{};
    }

    void clashingNames() {
        QFETCH(QStringList, args);
        QFETCH(QString, input);
        QFETCH(QStringList, created);
        QTemporaryDir dir;
        const QByteArray scan = "30 10\n30.01 20\n30.02 15\n";
        const QByteArray structure = "SUBSTRATE 0 1\nLAYER 5 0 1\n";
        xrdtest::writeTestFile(dir, "x.txt", structure + "MEASURED x-meas.txt\n");
        xrdtest::writeTestFile(
            dir, "v.txt", structure + "MEASURED y-dif.txt\nMEASURED v-meas.txt REFLECTION 2\n");
        xrdtest::writeTestFile(
            dir, "u.txt", structure + "MEASURED u-meas-002.txt\nMEASURED y-dif.txt REFLECTION 2\n");
        for (const char* name : {"y.txt", "z.txt", "w.txt", "w-cmp.txt"})
            xrdtest::writeTestFile(dir, name, structure);
        for (const char* name :
             {"x-meas.txt", "y-dif.txt", "z-plot.png", "v-meas.txt", "u-meas-002.txt"})
            xrdtest::writeTestFile(dir, name, scan);
        const QByteArray before = readAll(dir.filePath(input));
        const auto files = [&dir] {
            return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        };
        QStringList expected = files() + created;
        expected.sort();
        for (QString& a : args)
            if (a.endsWith(".txt") || a.endsWith(".png"))
                a = dir.filePath(a);
        const Run r = run(args);
        QCOMPARE(r.status, 1);
        QCOMPARE(readAll(dir.filePath(input)), before);
        QVERIFY2(r.out.contains(QString("Can't write [%1]: it is [").arg(dir.filePath(input))),
                 qPrintable(r.out));
        QVERIFY(!r.out.contains(QString("Wrote [%1]").arg(dir.filePath(input))));
        // A refused structure writes none of its results; the others are computed.
        QCOMPARE(files(), expected);
    }

    // Two structure files of one name into one output folder: the second is refused, the
    // first's results stay as a run of it alone writes them.
    void sameNameIntoOneFolder() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("a") && QDir(dir.path()).mkpath("b"));
        const QString a = xrdtest::writeTestFile(dir, "a/s.txt", "SUBSTRATE 0 1\nLAYER 5 0 1\n");
        const QString b = xrdtest::writeTestFile(dir, "b/s.txt", "SUBSTRATE 0 1\nLAYER 9 1 1\n");
        QCOMPARE(run({"-o", dir.filePath("alone"), a}).status, 0);
        const Run r = run({"-o", dir.filePath("out"), a, b});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.out.contains(QString("Can't write [%1]: it holds the results of [%2]")
                                    .arg(dir.filePath("out/s-cmp.txt"), a)),
                 qPrintable(r.out));
        QVERIFY(r.out.contains(QString("[%1] was not computed.").arg(b)));
        for (const char* name : {"s-cmp.txt", "s-dif.txt"})
            QCOMPARE(readAll(QDir(dir.filePath("out")).filePath(name)),
                     readAll(QDir(dir.filePath("alone")).filePath(name)));
    }

    // A result path that is a symbolic link, existing or dangling: the run is refused, the
    // link and its target stay as they were, nothing is created where it points.
    void symbolicLinks_data() {
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("dangling");
        for (const char* result : {"l-cmp.txt", "l-dif.txt", "l-meas.txt", "l-plot.png"}) {
            QTest::addRow("%s, existing", result) << result << false;
            QTest::addRow("%s, dangling", result) << result << true;
        }
    }

    void symbolicLinks() {
        QFETCH(QString, result);
        QFETCH(bool, dangling);
        QTemporaryDir dir;
        const QString s =
            xrdtest::writeTestFile(dir, "l.txt", "SUBSTRATE 0 1\nLAYER 5 0 1\nMEASURED scan.txt\n");
        xrdtest::writeTestFile(dir, "scan.txt", "30 10\n30.01 20\n30.02 15\n");
        const QString victim = dir.filePath("elsewhere/victim");
        QVERIFY(QDir(dir.path()).mkpath("elsewhere"));
        if (!dangling)
            xrdtest::writeTestFile(dir, "elsewhere/victim", "precious\n");
        QVERIFY(QFile::link(victim, dir.filePath(result)));
        const Run r = run({"--png", "--plot-size", "80x60", s});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.out.contains(
                     QString("Can't write [%1]: it is a symbolic link").arg(dir.filePath(result))),
                 qPrintable(r.out));
        QVERIFY(!r.out.contains("Wrote ["));
        QCOMPARE(QFileInfo(dir.filePath(result)).symLinkTarget(), victim);
        QCOMPARE(readAll(victim), dangling ? QByteArray() : QByteArray("precious\n"));
        QCOMPARE(QDir(dir.filePath("elsewhere")).entryList(QDir::Files | QDir::Hidden),
                 dangling ? QStringList() : QStringList{"victim"});
    }

    // A write that fails (past a 4 kB file-size limit, as on a full disk): the old file
    // stays, the line says "Can't write", never "Wrote", and the status is 1.
    void failedWrites_data() {
        QTest::addColumn<QString>("result");
        QTest::newRow("curve file") << "f-dif.txt";
        QTest::newRow("plot image") << "f-plot.png";
    }

    void failedWrites() {
        QFETCH(QString, result);
        QTemporaryDir dir;
        const QString s = xrdtest::writeTestFile(dir, "f.txt", "SUBSTRATE 0 1\nLAYER 5 0 1\n");
        const QString path = xrdtest::writeTestFile(dir, result, "old\n");
        QProcess p;
        p.start("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 8 && exec \"$0\" --png \"$1\"",
                            QStringLiteral(XRD_BATCH_TOOL), s});
        QVERIFY(p.waitForFinished(60000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(out.contains(QString("Can't write [%1].").arg(path)), qPrintable(out));
        QVERIFY(!out.contains(QString("Wrote [%1]").arg(path)));
        QCOMPARE(readAll(path), QByteArray("old\n"));
        QCOMPARE(QDir(dir.path()).entryList({"*.part"}, QDir::Files | QDir::Hidden), QStringList());
    }

    // The same on a real full disk: a small tmpfs in a private mount namespace, filled to a
    // few kB before the run.
    void fullDisk_data() { failedWrites_data(); }

    void fullDisk() {
        QFETCH(QString, result);
        if (QProcess::execute("unshare", {"-rm", "true"}) != 0)
            QSKIP("this machine allows no private mount namespace for a small tmpfs");
        QTemporaryDir dir;
        const char* script = R"sh(d=$1; tool=$2; result=$3
mount -t tmpfs -o size=256k none "$d" || exit 3
printf 'SUBSTRATE 0 1\nLAYER 5 0 1\n' > "$d/f.txt"
printf 'old\n' > "$d/$result"
dd if=/dev/zero of="$d/filler" bs=1k count=1024 2>/dev/null
truncate -s -6K "$d/filler"
"$tool" --png "$d/f.txt"
echo "STATUS $?"
echo "KEPT $(cat "$d/$result")"
ls -a "$d" | grep -c '\.part$' | sed 's/^/PARTS /')sh";
        QProcess p;
        p.start("unshare", {"-rm", "/bin/sh", "-c", script, "sh", dir.path(),
                            QStringLiteral(XRD_BATCH_TOOL), result});
        QVERIFY(p.waitForFinished(60000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString path = QDir(dir.path()).filePath(result);
        QVERIFY2(out.contains(QString("Can't write [%1].").arg(path)), qPrintable(out));
        QVERIFY2(!out.contains(QString("Wrote [%1]").arg(path)), qPrintable(out));
        QVERIFY2(out.contains("STATUS 1\n"), qPrintable(out));
        QVERIFY2(out.contains("KEPT old\n"), qPrintable(out));
        QVERIFY2(out.contains("PARTS 0\n"), qPrintable(out));
    }

    // A lenient line is noted in the output; with --strict it stops that file alone.
    // A scan's own wavelength against the structure's: within 0.1 % it is compared (1.5406
    // against the scan's 1.54056); further off the comparison and the fit are refused with one
    // line naming both; a structure without a WAVELENGTH line is computed at 1 Å, which the
    // scan (Cu K-alpha-1) refuses, with a note that the line is missing.
    void wavelengths_data() {
        QTest::addColumn<QByteArray>("wavelengthLine");
        QTest::addColumn<bool>("fit");
        QTest::addColumn<QString>("expected"); // a line the output holds
        QTest::addColumn<int>("status");
        QTest::newRow("within 0.1 %")
            << QByteArray("WAVELENGTH 1.5406\n") << false << "Agreement with [" << 0;
        for (bool fit : {false, true}) {
            QTest::addRow("1.5 Å%s", fit ? ", fit" : "")
                << QByteArray("WAVELENGTH 1.5\n") << fit
                << "the scan's wavelength 1.54056 Å differs from the structure's 1.5 Å by more "
                   "than 0.1 %."
                << 1;
            QTest::addRow("no WAVELENGTH%s", fit ? ", fit" : "")
                << QByteArray() << fit << "the structure's 1 Å by more than 0.1 %." << 1;
        }
    }
    void wavelengths() {
        QFETCH(QByteArray, wavelengthLine);
        QFETCH(bool, fit);
        QFETCH(QString, expected);
        QFETCH(int, status);
        QTemporaryDir out;
        const QString file = write(
            "wl.txt", wavelengthLine + "SUBSTRATE 0 1\nLAYER 194 0 0.66\nREPEAT 1\nMEASURED " +
                          kRealScan.toUtf8() + "\nFIT LAYER 1 Y 0.5 0.8\n");
        const Run r = run(QStringList{"--threads", "1", "-o", out.path()} +
                          (fit ? QStringList{"--fit"} : QStringList()) + QStringList{file});
        QVERIFY2(r.out.contains(expected), qPrintable(r.out));
        QCOMPARE(r.status, status);
        QCOMPARE(r.out.contains("has no WAVELENGTH line"), wavelengthLine.isEmpty() && !fit);
        QVERIFY(!QFile::exists(QDir(out.path()).filePath("wl-fitted.txt")));
    }

    // A fit into another folder: the fitted file's relative MEASURED path is rewritten to name
    // the scan from there, and a report of the fitted file made later takes the fit from its
    // header (values, uncertainties, seed, agreement), not "No fit was run".
    void fittedFileElsewhere() {
        QTemporaryDir source, out;
        QVERIFY(QFile::copy(kRealScan, QDir(source.path()).filePath("scan.x00")));
        const QString file = QDir(source.path()).filePath("moved.txt");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 194 0 0.66\nREPEAT 1\nMEASURED scan.x00\n"
                "FIT LAYER 1 Y 0.5 0.8\nFIT OFFSET -0.02 0.02\nFITOPTIONS SEED 5\n");
        f.close();
        Run r = run({"--threads", "1", "--fit", "-o", out.path(), file});
        QCOMPARE(r.status, 0);
        const QString fitted = QDir(out.path()).filePath("moved-fitted.txt");
        const QByteArray text = readAll(fitted);
        const QString relative =
            QDir(out.path()).relativeFilePath(QDir(source.path()).filePath("scan.x00"));
        QVERIFY2(text.contains("MEASURED " + relative.toUtf8() + "\n"), text.constData());
        const QRegularExpressionMatch y =
            QRegularExpression("# fitted LAYER 1 Y: (\\S+) \u00b1 (\\S+)")
                .match(QString::fromUtf8(text));
        QVERIFY(y.hasMatch());
        const QString report = QDir(out.path()).filePath("later.html");
        QDir::setCurrent(QDir::tempPath());
        r = run({"--threads", "1", "-o", out.path(), "--report", report, fitted});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains("Agreement with [" + QDir(source.path()).filePath("scan.x00")),
                 qPrintable(r.out));
        const QString html = QString::fromUtf8(readAll(report));
        QVERIFY(!html.contains("No fit was run"));
        QVERIFY2(html.contains("Seed 5") && html.contains("LAYER 1 Y"), qPrintable(html));
    }

    void strict_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("strict");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("note");

        const QByteArray misspelled = "SUBSTRATE 0 1\nLAYER 30 0.2 1\nREPAET 3\n";
        QTest::newRow("misspelled keyword") << misspelled << false << 0 << "line 3: ";
        QTest::newRow("misspelled keyword, strict") << misspelled << true << 1 << "line 3: ";
        QTest::newRow("thickness in nm, strict")
            << QByteArray("SUBSTRATE 0 1\nLAYER 7.4nm 0.2 1\n") << true << 1 << "line 2: ";
        QTest::newRow("malformed MODEL, strict")
            << QByteArray("SUBSTRATE 0 1\nLAYER 30 0.2 1\nMODEL dinamical\n") << true << 1
            << "Ignored [";
        QTest::newRow("correct file, strict")
            << QByteArray("WAVELENGTH 1.5406\nSUBSTRATE 0 1\nLAYER 30 0.2 1\nREPEAT 2\n") << true
            << 0 << QString();
        QTest::newRow("no WAVELENGTH, strict")
            << QByteArray("SUBSTRATE 0 1\nLAYER 30 0.2 1\nREPEAT 2\n") << true << 1 << "Refused [";
    }

    void strict() {
        QFETCH(QByteArray, content);
        QFETCH(bool, strict);
        QFETCH(int, status);
        QFETCH(QString, note);
        QTemporaryDir out;
        const QString s = write("st.txt", content);
        const QString good =
            write("st-good.txt", "WAVELENGTH 1.5406\nSUBSTRATE 0 1\nLAYER 5 0 1\n");
        QStringList args{"-o", out.path(), s, good};
        if (strict)
            args.prepend("--strict");
        const Run r = run(args);
        QCOMPARE(r.status, status);
        QVERIFY2(note.isEmpty() ? !r.out.contains("Note [")
                                : r.out.contains(QString("Note [%1] %2").arg(s, note)) ||
                                      r.out.contains(note + s),
                 qPrintable(r.out));
        // A refused file leaves no result file; the other file is computed all the same.
        QCOMPARE(QFile::exists(QDir(out.path()).filePath("st-dif.txt")), status == 0);
        QVERIFY(QFile::exists(QDir(out.path()).filePath("st-good-dif.txt")));
        QCOMPARE(r.out.contains(QString("Refused [%1]").arg(s)), status != 0);
    }

    // --import takes the scan of --measured as a MEASURED line's choices would: the second
    // scan of the RAS sample (2theta 66 to 66.04 in three points) and the line that says so.
    void importChoices() {
        const QString scan = QStringLiteral(XRD_TEST_DATA_DIR "/scans/two-scans.ras");
        const QString s = write("imp.txt", "WAVELENGTH 1.5406\nSUBSTRATE 0 1\nLAYER 5 0 1\n");
        const Run r = run({"--measured", scan, "--import", "2theta  SCAN 2", s});
        QVERIFY2(r.out.contains(QString::fromUtf8("Took scan 2 of 2 from [%1], 2theta axis, "
                                                  "66.0000–66.0400°, 3 points.")
                                    .arg(QFileInfo(scan).absoluteFilePath())),
                 qPrintable(r.out));
        QVERIFY2(r.out.contains("3 points from 33° to 33.02° of theta"), qPrintable(r.out));
        QCOMPARE(r.status, 0);
    }

    void usage_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("no file") << QStringList() << 2;
        QTest::newRow("unknown option") << QStringList{"--frobnicate", "x.txt"} << 2;
        QTest::newRow("output folder impossible")
            << QStringList{"--output-dir", "/dev/null/folder", "x.txt"} << 2;
        QTest::newRow("bad plot size") << QStringList{"--png", "--plot-size", "800", "x.txt"} << 2;
        QTest::newRow("zero plot size")
            << QStringList{"--png", "--plot-size", "0x600", "x.txt"} << 2;
        QTest::newRow("--import without --measured")
            << QStringList{"--import", "SCAN 2", "x.txt"} << 2;
        QTest::newRow("--import of no choice")
            << QStringList{"--measured", "s.ras", "--import", "SCAN 0", "x.txt"} << 2;
        QTest::newRow("--import of a reversed window")
            << QStringList{"--measured", "s.ras", "--import", "WINDOW 35 30", "x.txt"} << 2;
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("version") << QStringList{"--version"} << 0;
    }

    void usage() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        const Run r = run(args);
        QCOMPARE(r.status, status);
        if (status == 2)
            QVERIFY(!r.err.isEmpty());
        else
            QVERIFY(r.out.contains("xrdsim-batch"));
        if (args == QStringList{"--help"})
            QVERIFY(r.out.contains("--strict"));
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
