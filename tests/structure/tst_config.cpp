#include "structure/config.h"
#include "tests/common/exact.h"
#include "tests/common/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <cmath>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

Q_DECLARE_METATYPE(Layer)

namespace {

const double kDefault = 6.283185307179586;

// The expected layer of a table row, field by field.
Layer layer(int n, double x, double y, GradingShape endShape, double endWidth, double endX,
            double endY, GradingShape startShape, double startWidth, double startX, double startY) {
    Layer l;
    l.defined = true;
    l.monolayers = n;
    l.inFraction = x;
    l.asFraction = y;
    l.endShape = endShape;
    l.endWidth = endWidth;
    l.endInFraction = endX;
    l.endAsFraction = endY;
    l.startShape = startShape;
    l.startWidth = startWidth;
    l.startInFraction = startX;
    l.startAsFraction = startY;
    return l;
}

void compareLayers(const Layer& actual, const Layer& expected) {
    QCOMPARE(actual.defined, expected.defined);
    QCOMPARE(actual.monolayers, expected.monolayers);
    XRD_COMPARE_EXACT(actual.inFraction, expected.inFraction);
    XRD_COMPARE_EXACT(actual.asFraction, expected.asFraction);
    QCOMPARE(actual.endShape, expected.endShape);
    XRD_COMPARE_EXACT(actual.endWidth, expected.endWidth);
    XRD_COMPARE_EXACT(actual.endInFraction, expected.endInFraction);
    XRD_COMPARE_EXACT(actual.endAsFraction, expected.endAsFraction);
    QCOMPARE(actual.startShape, expected.startShape);
    XRD_COMPARE_EXACT(actual.startWidth, expected.startWidth);
    XRD_COMPARE_EXACT(actual.startInFraction, expected.startInFraction);
    XRD_COMPARE_EXACT(actual.startAsFraction, expected.startAsFraction);
}

void compareToReset(const Config& c) {
    QCOMPARE(c.valid, false);
    XRD_COMPARE_EXACT(c.wavelength, 1.0);
    XRD_COMPARE_EXACT(c.k, kDefault);
    QCOMPARE(c.withSubstrate, true);
    QCOMPARE(c.substrate.defined, false);
    QCOMPARE(c.layers.size(), 0);
    QCOMPARE(c.repeat, 20);
}

} // namespace

class TestConfig : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes) {
        return xrdtest::writeTestFile(dir_, name, bytes);
    }

    static QStringList messages(const QSignalSpy& spy) {
        QStringList out;
        for (const auto& args : spy)
            out << args.at(0).toString();
        return out;
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void newConfigHoldsDefaults() {
        Config c;
        compareToReset(c);
        QVERIFY(c.fileName.isEmpty());
    }

    void workedExample() {
        const QString path = write("example.txt", "WAVELENGTH 1.5406\n"
                                                  "Substrate 1 0     # InP substrate\n"
                                                  "REPEAT 10\n"
                                                  "LAYER 20 0.53 1  L 2 1 0  L 2 1 0   # well\n"
                                                  "layer 40 1 0 parabolic 3 0.53 1 \"A\" 0 0.53 1\n"
                                                  "LAYERS 5 0 0   # misspelled keyword\n"
                                                  "REPEAT 12\n");
        Config c;
        QSignalSpy spy(&c, &Config::log);
        QVERIFY(c.load(path));
        // The misspelled keyword and the second REPEAT are noted.
        const QStringList log = messages(spy);
        QCOMPARE(log.size(), 3);
        QCOMPARE(log[0], QString("Loading [%1].").arg(path));
        QVERIFY2(log[1].startsWith(QString("Note [%1] line 6: ").arg(path)), qPrintable(log[1]));
        QVERIFY2(log[2].startsWith(QString("Note [%1] line 7: ").arg(path)), qPrintable(log[2]));
        QVERIFY(c.valid);
        QCOMPARE(c.fileName, path);
        XRD_COMPARE_EXACT(c.wavelength, 1.5406);
        XRD_COMPARE_EXACT(c.k, 4.078401471621178);
        QCOMPARE(c.repeat, 12);
        QCOMPARE(c.withSubstrate, true);
        compareLayers(c.substrate, layer(1, 1, 0, Abrupt, 0, 1, 0, Abrupt, 0, 1, 0));
        QCOMPARE(c.layers.size(), 2);
        compareLayers(c.layers[0],
                      layer(20, 0.53, 1, Linear, 2, 0.765, 0.5, Linear, 2, 0.765, 0.5));
        compareLayers(c.layers[1],
                      layer(40, 1, 0, Parabolic, 3, 0.765, 0.5, Abrupt, 0, 0.765, 0.5));
    }

    // Whole files and the structure-level state they leave.
    void fileLevel_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("wavelength");
        QTest::addColumn<bool>("withSubstrate");
        QTest::addColumn<int>("repeat");
        QTest::addColumn<int>("layerCount");

        const QByteArray sub = "SUBSTRATE 1 0\nLAYER 10 1 0\n";
        QTest::newRow("empty file") << QByteArray() << false << 1.0 << true << 20 << 0;
        QTest::newRow("comments and blanks only")
            << QByteArray("# nothing\n\n   \t\n#LAYER 10 1 0\n") << false << 1.0 << true << 20 << 0;
        QTest::newRow("minimal valid") << sub << true << 1.0 << true << 20 << 1;
        QTest::newRow("no substrate")
            << QByteArray("LAYER 10 1 0\n") << false << 1.0 << true << 20 << 0;
        QTest::newRow("no layer") << QByteArray("SUBSTRATE 1 0\n") << false << 1.0 << true << 20
                                  << 0;
        QTest::newRow("wavelength 0") << "WAVELENGTH 0\n" + sub << false << 1.0 << true << 20 << 0;
        QTest::newRow("negative wavelength")
            << "WAVELENGTH -1.5\n" + sub << false << 1.0 << true << 20 << 0;
        QTest::newRow("wavelength missing")
            << "WAVELENGTH\n" + sub << false << 1.0 << true << 20 << 0;
        QTest::newRow("wavelength with unit")
            << "WAVELENGTH 1.54A\n" + sub << false << 1.0 << true << 20 << 0;
        QTest::newRow("wavelength decimal comma")
            << "WAVELENGTH 1,54\n" + sub << false << 1.0 << true << 20 << 0;
        QTest::newRow("wavelength exponent")
            << "WAVELENGTH 15.406e-1\n" + sub << true << 1.5406 << true << 20 << 1;
        QTest::newRow("last wavelength wins") << "WAVELENGTH 2\n" + sub + "wavelength 1.5\n"
                                              << true << 1.5 << true << 20 << 1;
        QTest::newRow("substrate switch 1")
            << QByteArray("SUBSTRATE 1 0 1\nLAYER 10 1 0\n") << true << 1.0 << false << 20 << 1;
        QTest::newRow("substrate switch 1.0")
            << QByteArray("SUBSTRATE 1 0 1.0\nLAYER 10 1 0\n") << true << 1.0 << true << 20 << 1;
        QTest::newRow("substrate switch 2")
            << QByteArray("SUBSTRATE 1 0 2\nLAYER 10 1 0\n") << true << 1.0 << true << 20 << 1;
        QTest::newRow("later substrate resets switch")
            << QByteArray("SUBSTRATE 1 0 1\nLAYER 10 1 0\nSUBSTRATE 0 1\n") << true << 1.0 << true
            << 20 << 1;
        QTest::newRow("repeat without number") << "REPEAT\n" + sub << true << 1.0 << true << 0 << 1;
        QTest::newRow("repeat surplus token")
            << "REPEAT 3 4\n" + sub << true << 1.0 << true << 3 << 1;
        QTest::newRow("repeat not an integer")
            << "REPEAT 12.0\n" + sub << true << 1.0 << true << 0 << 1;
        QTest::newRow("last repeat wins") << "REPEAT 3\n" + sub + "REPEAT -4\n"
                                          << true << 1.0 << true << -4 << 1;
        QTest::newRow("keywords in any case")
            << QByteArray("sUbStRaTe 1 0\nLayer 10 1 0\n\"LAYER\" 10 1 0\nlayer 1 0 0\n") << true
            << 1.0 << true << 20 << 3;
        QTest::newRow("misspelled keywords skipped")
            << "LAYERS 10 1 0\nSUBSTRATES 1 0\nREPEATS 5\n" + sub << true << 1.0 << true << 20 << 1;
        QTest::newRow("zero monolayers still a layer")
            << QByteArray("SUBSTRATE 1 0\nLAYER 10.5 0.2 1\n") << true << 1.0 << true << 20 << 1;
        QTest::newRow("CR LF line ends")
            << QByteArray("WAVELENGTH 1.5\r\nSUBSTRATE 1 0 1\r\nLAYER 10 1 0\r\nREPEAT 7\r\n")
            << true << 1.5 << false << 7 << 1;
        QTest::newRow("CR-only line ends")
            << QByteArray("WAVELENGTH 1.5\rSUBSTRATE 1 0 1\rLAYER 10 1 0\rREPEAT 1\r0\r") << true
            << 1.5 << false << 1 << 1;
        QTest::newRow("mixed line ends, no final line end")
            << QByteArray("WAVELENGTH 1.5\r\rSUBSTRATE 1 0\r\n\nLAYER 10 1 0\rREPEAT 9") << true
            << 1.5 << true << 9 << 1;
        QTest::newRow("tabs between tokens")
            << QByteArray("\tSUBSTRATE\t1\t0\t1\nLAYER\t10\t1\t0\n") << true << 1.0 << false << 20
            << 1;
        QTest::newRow("unicode spaces between tokens") << QByteArray("SUBSTRATE\xc2\xa0"
                                                                     "1\xe2\x80\x83"
                                                                     "0 1\nLAYER 10 1 0\n")
                                                       << true << 1.0 << false << 20 << 1;
        QTest::newRow("UTF-8 byte-order mark")
            << "\xef\xbb\xbf" + sub << true << 1.0 << true << 20 << 1;
    }

    void fileLevel() {
        QFETCH(QByteArray, content);
        QFETCH(bool, valid);
        QFETCH(double, wavelength);
        QFETCH(bool, withSubstrate);
        QFETCH(int, repeat);
        QFETCH(int, layerCount);

        const QString path = write("file.txt", content);
        Config c;
        QVERIFY(c.load(path));
        QCOMPARE(c.valid, valid);
        QCOMPARE(c.fileName, path);
        XRD_COMPARE_EXACT(c.wavelength, wavelength);
        XRD_COMPARE_EXACT(c.k, kDefault / wavelength);
        QCOMPARE(c.withSubstrate, withSubstrate);
        QCOMPARE(c.repeat, repeat);
        QCOMPARE(c.layers.size(), layerCount);
        QCOMPARE(c.substrate.defined, valid);
        if (!valid)
            compareToReset(c);
    }

    // One line after "SUBSTRATE 1 0": how the tokens of a layer line land in the record.
    void layerLine_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<Layer>("expected");

        QTest::newRow("missing neighbours read as 0")
            << QByteArray("LAYER 10 1 0") << layer(10, 1, 0, Abrupt, 0, 0.5, 0, Abrupt, 0, 0.5, 0);
        QTest::newRow("shape words and letters")
            << QByteArray("LAYER 10 0.2 1 linear 2 0 1 h 1.5 0 1")
            << layer(10, 0.2, 1, Linear, 2, 0.1, 1, Sine, 1.5, 0.1, 1);
        QTest::newRow("parabolic, abrupt, unknown letters")
            << QByteArray("LAYER 3 0 1 P 1 0 0 X 4 1 1")
            << layer(3, 0, 1, Parabolic, 1, 0, 0.5, Abrupt, 4, 0.5, 1);
        QTest::newRow("lower-case letters")
            << QByteArray("LAYER 3 0 1 l 1 0 0 p 4 1 1")
            << layer(3, 0, 1, Linear, 1, 0, 0.5, Parabolic, 4, 0.5, 1);
        QTest::newRow("digit is abrupt") << QByteArray("LAYER 3 0 1 0 1 0 0 1 4 1 1")
                                         << layer(3, 0, 1, Abrupt, 1, 0, 0.5, Abrupt, 4, 0.5, 1);
        QTest::newRow("fractional thickness is 0")
            << QByteArray("LAYER 10.5 0.2 1")
            << layer(0, 0.2, 1, Abrupt, 0, 0.1, 0.5, Abrupt, 0, 0.1, 0.5);
        QTest::newRow("negative thickness kept")
            << QByteArray("LAYER -3 2 -1")
            << layer(-3, 2, -1, Abrupt, 0, 1, -0.5, Abrupt, 0, 1, -0.5);
        QTest::newRow("quoted tokens")
            << QByteArray("\"LAYER\" \"20\" \" 0.5 \" \"1\"\"L\"")
            << layer(20, 0.5, 1, Linear, 0, 0.25, 0.5, Abrupt, 0, 0.25, 0.5);
        QTest::newRow("empty quoted token")
            << QByteArray("LAYER 5 \"\" 1") << layer(5, 0, 1, Abrupt, 0, 0, 0.5, Abrupt, 0, 0, 0.5);
        QTest::newRow("quoted token with spaces is one token")
            << QByteArray("LAYER 5 \"1 2\" 1")
            << layer(5, 0, 1, Abrupt, 0, 0, 0.5, Abrupt, 0, 0, 0.5);
        QTest::newRow("quote inside an unquoted token")
            << QByteArray("LAYER 5 0\"5 1") << layer(5, 0, 1, Abrupt, 0, 0, 0.5, Abrupt, 0, 0, 0.5);
        QTest::newRow("hash inside quotes cuts the line")
            << QByteArray("LAYER 5 1 \"1#\" 0.5")
            << layer(5, 1, 1, Abrupt, 0, 0.5, 0.5, Abrupt, 0, 0.5, 0.5);
        QTest::newRow("hash glued to a number")
            << QByteArray("LAYER 5 1 0.25#comment")
            << layer(5, 1, 0.25, Abrupt, 0, 0.5, 0.125, Abrupt, 0, 0.5, 0.125);
        QTest::newRow("surplus tokens ignored")
            << QByteArray("LAYER 1 1 1 A 0 1 1 A 0 1 1 extra 99")
            << layer(1, 1, 1, Abrupt, 0, 1, 1, Abrupt, 0, 1, 1);
        QTest::newRow("unconvertible numbers read as 0")
            << QByteArray("LAYER 1x 0.5x 1,0 L 2w 1 1 L 3 1 1")
            << layer(0, 0, 0, Linear, 0, 0.5, 0.5, Linear, 3, 0.5, 0.5);
    }

    void layerLine() {
        QFETCH(QByteArray, line);
        QFETCH(Layer, expected);
        Config c;
        QVERIFY(c.load(write("layer.txt", "SUBSTRATE 1 0\n" + line + "\n")));
        QVERIFY(c.valid);
        QCOMPARE(c.layers.size(), 1);
        compareLayers(c.layers[0], expected);
    }

    void substrateRecordIsReplaced() {
        Config c;
        QVERIFY(c.load(write("sub.txt", "SUBSTRATE 1 0 1\nLAYER 1 1 1\nSUBSTRATE 0 1\n")));
        compareLayers(c.substrate, layer(1, 0, 1, Abrupt, 0, 0, 1, Abrupt, 0, 0, 1));
        QCOMPARE(c.withSubstrate, true);
    }

    void unicodeEncodings_data() {
        QTest::addColumn<QByteArray>("codec");
        QTest::newRow("UTF-16LE with BOM") << QByteArray("UTF-16LE");
        QTest::newRow("UTF-16BE with BOM") << QByteArray("UTF-16BE");
        QTest::newRow("UTF-32LE with BOM") << QByteArray("UTF-32LE");
    }

    void unicodeEncodings() {
        QFETCH(QByteArray, codec);
        // These codecs put the byte-order mark in front themselves.
        const QString text = QStringLiteral("WAVELENGTH 1.5\r\nSUBSTRATE 1 0\r\nLAYER 4 0.5 1\r\n");
        const QByteArray bytes = QTextCodec::codecForName(codec)->fromUnicode(text);
        Config c;
        QVERIFY(c.load(write("utf.txt", bytes)));
        QVERIFY(c.valid);
        XRD_COMPARE_EXACT(c.wavelength, 1.5);
        QCOMPARE(c.layers.size(), 1);
        QCOMPARE(c.layers[0].monolayers, 4);
    }

    void inconvertibleSpecialNumbersAreStored() {
        Config c;
        QVERIFY(c.load(write("special.txt", "SUBSTRATE 1 0\nLAYER 2 nan 1e999\n")));
        QVERIFY(c.valid);
        QVERIFY(std::isnan(c.layers[0].inFraction));
        QVERIFY(std::isinf(c.layers[0].asFraction));
    }

    // A sequence of loads on one loader: state, return values and log lines.
    void loadSequences() {
        const QString good = write("good.txt", "SUBSTRATE 1 0\nLAYER 10 1 0\nREPEAT 3\n");
        const QString bad = write("bad.txt", "LAYER 10 1 0\nREPEAT 5\n");
        const QString missing = dir_.filePath("missing.txt");

        Config c;
        QSignalSpy spy(&c, &Config::log);

        QVERIFY(c.load(good));
        QVERIFY(c.valid);
        QVERIFY(!c.load(missing));
        compareToReset(c);
        QCOMPARE(c.fileName, good);

        QVERIFY(c.load(good));
        QVERIFY(c.load(bad));
        compareToReset(c); // the bad file's REPEAT 5 is discarded too
        QCOMPARE(c.fileName, bad);

        QVERIFY(c.load(good));
        QVERIFY(c.load(good));
        QVERIFY(c.valid);
        QCOMPARE(c.layers.size(), 1);
        QCOMPARE(c.repeat, 3);

        QVERIFY(!c.load(dir_.path()));
        QVERIFY(!c.load(QString()));
        compareToReset(c);
        QCOMPARE(c.fileName, good);

        const QStringList expected{
            QString("Loading [%1].").arg(good),           QString("Can't open [%1].").arg(missing),
            QString("Loading [%1].").arg(good),           QString("Loading [%1].").arg(bad),
            QString("Loading [%1].").arg(good),           QString("Loading [%1].").arg(good),
            QString("Can't open [%1].").arg(dir_.path()), QString("Can't open [].")};
        QCOMPARE(messages(spy), expected);
    }

    // Each line the reader skips or reads leniently gets one note naming the line, the token
    // and what was read; the values stored stay as they were (the tables above).
    void notes_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("assumed");

        const QByteArray sub = "SUBSTRATE 0 1\n";
        QTest::newRow("misspelled REPEAT") << "REPAET 3\n" + sub << 1 << "\"REPAET\""
                                           << "skipped";
        QTest::newRow("LAYERS") << sub + "LAYERS 5 0 0\nLAYER 5 0 1\n"
                                << 2 << "\"LAYERS\""
                                << "skipped";
        QTest::newRow("keyword longer than any") << sub + "LAYER 5 0 1\nSUBSTRATEGAAS\n"
                                                 << 3 << "\"SUBSTRATEGAAS\""
                                                 << "skipped";
        QTest::newRow("thickness in nm") << sub + "LAYER 7.4nm 0.2 1\n"
                                         << 2 << "\"7.4nm\""
                                         << "read as 0";
        QTest::newRow("fractional thickness") << sub + "LAYER 7.4 0.2 1\n"
                                              << 2 << "\"7.4\""
                                              << "read as 0";
        QTest::newRow("thickness beyond int") << sub + "LAYER 3000000000 0.2 1\n"
                                              << 2 << "\"3000000000\""
                                              << "too large, read as 0";
        QTest::newRow("zero monolayers") << sub + "LAYER 0 0.2 1\n"
                                         << 2 << "thickness 0"
                                         << "below 1, kept";
        QTest::newRow("substrate by a name that is no formula")
            << QByteArray("SUBSTRATE gaas\nLAYER 5 0 1\n") << 1 << "\"gaas\""
            << "read as 0";
        QTest::newRow("substrate As missing")
            << QByteArray("SUBSTRATE 0\nLAYER 5 0 1\n") << 1 << "As fraction"
            << "missing, read as 0";
        QTest::newRow("As fraction missing") << sub + "LAYER 5 0.5\n"
                                             << 2 << "As fraction"
                                             << "missing, read as 0";
        QTest::newRow("thickness missing") << sub + "LAYER\n"
                                           << 2 << "thickness"
                                           << "missing, read as 0";
        QTest::newRow("composition above 1") << sub + "LAYER 5 1.2 1\n"
                                             << 2 << "1.2"
                                             << "outside 0 to 1, kept";
        QTest::newRow("negative substrate fraction")
            << QByteArray("SUBSTRATE -0.1 1\nLAYER 5 0 1\n") << 1 << "-0.1"
            << "outside 0 to 1";
        QTest::newRow("graded end without width") << sub + "LAYER 5 0.2 1 L\n"
                                                  << 2 << "end grading width"
                                                  << "missing, read as 0";
        QTest::newRow("graded start without neighbour") << sub + "LAYER 5 0.2 1 A 0 0 1 H 2 0\n"
                                                        << 2 << "As fraction beyond the start"
                                                        << "missing, read as 0";
        QTest::newRow("unknown shape letter") << sub + "LAYER 5 0.2 1 S 2 0 1\n"
                                              << 2 << "\"S\""
                                              << "read as abrupt";
        QTest::newRow("width not a number") << sub + "LAYER 5 0.2 1 L 2ML 0 1\n"
                                            << 2 << "\"2ML\""
                                            << "read as 0";
        QTest::newRow("surplus token") << sub + "LAYER 5 0.2 1 A 0 0 1 A 0 0 1 extra\n"
                                       << 2 << "\"extra\""
                                       << "ignored";
        QTest::newRow("wavelength with unit") << "WAVELENGTH 1.54A\n" + sub + "LAYER 5 0 1\n"
                                              << 1 << "\"1.54A\""
                                              << "read as 0";
        QTest::newRow("repeat missing") << "REPEAT\n" + sub + "LAYER 5 0 1\n"
                                        << 1 << "REPEAT"
                                        << "missing, read as 0";
        QTest::newRow("repeat 0") << "REPEAT 0\n" + sub + "LAYER 5 0 1\n"
                                  << 1 << "REPEAT 0"
                                  << "below 1, kept";
        QTest::newRow("repeat 2.5") << "REPEAT 2.5\n" + sub + "LAYER 5 0 1\n"
                                    << 1 << "\"2.5\""
                                    << "read as 0";
        QTest::newRow("substrate switch 1.0")
            << QByteArray("SUBSTRATE 1 0 1.0\nLAYER 5 0 1\n") << 1 << "\"1.0\""
            << "stays in";
        QTest::newRow("second wavelength")
            << "WAVELENGTH 2\n" + sub + "LAYER 5 0 1\nWAVELENGTH 1.5\n"
            << 4 << "WAVELENGTH"
            << "of line 1 (only the last";
        QTest::newRow("second substrate") << sub + "LAYER 5 0 1\nSubstrate 1 0\n"
                                          << 3 << "SUBSTRATE"
                                          << "of line 1";
        QTest::newRow("second repeat") << "REPEAT 3\n" + sub + "LAYER 5 0 1\n\n# x\nREPEAT 4\n"
                                       << 6 << "REPEAT"
                                       << "of line 1";
        QTest::newRow("second resolution")
            << sub + "LAYER 5 0 1\nRESOLUTION 0.01\nRESOLUTION 0.02\n"
            << 4 << "RESOLUTION"
            << "of line 3";
        QTest::newRow("FIT of the same target")
            << sub + "LAYER 5 0 1\nFIT LAYER 1 N 1 9\nFIT OFFSET -1 1\nFIT layer 1 n 2 8\n"
            << 5 << "FIT LAYER 1 N"
            << "of line 3";
        QTest::newRow("CR-only line ends count lines")
            << "WAVELENGTH 1.5\r" + sub + "LAYER 5 0 1\rREPEAT x\r" << 4 << "\"x\""
            << "read as 0";
    }

    void notes() {
        QFETCH(QByteArray, content);
        QFETCH(int, line);
        QFETCH(QString, token);
        QFETCH(QString, assumed);
        const QString path = write("lenient.txt", content);
        Config c;
        QSignalSpy spy(&c, &Config::log);
        QVERIFY(c.load(path));
        const QStringList log = messages(spy);
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0], QString("Loading [%1].").arg(path));
        QVERIFY2(log[1].startsWith(QString("Note [%1] line %2: ").arg(path).arg(line)),
                 qPrintable(log[1]));
        QVERIFY2(log[1].contains(token) && log[1].contains(assumed), qPrintable(log[1]));
    }

    // Files that use the statements as they are meant: not a line more in the log.
    void noNotes_data() {
        QTest::addColumn<QString>("path");
        for (const QString& name : QDir(XRD_EXAMPLES_DIR).entryList({"*.txt"}, QDir::Files))
            QTest::newRow(qPrintable(name)) << QDir(XRD_EXAMPLES_DIR).filePath(name);
        QTest::newRow("abrupt grading left out, switch 1, two FIT targets")
            << write("plain.txt", "# comment\n\n  \t\nSUBSTRATE 1 0 1  # no own peak\n"
                                  "LAYER 1 0 1 A\nLAYER 20 0.53 1 L 2 1 0\nREPEAT 1\n"
                                  "FIT LAYER 1 N 1 9\nFIT LAYER 2 N 1 30\n");
        QTest::newRow("invalid but correctly written")
            << write("nolayer.txt", "WAVELENGTH 0\nSUBSTRATE 1 0\n");
    }

    void noNotes() {
        QFETCH(QString, path);
        Config c;
        QSignalSpy spy(&c, &Config::log);
        QVERIFY(c.load(path));
        QCOMPARE(messages(spy), QStringList{QString("Loading [%1].").arg(path)});
        QCOMPARE(c.notedLines, qint64(0));
    }

    // A file of many bad lines gives a bounded log: the first notes and a count of the rest.
    void notesAreCapped() {
        QByteArray content = "SUBSTRATE 0 1\n";
        for (int i = 0; i < 1000; ++i)
            content += "LAYER 7.4nm 0.2\n";
        const QString path = write("many.txt", content);
        Config c;
        QSignalSpy spy(&c, &Config::log);
        QVERIFY(c.load(path));
        QVERIFY(c.valid);
        QCOMPARE(c.layers.size(), 1000);
        const QStringList log = messages(spy);
        QCOMPARE(log.size(), 1 + Config::maxNotes + 1);
        QVERIFY(log[1].startsWith(QString("Note [%1] line 2: ").arg(path)));
        QVERIFY(log[Config::maxNotes].startsWith(QString("Note [%1] line 21: ").arg(path)));
        // Two faults of one line share its note.
        QVERIFY2(log[1].contains("\"7.4nm\"") && log[1].contains("As fraction missing"),
                 qPrintable(log[1]));
        QCOMPARE(log.last(), QString("Note [%1]: \u2026 and 980 more notes.").arg(path));
    }

#ifdef Q_OS_UNIX
    // Neither a pipe without a writer nor an endless device may hold the window.
    void nonRegularFilesCannotBeOpened_data() {
        QTest::addColumn<QString>("path");
        const QString fifo = dir_.filePath("pipe");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QTest::newRow("named pipe") << fifo;
        QTest::newRow("endless device") << QString("/dev/zero");
        QTest::newRow("empty device") << QString("/dev/null");
    }

    void nonRegularFilesCannotBeOpened() {
        QFETCH(QString, path);
        Config c;
        QSignalSpy spy(&c, &Config::log);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!c.load(path));
        QVERIFY(timer.elapsed() < 5000);
        compareToReset(c);
        QCOMPARE(messages(spy), QStringList{QString("Can't open [%1].").arg(path)});
    }

    void unreadableFileCannotBeOpened() {
        if (::geteuid() == 0)
            QSKIP("root reads files whatever their permissions");
        const QString path = write("locked.txt", "SUBSTRATE 1 0\nLAYER 1 1 1\n");
        QFile::setPermissions(path, QFileDevice::WriteOwner);
        Config c;
        QVERIFY(!c.load(path));
        QVERIFY(!c.valid);
    }
#endif
};

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
