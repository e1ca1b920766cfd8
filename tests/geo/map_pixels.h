#pragma once
// Pixel checks on grabs of the map windows.
#include <QImage>
#include <QPoint>

class QWidget;

namespace mappixels {

// What the window shows now (its backing store), and what a fresh paint of it gives.
QImage Live(QWidget *window);
QImage Painted(QWidget *window);

bool IsRed(QRgb pixel);   // exactly the markers' red
bool IsGreen(QRgb pixel); // exactly the destination's green
bool Reddish(QRgb pixel); // a line's red, allowing for anti-aliased edges
bool Greenish(QRgb pixel);

// A 10 x 10 marker centred on POINT: most of its pixels are exactly COLOUR.
bool MarkerAt(const QImage &image, QPoint point, QRgb colour);
// Whether a pixel within one pixel of AT passes TEST.
bool NearPixel(const QImage &image, QPointF at, bool (*test)(QRgb));

} // namespace mappixels
