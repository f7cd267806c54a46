// The fit sliders: the overlay follows a slider while it is held, and the structure file
// changes only when it is released (or at once for a step without the mouse), by exactly the
// numbers the slider moves.

#include "app/body.h"
#include "app/fitsliders.h"
#include "app/layertable.h"
#include "structure/config.h"
#include "structure/fitparameters.h"
#include "structure/fittargets.h"
#include "structure/fittedfile.h"
#include "tests/common/shownfile.h"
#include "tests/common/testfiles.h"

#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

// A superlattice on GaAs; its well's In fraction linked to the barrier's grading targets.
const QByteArray kStructure = "WAVELENGTH 1.54056\n"
                              "SUBSTRATE 0 1\n"
                              "LAYER 20 0.2 1   L 2 0 1   L 2 0 1 # well\n"
                              "LAYER 40 0 1     L 2 0.2 1 L 2 0.2 1\n"
                              "REPEAT 3\n"
                              "MEASURED scan.txt\n"
                              "FIT LAYER 1 N 10 30\n"
                              "FIT LAYER 1 X 0.1 0.3\n"
                              "FIT OFFSET -0.01 0.01\n";

// Every FIT target at once, each value inside its range.
const QByteArray kEveryTarget = "WAVELENGTH 1.54056\n"
                                "SUBSTRATE 0 1\n"
                                "LAYER 20 0.2 0.9   L 2 0 1   L 2 0 1 # well\n"
                                "LAYER 40 0 1     L 2 0.2 0.9 L 2 0.2 0.9\n"
                                "REPEAT 3\n"
                                "MEASURED scan.txt\n"
                                "RESOLUTION 0.005\n"
                                "SCALE 1\n"
                                "BACKGROUND 5\n"
                                "FIT LAYER 1 N 10 30\n"
                                "FIT LAYER 1 X 0.1 0.3\n"
                                "FIT LAYER 1 Y 0.8 1\n"
                                "FIT LAYER 1 R 0 0.4\n"
                                "FIT RESOLUTION 0.001 0.01\n"
                                "FIT OFFSET -0.01 0.01\n"
                                "FIT SCALE 0.5 2\n"
                                "FIT BACKGROUND 0 10\n";

// The values of the FIT lines of `s` as its rows read them.
std::vector<double> targetValues(const Structure& s) {
    std::vector<double> out;
    for (const FitParameter& p : s.ext.fits)
        out.push_back(fitTarget(p.target).read(s, p.layer - 1, p));
    return out;
}

} // namespace

class TestFitSliders : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_;
    int scanPoints_ = 0;

private slots:
    void initTestCase() {
        // A plain two-column scan around the GaAs (004) peak at 33.03 degrees of theta.
        QByteArray scan;
        for (int i = 0; i <= 200; ++i) {
            const double theta = 32.5 + i * 0.005;
            const double d = (theta - 33.03) / 0.01;
            scan += QByteArray::number(theta, 'f', 3) + ' ' +
                    QByteArray::number(5 + 1e5 / (1 + d * d), 'g', 6) + '\n';
            ++scanPoints_;
        }
        xrdtest::writeTestFile(dir_.filePath(QStringLiteral("scan.txt")), scan);
        path_ = dir_.filePath(QStringLiteral("sl.txt"));
    }

    void init() { xrdtest::writeTestFile(path_, kStructure); }

    // Every FIT target through every writer of the text: the file read back gives the
    // target the value written and leaves every other target where it was.
    void everyTargetEveryWriter_data() {
        QTest::addColumn<int>("target"); // index of its FIT line in kEveryTarget
        QTest::addColumn<QString>("writer");
        Config c;
        xrdtest::writeTestFile(path_, kEveryTarget);
        QVERIFY(c.load(path_) && c.valid);
        QCOMPARE(c.ext.fits.size(), int(fitTargets().size()));
        for (int i = 0; i < c.ext.fits.size(); ++i) {
            for (const char* writer : {"fitted file", "slider", "table"}) {
                if (QLatin1String(writer) == QLatin1String("table") &&
                    !fitTarget(c.ext.fits[i].target).layer)
                    continue; // the table holds layers only
                QTest::addRow("%s by %s", qPrintable(c.ext.fits[i].text), writer) << i << writer;
            }
        }
    }

    void everyTargetEveryWriter() {
        QFETCH(int, target);
        QFETCH(QString, writer);
        xrdtest::writeTestFile(path_, kEveryTarget);
        Config base;
        QVERIFY(base.load(path_) && base.valid);
        const FitParameter p = base.ext.fits.at(target);
        std::vector<double> want = targetValues(base);
        QString written = path_;
        if (writer == QLatin1String("slider")) {
            FitSliders sliders;
            sliders.showFile(xrdtest::shownFileOf(path_));
            QCOMPARE(sliders.count(), base.ext.fits.size());
            QSlider* s = sliders.slider(target);
            s->setSliderDown(true);
            s->setValue(s->maximum() * 3 / 4);
            s->setSliderDown(false);
            want[size_t(target)] = sliders.values()[size_t(target)];
        } else if (writer == QLatin1String("table")) {
            LayerTable table;
            table.showFile(xrdtest::shownFileOf(path_));
            const double v = p.min + 0.75 * (p.max - p.min);
            want[size_t(target)] = fitTarget(p.target).integer ? std::round(v) : v;
            table.table()
                ->item(p.layer - 1, LayerTable::valueColumn(p.target))
                ->setText(QString::number(want[size_t(target)], 'g', 17));
        } else {
            std::vector<FittedValue> values;
            for (double v : want)
                values.push_back({v, 0.01, false});
            const double v = p.min + 0.75 * (p.max - p.min);
            values[size_t(target)].value = v;
            want[size_t(target)] =
                fitTarget(p.target).integer ? std::round(v) : QString::number(v, 'g', 6).toDouble();
            written = dir_.filePath(QStringLiteral("fitted.txt"));
            const QByteArray bytes =
                fittedStructureBytes(xrdtest::readTestFile(path_), base, values, 2, 1);
            QVERIFY(!bytes.isEmpty());
            xrdtest::writeTestFile(written, bytes);
        }
        QVERIFY(want[size_t(target)] != targetValues(base)[size_t(target)]);
        Config back;
        QVERIFY(back.load(written) && back.valid);
        QCOMPARE(back.ext.problems, QStringList());
        const std::vector<double> got = targetValues(back);
        for (size_t k = 0; k < want.size(); ++k)
            QVERIFY2(std::abs(got[k] - want[k]) <= 1e-12 * std::max(1.0, std::abs(want[k])),
                     qPrintable(QStringLiteral("%1: %2, not %3")
                                    .arg(base.ext.fits[int(k)].text)
                                    .arg(got[k], 0, 'g', 17)
                                    .arg(want[k], 0, 'g', 17)));
    }

    void oneSliderPerFitLine() {
        FitSliders sliders;
        sliders.showFile(xrdtest::shownFileOf(path_));
        QCOMPARE(sliders.count(), 3);
        // The thickness has one position per monolayer; the file's values set the handles.
        QCOMPARE(sliders.slider(0)->maximum(), 20);
        QCOMPARE(sliders.slider(0)->value(), 10);
        QCOMPARE(sliders.slider(1)->value(), sliders.slider(1)->maximum() / 2);
        QVERIFY(!sliders.liveOverlay());
    }

    void noSlidersWithoutFitLines() {
        xrdtest::writeTestFile(path_, QByteArray(kStructure).replace("FIT", "# FIT"));
        FitSliders sliders;
        sliders.showFile(xrdtest::shownFileOf(path_));
        QCOMPARE(sliders.count(), 0);
        QVERIFY(!sliders.evaluateNow());
    }

    void drag_data() {
        QTest::addColumn<int>("slider");
        QTest::addColumn<double>("part"); // of the slider's range
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("thickness 25 ML")
            << 0 << 0.75 << QByteArray(kStructure).replace("LAYER 20 0.2", "LAYER 25 0.2");
        QTest::newRow("In fraction 0.25, the barrier's targets with it")
            << 1 << 0.75
            << QByteArray(kStructure)
                   .replace("LAYER 20 0.2", "LAYER 20 0.25")
                   .replace("L 2 0.2 1 L 2 0.2 1", "L 2 0.25 1 L 2 0.25 1");
        QTest::newRow("offset, a new line")
            << 2 << 0.25 << QByteArray(kStructure) + "OFFSET -0.005\n";
    }

    void drag() {
        QFETCH(int, slider);
        QFETCH(double, part);
        QFETCH(QByteArray, after);
        FitSliders sliders;
        QSignalSpy repaint(&sliders, &FitSliders::overlayChanged);
        sliders.showFile(xrdtest::shownFileOf(path_));
        QSlider* s = sliders.slider(slider);
        s->setSliderDown(true);
        // Several moves while held: the overlay follows, the file stays.
        for (int step = 1; step <= 4; ++step) {
            s->setValue(int(std::lround(s->maximum() * (0.5 + (part - 0.5) * step / 4))));
            QTRY_VERIFY(repaint.count() >= step);
            QCOMPARE(xrdtest::readTestFile(path_), kStructure);
        }
        QVERIFY(sliders.liveOverlay());
        QCOMPARE(sliders.liveOverlay()->theta.size(), scanPoints_);
        QVERIFY(std::isfinite(sliders.liveAgreement()));
        s->setSliderDown(false);
        QCOMPARE(xrdtest::readTestFile(path_), after);
        // Shown again after the reload: the live overlay goes, the handle stays.
        sliders.showFile(xrdtest::shownFileOf(path_));
        QVERIFY(!sliders.liveOverlay());
        const QSlider* again = sliders.slider(slider);
        QCOMPARE(again->value(), int(std::lround(again->maximum() * part)));
    }

    // The model moves with the values: a thicker well moves the overlay's model.
    void overlayFollows() {
        FitSliders sliders;
        sliders.showFile(xrdtest::shownFileOf(path_));
        QVERIFY(sliders.evaluateNow());
        const OverlayData before = *sliders.liveOverlay();
        sliders.slider(0)->setSliderDown(true);
        sliders.slider(0)->setValue(20);
        QVERIFY(sliders.evaluateNow());
        QVERIFY(sliders.liveOverlay()->model != before.model);
        QCOMPARE(sliders.liveOverlay()->measured, before.measured);
        QCOMPARE(sliders.liveOverlay()->theta, before.theta);
    }

    // A step by keyboard has no release: it is written at once.
    void keyboardStepWritesAtOnce() {
        FitSliders sliders;
        sliders.showFile(xrdtest::shownFileOf(path_));
        sliders.slider(0)->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(xrdtest::readTestFile(path_),
                 QByteArray(kStructure).replace("LAYER 20 0.2", "LAYER 21 0.2"));
    }

    // The file changes on disk while a slider is held: the sliders stay under the hand and
    // follow the file once it lets go.
    // The file changes on disk while a slider is held: the sliders stay under the hand and
    // follow the file once it lets go. The value goes into the new text while its LAYER
    // lines are the ones shown; a layer inserted meanwhile refuses it (never the wrong layer).
    void reloadWhileHeldWaitsForRelease_data() {
        QTest::addColumn<QByteArray>("changed");
        QTest::addColumn<QByteArray>("after");
        const QByteArray noOffset = QByteArray(kStructure).replace("FIT OFFSET -0.01 0.01\n", "");
        QTest::newRow("a FIT line removed")
            << noOffset << QByteArray(noOffset).replace("LAYER 20 0.2", "LAYER 25 0.2");
        const QByteArray inserted =
            QByteArray(noOffset).replace("SUBSTRATE 0 1\n", "SUBSTRATE 0 1\nLAYER 15 0.2 1\n");
        QTest::newRow("a layer inserted before") << inserted << inserted;
    }

    void reloadWhileHeldWaitsForRelease() {
        QFETCH(QByteArray, changed);
        QFETCH(QByteArray, after);
        FitSliders sliders;
        QSignalSpy log(&sliders, &FitSliders::logLine);
        sliders.showFile(xrdtest::shownFileOf(path_));
        QSlider* held = sliders.slider(0);
        held->setSliderDown(true);
        held->setValue(15);
        xrdtest::writeTestFile(path_, changed);
        sliders.showFile(xrdtest::shownFileOf(path_));
        QCOMPARE(sliders.count(), 3);
        QCOMPARE(sliders.slider(0), held);
        held->setSliderDown(false);
        QCOMPARE(xrdtest::readTestFile(path_), after);
        QCOMPARE(log.count(), 1);
        QCOMPARE(log.at(0).at(0).toString().startsWith(QStringLiteral("Wrote")), after != changed);
        QTRY_COMPARE(sliders.count(), 2);
    }

    // In the window: both docks appear with the structure, a held slider's agreement goes
    // to the status bar, and a table edit is written and computed again.
    void inTheWindow() {
        QStandardPaths::setTestModeEnabled(true);
        Body body;
        body.show();
        body.open(path_);
        auto* table = body.findChild<LayerTable*>();
        auto* sliders = body.findChild<FitSliders*>();
        QVERIFY(table && sliders);
        QTRY_COMPARE(table->table()->rowCount(), 2);
        QVERIFY(table->isVisible() && sliders->isVisible());
        QCOMPARE(sliders->count(), 3);
        sliders->slider(0)->setSliderDown(true);
        sliders->slider(0)->setValue(3);
        QTRY_VERIFY(
            body.statusBar()->findChild<QLabel*>()->text().startsWith(QStringLiteral("Agreement")));
        sliders->slider(0)->setSliderDown(false);
        QCOMPARE(xrdtest::readTestFile(path_),
                 QByteArray(kStructure).replace("LAYER 20 0.2", "LAYER 13 0.2"));
        // The reload after the save shows the file's values: the live overlay has gone.
        QTRY_VERIFY_WITH_TIMEOUT(!sliders->liveOverlay(), 10000);
        table->table()->item(1, LayerTable::Monolayers)->setText(QStringLiteral("41"));
        QTRY_COMPARE_WITH_TIMEOUT(table->table()->item(1, LayerTable::Monolayers)->text(),
                                  QStringLiteral("41"), 10000);
        QCOMPARE(xrdtest::readTestFile(path_), QByteArray(kStructure)
                                                   .replace("LAYER 20 0.2", "LAYER 13 0.2")
                                                   .replace("LAYER 40 0", "LAYER 41 0"));
        QTRY_VERIFY(!body.busy());
    }

    // A file that went missing while a slider was held: a log line, nothing written.
    void fileGoneBeforeRelease() {
        FitSliders sliders;
        QSignalSpy log(&sliders, &FitSliders::logLine);
        sliders.showFile(xrdtest::shownFileOf(path_));
        sliders.slider(2)->setSliderDown(true);
        sliders.slider(2)->setValue(0);
        QVERIFY(QFile::remove(path_));
        sliders.slider(2)->setSliderDown(false);
        QCOMPARE(log.count(), 1);
        QVERIFY(!QFile::exists(path_));
    }
};

QTEST_MAIN(TestFitSliders)
#include "tst_fitsliders.moc"
