#pragma once

#include "views/mapview.h"

#include <QDockWidget>
#include <QString>

#include <functional>

class DispA;
class QMainWindow;
struct Structure;

// The reciprocal-space map beside the plots: one map at a time, drawn by the map plot with
// the plot toolkit's pan and zoom; a click (a press and release on one spot) writes the
// numbers of the spot under it to the log. Opened through openMapIn.
class MapDock : public QDockWidget {
    Q_OBJECT
public:
    explicit MapDock(QWidget* parent = nullptr);

    // Reads and analyses the map (with the structure's layers when it is valid) and shows it;
    // every line of the road goes to `log`. False (the old map kept) when it can't be read.
    bool openMap(const QString& path, const Structure* structure);

    const MapPicture& picture() const { return picture_; }
    DispA* plot() const { return plot_; }

    // Whether a dropped file is a map rather than a scan: an XRDML or RAS file of at least
    // five lines whose omega offsets (omega - 2theta/2) differ.
    static bool looksLikeMap(const QString& path);

signals:
    void log(QString line);

private:
    void draw(QPainter* p);
    void released();

    DispA* plot_ = nullptr;
    MapPicture picture_;
    bool fresh_ = true; // the next paint shows the whole map
};

// The window's map dock (made on first use) opened on `path`; its log lines go to `log`.
MapDock* openMapIn(QMainWindow* window, const QString& path, const Structure* structure,
                   const std::function<void(const QString&)>& log);
