#include "app/fitsliders.h"

#include "analysis/fitroad.h"
#include "app/shownfile.h"
#include "report/scanoverlay.h"
#include "simulation/model.h"
#include "structure/config.h"
#include "structure/fitparameters.h"
#include "structure/fittargets.h"
#include "structure/structurefile.h"

#include <QGridLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// Positions of a slider over a continuous range; a thickness has one per monolayer, up to
// this many.
constexpr int kSteps = 1000;
constexpr int kMaxWholeSteps = 100'000;

// `value` rounded to the decimals that the step of a slider over `width` resolves, so that
// the file gets "0.2551", not the binary neighbour of the slider's arithmetic.
double decimalValue(double value, double width) {
    const double step = width / kSteps;
    if (!(step > 0) || !std::isfinite(step))
        return value;
    const int decimals = std::clamp(int(-std::floor(std::log10(step))), 0, 15);
    return QString::number(value, 'f', decimals).toDouble();
}

} // namespace

FitSliders::FitSliders(QWidget* parent) : QDockWidget(tr("Fit by hand"), parent) {
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    panel_ = new QWidget(scroll);
    rows_ = new QVBoxLayout(panel_);
    note_ = new QLabel(panel_);
    note_->setWordWrap(true);
    rows_->addWidget(note_);
    rows_->addStretch(1);
    scroll->setWidget(panel_);
    setWidget(scroll);
    coalesce_ = new QTimer(this);
    coalesce_->setSingleShot(true);
    coalesce_->setInterval(0);
    connect(coalesce_, &QTimer::timeout, this, [this] { evaluateNow(); });
    clear(tr("Open a structure with a measured scan and FIT lines."));
}

FitSliders::~FitSliders() = default;

void FitSliders::clear(const QString& why) {
    for (QSlider* s : qAsConst(sliders_))
        delete s->parentWidget();
    sliders_.clear();
    valueLabels_.clear();
    values_.clear();
    written_.clear();
    fit_.reset();
    base_.reset();
    live_.reset();
    note_->setText(why);
}

void FitSliders::showFile(std::shared_ptr<const ShownFile> file) {
    // Not under the user's hand: the new sliders come when it lets go.
    for (const QSlider* s : qAsConst(sliders_)) {
        if (s->isSliderDown()) {
            pending_ = std::move(file);
            return;
        }
    }
    pending_.reset();
    const bool hadLive = live_.has_value();
    clear(QString());
    file_ = file ? file->file : StructureFile();
    path_ = file_.path();
    measuredPeaks_ = file ? file->measuredPeaks : QVector<double>();
    if (hadLive)
        emit overlayChanged();
    if (path_.isEmpty() || !file->structure.valid)
        return clear(tr("No structure to fit."));
    base_ = std::make_unique<Structure>(file->structure);
    if (base_->ext.fits.isEmpty())
        return clear(tr("No sliders: the structure has no FIT lines (the layer table's fit "
                        "columns add them)."));
    FitSettings settings;
    settings.scanOverride = file->scanOverride;
    settings.scans = file->scans;
    fit_ = std::make_unique<StructureFit>(*base_, settings);
    if (!fit_->problem().isEmpty())
        return clear(tr("No sliders: %1").arg(fit_->problem()));

    values_ = fitStartValues(*base_);
    written_ = values_;
    const std::unique_ptr<Model> model = makeModel(base_->ext.model);
    for (int i = 0; i < base_->ext.fits.size(); ++i) {
        const FitParameter& p = base_->ext.fits.at(i);
        auto* row = new QWidget(panel_);
        auto* grid = new QGridLayout(row);
        grid->setContentsMargins(0, 0, 0, 0);
        auto* name = new QLabel(p.text, row);
        auto* value = new QLabel(row);
        auto* slider = new QSlider(Qt::Horizontal, row);
        const bool whole = fitTarget(p.target).integer && p.max - p.min <= kMaxWholeSteps;
        slider->setRange(0, whole ? int(std::round(p.max - p.min)) : kSteps);
        slider->setToolTip(tr("%1 from %2 to %3; the file gets the value where the slider is "
                              "released")
                               .arg(p.text, shortestNumber(p.min), shortestNumber(p.max)));
        sliders_.append(slider);
        valueLabels_.append(value);
        slider->setValue(positionOf(i, values_[size_t(i)]));
        grid->addWidget(name, 0, 0);
        grid->addWidget(value, 0, 1, Qt::AlignRight);
        grid->addWidget(slider, 1, 0, 1, 2);
        rows_->insertWidget(rows_->count() - 1, row);
        connect(slider, &QSlider::valueChanged, this, [this, i](int v) { moved(i, v); });
        connect(slider, &QSlider::sliderReleased, this, [this, i] { released(i); });
    }
    for (int i = 0; i < count(); ++i)
        moved(i, -1); // the labels
    coalesce_->stop();
    note_->setText(tr("Drag to see the model follow; the file gets the value on release."));
}

double FitSliders::valueAt(int i, int position) const {
    const FitParameter& p = base_->ext.fits.at(i);
    const QSlider* s = sliders_.at(i);
    if (s->maximum() <= 0)
        return p.min;
    if (fitTarget(p.target).integer && s->maximum() != kSteps)
        return p.min + position;
    const double v = p.min + (p.max - p.min) * position / s->maximum();
    return std::clamp(fitTarget(p.target).integer ? std::round(v) : decimalValue(v, p.max - p.min),
                      p.min, p.max);
}

int FitSliders::positionOf(int i, double value) const {
    const FitParameter& p = base_->ext.fits.at(i);
    const QSlider* s = sliders_.at(i);
    if (!(p.max > p.min) || !std::isfinite(value))
        return 0;
    const double part = (value - p.min) / (p.max - p.min);
    return int(std::lround(std::clamp(part, 0.0, 1.0) * s->maximum()));
}

// A move of slider i to `position` (-1: only its label). While the slider is held the model
// follows; a step without the mouse is written at once.
void FitSliders::moved(int i, int position) {
    const FitParameter& p = base_->ext.fits.at(i);
    if (position >= 0)
        values_[size_t(i)] = valueAt(i, position);
    const double v = values_[size_t(i)];
    QString text = shortestNumber(v);
    if (p.target == FitParameter::Thickness && p.layer >= 1 && p.layer <= base_->layers.size()) {
        const Layer& l = base_->layers.at(p.layer - 1);
        text = thicknessText(v, makeModel(base_->ext.model)->layerMonolayerHeight(*base_, l));
    }
    valueLabels_.at(i)->setText(text);
    if (position < 0)
        return;
    if (!coalesce_->isActive())
        coalesce_->start();
    if (!sliders_.at(i)->isSliderDown())
        writeValue(i);
}

bool FitSliders::evaluateNow() {
    coalesce_->stop();
    if (!fit_)
        return false;
    ModelAtScan m;
    if (!fit_->modelFor(values_, m)) {
        emit status(tr("The model of these values cannot be computed."));
        return false;
    }
    live_ = overlayOf(m, measuredPeaks_);
    agreement_ = m.agreement;
    note_->setText(tr("Agreement %1 (live)").arg(m.agreement, 0, 'g', 5));
    emit status(tr("Agreement %1 at the sliders' values").arg(m.agreement, 0, 'g', 5));
    emit overlayChanged();
    return true;
}

void FitSliders::released(int i) {
    writeValue(i);
    if (pending_)
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (const std::optional<std::shared_ptr<const ShownFile>> p = pending_)
                    showFile(*p);
            },
            Qt::QueuedConnection);
}

// The value of slider i into the file through its target's row (a composition together with
// the neighbour compositions that follow it, a relaxation into its RELAXATION line, an
// instrument value into its statement).
void FitSliders::writeValue(int i) {
    if (!base_ || values_[size_t(i)] == written_[size_t(i)])
        return;
    const FitParameter p = base_->ext.fits.at(i);
    const double v = values_[size_t(i)];
    Structure before;
    Structure after;
    std::vector<double> old = values_;
    old[size_t(i)] = written_[size_t(i)];
    applyFitValues(*base_, old, before);
    applyFitValues(*base_, values_, after);
    const StructureFile::Edit e = file_.edit([&](StructureText& t) {
        return writeFitValues(t, before, after, [](const FitTarget& row, double value) {
            return row.integer ? QString::number(qint64(value)) : shortestNumber(value);
        });
    });
    if (e.result == StructureFile::Edit::Failed || e.result == StructureFile::Edit::Stale) {
        emit logLine(e.message);
        return;
    }
    written_[size_t(i)] = v;
    if (e.result == StructureFile::Edit::Written)
        emit logLine(tr("Wrote %1 = %2 into [%3].").arg(p.text, shortestNumber(v), path_));
}
