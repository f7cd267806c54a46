#include "structure/config.h"
#include "structure/fitparameters.h"
#include "structure/fittedfile.h"
#include "tests/common/testfiles.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

// The extension fields that differ from their defaults, in a fixed order (instrument values to
// the last bit), and the FIT lines.
QString describe(const StructureExtensions& e) {
    QStringList out;
    if (!e.measuredFile.isEmpty())
        out << "measured=" + e.measuredFile + (e.measuredTwoTheta ? " 2theta" : "");
    const StructureExtensions d;
    const auto real = [&](const char* name, double v, double def, bool given) {
        if (v != def || given)
            out << QString("%1=%2").arg(name,
                                        QString::number(v, 'g', QLocale::FloatingPointShortest));
    };
    real("resolution", e.resolution, d.resolution, false);
    real("offset", e.offset, d.offset, false);
    real("scale", e.scale, d.scale, e.scaleGiven);
    real("background", e.background, d.background, e.backgroundGiven);
    if (e.model != d.model)
        out << "model=" + modelName(e.model);
    if (e.reflection != d.reflection && e.reflection.symmetric() &&
        e.reflection.grazing == Reflection::Incidence)
        out << QString("reflection=%1").arg(e.reflection.l);
    else if (e.reflection != d.reflection)
        out << QString("reflection=%1 %2 %3 %4")
                   .arg(e.reflection.h)
                   .arg(e.reflection.k)
                   .arg(e.reflection.l)
                   .arg(e.reflection.grazing == Reflection::Exit ? "exit" : "incidence");
    for (const LayerRelaxation& r : e.relaxations)
        out << QString("relax=%1:%2").arg(r.layer).arg(r.fraction);
    for (const FitParameter& p : e.fits)
        out << QString("fit=%1:%2:%3@%4").arg(p.text).arg(p.min).arg(p.max).arg(p.lineNumber);
    return out.join(' ');
}

// Every field a fit can change, to the last bit, one layer a line: equal dumps are equal
// structures, and QCOMPARE shows where they part.
QString dump(const Config& c) {
    QString out = QString::asprintf("valid %d repeat %d ", c.valid, c.repeat) + describe(c.ext);
    for (const Layer& l : c.layers)
        out += QString::asprintf("\n%d %.17g %.17g | %.17g %.17g | %.17g %.17g", l.monolayers,
                                 l.inFraction, l.asFraction, l.endInFraction, l.endAsFraction,
                                 l.startInFraction, l.startAsFraction);
    return out;
}

std::vector<double> toStd(const QVector<double>& v) {
    return std::vector<double>(v.begin(), v.end());
}

} // namespace

class TestExtensions : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    Config& load(Config& c, const QByteArray& content, const QString& name = "s.txt") {
        c.load(xrdtest::writeTestFile(dir_, name, content));
        return c;
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    // Lines after "SUBSTRATE 1 0" and "LAYER 10 0.5 1", so line numbers start at 3.
    void statements_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("problemLines");
        QTest::addColumn<QString>("noteLines"); // a skipped keyword, a statement replaced
        const auto row = [](const char* name, const char* lines, const char* expected,
                            const char* problems, const char* notes = "") {
            QTest::newRow(name) << QByteArray(lines) << QString(expected) << QString(problems)
                                << QString(notes);
        };
        row("none", "# LAYER 1 2 3\nLAYERS 1\n", "", "", "4");
        row("measured quoted, 2theta in any case", "measured \"my scan.xrdml\" 2Theta",
            "measured=my scan.xrdml 2theta", "");
        row("last measured wins, flag too", "MEASURED a.xy 2theta\nMEASURED b.xy", "measured=b.xy",
            "", "4");
        row("measured without name, with unknown word", "MEASURED # a.xy\nMEASURED a.xy sideways",
            "", "3 4");
        row("every statement, any case, last wins",
            "Resolution 0.005\noffset -0.012\nSCALE 2.5e4\nBACKGROUND 0\nMODEL kinematical\n"
            "model DYNAMICAL\nREFLECTION 2",
            "resolution=0.005 offset=-0.012 scale=25000 background=0 model=dynamical "
            "reflection=2",
            "", "8");
        row("bad resolutions ignored",
            "RESOLUTION 0.004\nRESOLUTION 0\nRESOLUTION -1\nRESOLUTION nan\nRESOLUTION\n"
            "RESOLUTION 0.005deg",
            "resolution=0.004", "4 5 6 7 8");
        row("bad offset, scale, background", "OFFSET inf\nSCALE 0\nSCALE -1\nBACKGROUND x", "",
            "3 4 5 6");
        row("unknown models", "MODEL fast\nMODEL", "", "3 4");
        row("reflections not positive even integers",
            "REFLECTION 3\nREFLECTION 0\nREFLECTION -4\nREFLECTION 4.0\nREFLECTION", "",
            "3 4 5 6 7");
        row("every FIT target, any case",
            "fit layer 1 n 5 20\nFit Layer 1 x 0.4 0.6\nFIT LAYER 1 Y 0.9 1\nFIT offset -0.1 0.1\n"
            "FIT Resolution 0.001 0.01\nFIT SCALE 1 10\nFIT BACKGROUND 0 5",
            "fit=LAYER 1 N:5:20@3 fit=LAYER 1 X:0.4:0.6@4 fit=LAYER 1 Y:0.9:1@5 "
            "fit=OFFSET:-0.1:0.1@6 fit=RESOLUTION:0.001:0.01@7 fit=SCALE:1:10@8 "
            "fit=BACKGROUND:0:5@9",
            "");
        row("a second FIT on a target replaces the first in its place",
            "FIT LAYER 1 X 0.1 0.9\nFIT OFFSET 0 1\nFIT LAYER 1 X 0.4 0.6",
            "fit=LAYER 1 X:0.4:0.6@5 fit=OFFSET:0:1@4", "", "5");
        row("FIT errors",
            "FIT THICKNESS 1 2\nFIT LAYER 1 Z 0 1\nFIT LAYER 0 X 0 1\nFIT LAYER 1.0 X 0 1\n"
            "FIT OFFSET 0.1\nFIT OFFSET 0.1 abc\nFIT OFFSET 0 # 1\nFIT\nFIT LAYER",
            "", "3 4 5 6 7 8 9 10 11");
        row("asymmetric reflections and geometries",
            "REFLECTION 2 2 4\nGEOMETRY Exit\nGEOMETRY\nGEOMETRY grazing\nREFLECTION -1 1 5",
            "reflection=-1 1 5 exit", "5 6", "7");
        row("REFLECTION l keeps meaning (00l) and resets h and k", "REFLECTION 2 2 4\nREFLECTION 6",
            "reflection=6", "", "4");
        row("bad REFLECTION h k l",
            "REFLECTION 2 1 4\nREFLECTION 2 2 0\nREFLECTION 2 2 -4\nREFLECTION 2 2\n"
            "REFLECTION 2 2 4 1\nREFLECTION 2 x 4\nREFLECTION 2 2 400\nREFLECTION 0 0 0\n"
            "REFLECTION -2147483648 0 4",
            "", "3 4 5 6 7 8 9 10 11");
        row("RELAXATION per layer, the last line of a layer counts",
            "RELAXATION 1 0.25\nRELAXATION 1 1\nRELAXATION 1 0\nFIT LAYER 1 R 0 1",
            "relax=1:0 fit=LAYER 1 R:0:1@6", "");
        row("bad RELAXATION lines",
            "RELAXATION 0 0.5\nRELAXATION 1 1.5\nRELAXATION 1 -0.1\nRELAXATION 1 nan\n"
            "RELAXATION 1\nRELAXATION x 0.5\nRELAXATION 2 0.5\nRELAXATION 1.5 0.2",
            "", "3 4 5 6 7 8 10 9"); // a missing layer is found after the last line
        row("FIT LAYER i R", "FIT LAYER 1 r 0.2 0.8", "fit=LAYER 1 R:0.2:0.8@3", "");
        row("NaN bound kept for fitProblem", "FIT OFFSET nan 1", "fit=OFFSET:nan:1@3", "");
        row("CR-only line ends count as lines", "RESOLUTION 0\rMODEL x\r\nREFLECTION 6",
            "reflection=6", "3 4");
    }

    void statements() {
        QFETCH(QByteArray, lines);
        QFETCH(QString, expected);
        QFETCH(QString, problemLines);
        QFETCH(QString, noteLines);
        Config c;
        QSignalSpy spy(&c, &Config::log);
        const QString path =
            xrdtest::writeTestFile(dir_, "s.txt", "SUBSTRATE 1 0\nLAYER 10 0.5 1\n" + lines);
        QVERIFY(c.load(path));
        QVERIFY(c.valid); // malformed extension lines never touch validity
        QStringList notes;
        for (int i = 1; i < spy.count(); ++i) {
            const QRegularExpressionMatch m = QRegularExpression("^Note \\[(.*)\\] line (\\d+): ")
                                                  .match(spy.at(i).at(0).toString());
            QVERIFY2(m.hasMatch() && m.captured(1) == path, qPrintable(spy.at(i).at(0).toString()));
            notes << m.captured(2);
        }
        QCOMPARE(notes.join(' '), noteLines);
        QCOMPARE(describe(c.ext), expected);
        QStringList found;
        for (const QString& p : c.ext.problems) {
            const QRegularExpressionMatch m =
                QRegularExpression("^Ignored \\[(.*)\\] line (\\d+): ").match(p);
            QVERIFY2(m.hasMatch() && m.captured(1) == path, qPrintable(p));
            found << m.captured(2);
        }
        QCOMPARE(found.join(' '), problemLines);
    }

    void invalidStructureDropsExtensions() {
        Config c;
        QVERIFY(!load(c, "MODEL dynamical\nFIT OFFSET 0 1\nMODEL x\nSUBSTRATE 1 0\n").valid);
        QCOMPARE(describe(c.ext), QString());
        QVERIFY(c.ext.problems.isEmpty());
    }

    void endlessMalformedLinesStayListedBriefly() {
        Config c;
        QVERIFY(load(c, "SUBSTRATE 1 0\nLAYER 1 1 0\n" + QByteArray("MODEL x\n").repeated(100000))
                    .valid);
        QCOMPARE(c.ext.problems.size(), 51);
        QVERIFY(c.ext.problems.last().contains("from line 53 on"));
    }

    // The MEASURED lines after "SUBSTRATE 1 0" and "LAYER 10 0.5 1" (lines from 3): the scans
    // kept, one "file axis scan window reflection @line" each, and the problems, each as
    // "line: text after 'MEASURED '".
    void measuredLines_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("scans");
        QTest::addColumn<QString>("problems");
        const auto row = [](const char* name, const char* lines, const char* scans,
                            const char* problems = "") {
            QTest::newRow(name) << QByteArray(lines) << QString(scans) << QString(problems);
        };
        row("plain", "MEASURED a.xy", "a.xy any 0 - (004) @3");
        row("plain at the structure's reflection, written after it", "MEASURED a.xy\nREFLECTION 2",
            "a.xy any 0 - (002) @3");
        row("every choice, any order and case",
            "MEASURED \"my scan.ras\" window 30 35.5 Scan 2 OMEGA",
            "my scan.ras omega 2 30:35.5 (004) @3");
        row("2theta as before", "MEASURED a.xy 2theta", "a.xy 2theta 0 - (004) @3");
        row("two reflections, file order kept",
            "MEASURED b.xrdml REFLECTION 2 2 4 GEOMETRY exit\nMEASURED a.xy",
            "b.xrdml any 0 - (224) grazing exit @3; a.xy any 0 - (004) @4");
        row("incidence and exit of one reflection are two scans",
            "MEASURED i.xy REFLECTION 1 1 5 GEOMETRY incidence\n"
            "MEASURED e.xy REFLECTION 1 1 5 GEOMETRY EXIT",
            "i.xy any 0 - (115) grazing incidence @3; e.xy any 0 - (115) grazing exit @4");
        row("negative and two-digit indices",
            "MEASURED n.xy REFLECTION -2 2 4 GEOMETRY exit\n"
            "MEASURED t.xy REFLECTION 0 0 12",
            "n.xy any 0 - (-2 2 4) grazing exit @3; t.xy any 0 - (0 0 12) @4");
        row("REFLECTION l alone is (00l)", "MEASURED a.xy REFLECTION 2", "a.xy any 0 - (002) @3");
        row("a later line at the same written reflection replaces the earlier in its place",
            "MEASURED a.xy\nMEASURED b.xy REFLECTION 2 2 4 GEOMETRY exit\nMEASURED c.xy",
            "c.xy any 0 - (004) @5; b.xy any 0 - (224) grazing exit @4");
        row("one named (004) and one left to the structure's (004): the earlier stays",
            "MEASURED a.xy REFLECTION 0 0 4\nMEASURED b.xy", "a.xy any 0 - (004) @3",
            "4: names a second scan at (004) (line 3 names one); one scan per reflection.");
        row("no file", "MEASURED", "", "3: needs the name of a file.");
        row("unknown word", "MEASURED a.xy chi", "",
            "3: does not know \"chi\" after the file name (2theta, omega, SCAN n, WINDOW "
            "from to, REFLECTION h k l, GEOMETRY incidence|exit).");
        row("two axes", "MEASURED a.xy 2theta omega", "", "3: names the axis twice.");
        row("scan 0, scan of no number, scan missing",
            "MEASURED a.xy SCAN 0\nMEASURED a.xy SCAN two\nMEASURED a.xy SCAN", "",
            "3: SCAN needs the number of one scan of the file, counted from 1. "
            "4: SCAN needs the number of one scan of the file, counted from 1. "
            "5: SCAN needs the number of one scan of the file, counted from 1.");
        row("windows backwards, empty, not numbers, half",
            "MEASURED a.xy WINDOW 35 30\nMEASURED a.xy WINDOW 30 30\nMEASURED a.xy WINDOW 30 "
            "nan\nMEASURED a.xy WINDOW 30",
            "",
            "3: WINDOW needs two angles in degrees, the lower first. "
            "4: WINDOW needs two angles in degrees, the lower first. "
            "5: WINDOW needs two angles in degrees, the lower first. "
            "6: WINDOW needs two angles in degrees, the lower first.");
        row("reflections the zincblende lattice does not give",
            "MEASURED a.xy REFLECTION 1 2 4 GEOMETRY exit\nMEASURED a.xy REFLECTION 2 2 "
            "GEOMETRY exit\nMEASURED a.xy REFLECTION 2 2 -4 GEOMETRY exit\n"
            "MEASURED a.xy REFLECTION 3\nMEASURED a.xy REFLECTION 0 0 0",
            "",
            "3: REFLECTION needs h k l (l above 0; all even or all odd, as the zincblende lattice "
            "reflects) or an even l for (00l). "
            "4: REFLECTION needs h k l (l above 0; all even or all odd, as the zincblende lattice "
            "reflects) or an even l for (00l). "
            "5: REFLECTION needs h k l (l above 0; all even or all odd, as the zincblende lattice "
            "reflects) or an even l for (00l). "
            "6: REFLECTION needs h k l (l above 0; all even or all odd, as the zincblende lattice "
            "reflects) or an even l for (00l). "
            "7: REFLECTION needs h k l (l above 0; all even or all odd, as the zincblende lattice "
            "reflects) or an even l for (00l).");
        row("asymmetric without its side", "MEASURED a.xy REFLECTION 2 2 4", "",
            "3: REFLECTION 2 2 4 is asymmetric: GEOMETRY incidence or exit must say on which "
            "side the beam grazes.");
        row("a side without an asymmetric reflection, or a side unknown",
            "MEASURED a.xy GEOMETRY exit\nMEASURED a.xy REFLECTION 0 0 4 GEOMETRY exit\n"
            "MEASURED a.xy REFLECTION 2 2 4 GEOMETRY grazing",
            "",
            "3: GEOMETRY belongs to an asymmetric REFLECTION (h or k not 0). "
            "4: GEOMETRY belongs to an asymmetric REFLECTION (h or k not 0). "
            "5: GEOMETRY must be incidence or exit.");
    }

    void measuredLines() {
        QFETCH(QByteArray, lines);
        QFETCH(QString, scans);
        QFETCH(QString, problems);
        Config c;
        QVERIFY(load(c, "SUBSTRATE 1 0\nLAYER 10 0.5 1\n" + lines).valid);
        QStringList found;
        for (const MeasuredSpec& m : c.ext.measured) {
            const char* axis[] = {"any", "2theta", "omega"};
            found << QString("%1 %2 %3 %4 %5 @%6")
                         .arg(m.file, axis[m.axis])
                         .arg(m.scanNumber)
                         .arg(m.windowGiven ? QString("%1:%2").arg(m.from).arg(m.to) : "-")
                         .arg(reflectionText(m.reflection))
                         .arg(m.lineNumber);
        }
        QCOMPARE(found.join("; "), scans);
        QCOMPARE(c.ext.measuredFile,
                 c.ext.measured.isEmpty() ? QString() : c.ext.measured.first().file);
        QStringList complaints;
        for (const QString& p : c.ext.problems)
            complaints << p.section(" line ", 1)
                              .replace(QRegularExpression("^(\\d+): MEASURED "), "\\1: ");
        QCOMPARE(complaints.join(' '), problems);
    }

    // The choices a MEASURED line names come back from the words measuredChoicesText writes,
    // which the window and the batch tool pass along with a scan named instead.
    void measuredChoicesRoundTrip_data() {
        QTest::addColumn<QString>("words");
        QTest::newRow("none") << "";
        QTest::newRow("all") << "omega SCAN 3 WINDOW 30.25 35 REFLECTION 2 2 4 GEOMETRY exit";
        QTest::newRow("negative window") << "2theta WINDOW -1.5 2.125";
        QTest::newRow("(00l)") << "REFLECTION 0 0 6";
    }

    void measuredChoicesRoundTrip() {
        QFETCH(QString, words);
        MeasuredSpec spec;
        QString problem;
        QVERIFY(readMeasuredChoices(words.split(' ', Qt::SkipEmptyParts), spec, problem));
        QCOMPARE(measuredChoicesText(spec), words);
    }

    void measuredPath_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected"); // relative to the structure file's folder
        QTest::newRow("none") << QByteArray() << QString();
        QTest::newRow("beside") << QByteArray("MEASURED scan.xy") << "sub/scan.xy";
        QTest::newRow("up and down") << QByteArray("MEASURED ../data/./scan.xy") << "data/scan.xy";
        QTest::newRow("absolute") << QByteArray("MEASURED /tmp/x/../scan.xy") << "/tmp/scan.xy";
    }

    void measuredPath() {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        QVERIFY(QDir(dir_.path()).mkpath("sub"));
        Config c;
        QVERIFY(load(c, "SUBSTRATE 1 0\nLAYER 1 1 0\n" + line, "sub/s.txt").valid);
        const QString want = expected.isEmpty() || expected.startsWith('/')
                                 ? expected
                                 : QDir(dir_.path()).absoluteFilePath(expected);
        QCOMPARE(::measuredPath(c), want);
    }

    // After "SUBSTRATE 1 0", "LAYER 10 0.5 1" and "LAYER 20 0.25 0.75": why no fit can start.
    void fitProblems_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("problem"); // the part after "No fit: [file] "
        const auto row = [](const char* name, const QByteArray& lines, const char* problem) {
            QTest::newRow(name) << lines << QString(problem);
        };
        row("no FIT lines", "OFFSET 1", "");
        row("all in range",
            "FIT LAYER 1 N 10 10\nFIT LAYER 2 Y 0 1\nFIT SCALE 10 20\nFIT OFFSET -1 1", "");
        row("period too long", QByteArray("LAYER 1 1 0\n").repeated(9999) + "FIT OFFSET 0 1",
            "has 10001 LAYER lines; a fit works on at most 10000.");
        row("missing layer", "FIT LAYER 3 X 0 1",
            "line 4: FIT LAYER 3 X names layer 3, but the last LAYER line is layer 2.");
        row("min above max", "FIT OFFSET 0.1 -0.1",
            "line 4: FIT OFFSET: the lower bound 0.1 lies above the upper bound -0.1.");
        row("NaN bound", "FIT OFFSET nan 1", "line 4: FIT OFFSET: a bound is not a finite number.");
        row("infinite bound", "FIT BACKGROUND 0 inf",
            "line 4: FIT BACKGROUND: a bound is not a finite number.");
        row("range wider than the largest number", "FIT BACKGROUND -1e308 1e308",
            "line 4: FIT BACKGROUND: the range from -1e+308 to 1e+308 is too wide to search.");
        row("thickness beyond a whole number", "FIT LAYER 1 N 1 1e308",
            "line 4: FIT LAYER 1 N: the upper bound 1e+308 lies above 2147483647, the largest "
            "whole number a layer holds.");
        row("fraction beyond 1", "FIT LAYER 1 X 0.4 1.2",
            "line 4: FIT LAYER 1 X: a fraction must stay within 0 to 1.");
        row("relaxation beyond 1", "FIT LAYER 1 R 0 1.5",
            "line 4: FIT LAYER 1 R: a relaxation must stay within 0 to 1.");
        row("relaxation start outside", "RELAXATION 2 0.5\nFIT LAYER 2 R 0.6 1",
            "line 5: FIT LAYER 2 R: the start value 0.5 lies outside 0.6 to 1.");
        row("negative thickness", "FIT LAYER 1 N -1 12",
            "line 4: FIT LAYER 1 N: a thickness cannot be negative.");
        row("resolution reaching 0", "FIT RESOLUTION 0 0.01",
            "line 4: FIT RESOLUTION: the resolution must stay above 0.");
        row("thickness outside", "FIT LAYER 2 N 21 30",
            "line 4: FIT LAYER 2 N: the start value 20 lies outside 21 to 30.");
        row("given scale outside, first problem wins", "SCALE 5\nFIT SCALE 10 20\nFIT OFFSET 1 0",
            "line 5: FIT SCALE: the start value 5 lies outside 10 to 20.");
        row("default resolution outside", "FIT RESOLUTION 0.004 0.01",
            "line 4: FIT RESOLUTION: the start value 0.003 lies outside 0.004 to 0.01.");
    }

    void fitProblems() {
        QFETCH(QByteArray, lines);
        QFETCH(QString, problem);
        Config c;
        load(c, "SUBSTRATE 1 0\nLAYER 10 0.5 1\nLAYER 20 0.25 0.75\n" + lines);
        QCOMPARE(fitProblem(c),
                 problem.isEmpty() ? problem : QString("No fit: [%1] %2").arg(c.fileName, problem));
    }

    void startValues() {
        Config c;
        load(c,
             "SUBSTRATE 1 0\nLAYER 10 0.5 1\nLAYER 20 0.25 0.75\nRESOLUTION 0.004\nBACKGROUND 2\n"
             "FIT LAYER 2 N 0 40\nFIT LAYER 2 X 0 1\nFIT LAYER 1 Y 0 1\nFIT OFFSET -1 1\n"
             "FIT RESOLUTION 0.001 0.01\nFIT SCALE 10 20\nFIT BACKGROUND 0 5\nFIT LAYER 3 X 0 1\n");
        const std::vector<double> v = fitStartValues(c);
        QCOMPARE(v.size(), size_t(8));
        const double want[] = {20, 0.25, 1, 0, 0.004, 15, 2};
        for (int k = 0; k < 7; ++k)
            QCOMPARE(v[size_t(k)], want[k]);
        QVERIFY(std::isnan(v[7])); // no layer 3

        // A relaxation starts from its RELAXATION line, 0 without one; a value put in by the
        // fit is read back, and a layer without a line gets one.
        Config r;
        load(r, "SUBSTRATE 1 0\nLAYER 10 0.5 1\nLAYER 20 0.25 0.75\nRELAXATION 2 0.4\n"
                "FIT LAYER 2 R 0 1\nFIT LAYER 1 R 0 1\n");
        QCOMPARE(fitStartValues(r), (std::vector<double>{0.4, 0.0}));
        Config moved;
        applyFitValues(r, {0.7, 0.125}, moved);
        QVERIFY(moved.valid);
        QCOMPARE(fitStartValues(moved), (std::vector<double>{0.7, 0.125}));
        QCOMPARE(fitStartValues(r), (std::vector<double>{0.4, 0.0})); // the base is untouched
    }

    // The neighbour rule, worked by hand: the LAYER lines after the fit are written out as a
    // user would, and loading them must give the structure that applyFitValues makes.
    void neighbourRule_data() {
        QTest::addColumn<QByteArray>("layers");
        QTest::addColumn<int>("repeat");
        QTest::addColumn<QByteArray>("fits");
        QTest::addColumn<QVector<double>>("values");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const char* layers, int repeat, const char* fits,
                            QVector<double> values, const char* expected) {
            QTest::newRow(name) << QByteArray(layers) << repeat << QByteArray(fits) << values
                                << QByteArray(expected);
        };
        const char* pair = "LAYER 10 0.2 1 L 2 0.5 1 L 2 0.5 1\nLAYER 20 0.5 1 L 2 0.2 1 L 2 0.2 1";
        row("two layers, periodic: the other layer is before and after", pair, 10,
            "FIT LAYER 1 X 0 1", {0.3},
            "LAYER 10 0.3 1 L 2 0.5 1 L 2 0.5 1\nLAYER 20 0.5 1 L 2 0.3 1 L 2 0.3 1");
        row("two layers, once: the surface is after the second", pair, 1, "FIT LAYER 1 X 0 1",
            {0.3}, "LAYER 10 0.3 1 L 2 0.5 1 L 2 0.5 1\nLAYER 20 0.5 1 L 2 0.2 1 L 2 0.3 1");
        row("two layers, both moved, either order", pair, 10,
            "FIT LAYER 2 X 0 1\nFIT LAYER 1 X 0 1", {0.6, 0.1},
            "LAYER 10 0.1 1 L 2 0.6 1 L 2 0.6 1\nLAYER 20 0.6 1 L 2 0.1 1 L 2 0.1 1");
        const char* well = "LAYER 30 1 0 A 0 1 0.65 A 0 1 0\nLAYER 24 0.7 0.65 P 6 1 0 H 5 1 0\n"
                           "LAYER 30 1 0 A 0 1 0 A 0 1 0.65";
        row("well, periodic: barrier 1 moves into barrier 3 and the well's start, not its end",
            well, 5, "FIT LAYER 1 X 0.5 1", {0.95},
            "LAYER 30 0.95 0 A 0 1 0.65 A 0 1 0\nLAYER 24 0.7 0.65 P 6 1 0 H 5 0.95 0\n"
            "LAYER 30 1 0 A 0 0.95 0 A 0 1 0.65");
        row("well, once: no layer before the first", well, 1, "FIT LAYER 1 X 0.5 1", {0.95},
            "LAYER 30 0.95 0 A 0 1 0.65 A 0 1 0\nLAYER 24 0.7 0.65 P 6 1 0 H 5 0.95 0\n"
            "LAYER 30 1 0 A 0 1 0 A 0 1 0.65");
        row("well As moves into both barriers, its own targets stay", well, 1, "FIT LAYER 2 Y 0 1",
            {0.6},
            "LAYER 30 1 0 A 0 1 0.6 A 0 1 0\nLAYER 24 0.7 0.6 P 6 1 0 H 5 1 0\n"
            "LAYER 30 1 0 A 0 1 0 A 0 1 0.6");
        row("unequal and missing targets stay", "LAYER 10 0 1\nLAYER 20 0.5 1 L 2 0.25 1", 10,
            "FIT LAYER 1 X 0 1", {0.1}, "LAYER 10 0.1 1\nLAYER 20 0.5 1 L 2 0.25 1");
        row("single layer: its own targets stay", "LAYER 10 0.2 1 L 2 0.2 1 L 2 0.2 1", 10,
            "FIT LAYER 1 X 0 1", {0.3}, "LAYER 10 0.3 1 L 2 0.2 1 L 2 0.2 1");
        row("thickness: half away from 0, never below 0 nor beyond the integers", well, 5,
            "FIT LAYER 1 N 0 40\nFIT LAYER 2 N 0 40\nFIT LAYER 3 N 0 40", {12.5, -3, 1e300},
            "LAYER 13 1 0 A 0 1 0.65 A 0 1 0\nLAYER 0 0.7 0.65 P 6 1 0 H 5 1 0\n"
            "LAYER 2147483647 1 0 A 0 1 0 A 0 1 0.65");
    }

    void neighbourRule() {
        QFETCH(QByteArray, layers);
        QFETCH(int, repeat);
        QFETCH(QByteArray, fits);
        QFETCH(QVector<double>, values);
        QFETCH(QByteArray, expected);
        const QByteArray head = "SUBSTRATE 1 0\nREPEAT " + QByteArray::number(repeat) + "\n";
        Config base, want, got;
        QVERIFY(load(base, head + layers + "\n" + fits, "base.txt").valid);
        QVERIFY(load(want, head + expected, "want.txt").valid);
        applyFitValues(base, toStd(values), got);
        want.ext = got.ext; // only the layers are compared
        QCOMPARE(dump(got), dump(want));
    }

    void valuesThatMakeNoStructure_data() {
        QTest::addColumn<QVector<double>>("values");
        QTest::newRow("too few") << QVector<double>{0.3};
        QTest::newRow("too many") << QVector<double>{0.3, 0.001, 2};
        QTest::newRow("NaN") << QVector<double>{qQNaN(), 0.001};
        QTest::newRow("infinite") << QVector<double>{0.3, qInf()};
    }

    void valuesThatMakeNoStructure() {
        QFETCH(QVector<double>, values);
        Config base, out;
        load(base, "SUBSTRATE 1 0\nLAYER 10 0.2 1\nFIT LAYER 1 X 0 1\nFIT OFFSET -1 1\n");
        applyFitValues(base, toStd(values), out);
        QVERIFY(!out.valid);
    }

    // The text written for a fit, to the character, and loading it back. Both texts are given
    // with LF and take the row's line end.
    void fittedText_data() {
        QTest::addColumn<QString>("original");
        QTest::addColumn<QVector<double>>("values"); // each with sigma 0.01, the first at its bound
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("eol");
        const QString header = "# agreement before: 12.5\n# agreement after: 3.25\n# model: ";

        QTest::newRow("layers, neighbours, an instrument line replaced and one added; CR LF")
            << "# well\nSUBSTRATE 1 0\nLAYER 10  0.2  1   L 2 0.5 1   L 2 0.5 1   # barrier\n"
               "LAYER 20  0.5  1   L 2 0.2 1   L 2 0.2 1\nREPEAT 10\nOFFSET 0.01 # old\n"
               "FIT LAYER 1 X 0.1 0.4\nFIT LAYER 2 N 10 30\nFIT OFFSET -0.1 0.1\n"
               "FIT RESOLUTION 0.001 0.01\n"
            << QVector<double>{0.2345678, 23.4, -0.0123, 0.0045}
            << header + "basic\n# fitted LAYER 1 X: 0.234568 ± 0.01 at bound\n"
                        "# fitted LAYER 2 N: 23 ± 0.01\n# fitted OFFSET: -0.0123 ± 0.01\n"
                        "# fitted RESOLUTION: 0.0045 ± 0.01\n"
                        "# well\nSUBSTRATE 1 0\n"
                        "LAYER 10  0.234568  1   L 2 0.5 1   L 2 0.5 1   # barrier\n"
                        "LAYER 23  0.5  1   L 2 0.234568 1   L 2 0.234568 1\nREPEAT 10\n"
                        "OFFSET -0.0123 # old\nFIT LAYER 1 X 0.1 0.4\nFIT LAYER 2 N 10 30\n"
                        "FIT OFFSET -0.1 0.1\nFIT RESOLUTION 0.001 0.01\nRESOLUTION 0.0045\n"
            << "\r\n";
        QTest::newRow("refit: old header replaced; missing token appended; no final line end")
            << "\ufeff# agreement before: 9\n# agreement after: 8\n# model: basic\n"
               "# fitted LAYER 1 X: 0.3 ± 0.1\nSUBSTRATE 1 0\nMODEL dynamical\nlayer 10\n"
               "FIT LAYER 1 X 0 1\nFIT SCALE 1 3"
            << QVector<double>{0.25, 2}
            << header + "dynamical\n# fitted LAYER 1 X: 0.25 ± 0.01 at bound\n"
                        "# fitted SCALE: 2 ± 0.01\nSUBSTRATE 1 0\nMODEL dynamical\nlayer 10 0.25\n"
                        "FIT LAYER 1 X 0 1\nFIT SCALE 1 3\nSCALE 2\n"
            << "\r";
        QTest::newRow("relaxations: the kept line replaced, a new one appended")
            << "SUBSTRATE 1 0\nLAYER 10 0.2\nLAYER 10 0.1\nRELAXATION 1 0.9\n"
               "RELAXATION 1 0.5 # kept\nFIT LAYER 1 R 0 1\nFIT LAYER 2 R 0 1\n"
            << QVector<double>{0.25, 0.75}
            << header + "basic\n# fitted LAYER 1 R: 0.25 ± 0.01 at bound\n"
                        "# fitted LAYER 2 R: 0.75 ± 0.01\nSUBSTRATE 1 0\nLAYER 10 0.2\n"
                        "LAYER 10 0.1\nRELAXATION 1 0.9\nRELAXATION 1 0.25 # kept\n"
                        "FIT LAYER 1 R 0 1\nFIT LAYER 2 R 0 1\nRELAXATION 2 0.75\n"
            << "\n";
        QTest::newRow("quoted tokens keep their quotes; an unclosed one is closed")
            << "SUBSTRATE 1 0\nLAYER 10 \"0.2\"\nLAYER 5 \"0.3\nFIT LAYER 1 X 0 1\n"
               "FIT LAYER 2 Y 0 1\n"
            << QVector<double>{0.25, 0.5}
            << header + "basic\n# fitted LAYER 1 X: 0.25 ± 0.01 at bound\n"
                        "# fitted LAYER 2 Y: 0.5 ± 0.01\nSUBSTRATE 1 0\nLAYER 10 \"0.25\"\n"
                        "LAYER 5 \"0.3\" 0.5\nFIT LAYER 1 X 0 1\nFIT LAYER 2 Y 0 1\n"
            << "\n";
    }

    void fittedText() {
        QFETCH(QString, original);
        QFETCH(QVector<double>, values);
        QFETCH(QString, expected);
        QFETCH(QString, eol);
        original.replace("\n", eol);
        expected.replace("\n", eol);
        Config base, reloaded, want;
        QVERIFY(load(base, original.toUtf8(), "fit.txt").valid);
        std::vector<FittedValue> fitted;
        std::vector<double> written; // the values as the text gives them
        for (double v : values) {
            fitted.push_back({v, 0.01, fitted.empty()});
            written.push_back(QString::number(v, 'g', 6).toDouble());
        }
        const QString text = fittedStructureText(original, base, fitted, 12.5, 3.25);
        QCOMPARE(text, expected);
        QVERIFY(load(reloaded, text.toUtf8(), "fitted.txt").valid);
        applyFitValues(base, written, want);
        want.ext.fits = reloaded.ext.fits; // the same lines, moved down by the header
        QCOMPARE(dump(reloaded), dump(want));
        QCOMPARE(reloaded.ext.problems, QStringList());
    }

    void fittedTextRefusals_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("sigma");
        QTest::addColumn<double>("agreement");
        const QString file = "SUBSTRATE 1 0\nLAYER 10 0.2 1\nFIT LAYER 1 X 0 1\n";
        QTest::newRow("accepted") << file << 0.3 << 0.01 << 1.0;
        QTest::newRow("NaN value") << file << qQNaN() << 0.01 << 1.0;
        QTest::newRow("infinite sigma") << file << 0.3 << qInf() << 1.0;
        QTest::newRow("NaN agreement") << file << 0.3 << 0.01 << qQNaN();
        QTest::newRow("layer line edited since the load")
            << QString(file).replace("0.2", "0.21") << 0.3 << 0.01 << 1.0;
        QTest::newRow("layer line added since the load") << file + "LAYER 1 1 0\n"
                                                         << 0.3 << 0.01 << 1.0;
    }

    void fittedTextRefusals() {
        QFETCH(QString, text);
        QFETCH(double, value);
        QFETCH(double, sigma);
        QFETCH(double, agreement);
        Config base;
        load(base, "SUBSTRATE 1 0\nLAYER 10 0.2 1\nFIT LAYER 1 X 0 1\n");
        const QString out = fittedStructureText(text, base, {{value, sigma, false}}, agreement, 1);
        QCOMPARE(out.isEmpty(), QString(QTest::currentDataTag()) != "accepted");
    }
};

QTEST_GUILESS_MAIN(TestExtensions)
#include "tst_extensions.moc"
