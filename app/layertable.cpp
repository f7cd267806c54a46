#include "app/layertable.h"

#include "app/shownfile.h"
#include "simulation/model.h"
#include "structure/config.h"
#include "structure/fittargets.h"
#include "structure/structurefile.h"

#include <QHeaderView>
#include <QTableWidget>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

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

const char* const kHeaders[LayerTable::FirstTargetColumn][2] = {
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
};

// The columns behind the LAYER arguments come from the FIT target rows: a value column for
// each layer value with a statement of its own, then per layer value its FIT line (free,
// lower and upper bound).
struct TargetColumn {
    const FitTarget* row;
    int part; // -1: the value; 0: free; 1: lower bound; 2: upper bound
};

const std::vector<TargetColumn>& targetColumns() {
    static const std::vector<TargetColumn> columns = [] {
        std::vector<TargetColumn> out;
        for (const FitTarget& t : fitTargets()) {
            if (t.layer && t.position == 0)
                out.push_back({&t, -1});
        }
        for (const FitTarget& t : fitTargets()) {
            for (int part = 0; t.layer && part < 3; ++part)
                out.push_back({&t, part});
        }
        return out;
    }();
    return columns;
}

// The target column `column` describes, or null for a LAYER argument's.
const TargetColumn* targetColumn(int column) {
    const int k = column - LayerTable::FirstTargetColumn;
    return k >= 0 && k < int(targetColumns().size()) ? &targetColumns()[size_t(k)] : nullptr;
}

// The value of layer `row`'s target as the text writes it (what a missing one reads as).
double writtenValue(const StructureText& text, const FitTarget& t, int row) {
    return t.written(text, row).toDouble();
}

} // namespace

int LayerTable::columnCount() {
    return FirstTargetColumn + int(targetColumns().size());
}

int LayerTable::valueColumn(int target) {
    const FitTarget& t = fitTarget(FitParameter::Target(target));
    if (t.position > 0)
        return t.position == StructureText::Monolayers ? int(Monolayers) : t.position;
    return fitColumn(target, -1);
}

int LayerTable::fitColumn(int target, int part) {
    for (size_t k = 0; k < targetColumns().size(); ++k) {
        if (targetColumns()[k].row->target == target && targetColumns()[k].part == part)
            return FirstTargetColumn + int(k);
    }
    return -1;
}

LayerTable::LayerTable(QWidget* parent) : QDockWidget(tr("Layers"), parent) {
    table_ = new QTableWidget(0, columnCount(), this);
    for (int c = 0; c < columnCount(); ++c) {
        auto* header = new QTableWidgetItem;
        if (const TargetColumn* tc = targetColumn(c)) {
            const QString word = QLatin1String(tc->row->word);
            const QString name = tr(tc->row->name);
            const QString texts[4][2] = {
                {word, tr("%1 (written in a line of its own)").arg(name)},
                {tr("fit %1").arg(word),
                 tr("The fit may move the %1 (a FIT LAYER i %2 line)").arg(name, word)},
                {tr("%1 min").arg(word), tr("Lower bound of the %1's FIT line").arg(name)},
                {tr("%1 max").arg(word), tr("Upper bound of the %1's FIT line").arg(name)}};
            header->setText(texts[tc->part + 1][0]);
            header->setToolTip(texts[tc->part + 1][1]);
        } else {
            header->setText(tr(kHeaders[c][0]));
            header->setToolTip(tr(kHeaders[c][1]));
        }
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
        for (int c = 0; c < columnCount(); ++c) {
            auto* item = new QTableWidgetItem;
            const int position = positionOf(c);
            const TargetColumn* tc = targetColumn(c);
            QString written;
            if (position > 0)
                written = text.layerArgument(r, position);
            else if (tc && tc->part < 0)
                written = tc->row->written(text, r);
            if (position > 0 || (tc && tc->part < 0)) {
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
            } else if (tc && tc->part == 0) {
                StructureText::Fit f;
                const bool free = text.fit(layerFitTarget(r + 1, QLatin1String(tc->row->word)), f);
                item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
                item->setCheckState(free ? Qt::Checked : Qt::Unchecked);
            } else if (tc) {
                StructureText::Fit f;
                if (text.fit(layerFitTarget(r + 1, QLatin1String(tc->row->word)), f))
                    item->setText(shortestNumber(tc->part == 1 ? f.min : f.max));
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

    // The arguments of a line that names its material by formula stand elsewhere
    // ("LAYER n FORMULA es ew EF ss sw SF"): only its thickness and FIT lines are edited here.
    const bool formula =
        shown_ && row < shown_->structure.layers.size() && shown_->structure.layers.at(row).formula;
    if (formula && (isShape(column) || position > 0))
        return refuse(
            tr("%1 names its material by formula; edit its LAYER line in the file").arg(layerName));

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
    const TargetColumn* tc = targetColumn(column);
    if (!tc)
        return;
    const FitTarget& t = *tc->row;
    if (tc->part < 0) {
        if (!ok || !std::isfinite(value))
            return refuse(tr("\"%1\" is not a number").arg(typed));
        if (value < t.lowest || (t.lowestExcluded && value <= t.lowest) || value > t.highest)
            return refuse(tr(t.rangeRule));
        const QString token = shortestNumber(value);
        return write(tr("%1 %2 %3").arg(layerName, tr(t.name), token),
                     [=](StructureText& text) { return t.write(text, row, token); });
    }

    // The FIT columns.
    const QString target = layerFitTarget(row + 1, QLatin1String(t.word));
    if (tc->part == 0) {
        if (item->checkState() == Qt::Unchecked)
            return write(tr("no FIT %1").arg(target), [=](StructureText& text) {
                text.removeFit(target);
                return true;
            });
        return write(tr("FIT %1").arg(target), [=](StructureText& text) {
            StructureText::Fit f;
            if (text.fit(target, f))
                return true;
            double min = 0;
            double max = 0;
            defaultFitRange(t, writtenValue(text, t, row), min, max);
            return text.setFit(target, min, max);
        });
    }
    if (!ok || !std::isfinite(value))
        return refuse(tr("\"%1\" is not a number").arg(typed));
    const bool lower = tc->part == 1;
    write(tr("FIT %1 %2 %3").arg(target, lower ? tr("min") : tr("max"), shortestNumber(value)),
          [=](StructureText& text) {
              StructureText::Fit f;
              if (!text.fit(target, f))
                  defaultFitRange(t, writtenValue(text, t, row), f.min, f.max);
              return text.setFit(target, lower ? value : f.min, lower ? f.max : value);
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
