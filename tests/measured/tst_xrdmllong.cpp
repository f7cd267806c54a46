// Long lists of numbers in XRDML documents are read from the file's bytes rather than through
// the XML reader's text. Every row reads a document twice: as it is, and with a character
// reference in a comment, which keeps the reader on the plain path; both readings must agree
// with each other and with the hand-counted outcome.

#include "measured/readers.h"

#include <QtTest>

namespace {

QByteArray document(const QByteArray& dataPoints, const QByteArray& prolog = {}) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + prolog +
           "<xrdMeasurements xmlns=\"http://www.xrdml.com/XRDMeasurement/1.5\">\n"
           "<xrdMeasurement><scan status=\"Completed\"><dataPoints>\n" +
           dataPoints + "</dataPoints></scan></xrdMeasurement></xrdMeasurements>\n";
}

const QByteArray positions = "<positions axis=\"2Theta\" note=\"a>b\"><startPosition>60"
                             "</startPosition><endPosition>61</endPosition></positions>\n"
                             "<commonCountingTime>2</commonCountingTime>\n";

// `n` counts 1, 2, ... separated by `separator`.
QByteArray counts(int n, const QByteArray& separator = " ") {
    QByteArray out;
    for (int i = 1; i <= n; ++i)
        out += QByteArray::number(i) + separator;
    return out;
}

} // namespace

class TestXrdmlLong : public QObject {
    Q_OBJECT
private slots:
    void readsAsThePlainPath_data() {
        QTest::addColumn<QByteArray>("dataPoints");
        QTest::addColumn<int>("points");        // -1: refused
        QTest::addColumn<double>("pointValue"); // counts of the point `at`, before the time
        QTest::addColumn<int>("at");
        QTest::addColumn<QString>("reason");
        const QByteArray open = positions + "<intensities>";
        QTest::newRow("one list over many lines") << open + counts(300, "\n") + "</intensities>\n"
                                                  << 300 << 300.0 << 299 << QString();
        QTest::newRow("CR LF line ends") << open + counts(300, "\r\n") + "</intensities>\n"
                                         << 300 << 7.0 << 6 << QString();
        // The text around a comment is one text: "...30" and "31..." join into "3031".
        QTest::newRow("a comment inside the list joins its neighbours")
            << open + counts(30) + "30<!-- c -->31" + counts(40).prepend(' ') + "</intensities>"
            << 71 << 3031.0 << 30 << QString();
        QTest::newRow("CDATA") << open + "<![CDATA[" + counts(100) + "]]></intensities>" << 100
                               << 100.0 << 99 << QString();
        QTest::newRow("a broken number among many")
            << open + counts(50) + "1.2.3 " + counts(50) + "</intensities>" << -1 << 0.0 << 0
            << QStringLiteral("<intensities> holds '1.2.3', which is not a number");
        QTest::newRow("a word among numbers")
            << open + counts(50) + "x " + counts(50) + "</intensities>" << -1 << 0.0 << 0
            << QStringLiteral("holds 'x', which is not a number");
        QTest::newRow("more values than positions allow")
            << "<positions axis=\"2Theta\"><listPositions>" + counts(80) + "</listPositions>" +
                   "</positions><commonCountingTime>1</commonCountingTime><intensities>" +
                   counts(81) + "</intensities>"
            << -1 << 0.0 << 0 << QStringLiteral("80 positions of 2Theta but 81 intensities");
        // Lines 1-3 are the declaration and the opening elements, 4-5 the positions; the 200
        // counts take lines 6-205, the end of the list line 206, the error is on line 207.
        QTest::newRow("broken after a long list, at its line")
            << open + counts(200, "\n") + "</intensities>\n<oops></dataPoints>" << -1 << 0.0 << 0
            << QStringLiteral("line 207");
        // Characters the long lists are marked with, written by the file itself.
        QTest::newRow("the file's own private-use characters")
            << open +
                   "\xEE\x80\x80"
                   "0\xEE\x80\x81" +
                   counts(100) + "</intensities>"
            << -1 << 0.0 << 0 << QStringLiteral("which is not a number");
    }

    void readsAsThePlainPath() {
        QFETCH(QByteArray, dataPoints);
        QFETCH(int, points);
        QFETCH(double, pointValue);
        QFETCH(int, at);
        QFETCH(QString, reason);
        const ScanReadResult marked = readScanBytes(document(dataPoints), QStringLiteral("s"));
        const ScanReadResult plain =
            readScanBytes(document(dataPoints, "<!-- &#38; -->\n"), QStringLiteral("s"));
        if (points < 0) {
            QVERIFY(!marked.ok);
            QVERIFY2(marked.error.contains(reason), qPrintable(marked.error));
            // The plain reading counts one more line (its comment) before the same error.
            if (reason.startsWith(QLatin1String("line")))
                QVERIFY2(
                    plain.error.contains(QStringLiteral("line %1").arg(reason.mid(5).toInt() + 1)),
                    qPrintable(plain.error));
            else
                QCOMPARE(marked.error, plain.error);
            return;
        }
        QVERIFY2(marked.ok, qPrintable(marked.error));
        QVERIFY2(plain.ok, qPrintable(plain.error));
        QCOMPARE(marked.scan.theta.size(), points);
        QCOMPARE(marked.scan.intensity[at], pointValue / 2); // common counting time 2 s
        QCOMPARE(marked.scan.theta, plain.scan.theta);
        QCOMPARE(marked.scan.intensity, plain.scan.intensity);
        QCOMPARE(marked.scan.countingTime, plain.scan.countingTime);
    }
};

QTEST_GUILESS_MAIN(TestXrdmlLong)
#include "tst_xrdmllong.moc"
