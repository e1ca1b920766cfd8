#include "whois/whois_lookup.h"

#include "base/visible_text.h"
#include "base/window_support.h"
#include "whois/whois_line_delegate.h"

#include <QListWidget>
#include <QMenu>
#include <QPushButton>

namespace quokka::whois {
namespace {

constexpr int kListInset = 5;
constexpr int kButtonSpace = 30;
// What each list item holds itself; the row shows the window's line instead.
const QString kItemPlaceholder = QStringLiteral("Push Data");

} // namespace

CWhoisLookup::CWhoisLookup(QWidget *parent) : QDialog(parent, kWindowFlags)
{
    DressWindow(this, QStringLiteral("whoisLookup"));
    setAccessibleName(QStringLiteral("WHOIS record"));
    setFixedSize(DluX(287), DluY(336));

    m_allDone = new QPushButton(QStringLiteral("All Done"), this);
    m_allDone->setObjectName(QStringLiteral("allDone"));
    m_allDone->setGeometry(DluRect(230, 315, 50, 14));
    m_allDone->setDefault(true);
    connect(m_allDone, &QPushButton::clicked, this, &QDialog::accept);

    CreateList();
    PlaceByFrame(this, [](QSize frame, QSize screen) { return PlannedPosition(screen, frame); });
}

void CWhoisLookup::CreateList()
{
    m_pList = new QListWidget(this);
    m_pList->setObjectName(QStringLiteral("whoisList"));
    m_pList->setAccessibleName(QStringLiteral("WHOIS record lines"));
    m_pList->setFont(PointFont(QStringLiteral("Segoe UI"), 75));
    m_pList->setGeometry(kListInset, kListInset, width() - 2 * kListInset, height() - kListInset - kButtonSpace);
    // Whole rows filling the list's rectangle, a row fewer while a line wider than the list
    // brings up the horizontal scroll bar.
    KeepWholeRows(m_pList, CWhoisLineDelegate::kRowHeight, m_pList->height(), SidewaysBar::WithinHeight);
    m_pList->setUniformItemSizes(true);
    m_delegate = new CWhoisLineDelegate(&m_lines, m_pList);
    m_pList->setItemDelegate(m_delegate);
    // The rows hold a placeholder: the copies take the lines the rows show.
    AddCopyCommands(m_pList, [this] { return m_lines; }, [this](QMenu *menu) {
        if (!m_saveReport)
            return;
        menu->addSeparator();
        menu->addAction(QStringLiteral("&Save Report..."), this, [this] { m_saveReport(this); });
    });
}

QPoint CWhoisLookup::PlannedPosition(QSize screen, QSize window)
{
    return {screen.width() / 2 - window.width() / 2 + 540, screen.height() / 2 - window.height() / 2 - 100};
}

void CWhoisLookup::ShowAnswer(const QStringList &lines)
{
    m_pList->clear();
    m_lines.clear();
    m_delegate->ForgetLines();
    for (const QString &line : lines)
        AppendLine(line);
    if (!m_lines.isEmpty()) {
        m_pList->setCurrentRow(int(m_lines.size() - 1));
        m_pList->doItemsLayout(); // lay the rows out now so the last one can be scrolled to
        m_pList->scrollToItem(m_pList->currentItem());
    }
    m_pList->viewport()->repaint();
}

void CWhoisLookup::AppendLine(const QString &line)
{
    // The line is stored before its item exists, because the new item is drawn from it.
    m_lines.append(line);
    auto *item = new QListWidgetItem(kItemPlaceholder);
    item->setData(Qt::AccessibleTextRole, VisibleText(line)); // what a screen reader says
    m_pList->addItem(item);
    emit LineAdded(line);
}

} // namespace quokka::whois
