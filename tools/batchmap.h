#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// A wafer map of xrdsim-batch (--map POSITIONS.csv): one structure fitted to a scan per wafer
// point, the points' positions from a CSV (columns file, x, y in mm; a header row first;
// relative file names from the CSV's folder), written as NAME-map.csv and one colour map per
// fitted value and the agreement (NAME-map-TARGET.png) with the wafer's outline.

struct MapPoint {
    QString scan; // absolute
    double x = 0.0, y = 0.0;
};

// The points of a positions file; false with one log line (file, line and reason) when the
// file cannot be read or a row is malformed. At most kMaxMapPoints points.
bool readMapPositions(const QString& path, QVector<MapPoint>& points, QString& problem);
constexpr int kMaxMapPoints = 100'000;

// One colour map: the points' values (NaN: no value, drawn grey) on the wafer, its outline
// a circle about the origin that holds every point, a colour bar from the lowest to the
// highest value, and `title`.
QImage drawWaferMap(const QVector<MapPoint>& points, const QVector<double>& values,
                    const QString& title, QSize size = QSize(640, 560));

// The file name of a map image: NAME-map-layer-1-n.png for "LAYER 1 N" (lower case, a dash
// for each run of other characters).
QString mapImageName(const QString& structureFile, const QString& outputDir, const QString& what);
QString mapTableName(const QString& structureFile, const QString& outputDir);

struct MapRun {
    QString structureFile;
    QString positions;
    QString outputDir; // empty: beside the structure file
    unsigned seed = 1;
    bool seedGiven = false;
    double maxSeconds = 600.0;
    bool maxSecondsGiven = false;
    bool weighted = false;
    int threads = 1; // in all; the points are fitted this many at once
    std::function<void(const QString&)> say;
};

// Fits the structure to every point's scan (each as it would be fitted alone with the same
// seed), writes the table and the images; true when every point was fitted and every file
// written.
bool runWaferMap(const MapRun& run);
