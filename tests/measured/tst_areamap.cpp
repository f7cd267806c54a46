#include "measured/areamap.h"

#include <QtTest>

// The area-scan readers on small hand-made files: what each reads (lines, points, both axes,
// counts per second) and, in one table, the one line with which each broken file is refused.
class TestAreaMap : public QObject {
    Q_OBJECT

    static QByteArray xrdml(const QByteArray& scans) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<xrdMeasurements xmlns=\"http://www.xrdml.com/XRDMeasurement/2.1\">"
               "<xrdMeasurement><usedWavelength><kAlpha1>1.54</kAlpha1></usedWavelength>" +
               scans + "</xrdMeasurement></xrdMeasurements>";
    }
    static QByteArray xrdmlScan(const char* status, const QByteArray& inside) {
        return QByteArray("<scan status=\"") + status + "\"><dataPoints>" + inside +
               "</dataPoints></scan>";
    }
    static QByteArray ras(const QByteArray& scans) {
        return "*RAS_DATA_START\n" + scans + "*RAS_DATA_END\n";
    }
    static QByteArray rasScan(const QByteArray& header, const QByteArray& points) {
        return "*RAS_HEADER_START\n" + header + "*RAS_HEADER_END\n*RAS_INT_START\n" + points +
               "*RAS_INT_END\n";
    }

private slots:
    void reads_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QVector<double>>("x");
        QTest::addColumn<QVector<double>>("z");
        QTest::addColumn<QVector<double>>("intensity");
        QTest::addColumn<QString>("summary");

        // Two 2theta-omega lines from start to end; counts over 2 s; a scan not completed
        // left out.
        const QByteArray coupled =
            "<positions axis=\"2Theta\"><startPosition>70</startPosition><endPosition>71"
            "</endPosition></positions><positions axis=\"Omega\"><startPosition>%1"
            "</startPosition><endPosition>%2</endPosition></positions>"
            "<commonCountingTime>2</commonCountingTime><counts>10 20 30</counts>";
        QTest::newRow("xrdml two lines")
            << xrdml(xrdmlScan("Completed",
                               QByteArray(coupled).replace("%1", "35").replace("%2", "35.5")) +
                     xrdmlScan("Aborted", QByteArray(coupled)) +
                     xrdmlScan("Completed",
                               QByteArray(coupled).replace("%1", "36").replace("%2", "36.5")))
            << "XRDML" << 2 << QVector<double>{35, 35.25, 35.5, 36, 36.25, 36.5}
            << QVector<double>{70, 70.5, 71, 70, 70.5, 71} << QVector<double>{5, 10, 15, 5, 10, 15}
            << "Read [f]: 2 lines of 3 points, ω 35.000–36.500°, 2θ 70.000–71.000°.";
        // An omega scan at a common 2theta, listed positions, intensities already per time.
        QTest::newRow("xrdml omega line, common 2theta")
            << xrdml(xrdmlScan("Completed", "<positions axis=\"2Theta\"><commonPosition>60"
                                            "</commonPosition></positions><positions "
                                            "axis=\"Omega\"><listPositions>29 30 31"
                                            "</listPositions></positions><commonCountingTime>4"
                                            "</commonCountingTime><intensities>4 8 12"
                                            "</intensities>"))
            << "XRDML" << 1 << QVector<double>{29, 30, 31} << QVector<double>{60, 60, 60}
            << QVector<double>{1, 2, 3}
            << "Read [f]: 1 line of 3 points, ω 29.000–31.000°, 2θ 60.000–60.000°.";
        // RAS: a coupled line (omega moves half the 2theta step from the Omega position), and
        // an omega line at the TwoTheta position; counts over step / speed minutes.
        const QByteArray head = "*MEAS_SCAN_UNIT_Y \"counts\"\n*MEAS_SCAN_STEP \"0.5\"\n"
                                "*MEAS_SCAN_SPEED \"15\"\n*MEAS_COND_AXIS_NAME-0 \"TwoTheta\"\n"
                                "*MEAS_COND_AXIS_POSITION-0 \"80\"\n*MEAS_COND_AXIS_NAME-1 "
                                "\"Omega\"\n*MEAS_COND_AXIS_POSITION-1 \"77\"\n";
        QTest::newRow("ras coupled and omega")
            << ras(rasScan(head + "*MEAS_SCAN_AXIS_X \"TwoThetaOmega\"\n*MEAS_SCAN_START \"80\"\n",
                           "80 4 1\n80.5 8 2\n") +
                   rasScan(head + "*MEAS_SCAN_AXIS_X \"Omega\"\n", "40 2\n40.5 6\n"))
            << "RAS" << 2 << QVector<double>{77, 77.25, 40, 40.5}
            << QVector<double>{80, 80.5, 80, 80} << QVector<double>{2, 8, 1, 3}
            << "Read [f]: 2 lines of 2 points, ω 40.000–77.250°, 2θ 80.000–80.500°.";
        // Text: a new line where 2theta steps back; negative counts become 0.
        QTest::newRow("text angles")
            << QByteArray("# omega 2theta cps\n35 70 1\n35.1 70.2 -2\n35.2 70 3\n35.3 70.2 4\n")
            << "text" << 2 << QVector<double>{35, 35.1, 35.2, 35.3}
            << QVector<double>{70, 70.2, 70, 70.2} << QVector<double>{1, 0, 3, 4}
            << "Read [f]: 2 lines of 2 points, ω 35.000–35.300°, 2θ 70.000–70.200°.";
        QTest::newRow("text reciprocal, commas")
            << QByteArray("Qx;Qz;I\n3.1,4.4,5\n3.2,4.4,6\n3.3,4.4,7\n") << "text" << 1
            << QVector<double>{3.1, 3.2, 3.3} << QVector<double>{4.4, 4.4, 4.4}
            << QVector<double>{5, 6, 7}
            << "Read [f]: 1 line of 3 points, Qx 3.1000–3.3000 1/Å, Qz 4.4000–4.4000 1/Å.";
    }

    void reads() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, format);
        QFETCH(int, lines);
        QFETCH(QVector<double>, x);
        QFETCH(QVector<double>, z);
        QFETCH(QVector<double>, intensity);
        QFETCH(QString, summary);
        const AreaMapReadResult r = readAreaMapBytes(bytes, QStringLiteral("f"));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.map.format, format);
        QCOMPARE(r.map.lineCount(), lines);
        QCOMPARE(r.map.x, x);
        QCOMPARE(r.map.z, z);
        QCOMPARE(r.map.intensity, intensity);
        QCOMPARE(areaMapSummary(r.map), summary);
    }

    void refuses_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        const QByteArray both = "<positions axis=\"2Theta\"><startPosition>70</startPosition>"
                                "<endPosition>71</endPosition></positions>";
        QTest::newRow("xrdml no omega")
            << xrdml(xrdmlScan("Completed", both + "<commonCountingTime>1</commonCountingTime>"
                                                   "<intensities>1 2</intensities>"))
            << "Can't read map [f]: scan 1: the scan gives no Omega positions.";
        QTest::newRow("xrdml none completed")
            << xrdml(xrdmlScan("Aborted", both)) << "Can't read map [f]: no scan is completed.";
        QTest::newRow("xrdml cut short")
            << xrdml(xrdmlScan("Completed", both)).left(200)
            << "Can't read map [f]: the XML is broken or cut short (Premature end of document., "
               "line 2).";
        QTest::newRow("ras no omega position")
            << ras(rasScan("*MEAS_SCAN_AXIS_X \"TwoThetaOmega\"\n*MEAS_SCAN_UNIT_Y \"cps\"\n",
                           "80 1\n81 2\n"))
            << "Can't read map [f]: scan 1: no position of the Omega axis.";
        QTest::newRow("ras chi scan")
            << ras(rasScan("*MEAS_SCAN_AXIS_X \"Chi\"\n", "1 1\n"))
            << "Can't read map [f]: scan 1: the scan axis 'Chi' is neither omega nor 2theta.";
        QTest::newRow("ras cut short") << QByteArray("*RAS_DATA_START\n*RAS_HEADER_START\n")
                                       << "Can't read map [f]: scan 1 is cut short (no "
                                          "*RAS_INT_START).";
        QTest::newRow("text two columns")
            << QByteArray("1 2\n3 4\n") << "Can't read map [f]: no line holds three numbers.";
        QTest::newRow("text two points") << QByteArray("1 2 3\n3 4 5\n")
                                         << "Can't read map [f]: the map holds fewer than three "
                                            "points.";
        QTest::newRow("text nan") << QByteArray("1 2 3\n3 4 nan\n5 6 7\n")
                                  << "Can't read map [f]: point 2 holds a value that is not a "
                                     "finite number.";
        QTest::newRow("text absurd angle") << QByteArray("1 2 3\n3 400 5\n5 6 7\n")
                                           << "Can't read map [f]: the position of point 2 (3, "
                                              "400) is absurd.";
        QTest::newRow("text all zero") << QByteArray("1 2 0\n3 4 0\n5 6 0\n")
                                       << "Can't read map [f]: no intensity is positive.";
        QTest::newRow("empty") << QByteArray()
                               << "Can't read map [f]: no line holds three numbers.";
    }

    void refuses() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        const AreaMapReadResult r = readAreaMapBytes(bytes, QStringLiteral("f"));
        QVERIFY(!r.ok);
        QCOMPARE(r.error, error);
        QVERIFY(r.map.x.isEmpty());
    }

    // The synthetic maps of tools/rsm_synth.py: the same measurement in three formats reads
    // to the same points.
    void formatsAgree() {
        const QString dir = QStringLiteral(XRD_TEST_DATA_DIR "/rsm/ingaas224-exit.");
        const AreaMapReadResult xml = readAreaMapFile(dir + "xrdml");
        QVERIFY2(xml.ok, qPrintable(xml.error));
        QCOMPARE(xml.map.lineCount(), 61);
        QCOMPARE(xml.map.x.size(), 61 * 161);
        QCOMPARE(xml.map.wavelength, 1.5405929);
        for (const char* ext : {"ras", "txt"}) {
            const AreaMapReadResult other = readAreaMapFile(dir + ext);
            QVERIFY2(other.ok, qPrintable(other.error));
            QCOMPARE(other.map.lineCount(), 61);
            QCOMPARE(other.map.x.size(), xml.map.x.size());
            for (int i = 0; i < xml.map.x.size(); ++i) {
                QVERIFY(std::fabs(other.map.intensity[i] - xml.map.intensity[i]) <=
                        1e-6 * xml.map.intensity[i]);
                QVERIFY(std::fabs(other.map.x[i] - xml.map.x[i]) < 2e-6);
                QVERIFY(std::fabs(other.map.z[i] - xml.map.z[i]) < 2e-6);
            }
        }
        QVERIFY(!readAreaMapFile(QStringLiteral(XRD_TEST_DATA_DIR "/rsm")).ok);
    }
};

QTEST_MAIN(TestAreaMap)
#include "tst_areamap.moc"
