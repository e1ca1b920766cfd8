#include "trace_data.h"

#include "window_support.h"

#include <QListWidget>
#include <QPushButton>

using namespace quokka;

CTraceData::CTraceData(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("traceData"));
    setWindowRole(objectName());
    setWindowTitle(QStringLiteral("quokka quokka"));
    setWindowIcon(AppIcon());
    setFixedSize(DluX(487), DluY(100));

    m_pList = new QListWidget(this);
    m_pList->setObjectName(QStringLiteral("traceList"));
    m_pList->setGeometry(DluRect(7, 7, 473, 79));
    m_pList->setFrameShape(QFrame::NoFrame);
    m_pList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font = PointFont(QStringLiteral("Courier New"), 90);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    m_pList->setFont(font);

    auto *allDone = new QPushButton(QStringLiteral("All Done"), this);
    allDone->setObjectName(QStringLiteral("allDoneButton"));
    allDone->setGeometry(DluRect(422, 79, 58, 14));
    allDone->setAutoDefault(false);
    connect(allDone, &QPushButton::clicked, this, &QDialog::reject);

    // The window's centre sits 250 pixels left of and above the screen's centre.
    const QSize screen = FullScreenSize();
    move(ClampToScreen({screen.width() / 2 - width() / 2 - 250, screen.height() / 2 - height() / 2 - 250}, size()));
}

void CTraceData::AddLine(const QString &line)
{
    m_pList->insertItem(m_nLines, line);
    m_pList->setCurrentRow(m_nLines);
    m_pList->scrollToItem(m_pList->item(m_nLines));
    ++m_nLines;
    emit lineAdded(line);
}
