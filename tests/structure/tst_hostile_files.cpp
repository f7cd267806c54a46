#include "structure/config.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <random>

#include "tests/common/memory.h"

namespace {

// Under AddressSanitizer the memory bounds are not checked (see memory.h) and the big files
// are smaller: the code path is the same, and ten times slower.
constexpr bool kCheckMemory = xrdtest::kProcessSizeMeaningful;
constexpr int kScale = kCheckMemory ? 1 : 4;

} // namespace

// Files a user may drop that are no structure files, or are absurdly large: each must end in
// the loader's own outcome (an invalid structure, or "Can't open"), with its memory bounded
// by the size of one line rather than of the file.
class TestHostileFiles : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    // Writes `repeat` copies of `chunk` (plus `head` first) without holding the file in memory.
    QString write(const QString& name, const QByteArray& head, const QByteArray& chunk,
                  int repeat) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        f.write(head);
        for (int i = 0; i < repeat; ++i)
            f.write(chunk);
        return path;
    }

    // Loads `path`, expecting it to open and to give no structure; returns the growth of the
    // peak memory in MB.
    double loadInvalid(const QString& path) {
        const double before = xrdtest::peakMegabytes();
        Config c;
        QSignalSpy spy(&c, &Config::log);
        if (!c.load(path) || c.valid || c.fileName != path || spy.count() != 1)
            return -1;
        if (spy.at(0).at(0).toString() != QString("Loading [%1].").arg(path))
            return -1;
        return xrdtest::peakMegabytes() - before;
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void binaryFile() {
        std::mt19937 rng(7);
        QByteArray bytes(1 << 20, '\0');
        for (char& b : bytes)
            b = char(rng() & 0xff);
        QVERIFY(loadInvalid(write("binary.bin", bytes, QByteArray(), 0)) >= 0);
    }

    void utf16WithoutByteOrderMark() {
        // Decoded with the system locale, the text falls apart into characters and NULs;
        // nothing in it reads as a keyword.
        // The codec writes a byte-order mark of its own; without it the file is bare UTF-16.
        const QByteArray text = QTextCodec::codecForName("UTF-16LE")
                                    ->fromUnicode(QStringLiteral("SUBSTRATE 1 0\nLAYER 10 1 0\n"))
                                    .mid(2);
        QVERIFY(text.startsWith(QByteArray("S\0U", 3)));
        QVERIFY(loadInvalid(write("utf16.txt", text, QByteArray(), 0)) >= 0);
    }

    void hundredMegabyteLog() {
        const QByteArray line = "2026-12-07 08:00:00 scan point 12345 counts 678 theta 33.0\n";
        const int lines = 100 * 1024 * 1024 / kScale / line.size();
        const double growth = loadInvalid(write("huge.log", QByteArray(), line, lines));
        QVERIFY(growth >= 0);
        qInfo("%d MB log: peak memory grew by %.1f MB", 100 / kScale, growth);
        QVERIFY2(!kCheckMemory || growth < 64,
                 qPrintable(QString("peak memory grew by %1 MB").arg(growth)));
    }

    void fiftyMegabyteLine_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("chunk");
        QTest::newRow("one word") << QByteArray() << QByteArray(1024, 'x');
        QTest::newRow("a number as layer thickness")
            << QByteArray("SUBSTRATE 1 0\nLAYER ") << QByteArray(1024, '7');
        QTest::newRow("spaces only") << QByteArray() << QByteArray(1024, ' ');
    }

    void fiftyMegabyteLine() {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, chunk);
        const QString path = write("line.txt", head, chunk, 50 * 1024 / kScale);
        Config c;
        const double before = xrdtest::peakMegabytes();
        QVERIFY(c.load(path));
        // The line is held once as text (two bytes a character) and once as its token.
        const double growth = xrdtest::peakMegabytes() - before;
        qInfo("%d MB line: peak memory grew by %.1f MB", 50 / kScale, growth);
        QVERIFY2(!kCheckMemory || growth < 400,
                 qPrintable(QString("peak memory grew by %1 MB").arg(growth)));
        if (head.isEmpty()) {
            QVERIFY(!c.valid);
        } else {
            // The huge thickness does not convert: a layer of 0 monolayers.
            QVERIFY(c.valid);
            QCOMPARE(c.layers.size(), 1);
            QCOMPARE(c.layers[0].monolayers, 0);
        }
    }

    void layerLinesBeyondTheCap() {
        const QString path =
            write("layers.txt", "SUBSTRATE 1 0\n", "LAYER 1 1 0\n", Config::maxLayers + 2);
        Config c;
        QVERIFY(c.load(path));
        QVERIFY(c.valid);
        QCOMPARE(c.layers.size(), Config::maxLayers);
        QCOMPARE(c.ignoredLayers, qint64(2));
        // A new load starts from scratch.
        QVERIFY(c.load(write("small.txt", "SUBSTRATE 1 0\nLAYER 1 1 0\n", QByteArray(), 0)));
        QCOMPARE(c.ignoredLayers, qint64(0));
    }
};

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_hostile_files.moc"
