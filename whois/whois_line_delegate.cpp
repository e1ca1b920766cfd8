#include "whois/whois_line_delegate.h"

#include "whois/whois_text.h"
#include "base/window_support.h"

#include <QPainter>

CWhoisLineDelegate::CWhoisLineDelegate(const QStringList *lines, QObject *parent)
    : QStyledItemDelegate(parent), m_pLines(lines)
{
}

void CWhoisLineDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const int row = index.row();
    if (row < 0 || row >= m_pLines->size())
        return;
    const QString &line = m_pLines->at(row);
    painter->save();
    const QFont font = quokka::PointFont(QStringLiteral("Segoe UI"), 80);
    painter->setFont(font);
    painter->setPen(whois::IsContactLine(line) ? QColor(255, 0, 0) : QColor(0, 0, 0));
    // The text's top edge sits on the row's top edge, as a top-aligned text cell does.
    const QFontMetrics metrics(font, painter->device());
    painter->drawText(QPoint(option.rect.left() + kTextIndent, option.rect.top() + metrics.ascent()), line);
    painter->restore();
}

QSize CWhoisLineDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return {option.rect.width(), kRowHeight};
}
