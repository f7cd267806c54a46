#include "measured/readers.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#include "tests/common/exact.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using Values = QVector<double>;

namespace {

const QString dataDir = QStringLiteral(XRD_TEST_DATA_DIR "/scans/");

// Angles come from sums such as 63 + 0.25*i and are compared to 13 digits.
void compareValues(const Values& actual, const Values& expected, const char* what) {
    QVERIFY2(actual.size() == expected.size(),
             qPrintable(QStringLiteral("%1: %2 values, expected %3")
                            .arg(what)
                            .arg(actual.size())
                            .arg(expected.size())));
    for (int i = 0; i < actual.size(); ++i)
        XRD_COMPARE_CLOSE(actual[i], expected[i], 1e-13);
}

// A minimal XRDML document around one scan's dataPoints.
QByteArray xrdml(const QByteArray& dataPoints, const QByteArray& status = "Completed") {
    return "<?xml version=\"1.0\"?>\n<xrdMeasurements "
           "xmlns=\"http://www.xrdml.com/XRDMeasurement/1.5\"><xrdMeasurement><scan status=\"" +
           status + "\"><dataPoints>" + dataPoints +
           "</dataPoints></scan></xrdMeasurement></xrdMeasurements>\n";
}

const QByteArray moving2Theta =
    "<positions axis=\"2Theta\"><startPosition>60</startPosition><endPosition>61</endPosition>"
    "</positions>";

QByteArray x00(const QByteArray& header, const QByteArray& data) {
    return "HR-XRDScan\r\nWavelength, 1.54056\r\nFirstAngle, 32\r\nStepWidth, 0.01\r\n" + header +
           "ScanData\r\n" + data;
}

QByteArray ras(const QByteArray& header, const QByteArray& data) {
    return "*RAS_DATA_START\n*RAS_HEADER_START\n*MEAS_SCAN_AXIS_X \"TwoThetaOmega\"\n" + header +
           "*RAS_HEADER_END\n*RAS_INT_START\n" + data;
}

// `text` (UTF-8) as UTF-16 with its byte-order mark, little- or big-endian, as Qt encodes it.
QByteArray utf16(const QByteArray& text, bool little) {
    const QString s = QString::fromUtf8(text);
    QByteArray out = little ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
    for (const QChar c : s) {
        const char lo = char(c.unicode() & 0xFF);
        const char hi = char(c.unicode() >> 8);
        out.append(little ? lo : hi).append(little ? hi : lo);
    }
    return out;
}

} // namespace

// The scan readers against hand-made samples of every format, whose expected numbers are
// worked by hand in the comments (the XRDML ones also agree with xrayutilities 1.7.4, which
// reads the counts file once its per-point counting times are made one common time),
// against a real .x00 file, and against broken input, which must end in one clear log line.
class TestScanReaders : public QObject {
    Q_OBJECT

private slots:
    void samples_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("twoTheta");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("axis");
        QTest::addColumn<Values>("theta");
        QTest::addColumn<Values>("intensity");
        QTest::addColumn<Values>("countingTime");
        QTest::addColumn<double>("wavelength");
        QTest::addColumn<QStringList>("notes");
        const double nan = std::nan("");
        // 2theta 63..64 in 5 points, halved; 10 20 3000 5000 40 counts in 2 s. The attenuator
        // (x100) at points 3 and 4 is already in these intensities.
        const Values xrdmlTheta{31.5, 31.625, 31.75, 31.875, 32.0};
        const Values xrdmlCps{5, 10, 1500, 2500, 20};
        QTest::newRow("XRDML intensities, BOM")
            << "xrdml-intensities.xrdml" << false << "XRDML"
            << "2theta/2" << xrdmlTheta << xrdmlCps << Values(5, 2.0) << 1.540598 << QStringList();
        // Raw counts 10 20 30 50 40 times the factors 1 1 100 100 1, over 2 s per point.
        QTest::newRow("XRDML counts") << "xrdml-counts.xrdml" << false << "XRDML"
                                      << "2theta/2" << xrdmlTheta << xrdmlCps << Values(5, 2.0)
                                      << 1.540598 << QStringList{"scan 2 of 3 used"};
        // Rocking curve: 2theta fixed, omega listed; 4 8 6 2 counts in 0.5 s.
        QTest::newRow("XRDML listPositions")
            << "xrdml-list.xrdml" << false << "XRDML"
            << "omega" << Values{33.0, 33.01, 33.03, 33.06} << Values{8, 16, 12, 4}
            << Values(4, 0.5) << 1.540598 << QStringList();
        // 2theta from 63.2 in steps of 0.01, halved; cps as written, -0.5 clipped to 0. The
        // fifth intensity lies beyond NrOfData 4: read all the same, at the next step.
        QTest::newRow(".x00 2Theta/Omega")
            << "sample-2theta.x00" << false << "X00"
            << "2theta/2" << Values{31.6, 31.605, 31.61, 31.615, 31.62}
            << Values{12.5, 0, 100, 7.25, 999} << Values(5, 1.5) << 1.54056
            << QStringList{"holds 5 intensities, more than the 4 its NrOfData says"};
        // 2theta 70 down in steps of 0.02: theta 35 .. 34.96, sorted ascending; counts
        // 100 200 400 300 100 over 2 s, reversed with them.
        QTest::newRow("UXD two ranges, negative step")
            << "two-ranges.uxd" << false << "UXD"
            << "2theta/2" << Values{34.96, 34.97, 34.98, 34.99, 35.0}
            << Values{50, 150, 200, 100, 50} << Values(5, 2.0) << 1.540598
            << QStringList{"range 1 of 2 used", "sorted by angle"};
        // _DRIVE THETA: the first column is omega despite the marker's name; counts over 0.5 s.
        QTest::newRow("UXD rocking pairs")
            << "rocking-pairs.uxd" << false << "UXD"
            << "omega" << Values{16.5, 16.51, 16.52} << Values{20, 60, 40} << Values(3, 0.5)
            << 1.540598 << QStringList();
        QTest::newRow("text decimal comma")
            << "decimal-comma.txt" << false << "text"
            << "omega" << Values{30, 30.5, 31} << Values{100.5, 200, 0} << Values() << nan
            << QStringList();
        QTest::newRow("text 2theta") << "two-theta.csv" << true << "text"
                                     << "2theta/2" << Values{30, 30.25, 30.5} << Values{10, 20, 30}
                                     << Values() << nan << QStringList();
        QTest::newRow("text omega") << "two-theta.csv" << false << "text"
                                    << "omega" << Values{60, 60.5, 61} << Values{10, 20, 30}
                                    << Values() << nan << QStringList();
    }

    void samples() {
        QFETCH(QString, file);
        QFETCH(bool, twoTheta);
        ScanReadOptions options;
        options.twoTheta = twoTheta;
        const ScanReadResult r = readScanFile(dataDir + file, options);
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(r.recognised && r.error.isEmpty());
        QCOMPARE(r.scan.fileName, dataDir + file);
        QTEST(r.scan.format, "format");
        QTEST(r.scan.axis, "axis");
        QFETCH(Values, theta);
        QFETCH(Values, intensity);
        QFETCH(Values, countingTime);
        compareValues(r.scan.theta, theta, "theta");
        compareValues(r.scan.intensity, intensity, "intensity");
        compareValues(r.scan.countingTime, countingTime, "countingTime");
        QFETCH(double, wavelength);
        XRD_COMPARE_EXACT(r.scan.wavelength, wavelength);
        QFETCH(QStringList, notes);
        QCOMPARE(r.scan.notes.size(), notes.size());
        for (int i = 0; i < notes.size(); ++i) {
            QVERIFY2(
                r.scan.notes[i].startsWith(QStringLiteral("Scan [%1]: ").arg(dataDir + file)) &&
                    r.scan.notes[i].contains(notes[i]),
                qPrintable(r.scan.notes[i]));
        }
    }

    // The same measurement written as corrected intensities and as raw counts with factors:
    // the attenuator is applied once, so the two agree to the last bit.
    void countsAndIntensitiesAgree() {
        const ScanReadResult a = readScanFile(dataDir + "xrdml-intensities.xrdml");
        const ScanReadResult b = readScanFile(dataDir + "xrdml-counts.xrdml");
        QVERIFY(a.ok && b.ok);
        QCOMPARE(a.scan.intensity, b.scan.intensity);
        QCOMPARE(a.scan.theta, b.scan.theta);
    }

    void rasScanChoice_data() {
        QTest::addColumn<Values>("preferred");
        QTest::addColumn<Values>("theta");
        QTest::addColumn<Values>("intensity");
        QTest::addColumn<QString>("note");
        // Scan 1: 2theta 60..60.02, counts 6 12 3 (x10) at 0.01° per 1°/min = 0.6 s a point.
        const Values theta1{30, 30.005, 30.01};
        const Values cps1{10, 20, 50};
        // Scan 2: 2theta 66..66.04 in cps, 100 200 300 times the factors 1 2 1.
        const Values theta2{33, 33.01, 33.02};
        const Values cps2{100, 400, 300};
        QTest::newRow("no preference")
            << Values() << theta1 << cps1 << "scan 1 of 2 used; the others were ignored";
        QTest::newRow("first preference in scan 2")
            << Values{33.01, 30.005} << theta2 << cps2
            << QString::fromUtf8("scan 2 of 2 used, whose range holds theta = 33.01°");
        QTest::newRow("second preference in scan 1")
            << Values{50, 30.005} << theta1 << cps1
            << QString::fromUtf8("scan 1 of 2 used, whose range holds theta = 30.005°");
        QTest::newRow("no scan covers")
            << Values{50} << theta1 << cps1
            << "scan 1 of 2 used: no scan's range holds one of the expected angles";
    }

    void rasScanChoice() {
        QFETCH(Values, preferred);
        ScanReadOptions options;
        options.preferredThetas = preferred;
        const ScanReadResult r = readScanFile(dataDir + "two-scans.ras", options);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.scan.format, QStringLiteral("RAS"));
        QCOMPARE(r.scan.axis, QStringLiteral("2theta/2"));
        QFETCH(Values, theta);
        QFETCH(Values, intensity);
        compareValues(r.scan.theta, theta, "theta");
        compareValues(r.scan.intensity, intensity, "intensity");
        compareValues(r.scan.countingTime, Values(3, 0.6), "countingTime");
        XRD_COMPARE_EXACT(r.scan.wavelength, 1.540593);
        QCOMPARE(r.scan.notes.size(), 1);
        QTEST(r.scan.notes.first().section(QStringLiteral(": "), 1).chopped(1), "note");
    }

    // Import choices on the sample files (scan values worked out by hand from the files) and
    // on a real scan: what is taken, the line that says so, or why the choices leave nothing.
    void importChoices_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("axis"); // ScanReadOptions::Axis
        QTest::addColumn<int>("scan");
        QTest::addColumn<Values>("window"); // empty: none
        QTest::addColumn<Values>("theta");  // empty: only the count below is checked
        QTest::addColumn<Values>("intensity");
        QTest::addColumn<int>("points");
        QTest::addColumn<QString>("took"); // the line after "[file], ", or the failure's end
        const int any = ScanReadOptions::AnyAxis, tth = ScanReadOptions::TwoTheta,
                  om = ScanReadOptions::Omega;
        const QString real = QStringLiteral(XRD_TEST_DATA_DIR "/measured/gaasp-on-gaas-004.x00");
        // xrdml-counts: three scans; scan 1 aborted (7 9 counts in 2 s at 2theta 63, 64);
        // scans 2 and 3 at 2theta 63..64 and omega 31.4..31.9 in five points.
        QTest::newRow("xrdml aborted scan 1, asked for")
            << dataDir + "xrdml-counts.xrdml" << any << 1 << Values() << Values{31.5, 32}
            << Values{3.5, 4.5} << 2
            << QString::fromUtf8("2theta axis, 63.0000–64.0000°, 2 points.");
        QTest::newRow("xrdml scan 3")
            << dataDir + "xrdml-counts.xrdml" << any << 3 << Values()
            << Values{31.5, 31.625, 31.75, 31.875, 32} << Values{1, 1, 1, 1, 1} << 5
            << QString::fromUtf8("2theta axis, 63.0000–64.0000°, 5 points.");
        QTest::newRow("xrdml scan 2 on omega, counts times attenuation per second")
            << dataDir + "xrdml-counts.xrdml" << om << 2 << Values()
            << Values{31.4, 31.525, 31.65, 31.775, 31.9} << Values{5, 10, 1500, 2500, 20} << 5
            << QString::fromUtf8("omega axis, 31.4000–31.9000°, 5 points.");
        QTest::newRow("xrdml window on 2theta, the file's own scan choice")
            << dataDir + "xrdml-counts.xrdml" << tth << 0 << Values{63.2, 63.8}
            << Values{31.625, 31.75, 31.875} << Values{10, 1500, 2500} << 3
            << QString::fromUtf8("2theta axis, 63.2000–63.8000°, 3 points.");
        QTest::newRow("xrdml scan 4 of 3")
            << dataDir + "xrdml-counts.xrdml" << any << 4 << Values() << Values() << Values() << 0
            << "scan 4 was asked for, but the file holds 3.";
        QTest::newRow("xrdml window of one point")
            << dataDir + "xrdml-counts.xrdml" << any << 0 << Values{63.4, 63.6} << Values()
            << Values() << 0
            << QString::fromUtf8("the window 63.4–63.6° of 2theta holds fewer than two points at "
                                 "different angles.");
        QTest::newRow("ras scan 2 of 2 by number (cps)")
            << dataDir + "two-scans.ras" << any << 2 << Values() << Values{33, 33.01, 33.02}
            << Values{100, 400, 300} << 3
            << QString::fromUtf8("2theta axis, 66.0000–66.0400°, 3 points.");
        QTest::newRow("ras scan 1, counts over 0.6 s, window on 2theta")
            << dataDir + "two-scans.ras" << tth << 1 << Values{59.995, 60.015} << Values{30, 30.005}
            << Values{10, 20} << 2 << QString::fromUtf8("2theta axis, 59.9950–60.0150°, 2 points.");
        QTest::newRow("ras: no scan on omega")
            << dataDir + "two-scans.ras" << om << 0 << Values() << Values() << Values() << 0
            << "no scan moves omega.";
        QTest::newRow("ras scan 3 of 2")
            << dataDir + "two-scans.ras" << any << 3 << Values() << Values() << Values() << 0
            << "scan 3 was asked for, but the file holds 2.";
        QTest::newRow("text has one scan")
            << dataDir + "two-theta.csv" << any << 2 << Values() << Values() << Values() << 0
            << "scan 2 was asked for, but the file holds 1.";
        QTest::newRow("text column taken as omega")
            << dataDir + "two-theta.csv" << om << 0 << Values{60.25, 61} << Values{60.5, 61}
            << Values{20, 30} << 2 << QString::fromUtf8("omega axis, 60.2500–61.0000°, 2 points.");
        // The real GaAsP scan: omega from 32.50125 in steps of 0.0025; 32.8 to 33.2 holds
        // points 120 to 279.
        QTest::newRow("real x00, omega window")
            << real << om << 0 << Values{32.8, 33.2} << Values() << Values() << 160
            << QString::fromUtf8("omega axis, 32.8000–33.2000°, 160 points.");
        QTest::newRow("real x00 is no 2theta scan")
            << real << tth << 0 << Values() << Values() << Values() << 0
            << "its scan moves omega, not 2theta.";
    }

    void importChoices() {
        QFETCH(QString, file);
        QFETCH(int, axis);
        QFETCH(int, scan);
        QFETCH(Values, window);
        QFETCH(Values, theta);
        QFETCH(Values, intensity);
        QFETCH(int, points);
        QFETCH(QString, took);
        ScanReadOptions options;
        options.axis = ScanReadOptions::Axis(axis);
        options.scanNumber = scan;
        options.windowGiven = !window.isEmpty();
        options.from = window.value(0);
        options.to = window.value(1);
        const ScanReadResult r = readScanFile(file, options);
        if (points == 0) {
            QVERIFY(!r.ok);
            QVERIFY2(r.error.endsWith(took), qPrintable(r.error));
            QVERIFY(r.error.startsWith("Can't read scan [" + file + "]: "));
            return;
        }
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.scan.theta.size(), points);
        if (!theta.isEmpty()) {
            compareValues(r.scan.theta, theta, "theta");
            compareValues(r.scan.intensity, intensity, "intensity");
        }
        QVERIFY(!r.scan.notes.isEmpty());
        const QString first = r.scan.notes.first();
        QVERIFY2(first.startsWith(
                     QStringLiteral("Took scan %1 of ").arg(scan > 0 ? scan : r.scan.scanNumber)),
                 qPrintable(first));
        QVERIFY2(first.endsWith("from [" + file + "], " + took), qPrintable(first));
        // The choice of a scan by number replaces the note on the reader's own choice.
        if (scan > 0)
            QCOMPARE(r.scan.notes.size(), 1);
    }

    // A real omega-2theta scan of GaAsP on GaAs (004): 879 points from omega 32.50125° in
    // steps of 0.0025°. Its strongest point, the substrate peak, must sit at the GaAs (004)
    // Bragg angle, asin(1.54056 / (2 * 5.65325 / 4)) = 33.0259° for the tabulated lattice
    // constant 5.65325 Å, within 0.01°: refraction shifts the peak by about 0.002°, the
    // instrument's offset is about 0.0025° and a step is 0.0025°.
    void realX00() {
        const QString path = QStringLiteral(XRD_TEST_DATA_DIR "/measured/gaasp-on-gaas-004.x00");
        QVERIFY2(QFile::exists(path), qPrintable(path + " is missing"));
        const ScanReadResult r = readScanFile(path);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.scan.format, QStringLiteral("X00"));
        QCOMPARE(r.scan.axis, QStringLiteral("omega"));
        QCOMPARE(r.scan.theta.size(), 879);
        XRD_COMPARE_CLOSE(r.scan.theta.first(), 32.50125, 1e-14);
        XRD_COMPARE_CLOSE(r.scan.theta.last(), 32.50125 + 878 * 0.0025, 1e-14);
        XRD_COMPARE_EXACT(r.scan.intensity[1], 0.6667);
        XRD_COMPARE_EXACT(r.scan.wavelength, 1.54056);
        QCOMPARE(r.scan.countingTime, Values(879, 3.0));
        const int peak = int(std::max_element(r.scan.intensity.cbegin(), r.scan.intensity.cend()) -
                             r.scan.intensity.cbegin());
        XRD_COMPARE_EXACT(r.scan.intensity[peak], 108572.0);
        const double bragg = std::asin(1.54056 / (2 * 5.65325 / 4)) * 180 / M_PI;
        QVERIFY2(std::fabs(r.scan.theta[peak] - bragg) < 0.01,
                 qPrintable(QString::number(r.scan.theta[peak] - bragg)));
    }

    // Text saved as UTF-16, and .x00 files whose data outrun NrOfData: every number read,
    // at the angles the header's first angle and step give it (FirstAngle 32, StepWidth 0.01,
    // omega), with a note where the header and the data disagree.
    void encodingsAndExtraData_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("format");
        QTest::addColumn<Values>("theta");
        QTest::addColumn<Values>("intensity");
        QTest::addColumn<QStringList>("notes");
        const QByteArray columns = "# omega cps\n30 100\n30.5 200\n31 0\n";
        const Values columnTheta{30, 30.5, 31};
        const Values columnCps{100, 200, 0};
        QTest::newRow("columns UTF-16LE")
            << utf16(columns, true) << "text" << columnTheta << columnCps << QStringList();
        QTest::newRow("columns UTF-16BE")
            << utf16(columns, false) << "text" << columnTheta << columnCps << QStringList();
        QTest::newRow("columns UTF-16, non-ASCII comments")
            << utf16("# Probe Nr. 7, 25 \xC2\xB0"
                     "C, \xE6\xB8\xAC\xE5\xAE\x9A \xF0\x9F\x94\xAC\n" +
                         columns,
                     true)
            << "text" << columnTheta << columnCps << QStringList();
        const QByteArray omega = "ScanAxis, Omega/2Theta\r\n";
        QTest::newRow(".x00 UTF-16LE")
            << utf16(x00("NrOfData, 3\r\n" + omega, "5\r\n7\r\n9\r\n"), true) << "X00"
            << Values{32, 32.01, 32.02} << Values{5, 7, 9} << QStringList();
        QTest::newRow(".x00 more data than NrOfData")
            << x00("NrOfData, 2\r\n" + omega, "5\r\n7\r\n9\r\n11\r\n") << "X00"
            << Values{32, 32.01, 32.02, 32.03} << Values{5, 7, 9, 11}
            << QStringList{"holds 4 intensities, more than the 2 its NrOfData says"};
        QTest::newRow(".x00 a trailer after the data")
            << x00("NrOfData, 2\r\n" + omega, "5\r\n7\r\n9\r\nEND\r\n") << "X00"
            << Values{32, 32.01, 32.02} << Values{5, 7, 9}
            << QStringList{"more than the 2", "line 11 ('END') and the lines after it"};
    }

    void encodingsAndExtraData() {
        QFETCH(QByteArray, bytes);
        const ScanReadResult r = readScanBytes(bytes, QStringLiteral("unicode.dat"));
        QVERIFY2(r.ok, qPrintable(r.error));
        QTEST(r.scan.format, "format");
        QFETCH(Values, theta);
        QFETCH(Values, intensity);
        compareValues(r.scan.theta, theta, "theta");
        compareValues(r.scan.intensity, intensity, "intensity");
        QFETCH(QStringList, notes);
        QCOMPARE(r.scan.notes.size(), notes.size());
        for (int i = 0; i < notes.size(); ++i)
            QVERIFY2(r.scan.notes[i].contains(notes[i]), qPrintable(r.scan.notes[i]));
    }

    // The real .x00 scan saved as UTF-16 reads exactly as the original.
    void realX00AsUtf16() {
        QFile f(QStringLiteral(XRD_TEST_DATA_DIR "/measured/gaasp-on-gaas-004.x00"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const ScanReadResult a = readScanBytes(bytes, QStringLiteral("a"));
        const ScanReadResult b = readScanBytes(utf16(bytes, false), QStringLiteral("b"));
        QVERIFY2(a.ok && b.ok, qPrintable(b.error));
        QCOMPARE(b.scan.theta.size(), 879);
        QCOMPARE(b.scan.theta, a.scan.theta);
        QCOMPARE(b.scan.intensity, a.scan.intensity);
    }

    void brokenBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("recognised");
        QTest::addColumn<QString>("reason");
        auto row = [](const char* name, const QByteArray& bytes, bool recognised,
                      const char* reason) {
            QTest::newRow(name) << bytes << recognised << QString::fromUtf8(reason);
        };
        row("empty", "  \r\n", false, "the file is empty");
        row("structure file", "SUBSTRATE 0 1\n  layer 100 0.5 1\n30 100\n31 200\n", false,
            "it is a structure file, not a scan");
        row("one row of numbers", "# omega cps\n30 100\n", false,
            "a scan needs at least two points");
        row("four columns", "30 1 2 3\n31 1 2 3\n", false, "no scan format known here");
        row("no positive intensity", "30 0\n31 0\n32 -1\n", true, "no intensity is positive");
        row("infinite intensity", "30 1\n31 inf\n", true,
            "the intensity of point 2 is not a finite number");
        row("overflowing intensity", "30 1\n31 1e999\n", true,
            "the intensity of point 2 is not a finite number");
        row("NaN angle", "nan 1\n31 2\n", true, "the angle of point 1 is not a finite number");
        row("one angle", "30 1\n30 2\n", true, "every point is at the same angle");
        row("absurd angle", "30 1\n1e300 2\n", true, "the angle of point 2 (1e+300°) is absurd");
        row("XRDML cut short", xrdml(moving2Theta).left(150), true,
            "the XML is broken or cut short");
        row("XRDML not XRDML", "<?xml version=\"1.0\"?><svg/>", false, "no scan format known here");
        row("XRDML positions and intensities differ",
            xrdml("<positions axis=\"Omega\"><listPositions>1 2 3</listPositions></positions>"
                  "<commonCountingTime>1</commonCountingTime><intensities>1 2 3 4</intensities>"),
            true, "3 positions of Omega but 4 intensities");
        row("XRDML attenuation factors and counts differ",
            xrdml(moving2Theta + "<commonCountingTime>1</commonCountingTime>"
                                 "<beamAttenuationFactors>1 1</beamAttenuationFactors>"
                                 "<counts>1 2 3</counts>"),
            true, "2 beam attenuation factors but 3 counts");
        row("XRDML no counting time", xrdml(moving2Theta + "<intensities>1 2 3</intensities>"),
            true, "the scan gives no counting time");
        row("XRDML nothing moves",
            xrdml("<positions axis=\"Omega\"><commonPosition>30</commonPosition></positions>"
                  "<commonCountingTime>1</commonCountingTime><intensities>1 2</intensities>"),
            true, "neither 2Theta nor Omega moves in the scan");
        row("XRDML aborted only",
            xrdml(moving2Theta + "<commonCountingTime>1</commonCountingTime><intensities>1 "
                                 "2</intensities>",
                  "Aborted"),
            true, "no scan is completed (the first is 'Aborted')");
        row("XRDML entity declarations",
            "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaa\">]><xrdMeasurements "
            "xmlns=\"http://www.xrdml.com/XRDMeasurement/1.0\"/>",
            true, "the XML holds a document type declaration");
        row(".x00 absurd NrOfData",
            x00("NrOfData, 99999999999\r\nScanAxis, Omega/2Theta\r\n", "1\r\n"), true,
            "NrOfData '99999999999' is no count of points");
        row(".x00 cut short", x00("NrOfData, 5\r\nScanAxis, Omega/2Theta\r\n", "1\r\n2\r\n3\r\n"),
            true, "the file ends after 3 of 5 intensities");
        row(".x00 NaN", x00("NrOfData, 2\r\nScanAxis, Omega/2Theta\r\n", "1\r\nnan\r\n"), true,
            "the intensity of point 2 is not a finite number");
        row(".x00 phi scan", x00("NrOfData, 2\r\nScanAxis, Phi\r\n", "1\r\n2\r\n"), true,
            "the scan axis 'Phi' is neither omega nor 2theta");
        row("UXD absurd _STEPCOUNT",
            "_DRIVE='COUPLED'\n_START=60\n_STEPSIZE=0.1\n_STEPCOUNT=1e12\n_CPS\n1 2\n", true,
            "_STEPCOUNT '1e12' is no count of points");
        row("UXD _STEPCOUNT and data differ",
            "_DRIVE='COUPLED'\n_START=60\n_STEPSIZE=0.1\n_STEPCOUNT=3\n_CPS\n1 2\n", true,
            "_STEPCOUNT says 3 points but 2 follow");
        row("UXD counts without _STEPTIME",
            "_DRIVE='COUPLED'\n_START=60\n_STEPSIZE=0.1\n_COUNTS\n1 2\n", true,
            "no positive _STEPTIME to turn counts into counts per second");
        row("UXD no data", "; header only\n_WL1=1.54\n_DRIVE='COUPLED'\n", true, "no data block");
        row("RAS cut short", ras("*MEAS_SCAN_UNIT_Y \"cps\"\n", "60 1 1\n60.1 2 1\n"), true,
            "scan 1 is cut short (no *RAS_INT_END)");
        row("RAS counts without speed",
            ras("*MEAS_SCAN_UNIT_Y \"counts\"\n*MEAS_SCAN_STEP \"0.01\"\n",
                "60 1 1\n60.1 2 1\n*RAS_INT_END\n"),
            true, "no scan step and speed to turn counts into counts per second");
        row("RAS bad line",
            ras("*MEAS_SCAN_UNIT_Y \"cps\"\n", "60 1 1\n60.1 two 1\n*RAS_INT_END\n"), true,
            "line 8 holds '60.1 two 1', not an angle");
    }

    void brokenBytes() {
        QFETCH(QByteArray, bytes);
        const ScanReadResult r = readScanBytes(bytes, QStringLiteral("dropped.dat"));
        QVERIFY(!r.ok);
        QTEST(r.recognised, "recognised");
        QFETCH(QString, reason);
        QVERIFY2(r.error.startsWith(QStringLiteral("Can't read scan [dropped.dat]: ")) &&
                     r.error.contains(reason) && !r.error.contains(QLatin1Char('\n')),
                 qPrintable(r.error));
    }

    // Paths that are no readable file, refused before anything is read: none may block or
    // load a large file into memory.
    void brokenFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing"
                                 << "the file does not exist";
        QTest::newRow("folder") << "folder"
                                << "it is a folder, not a file";
        QTest::newRow("device") << "device"
                                << "it is not a regular file";
#ifdef Q_OS_UNIX
        QTest::newRow("named pipe") << "fifo"
                                    << "it is not a regular file";
#endif
        QTest::newRow("129 MiB") << "huge"
                                 << "the file is larger than 128 MiB";
    }

    void brokenFiles() {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString path = dir.filePath(kind);
        if (kind == QLatin1String("folder")) {
            path = dir.path();
        } else if (kind == QLatin1String("device")) {
            path = QStringLiteral("/dev/zero");
        } else if (kind == QLatin1String("huge")) {
            QFile f(path); // sparse: no disk space, and never read
            QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(qint64(129) << 20));
#ifdef Q_OS_UNIX
        } else if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
        }
        const ScanReadResult r = readScanFile(path);
        QVERIFY(!r.ok && !r.recognised);
        QFETCH(QString, reason);
        QVERIFY2(r.error.startsWith(QStringLiteral("Can't read scan [%1]: %2").arg(path, reason)),
                 qPrintable(r.error));
    }
};

QTEST_GUILESS_MAIN(TestScanReaders)
#include "tst_scanreaders.moc"
