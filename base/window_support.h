#pragma once
// Helpers every window of the program shares: fonts, dialog-unit layout, placement by the
// window's frame clamped to the screen, and the application icon.
#include <QFont>
#include <QIcon>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <functional>

class QAbstractItemView;
class QApplication;
class QListView;
class QListWidget;
class QMenu;
class QScreen;
class QWidget;

namespace quokka {

// The installed face that stands in for FACE, a Windows face the windows were drawn for:
// Liberation Sans (the metrics of Arial) for Arial, Helvetica, the dialog face and Segoe UI,
// Liberation Mono (the metrics of Courier New) for Courier New.
QString InstalledFace(const QString &face);
// A font of FACE (mapped by InstalledFace) at TENTHS of a point.
QFont PointFont(const QString &face, int tenths);
// The 8-point dialog font every window is given, and that dialog units are measured from.
QFont DialogFont();

// The dialog font's base units, measured the way the original platform measures them: the
// average width of A-Z a-z, rounded, and the font's height with ascent and descent each
// rounded up. 6 x 13 pixels for the 8-point Arial metrics at 96 dots per inch.
QSize DialogBaseUnits();
// Dialog units to pixels: x * width / 4 and y * height / 8, rounded.
int DluX(int units);
int DluY(int units);
QRect DluRect(int x, int y, int width, int height);

// The frame of the program's windows: a caption with the window menu and a close box. Result
// windows carry it with no parent, so that each is a window of its own for the window manager.
inline constexpr Qt::WindowFlags kWindowFlags =
    Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

// Gives a result window of the program its object and window-manager role NAME, the caption
// "quokka quokka", the application icon and the dialog font.
void DressWindow(QWidget *window, const QString &name);

// The size of the primary screen's available area (what a maximised window's client gets).
QSize FullScreenSize();
// Moves TOPLEFT so that a window of SIZE lies inside the primary screen's available area; a
// window larger than the area goes to its top-left corner.
QPoint ClampToScreen(QPoint topLeft, QSize size);

// Where a window's frame goes: its top-left corner for a frame of FRAME size on a screen
// whose available area has SCREEN size.
// WINDOW's rectangle on the screen with the window manager's decorations: from the frame
// extents the window manager publishes where it does (X11), else from Qt's own view.
QRect FrameRect(const QWidget *window);

using PlacementRule = std::function<QPoint(QSize frame, QSize screen)>;
// Places the top-level WINDOW by RULE, from its frame (the window with the decorations the
// window manager adds), clamped into the screen. The frame is known only once the window
// manager has framed the window, so the first placement takes the decorations of another
// framed window of the program and the window is placed again when its own frame shows.
void PlaceByFrame(QWidget *window, PlacementRule rule);

// How a list kept to whole rows makes room for its horizontal scroll bar: below a fixed
// number of rows, growing by the bar while it shows; or within MAXHEIGHT, a row fewer while
// the bar shows.
enum class SidewaysBar { BelowRows, WithinHeight };
// Keeps LIST a whole number of rows of ROWHEIGHT high, as tall as fits in MAXHEIGHT with
// room for its horizontal scroll bar as BAR says.
void KeepWholeRows(QListView *list, int rowHeight, int maxHeight, SidewaysBar bar = SidewaysBar::BelowRows);

// Breaks a line of a tooltip into lines that each fit the width of SCREEN (the primary
// screen when null) in the tooltip font: at a blank where one leaves the line at least half
// full, else anywhere.
std::function<QStringList(const QString &line)> ToolTipLineBreaker(const QScreen *screen);

// Raises the top-level WINDOW above the others, where the platform stacks windows (the
// offscreen platform of headless runs has no stacking and would only complain).
void RaiseWindow(QWidget *window);

// The application icon, set on the main dialog and the result windows: the icon theme's, named
// after the program's desktop id, where the program is installed with it; else the one built in.
QIcon AppIcon();

// The keys every window of the program answers the same way, installed once on APP: Enter or
// Return on a focused push button presses it, and Shift+F10 opens the context menu of the
// focused widget, as the Menu key does.
void FollowKeyConventions(QApplication &app);

// Asks over PARENT, in Qt's own file dialog (object name "saveReport") captioned TITLE, where
// to save; FILTERS ("Kind (*.suffix)") are offered in that order, and a name typed without a
// suffix is checked against the existing files with the chosen filter's. SAVE gets the name
// and the chosen filter, and returns an empty string or what went wrong, which is then said in
// a warning box (object name "saveReportFailed") over PARENT.
void AskWhereToSave(QWidget *parent, const QString &title, const QStringList &filters,
                    std::function<QString(const QString &name, const QString &filter)> save);

// Puts LINES on the clipboard, one a line, with their control characters shown: what the
// result windows' copy commands give.
void CopyLines(const QStringList &lines);

// The copy commands of a result window's LIST (or table), whose row I shows LINES()[I] (read at each
// copy): Ctrl+C copies the current row's line, and the list's context menu offers "Copy
// &Line" (the row it opened on, disabled below the rows) and "Copy &All", followed by what
// MOREITEMS adds to the menu, when given. The menu pops up without a loop of its own, so a
// run goes on meanwhile.
void AddCopyCommands(QAbstractItemView *list, std::function<QStringList()> lines,
                     std::function<void(QMenu *menu)> moreItems = {});

} // namespace quokka
