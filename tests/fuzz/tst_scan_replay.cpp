#include "scancheck.h"

#include <QDir>
#include <QtTest>

// Replays every input the scan readers' fuzzer kept (seeds, and the inputs of faults it
// found) and the readers' test samples through the readers' promises.
class TestScanReplay : public QObject {
    Q_OBJECT

private slots:
    void replay_data() {
        QTest::addColumn<QString>("file");
        const QStringList dirs{QStringLiteral(XRD_SCAN_CORPUS_DIR),
                               QStringLiteral(XRD_TEST_DATA_DIR "/scans")};
        int rows = 0;
        for (const QString& d : dirs) {
            for (const QFileInfo& f : QDir(d).entryInfoList(QDir::Files, QDir::Name)) {
                QTest::newRow(qPrintable(f.fileName())) << f.filePath();
                ++rows;
            }
        }
        QVERIFY(rows > 0);
    }

    void replay() {
        QFETCH(QString, file);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString problem = checkScanReaders(f.readAll());
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
};

QTEST_GUILESS_MAIN(TestScanReplay)
#include "tst_scan_replay.moc"
