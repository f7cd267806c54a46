#include "tests/fuzz/road.h"
#include "tests/fuzz/scancheck.h"

#include <QDir>
#include <QtTest>

// Replays every input the two fuzzers kept (seeds, and the inputs of faults they found), with
// the bundled examples and the scan readers' samples: structure files through the whole road
// of a dropped file, scans through the readers' promises.
class TestFuzzReplay : public QObject {
    Q_OBJECT

private slots:
    void replay_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("scan");
        const QList<QPair<QString, bool>> dirs{{QStringLiteral(XRD_FUZZ_CORPUS_DIR), false},
                                               {QStringLiteral(XRD_EXAMPLES_DIR), false},
                                               {QStringLiteral(XRD_SCAN_CORPUS_DIR), true},
                                               {QStringLiteral(XRD_TEST_DATA_DIR "/scans"), true}};
        for (const auto& d : dirs) {
            const QFileInfoList files = QDir(d.first).entryInfoList(QDir::Files, QDir::Name);
            QVERIFY2(!files.isEmpty(), qPrintable(d.first));
            for (const QFileInfo& f : files)
                QTest::newRow(qPrintable(QDir(d.first).dirName() + '/' + f.fileName()))
                    << f.filePath() << d.second;
        }
    }

    void replay() {
        QFETCH(QString, file);
        QFETCH(bool, scan);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const QString problem = scan ? checkScanReaders(bytes) : checkRoad(bytes);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
};

QTEST_MAIN(TestFuzzReplay)
#include "tst_fuzz_replay.moc"
