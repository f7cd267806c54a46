#pragma once

#include "plot/chcoord.h"
#include "tests/views/recordingdevice.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QStringList>

#include <cmath>

// Shared by the view tests: the display's frame, colours and a few checks.
namespace viewtest {

const QColor grey(128, 128, 128);
const QColor blue(0, 0, 255);
const QColor red(255, 0, 0);
const QColor green(0, 200, 0);

// The frame as a display of the given size hands it to the view: area (0, height, width, 0).
inline void displayFrame(ChCoord& coord, int width, int height) {
    coord.setArea(0, height, width, 0);
}

inline QImage whiteImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

inline bool isColour(const QImage& image, int x, int y, const QColor& c) {
    return QColor(image.pixel(x, y)) == c;
}

// Whether any pixel of column x between rows y0 and y1 has colour c.
inline bool columnHas(const QImage& image, int x, int y0, int y1, const QColor& c) {
    for (int y = y0; y <= y1; ++y) {
        if (isColour(image, x, y, c))
            return true;
    }
    return false;
}

inline bool rowHas(const QImage& image, int y, int x0, int x1, const QColor& c) {
    for (int x = x0; x <= x1; ++x) {
        if (isColour(image, x, y, c))
            return true;
    }
    return false;
}

inline int nonWhitePixels(const QImage& image, const QRect& area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                ++count;
        }
    }
    return count;
}

inline int pixelsOf(const QImage& image, const QRect& area, const QColor& c) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += isColour(image, x, y, c);
    return count;
}

inline QStringList textsOf(const RecordingDevice& dev) {
    QStringList out;
    for (const RecordingDevice::Text& t : dev.texts)
        out.append(t.text);
    return out;
}

inline bool usableScale(const ChCoord& c) {
    return std::isfinite(c.scaleX0) && std::isfinite(c.scaleX1) && c.scaleX0 < c.scaleX1 &&
           std::isfinite(c.scaleY0) && std::isfinite(c.scaleY1) && c.scaleY0 < c.scaleY1;
}

} // namespace viewtest
