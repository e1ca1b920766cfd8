#include "whois/whois_lookup.h"

#include "base/debug_log.h"
#include "base/visible_text.h"
#include "base/worker.h"
#include "whois/whois_client.h"
#include "whois/whois_line_delegate.h"
#include "whois/whois_text.h"
#include "base/window_support.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <algorithm>

namespace {

constexpr int kListInset = 5;
constexpr int kButtonSpace = 30;
// What each list item holds itself; the row shows the window's line instead.
const QString kItemPlaceholder = QStringLiteral("Push Data");

} // namespace

CWhoisLookup::CWhoisLookup(QWidget *parent) : QDialog(parent, quokka::kWindowFlags)
{
    quokka::DressWindow(this, QStringLiteral("whoisLookup"));
    setAccessibleName(QStringLiteral("WHOIS record"));
    setFixedSize(quokka::DluX(287), quokka::DluY(336));

    m_pAllDone = new QPushButton(QStringLiteral("All Done"), this);
    m_pAllDone->setObjectName(QStringLiteral("allDone"));
    m_pAllDone->setGeometry(quokka::DluRect(230, 315, 50, 14));
    m_pAllDone->setDefault(true);
    connect(m_pAllDone, &QPushButton::clicked, this, &QDialog::accept);

    CreateList();
    quokka::PlaceByFrame(this, [](QSize frame, QSize screen) { return PlannedPosition(screen, frame); });
}

CWhoisLookup::~CWhoisLookup() = default;

void CWhoisLookup::CreateList()
{
    m_pList = new QListWidget(this);
    m_pList->setObjectName(QStringLiteral("whoisList"));
    m_pList->setAccessibleName(QStringLiteral("WHOIS record lines"));
    m_pList->setFont(quokka::PointFont(QStringLiteral("Segoe UI"), 75));
    m_pList->setGeometry(kListInset, kListInset, width() - 2 * kListInset, height() - kListInset - kButtonSpace);
    // Whole rows filling the list's rectangle, a row fewer while a line wider than the list
    // brings up the horizontal scroll bar.
    quokka::KeepWholeRows(m_pList, CWhoisLineDelegate::kRowHeight, m_pList->height(), quokka::SidewaysBar::WithinHeight);
    m_pList->setUniformItemSizes(true);
    m_pDelegate = new CWhoisLineDelegate(&m_lines, m_pList);
    m_pList->setItemDelegate(m_pDelegate);
    m_pList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_pList, &QWidget::customContextMenuRequested, this, &CWhoisLookup::ShowContextMenu);
    m_pList->installEventFilter(this);
}

bool CWhoisLookup::eventFilter(QObject *watched, QEvent *event)
{
    // The list would copy what its items hold; Ctrl+C copies the line the row shows.
    if (watched == m_pList && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        if (const int row = m_pList->currentRow(); row >= 0 && row < m_lines.size())
            quokka::CopyLines({m_lines.at(row)});
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// Popped up rather than run in a loop of its own: the run goes on meanwhile.
void CWhoisLookup::ShowContextMenu(QPoint pos)
{
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QListWidgetItem *item = m_pList->itemAt(pos);
    const int row = item ? m_pList->row(item) : -1;
    // The line as the menu opened on it, should a new answer replace the list meanwhile.
    const QString line = row >= 0 && row < m_lines.size() ? m_lines.at(row) : QString();
    menu->addAction(QStringLiteral("Copy &Line"), this, [line] { quokka::CopyLines({line}); })->setEnabled(row >= 0);
    menu->addAction(QStringLiteral("Copy &All"), this, [this] { quokka::CopyLines(m_lines); });
    if (m_saveReport) {
        menu->addSeparator();
        menu->addAction(QStringLiteral("&Save Report..."), this, [this] { m_saveReport(this); });
    }
    menu->popup(m_pList->viewport()->mapToGlobal(pos));
}

QPoint CWhoisLookup::PlannedPosition(QSize screen, QSize window)
{
    return {screen.width() / 2 - window.width() / 2 + 540, screen.height() / 2 - window.height() / 2 - 100};
}

void CWhoisLookup::Lookup(const QString &query)
{
    qCDebug(quokka::lcQuokka) << "Whois";
    if (!m_worker)
        m_worker = std::make_unique<quokka::Worker>(this);
    using quokka::whois::WhoisAnswer;
    m_worker->Run<WhoisAnswer>([query](std::stop_token stop) { return quokka::whois::LookupWhois(query, stop); },
                               [this](WhoisAnswer answer) {
                                   ShowAnswer(answer.text, answer.cutShortNote);
                                   emit lookupFinished();
                               });
}

void CWhoisLookup::ShowAnswer(const QString &answer, const QString &note)
{
    m_pList->clear();
    m_lines.clear();
    m_pDelegate->ForgetLines();
    for (const QString &line : whois::SplitLines(whois::CleanAnswer(answer)))
        AppendLine(line);
    if (!note.isEmpty())
        AppendLine(note);
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
    item->setData(Qt::AccessibleTextRole, quokka::VisibleText(line)); // what a screen reader says
    m_pList->addItem(item);
    emit lineAdded(line);
}
