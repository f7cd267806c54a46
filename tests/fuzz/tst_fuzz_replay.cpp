#include "road.h"

#include <QDir>
#include <QtTest>

// Replays every input the fuzzer kept (seeds, and the inputs of faults it found) through
// the whole road of a dropped file.
class TestFuzzReplay : public QObject {
    Q_OBJECT

private slots:
    void replay_data() {
        QTest::addColumn<QString>("file");
        QStringList dirs{QStringLiteral(XRD_FUZZ_CORPUS_DIR), QStringLiteral(XRD_EXAMPLES_DIR)};
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
        const QString problem = checkRoad(f.readAll());
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
};

QTEST_MAIN(TestFuzzReplay)
#include "tst_fuzz_replay.moc"
