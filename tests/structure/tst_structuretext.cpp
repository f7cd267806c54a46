// Edits of a structure file in place through its one writer: one token changes, every other
// byte stays (in every encoding and line end), the reader reads the new value from the
// result, and a file changed by another program meanwhile is never written blindly.

#include "tests/common/testfiles.h"

#include "common/safefile.h"
#include "structure/config.h"
#include "structure/extensions.h"
#include "structure/structurefile.h"
#include "structure/structuretext.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// `text` as UTF-16 with its byte-order mark.
QByteArray utf16(const QByteArray& text, bool little) {
    QByteArray out = little ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
    for (const char c : text) {
        out += little ? c : '\0';
        out += little ? '\0' : c;
    }
    return out;
}

// Applies an edit written as a line of text: "LAYER layer position value",
// "FITOPTIONS [SEED n] [GENERATIONS n]", "OFFSET value", "RELAXATION layer value".
bool applyEdit(StructureText& text, const QString& edit) {
    const QStringList w = edit.split(QLatin1Char(' '));
    if (w[0] == QLatin1String("LAYER"))
        return text.setLayerNumber(w[1].toInt(), w[2].toInt(), w[3].toDouble());
    if (w[0] == QLatin1String("FITOPTIONS")) {
        FitSearchOptions o;
        for (int i = 1; i + 1 < w.size(); i += 2) {
            if (w[i] == QLatin1String("SEED")) {
                o.seedGiven = true;
                o.seed = w[i + 1].toUInt();
            } else {
                o.generations = w[i + 1].toInt();
            }
        }
        setFitOptionsLine(text, o);
        return true;
    }
    if (w[0] == QLatin1String("RELAXATION"))
        return text.setRelaxation(w[1].toInt(), w[2]);
    return text.setStatement(w[0], w[1].toDouble());
}

const QByteArray kCommented = "# well and barrier\n"
                              "WAVELENGTH 1.5406   # Cu\n"
                              "SUBSTRATE 0 1\n"
                              "LAYER 20   0.2  1     L  2   0     1   # well 20\n"
                              "\tLAYER\t60 0 1\n"
                              "REPEAT 3\n";

} // namespace

class TestStructureText : public QObject {
    Q_OBJECT

private slots:
    // Each edit against the whole file as a person would have made it, through the one
    // writer: the bytes on disk afterwards, and the value the reader then reads.
    void roundTrip_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("thickness, comment with the same digits kept")
            << kCommented << "LAYER 0 1 25"
            << QByteArray(kCommented).replace("LAYER 20 ", "LAYER 25 ");
        QTest::newRow("In fraction, tabs kept")
            << kCommented << "LAYER 1 2 0.125"
            << QByteArray(kCommented).replace("\t60 0 1", "\t60 0.125 1");
        QTest::newRow("end width, wide spacing kept")
            << kCommented << "LAYER 0 5 3.5"
            << QByteArray(kCommented).replace("L  2   0", "L  3.5   0");
        QTest::newRow("start In fraction appended with the defaults before it")
            << kCommented << "LAYER 1 10 0.2"
            << QByteArray(kCommented).replace("\t60 0 1\n", "\t60 0 1 A 0 0 0 A 0 0.2\n");
        QTest::newRow("CRLF line ends")
            << QByteArray("WAVELENGTH 1\r\nSUBSTRATE 0 1\r\nLAYER 10 0.5 1\r\nLAYER 7 0 1\r\n")
            << "LAYER 1 1 8"
            << QByteArray("WAVELENGTH 1\r\nSUBSTRATE 0 1\r\nLAYER 10 0.5 1\r\nLAYER 8 0 1\r\n");
        QTest::newRow("lone CR line ends, no final line end")
            << QByteArray("WAVELENGTH 1\rSUBSTRATE 0 1\rLAYER 10 0.5 1") << "LAYER 0 3 0.75"
            << QByteArray("WAVELENGTH 1\rSUBSTRATE 0 1\rLAYER 10 0.5 0.75");
        QTest::newRow("quoted token keeps its quotes")
            << QByteArray("WAVELENGTH 1\nSUBSTRATE 0 1\nlayer \"10\" 0.5 1\n") << "LAYER 0 1 12"
            << QByteArray("WAVELENGTH 1\nSUBSTRATE 0 1\nlayer \"12\" 0.5 1\n");
        QTest::newRow("Latin-1 comment byte for byte")
            << QByteArray("# Probe \xE4\xF6 \xB5m\nWAVELENGTH 1\nSUBSTRATE 0 1\nLAYER 9 0 1\n")
            << "LAYER 0 2 0.3"
            << QByteArray("# Probe \xE4\xF6 \xB5m\nWAVELENGTH 1\nSUBSTRATE 0 1\nLAYER 9 0.3 1\n");
        // A NUL byte once ended the decoded text: the layers behind it were lost.
        const QByteArray nul("# Probe \xB5m \0 end\nWAVELENGTH 1\nSUBSTRATE 0 1\nLAYER 9 0 1\n"
                             "LAYER 3 1 0\nLAYER 4 0 1\n",
                             80);
        QTest::newRow("a NUL byte in a Latin-1 comment")
            << nul << "LAYER 2 1 5" << QByteArray(nul).replace("LAYER 4 ", "LAYER 5 ");
        // 0xA0 is a space in Latin-1 but no character at all to a UTF-8 reader: the
        // line's second token is "5\xA06", which reads as 0.
        QTest::newRow("Latin-1 byte inside a token")
            << QByteArray("WAVELENGTH 1\nSUBSTRATE 0 1\nLAYER 9 5\xA0"
                          "6 1\n")
            << "LAYER 0 3 0.5"
            << QByteArray("WAVELENGTH 1\nSUBSTRATE 0 1\nLAYER 9 5\xA0"
                          "6 0.5\n");
        QTest::newRow("UTF-8 with byte-order mark")
            << QByteArray("\xEF\xBB\xBFLAYER 9 0 1 # \xC3\xA4\nWAVELENGTH 1\nSUBSTRATE 0 1\n")
            << "LAYER 0 1 10"
            << QByteArray("\xEF\xBB\xBFLAYER 10 0 1 # \xC3\xA4\nWAVELENGTH 1\nSUBSTRATE 0 1\n");
        const QByteArray plain = "WAVELENGTH 1\r\nSUBSTRATE 0 1\r\nLAYER 9 0 1\r\n";
        QTest::newRow("UTF-16, little endian")
            << utf16(plain, true) << "LAYER 0 2 0.25"
            << utf16(QByteArray(plain).replace("9 0 1", "9 0.25 1"), true);
        QTest::newRow("UTF-16, big endian")
            << utf16(plain, false) << "OFFSET 0.5" << utf16(plain + "OFFSET 0.5\r\n", false);
        QTest::newRow("a LAYER word in a comment is no LAYER line")
            << QByteArray("# LAYER 1 2 3\nWAVELENGTH 1\nSUBSTRATE 0 1\nLAYER 4 0 1\n")
            << "LAYER 0 1 5"
            << QByteArray("# LAYER 1 2 3\nWAVELENGTH 1\nSUBSTRATE 0 1\nLAYER 5 0 1\n");
        QTest::newRow("a number that needs 17 digits")
            << QByteArray("WAVELENGTH 1\nSUBSTRATE 0 1\nLAYER 4 0 1\n")
            << "LAYER 0 2 0.30000000000000004"
            << QByteArray("WAVELENGTH 1\nSUBSTRATE 0 1\nLAYER 4 0.30000000000000004 1\n");
        // Fit Options once emptied a UTF-16 file and cut a lone-CR file to its first line.
        QTest::newRow("Fit Options into UTF-16") << utf16(plain, true) << "FITOPTIONS SEED 7"
                                                 << utf16(plain + "FITOPTIONS SEED 7\r\n", true);
        QTest::newRow("Fit Options, lone CR, the first line")
            << QByteArray("FITOPTIONS SEED 1 # old\rWAVELENGTH 1\rSUBSTRATE 0 1\rLAYER 9 0 1\r"
                          "FITOPTIONS SEED 2\r")
            << "FITOPTIONS SEED 7"
            << QByteArray("FITOPTIONS SEED 7\rWAVELENGTH 1\rSUBSTRATE 0 1\rLAYER 9 0 1\r");
        // FITOPTIONS: the first line becomes the statement, later ones go.
        QTest::newRow("Fit Options added at the end")
            << QByteArray("LAYER 1 0 1\n") << "FITOPTIONS SEED 7"
            << QByteArray("LAYER 1 0 1\nFITOPTIONS SEED 7\n");
        QTest::newRow("Fit Options added after a last line without its end")
            << QByteArray("LAYER 1 0 1") << "FITOPTIONS SEED 7"
            << QByteArray("LAYER 1 0 1\nFITOPTIONS SEED 7\n");
        QTest::newRow("Fit Options replaced in place, CR LF kept")
            << QByteArray("A\r\n  fitoptions seed 1 # old\r\nB\r\n") << "FITOPTIONS GENERATIONS 20"
            << QByteArray("A\r\nFITOPTIONS GENERATIONS 20\r\nB\r\n");
        QTest::newRow("Fit Options: later lines go")
            << QByteArray("FITOPTIONS SEED 1\nA\nFITOPTIONS SEED 2\n") << "FITOPTIONS SEED 3"
            << QByteArray("FITOPTIONS SEED 3\nA\n");
        QTest::newRow("Fit Options: a comment naming it stays")
            << QByteArray("# FITOPTIONS SEED 1\n") << "FITOPTIONS SEED 2"
            << QByteArray("# FITOPTIONS SEED 1\nFITOPTIONS SEED 2\n");
        QTest::newRow("Fit Options: nothing set removes the lines")
            << QByteArray("A\nFITOPTIONS SEED 1\nB\n") << "FITOPTIONS" << QByteArray("A\nB\n");
        QTest::newRow("relaxation of a layer without its line")
            << plain << "RELAXATION 1 0.5" << plain + "RELAXATION 1 0.5\r\n";
    }

    void roundTrip() {
        QFETCH(QByteArray, before);
        QFETCH(QString, edit);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.txt"));
        xrdtest::writeTestFile(path, before);
        StructureFile file(path);
        QVERIFY(file.isRead());
        QCOMPARE(file.text().bytes(), before);
        const StructureFile::Edit e =
            file.edit([&](StructureText& t) { return applyEdit(t, edit); });
        QVERIFY2(e.result == StructureFile::Edit::Written, qPrintable(e.message));
        QCOMPARE(xrdtest::readTestFile(path), after);
        QCOMPARE(file.bytes(), after);
        // The reader agrees with the value written.
        const QStringList w = edit.split(QLatin1Char(' '));
        if (w[0] != QLatin1String("LAYER"))
            return;
        Config c;
        QVERIFY(c.load(file));
        QVERIFY(c.valid);
        const int layer = w[1].toInt();
        const int position = w[2].toInt();
        const Layer& l = c.layers.at(layer);
        const double read = position == StructureText::Monolayers   ? double(l.monolayers)
                            : position == StructureText::InFraction ? l.inFraction
                            : position == StructureText::AsFraction ? l.asFraction
                            : position == StructureText::EndWidth
                                ? l.endWidth
                                : file.text().layerArgument(layer, position).toDouble();
        QCOMPARE(read, w[3].toDouble());
    }

    // Another program saved the file between its reading and the edit: the edit goes into
    // the new text only when its LAYER lines are the ones shown.
    void changedOnDisk_data() {
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<bool>("written");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("a layer inserted before the edited one: refused")
            << QByteArray(kCommented).replace("SUBSTRATE 0 1\n", "SUBSTRATE 0 1\nLAYER 5 1 0\n")
            << false
            << QByteArray(kCommented).replace("SUBSTRATE 0 1\n", "SUBSTRATE 0 1\nLAYER 5 1 0\n");
        QTest::newRow("another layer edited: refused")
            << QByteArray(kCommented).replace("LAYER 20 ", "LAYER 21 ") << false
            << QByteArray(kCommented).replace("LAYER 20 ", "LAYER 21 ");
        QTest::newRow("a comment added: written into the new text")
            << QByteArray(kCommented) + "# note\n"
            << true << QByteArray(kCommented).replace("\t60 0 1", "\t61 0 1") + "# note\n";
    }

    void changedOnDisk() {
        QFETCH(QByteArray, saved);
        QFETCH(bool, written);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.txt"));
        xrdtest::writeTestFile(path, kCommented);
        StructureFile file(path);
        xrdtest::writeTestFile(path, saved);
        const StructureFile::Edit e = file.edit(
            [](StructureText& t) { return t.setLayerNumber(1, StructureText::Monolayers, 61); });
        QCOMPARE(e.result, written ? StructureFile::Edit::Written : StructureFile::Edit::Stale);
        QCOMPARE(xrdtest::readTestFile(path), after);
    }

    // A save landing between the writer's last reading and its rename is not replaced.
    void savedBeforeTheRename() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.txt"));
        xrdtest::writeTestFile(path, kCommented);
        const FileIdentity read = fileIdentity(path);
        SafeFile out(path);
        out.expectIdentity(read);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write("mine\n"), qint64(5));
        QVERIFY(QFile::remove(path));
        xrdtest::writeTestFile(path, "theirs\n");
        QVERIFY(!out.commit());
        QCOMPARE(xrdtest::readTestFile(path), QByteArray("theirs\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // Texts that cannot be written back byte for byte are never written.
    void notWritable_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::newRow("UTF-32") << QByteArray("\xFF\xFE\0\0L\0\0\0", 8);
        QTest::newRow("UTF-16 of an odd length") << utf16("LAYER 1 0 1\n", true) + 'x';
    }

    void notWritable() {
        QFETCH(QByteArray, before);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.txt"));
        xrdtest::writeTestFile(path, before);
        StructureFile file(path);
        FitSearchOptions o;
        o.population = 20;
        const StructureFile::Edit e = file.edit([&](StructureText& t) {
            setFitOptionsLine(t, o);
            return true;
        });
        QCOMPARE(e.result, StructureFile::Edit::Failed);
        QCOMPARE(xrdtest::readTestFile(path), before);
        QVERIFY(withFitOptionsLine(before, o).isEmpty());
    }

    void refusedEdit_data() {
        QTest::addColumn<int>("layer");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("token");
        QTest::newRow("no third layer") << 2 << 1 << "5";
        QTest::newRow("no position 12") << 0 << 12 << "5";
        QTest::newRow("a comment sign") << 0 << 1 << "5#";
        QTest::newRow("white space") << 0 << 1 << "5 6";
        QTest::newRow("empty") << 0 << 1 << "";
    }

    void refusedEdit() {
        QFETCH(int, layer);
        QFETCH(int, position);
        QFETCH(QString, token);
        StructureText text(kCommented);
        QVERIFY(!text.setLayerArgument(layer, position, token));
        QCOMPARE(text.bytes(), kCommented);
    }

    void notFinite() {
        StructureText text(kCommented);
        QVERIFY(!text.setLayerNumber(0, 2, std::nan("")));
        QVERIFY(!text.setFit(QStringLiteral("OFFSET"), 0, HUGE_VAL));
        QVERIFY(!text.setStatement(QStringLiteral("SCALE"), -HUGE_VAL));
        QCOMPARE(text.bytes(), kCommented);
    }

    void readArguments() {
        const StructureText text(kCommented);
        QCOMPARE(text.layerCount(), 2);
        QCOMPARE(text.layerArgument(0, StructureText::EndShape), QStringLiteral("L"));
        QCOMPARE(text.layerArgument(0, StructureText::EndAs), QStringLiteral("1"));
        // Left out, and behind the comment sign.
        QCOMPARE(text.layerArgument(1, StructureText::EndShape), QString());
        QCOMPARE(text.layerArgument(0, StructureText::StartShape), QString());
    }

    // FIT lines: changed in place (the last line of a target counts), added behind the last
    // FIT line, removed with their line ends.
    void fitEdit_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("target");
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<QByteArray>("after");

        const QByteArray base = "WAVELENGTH 1\r\nSUBSTRATE 0 1\r\nLAYER 10 0.5 1\r\n"
                                "fit  layer 1 n   5  15  # thickness\r\nREPEAT 2\r\n";
        QTest::newRow("upper bound only, CRLF") << base << "LAYER 1 N" << 5.0 << 20.0
                                                << QByteArray(base).replace("5  15  #", "5  20  #");
        QTest::newRow("added behind the last FIT line")
            << base << "layer 1 x" << 0.25 << 0.5
            << QByteArray(base).replace("thickness\r\n", "thickness\r\nFIT LAYER 1 X 0.25 0.5\r\n");
        QTest::newRow("added at the end, after a missing line end")
            << QByteArray("WAVELENGTH 1\nSUBSTRATE 0 1\nLAYER 10 0.5 1") << "OFFSET" << -0.01
            << 0.01
            << QByteArray("WAVELENGTH 1\nSUBSTRATE 0 1\nLAYER 10 0.5 1\nFIT OFFSET -0.01 0.01\n");
        QTest::newRow("the last of two lines for one target")
            << QByteArray("FIT OFFSET 0 1\nFIT OFFSET 0 2\n") << "OFFSET" << -1.0 << 2.0
            << QByteArray("FIT OFFSET 0 1\nFIT OFFSET -1 2\n");
        QTest::newRow("a malformed line is left alone")
            << QByteArray("FIT OFFSET 0 x\n") << "OFFSET" << 0.0 << 1.0
            << QByteArray("FIT OFFSET 0 x\nFIT OFFSET 0 1\n");
    }

    void fitEdit() {
        QFETCH(QByteArray, before);
        QFETCH(QString, target);
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(QByteArray, after);
        StructureText text(before);
        QVERIFY(text.setFit(target, min, max));
        QCOMPARE(text.bytes(), after);
        StructureText::Fit f;
        QVERIFY(text.fit(target, f));
        QCOMPARE(f.min, min);
        QCOMPARE(f.max, max);
    }

    void fitRemove_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("both lines of a target, CRLF")
            << QByteArray("FIT LAYER 2 Y 0 1\r\n# keep\r\nFIT OFFSET 0 1\r\nFIT LAYER 2 Y 0 .5\r\n")
            << "LAYER 2 Y" << 2 << QByteArray("# keep\r\nFIT OFFSET 0 1\r\n");
        QTest::newRow("last line without a line end")
            << QByteArray("REPEAT 2\nFIT SCALE 1 2") << "SCALE" << 1 << QByteArray("REPEAT 2");
        QTest::newRow("another layer's line stays")
            << QByteArray("FIT LAYER 1 N 1 2\n") << "LAYER 2 N" << 0
            << QByteArray("FIT LAYER 1 N 1 2\n");
    }

    void fitRemove() {
        QFETCH(QByteArray, before);
        QFETCH(QString, target);
        QFETCH(int, removed);
        QFETCH(QByteArray, after);
        StructureText text(before);
        QCOMPARE(text.removeFit(target), removed);
        QCOMPARE(text.bytes(), after);
    }

    void statement_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("the last line counts")
            << QByteArray("OFFSET 0.1\nOFFSET  0.2 # second\n")
            << QByteArray("OFFSET 0.1\nOFFSET  -0.0025 # second\n");
        QTest::newRow("added") << QByteArray("REPEAT 2\n")
                               << QByteArray("REPEAT 2\nOFFSET -0.0025\n");
        QTest::newRow("value missing") << QByteArray("offset\n") << QByteArray("offset -0.0025\n");
    }

    void statement() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        StructureText text(before);
        QVERIFY(text.setStatement(QStringLiteral("offset"), -0.0025));
        QCOMPARE(text.bytes(), after);
        QVERIFY(!text.setStatement(QStringLiteral("REPEAT"), 3));
    }

    void shortest_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 20.0 << "20";
        QTest::newRow("fraction") << 0.2545 << "0.2545";
        QTest::newRow("small") << 1e-5 << "1e-05";
        QTest::newRow("one third") << 1.0 / 3 << "0.3333333333333333";
        QTest::newRow("negative") << -0.0025 << "-0.0025";
    }

    void shortest() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(shortestNumber(value), text);
        QCOMPARE(text.toDouble(), value);
    }
};

QTEST_GUILESS_MAIN(TestStructureText)
#include "tst_structuretext.moc"
