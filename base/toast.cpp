#include "base/toast.h"

#include "base/window_support.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

namespace quokka {

Toast::Toast(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("toast"));
    setWindowRole(objectName());
    setModal(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor::fromRgb(kBackground));
    setPalette(background);
    setAutoFillBackground(true);
    if (parent)
        parent->window()->installEventFilter(this);
}

QFont Toast::TextFont() const
{
    // One face for measuring and painting, so that the text always fits its window.
    return PointFont(QStringLiteral("Arial"), m_nPointSize);
}

QString Toast::OneLine() const
{
    QString line = m_strText;
    for (QChar &c : line)
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    return line;
}

QSize Toast::GetTextSize(const QString &text) const
{
    const QFontMetrics metrics(TextFont());
    return {metrics.horizontalAdvance(text), metrics.height()};
}

void Toast::PlaceOverOwner()
{
    QRect area;
    if (const QWidget *owner = parentWidget(); owner && owner->isVisible() && !owner->isMinimized()) {
        area = FrameRect(owner->window());
    } else if (const QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    const QPoint topLeft = area.center() - QPoint(width() / 2, height() / 2);
    move(ClampToScreen(topLeft, size()));
}

void Toast::open()
{
    const QSize text = GetTextSize(OneLine());
    setFixedSize(text.width() + 40, text.height() + 30);
    PlaceOverOwner();
    m_timeUp = false;
    if (m_timerId)
        killTimer(m_timerId);
    m_timerId = startTimer(std::max(m_nDuration, 0), Qt::PreciseTimer); // never early
    QDialog::open();
}

void Toast::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setFont(TextFont());
    painter.setPen(Qt::black);
    const QFontMetrics metrics(painter.font());
    painter.drawText(kTextLeft, kTextTop + metrics.ascent(), OneLine());
}

void Toast::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId)
        return QDialog::timerEvent(event);
    killTimer(m_timerId);
    m_timerId = 0;
    m_timeUp = true;
    done(0);
}

void Toast::closeEvent(QCloseEvent *event)
{
    // Only its own timer ends a toast (a window manager's close request included).
    if (!m_timeUp)
        event->ignore();
}

void Toast::keyPressEvent(QKeyEvent *event)
{
    event->accept(); // Enter, Esc and every other key do nothing
}

bool Toast::eventFilter(QObject *watched, QEvent *event)
{
    if (const QWidget *owner = parentWidget(); isVisible() && owner && watched == owner->window()
        && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        PlaceOverOwner();
    return QDialog::eventFilter(watched, event);
}

void Toast::reject() {}

void Toast::accept() {}

} // namespace quokka
