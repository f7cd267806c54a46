#include "app/body.h"

#include "tests/common/testfiles.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include "tests/common/memory.h"

using xrdtest::liveHeapMegabytes;
using xrdtest::peakMegabytes;

// Hundreds of drops in one window: valid, invalid, missing, refused and larger files in
// turn. The heap in use must not grow from one round of drops to the next (the sanitizer
// build adds that nothing leaks at exit).
class TestManyLoads : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& content) {
        return xrdtest::writeTestFile(dir_, name, content);
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); } // the recent files

    void heapDoesNotGrow() {
        QVERIFY(dir_.isValid());
        QByteArray binary(200000, '\0');
        for (int i = 0; i < binary.size(); ++i)
            binary[i] = char((i * 7919) & 0xff);
        const QStringList files{
            write("sl.txt", "SUBSTRATE 1 0\nLAYER 20 0.532 1 L 2 1 0 L 2 1 0\n"
                            "LAYER 40 1 0\nREPEAT 10\n"),
            write("invalid.txt", "LAYER 10 1 0\n"),
            dir_.filePath("missing.txt"),
            write("large.txt", "WAVELENGTH 3\nSUBSTRATE 1 0\nLAYER 800 1 0\n"
                               "LAYER 30 0.7 0.6 L 5 1 0 L 5 1 0\nLAYER 800 1 0\n"),
            write("refused.txt", "SUBSTRATE 1 0\nLAYER 3 -7 0\n"),
            write("binary.bin", binary),
            write("graded.txt", "SUBSTRATE 0 1\nLAYER 300 0.3 1 A 0 0 1 L 300 0 1\n"),
        };

        Body body;
        body.show();
        QVERIFY(QTest::qWaitForWindowExposed(&body));
        auto round = [&] {
            for (const QString& f : files) {
                QMetaObject::invokeMethod(&body, "droppedInputFile",
                                          Q_ARG(QStringList, QStringList{f}));
                // Paint as the event loop would after each drop.
                QVERIFY(!body.grab().isNull());
            }
        };
        // The first rounds fill caches (fonts, glyphs, the log pane's layout).
        for (int i = 0; i < 3; ++i)
            round();
        const double before = liveHeapMegabytes();
        const int rounds = 30;
        for (int i = 0; i < rounds; ++i)
            round();
        const double after = liveHeapMegabytes();
        // The log pane legitimately grows by its lines; everything else must be reused.
        body.findChild<QTextEdit*>(QStringLiteral("Log"))->clear();
        const double cleared = liveHeapMegabytes();
        qInfo("%d drops after the first rounds: heap %.2f MB before, %.2f MB after, %.2f MB with "
              "the log cleared; "
              "peak resident %.0f MB",
              rounds * int(files.size()), before, after, cleared, peakMegabytes());
        QVERIFY2(cleared - before < 2.0,
                 qPrintable(QString("heap grew by %1 MB").arg(cleared - before)));
    }
};

QTEST_MAIN(TestManyLoads)
#include "tst_many_loads.moc"
