#include "app/body.h"

#include "tests/common/testfiles.h"

#include <QCheckBox>
#include <QMouseEvent>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

#include <cmath>
#include <random>

// Thousands of random mouse gestures on both plots with data loaded, mixed with toggles of
// "Log" and "Keep Scale" and new drops: after every event each frame value must be finite
// and both plots must repaint.
class TestGestures : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QStringList files_;

    QString write(const QString& name, const QByteArray& content) {
        return xrdtest::writeTestFile(dir_, name, content);
    }

    static QString frameProblem(const ChCoord& c) {
        const double values[] = {c.winX0,  c.winX1,  c.winY0,   c.winY1,   c.plotX0,  c.plotX1,
                                 c.plotY0, c.plotY1, c.scaleX0, c.scaleX1, c.scaleY0, c.scaleY1};
        for (double v : values)
            if (!std::isfinite(v))
                return QStringLiteral("non-finite frame value");
        if (c.scaleX0 == c.scaleX1 || c.scaleY0 == c.scaleY1)
            return QStringLiteral("scale of zero extent");
        // Every mapping of a value on screen must stay finite too.
        for (double px : {c.toPixX(c.scaleX0), c.toPixX(c.scaleX1), c.toPixY(c.scaleY0),
                          c.toPixY(c.scaleY1), c.lenPixX(c.scaleX1 - c.scaleX0)})
            if (!std::isfinite(px))
                return QStringLiteral("non-finite mapping");
        return QString();
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true); // the window's recent files
        QVERIFY(dir_.isValid());
        files_ << write("sl.txt", "WAVELENGTH 1.5406\nSUBSTRATE 1 0\n"
                                  "LAYER 20 0.532 1 L 2 1 0 L 2 1 0\nLAYER 40 1 0\nREPEAT 10\n")
               << write("single.txt", "SUBSTRATE 0 1\nLAYER 100 0.2 1\nREPEAT 1\n")
               << write("graded.txt",
                        "SUBSTRATE 1 0\nLAYER 24 0.7 0.65 P 6 1 0 H 5 1 0\nLAYER 30 1 0\n")
               << write("one.txt", "SUBSTRATE 0 1 1\nLAYER 1 0 1\nREPEAT 1\n")
               << write("empty.txt", "SUBSTRATE 0 1\nLAYER 0 0 1\n")
               << write("invalid.txt", "LAYER 10 1 0\n") << dir_.filePath("missing.txt");
    }

    void randomGestures() {
        Body body;
        body.resize(800, 718);
        body.show();
        QVERIFY(QTest::qWaitForWindowExposed(&body));
        DispA* const comp = body.findChild<DispA*>(QStringLiteral("Comp"));
        DispA* const kspace = body.findChild<DispA*>(QStringLiteral("KSpace"));
        QCheckBox* const logScale = body.findChild<QCheckBox*>(QStringLiteral("LogScale"));
        QCheckBox* const keepScale = body.findChild<QCheckBox*>(QStringLiteral("KeepScale"));
        QVERIFY(comp && kspace && logScale && keepScale);
        QMetaObject::invokeMethod(&body, "droppedInputFile",
                                  Q_ARG(QStringList, QStringList{files_.first()}));

        std::mt19937 rng(1207);
        auto pick = [&](int n) { return int(rng() % unsigned(n)); };
        const Qt::KeyboardModifiers modifierChoices[] = {
            Qt::NoModifier,      Qt::NoModifier,  Qt::NoModifier,  Qt::ShiftModifier,
            Qt::ControlModifier, Qt::AltModifier, Qt::MetaModifier};
        const Qt::MouseButton buttons[] = {Qt::LeftButton, Qt::LeftButton, Qt::RightButton,
                                           Qt::RightButton, Qt::MiddleButton};
        Qt::MouseButtons held = Qt::NoButton;

        const int events = 4000;
        for (int i = 0; i < events; ++i) {
            DispA* plot = pick(2) ? kspace : comp;
            // Mostly inside the widget, sometimes far outside (a drag that leaves it).
            const QPointF pos = pick(10) == 0
                                    ? QPointF(pick(4000) - 2000, pick(4000) - 2000)
                                    : QPointF(pick(plot->width() + 1), pick(plot->height() + 1));
            const Qt::KeyboardModifiers modifiers = modifierChoices[pick(7)];
            const Qt::MouseButton button = buttons[pick(5)];
            const int action = pick(100);

            if (action < 40) {
                QMouseEvent e(QEvent::MouseMove, pos, Qt::NoButton, held, modifiers);
                QApplication::sendEvent(plot, &e);
            } else if (action < 52) {
                held |= button;
                QMouseEvent e(QEvent::MouseButtonPress, pos, button, held, modifiers);
                QApplication::sendEvent(plot, &e);
            } else if (action < 64) {
                held &= ~Qt::MouseButtons(button);
                QMouseEvent e(QEvent::MouseButtonRelease, pos, button, held, modifiers);
                QApplication::sendEvent(plot, &e);
            } else if (action < 67) {
                QMouseEvent e(QEvent::MouseButtonDblClick, pos, button, held, modifiers);
                QApplication::sendEvent(plot, &e);
            } else if (action < 90) {
                // Runs of wheel turns in one direction drive the zoom to its limits.
                const int delta = (pick(2) ? 120 : -120) * (1 + pick(3));
                const int repeat = pick(10) == 0 ? 400 : 1;
                for (int r = 0; r < repeat; ++r) {
                    QWheelEvent e(pos, plot->mapToGlobal(pos.toPoint()), QPoint(), QPoint(0, delta),
                                  held, modifiers, Qt::NoScrollPhase, false);
                    QApplication::sendEvent(plot, &e);
                }
            } else if (action < 94) {
                logScale->toggle();
            } else if (action < 97) {
                keepScale->toggle();
            } else {
                const QString file = files_[pick(files_.size())];
                QMetaObject::invokeMethod(&body, "droppedInputFile",
                                          Q_ARG(QStringList, QStringList{file}));
            }

            for (DispA* p : {comp, kspace}) {
                const QString problem = frameProblem(p->coord);
                QVERIFY2(
                    problem.isEmpty(),
                    qPrintable(QString("event %1 on %2: %3").arg(i).arg(p->objectName(), problem)));
            }
            if (i % 4 == 0 || action >= 90) {
                comp->repaint();
                kspace->repaint();
            }
        }
        // The window still answers: a drop of a valid file computes and paints.
        QFile::remove(dir_.filePath("single-dif.txt"));
        QMetaObject::invokeMethod(&body, "droppedInputFile",
                                  Q_ARG(QStringList, QStringList{files_[1]}));
        QVERIFY(QFile::exists(dir_.filePath("single-dif.txt")));
        QVERIFY(!body.grab().isNull());
    }
};

QTEST_MAIN(TestGestures)
#include "tst_gestures.moc"
