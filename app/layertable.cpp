#include "app/layertable.h"

#include "app/shownfile.h"
#include "simulation/model.h"
#include "structure/config.h"
#include "structure/structurefile.h"

#include <QHeaderView>
#include <QTableWidget>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// The half width of the range a new FIT line of a composition gets, and the relative one of a
// thickness.
constexpr double kFractionReach = 0.05;
constexpr double kThicknessReach = 0.2;

// The LAYER argument a column shows (1-based as in the line), or 0 for the other columns.
int positionOf(int column) {
    if (column == LayerTable::Monolayers)
        return StructureText::Monolayers;
    if (column >= LayerTable::InFraction && column <= LayerTable::StartAs)
        return column; // the columns follow the line from the In fraction on
    return 0;
}

bool isShape(int column) {
    return column == LayerTable::EndShape || column == LayerTable::StartShape;
}

bool isFraction(int column) {
    switch (column) {
    case LayerTable::InFraction:
    case LayerTable::AsFraction:
    case LayerTable::EndIn:
    case LayerTable::EndAs:
    case LayerTable::StartIn:
    case LayerTable::StartAs:
        return true;
    default:
        return false;
    }
}

// The FIT target of a FIT column group (N, X, Y) and the first column of its group.
QChar fitWord(int column) {
    if (column >= LayerTable::FitY)
        return QLatin1Char('Y');
    if (column >= LayerTable::FitX)
        return QLatin1Char('X');
    return QLatin1Char('N');
}

int fitGroupStart(int column) {
    return column >= LayerTable::FitY   ? LayerTable::FitY
           : column >= LayerTable::FitX ? LayerTable::FitX
                                        : LayerTable::FitN;
}

double roundTo(double value, double unit) {
    return std::round(value / unit) * unit;
}

// The range a new FIT line gets around the value `v` the file gives.
void defaultRange(QChar word, double v, double& min, double& max) {
    if (word == QLatin1Char('N')) {
        min = std::max(1.0, std::floor(v * (1 - kThicknessReach)));
        max = std::max(min + 1, std::ceil(v * (1 + kThicknessReach)));
        return;
    }
    min = std::max(0.0, roundTo(v - kFractionReach, 1e-4));
    max = std::min(1.0, roundTo(v + kFractionReach, 1e-4));
}

const char* const kHeaders[LayerTable::ColumnCount][2] = {
    {"N (ML)", "Thickness in monolayers"},
    {"nm", "Thickness in nm: monolayers times the height of one monolayer as the model strains "
           "it to the substrate"},
    {"x (In)", "In fraction on the group-III sites"},
    {"y (As)", "As fraction on the group-V sites"},
    {"end shape", "Grading at the layer's end (its surface side): A, L, P or H"},
    {"end ML", "Width of the end grading in monolayers"},
    {"end x", "In fraction beyond the end (the next layer's)"},
    {"end y", "As fraction beyond the end (the next layer's)"},
    {"start shape", "Grading at the layer's start (its substrate side): A, L, P or H"},
    {"start ML", "Width of the start grading in monolayers"},
    {"start x", "In fraction beyond the start (the layer below)"},
    {"start y", "As fraction beyond the start (the layer below)"},
    {"fit N", "The fit may move the thickness (a FIT LAYER i N line)"},
    {"N min", "Lower bound of the thickness's FIT line"},
    {"N max", "Upper bound of the thickness's FIT line"},
    {"fit x", "The fit may move the In fraction (a FIT LAYER i X line)"},
    {"x min", "Lower bound of the In fraction's FIT line"},
    {"x max", "Upper bound of the In fraction's FIT line"},
    {"fit y", "The fit may move the As fraction (a FIT LAYER i Y line)"},
    {"y min", "Lower bound of the As fraction's FIT line"},
    {"y max", "Upper bound of the As fraction's FIT line"},
};

} // namespace

LayerTable::LayerTable(QWidget* parent) : QDockWidget(tr("Layers"), parent) {
    table_ = new QTableWidget(0, ColumnCount, this);
    for (int c = 0; c < ColumnCount; ++c) {
        auto* header = new QTableWidgetItem(tr(kHeaders[c][0]));
        header->setToolTip(tr(kHeaders[c][1]));
        table_->setHorizontalHeaderItem(c, header);
    }
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->setToolTip(tr("One row per LAYER line in file order: row 1 is grown first, on the "
                          "substrate; the last row is at the surface. An edited cell is "
                          "written into the structure file."));
    setWidget(table_);
    connect(table_, &QTableWidget::itemChanged, this, &LayerTable::cellChanged);
}

void LayerTable::showFile(std::shared_ptr<const ShownFile> file) {
    shown_ = std::move(file);
    file_ = shown_ ? shown_->file : StructureFile();
    fill();
}

// The rows of the text as it stands (after an edit, what was written), with the nm of the
// structure shown.
void LayerTable::fill() {
    filling_ = true;
    path_ = file_.path();
    table_->setRowCount(0);
    nmPerMonolayer_.clear();
    setWindowTitle(tr("Layers"));
    if (path_.isEmpty() || !file_.isRead() || !shown_) {
        filling_ = false;
        return;
    }
    const StructureText& text = file_.text();
    if (text.layerCount() > maxRows) {
        setWindowTitle(tr("Layers (%1, too many to list)").arg(text.layerCount()));
        filling_ = false;
        return;
    }
    const Structure& structure = shown_->structure;
    const std::unique_ptr<Model> model = makeModel(structure.ext.model);
    const int rows = text.layerCount();
    table_->setRowCount(rows);
    nmPerMonolayer_.fill(std::numeric_limits<double>::quiet_NaN(), rows);
    for (int r = 0; r < rows; ++r) {
        if (structure.valid && r < structure.layers.size()) {
            const Layer& l = structure.layers.at(r);
            nmPerMonolayer_[r] = model->layerMonolayerHeight(structure, l) / 10;
        }
        QString label = QString::number(r + 1);
        if (r == 0)
            label += tr(" substrate side");
        else if (r == rows - 1)
            label += tr(" surface side");
        auto* header = new QTableWidgetItem(label);
        header->setToolTip(tr("LAYER line %1 of %2 in the file").arg(r + 1).arg(rows));
        table_->setVerticalHeaderItem(r, header);
        for (int c = 0; c < ColumnCount; ++c) {
            auto* item = new QTableWidgetItem;
            const int position = positionOf(c);
            if (position > 0) {
                const QString written = text.layerArgument(r, position);
                item->setText(written.isEmpty()
                                  ? (isShape(c) ? QStringLiteral("A") : QStringLiteral("0"))
                                  : written);
                if (written.isEmpty()) {
                    item->setForeground(Qt::gray);
                    item->setToolTip(tr("Left out in the file; reads as %1").arg(item->text()));
                }
            } else if (c == Nanometres) {
                const double nm = text.layerArgument(r, StructureText::Monolayers).toDouble() *
                                  nmPerMonolayer_[r];
                if (std::isfinite(nm))
                    item->setText(QString::number(nm, 'f', 2));
                else
                    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            } else if (c == FitN || c == FitX || c == FitY) {
                StructureText::Fit f;
                const bool free = text.fit(layerFitTarget(r + 1, fitWord(c)), f);
                item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
                item->setCheckState(free ? Qt::Checked : Qt::Unchecked);
            } else {
                StructureText::Fit f;
                if (text.fit(layerFitTarget(r + 1, fitWord(c)), f))
                    item->setText(shortestNumber(c == fitGroupStart(c) + 1 ? f.min : f.max));
            }
            table_->setItem(r, c, item);
        }
    }
    setWindowTitle(tr("Layers (row 1 on the substrate)"));
    filling_ = false;
}

// One edited cell: its value checked, then written as one token of the file (a FIT column as
// one FIT line). The table is filled again from the file, so a refused value goes back.
void LayerTable::cellChanged(QTableWidgetItem* item) {
    if (filling_ || path_.isEmpty())
        return;
    const int row = item->row();
    const int column = item->column();
    const QString typed = item->text().trimmed();
    const QString layerName = tr("layer %1").arg(row + 1);
    const auto refuse = [&](const QString& why) {
        emit logLine(tr("Not written into [%1]: %2.").arg(path_, why));
        refreshLater();
    };
    bool ok = false;
    const double value = typed.toDouble(&ok);
    const int position = positionOf(column);

    if (isShape(column)) {
        const QString shape = typed.toUpper();
        if (shape.size() != 1 || !QStringLiteral("ALPH").contains(shape))
            return refuse(tr("a grading shape is A, L, P or H, not \"%1\"").arg(typed));
        return write(tr("%1 %2 %3").arg(layerName, tr(kHeaders[column][0]), shape),
                     [=](StructureText& t) { return t.setLayerArgument(row, position, shape); });
    }
    if (column == Monolayers || column == Nanometres) {
        double monolayers = value;
        if (ok && column == Nanometres)
            monolayers = std::round(value / nmPerMonolayer_.value(row));
        if (!ok || !(monolayers >= 0 && monolayers <= std::numeric_limits<std::int32_t>::max()) ||
            monolayers != std::floor(monolayers))
            return refuse(tr("a thickness is a whole number of monolayers, not \"%1\"").arg(typed));
        const QString token = QString::number(qint64(monolayers));
        return write(tr("%1 thickness %2 ML").arg(layerName, token), [=](StructureText& t) {
            return t.setLayerArgument(row, StructureText::Monolayers, token);
        });
    }
    if (position > 0) {
        if (!ok || !std::isfinite(value))
            return refuse(tr("\"%1\" is not a number").arg(typed));
        if (isFraction(column) && !(value >= 0 && value <= 1))
            return refuse(tr("a fraction lies between 0 and 1, not %1").arg(typed));
        if (!isFraction(column) && value < 0)
            return refuse(tr("a grading width is not negative"));
        return write(tr("%1 %2 %3").arg(layerName, tr(kHeaders[column][0]), shortestNumber(value)),
                     [=](StructureText& t) { return t.setLayerNumber(row, position, value); });
    }

    // The FIT columns.
    const QChar word = fitWord(column);
    const QString target = layerFitTarget(row + 1, word);
    const int valuePosition = word == QLatin1Char('N')   ? int(StructureText::Monolayers)
                              : word == QLatin1Char('X') ? int(StructureText::InFraction)
                                                         : int(StructureText::AsFraction);
    if (column == fitGroupStart(column)) {
        if (item->checkState() == Qt::Unchecked)
            return write(tr("no FIT %1").arg(target), [=](StructureText& t) {
                t.removeFit(target);
                return true;
            });
        return write(tr("FIT %1").arg(target), [=](StructureText& t) {
            StructureText::Fit f;
            if (t.fit(target, f))
                return true;
            double min = 0;
            double max = 0;
            defaultRange(word, t.layerArgument(row, valuePosition).toDouble(), min, max);
            return t.setFit(target, min, max);
        });
    }
    if (!ok || !std::isfinite(value))
        return refuse(tr("\"%1\" is not a number").arg(typed));
    const bool lower = column == fitGroupStart(column) + 1;
    write(tr("FIT %1 %2 %3").arg(target, lower ? tr("min") : tr("max"), shortestNumber(value)),
          [=](StructureText& t) {
              StructureText::Fit f;
              if (!t.fit(target, f))
                  defaultRange(word, t.layerArgument(row, valuePosition).toDouble(), f.min, f.max);
              return t.setFit(target, lower ? value : f.min, lower ? f.max : value);
          });
}

void LayerTable::write(const QString& what, const std::function<bool(StructureText&)>& edit) {
    const StructureFile::Edit e = file_.edit(edit);
    if (e.result == StructureFile::Edit::Written)
        emit logLine(tr("Wrote %1 into [%2].").arg(what, path_));
    else if (e.result != StructureFile::Edit::Unchanged)
        emit logLine(e.message);
    refreshLater();
}

// Not while the table is inside the signal of the item it would delete.
void LayerTable::refreshLater() {
    QMetaObject::invokeMethod(
        this, [this] { fill(); }, Qt::QueuedConnection);
}
