#include "trace/trace_data.h"

#include "base/window_support.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <cmath>

using namespace quokka;

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
    setFixedSize(DluX(487), DluY(100));

    auto *allDone = new QPushButton(QStringLiteral("All Done"), this);
    allDone->setObjectName(QStringLiteral("allDoneButton"));
    allDone->setGeometry(DluRect(422, 79, 58, 14));
    allDone->setAutoDefault(false);
    connect(allDone, &QPushButton::clicked, this, &QDialog::reject);

    m_pList = new QListWidget(this);
    m_pList->setObjectName(QStringLiteral("traceList"));
    m_pList->setFrameShape(QFrame::NoFrame);
    m_pList->setFont(PointFont(QStringLiteral("Courier New"), 90));
    m_pList->setUniformItemSizes(true);
    const int rowHeight = LineHeight(m_pList->font());
    m_pList->setItemDelegate(new FixedRowDelegate(rowHeight, m_pList));
    // The list ends above the button, a whole number of rows high; a line wider than the
    // list can be scrolled to.
    m_pList->setGeometry(DluRect(7, 7, 473, 79));
    KeepWholeRows(m_pList, rowHeight, allDone->y() - DluY(2) - m_pList->y());
    setTabOrder(m_pList, allDone);

    // The window's centre sits 250 pixels left of and above the screen's centre.
    PlaceByFrame(this, [](QSize frame, QSize screen) {
        return QPoint(screen.width() / 2 - frame.width() / 2 - 250, screen.height() / 2 - frame.height() / 2 - 250);
    });
}

void CTraceData::AddLine(const QString &line)
{
    m_pList->insertItem(m_nLines, line);
    m_pList->setCurrentRow(m_nLines);
    m_pList->scrollToItem(m_pList->item(m_nLines));
    ++m_nLines;
    emit lineAdded(line);
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

void CTraceData::UpdateReport(const RunReport &report)
{
    m_report = report;
}
