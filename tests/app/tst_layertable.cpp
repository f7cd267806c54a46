// The layer table: what it lists, and that an edited cell changes exactly one number of the
// structure file (or one FIT line), every other byte kept.

#include "app/layertable.h"
#include "structure/extensions.h"
#include "tests/common/shownfile.h"
#include "tests/common/testfiles.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// CR LF line ends, a tab, wide spacing, comments holding the same numbers as the lines.
const QByteArray kFile = "# InGaAs well 20 ML, GaAs barrier 100 ML\r\n"
                         "WAVELENGTH 1.5406\r\n"
                         "SUBSTRATE 0 1\r\n"
                         "LAYER 20   0.2 1   L 2 0 1   # well 20\r\n"
                         "LAYER\t100 0 1\r\n"
                         "REPEAT 3\r\n"
                         "FIT LAYER 2 X 0 0.1   # barrier\r\n";

} // namespace

class TestLayerTable : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_;

private slots:
    void init() {
        path_ = dir_.filePath(QStringLiteral("sl.txt"));
        QFile f(path_);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(kFile), kFile.size());
    }

    void listsTheFile() {
        LayerTable table;
        table.showFile(xrdtest::shownFileOf(path_));
        QTableWidget* t = table.table();
        QCOMPARE(t->rowCount(), 2);
        QVERIFY(t->verticalHeaderItem(0)->text().contains(QStringLiteral("substrate")));
        QVERIFY(t->verticalHeaderItem(1)->text().contains(QStringLiteral("surface")));
        QCOMPARE(t->item(0, LayerTable::EndShape)->text(), QStringLiteral("L"));
        // Left out in the file: shown as it reads.
        QCOMPARE(t->item(1, LayerTable::StartShape)->text(), QStringLiteral("A"));
        // 100 ML of GaAs on GaAs are 28.27 nm (a = 5.6533 Å, half of it per monolayer).
        QCOMPARE(t->item(1, LayerTable::Nanometres)->text(), QStringLiteral("28.27"));
        QCOMPARE(t->item(1, LayerTable::fitColumn(FitParameter::InFraction))->checkState(),
                 Qt::Checked);
        QCOMPARE(t->item(1, LayerTable::fitColumn(FitParameter::InFraction, 2))->text(),
                 QStringLiteral("0.1"));
        QCOMPARE(t->item(0, LayerTable::fitColumn(FitParameter::Thickness))->checkState(),
                 Qt::Unchecked);
        QVERIFY(t->item(0, LayerTable::fitColumn(FitParameter::Thickness, 1))->text().isEmpty());
        table.showFile(nullptr);
        QCOMPARE(t->rowCount(), 0);
    }

    void edit_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("typed"); // "check" and "uncheck" for the fit columns
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("thickness") << 0 << int(LayerTable::Monolayers) << "25"
                                   << QByteArray(kFile).replace("LAYER 20 ", "LAYER 25 ");
        QTest::newRow("thickness in nm") << 1 << int(LayerTable::Nanometres) << "14.13"
                                         << QByteArray(kFile).replace("\t100", "\t50");
        QTest::newRow("In fraction") << 0 << int(LayerTable::InFraction) << " 0.25 "
                                     << QByteArray(kFile).replace("0.2 1   L", "0.25 1   L");
        QTest::newRow("end shape") << 0 << int(LayerTable::EndShape) << "p"
                                   << QByteArray(kFile).replace("   L 2", "   P 2");
        QTest::newRow("end width")
            << 0 << int(LayerTable::EndWidth) << "4" << QByteArray(kFile).replace("L 2 0", "L 4 0");
        QTest::newRow("start As fraction, left out before")
            << 1 << int(LayerTable::StartAs) << "1"
            << QByteArray(kFile).replace("\t100 0 1", "\t100 0 1 A 0 0 0 A 0 0 1");
        QTest::newRow("free thickness") << 0 << LayerTable::fitColumn(FitParameter::Thickness)
                                        << "check" << QByteArray(kFile) + "FIT LAYER 1 N 16 24\r\n";
        QTest::newRow("upper bound of a free fraction")
            << 1 << LayerTable::fitColumn(FitParameter::InFraction, 2) << "0.05"
            << QByteArray(kFile).replace("X 0 0.1", "X 0 0.05");
        QTest::newRow("lower bound of a thickness not yet free")
            << 1 << LayerTable::fitColumn(FitParameter::Thickness, 1) << "90"
            << QByteArray(kFile) + "FIT LAYER 2 N 90 120\r\n";
        QTest::newRow("fraction no longer free")
            << 1 << LayerTable::fitColumn(FitParameter::InFraction) << "uncheck"
            << QByteArray(kFile).replace("FIT LAYER 2 X 0 0.1   # barrier\r\n", "");
        QTest::newRow("fraction above 1 refused")
            << 0 << int(LayerTable::AsFraction) << "1.5" << kFile;
        QTest::newRow("thickness not whole refused")
            << 0 << int(LayerTable::Monolayers) << "2.5" << kFile;
        QTest::newRow("shape refused") << 0 << int(LayerTable::StartShape) << "X" << kFile;
        QTest::newRow("not a number refused")
            << 0 << LayerTable::fitColumn(FitParameter::InFraction, 1) << "abc" << kFile;
    }

    void edit() {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QString, typed);
        QFETCH(QByteArray, after);
        LayerTable table;
        QSignalSpy log(&table, &LayerTable::logLine);
        table.showFile(xrdtest::shownFileOf(path_));
        QAbstractItemModel* model = table.table()->model();
        const QModelIndex index = model->index(row, column);
        if (typed == QLatin1String("check") || typed == QLatin1String("uncheck"))
            QVERIFY(model->setData(index,
                                   typed == QLatin1String("check") ? Qt::Checked : Qt::Unchecked,
                                   Qt::CheckStateRole));
        else
            QVERIFY(model->setData(index, typed));
        QCOMPARE(xrdtest::readTestFile(path_), after);
        // One line says what was written or why not.
        QCOMPARE(log.count(), 1);
        QVERIFY(log.at(0).at(0).toString().contains(path_));
        // The table shows the file again once the event loop runs: a refused value goes back.
        QCoreApplication::processEvents();
        table.showFile(xrdtest::shownFileOf(path_));
        if (after == kFile && typed != QLatin1String("check"))
            QVERIFY(table.table()->item(row, column)->text() != typed);
    }

    // Another editor inserted a layer after the table was shown: the edit meant for layer 2
    // is refused, never written into the layer now in its place.
    void layerInsertedMeanwhile() {
        LayerTable table;
        table.showFile(xrdtest::shownFileOf(path_));
        QSignalSpy log(&table, &LayerTable::logLine);
        const QByteArray theirs =
            QByteArray(kFile).replace("SUBSTRATE 0 1\r\n", "SUBSTRATE 0 1\r\nLAYER 5 1 0\r\n");
        xrdtest::writeTestFile(path_, theirs);
        table.table()->item(1, LayerTable::Monolayers)->setText(QStringLiteral("90"));
        QCOMPARE(xrdtest::readTestFile(path_), theirs);
        QCOMPARE(log.count(), 1);
        QVERIFY(log.at(0).at(0).toString().startsWith(QStringLiteral("Not written into")));
    }

    // A structure file that went missing: the edit says so and writes nothing.
    void fileGone() {
        LayerTable table;
        table.showFile(xrdtest::shownFileOf(path_));
        QSignalSpy log(&table, &LayerTable::logLine);
        QVERIFY(QFile::remove(path_));
        table.table()->item(0, LayerTable::Monolayers)->setText(QStringLiteral("30"));
        QCOMPARE(log.count(), 1);
        QVERIFY(log.at(0).at(0).toString().startsWith(QStringLiteral("Can't edit")));
        QVERIFY(!QFile::exists(path_));
    }
};

QTEST_MAIN(TestLayerTable)
#include "tst_layertable.moc"
