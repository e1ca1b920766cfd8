#include "trace/trace_data.h"

#include "base/visible_text.h"
#include "base/window_support.h"

#include <QCursor>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <cmath>

namespace quokka::trace {
namespace {

// Rows as high as the list font, as a list box makes them.
class FixedRowDelegate : public QStyledItemDelegate {
public:
    FixedRowDelegate(int rowHeight, QObject *parent) : QStyledItemDelegate(parent), m_rowHeight(rowHeight) {}

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), m_rowHeight};
    }

private:
    int m_rowHeight;
};

int LineHeight(const QFont &font)
{
    const QFontMetricsF metrics(font);
    return int(std::ceil(metrics.ascent()) + std::ceil(metrics.descent()));
}

} // namespace

CTraceData::CTraceData(QWidget *parent) : QDialog(parent, kWindowFlags)
{
    DressWindow(this, QStringLiteral("traceData"));
    setAccessibleName(QStringLiteral("Trace route"));
    setFixedSize(DluX(487), DluY(100));

    auto *allDone = new QPushButton(QStringLiteral("All Done"), this);
    allDone->setObjectName(QStringLiteral("allDoneButton"));
    allDone->setGeometry(DluRect(422, 79, 58, 14));
    allDone->setAutoDefault(false);
    connect(allDone, &QPushButton::clicked, this, &QDialog::reject);

    m_pList = new QListWidget(this);
    m_pList->setObjectName(QStringLiteral("traceList"));
    m_pList->setAccessibleName(QStringLiteral("Route hops"));
    m_pList->setFrameShape(QFrame::NoFrame);
    m_pList->setFont(PointFont(QStringLiteral("Courier New"), 90));
    // Each row is as wide as its own line (rows of uniform size would all take the size of
    // one of them), so the list scrolls as far as its widest line.
    const int rowHeight = LineHeight(m_pList->font());
    m_pList->setItemDelegate(new FixedRowDelegate(rowHeight, m_pList));
    // The list ends above the button, a whole number of rows high; a line wider than the
    // list can be scrolled to.
    m_pList->setGeometry(DluRect(7, 7, 473, 79));
    KeepWholeRows(m_pList, rowHeight, allDone->y() - DluY(2) - m_pList->y());
    setTabOrder(m_pList, allDone);

    // Right-click offers copies and the report; Ctrl+C copies the selected line. The list
    // shows control characters as they read, and so do the copies. Hops tell their details
    // on hover, also while another window of the run is the active one.
    AddCopyCommands(m_pList, [this] { return Lines(); }, [this](QMenu *menu) {
        menu->addSeparator();
        menu->addAction(QStringLiteral("&Save Report..."), this, [this] {
            if (m_saveReport)
                m_saveReport(this);
        });
        menu->addAction(QStringLiteral("&Monitor Route"), this, [this] {
                if (m_monitorRoute)
                    m_monitorRoute();
            })->setEnabled(bool(m_monitorRoute));
    });
    setAttribute(Qt::WA_AlwaysShowToolTips);

    // The window's centre sits 250 pixels left of and above the screen's centre.
    PlaceByFrame(this, [](QSize frame, QSize screen) {
        return QPoint(screen.width() / 2 - frame.width() / 2 - 250, screen.height() / 2 - frame.height() / 2 - 250);
    });
}

void CTraceData::AddLine(const QString &line)
{
    // A place from a table file may hold control characters: shown as they read.
    m_pList->insertItem(m_nLines, VisibleText(line));
    DescribeRow(m_nLines);
    m_pList->setCurrentRow(m_nLines);
    m_pList->scrollToItem(m_pList->item(m_nLines));
    ++m_nLines;
    emit LineAdded(line);
}

void CTraceData::keyPressEvent(QKeyEvent *event)
{
    // Enter ends this window as Escape does: there is no default button to press.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    if (enter && plain)
        return accept();
    QDialog::keyPressEvent(event);
}

void CTraceData::SetRowDetails(int row, const QStringList &details)
{
    if (row < 0)
        return;
    if (m_rowDetails.size() <= row)
        m_rowDetails.resize(row + 1);
    m_rowDetails[row] = details;
    DescribeRow(row);
    // A tooltip already up shows what the run has learnt since, such as a host name.
    QWidget *rows = m_pList->viewport();
    if (!QToolTip::isVisible() || !rows->underMouse())
        return;
    const QPoint pos = rows->mapFromGlobal(QCursor::pos());
    if (const QListWidgetItem *item = m_pList->itemAt(pos); item && !item->toolTip().isEmpty())
        QToolTip::showText(QCursor::pos(), item->toolTip(), rows, m_pList->visualItemRect(item));
}

void CTraceData::DescribeRow(int row)
{
    QListWidgetItem *item = m_pList->item(row);
    if (!item)
        return;
    // A hop's details: in its tooltip, broken to fit the screen, and told to a screen reader
    // as the row's description, so that they are not to be had by hovering only.
    QString tip, details;
    if (row < m_rowDetails.size() && !m_rowDetails[row].isEmpty()) {
        tip = PlainToolTipHtml(m_rowDetails[row], ToolTipLineBreaker(screen()));
        details = m_rowDetails[row].join(QStringLiteral("; "));
    }
    if (item->toolTip() != tip)
        item->setToolTip(tip);
    item->setData(Qt::AccessibleTextRole, VisibleText(item->text()));
    item->setData(Qt::AccessibleDescriptionRole, details);
}

QStringList CTraceData::Lines() const
{
    QStringList lines;
    for (int row = 0; row < m_nLines; ++row)
        lines << m_pList->item(row)->text();
    return lines;
}

} // namespace quokka::trace
