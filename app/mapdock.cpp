#include "app/mapdock.h"

#include "plot/dispa.h"
#include "structure/config.h"

#include <QMainWindow>
#include <QPainter>

#include <algorithm>
#include <cmath>

MapDock::MapDock(QWidget* parent) : QDockWidget(tr("Reciprocal-space map"), parent) {
    setObjectName(QStringLiteral("MapDock"));
    plot_ = new DispA(this);
    plot_->setMinimumSize(300, 260);
    plot_->background = Qt::white;
    setMapMargins(plot_->coord);
    setWidget(plot_);
    connect(plot_, &DispA::drawImage1, this, &MapDock::draw);
    connect(plot_, &DispA::mouseReleased0, this, &MapDock::released);
}

bool MapDock::looksLikeMap(const QString& path) {
    const AreaMapReadResult r = readAreaMapFile(path);
    if (!r.ok || r.map.format == QLatin1String("text") || r.map.lineCount() < 5)
        return false;
    double low = HUGE_VAL, high = -HUGE_VAL;
    for (const int start : r.map.lineStarts) {
        const double offset = r.map.x[start] - r.map.z[start] / 2;
        low = std::min(low, offset);
        high = std::max(high, offset);
    }
    return high - low > 1e-3;
}

bool MapDock::openMap(const QString& path, const Structure* structure) {
    const AreaMapReadResult read = readAreaMapFile(path);
    if (!read.ok) {
        emit log(read.error);
        return false;
    }
    RsmAnalysis analysis = analyseMap(read.map, structure);
    for (const QString& line : analysis.log)
        emit log(line);
    if (!analysis.ok) {
        emit log(analysis.failure);
        return false;
    }
    picture_.analysis = std::move(analysis);
    picture_.prepare();
    fresh_ = true;
    plot_->update();
    return true;
}

void MapDock::draw(QPainter* p) {
    ChCoord& coord = plot_->coord;
    coord.applyMargins();
    if (fresh_ || !(coord.scaleX1 != coord.scaleX0 && coord.scaleY1 != coord.scaleY0)) {
        const QRectF extent = mapExtent(picture_.analysis.grid);
        coord.setScale(extent.left(), extent.top(), extent.right(), extent.bottom());
        fresh_ = false;
    }
    drawMap(*p, coord, picture_);
}

// A release where the button went down (within 2 pixels) is a click: the spot under it.
void MapDock::released() {
    const MouseC& m = plot_->mouse;
    if (m.pressButton != Qt::LeftButton || std::abs(m.releaseX - m.pressX) > 2 ||
        std::abs(m.releaseY - m.pressY) > 2 || !picture_.analysis.ok)
        return;
    const ChCoord& c = plot_->coord;
    if (!(c.plotX1 != c.plotX0) || !(c.plotY1 != c.plotY0))
        return;
    const double qx =
        c.scaleX0 + (m.releaseX - c.plotX0) * (c.scaleX1 - c.scaleX0) / (c.plotX1 - c.plotX0);
    const double qz =
        c.scaleY0 + (m.releaseY - c.plotY0) * (c.scaleY1 - c.scaleY0) / (c.plotY1 - c.plotY0);
    const QString line = spotAtLine(picture_.analysis, qx, qz);
    if (!line.isEmpty())
        emit log(line);
}

MapDock* openMapIn(QMainWindow* window, const QString& path, const Structure* structure,
                   const std::function<void(const QString&)>& log) {
    MapDock* dock = window->findChild<MapDock*>();
    if (!dock) {
        dock = new MapDock(window);
        QObject::connect(dock, &MapDock::log, window, [log](const QString& line) { log(line); });
        window->addDockWidget(Qt::RightDockWidgetArea, dock);
    }
    if (dock->openMap(path, structure))
        dock->show();
    return dock;
}
