#pragma once

#include "views/plotaxes.h"

#include <QObject>
#include <QString>
#include <QVector>

class DispA;
class QAction;
class QEvent;

// What the cursor readout needs to know of the plot last drawn.
struct ReadoutState {
    bool drawn = false;    // a plot has been drawn; before that nothing is read out
    bool logScale = false; // the y scale holds base-10 exponents
    IntensityUnit unit = IntensityUnit::Arbitrary;
    double reference = std::numeric_limits<double>::quiet_NaN(); // substrate peak, degrees
};

// The text of the diffraction plot's cursor readout at data position (x, y): the angle, its
// distance from the reference in arcseconds (when there is one) and the intensity with its
// unit (10^y on the logarithmic scale). Empty when nothing was drawn or a value is not
// finite.
QString diffractionReadout(double x, double y, const ReadoutState& state);

// The composition plot's readout: depth in Å and nm and the composition fraction.
QString compositionReadout(double x, double y);

// The window's controls of one plot display that go beyond the plotting toolkit: a cursor
// readout (the frame reports the data position under the pointer; this turns it into text
// for the status bar), a reset of the zoom by the Home key or a double click, and for the
// diffraction plot the toggle of the angle axis between theta in degrees and Delta-theta in
// arcseconds from the substrate peak. Owned by its parent (the window).
class PlotControls : public QObject {
    Q_OBJECT
public:
    enum class Kind { Composition, Diffraction };
    PlotControls(DispA* display, Kind kind, QObject* parent = nullptr);

    // The checkable "Delta-theta" action (diffraction plots only; null otherwise). Toggling it
    // repaints the display.
    QAction* deltaThetaAction() const { return deltaTheta; }

    // The axes for the diffraction plot about to be drawn from the curve (theta, values):
    // unit and scale as given, the reference at the curve's highest value, relative when the
    // toggle is on. Remembered for the readout.
    DiffractionAxes axes(IntensityUnit unit, const QVector<double>& theta,
                         const QVector<double>& values, bool logScale);

    // The axes for an exported image: unit as given, relative when the toggle is on, the
    // reference left for the drawing to find in the curve it draws.
    DiffractionAxes exportAxes(IntensityUnit unit) const;

    const ReadoutState& readoutState() const { return state; }

signals:
    // The readout for the status bar, at every pointer motion over a drawn plot.
    void cursorText(const QString& text);
    // The user asked for the full view again: the owner derives the ranges at the next paint.
    void resetRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pointerAt(double x, double y);

    DispA* display;
    Kind kind;
    QAction* deltaTheta = nullptr;
    ReadoutState state;
};
