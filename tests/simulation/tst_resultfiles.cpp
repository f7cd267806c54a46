#include "simulation/resultfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <random>

#include <sys/resource.h>

class TestResultFiles : public QObject {
    Q_OBJECT

private:
    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

private slots:
    void names_data() {
        QTest::addColumn<QString>("structure");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "/data/run7.txt"
                               << "cmp"
                               << "/data/run7-cmp.txt";
        QTest::newRow("curve tag") << "/data/run7.txt"
                                   << "dif"
                                   << "/data/run7-dif.txt";
        QTest::newRow("only the last suffix moves") << "/data/run.7.txt"
                                                    << "cmp"
                                                    << "/data/run.7-cmp.txt";
        QTest::newRow("no suffix keeps the dot") << "/data/structure"
                                                 << "dif"
                                                 << "/data/structure-dif.";
        QTest::newRow("dotted folder") << "/da.ta/structure"
                                       << "cmp"
                                       << "/da.ta/structure-cmp.";
        QTest::newRow("spaces") << "/My Data/s 1.txt"
                                << "cmp"
                                << "/My Data/s 1-cmp.txt";
    }

    void names() {
        QFETCH(QString, structure);
        QFETCH(QString, tag);
        QFETCH(QString, expected);
        QCOMPARE(resultFileName(structure, tag), expected);
    }

    void relativeNamesBecomeAbsolute() {
        const QString expected = QDir::current().absoluteFilePath("sub/run-cmp.txt");
        QCOMPARE(resultFileName("sub/run.txt", "cmp"), QDir::cleanPath(expected));
        QCOMPARE(resultFileName("run.txt", "dif", "/tmp/out"), QString("/tmp/out/run-dif.txt"));
    }

    void numberFormat() {
        // The text stream's defaults: 6 significant digits, scientific below 1e-4 and from
        // 1e6 on, no trailing zeros.
        QTemporaryDir dir;
        const QString path = dir.filePath("cols.txt");
        QVERIFY(writeColumns(path, {0.0, 2.82675, 1234567.0, -0.5},
                             {0.1, 0.00001, HUGE_VAL, 123456.0}, {1.0 / 3, 5.0, 1e-4, 2e21}));
        QCOMPARE(read(path), QByteArray("0\t0.1\t0.333333\n"
                                        "2.82675\t1e-05\t5\n"
                                        "1.23457e+06\tinf\t0.0001\n"
                                        "-0.5\t123456\t2e+21\n"));
    }

    void chunksGiveTheSameFile_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("threads");
        QTest::newRow("one line, all cores") << 1 << 0;
        QTest::newRow("just over one chunk") << 8193 << 2;
        QTest::newRow("more chunks than threads") << 100000 << 3;
        QTest::newRow("one thread, many chunks") << 100000 << 1;
    }

    // Every chunking writes what one text stream writes for the whole file.
    void chunksGiveTheSameFile() {
        QFETCH(int, lines);
        QFETCH(int, threads);
        std::mt19937_64 random(7);
        std::uniform_real_distribution<double> uniform(-1, 1);
        QVector<double> columns[3];
        QString expected;
        QTextStream stream(&expected);
        for (int i = 0; i < lines; ++i) {
            for (auto& column : columns)
                column.append(uniform(random) * std::pow(10.0, int(random() % 30) - 10));
            stream << columns[0][i] << '\t' << columns[1][i] << '\t' << columns[2][i] << '\n';
        }
        stream.flush();
        QTemporaryDir dir;
        const QString path = dir.filePath("chunks.txt");
        QVERIFY(writeColumns(path, columns[0], columns[1], columns[2], threads));
        QCOMPARE(read(path), expected.toLatin1());
    }

    void emptyArraysGiveAnEmptyFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("empty.txt");
        QVERIFY(writeColumns(path, {}, {}, {}));
        QVERIFY(QFile::exists(path));
        QCOMPARE(read(path), QByteArray());
    }

    void existingFileIsReplaced() {
        QTemporaryDir dir;
        const QString path = dir.filePath("r.txt");
        QVERIFY(writeColumns(path, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}));
        QVERIFY(writeColumns(path, {4}, {5}, {6}));
        QCOMPARE(read(path), QByteArray("4\t5\t6\n"));
    }

    void unwritableFileIsSkipped() {
        QTemporaryDir dir;
        // A folder stands where the file would go, and a folder that does not exist.
        const QString blocked = dir.filePath("blocked.txt");
        QVERIFY(QDir().mkpath(blocked));
        QVERIFY(!writeColumns(blocked, {1}, {2}, {3}));
        QVERIFY(QFileInfo(blocked).isDir());
        QVERIFY(!writeColumns(dir.filePath("missing/r.txt"), {1}, {2}, {3}));
        const QVector<double> many(50000, 1.5);
        QVERIFY(!writeColumns(blocked, many, many, many, 2));
        // The other file of the pair is still written.
        QVERIFY(writeColumns(dir.filePath("other.txt"), {1}, {2}, {3}));
        QCOMPARE(read(dir.filePath("other.txt")), QByteArray("1\t2\t3\n"));
        // Nothing half-written is left behind.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"other.txt"});
    }

    // A write that fails half-way (here: past a 1 MB file-size limit) keeps the old file.
    void failedWriteKeepsTheOldFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("r.txt");
        QVERIFY(writeColumns(path, {1}, {2}, {3}));
        const QVector<double> many(100000, 1.0 / 3);
        rlimit old{}, limit{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        limit = {1 << 20, old.rlim_max};
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const bool one = writeColumns(path, many, many, many, 1);
        const bool two = writeColumns(path, many, many, many, 2);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!one && !two);
        QCOMPARE(read(path), QByteArray("1\t2\t3\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"r.txt"});
    }
};

QTEST_GUILESS_MAIN(TestResultFiles)
#include "tst_resultfiles.moc"
