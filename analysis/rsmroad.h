#pragma once

// The road of a reciprocal-space map, shared by the window and the batch tool: the map in Q
// aligned on the substrate's spot, gridded, its spots found and turned into numbers, and the
// structure's layers placed where the model puts them.

#include "analysis/rsm.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

struct Structure;

// Where the model puts one layer of the structure at the map's reflection: coherent on the
// substrate, and relaxed as its RELAXATION line says (on the in-plane lattice of the layer
// below, as the realistic models grow it).
struct LayerMark {
    int layer = 0; // 1-based, file order
    MaterialSystem system;
    double x = 0, y = 0; // fractions in the system
    double relaxation = 0;
    double qxCoherent = 0, qzCoherent = 0;
    double qxRelaxed = 0, qzRelaxed = 0;
};

struct RsmSettings {
    int nx = 0, nz = 0; // cells of the mesh; 0: from the number of points
    bool align = true;  // align the map on the substrate's spot (maps in angles only)
};

struct RsmAnalysis {
    bool ok = false;
    QString failure; // one log line when !ok
    AreaMap map;
    RsmGeometry geometry;
    int h = 2, k = 2, l = 4;
    double grazing = 1;    // +1 exit (Qx > 0), -1 incidence
    QString substrateName; // "GaAs", "In0.53Ga0.47As"...
    double aSubstrate = 0;
    double substrateQx = 0, substrateQz = 0;
    QVector<LayerMark> layers;
    MapGrid grid;
    QVector<MapSpot> spots;
    QVector<SpotNumbers> numbers;  // one per spot
    QStringList labels;            // one per spot: "substrate", "layer 2", or empty
    QStringList alloys;            // one per spot: what its composition is of
    QVector<AlloyLine> alloyLines; // one per spot
    QStringList log;               // the lines for the log, in order
};

// Analyses a map that was read. With a structure: its substrate, wavelength (when the map
// names none), REFLECTION (its grazing side from the map), OFFSET (added to omega unless the
// map is aligned) and layers. Without one: a GaAs or InP substrate and the reflection among
// the common ones nearest to the map's strongest spot.
RsmAnalysis analyseMap(AreaMap map, const Structure* structure, const RsmSettings& settings = {});

// The numbers of the spot at (qx, qz) (a click): the spot nearest to it on the grid, refined,
// as one log line; empty when the grid holds nothing there.
QString spotAtLine(const RsmAnalysis& analysis, double qx, double qz);

// The log line of spot `index` (0-based) of the analysis.
QString spotLine(const RsmAnalysis& analysis, int index);

// The spot table (NAME-rsm.EXT): a header line and one tab-separated line per spot.
QByteArray spotTable(const RsmAnalysis& analysis);
// The gridded map: Qx, Qz, mean intensity and points of every cell, "nan" for an empty one.
QByteArray gridText(const MapGrid& grid);
