#pragma once

#include <QFont>
#include <QObject>
#include <QRectF>
#include <QString>

class QPainter;

// Draws short labels into boxes, optionally scaling the font so the text fits the box.
// The views create one per drawing pass.
class DrawText : public QObject {
    Q_OBJECT
public:
    explicit DrawText(QObject* parent = nullptr);
    ~DrawText() override;

    // The rectangle of width w and height h centred on (cx, cy); w and h are used as given,
    // also when negative.
    QRectF centeredRect(double cx, double cy, double w, double h) const;

    // Draws `text` into `rect` with the alignment `flags`. Mode 1 scales the font so the
    // text fits the box, at most `maxSize` points (no bound when maxSize <= 0); any other
    // mode draws in `font` as it is. Afterwards the painter's font is `font`.
    void fitText(QPainter* painter, QRectF rect, const QFont& font, int flags, int mode,
                 const QString& text, double maxSize);
};
