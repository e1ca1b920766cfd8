#include "whois/whois_line_delegate.h"

#include "base/visible_text.h"
#include "base/window_support.h"
#include "whois/whois_text.h"

#include <QPainter>
#include <algorithm>

namespace quokka::whois {
namespace {

QFont LineFont()
{
    return PointFont(QStringLiteral("Segoe UI"), 80);
}

} // namespace

CWhoisLineDelegate::CWhoisLineDelegate(const QStringList *lines, QObject *parent)
    : QStyledItemDelegate(parent), m_lines(lines)
{
}

void CWhoisLineDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const int row = index.row();
    if (row < 0 || row >= m_lines->size())
        return;
    const QString &line = m_lines->at(row);
    painter->save();
    const QFont font = LineFont();
    painter->setFont(font);
    painter->setPen(IsContactLine(line) ? QColor(255, 0, 0) : QColor(0, 0, 0));
    // The text's top edge sits on the row's top edge, as a top-aligned text cell does. What
    // is drawn is what a copy gives and a screen reader says: a line cannot hide its text or
    // turn it round.
    const QFontMetrics metrics(font, painter->device());
    painter->drawText(QPoint(option.rect.left() + kTextIndent, option.rect.top() + metrics.ascent()),
                      VisibleText(line));
    if (option.state.testFlag(QStyle::State_HasFocus)) {
        painter->setPen(QPen(QColor(0, 0, 0), 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option.rect.adjusted(1, 1, -2, -2)); // inside the row, clear of the text
    }
    painter->restore();
}

QSize CWhoisLineDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    if (m_measured > m_lines->size()) { // fewer lines than were measured: others now
        m_measured = 0;
        m_widest = 0;
    }
    const QFontMetrics metrics(LineFont());
    for (; m_measured < m_lines->size(); ++m_measured)
        m_widest = std::max(m_widest, metrics.horizontalAdvance(VisibleText(m_lines->at(m_measured))));
    return {m_widest + 2 * kTextIndent, kRowHeight};
}

void CWhoisLineDelegate::ForgetLines()
{
    m_measured = 0;
    m_widest = 0;
}

} // namespace quokka::whois
