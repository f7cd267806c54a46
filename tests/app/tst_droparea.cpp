#include "app/droparea.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMetaMethod>
#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>
#include <QtTest>

class TestDropArea : public QObject {
    Q_OBJECT
private slots:
    void acceptsDrops();
    void declaresOnlyDropped();
    void dragEnterAcceptsAnything_data();
    void dragEnterAcceptsAnything();
    void dropTurnsUrlsIntoNames_data();
    void dropTurnsUrlsIntoNames();
};

namespace {

QList<QUrl> toUrls(const QStringList& texts) {
    QList<QUrl> urls;
    for (const QString& text : texts)
        urls.append(QUrl(text));
    return urls;
}

} // namespace

void TestDropArea::acceptsDrops() {
    QWidget parent;
    DropArea area(&parent);
    QCOMPARE(area.parentWidget(), &parent);
    QVERIFY(area.acceptDrops());
    QVERIFY(qobject_cast<QLineEdit*>(&area));
}

// The window connects to this signal by its signature; nothing else is added to the line
// edit's meta-object.
void TestDropArea::declaresOnlyDropped() {
    const QMetaObject& mo = DropArea::staticMetaObject;
    QCOMPARE(QByteArray(mo.className()), QByteArray("DropArea"));
    QCOMPARE(mo.superClass(), &QLineEdit::staticMetaObject);
    QCOMPARE(mo.methodCount() - mo.methodOffset(), 1);
    const QMetaMethod m = mo.method(mo.methodOffset());
    QCOMPARE(m.methodType(), QMetaMethod::Signal);
    QCOMPARE(m.methodSignature(), QByteArray("dropped(QStringList)"));
    QCOMPARE(m.parameterNames().value(0), QByteArray("names"));
}

void TestDropArea::dragEnterAcceptsAnything_data() {
    QTest::addColumn<bool>("withUrls");
    QTest::addColumn<bool>("withText");
    QTest::addColumn<int>("actions");

    QTest::newRow("file url, copy") << true << false << int(Qt::CopyAction);
    QTest::newRow("plain text, copy or move")
        << false << true << int(Qt::CopyAction | Qt::MoveAction);
    QTest::newRow("nothing at all, link") << false << false << int(Qt::LinkAction);
}

void TestDropArea::dragEnterAcceptsAnything() {
    QFETCH(bool, withUrls);
    QFETCH(bool, withText);
    QFETCH(int, actions);

    DropArea area;
    QMimeData data;
    if (withUrls)
        data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/s.txt"))});
    if (withText)
        data.setText(QStringLiteral("some text"));

    QDragEnterEvent enter(QPoint(5, 5), Qt::DropActions(actions), &data, Qt::LeftButton,
                          Qt::NoModifier);
    QVERIFY(!enter.isAccepted());
    QApplication::sendEvent(&area, &enter);
    QVERIFY(enter.isAccepted());
    QCOMPARE(enter.dropAction(), enter.proposedAction());
}

void TestDropArea::dropTurnsUrlsIntoNames_data() {
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("three files keep the drag's order")
        << QStringList{"file:///home/user/b.txt", "file:///home/user/a.txt", "file:///c.txt"}
        << QStringList{"/home/user/b.txt", "/home/user/a.txt", "/c.txt"};
    QTest::newRow("percent-escapes are decoded")
        << QStringList{"file:///tmp/My%20Data/s%25.txt"} << QStringList{"/tmp/My Data/s%.txt"};
    QTest::newRow("text without urls gives no names") << QStringList{} << QStringList{};
    QTest::newRow("web links are left out")
        << QStringList{"http://host/data/s.txt", "https://host/s.txt"} << QStringList{};
    QTest::newRow("web links among files")
        << QStringList{"http://host/data/s.txt", "file:///data/t.txt", "ftp://host/u.txt"}
        << QStringList{"/data/t.txt"};
#ifdef Q_OS_WIN
    QTest::newRow("drive letter loses the leading slash")
        << QStringList{"file:///C:/My%20Data/s.txt"} << QStringList{"C:/My Data/s.txt"};
#else
    // Without drive letters, "/a:b" is an absolute path like any other.
    QTest::newRow("colon as third character stays absolute")
        << QStringList{"file:///a:b"} << QStringList{"/a:b"};
    QTest::newRow("drive-letter look-alike stays absolute")
        << QStringList{"file:///C:/My%20Data/s.txt"} << QStringList{"/C:/My Data/s.txt"};
    // The host of a network file URL is kept, so it never names the local /data/s.txt.
    QTest::newRow("network file url keeps its host")
        << QStringList{"file://server/data/s.txt"} << QStringList{"//server/data/s.txt"};
#endif
}

// Every drop emits exactly one list, and the dropped data never reaches the field's text:
// the mime data also carries text, which the line edit's own drop handling would insert.
void TestDropArea::dropTurnsUrlsIntoNames() {
    QFETCH(QStringList, urls);
    QFETCH(QStringList, names);

    DropArea area;
    area.setText(QStringLiteral("typed"));
    QSignalSpy spy(&area, &DropArea::dropped);

    QMimeData data;
    if (!urls.isEmpty())
        data.setUrls(toUrls(urls));
    data.setText(QStringLiteral("dropped text"));
    // As on screen, the drag enters the field before it drops: the application delivers a
    // drop only to the widget that accepted the drag's entry.
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(QPoint(5, 5), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&area, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&area, &drop);

    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toStringList(), names);
    QVERIFY(!drop.isAccepted());
    QCOMPARE(area.text(), QStringLiteral("typed"));
}

QTEST_MAIN(TestDropArea)
#include "tst_droparea.moc"
