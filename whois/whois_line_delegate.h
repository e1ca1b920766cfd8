#pragma once
// Draws the rows of the WHOIS result list: each row's line in 8-point Segoe UI, red when it
// names a contact, black otherwise, its control and direction characters made visible. The
// selection is not drawn; while the list has the keyboard focus a dotted rectangle marks the
// current row, the one the copy keys act on.
#include <QStringList>
#include <QStyledItemDelegate>

namespace quokka::whois {

class CWhoisLineDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 14;
    static constexpr int kTextIndent = 5;

    // LINES belongs to the window and outlives the delegate; row i shows lines[i].
    explicit CWhoisLineDelegate(const QStringList *lines, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // Every row is as wide as the widest line drawn, so that the list scrolls to its end.
    // Each line is measured once, as it comes.
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // The window's lines were replaced: what was measured of them no longer holds.
    void ForgetLines();

private:
    const QStringList *m_lines;
    mutable qsizetype m_measured = 0; // lines[0, m_measured) are measured
    mutable int m_widest = 0;         // the widest of them drawn, in pixels
};

} // namespace quokka::whois
