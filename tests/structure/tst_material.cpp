#include "structure/config.h"
#include "structure/fitparameters.h"
#include "structure/fittedfile.h"
#include "structure/material.h"

#include "tests/common/exact.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// Formulas of cubic alloys: what they name, what is refused and why, and how a structure file
// takes them.
class TestMaterial : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString write(const QByteArray& body) {
        const QString path = dir_.filePath(QStringLiteral("m.txt"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return QString();
        f.write("WAVELENGTH 1.5406\n" + body + "MODEL dynamical\n");
        return path;
    }

private slots:
    void formulas_data() {
        QTest::addColumn<QString>("formula");
        QTest::addColumn<QString>("system"); // empty: refused
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<QString>("problem");
        QTest::newRow("AlGaAs") << "Al0.3Ga0.7As"
                                << "Ga Al / As" << 0.3 << 0.0 << "";
        QTest::newRow("order free") << "Ga0.7Al0.3As"
                                    << "Ga Al / As" << 0.3 << 0.0 << "";
        QTest::newRow("AlInAs") << "In0.52Al0.48As"
                                << "Al In / As" << 0.52 << 0.0 << "";
        QTest::newRow("GaAsSb") << "GaAs0.91Sb0.09"
                                << "Ga / As Sb" << 0.0 << 0.09 << "";
        QTest::newRow("GaInNAs") << "Ga0.7In0.3N0.02As0.98"
                                 << "Ga In / As N" << 0.3 << 0.02 << "";
        QTest::newRow("InGaAsP") << "In0.8Ga0.2As0.4P0.6"
                                 << "Ga In / P As" << 0.8 << 0.4 << "";
        QTest::newRow("SiGe") << "Si0.8Ge0.2"
                              << "Si Ge" << 0.2 << 0.2 << "";
        QTest::newRow("Ge") << "Ge"
                            << "Ge" << 0.0 << 0.0 << "";
        QTest::newRow("GeC") << "Ge0.99C0.01"
                             << "Ge C" << 0.01 << 0.01 << "";
        QTest::newRow("sum below 1") << "Al0.3Ga0.6As"
                                     << "" << 0.0 << 0.0 << "group-III fractions add to 0.9, not 1";
        QTest::newRow("group V above 1")
            << "GaAs0.9Sb0.2"
            << "" << 0.0 << 0.0 << "group-V fractions add to 1.1, not 1";
        QTest::newRow("SiGe sum") << "Si0.8Ge0.3"
                                  << "" << 0.0 << 0.0 << "group-IV fractions add to 1.1";
        QTest::newRow("no number means 1") << "AlGaAs"
                                           << "" << 0.0 << 0.0 << "add to 2, not 1";
        QTest::newRow("three on a site") << "Al0.1Ga0.4In0.5P"
                                         << "" << 0.0 << 0.0 << "more than two group-III elements";
        QTest::newRow("unknown element") << "Hg0.3Cd0.7Te"
                                         << "" << 0.0 << 0.0 << "Hg is none";
        QTest::newRow("capitals") << "GAAs"
                                  << "" << 0.0 << 0.0 << "G is none";
        QTest::newRow("named twice") << "GaAs0.5As0.5"
                                     << "" << 0.0 << 0.0 << "As is named twice";
        QTest::newRow("fraction beyond 1")
            << "Al1.5Ga-0.5As"
            << "" << 0.0 << 0.0 << "1.5 of Al is not a number from 0 to 1";
        QTest::newRow("malformed number") << "Al0.3.1Ga0.7As"
                                          << "" << 0.0 << 0.0 << "0.3.1 of Al is not a number";
        QTest::newRow("no group V") << "Al0.3Ga0.7"
                                    << "" << 0.0 << 0.0 << "no group-V element";
        QTest::newRow("no group III") << "As"
                                      << "" << 0.0 << 0.0 << "no group-III element";
        QTest::newRow("IV with III-V") << "SiGaAs"
                                       << "" << 0.0 << 0.0 << "do not mix";
        QTest::newRow("not a symbol") << "Ga_As"
                                      << "" << 0.0 << 0.0 << "is not an element";
    }

    void formulas() {
        QFETCH(QString, formula);
        QFETCH(QString, system);
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(QString, problem);
        Material m;
        QString why;
        const bool ok = parseFormula(formula, m, why);
        QCOMPARE(ok, !system.isEmpty());
        if (!ok) {
            QVERIFY2(why.contains(problem), qPrintable(why));
            return;
        }
        QCOMPARE(systemText(m.system), system);
        XRD_COMPARE_CLOSE(m.x, x, 1e-15);
        XRD_COMPARE_CLOSE(m.y, y, 1e-15);
        // The canonical text names the same material.
        Material back;
        QVERIFY(parseFormula(::formulaText(m.system, m.x, m.y), back, why));
        QVERIFY(back.system == m.system);
        XRD_COMPARE_CLOSE(back.x, m.x, 1e-15);
    }

    void formulaText_data() {
        QTest::addColumn<QString>("formula");
        QTest::addColumn<QString>("text");
        QTest::newRow("AlGaAs") << "Ga0.7Al0.3As"
                                << "Al0.3Ga0.7As";
        QTest::newRow("GaAsSb") << "GaSb0.1As0.9"
                                << "GaAs0.9Sb0.1";
        QTest::newRow("InGaAsP") << "Ga0.47In0.53P0.2As0.8"
                                 << "In0.53Ga0.47As0.8P0.2";
        QTest::newRow("SiGe") << "Ge0.3Si0.7"
                              << "Si0.7Ge0.3";
        QTest::newRow("binary") << "GaAs"
                                << "GaAs";
        QTest::newRow("end of a ternary") << "Al1Ga0As"
                                          << "AlAs";
    }

    void formulaText() {
        QFETCH(QString, formula);
        QFETCH(QString, text);
        Material m;
        QString why;
        QVERIFY(parseFormula(formula, m, why));
        QCOMPARE(::formulaText(m.system, m.x, m.y), text);
    }

    void gradingSystems_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<QString>("system"); // empty: no common system
        QTest::addColumn<double>("ax");      // a's fractions in it
        QTest::addColumn<double>("ay");
        QTest::newRow("GaAs to AlGaAs") << "GaAs"
                                        << "Al0.3Ga0.7As"
                                        << "Ga Al / As" << 0.0 << 0.0;
        QTest::newRow("AlAs to GaAs") << "AlAs"
                                      << "GaAs"
                                      << "Ga Al / As" << 1.0 << 0.0;
        QTest::newRow("InP to InGaAs") << "InP"
                                       << "In0.53Ga0.47As"
                                       << "Ga In / P As" << 1.0 << 0.0;
        QTest::newRow("Si to SiGe") << "Si"
                                    << "Si0.5Ge0.5"
                                    << "Si Ge" << 0.0 << 0.0;
        QTest::newRow("AlGaAs to InGaAs") << "Al0.3Ga0.7As"
                                          << "In0.2Ga0.8As"
                                          << "" << 0.0 << 0.0;
        QTest::newRow("GaAs to Si") << "GaAs"
                                    << "Si"
                                    << "" << 0.0 << 0.0;
    }

    void gradingSystems() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(QString, system);
        QFETCH(double, ax);
        QFETCH(double, ay);
        Material ma;
        Material mb;
        QString why;
        QVERIFY(parseFormula(a, ma, why) && parseFormula(b, mb, why));
        MaterialSystem common;
        QCOMPARE(commonSystem(ma.system, mb.system, common), !system.isEmpty());
        if (system.isEmpty())
            return;
        QCOMPARE(systemText(common), system);
        const Material in = inSystem(ma, common);
        XRD_COMPARE_EXACT(in.x, ax);
        XRD_COMPARE_EXACT(in.y, ay);
    }

    // The basic format's statements and formulas of its own alloy give the same structure to
    // the last bit; every other material keeps its system.
    void structureFile_data() {
        QTest::addColumn<QByteArray>("formulaLines");
        QTest::addColumn<QByteArray>("basicLines"); // empty: no basic equivalent
        QTest::addColumn<QString>("layerSystem");
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("endX");
        QTest::newRow("InGaAs on InP")
            << QByteArray("SUBSTRATE InP\nLAYER 100 In0.53Ga0.47As\n")
            << QByteArray("SUBSTRATE 1 0\nLAYER 100 0.53 1\n") << "Ga In / P As" << 0.53 << 0.53;
        QTest::newRow("graded InGaAsP")
            << QByteArray("SUBSTRATE GaAs\nLAYER 100 In0.2Ga0.8As L 10 GaAs\n")
            << QByteArray("SUBSTRATE 0 1\nLAYER 100 0.2 1 L 10 0 1\n") << "Ga In / P As" << 0.2
            << 0.1;
        QTest::newRow("AlGaAs graded to GaAs")
            << QByteArray("SUBSTRATE GaAs\nLAYER 100 Al0.4Ga0.6As A 0 GaAs P 20 GaAs\n")
            << QByteArray() << "Ga Al / As" << 0.4 << 0.2;
        QTest::newRow("SiGe graded at its end")
            << QByteArray("SUBSTRATE Si\nLAYER 100 Si0.7Ge0.3 L 50 Si\n") << QByteArray() << "Si Ge"
            << 0.3 << 0.15;
    }

    void structureFile() {
        QFETCH(QByteArray, formulaLines);
        QFETCH(QByteArray, basicLines);
        QFETCH(QString, layerSystem);
        QFETCH(double, x);
        QFETCH(double, endX);
        Config c;
        QSignalSpy spy(&c, &Config::log);
        QVERIFY(c.load(write(formulaLines)));
        QVERIFY(c.valid);
        QCOMPARE(spy.count(), 1); // "Loading [...]" alone: nothing noted
        const Layer& l = c.layers.first();
        QCOMPARE(systemText(l.system), layerSystem);
        XRD_COMPARE_EXACT(l.inFraction, x);
        XRD_COMPARE_EXACT(l.endInFraction, endX);
        if (l.system.diamond())
            XRD_COMPARE_EXACT(l.endAsFraction, l.endInFraction);
        if (basicLines.isEmpty())
            return;
        Config b;
        QVERIFY(b.load(write(basicLines)) && b.valid);
        QVERIFY(isBasicSystem(c.substrate.system) && isBasicSystem(l.system));
        XRD_COMPARE_EXACT(c.substrate.inFraction, b.substrate.inFraction);
        XRD_COMPARE_EXACT(c.substrate.asFraction, b.substrate.asFraction);
        // The values the profile reads: the boundary compositions of a graded side only (an
        // abrupt side's neighbour, left out, reads as 0 in the basic form and as the layer's own
        // in the formula form, and counts in neither).
        const Layer& m = b.layers.first();
        QCOMPARE(l.endShape, m.endShape);
        QCOMPARE(l.startShape, m.startShape);
        XRD_COMPARE_EXACT(l.inFraction, m.inFraction);
        XRD_COMPARE_EXACT(l.asFraction, m.asFraction);
        XRD_COMPARE_EXACT(l.endWidth, m.endWidth);
        XRD_COMPARE_EXACT(l.startWidth, m.startWidth);
        if (l.endShape != Abrupt) {
            XRD_COMPARE_EXACT(l.endInFraction, m.endInFraction);
            XRD_COMPARE_EXACT(l.endAsFraction, m.endAsFraction);
        }
    }

    // A formula the reader cannot take refuses the structure with one line naming the line.
    void refusedLines_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("reason");
        QTest::newRow("fractions") << QByteArray("SUBSTRATE GaAs\nLAYER 10 Al0.3Ga0.6As\n")
                                   << "line 3: formula \"Al0.3Ga0.6As\": the group-III "
                                      "fractions add to 0.9, not 1.";
        QTest::newRow("substrate") << QByteArray("SUBSTRATE Si0.5\nLAYER 10 Si\n")
                                   << "line 2: formula \"Si0.5\": the group-IV fractions add to "
                                      "0.5, not 1.";
        QTest::newRow("grading across systems")
            << QByteArray("SUBSTRATE GaAs\nLAYER 10 Al0.3Ga0.7As L 5 In0.2Ga0.8As\n")
            << "line 3: a grading joins materials of one system";
    }

    void refusedLines() {
        QFETCH(QByteArray, lines);
        QFETCH(QString, reason);
        Config c;
        QSignalSpy spy(&c, &Config::log);
        const QString path = write(lines);
        QVERIFY(c.load(path));
        QVERIFY(!c.valid);
        QCOMPARE(spy.count(), 2);
        const QString line = spy.at(1).at(0).toString();
        QVERIFY2(line.startsWith(QStringLiteral("Refused [%1] %2").arg(path, reason.left(7))) &&
                     line.contains(reason),
                 qPrintable(line));
    }

    // FIT LAYER i <element>: the fraction of that element, written back into the formula;
    // refused with one line where the layer has no such fraction to move.
    void fitByElement_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("problem"); // empty: the fit runs
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("fitted");
        QTest::addColumn<QString>("layerLine"); // LAYER line 1 of the fitted file
        QTest::newRow("Al of AlGaAs")
            << QByteArray("SUBSTRATE GaAs\nLAYER 100 Al0.3Ga0.7As\nFIT LAYER 1 Al 0.2 0.4\n") << ""
            << 0.3 << 0.35 << "LAYER 100 Al0.35Ga0.65As";
        QTest::newRow("Ga of AlGaAs counts from the other end")
            << QByteArray("SUBSTRATE GaAs\nLAYER 100 Al0.3Ga0.7As\nFIT LAYER 1 ga 0.6 0.8\n") << ""
            << 0.7 << 0.75 << "LAYER 100 Al0.25Ga0.75As";
        QTest::newRow("Ge of SiGe moves both sublattices")
            << QByteArray("SUBSTRATE Si\nLAYER 100 Si0.8Ge0.2\nFIT LAYER 1 Ge 0.1 0.3\n") << ""
            << 0.2 << 0.25 << "LAYER 100 Si0.75Ge0.25";
        QTest::newRow("Sb of GaAsSb, graded neighbour follows")
            << QByteArray("SUBSTRATE GaAs\nLAYER 100 GaAs0.9Sb0.1\n"
                          "LAYER 50 GaAs L 5 GaAs0.9Sb0.1\nREPEAT 1\n"
                          "FIT LAYER 1 Sb 0 0.2\n")
            << "" << 0.1 << 0.12 << "LAYER 100 GaAs0.88Sb0.12";
        QTest::newRow("N of GaNAs by Y")
            << QByteArray("SUBSTRATE GaAs\nLAYER 100 GaN0.02As0.98\nFIT LAYER 1 Y 0 0.03\n") << ""
            << 0.02 << 0.025 << "LAYER 100 GaAs0.975N0.025";
        QTest::newRow("In of a basic-system formula")
            << QByteArray("SUBSTRATE InP\nLAYER 100 In0.53Ga0.47As\nFIT LAYER 1 In 0.4 0.6\n") << ""
            << 0.53 << 0.5 << "LAYER 100 In0.5Ga0.5As";
        QTest::newRow("element the layer lacks")
            << QByteArray("SUBSTRATE GaAs\nLAYER 100 In0.2Ga0.8As\nFIT LAYER 1 Al 0 0.4\n")
            << "layer 1 is In0.2Ga0.8As, which has no Al fraction to fit" << 0.0 << 0.0 << "";
        QTest::newRow("binary sublattice")
            << QByteArray("SUBSTRATE GaAs\nLAYER 100 Al0.3Ga0.7As\nFIT LAYER 1 As 0 1\n")
            << "has no As fraction to fit" << 0.0 << 0.0 << "";
        QTest::newRow("Y of a diamond alloy")
            << QByteArray("SUBSTRATE Si\nLAYER 100 Si0.8Ge0.2\nFIT LAYER 1 Y 0 1\n")
            << "a diamond alloy has one fraction, X" << 0.0 << 0.0 << "";
        QTest::newRow("two lines for one fraction")
            << QByteArray("SUBSTRATE GaAs\nLAYER 100 Al0.3Ga0.7As\nFIT LAYER 1 Al 0 1\n"
                          "FIT LAYER 1 X 0 1\n")
            << "FIT LAYER 1 X: it moves the fraction FIT LAYER 1 Al moves" << 0.0 << 0.0 << "";
    }

    void fitByElement() {
        QFETCH(QByteArray, lines);
        QFETCH(QString, problem);
        QFETCH(double, start);
        QFETCH(double, fitted);
        QFETCH(QString, layerLine);
        const QString path = write(lines);
        Config c;
        QVERIFY(c.load(path) && c.valid);
        const QStringList problems = fitProblems(c);
        if (!problem.isEmpty()) {
            QCOMPARE(problems.size(), 1);
            QVERIFY2(problems.first().contains(problem), qPrintable(problems.first()));
            return;
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        XRD_COMPARE_CLOSE(fitStartValues(c).at(0), start, 1e-15);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        const QString out = fittedStructureText(text, c, {{fitted, 0.01, false}}, 1, 0.5, nullptr);
        QVERIFY2(out.contains("\n" + layerLine + "\n"), qPrintable(out));
        // The fitted file reads back to the fitted fraction.
        QFile g(dir_.filePath("fitted.txt"));
        QVERIFY(g.open(QIODevice::WriteOnly));
        g.write(out.toUtf8());
        g.close();
        Config back;
        QVERIFY(back.load(g.fileName()) && back.valid);
        XRD_COMPARE_CLOSE(fitStartValues(back).at(0), fitted, 1e-12);
        Structure applied;
        applyFitValues(c, {fitted}, applied);
        const Layer& l = applied.layers.first();
        XRD_COMPARE_CLOSE(l.inFraction, back.layers.first().inFraction, 1e-12);
        XRD_COMPARE_CLOSE(l.asFraction, back.layers.first().asFraction, 1e-12);
        if (back.layers.size() > 1) // the graded neighbour written equal follows the fit
            XRD_COMPARE_CLOSE(applied.layers[1].endAsFraction, back.layers[1].endAsFraction, 1e-12);
    }
};

QTEST_GUILESS_MAIN(TestMaterial)
#include "tst_material.moc"
