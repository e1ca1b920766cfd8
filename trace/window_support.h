#pragma once
// Helpers every window of the program shares: dialog-unit layout, placement clamped to the
// screen, point-size fonts and the application icon.
#include <QFont>
#include <QIcon>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace quokka {

// Dialog units of the 8-point dialog font to pixels: 6 x 13 pixels per 4 x 8 units at 96 DPI.
int DluX(int units);
int DluY(int units);
QRect DluRect(int x, int y, int width, int height);

// The size of the primary screen's available area (what a maximised window's client gets).
QSize FullScreenSize();
// Moves TOPLEFT so that a window of SIZE lies inside the primary screen's available area.
QPoint ClampToScreen(QPoint topLeft, QSize size);

// A font of FACE at TENTHS of a point, at the screen's logical DPI.
QFont PointFont(const QString &face, int tenths);

// The application icon, set on the main dialog and the result windows.
QIcon AppIcon();

} // namespace quokka
