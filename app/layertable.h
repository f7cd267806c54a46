#pragma once

#include "structure/structurefile.h"

#include <QDockWidget>
#include <QString>

#include <functional>
#include <memory>

class QTableWidget;
class QTableWidgetItem;
struct ShownFile;

// The layers of the structure on show as a table beside the plots: one row per LAYER line in
// file order, the first row the layer grown first on the substrate, the last one at the
// surface. Columns: thickness in monolayers and in nm (from the model's monolayer height),
// the In and As fractions, the grading at the layer's end (surface side) and start (substrate
// side), and per thickness, In and As whether a FIT line frees it and its bounds. Editing a
// cell writes that one number into the file in place; the window's watch on the file then
// computes it again.
class LayerTable : public QDockWidget {
    Q_OBJECT
public:
    explicit LayerTable(QWidget* parent = nullptr);

    // Shows the LAYER lines of the structure file on show as the document read it; none (or
    // a file whose text was too large to keep) empties the table.
    void showFile(std::shared_ptr<const ShownFile> file);

    const QString& file() const { return path_; }
    QTableWidget* table() const { return table_; }

    enum Column {
        Monolayers,
        Nanometres,
        InFraction,
        AsFraction,
        EndShape,
        EndWidth,
        EndIn,
        EndAs,
        StartShape,
        StartWidth,
        StartIn,
        StartAs,
        // The columns of the FIT targets' rows follow (targetColumn).
        FirstTargetColumn
    };
    static int columnCount();
    // The column that shows the value of a layer's FIT target (FitParameter::Target).
    static int valueColumn(int target);
    // The columns of its FIT line: `part` 0 free, 1 lower bound, 2 upper bound.
    static int fitColumn(int target, int part = 0);

    // Tables of more layers than this show nothing (a file of a million layers stays usable).
    static constexpr int maxRows = 2000;

signals:
    void logLine(const QString& line);

private:
    void fill();
    void cellChanged(QTableWidgetItem* item);
    void refreshLater();
    void write(const QString& what, const std::function<bool(StructureText&)>& edit);

    QTableWidget* table_ = nullptr;
    QString path_;
    StructureFile file_; // as shown: an edit goes into this text
    std::shared_ptr<const ShownFile> shown_;
    bool filling_ = false;
    // nm per monolayer of each row, for the nm column.
    QVector<double> nmPerMonolayer_;
};
