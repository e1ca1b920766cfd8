#include "map_pixels.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace mappixels {

QImage Live(QWidget *window)
{
    return QGuiApplication::primaryScreen()->grabWindow(window->winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

QImage Painted(QWidget *window)
{
    return window->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool IsRed(QRgb pixel)
{
    return qRed(pixel) == 255 && qGreen(pixel) == 0 && qBlue(pixel) == 0;
}

bool IsGreen(QRgb pixel)
{
    return qRed(pixel) == 0 && qGreen(pixel) == 255 && qBlue(pixel) == 0;
}

bool Reddish(QRgb pixel)
{
    return qRed(pixel) >= 230 && qGreen(pixel) <= 40 && qBlue(pixel) <= 40;
}

bool Greenish(QRgb pixel)
{
    return qGreen(pixel) >= 230 && qRed(pixel) <= 40 && qBlue(pixel) <= 40;
}

bool MarkerAt(const QImage &image, QPoint point, QRgb colour)
{
    // A marker has about 60 pixels wholly inside it; the line that ends on it covers some.
    int count = 0;
    for (int y = point.y() - 5; y < point.y() + 5; ++y)
        for (int x = point.x() - 5; x < point.x() + 5; ++x)
            count += image.valid(x, y) && image.pixel(x, y) == (colour | 0xFF000000);
    return count >= 36;
}

bool NearPixel(const QImage &image, QPointF at, bool (*test)(QRgb))
{
    const int cx = int(std::floor(at.x())), cy = int(std::floor(at.y()));
    for (int y = cy - 1; y <= cy + 1; ++y)
        for (int x = cx - 1; x <= cx + 1; ++x)
            if (image.valid(x, y) && test(image.pixel(x, y)))
                return true;
    return false;
}

} // namespace mappixels
