#include "simulation/outputguard.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Runs of the batch tool's shape, checked before anything is written: which files are
// refused, and that the refusing line names the result and what it would have replaced.
class TestOutputGuard : public QObject {
    Q_OBJECT

private slots:
    void clashes_data() {
        QTest::addColumn<QStringList>("files"); // structure files, relative to a folder
        QTest::addColumn<QStringList>("scans"); // each file's scan ("" none)
        QTest::addColumn<QString>("outputDir"); // relative, "" beside the structure
        QTest::addColumn<bool>("fit");
        QTest::addColumn<bool>("png");
        QTest::addColumn<QList<int>>("refused"); // indices of the refused files
        QTest::addColumn<QStringList>("named");  // names the refusing line holds
        QTest::newRow("no clash") << QStringList{"a/x.txt", "a/y.txt"} << QStringList{"", ""} << ""
                                  << true << true << QList<int>{} << QStringList{};
        QTest::newRow("scan named NAME-meas")
            << QStringList{"a/x.txt"} << QStringList{"a/x-meas.txt"} << "" << false << false
            << QList<int>{0} << QStringList{"a/x-meas.txt]: it is [", "a/x.txt] was not"};
        QTest::newRow("scan named NAME-dif")
            << QStringList{"a/x.txt"} << QStringList{"a/x-dif.txt"} << "" << false << false
            << QList<int>{0} << QStringList{"a/x-dif.txt"};
        QTest::newRow("x.txt x-cmp.txt")
            << QStringList{"a/x.txt", "a/x-cmp.txt"} << QStringList{"", ""} << "" << false << false
            << QList<int>{0} << QStringList{"a/x-cmp.txt]: it is [", "reads"};
        QTest::newRow("x-cmp.txt x.txt, order aside")
            << QStringList{"a/x-cmp.txt", "a/x.txt"} << QStringList{"", ""} << "" << false << false
            << QList<int>{1} << QStringList{"a/x-cmp.txt"};
        QTest::newRow("plot image over a scan")
            << QStringList{"a/x.txt"} << QStringList{"a/x-plot.png"} << "" << false << true
            << QList<int>{0} << QStringList{"a/x-plot.png"};
        QTest::newRow("plot image without --png")
            << QStringList{"a/x.txt"} << QStringList{"a/x-plot.png"} << "" << false << false
            << QList<int>{} << QStringList{};
        QTest::newRow("fitted file is an input")
            << QStringList{"a/x.txt", "a/x-fitted.txt"} << QStringList{"", ""} << "" << true
            << false << QList<int>{0} << QStringList{"a/x-fitted.txt"};
        QTest::newRow("fitted file's results over a scan")
            << QStringList{"a/x.txt"} << QStringList{"a/x-fitted-meas.txt"} << "" << true << false
            << QList<int>{0} << QStringList{"a/x-fitted-meas.txt"};
        QTest::newRow("a result is another file's scan")
            << QStringList{"a/x.txt", "a/y.txt"} << QStringList{"a/y-dif.txt", ""} << "" << false
            << false << QList<int>{1} << QStringList{"a/y-dif.txt", "a/y.txt] was not"};
        QTest::newRow("same name into one output folder")
            << QStringList{"a/x.txt", "b/x.txt"} << QStringList{"", ""} << "out" << false << false
            << QList<int>{1} << QStringList{"out/x-cmp.txt]: it holds the results of [", "a/x.txt"};
        QTest::newRow("same name, folders apart")
            << QStringList{"a/x.txt", "b/x.txt"} << QStringList{"", ""} << "" << false << false
            << QList<int>{} << QStringList{};
        QTest::newRow("one file named twice")
            << QStringList{"a/x.txt", "a/../a/x.txt"} << QStringList{"", ""} << "out" << false
            << false << QList<int>{} << QStringList{};
        QTest::newRow("output folder spelt two ways")
            << QStringList{"a/x.txt", "b/x.txt"} << QStringList{"", ""} << "b/../a" << false
            << false << QList<int>{1} << QStringList{"a/x-cmp.txt]: it holds the results"};
    }

    void clashes() {
        QFETCH(QStringList, files);
        QFETCH(QStringList, scans);
        QFETCH(QString, outputDir);
        QFETCH(bool, fit);
        QFETCH(bool, png);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("a") && QDir(dir.path()).mkpath("b") &&
                QDir(dir.path()).mkpath("out"));
        QVector<RunFiles> run;
        for (int i = 0; i < files.size(); ++i) {
            const QString structure = dir.filePath(files[i]);
            const QString scan = scans[i].isEmpty() ? QString() : dir.filePath(scans[i]);
            for (const QString& input : {structure, scan}) {
                QFile f(input);
                QVERIFY(input.isEmpty() || f.open(QIODevice::WriteOnly));
            }
            run.append({structure,
                        {structure, scan},
                        resultPaths(structure, outputDir.isEmpty() ? "" : dir.filePath(outputDir),
                                    !scan.isEmpty(), png, fit)});
        }
        const QVector<QStringList> refusals = refuseClashes(run);
        QCOMPARE(refusals.size(), files.size());
        QFETCH(QList<int>, refused);
        QFETCH(QStringList, named);
        for (int i = 0; i < files.size(); ++i) {
            const QString text = refusals[i].join('\n');
            QVERIFY2(refusals[i].isEmpty() != refused.contains(i), qPrintable(text));
            if (refused.contains(i)) {
                QVERIFY(text.contains("Can't write ["));
                QVERIFY(text.contains(QString("[%1] was not computed.").arg(run[i].structure)));
            }
        }
        if (!refused.isEmpty()) {
            const QString text = refusals[refused.first()].join('\n');
            for (const QString& name : named)
                QVERIFY2(text.contains(name), qPrintable(name + " not in: " + text));
        }
    }

    // A result that is a symbolic link, existing or dangling, refuses its file; the guard
    // reads the link, it does not follow it to compare.
    void links_data() {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<bool>("dangling");
        for (const char* tag : {"cmp", "dif", "meas", "plot"}) {
            QTest::addRow("%s, existing", tag) << tag << false;
            QTest::addRow("%s, dangling", tag) << tag << true;
        }
    }

    void links() {
        QFETCH(QString, tag);
        QFETCH(bool, dangling);
        QTemporaryDir dir;
        const QString structure = dir.filePath("x.txt");
        const QString scan = dir.filePath("scan.txt");
        const QString victim = dir.filePath("victim");
        for (const QString& f :
             dangling ? QStringList{structure, scan} : QStringList{structure, scan, victim}) {
            QFile file(f);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QString link =
            dir.filePath(tag == "plot" ? "x-plot.png" : QString("x-%1.txt").arg(tag));
        QVERIFY(QFile::link(victim, link));
        const QVector<QStringList> refusals = refuseClashes(
            {{structure, {structure, scan}, resultPaths(structure, "", true, true, false)}});
        QVERIFY2(refusals[0].join('\n').contains(
                     QString("Can't write [%1]: it is a symbolic link").arg(link)),
                 qPrintable(refusals[0].join('\n')));
    }

    void identities_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("existing, two spellings") << "f"
                                                 << "sub/../f" << true;
        QTest::newRow("new file, two spellings") << "new"
                                                 << "sub/../new" << true;
        QTest::newRow("through a folder link") << "sub/new"
                                               << "linked/new" << true;
        QTest::newRow("different names") << "f"
                                         << "g" << false;
        QTest::newRow("missing folder") << "none/f"
                                        << "none/../none/f" << true;
    }

    void identities() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("sub"));
        QVERIFY(QFile::link(dir.filePath("sub"), dir.filePath("linked")));
        QFile f(dir.filePath("f"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QTEST(pathIdentity(dir.filePath(a)) == pathIdentity(dir.filePath(b)), "same");
    }
};

QTEST_GUILESS_MAIN(TestOutputGuard)
#include "tst_outputguard.moc"
