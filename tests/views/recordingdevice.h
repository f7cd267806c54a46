#pragma once

#include <QColor>
#include <QFont>
#include <QLineF>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QTextItem>
#include <QVector>

#include <cmath>

// A paint device that draws nothing but records what the views hand to the painter: every
// line, rectangle, polyline and text item with the pen colour in force, and whether any
// coordinate was not finite or lay further than `limit` pixels from the origin. Lets the
// tests check the drawing calls themselves (counts, colours, label texts and point sizes),
// independent of fonts and rasterisation.
class RecordingDevice : public QPaintDevice {
public:
    struct Line {
        QLineF line;
        QColor colour;
    };
    struct Polyline {
        QPolygonF points;
        QColor colour;
        double penWidth;
    };
    struct Text {
        QPointF position;
        QString text;
        double pointSize;
        QColor colour;
    };

    RecordingDevice(int width, int height) : engine(this), w(width), h(height) {}
    ~RecordingDevice() override = default;
    QPaintEngine* paintEngine() const override { return &engine; }

    QVector<Line> lines;
    QVector<QRectF> rects;
    QVector<Polyline> polylines;
    QVector<Text> texts;
    int badCoordinates = 0; // non-finite or beyond the limit
    double limit = 1e6;
    int otherCalls = 0; // paths, points, pixmaps, ellipses: the views use none

    QVector<Line> linesOf(const QColor& c) const {
        QVector<Line> out;
        for (const Line& l : lines) {
            if (l.colour == c)
                out.append(l);
        }
        return out;
    }
    QVector<Polyline> polylinesOf(const QColor& c) const {
        QVector<Polyline> out;
        for (const Polyline& p : polylines) {
            if (p.colour == c)
                out.append(p);
        }
        return out;
    }

protected:
    int metric(PaintDeviceMetric m) const override {
        switch (m) {
        case PdmWidth:
            return w;
        case PdmHeight:
            return h;
        case PdmWidthMM:
            return w * 254 / 960;
        case PdmHeightMM:
            return h * 254 / 960;
        case PdmNumColors:
            return 0;
        case PdmDepth:
            return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return static_cast<int>(devicePixelRatioFScale());
        }
        return 0;
    }

private:
    class Engine : public QPaintEngine {
    public:
        explicit Engine(RecordingDevice* d) : QPaintEngine(AllFeatures), dev(d) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        Type type() const override { return User; }
        void updateState(const QPaintEngineState& s) override {
            if (s.state() & DirtyPen)
                pen = s.pen();
            if (s.state() & DirtyFont)
                font = s.font();
        }
        void drawLines(const QLine* l, int n) override {
            for (int i = 0; i < n; ++i)
                drawLines(QLineF(l[i]));
        }
        void drawLines(const QLineF* l, int n) override {
            for (int i = 0; i < n; ++i)
                drawLines(l[i]);
        }
        void drawRects(const QRect* r, int n) override {
            for (int i = 0; i < n; ++i)
                record(QRectF(r[i]));
        }
        void drawRects(const QRectF* r, int n) override {
            for (int i = 0; i < n; ++i)
                record(r[i]);
        }
        void drawPolygon(const QPointF* p, int n, PolygonDrawMode) override {
            QPolygonF poly;
            for (int i = 0; i < n; ++i) {
                check(p[i]);
                poly.append(p[i]);
            }
            dev->polylines.append({poly, pen.color(), pen.widthF()});
        }
        void drawPolygon(const QPoint* p, int n, PolygonDrawMode mode) override {
            QVector<QPointF> f;
            for (int i = 0; i < n; ++i)
                f.append(QPointF(p[i]));
            drawPolygon(f.constData(), n, mode);
        }
        void drawTextItem(const QPointF& p, const QTextItem& t) override {
            check(p);
            dev->texts.append({p, t.text(), t.font().pointSizeF(), pen.color()});
        }
        void drawPath(const QPainterPath&) override { ++dev->otherCalls; }
        void drawPoints(const QPointF*, int) override { ++dev->otherCalls; }
        void drawPoints(const QPoint*, int) override { ++dev->otherCalls; }
        void drawEllipse(const QRectF&) override { ++dev->otherCalls; }
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {
            ++dev->otherCalls;
        }

    private:
        void drawLines(const QLineF& l) {
            check(l.p1());
            check(l.p2());
            dev->lines.append({l, pen.color()});
        }
        void record(const QRectF& r) {
            check(r.topLeft());
            check(r.bottomRight());
            dev->rects.append(r);
        }
        void check(const QPointF& p) {
            if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || std::fabs(p.x()) > dev->limit ||
                std::fabs(p.y()) > dev->limit)
                ++dev->badCoordinates;
        }
        RecordingDevice* dev;
        QPen pen;
        QFont font;
    };

    mutable Engine engine;
    int w;
    int h;
};
