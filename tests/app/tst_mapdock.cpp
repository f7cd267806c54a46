#include "app/mapdock.h"
#include "plot/dispa.h"
#include "structure/config.h"

#include <QDir>
#include <QMainWindow>
#include <QtTest>

// The map dock: which dropped files it takes (maps, never a 1-D scan), and a click on a
// spot of a shown map writing that spot's numbers to the log.
class TestMapDock : public QObject {
    Q_OBJECT

private slots:
    void takesMaps_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("map");
        for (const char* name :
             {"ingaas224-exit.xrdml", "ingaas224-incidence.ras", "graded224-exit.xrdml"})
            QTest::newRow(name) << QStringLiteral(XRD_TEST_DATA_DIR "/rsm/") + name << true;
        // A plain-text map is opened by the menu or the command line, never by a drop.
        QTest::newRow("text map") << QStringLiteral(XRD_TEST_DATA_DIR "/rsm/ingaas224-exit.txt")
                                  << false;
        const QDir scans(QStringLiteral(XRD_TEST_DATA_DIR "/scans"));
        for (const QFileInfo& f : scans.entryInfoList(QDir::Files))
            QTest::newRow(qPrintable("scan " + f.fileName())) << f.filePath() << false;
    }

    void takesMaps() {
        QFETCH(QString, file);
        QFETCH(bool, map);
        QCOMPARE(MapDock::looksLikeMap(file), map);
    }

    void clickedSpot() {
        QMainWindow window;
        QStringList lines;
        Config config;
        QVERIFY(config.load(QStringLiteral(XRD_TEST_DATA_DIR "/rsm/ingaas224-structure.txt")));
        MapDock* dock =
            openMapIn(&window, QStringLiteral(XRD_TEST_DATA_DIR "/rsm/ingaas224-exit.xrdml"),
                      &config, [&lines](const QString& line) { lines << line; });
        QVERIFY(dock->picture().analysis.ok);
        QCOMPARE(dock->picture().analysis.layers.size(), 3);
        QCOMPARE(lines.size(), 6);
        // A broken map keeps the one shown and says why in one line.
        QVERIFY(!dock->openMap(QStringLiteral(XRD_TEST_DATA_DIR "/rsm"), &config));
        QCOMPARE(lines.size(), 7);
        QVERIFY(lines.last().startsWith(QStringLiteral("Can't read map [")));
        QVERIFY(dock->picture().analysis.ok);

        DispA* plot = dock->plot();
        plot->resize(500, 450);
        plot->grab(); // paints once: the whole map in view
        const int layer2 = dock->picture().analysis.labels.indexOf(QStringLiteral("layer 2"));
        QVERIFY(layer2 >= 0);
        const MapSpot& spot = dock->picture().analysis.spots[layer2];
        const QPoint at(qRound(plot->coord.toPixX(spot.qx)), qRound(plot->coord.toPixY(spot.qz)));
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, at);
        QCOMPARE(lines.size(), 8);
        QVERIFY2(lines.last().startsWith(QStringLiteral("Spot (picked): ")) &&
                     lines.last().contains(QStringLiteral("relaxation 0.5")),
                 qPrintable(lines.last()));
    }
};

QTEST_MAIN(TestMapDock)
#include "tst_mapdock.moc"
