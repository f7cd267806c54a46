// The import dialog of Open Measured Scan: what the sample XRDML file of three scans offers,
// and the MEASURED words its choices give, which the reader of those words takes back.

#include "app/importdialog.h"
#include "structure/extensions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QtTest>

class TestImportDialog : public QObject {
    Q_OBJECT

private slots:
    void choices_data() {
        QTest::addColumn<int>("axis"); // 0: the file's, 1: 2theta, 2: omega
        QTest::addColumn<int>("scan");
        QTest::addColumn<bool>("window");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<QString>("words");
        QTest::newRow("everything left to the file") << 0 << 0 << false << 0.0 << 0.0 << "";
        QTest::newRow("omega, scan 2, a window")
            << 2 << 2 << true << 31.5 << 31.8 << "omega SCAN 2 WINDOW 31.5 31.8";
        QTest::newRow("2theta alone") << 1 << 0 << false << 0.0 << 0.0 << "2theta";
        QTest::newRow("a window backwards is none") << 0 << 3 << true << 64.0 << 63.0 << "SCAN 3";
    }

    void choices() {
        QFETCH(int, axis);
        QFETCH(int, scan);
        QFETCH(bool, window);
        QFETCH(double, from);
        QFETCH(double, to);
        ImportDialog dialog(QStringLiteral(XRD_TEST_DATA_DIR "/scans/xrdml-counts.xrdml"));
        // The file holds three scans; the one taken by default covers 2theta 63 to 64.
        QCOMPARE(dialog.scanBox()->maximum(), 3);
        QCOMPARE(dialog.fromBox()->value(), 63.0);
        QCOMPARE(dialog.toBox()->value(), 64.0);
        QVERIFY(!dialog.fromBox()->isEnabled());
        dialog.axisBox()->setCurrentIndex(axis);
        dialog.scanBox()->setValue(scan);
        dialog.windowBox()->setChecked(window);
        QCOMPARE(dialog.fromBox()->isEnabled(), window);
        if (window) {
            dialog.fromBox()->setValue(from);
            dialog.toBox()->setValue(to);
        }
        QTEST(dialog.choices(), "words");
        MeasuredSpec spec;
        QString problem;
        QVERIFY2(
            readMeasuredChoices(dialog.choices().split(' ', Qt::SkipEmptyParts), spec, problem),
            qPrintable(problem));
        QCOMPARE(spec.scanNumber, scan);
        QCOMPARE(spec.windowGiven, window && from < to);
    }
};

QTEST_MAIN(TestImportDialog)
#include "tst_importdialog.moc"
