#include "app/body.h"
#include "app/document.h"
#include "tests/common/exact.h"
#include "tests/common/testfiles.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QMetaMethod>
#include <QMimeData>
#include <QPainter>
#include <QSignalSpy>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QUrl>
#include <QtTest>

#include <memory>

namespace {

const char* const validStructure = "SUBSTRATE 1 0\nLAYER 10 1 0\n";

// Writes `content` to `name` inside `dir` and returns the file's full path.
QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    return xrdtest::writeTestFile(dir, name, content);
}

// Drags `data` onto `target` and drops it there, as a user's drag does: the application
// hands a drop only to the widget that accepted the drag's entry.
void dragAndDrop(QWidget* target, const QMimeData* data) {
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(QPoint(3, 3), actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(3, 3), actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

void dropUrls(QWidget* target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    dragAndDrop(target, &data);
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

template <typename T> T* child(QObject* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

} // namespace

class TestBody : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); } // the recent files
    void init();
    void cleanup();

    void windowSizeTitleAndMenuBar();
    void widgetTree_data();
    void widgetTree();
    void creationOrder();
    void layouts();
    void textsAndStartStates();
    void spacer();
    void plotMargins();
    void metaObject();
    void startState();

    void drawSignalsReachTheDrawSlots();
    void logInsertsAtTextCursor();
    void logKeepsASelection();
    void logScaleSetsFlagsAndRepaintsKSpaceOnly();
    void resetNeverDrawThroughMetaObject();
    void drawSlotsDeriveRangesWhileFlagged_data();
    void drawSlotsDeriveRangesWhileFlagged();

    void dropOfThreeFilesLoadsOnlyTheFirst();
    void dropOfTextLoadsNothing();
    void droppedUrlReachesLoader_data();
    void droppedUrlReachesLoader();
    void webLinkLoadsNothing();
    void failedLoadKeepsFlagsAndResults_data();
    void failedLoadKeepsFlagsAndResults();
    void keepScaleDecidesFlags_data();
    void keepScaleDecidesFlags();
    void validDropComputesAndRepaints();
    void refusedStructureChangesNothing();

private:
    std::unique_ptr<Body> body;
};

void TestBody::init() {
    body = std::make_unique<Body>();
}

void TestBody::cleanup() {
    body.reset();
}

void TestBody::windowSizeTitleAndMenuBar() {
    QCOMPARE(body->objectName(), QStringLiteral("Body"));
    QCOMPARE(body->size(), QSize(800, 718));
    // The window names the program until a file is loaded, and adds menus and a status bar
    // to the form.
    QCOMPARE(body->windowTitle(), QStringLiteral("xrdsim"));
    QVERIFY(body->parent() == nullptr);

    QMenuBar* bar = child<QMenuBar>(body.get(), "menubar");
    QVERIFY(bar);
    QCOMPARE(body->menuBar(), bar);
    QCOMPARE(bar->geometry(), QRect(0, 0, 800, 17));
    QStringList menus;
    for (const QAction* a : bar->actions())
        menus << a->text();
    QCOMPARE(menus, QStringList({"&File", "&View", "F&it", "&Help"}));
    QVERIFY(body->findChild<QStatusBar*>());

    // The form names only a window that has no name yet; it has no menus of its own.
    QMainWindow named;
    named.setObjectName(QStringLiteral("Other"));
    Ui_Body form;
    form.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("Other"));
    QCOMPARE(named.windowTitle(), QStringLiteral("MainWindow"));
    QVERIFY(form.menubar->actions().isEmpty());
    QVERIFY(!named.findChild<QStatusBar*>());
}

// One row per widget of the form: its class, parent and place (a grid cell, or for the
// plots and the log pane their index in the splitter), its size policy (horizontal,
// vertical, vertical stretch; none given: not checked) and its frame shape (-1: no frame).
void TestBody::widgetTree_data() {
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QString>("layoutName");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QVector<int>>("policy");
    QTest::addColumn<int>("shape");
    const auto row = [](const char* name, const char* cls, const char* parent, const char* layout,
                        int r, int c, QVector<int> policy, int shape) {
        QTest::newRow(name) << cls << parent << layout << r << c << policy << shape;
    };
    const int preferred = QSizePolicy::Preferred;
    const int expanding = QSizePolicy::Expanding;
    row("frame", "QFrame", "centralwidget", "gridLayout", 0, 0, {}, QFrame::NoFrame);
    row("DropA", "DropArea", "frame", "gridLayout_2", 0, 1, {}, -1);
    row("label", "QLabel", "frame", "gridLayout_2", 0, 0, {QSizePolicy::Maximum, preferred, 0}, -1);
    row("KeepScale", "QCheckBox", "frame", "gridLayout_2", 0, 2, {}, -1);
    // The plots and the log pane share a splitter, so the log can be enlarged.
    row("Splitter", "QSplitter", "centralwidget", "gridLayout", 1, 0, {}, -1);
    row("Comp", "DispA", "Splitter", "", 0, 0, {preferred, preferred, 3}, QFrame::StyledPanel);
    row("KSpace", "DispA", "Splitter", "", 1, 0, {preferred, expanding, 10}, QFrame::StyledPanel);
    row("LogPane", "QWidget", "Splitter", "", 2, 0, {}, -1);
    row("Log", "QTextEdit", "LogPane", "logPaneLayout", 1, 0, {expanding, expanding, 2}, -1);
    row("frame_2", "QFrame", "LogPane", "logPaneLayout", 0, 0, {}, QFrame::NoFrame);
    row("LogScale", "QCheckBox", "frame_2", "gridLayout_3", 0, 0, {}, -1);
}

void TestBody::widgetTree() {
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QString, layoutName);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QVector<int>, policy);
    QFETCH(int, shape);

    QWidget* w = body->findChild<QWidget*>(QTest::currentDataTag());
    QVERIFY(w);
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QCOMPARE(w->parent()->objectName(), parentName);
    if (!policy.isEmpty()) {
        const QSizePolicy p = w->sizePolicy();
        QCOMPARE(QVector<int>({p.horizontalPolicy(), p.verticalPolicy(), p.verticalStretch()}),
                 policy);
        QCOMPARE(p.horizontalStretch(), 0);
        // The widget's own height-for-width setting survives, which for all of these is off.
        QVERIFY(!p.hasHeightForWidth());
    }
    if (auto* f = qobject_cast<QFrame*>(w); f && shape >= 0) {
        QCOMPARE(int(f->frameShape()), shape);
        QCOMPARE(f->frameShadow(), QFrame::Raised);
    }
    if (layoutName.isEmpty()) {
        auto* splitter = qobject_cast<QSplitter*>(w->parentWidget());
        QVERIFY(splitter);
        QCOMPARE(splitter->indexOf(w), row);
        return;
    }

    auto* layout = body->findChild<QGridLayout*>(layoutName);
    QVERIFY(layout);
    QCOMPARE(layout->parentWidget(), w->parentWidget());
    const int index = layout->indexOf(w);
    QVERIFY(index >= 0);
    int r = -1;
    int c = -1;
    int rowSpan = -1;
    int columnSpan = -1;
    layout->getItemPosition(index, &r, &c, &rowSpan, &columnSpan);
    QCOMPARE(QVector<int>({r, c, rowSpan, columnSpan}), QVector<int>({row, column, 1, 1}));
    QCOMPARE(layout->itemAt(index)->alignment(), Qt::Alignment());
}

// The children come in the order the form creates them.
void TestBody::creationOrder() {
    // The window's own layout and the line edit's internals have no names; Qt names its own
    // parts qt_...
    auto namedChildren = [](const QObject* parent) {
        QStringList names;
        for (const QObject* o : parent->children()) {
            if (!o->objectName().isEmpty() && !o->objectName().startsWith(QLatin1Char('_')) &&
                !o->objectName().startsWith(QLatin1String("qt_"))) // the splitter's handles
                names.append(o->objectName());
        }
        return names;
    };
    QWidget* central = child<QWidget>(body.get(), "centralwidget");
    QVERIFY(central);
    QCOMPARE(body->centralWidget(), central);
    QCOMPARE(namedChildren(central), QStringList({"gridLayout", "frame", "Splitter"}));
    // The splitter's order is its own (widgetTree); its children are these three.
    QStringList inSplitter = namedChildren(child<QWidget>(body.get(), "Splitter"));
    inSplitter.sort();
    QCOMPARE(inSplitter, QStringList({"Comp", "KSpace", "LogPane"}));
    QCOMPARE(namedChildren(child<QWidget>(body.get(), "LogPane")),
             QStringList({"logPaneLayout", "frame_2", "Log"}));
    QCOMPARE(namedChildren(child<QFrame>(body.get(), "frame")),
             QStringList({"gridLayout_2", "DropA", "label", "KeepScale"}));
    QCOMPARE(namedChildren(child<QFrame>(body.get(), "frame_2")),
             QStringList({"gridLayout_3", "LogScale"}));
    QCOMPARE(namedChildren(body.get()), QStringList({"centralwidget", "menubar"}));
}

void TestBody::layouts() {
    QWidget* central = child<QWidget>(body.get(), "centralwidget");
    QCOMPARE(central->layout()->objectName(), QStringLiteral("gridLayout"));
    QCOMPARE(child<QFrame>(body.get(), "frame")->layout()->objectName(),
             QStringLiteral("gridLayout_2"));
    QCOMPARE(child<QFrame>(body.get(), "frame_2")->layout()->objectName(),
             QStringLiteral("gridLayout_3"));

    // The outer grid keeps the style's margins and spacing; the bars sit flush in it.
    QWidget window;
    QWidget plain(&window);
    QGridLayout reference(&plain);
    QCOMPARE(central->layout()->contentsMargins(), reference.contentsMargins());
    QCOMPARE(central->layout()->spacing(), reference.spacing());
    QCOMPARE(child<QGridLayout>(body.get(), "gridLayout_2")->contentsMargins(), QMargins());
    QCOMPARE(child<QGridLayout>(body.get(), "gridLayout_3")->contentsMargins(), QMargins());

    // Extra height goes to the plots and the log pane through their size policies only.
    auto* grid = child<QGridLayout>(body.get(), "gridLayout");
    QCOMPARE(grid->rowCount(), 2);
    QCOMPARE(grid->columnCount(), 1);
    for (int r = 0; r < grid->rowCount(); ++r)
        QCOMPARE(grid->rowStretch(r), 0);
}

void TestBody::textsAndStartStates() {
    QCOMPARE(child<QLabel>(body.get(), "label")->text(), QStringLiteral("Drop Structure File"));
    auto* keepScale = child<QCheckBox>(body.get(), "KeepScale");
    QCOMPARE(keepScale->text(), QStringLiteral("Keep Scale"));
    QVERIFY(!keepScale->isChecked());
    auto* logScale = child<QCheckBox>(body.get(), "LogScale");
    QCOMPARE(logScale->text(), QStringLiteral("Log"));
    QVERIFY(!logScale->isChecked());
    auto* log = child<QTextEdit>(body.get(), "Log");
    QVERIFY(log->isReadOnly()); // messages only: typing goes nowhere
    QVERIFY(log->toPlainText().isEmpty());
    auto* drop = child<DropArea>(body.get(), "DropA");
    QVERIFY(drop->acceptDrops());
    QVERIFY(drop->text().isEmpty());
}

void TestBody::spacer() {
    auto* grid = child<QGridLayout>(body.get(), "gridLayout_3");
    QCOMPARE(grid->count(), 2);
    QLayoutItem* item = grid->itemAtPosition(0, 1);
    QVERIFY(item);
    QSpacerItem* spacer = item->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), QSize(40, 20));
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
}

void TestBody::plotMargins() {
    const ChCoord& k = body->KSpace->coord;
    XRD_COMPARE_EXACT(k.marginTop, 0.02);
    XRD_COMPARE_EXACT(k.marginBottom, 0.05);
    XRD_COMPARE_EXACT(k.marginLeft, 0.1);
    XRD_COMPARE_EXACT(k.marginRight, 0.05);
    const ChCoord& c = body->Comp->coord;
    XRD_COMPARE_EXACT(c.marginTop, 0.05);
    XRD_COMPARE_EXACT(c.marginBottom, 0.1);
    XRD_COMPARE_EXACT(c.marginLeft, 0.1);
    XRD_COMPARE_EXACT(c.marginRight, 0.05);
}

// Six private slots in this order and no signals; anything reaching them by name (such as
// resetNeverDraw) depends on it.
void TestBody::metaObject() {
    const QMetaObject& mo = Body::staticMetaObject;
    QCOMPARE(QByteArray(mo.className()), QByteArray("Body"));
    QCOMPARE(mo.superClass(), &QMainWindow::staticMetaObject);
    const QList<QByteArray> expected = {
        "droppedInputFile(QStringList)", "log(QString)",     "drawComp(QPainter*)",
        "drawKSpace(QPainter*)",         "resetNeverDraw()", "logScale(bool)"};
    QCOMPARE(mo.methodCount() - mo.methodOffset(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod m = mo.method(mo.methodOffset() + i);
        QCOMPARE(m.methodSignature(), expected.at(i));
        QCOMPARE(m.methodType(), QMetaMethod::Slot);
        QCOMPARE(m.access(), QMetaMethod::Private);
    }
}

void TestBody::startState() {
    QVERIFY(body->neverDrawComp);
    QVERIFY(body->neverDrawKSpace);
    const ResultArrays& r = body->document->results_;
    QVERIFY(r.depth.isEmpty() && r.inProfile.isEmpty() && r.asProfile.isEmpty());
    QVERIFY(r.theta.isEmpty() && r.q.isEmpty() && r.intensity.isEmpty());
    QVERIFY(!body->document->loader().valid);
}

// Disconnecting succeeds only for a connection that exists.
void TestBody::drawSignalsReachTheDrawSlots() {
    QVERIFY(!QObject::disconnect(body->Comp, &DispA::drawImage2, body.get(), &Body::drawComp));
    QVERIFY(!QObject::disconnect(body->KSpace, &DispA::drawImage2, body.get(), &Body::drawKSpace));
    QVERIFY(!QObject::disconnect(body->Comp, &DispA::drawImage1, body.get(), &Body::drawKSpace));
    QVERIFY(QObject::disconnect(body->Comp, &DispA::drawImage1, body.get(), &Body::drawComp));
    QVERIFY(QObject::disconnect(body->KSpace, &DispA::drawImage1, body.get(), &Body::drawKSpace));
}

void TestBody::logInsertsAtTextCursor() {
    body->Log->setPlainText(QStringLiteral("first line\nsecond line"));
    QTextCursor cursor = body->Log->textCursor();
    cursor.setPosition(6); // after "first "
    body->Log->setTextCursor(cursor);
    emit body->document->logLine(QStringLiteral("message"));
    QCOMPARE(body->Log->toPlainText(), QStringLiteral("first message\nline\nsecond line"));
}

// A selection (all of it, to copy the fit's table) is neither replaced nor moved: the message
// goes at the end.
void TestBody::logKeepsASelection() {
    body->Log->setPlainText(QStringLiteral("first line\nsecond line"));
    body->Log->selectAll();
    emit body->document->logLine(QStringLiteral("message"));
    QCOMPARE(body->Log->toPlainText(), QStringLiteral("first line\nsecond linemessage\n"));
    QCOMPARE(body->Log->textCursor().selectedText(), QStringLiteral("first line\u2029second line"));
}

void TestBody::logScaleSetsFlagsAndRepaintsKSpaceOnly() {
    body->show();
    QVERIFY(QTest::qWaitForWindowExposed(body.get()));
    QTest::qWait(50);
    PaintCounter compPaints;
    PaintCounter kspacePaints;
    body->Comp->installEventFilter(&compPaints);
    body->KSpace->installEventFilter(&kspacePaints);

    for (const bool tick : {true, false}) {
        body->neverDrawComp = false;
        body->neverDrawKSpace = false;
        kspacePaints.count = 0;
        body->LogScale->setChecked(tick);
        QVERIFY(body->neverDrawComp);
        QVERIFY(body->neverDrawKSpace);
        QTRY_VERIFY(kspacePaints.count > 0);
    }
    QCOMPARE(compPaints.count, 0);
}

void TestBody::resetNeverDrawThroughMetaObject() {
    body->neverDrawComp = false;
    body->neverDrawKSpace = false;
    QVERIFY(QMetaObject::invokeMethod(body.get(), "resetNeverDraw"));
    QVERIFY(body->neverDrawComp);
    QVERIFY(body->neverDrawKSpace);
}

void TestBody::drawSlotsDeriveRangesWhileFlagged_data() {
    QTest::addColumn<bool>("kspace");
    QTest::addColumn<bool>("withData");
    QTest::addColumn<bool>("flag");
    QTest::addColumn<double>("x0"); // the x range after the paint
    QTest::addColumn<double>("x1");
    QTest::addColumn<double>("plotY0"); // the plot's bottom edge after the paint
    // A 600 x 400 display whose frame shows x 5..6. Depths 0..5.8 and angles 10..50 derive
    // 0..5.8 and -2..52; the bottom margin is 40 pixels (0.1) on Comp, 20 (0.05) on KSpace.
    QTest::newRow("Comp, flagged") << false << true << true << 0.0 << 5.8 << 360.0;
    QTest::newRow("Comp, not flagged: zoom kept") << false << true << false << 5.0 << 6.0 << 360.0;
    QTest::newRow("Comp, no data: frame untouched")
        << false << false << true << 5.0 << 6.0 << 400.0;
    QTest::newRow("KSpace, flagged") << true << true << true << -2.0 << 52.0 << 380.0;
    QTest::newRow("KSpace, not flagged: zoom kept") << true << true << false << 5.0 << 6.0 << 380.0;
    QTest::newRow("KSpace, no data: frame untouched")
        << true << false << true << 5.0 << 6.0 << 400.0;
}

// A paint with data clears the plot's flag; only a flagged one derives the ranges.
void TestBody::drawSlotsDeriveRangesWhileFlagged() {
    QFETCH(bool, kspace);
    QFETCH(bool, withData);
    QFETCH(bool, flag);
    QFETCH(double, x0);
    QFETCH(double, x1);
    QFETCH(double, plotY0);
    if (withData) {
        ResultArrays& r = body->document->results_;
        r.depth = {0.0, 2.9, 5.8};
        r.inProfile = r.asProfile = {0.5, 0.5, 0.5};
        r.theta = {10.0, 30.0, 50.0};
        r.q = r.intensity = {1.0, 200.0, 1.0};
    }
    DispA* plot = kspace ? body->KSpace : body->Comp;
    bool& neverDraw = kspace ? body->neverDrawKSpace : body->neverDrawComp;
    neverDraw = flag;
    plot->coord.setArea(0, 400, 600, 0);
    plot->coord.setScale(5, 0, 6, 1);
    QImage image(600, 400, QImage::Format_RGB32);
    QPainter p(&image);
    if (kspace)
        body->drawKSpace(&p);
    else
        body->drawComp(&p);
    QCOMPARE(neverDraw, flag && !withData);
    XRD_COMPARE_EXACT(plot->coord.scaleX0, x0);
    XRD_COMPARE_EXACT(plot->coord.scaleX1, x1);
    XRD_COMPARE_EXACT(plot->coord.plotY0, plotY0);
}

void TestBody::dropOfThreeFilesLoadsOnlyTheFirst() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString first = writeFile(dir, QStringLiteral("first.txt"), validStructure);
    const QString second = writeFile(dir, QStringLiteral("second.txt"), validStructure);
    const QString third = writeFile(dir, QStringLiteral("third.txt"), validStructure);

    dropUrls(body->DropA,
             {QUrl::fromLocalFile(first), QUrl::fromLocalFile(second), QUrl::fromLocalFile(third)});

    QCOMPARE(body->Log->toPlainText(), QStringLiteral("Loading [%1].\n").arg(first));
    QCOMPARE(body->document->loader().fileName, first);
    QVERIFY(body->document->loader().valid);
    // Only the first file is computed.
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*-dif.txt")}),
             QStringList{QStringLiteral("first-dif.txt")});
}

void TestBody::dropOfTextLoadsNothing() {
    body->DropA->setText(QStringLiteral("typed"));
    QSignalSpy spy(body->DropA, &DropArea::dropped);
    QMimeData data;
    data.setText(QStringLiteral("/some/file.txt"));
    dragAndDrop(body->DropA, &data);

    QCOMPARE(spy.count(), 1);
    QVERIFY(spy.at(0).at(0).toStringList().isEmpty());
    QCOMPARE(body->DropA->text(), QStringLiteral("typed"));
    QVERIFY(body->Log->toPlainText().isEmpty());
    QVERIFY(body->document->loader().fileName.isEmpty());
}

// The name reaching the loader is the local path: escapes decoded, absolute paths kept whole.
void TestBody::droppedUrlReachesLoader_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expectedLog");

    QTest::newRow("colon as third character") << "file:///a:b"
                                              << "Can't open [/a:b].\n";
    QTest::newRow("escaped space") << "file:///nonexistent/My%20Data/s.txt"
                                   << "Can't open [/nonexistent/My Data/s.txt].\n";
}

void TestBody::droppedUrlReachesLoader() {
    QFETCH(QString, url);
    QFETCH(QString, expectedLog);
#ifdef Q_OS_WIN
    QSKIP("paths of this form are Unix paths");
#endif
    dropUrls(body->DropA, {QUrl(url)});
    QCOMPARE(body->Log->toPlainText(), expectedLog);
}

// A browser's link whose path happens to name a local structure file must not load it.
void TestBody::webLinkLoadsNothing() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QTemporaryDir spaced(QDir::tempPath() + QStringLiteral("/My Data XXXXXX"));
    QVERIFY(spaced.isValid());
    const QString path = writeFile(dir, QStringLiteral("s.txt"), validStructure);
    const QString spacedPath = writeFile(spaced, QStringLiteral("s.txt"), validStructure);

    QUrl web;
    web.setScheme(QStringLiteral("http"));
    web.setHost(QStringLiteral("example.org"));
    web.setPath(path);
    dropUrls(body->DropA, {web});
    QVERIFY(body->Log->toPlainText().isEmpty());
    QVERIFY(!body->document->loader().valid);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("s-dif.txt"))));

    // The same drag with a file link after the web link loads that file, escapes decoded.
    const QUrl file(QUrl::fromLocalFile(spacedPath).toString(QUrl::FullyEncoded));
    QVERIFY(file.toString(QUrl::FullyEncoded).contains(QLatin1String("My%20Data")));
    dropUrls(body->DropA, {web, file});
    QCOMPARE(body->Log->toPlainText(), QStringLiteral("Loading [%1].\n").arg(spacedPath));
    QCOMPARE(body->document->loader().fileName, spacedPath);
    QVERIFY(body->document->loader().valid);
    QVERIFY(QFile::exists(spaced.filePath(QStringLiteral("s-dif.txt"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("s-dif.txt"))));
}

void TestBody::failedLoadKeepsFlagsAndResults_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("message");

    // The loader's line, then (for a file that was read) why it is not computed.
    const QString invalid = QStringLiteral("Loading [%1].\nInvalid structure [%1]: ");
    QTest::newRow("no layer") << QByteArray("SUBSTRATE 1 0\n") << true << invalid;
    QTest::newRow("no substrate") << QByteArray("LAYER 10 1 0\n") << true << invalid;
    QTest::newRow("zero wavelength")
        << QByteArray("WAVELENGTH 0\n") + validStructure << true << invalid;
    QTest::newRow("missing file") << QByteArray() << false << "Can't open [%1].\n";
}

void TestBody::failedLoadKeepsFlagsAndResults() {
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = exists ? writeFile(dir, QStringLiteral("bad.txt"), content)
                                : dir.filePath(QStringLiteral("missing.txt"));

    body->neverDrawComp = false;
    body->neverDrawKSpace = false;
    ResultArrays before;
    before.depth = {0.0, 2.9};
    before.inProfile = {1.0, 1.0};
    before.asProfile = {0.0, 0.0};
    before.theta = {10.0};
    before.q = {0.5};
    before.intensity = {7.0};
    body->document->results_ = before;

    dropUrls(body->DropA, {QUrl::fromLocalFile(path)});

    const QString log = body->Log->toPlainText();
    QVERIFY2(log.startsWith(message.arg(path)), qPrintable(log));
    QCOMPARE(log.count(QLatin1Char('\n')), exists ? 2 : 1);
    QVERIFY(!body->document->loader().valid);
    QVERIFY(!body->neverDrawComp);
    QVERIFY(!body->neverDrawKSpace);
    QCOMPARE(body->document->results_.depth, before.depth);
    QCOMPARE(body->document->results_.inProfile, before.inProfile);
    QCOMPARE(body->document->results_.asProfile, before.asProfile);
    QCOMPARE(body->document->results_.theta, before.theta);
    QCOMPARE(body->document->results_.q, before.q);
    QCOMPARE(body->document->results_.intensity, before.intensity);
    // No result file is written.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), exists ? 1 : 0);
}

void TestBody::keepScaleDecidesFlags_data() {
    QTest::addColumn<bool>("keepScale");
    QTest::addColumn<bool>("flagsAfter");

    QTest::newRow("Keep Scale ticked keeps the flags") << true << false;
    QTest::newRow("Keep Scale unticked sets them") << false << true;
}

void TestBody::keepScaleDecidesFlags() {
    QFETCH(bool, keepScale);
    QFETCH(bool, flagsAfter);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writeFile(dir, QStringLiteral("s.txt"), validStructure);

    body->KeepScale->setChecked(keepScale);
    body->neverDrawComp = false;
    body->neverDrawKSpace = false;
    dropUrls(body->DropA, {QUrl::fromLocalFile(path)});

    QVERIFY(body->document->loader().valid);
    // The flags are decided for a complete calculation, whose last step is the curve file.
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("s-dif.txt"))));
    QCOMPARE(body->neverDrawComp, flagsAfter);
    QCOMPARE(body->neverDrawKSpace, flagsAfter);
}

// A valid drop fills every result vector, writes both files beside the structure file and
// asks both plots to repaint once the event loop runs.
void TestBody::validDropComputesAndRepaints() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writeFile(dir, QStringLiteral("s.txt"), validStructure);
    body->show();
    QVERIFY(QTest::qWaitForWindowExposed(body.get()));
    PaintCounter comp;
    PaintCounter kspace;
    body->Comp->installEventFilter(&comp);
    body->KSpace->installEventFilter(&kspace);

    dropUrls(body->DropA, {QUrl::fromLocalFile(path)});

    QCOMPARE(body->document->results_.depth.size(), 11);
    QVERIFY(body->document->results_.q.size() > 100);
    QCOMPARE(body->document->results_.theta.size(), body->document->results_.q.size());
    QCOMPARE(body->document->results_.intensity.size(), body->document->results_.q.size());
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("s-cmp.txt"))));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("s-dif.txt"))));
    // Repaints are requested, not done inside the drop.
    QCOMPARE(comp.count, 0);
    QCOMPARE(kspace.count, 0);
    QTRY_VERIFY(comp.count > 0 && kspace.count > 0);
}

// A structure beyond the size limits, or with a period of negative thickness, is refused
// with a log line and leaves results, files and flags as they were.
void TestBody::refusedStructureChangesNothing() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path =
        writeFile(dir, QStringLiteral("neg.txt"), QByteArray("SUBSTRATE 1 0\nLAYER 3 -7 0\n"));
    body->neverDrawComp = false;
    body->neverDrawKSpace = false;
    body->document->results_.theta = {1.0};
    body->document->results_.intensity = {2.0};
    body->document->results_.q = {3.0};

    dropUrls(body->DropA, {QUrl::fromLocalFile(path)});

    const QStringList log = body->Log->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(log.value(0), QStringLiteral("Loading [%1].").arg(path));
    // The In fraction -7 is noted; the refusal follows.
    QVERIFY2(log.value(1).startsWith(QStringLiteral("Note [%1] line 2: ").arg(path)),
             qPrintable(log.value(1)));
    QVERIFY2(log.value(2).startsWith(QStringLiteral("Refused [%1]: ").arg(path)),
             qPrintable(log.value(2)));
    QCOMPARE(body->document->results_.theta, QVector<double>{1.0});
    QVERIFY(body->document->results_.depth.isEmpty());
    QVERIFY(!body->neverDrawComp && !body->neverDrawKSpace);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("neg-cmp.txt"))));
}

QTEST_MAIN(TestBody)
#include "tst_body.moc"
