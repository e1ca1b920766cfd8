#include "window_support.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace quokka {
namespace {

double DpiScale()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() / 96.0 : 1.0;
}

} // namespace

int DluX(int units)
{
    return int(std::lround(units * 6.0 / 4.0 * DpiScale()));
}

int DluY(int units)
{
    return int(std::lround(units * 13.0 / 8.0 * DpiScale()));
}

QRect DluRect(int x, int y, int width, int height)
{
    return QRect(DluX(x), DluY(y), DluX(width), DluY(height));
}

QSize FullScreenSize()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().size() : QSize(1024, 768);
}

QPoint ClampToScreen(QPoint topLeft, QSize size)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return topLeft;
    const QRect area = screen->availableGeometry();
    const int x = std::max(area.left(), std::min(topLeft.x(), area.right() + 1 - size.width()));
    const int y = std::max(area.top(), std::min(topLeft.y(), area.bottom() + 1 - size.height()));
    return {x, y};
}

QFont PointFont(const QString &face, int tenths)
{
    QFont font(face);
    font.setPointSizeF(tenths / 10.0);
    font.setWeight(QFont::Normal);
    return font;
}

QIcon AppIcon()
{
    static const QIcon icon(QStringLiteral(":/res/icon.png"));
    return icon;
}

} // namespace quokka
