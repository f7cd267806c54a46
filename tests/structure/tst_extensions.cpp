#include "../common/testfiles.h"
#include "config.h"
#include "fitparameters.h"
#include "fittedfile.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

// The extension fields that differ from their defaults, in a fixed order, and the FIT lines.
QString describe(const StructureExtensions& e) {
    QStringList out;
    if (!e.measuredFile.isEmpty())
        out << "measured=" + e.measuredFile + (e.measuredTwoTheta ? " 2theta" : "");
    const StructureExtensions d;
    const auto real = [&](const char* name, double v, double def, bool given) {
        if (v != def || given)
            out << QString("%1=%2").arg(name).arg(v);
    };
    real("resolution", e.resolution, d.resolution, false);
    real("offset", e.offset, d.offset, false);
    real("scale", e.scale, d.scale, e.scaleGiven);
    real("background", e.background, d.background, e.backgroundGiven);
    if (e.model != d.model)
        out << "model=" + modelName(e.model);
    if (e.reflection != d.reflection)
        out << QString("reflection=%1").arg(e.reflection);
    for (const FitParameter& p : e.fits)
        out << QString("fit=%1:%2:%3@%4").arg(p.text).arg(p.min).arg(p.max).arg(p.lineNumber);
    return out.join(' ');
}

// The first field in which two structures differ, bit for bit; empty when they agree.
QString difference(const Config& a, const Config& b) {
    const auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
    if (a.valid != b.valid || a.repeat != b.repeat || a.layers.size() != b.layers.size())
        return "valid, repeat or layer count";
    for (int j = 0; j < a.layers.size(); ++j) {
        const Layer &l = a.layers[j], &m = b.layers[j];
        const double u[] = {l.inFraction,      l.asFraction,      l.endInFraction, l.endAsFraction,
                            l.startInFraction, l.startAsFraction, l.endWidth,      l.startWidth};
        const double v[] = {m.inFraction,      m.asFraction,      m.endInFraction, m.endAsFraction,
                            m.startInFraction, m.startAsFraction, m.endWidth,      m.startWidth};
        for (int f = 0; f < 8; ++f) {
            if (!same(u[f], v[f]))
                return QString("layer %1 field %2: %3 vs %4")
                    .arg(j + 1)
                    .arg(f)
                    .arg(u[f], 0, 'g', 17)
                    .arg(v[f], 0, 'g', 17);
        }
        if (l.monolayers != m.monolayers || l.endShape != m.endShape ||
            l.startShape != m.startShape)
            return QString("layer %1 thickness or shape").arg(j + 1);
    }
    const StructureExtensions &e = a.ext, &f = b.ext;
    if (!same(e.resolution, f.resolution) || !same(e.offset, f.offset) || !same(e.scale, f.scale) ||
        !same(e.background, f.background) || e.scaleGiven != f.scaleGiven ||
        e.backgroundGiven != f.backgroundGiven || e.model != f.model)
        return "instrument: " + describe(e) + " vs " + describe(f);
    return QString();
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

        QTest::newRow("none") << QByteArray("# LAYER 1 2 3\n") << ""
                              << "";
        QTest::newRow("measured") << QByteArray("MEASURED scan.xy") << "measured=scan.xy"
                                  << "";
        QTest::newRow("measured quoted, 2theta in any case")
            << QByteArray("measured \"my scan.xrdml\" 2Theta") << "measured=my scan.xrdml 2theta"
            << "";
        QTest::newRow("last measured wins, flag too")
            << QByteArray("MEASURED a.xy 2theta\nMEASURED b.xy") << "measured=b.xy"
            << "";
        QTest::newRow("measured without name") << QByteArray("MEASURED # a.xy") << ""
                                               << "3";
        QTest::newRow("measured with unknown word") << QByteArray("MEASURED a.xy omega") << ""
                                                    << "3";
        QTest::newRow("resolution") << QByteArray("Resolution 0.005") << "resolution=0.005"
                                    << "";
        QTest::newRow("bad resolutions ignored")
            << QByteArray("RESOLUTION 0.004\nRESOLUTION 0\nRESOLUTION -1\nRESOLUTION nan\n"
                          "RESOLUTION\nRESOLUTION 0.005deg")
            << "resolution=0.004"
            << "4 5 6 7 8";
        QTest::newRow("offset") << QByteArray("offset -0.012") << "offset=-0.012"
                                << "";
        QTest::newRow("infinite offset") << QByteArray("OFFSET inf") << ""
                                         << "3";
        QTest::newRow("scale") << QByteArray("SCALE 2.5e4") << "scale=25000"
                               << "";
        QTest::newRow("scale 0") << QByteArray("SCALE 0") << ""
                                 << "3";
        QTest::newRow("background 0 is given") << QByteArray("BACKGROUND 0") << "background=0"
                                               << "";
        QTest::newRow("models, last wins")
            << QByteArray("MODEL kinematical\nmodel DYNAMICAL") << "model=dynamical"
            << "";
        QTest::newRow("unknown model") << QByteArray("MODEL fast\nMODEL") << ""
                                       << "3 4";
        QTest::newRow("reflection 2") << QByteArray("REFLECTION 2") << "reflection=2"
                                      << "";
        QTest::newRow("reflections not positive even integers")
            << QByteArray("REFLECTION 3\nREFLECTION 0\nREFLECTION -4\nREFLECTION 4.0\nREFLECTION")
            << ""
            << "3 4 5 6 7";
        QTest::newRow("every FIT target, any case")
            << QByteArray("fit layer 1 n 5 20\nFit Layer 1 x 0.4 0.6\nFIT LAYER 1 Y 0.9 1\n"
                          "FIT offset -0.1 0.1\nFIT Resolution 0.001 0.01\nFIT SCALE 1 10\n"
                          "FIT BACKGROUND 0 5")
            << "fit=LAYER 1 N:5:20@3 fit=LAYER 1 X:0.4:0.6@4 fit=LAYER 1 Y:0.9:1@5 "
               "fit=OFFSET:-0.1:0.1@6 fit=RESOLUTION:0.001:0.01@7 fit=SCALE:1:10@8 "
               "fit=BACKGROUND:0:5@9"
            << "";
        QTest::newRow("a second FIT on a target replaces the first in its place")
            << QByteArray("FIT LAYER 1 X 0.1 0.9\nFIT OFFSET 0 1\nFIT LAYER 1 X 0.4 0.6")
            << "fit=LAYER 1 X:0.4:0.6@5 fit=OFFSET:0:1@4"
            << "";
        QTest::newRow("FIT errors")
            << QByteArray("FIT THICKNESS 1 2\nFIT LAYER 1 Z 0 1\nFIT LAYER 0 X 0 1\n"
                          "FIT LAYER 1.0 X 0 1\nFIT OFFSET 0.1\nFIT OFFSET 0.1 abc\n"
                          "FIT OFFSET 0 # 1\nFIT\nFIT LAYER")
            << ""
            << "3 4 5 6 7 8 9 10 11";
        QTest::newRow("NaN bound kept for fitProblem")
            << QByteArray("FIT OFFSET nan 1") << "fit=OFFSET:nan:1@3"
            << "";
        QTest::newRow("CR-only line ends count as lines")
            << QByteArray("RESOLUTION 0\rMODEL x\r\nREFLECTION 6") << "reflection=6"
            << "3 4";
    }

    void statements() {
        QFETCH(QByteArray, lines);
        QFETCH(QString, expected);
        QFETCH(QString, problemLines);
        Config c;
        QSignalSpy spy(&c, &Config::log);
        const QString path =
            xrdtest::writeTestFile(dir_, "s.txt", "SUBSTRATE 1 0\nLAYER 10 0.5 1\n" + lines);
        QVERIFY(c.load(path));
        QVERIFY(c.valid); // malformed extension lines never touch validity
        QCOMPARE(spy.count(), 1);
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
        QTest::newRow("no FIT lines") << QByteArray("OFFSET 1") << "";
        QTest::newRow("all in range")
            << QByteArray(
                   "FIT LAYER 1 N 10 10\nFIT LAYER 2 Y 0 1\nFIT SCALE 10 20\nFIT OFFSET -1 1")
            << "";
        QTest::newRow("missing layer")
            << QByteArray("FIT LAYER 3 X 0 1")
            << "line 4: FIT LAYER 3 X names layer 3, but the last LAYER line is layer 2.";
        QTest::newRow("min above max")
            << QByteArray("FIT OFFSET 0.1 -0.1")
            << "line 4: FIT OFFSET: the lower bound 0.1 lies above the upper bound -0.1.";
        QTest::newRow("NaN bound") << QByteArray("FIT OFFSET nan 1")
                                   << "line 4: FIT OFFSET: a bound is not a finite number.";
        QTest::newRow("infinite bound")
            << QByteArray("FIT BACKGROUND 0 inf")
            << "line 4: FIT BACKGROUND: a bound is not a finite number.";
        QTest::newRow("fraction beyond 1")
            << QByteArray("FIT LAYER 1 X 0.4 1.2")
            << "line 4: FIT LAYER 1 X: a fraction must stay within 0 to 1.";
        QTest::newRow("negative thickness")
            << QByteArray("FIT LAYER 1 N -1 12")
            << "line 4: FIT LAYER 1 N: a thickness cannot be negative.";
        QTest::newRow("resolution reaching 0")
            << QByteArray("FIT RESOLUTION 0 0.01")
            << "line 4: FIT RESOLUTION: the resolution must stay above 0.";
        QTest::newRow("thickness outside")
            << QByteArray("FIT LAYER 2 N 21 30")
            << "line 4: FIT LAYER 2 N: the start value 20 lies outside 21 to 30.";
        QTest::newRow("given scale outside, first problem wins")
            << QByteArray("SCALE 5\nFIT SCALE 10 20\nFIT OFFSET 1 0")
            << "line 5: FIT SCALE: the start value 5 lies outside 10 to 20.";
        QTest::newRow("default resolution outside")
            << QByteArray("FIT RESOLUTION 0.004 0.01")
            << "line 4: FIT RESOLUTION: the start value 0.003 lies outside 0.004 to 0.01.";
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
    }

    // The neighbour rule, worked by hand: the LAYER lines after the fit are written out as a
    // user would, and loading them must give the structure that applyFitValues makes.
    void neighbourRule_data() {
        QTest::addColumn<QByteArray>("layers");
        QTest::addColumn<int>("repeat");
        QTest::addColumn<QByteArray>("fits");
        QTest::addColumn<QVector<double>>("values");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray pair =
            "LAYER 10 0.2 1 L 2 0.5 1 L 2 0.5 1\nLAYER 20 0.5 1 L 2 0.2 1 L 2 0.2 1\n";
        QTest::newRow("two layers, periodic: the other layer is before and after")
            << pair << 10 << QByteArray("FIT LAYER 1 X 0 1") << QVector<double>{0.3}
            << QByteArray(
                   "LAYER 10 0.3 1 L 2 0.5 1 L 2 0.5 1\nLAYER 20 0.5 1 L 2 0.3 1 L 2 0.3 1\n");
        QTest::newRow("two layers, once: the surface is after the second")
            << pair << 1 << QByteArray("FIT LAYER 1 X 0 1") << QVector<double>{0.3}
            << QByteArray(
                   "LAYER 10 0.3 1 L 2 0.5 1 L 2 0.5 1\nLAYER 20 0.5 1 L 2 0.2 1 L 2 0.3 1\n");
        QTest::newRow("two layers, both moved, either order")
            << pair << 10 << QByteArray("FIT LAYER 2 X 0 1\nFIT LAYER 1 X 0 1")
            << QVector<double>{0.6, 0.1}
            << QByteArray(
                   "LAYER 10 0.1 1 L 2 0.6 1 L 2 0.6 1\nLAYER 20 0.6 1 L 2 0.1 1 L 2 0.1 1\n");
        const QByteArray well = "LAYER 30 1 0 A 0 1 0.65 A 0 1 0\n"
                                "LAYER 24 0.7 0.65 P 6 1 0 H 5 1 0\n"
                                "LAYER 30 1 0 A 0 1 0 A 0 1 0.65\n";
        QTest::newRow(
            "well between barriers, periodic: barrier 1 follows into barrier 3, not 2's end")
            << well << 5 << QByteArray("FIT LAYER 1 X 0.5 1") << QVector<double>{0.95}
            << QByteArray("LAYER 30 0.95 0 A 0 1 0.65 A 0 1 0\n"
                          "LAYER 24 0.7 0.65 P 6 1 0 H 5 0.95 0\n"
                          "LAYER 30 1 0 A 0 0.95 0 A 0 1 0.65\n");
        QTest::newRow("well between barriers, once: no layer before the first")
            << well << 1 << QByteArray("FIT LAYER 1 X 0.5 1") << QVector<double>{0.95}
            << QByteArray("LAYER 30 0.95 0 A 0 1 0.65 A 0 1 0\n"
                          "LAYER 24 0.7 0.65 P 6 1 0 H 5 0.95 0\n"
                          "LAYER 30 1 0 A 0 1 0 A 0 1 0.65\n");
        QTest::newRow("well As moves into both barriers, own targets stay")
            << well << 1 << QByteArray("FIT LAYER 2 Y 0 1") << QVector<double>{0.6}
            << QByteArray("LAYER 30 1 0 A 0 1 0.6 A 0 1 0\n"
                          "LAYER 24 0.7 0.6 P 6 1 0 H 5 1 0\n"
                          "LAYER 30 1 0 A 0 1 0 A 0 1 0.6\n");
        QTest::newRow("unequal and missing targets stay")
            << QByteArray("LAYER 10 0 1\nLAYER 20 0.5 1 L 2 0.25 1\n") << 10
            << QByteArray("FIT LAYER 1 X 0 1") << QVector<double>{0.1}
            << QByteArray("LAYER 10 0.1 1\nLAYER 20 0.5 1 L 2 0.25 1\n");
        QTest::newRow("single layer: its own targets stay")
            << QByteArray("LAYER 10 0.2 1 L 2 0.2 1 L 2 0.2 1\n") << 10
            << QByteArray("FIT LAYER 1 X 0 1") << QVector<double>{0.3}
            << QByteArray("LAYER 10 0.3 1 L 2 0.2 1 L 2 0.2 1\n");
        QTest::newRow("thickness rounds half away from 0")
            << pair << 10 << QByteArray("FIT LAYER 1 N 0 40\nFIT LAYER 2 N 0 40")
            << QVector<double>{12.5, 7.49}
            << QByteArray(
                   "LAYER 13 0.2 1 L 2 0.5 1 L 2 0.5 1\nLAYER 7 0.5 1 L 2 0.2 1 L 2 0.2 1\n");
        QTest::newRow("thickness never below 0, never beyond the integers")
            << pair << 10 << QByteArray("FIT LAYER 1 N 0 40\nFIT LAYER 2 N 0 40")
            << QVector<double>{-3, 1e300}
            << QByteArray("LAYER 0 0.2 1 L 2 0.5 1 L 2 0.5 1\nLAYER 2147483647 0.5 1 L 2 0.2 1 L 2 "
                          "0.2 1\n");
    }

    void neighbourRule() {
        QFETCH(QByteArray, layers);
        QFETCH(int, repeat);
        QFETCH(QByteArray, fits);
        QFETCH(QVector<double>, values);
        QFETCH(QByteArray, expected);
        const QByteArray head = "SUBSTRATE 1 0\nREPEAT " + QByteArray::number(repeat) + "\n";
        Config base, want, got;
        QVERIFY(load(base, head + layers + fits, "base.txt").valid);
        QVERIFY(load(want, head + expected, "want.txt").valid);
        applyFitValues(base, toStd(values), got);
        QVERIFY(got.valid);
        QVERIFY2(difference(got, want).isEmpty(), qPrintable(difference(got, want)));
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
        std::vector<FittedValue> fitted;
        for (double v : values)
            fitted.push_back({v, 0.01, false});
        QVERIFY(
            fittedStructureText("SUBSTRATE 1 0\nLAYER 10 0.2 1\n", base, fitted, 1, 1).isEmpty());
    }

    // The text written for a fit, to the character, and loading it back.
    void fittedText_data() {
        QTest::addColumn<QString>("original");
        QTest::addColumn<QVector<double>>("values"); // each with sigma 0.01, the first at its bound
        QTest::addColumn<QString>("expected");

        QTest::newRow("layers, neighbours, an instrument line replaced and one added; CR LF")
            << QString(
                   "# well\r\nSUBSTRATE 1 0\r\nLAYER 10  0.2  1   L 2 0.5 1   L 2 0.5 1   # "
                   "barrier\r\n"
                   "LAYER 20  0.5  1   L 2 0.2 1   L 2 0.2 1\r\nREPEAT 10\r\nOFFSET 0.01 # old\r\n"
                   "FIT LAYER 1 X 0.1 0.4\r\nFIT LAYER 2 N 10 30\r\nFIT OFFSET -0.1 0.1\r\n"
                   "FIT RESOLUTION 0.001 0.01\r\n")
            << QVector<double>{0.2345678, 23.4, -0.0123, 0.0045}
            << QString("# agreement before: 12.5\r\n# agreement after: 3.25\r\n# model: basic\r\n"
                       "# fitted LAYER 1 X: 0.234568 \u00b1 0.01 at bound\r\n# fitted LAYER 2 N: "
                       "23 \u00b1 0.01\r\n"
                       "# fitted OFFSET: -0.0123 \u00b1 0.01\r\n# fitted RESOLUTION: 0.0045 \u00b1 "
                       "0.01\r\n"
                       "# well\r\nSUBSTRATE 1 0\r\nLAYER 10  0.234568  1   L 2 0.5 1   L 2 0.5 1   "
                       "# barrier\r\n"
                       "LAYER 23  0.5  1   L 2 0.234568 1   L 2 0.234568 1\r\nREPEAT 10\r\nOFFSET "
                       "-0.0123 # old\r\n"
                       "FIT LAYER 1 X 0.1 0.4\r\nFIT LAYER 2 N 10 30\r\nFIT OFFSET -0.1 0.1\r\n"
                       "FIT RESOLUTION 0.001 0.01\r\nRESOLUTION 0.0045\r\n");
        QTest::newRow(
            "refit: old header replaced; CR only; missing token appended; no final line end")
            << QString(
                   "\ufeff# agreement before: 9\r# agreement after: 8\r# model: basic\r"
                   "# fitted LAYER 1 X: 0.3 \u00b1 0.1\rSUBSTRATE 1 0\rMODEL dynamical\rlayer 10\r"
                   "FIT LAYER 1 X 0 1\rFIT SCALE 1 3")
            << QVector<double>{0.25, 2}
            << QString(
                   "# agreement before: 12.5\r# agreement after: 3.25\r# model: dynamical\r"
                   "# fitted LAYER 1 X: 0.25 \u00b1 0.01 at bound\r# fitted SCALE: 2 \u00b1 0.01\r"
                   "SUBSTRATE 1 0\rMODEL dynamical\rlayer 10 0.25\rFIT LAYER 1 X 0 1\rFIT SCALE 1 "
                   "3\r"
                   "SCALE 2\r");
        QTest::newRow("quoted tokens keep their quotes; an unclosed one is closed")
            << QString("SUBSTRATE 1 0\nLAYER 10 \"0.2\"\nLAYER 5 \"0.3\nFIT LAYER 1 X 0 1\nFIT "
                       "LAYER 2 Y 0 1\n")
            << QVector<double>{0.25, 0.5}
            << QString("# agreement before: 12.5\n# agreement after: 3.25\n# model: basic\n"
                       "# fitted LAYER 1 X: 0.25 \u00b1 0.01 at bound\n# fitted LAYER 2 Y: 0.5 "
                       "\u00b1 0.01\n"
                       "SUBSTRATE 1 0\nLAYER 10 \"0.25\"\nLAYER 5 \"0.3\" 0.5\nFIT LAYER 1 X 0 "
                       "1\nFIT LAYER 2 Y 0 1\n");
    }

    void fittedText() {
        QFETCH(QString, original);
        QFETCH(QVector<double>, values);
        QFETCH(QString, expected);
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
        QVERIFY2(difference(reloaded, want).isEmpty(), qPrintable(difference(reloaded, want)));
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
