#include "base/window_support.h"

#include "base/visible_text.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <QContextMenuEvent>
#include <QCursor>
#include <QEvent>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <QWidget>
#include <QWindow>
#include <cmath>
#include <optional>
#include <xcb/xcb.h>

namespace quokka {
namespace {

// The gaps between a window and its frame; none before the window manager has framed it.
QMargins FrameMargins(const QWidget *window)
{
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
            frame.bottom() - client.bottom()};
}

bool IsFixedSize(const QWidget *window)
{
    return window->minimumSize() == window->maximumSize();
}

// The decorations another visible framed window of the program has, preferably one that can
// be resized exactly when WINDOW can (window managers often give those a grip as well).
QMargins BorrowedFrameMargins(const QWidget *window)
{
    std::optional<QMargins> any;
    for (const QWidget *other : QApplication::topLevelWidgets()) {
        if (other == window || !other->isVisible() || other->windowFlags().testFlag(Qt::FramelessWindowHint))
            continue;
        const QMargins margins = FrameMargins(other);
        if (margins.isNull())
            continue;
        if (IsFixedSize(other) == IsFixedSize(window))
            return margins;
        any = any.value_or(margins);
    }
    return any.value_or(QMargins());
}

void Place(QWidget *window, const PlacementRule &rule, QMargins margins)
{
    const QSize frame = window->size().grownBy(margins);
    const QPoint topLeft = ClampToScreen(rule(frame, FullScreenSize()), frame);
    if (window->frameGeometry().topLeft() != topLeft)
        window->move(topLeft); // a top-level window's position is its frame's
}

// Places its window once more when the window manager has framed it, then goes.
class FramePlacer : public QObject {
public:
    FramePlacer(QWidget *window, PlacementRule rule) : QObject(window), m_window(window), m_rule(std::move(rule))
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Show) {
            const QMargins margins = FrameMargins(m_window);
            if (!margins.isNull()) {
                Place(m_window, m_rule, margins);
                deleteLater();
                m_window->removeEventFilter(this);
            }
        }
        return false;
    }

private:
    QWidget *m_window;
    PlacementRule m_rule;
};

// The frame extents an X11 window manager publishes on WINDOW (_NET_FRAME_EXTENTS), if any.
std::optional<QMargins> PublishedFrameExtents(const QWidget *window)
{
    const auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection() || !window->internalWinId())
        return std::nullopt;
    xcb_connection_t *connection = x11->connection();
    static const xcb_atom_t atom = [connection] {
        const char name[] = "_NET_FRAME_EXTENTS";
        xcb_intern_atom_reply_t *reply =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return found;
    }();
    if (atom == XCB_ATOM_NONE)
        return std::nullopt;
    const auto cookie = xcb_get_property(connection, 0, xcb_window_t(window->internalWinId()), atom,
                                         XCB_ATOM_CARDINAL, 0, 4);
    xcb_get_property_reply_t *reply = xcb_get_property_reply(connection, cookie, nullptr);
    std::optional<QMargins> extents;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) == 16) {
        // Left, right, top, bottom in the screen's pixels; the window's geometry is in Qt's
        // device-independent ones.
        const auto *v = static_cast<const std::uint32_t *>(xcb_get_property_value(reply));
        const qreal ratio = window->devicePixelRatioF();
        const auto logical = [ratio](std::uint32_t pixels) { return int(std::lround(pixels / ratio)); };
        extents = QMargins(logical(v[0]), logical(v[2]), logical(v[1]), logical(v[3]));
    }
    std::free(reply);
    return extents;
}

// The application's key conventions (FollowKeyConventions).
class KeyConventions : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        const auto *key = static_cast<const QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        auto *widget = static_cast<QWidget *>(watched);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
            auto *button = qobject_cast<QPushButton *>(widget);
            if (!button || !button->isEnabled() || !button->hasFocus())
                return false;
            button->click();
            return true;
        }
        if (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier) {
            // The Menu key's own way: a keyboard context menu event for the window, which
            // hands it to the focused widget at its cursor or current item.
            QWindow *window = widget->window()->windowHandle();
            if (!window)
                return false;
            const QPoint global = QCursor::pos();
            QContextMenuEvent menu(QContextMenuEvent::Keyboard, window->mapFromGlobal(global), global, modifiers);
            QCoreApplication::sendEvent(window, &menu);
            return true;
        }
        return false;
    }
};

} // namespace

QRect FrameRect(const QWidget *window)
{
    const QRect client = window->geometry();
    if (const auto extents = PublishedFrameExtents(window))
        return client.marginsAdded(*extents);
    // While the window manager reframes a window Qt's idea of its frame can read short for a
    // moment; the client area is then the better guide.
    const QRect frame = window->frameGeometry();
    return frame.contains(client) ? frame : client;
}

QString InstalledFace(const QString &face)
{
    if (face.compare(QLatin1String("Courier New"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Liberation Mono");
    return QStringLiteral("Liberation Sans");
}

QFont PointFont(const QString &face, int tenths)
{
    QFont font(InstalledFace(face));
    const bool fixedPitch = font.family() == QLatin1String("Liberation Mono");
    font.setStyleHint(fixedPitch ? QFont::Monospace : QFont::SansSerif); // should the face be missing
    font.setFixedPitch(fixedPitch);
    font.setPointSizeF(tenths / 10.0);
    font.setWeight(QFont::Normal);
    return font;
}

QFont DialogFont()
{
    return PointFont(QStringLiteral("MS Shell Dlg"), 80);
}

QSize DialogBaseUnits()
{
    static const QSize units = [] {
        const QFontMetricsF metrics(DialogFont());
        const int letters = int(std::lround(metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"))));
        const int height = int(std::ceil(metrics.ascent()) + std::ceil(metrics.descent()));
        return QSize((letters / 26 + 1) / 2, height);
    }();
    return units;
}

int DluX(int units)
{
    return int(std::lround(units * DialogBaseUnits().width() / 4.0));
}

int DluY(int units)
{
    return int(std::lround(units * DialogBaseUnits().height() / 8.0));
}

QRect DluRect(int x, int y, int width, int height)
{
    return QRect(DluX(x), DluY(y), DluX(width), DluY(height));
}

void DressWindow(QWidget *window, const QString &name)
{
    window->setObjectName(name);
    window->setWindowRole(name);
    window->setWindowTitle(QStringLiteral("quokka quokka"));
    window->setWindowIcon(AppIcon());
    window->setFont(DialogFont());
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

void PlaceByFrame(QWidget *window, PlacementRule rule)
{
    Place(window, rule, BorrowedFrameMargins(window));
    new FramePlacer(window, std::move(rule));
}

void KeepWholeRows(QListView *list, int rowHeight, int maxHeight, SidewaysBar room)
{
    const int frame = 2 * list->frameWidth();
    const int bar = list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    const bool mayScrollSideways = list->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
    const auto rowsFor = [=](int barHeight) { return std::max(1, (maxHeight - frame - barHeight) / rowHeight); };
    const int fixedRows = rowsFor(mayScrollSideways ? bar : 0);
    const auto fit = [=] {
        const QScrollBar *sideways = list->horizontalScrollBar();
        const bool barShows = list->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn
            || (list->horizontalScrollBarPolicy() == Qt::ScrollBarAsNeeded && sideways->maximum() > sideways->minimum());
        const int barHeight = barShows ? bar : 0;
        const int rows = room == SidewaysBar::WithinHeight ? rowsFor(barHeight) : fixedRows;
        list->resize(list->width(), rows * rowHeight + frame + barHeight);
    };
    fit();
    if (mayScrollSideways)
        QObject::connect(list->horizontalScrollBar(), &QScrollBar::rangeChanged, list, fit);
}

std::function<QStringList(const QString &line)> ToolTipLineBreaker(const QScreen *screen)
{
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    // Room for the tooltip's frame and margins on either side.
    const int width = (screen ? screen->availableGeometry().width() : 1024) - 24;
    const QFontMetrics metrics(QToolTip::font());
    return [metrics, width](const QString &line) {
        QStringList parts;
        QString rest = line;
        while (metrics.horizontalAdvance(rest) > width) {
            // The longest start of REST that fits, whole characters, at least one of them.
            int fits = 0;
            for (int end = 1; end <= rest.size(); ++end) {
                if (end < rest.size() && rest.at(end).isLowSurrogate())
                    continue;
                if (metrics.horizontalAdvance(rest.left(end)) > width)
                    break;
                fits = end;
            }
            if (fits == 0)
                fits = rest.size() > 1 && rest.at(1).isLowSurrogate() ? 2 : 1;
            // At the last blank that fits, unless that leaves the line less than half full.
            const int blank = int(rest.lastIndexOf(QLatin1Char(' '), fits - 1));
            const int cut = blank >= fits / 2 ? blank + 1 : fits;
            parts << rest.left(cut);
            rest = rest.mid(cut);
        }
        parts << rest;
        return parts;
    };
}

void RaiseWindow(QWidget *window)
{
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        window->raise();
}

QIcon AppIcon()
{
    static const QIcon icon = QIcon::fromTheme(QStringLiteral(QUOKKA_APP_ID), QIcon(QStringLiteral(":/res/icon.png")));
    return icon;
}

void FollowKeyConventions(QApplication &app)
{
    app.installEventFilter(new KeyConventions(&app));
}

// Qt's own dialog rather than the desktop's: it looks and answers to keys the same everywhere.
void AskWhereToSave(QWidget *parent, const QString &title, const QStringList &filters,
                    std::function<QString(const QString &name, const QString &filter)> save)
{
    auto *dialog = new QFileDialog(parent, title);
    dialog->setObjectName(QStringLiteral("saveReport"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilters(filters);
    // The dialog's own check for a file it would replace sees the suffix a bare name gets.
    const auto suffixOf = [](const QString &filter) {
        static const QRegularExpression pattern(QStringLiteral("\\(\\*\\.([^ )]+)"));
        return pattern.match(filter).captured(1);
    };
    if (!filters.isEmpty())
        dialog->setDefaultSuffix(suffixOf(filters.first()));
    QObject::connect(dialog, &QFileDialog::filterSelected, dialog,
                     [dialog, suffixOf](const QString &filter) { dialog->setDefaultSuffix(suffixOf(filter)); });
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                     [parent = QPointer<QWidget>(parent), dialog, title, save = std::move(save)](const QString &name) {
                         const QString error = save(name, dialog->selectedNameFilter());
                         if (error.isEmpty() || !parent)
                             return;
                         auto *box = new QMessageBox(QMessageBox::Warning, title, error, QMessageBox::Ok, parent);
                         box->setObjectName(QStringLiteral("saveReportFailed"));
                         box->setAttribute(Qt::WA_DeleteOnClose);
                         box->open();
                     });
    dialog->open();
}

void CopyLines(const QStringList &lines)
{
    QStringList visible;
    for (const QString &line : lines)
        visible << VisibleText(line);
    QGuiApplication::clipboard()->setText(visible.join(QLatin1Char('\n')));
}

namespace {

// The copy commands of one list or table, living as long as it.
class ListCopyCommands : public QObject {
public:
    ListCopyCommands(QAbstractItemView *list, std::function<QStringList()> lines, std::function<void(QMenu *)> moreItems)
        : QObject(list), m_list(list), m_lines(std::move(lines)), m_moreItems(std::move(moreItems))
    {
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list, &QWidget::customContextMenuRequested, this, &ListCopyCommands::ShowMenu);
        list->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // The list would copy what its items hold; Ctrl+C copies the line the row shows.
        if (watched != m_list || event->type() != QEvent::KeyPress
            || !static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy))
            return false;
        const QStringList lines = m_lines();
        if (const int row = m_list->currentIndex().row(); row >= 0 && row < lines.size())
            CopyLines({lines.at(row)});
        return true;
    }

private:
    void ShowMenu(QPoint pos)
    {
        auto *menu = new QMenu(m_list->window());
        menu->setAttribute(Qt::WA_DeleteOnClose);
        const int row = m_list->indexAt(pos).row();
        // The line as the menu opened on it, should the list be replaced meanwhile.
        const QStringList lines = m_lines();
        const QString line = row >= 0 && row < lines.size() ? lines.at(row) : QString();
        menu->addAction(QStringLiteral("Copy &Line"), this, [line] { CopyLines({line}); })->setEnabled(row >= 0);
        menu->addAction(QStringLiteral("Copy &All"), this, [this] { CopyLines(m_lines()); });
        if (m_moreItems)
            m_moreItems(menu);
        menu->popup(m_list->viewport()->mapToGlobal(pos));
    }

    QAbstractItemView *m_list;
    std::function<QStringList()> m_lines;
    std::function<void(QMenu *)> m_moreItems;
};

} // namespace

void AddCopyCommands(QAbstractItemView *list, std::function<QStringList()> lines, std::function<void(QMenu *menu)> moreItems)
{
    new ListCopyCommands(list, std::move(lines), std::move(moreItems)); // owned by the list
}

} // namespace quokka
