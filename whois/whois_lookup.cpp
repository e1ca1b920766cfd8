#include "whois_lookup.h"

#include "debug_log.h"
#include "wait.h"
#include "whois_client.h"
#include "whois_line_delegate.h"
#include "whois_text.h"
#include "window_support.h"

#include <QListWidget>
#include <QPointer>
#include <QPushButton>

namespace {

constexpr int kListInset = 5;
constexpr int kButtonSpace = 30;
// What each list item holds itself; the row shows the window's line instead.
const QString kItemPlaceholder = QStringLiteral("Push Data");

} // namespace

CWhoisLookup::CWhoisLookup(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("whoisLookup"));
    setWindowRole(objectName());
    setWindowTitle(QStringLiteral("quokka quokka"));
    setWindowIcon(quokka::AppIcon());
    setFixedSize(quokka::DluX(287), quokka::DluY(336));

    m_pAllDone = new QPushButton(QStringLiteral("All Done"), this);
    m_pAllDone->setObjectName(QStringLiteral("allDone"));
    m_pAllDone->setGeometry(quokka::DluRect(230, 315, 50, 14));
    m_pAllDone->setDefault(true);
    connect(m_pAllDone, &QPushButton::clicked, this, &QDialog::accept);

    CreateList();
    PlaceOnScreen();
}

void CWhoisLookup::CreateList()
{
    m_pList = new QListWidget(this);
    m_pList->setObjectName(QStringLiteral("whoisList"));
    m_pList->setFont(quokka::PointFont(QStringLiteral("Segoe UI"), 75));
    m_pList->setGeometry(kListInset, kListInset, width() - 2 * kListInset, height() - kListInset - kButtonSpace);
    m_pList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pList->setUniformItemSizes(true);
    m_pList->setItemDelegate(new CWhoisLineDelegate(&m_lines, m_pList));
}

QPoint CWhoisLookup::PlannedPosition(QSize screen, QSize window)
{
    return {screen.width() / 2 - window.width() / 2 + 540, screen.height() / 2 - window.height() / 2 - 100};
}

void CWhoisLookup::PlaceOnScreen()
{
    const QSize size = frameGeometry().size();
    move(quokka::ClampToScreen(PlannedPosition(quokka::FullScreenSize(), size), size));
}

void CWhoisLookup::Lookup(const QString &query)
{
    qCDebug(lcQuokka) << "Whois";
    const QPointer<CWhoisLookup> self(this);
    // The worker owns copies only: it may outlive this window when the program closes.
    const std::optional<QString> answer = quokka::RunOffUiThread<QString>([query](std::stop_token stop) {
        CWhois whois(query, stop);
        return stop.stop_requested() ? QString() : whois.GetData();
    });
    if (answer && self) // the window may have been closed for good meanwhile
        ShowAnswer(*answer);
}

void CWhoisLookup::ShowAnswer(const QString &answer)
{
    m_pList->clear();
    m_lines.clear();
    const QStringList lines = whois::SplitLines(whois::CleanAnswer(answer));
    for (const QString &line : lines) {
        // The line is stored before its item exists, because the new item is drawn from it.
        m_lines.append(line);
        m_pList->addItem(kItemPlaceholder);
        emit lineAdded(line);
    }
    if (!m_lines.isEmpty()) {
        m_pList->setCurrentRow(int(m_lines.size() - 1));
        m_pList->doItemsLayout(); // lay the rows out now so the last one can be scrolled to
        m_pList->scrollToItem(m_pList->currentItem());
    }
    m_pList->viewport()->repaint();
}
