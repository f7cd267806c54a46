#pragma once

#include "structure/structurefile.h"
#include "views/overlayview.h"

#include <QDockWidget>
#include <QString>
#include <QVector>

#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QSlider;
class QTimer;
class QVBoxLayout;
class StructureFit;
struct ShownFile;
struct Structure;

// One slider per FIT line of the structure on show, each over its FIT range, for a fit by
// hand. While a slider moves, the model at the scan's angles is computed again on the window's
// thread with the comparison prepared once per load (about a millisecond for a superlattice
// under the dynamical model), moves coalesced so that the window never falls behind the
// mouse; the overlay and the agreement figure follow. Releasing the slider writes its value
// into the structure file in place (a composition together with the neighbour compositions
// written equal to it, as a fit moves them); the window's watch on the file then computes it
// properly. A step by keyboard or a click beside the handle is written at once.
class FitSliders : public QDockWidget {
    Q_OBJECT
public:
    explicit FitSliders(QWidget* parent = nullptr);
    ~FitSliders() override;

    // Prepares the sliders for the structure file on show as the document read it, against
    // the scans its road read (its override or MEASURED lines); the peaks found in the scan
    // are marked on the live overlay as on the computed one. Drops the live overlay. A file
    // without FIT lines or scan gets no sliders, and a line that says why.
    void showFile(std::shared_ptr<const ShownFile> file);

    // The overlay of the values the sliders stand at, from the first move until the file is
    // shown again; empty otherwise.
    const std::optional<OverlayData>& liveOverlay() const { return live_; }
    double liveAgreement() const { return agreement_; }

    int count() const { return int(sliders_.size()); }
    QSlider* slider(int i) const { return sliders_.at(i); }
    const std::vector<double>& values() const { return values_; }

    // Computes the model of the values the sliders stand at now (what a move does once the
    // event loop runs); false when it cannot be computed.
    bool evaluateNow();

signals:
    // The live overlay changed: the diffraction plot is to be painted again.
    void overlayChanged();
    // The agreement of the live overlay, for the status bar.
    void status(const QString& text);
    void logLine(const QString& line);

private:
    void clear(const QString& why);
    void moved(int i, int position);
    void released(int i);
    void writeValue(int i);
    double valueAt(int i, int position) const;
    int positionOf(int i, double value) const;

    QString path_;
    StructureFile file_; // as shown: a released value goes into this text
    QVector<double> measuredPeaks_;
    std::unique_ptr<Structure> base_;
    std::unique_ptr<StructureFit> fit_;
    std::vector<double> values_;
    std::vector<double> written_; // the values as the file gives them
    QVector<QSlider*> sliders_;
    QVector<QLabel*> valueLabels_;
    QWidget* panel_ = nullptr;
    QVBoxLayout* rows_ = nullptr;
    QLabel* note_ = nullptr;
    QTimer* coalesce_ = nullptr;
    // A file shown while a slider was held.
    std::optional<std::shared_ptr<const ShownFile>> pending_;
    std::optional<OverlayData> live_;
    double agreement_ = 0;
};
