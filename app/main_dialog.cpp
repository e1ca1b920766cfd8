#include "main_dialog.h"

#include "about_dialog.h"
#include "trace_data.h"
#include "whois_lookup.h"
#include "world_map.h"
#include "wait.h"
#include "window_support.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>

using namespace quokka;

CQuokkaQuokkaDlg::CQuokkaQuokkaDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("mainDialog"));
    setWindowRole(objectName());
    setWindowTitle(QStringLiteral("quokka quokka"));
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    resize(DluX(261), DluY(68));
    m_bitmap = QImage(QStringLiteral(":/res/emblem.png"));

    auto *label = new QLabel(QStringLiteral("Domain to Explore (example.com, .net, .org, etc)"), this);
    label->setGeometry(DluRect(60, 12, 161, 8));

    m_pDomainEdit = new QLineEdit(this);
    m_pDomainEdit->setObjectName(QStringLiteral("domainEdit"));
    m_pDomainEdit->setGeometry(DluRect(60, 24, 186, 12));

    m_pExploreButton = new QPushButton(QStringLiteral("Explore"), this);
    m_pExploreButton->setObjectName(QStringLiteral("exploreButton"));
    m_pExploreButton->setGeometry(DluRect(144, 42, 50, 14));

    auto *allDone = new QPushButton(QStringLiteral("All Done"), this);
    allDone->setObjectName(QStringLiteral("allDoneButton"));
    allDone->setGeometry(DluRect(198, 42, 50, 14));

    // Neither button is the default: Enter in the field explores, it does not end the program.
    for (QPushButton *button : {m_pExploreButton, allDone}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(m_pExploreButton, &QPushButton::clicked, this, &CQuokkaQuokkaDlg::OnExplore);
    connect(m_pDomainEdit, &QLineEdit::returnPressed, this, &CQuokkaQuokkaDlg::OnExplore);
    connect(allDone, &QPushButton::clicked, this, &CQuokkaQuokkaDlg::reject);

    // The window menu belongs to the window manager, so About lives in the context menu and on F1.
    auto *about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(about, &QShortcut::activated, this, &CQuokkaQuokkaDlg::ShowAbout);

    m_pDomainEdit->setFocus();
}

void CQuokkaQuokkaDlg::StartExploration(const QString &domain)
{
    m_pDomainEdit->setText(domain);
    m_pExploreButton->click();
}

CTraceData *CQuokkaQuokkaDlg::TraceData() const
{
    return m_pTraceData;
}

CWorldMap *CQuokkaQuokkaDlg::WorldMap() const
{
    return m_pWorldMap;
}

CWhoisLookup *CQuokkaQuokkaDlg::WhoisLookup() const
{
    return m_pWhoisLookup;
}

void CQuokkaQuokkaDlg::ShowAbout()
{
    CAboutDlg about(this);
    about.exec();
}

void CQuokkaQuokkaDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_bitmap, QRect(0, 0, 71, 92));
}

void CQuokkaQuokkaDlg::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("&About Quokka Quokka..."), this, &CQuokkaQuokkaDlg::ShowAbout);
    menu.exec(event->globalPos());
}

void CQuokkaQuokkaDlg::closeEvent(QCloseEvent *event)
{
    Shutdown();
    event->accept();
}

void CQuokkaQuokkaDlg::reject()
{
    Shutdown();
    QDialog::reject();
}

void CQuokkaQuokkaDlg::accept()
{
    // Enter no longer ends the program; only "All Done", Esc and the close box do.
}

// Ends a run in progress at its next step and leaves the program.
void CQuokkaQuokkaDlg::Shutdown()
{
    BeginShutdown();
    QCoreApplication::quit();
}
